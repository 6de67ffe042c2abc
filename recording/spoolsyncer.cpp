#include "spoolsyncer.h"

#include "spoolio.h"

#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int duplicate(int descriptor) {
#ifdef Q_OS_WIN
    return _dup(descriptor);
#else
    return ::dup(descriptor);
#endif
}

void closeDescriptor(int descriptor) {
#ifdef Q_OS_WIN
    _close(descriptor);
#else
    ::close(descriptor);
#endif
}

} // namespace

/// Shared by the owner and the thread, so that either may go first.
struct SpoolSyncer::State {
    std::mutex mutex;
    mutable std::condition_variable changed;
    quint64 asked = 0;     ///< requests so far
    quint64 completed = 0; ///< requests covered by a finished sync
    bool running = false;  ///< the thread exists
    bool ending = false;   ///< the owner has gone
    bool newFile = false;
    QString error;
    /// A duplicate for the next sync; the thread closes it once synced, so that an idle
    /// syncer holds the file open nowhere (Windows removes no file held open).
    int next = -1;
    QString path;
    SpoolIo *io = nullptr;

    void work() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return ending || asked > completed; });
            if (ending)
                break;
            const quint64 covering = asked;
            const bool folderToo = newFile;
            const int descriptor = std::exchange(next, -1);
            newFile = false;
            lock.unlock();
            QString why;
            const bool done = io->sync(descriptor, path, &why);
            if (done && folderToo)
                io->syncFolder(QFileInfo(path).absolutePath());
            closeDescriptor(descriptor);
            lock.lock();
            if (!done)
                error = why.isEmpty() ? QStringLiteral("the disk did not take it") : why;
            completed = covering;
            changed.notify_all();
        }
        if (next >= 0)
            closeDescriptor(std::exchange(next, -1));
        running = false;
    }
};

SpoolSyncer::SpoolSyncer(int descriptor, const QString &path, bool newFile, SpoolIo &io)
    : m_descriptor(descriptor), m_state(std::make_shared<State>()) {
    m_state->path = path;
    m_state->newFile = newFile;
    m_state->io = &io;
}

SpoolSyncer::~SpoolSyncer() {
    std::lock_guard lock(m_state->mutex);
    m_state->ending = true;
    m_state->changed.notify_all();
    if (!m_state->running && m_state->next >= 0)
        closeDescriptor(std::exchange(m_state->next, -1));
}

quint64 SpoolSyncer::request() {
    std::lock_guard lock(m_state->mutex);
    if (m_state->next < 0) {
        m_state->next = duplicate(m_descriptor);
        if (m_state->next < 0) {
            m_state->error = QStringLiteral("the file's descriptor could not be duplicated");
            return 0;
        }
    }
    ++m_state->asked;
    if (!m_state->running) {
        m_state->running = true;
        // Detached: its state is shared, and it ends by itself after its owner, once the
        // sync under way is done, which the owner never waits for.
        std::thread([state = m_state] { state->work(); }).detach();
    }
    m_state->changed.notify_all();
    return m_state->asked;
}

quint64 SpoolSyncer::completed() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->completed;
}

bool SpoolSyncer::waitUntilDone(int timeoutMs) const {
    std::unique_lock lock(m_state->mutex);
    const quint64 target = m_state->asked;
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_state->completed >= target; });
}

QString SpoolSyncer::takeError() {
    std::lock_guard lock(m_state->mutex);
    return std::exchange(m_state->error, QString());
}
