#include "testspoolio.h"

#include <QFile>
#include <QThread>

void TestSpoolIo::holdSyncs(bool hold) {
    std::lock_guard lock(m_mutex);
    m_hold = hold;
    m_released.notify_all();
}

int TestSpoolIo::syncsDone(const QString &path) {
    std::lock_guard lock(m_mutex);
    return m_done.value(path);
}

void TestSpoolIo::keepSyncedImages() {
    std::lock_guard lock(m_mutex);
    m_keeping = true;
    m_cut = false;
    m_images.clear();
}

void TestSpoolIo::cutPower() {
    std::lock_guard lock(m_mutex);
    m_cut = true;
}

void TestSpoolIo::restoreSyncedImages(const Lasting &lasting) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_images.cbegin(); it != m_images.cend(); ++it) {
        const Image &image = it.value();
        if (!image.synced) {
            QFile::remove(it.key());
            continue;
        }
        QByteArray content = image.content;
        for (int i = 0; i < image.after.size(); ++i) {
            const Write &w = image.after[i];
            const qint64 kept = lasting ? lasting(i, w.bytes.size()) : 0;
            if (kept <= 0)
                continue;
            if (content.size() < w.offset + kept)
                content.resize(w.offset + kept, '\0');
            content.replace(w.offset, kept, w.bytes.constData(), kept);
        }
        QFile file(it.key());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }
    m_keeping = false;
    m_cut = false;
    m_images.clear();
}

const char *TestSpoolIo::callName(Call kind) {
    static const char *const kNames[] = {"create", "open",        "write",  "read",  "reserve",
                                         "sync",   "folder sync", "remove", "rename"};
    return kind < Call::Count ? kNames[int(kind)] : "none";
}

void TestSpoolIo::failCall(Call kind, int k, bool full, bool lasting) {
    m_full = full;
    faults.arm(kind == Call::Count ? -1 : int(kind), k, lasting);
}

bool TestSpoolIo::faulted(Call kind, QString *error) {
    if (!faults.fails(int(kind)))
        return false;
    if (error)
        *error = m_full ? QStringLiteral("No space left on device")
                        : QStringLiteral("Input/output error");
    return true;
}

bool TestSpoolIo::create(QFile &file) {
    // A spool made anew: nothing of it lasts until it is synced.
    if (faulted(Call::Create) || !SpoolIo::create(file))
        return false;
    std::lock_guard lock(m_mutex);
    m_names.insert(&file, file.fileName());
    if (m_keeping && !m_cut)
        m_images.insert(file.fileName(), Image{});
    return true;
}

SafeFile::Opened TestSpoolIo::openExisting(const QString &path, QFile &file, QString *error) {
    if (faulted(Call::Open, error))
        return SafeFile::Opened::Failed;
    const SafeFile::Opened opened = SpoolIo::openExisting(path, file, error);
    if (opened == SafeFile::Opened::Open) {
        std::lock_guard lock(m_mutex);
        m_names.insert(&file, path);
        // A spool found on the disk lasts as it was found.
        if (m_keeping && !m_cut) {
            QFile found(path);
            if (found.open(QIODevice::ReadOnly))
                m_images.insert(path, Image{true, found.readAll(), {}});
        }
    }
    return opened;
}

bool TestSpoolIo::write(QFile &file, qint64 offset, const char *data, qint64 size, QString *error) {
    if (faulted(Call::Write, error))
        return false;
    std::lock_guard lock(m_mutex);
    const QString name = m_names.value(&file);
    if (m_keeping && !m_cut && m_images.contains(name))
        m_images[name].after.append({offset, QByteArray(data, size)});
    return SpoolIo::write(file, offset, data, size, error);
}

qint64 TestSpoolIo::read(QFile &file, qint64 offset, char *data, qint64 size) {
    return faulted(Call::Read) ? -1 : SpoolIo::read(file, offset, data, size);
}

bool TestSpoolIo::reserve(QFile &file, qint64 from, qint64 to, QString *error) {
    return !faulted(Call::Reserve, error) && SpoolIo::reserve(file, from, to, error);
}

bool TestSpoolIo::syncFolder(const QString &folder) {
    return !faulted(Call::SyncFolder) && (skipRealSyncs || SpoolIo::syncFolder(folder));
}

bool TestSpoolIo::sync(int descriptor, const QString &path, QString *error) {
    if (faulted(Call::Sync, error)) {
        std::lock_guard lock(m_mutex);
        ++m_done[path];
        return false;
    }
    ++m_underWay;
    {
        std::unique_lock lock(m_mutex);
        m_released.wait(lock, [this] { return !m_hold; });
    }
    if (const int delay = syncDelayMs.load(); delay > 0)
        QThread::msleep(delay);
    bool done = false;
    std::lock_guard lock(m_mutex);
    if (failSyncs.load()) {
        *error = QStringLiteral("Input/output error (a test's failing disk)");
    } else {
        done = skipRealSyncs || SpoolIo::sync(descriptor, path, error);
        if (done && m_keeping && !m_cut && m_images.contains(path)) {
            // Taken under the lock that writes take: exactly what was written so far.
            QFile file(path);
            Image &image = m_images[path];
            if (file.open(QIODevice::ReadOnly)) {
                image.content = file.readAll();
                image.synced = true;
                image.after.clear();
            }
        }
    }
    --m_underWay;
    ++m_done[path];
    return done;
}

bool TestSpoolIo::remove(const QString &path) {
    if (faulted(Call::Remove))
        return false;
    std::lock_guard lock(m_mutex);
    if (m_keeping && !m_cut)
        m_images.remove(path);
    return SpoolIo::remove(path);
}

bool TestSpoolIo::rename(const QString &from, const QString &to) {
    if (faulted(Call::Rename))
        return false;
    std::lock_guard lock(m_mutex);
    if (m_keeping && !m_cut && m_images.contains(from))
        m_images.insert(to, m_images.take(from));
    return SpoolIo::rename(from, to);
}
