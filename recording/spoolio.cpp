#include "spoolio.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

/// Never destroyed: a sync may still be under way on its thread while the program ends.
SpoolIo *realIo() {
    static SpoolIo *const io = new SpoolIo;
    return io;
}

std::atomic<SpoolIo *> s_current{nullptr};

} // namespace

bool SpoolIo::create(QFile &file) {
    return SafeFile::create(file, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

SafeFile::Opened SpoolIo::openExisting(const QString &path, QFile &file, QString *error) {
    return SafeFile::openExisting(path, file, error);
}

bool SpoolIo::write(QFile &file, qint64 offset, const char *data, qint64 size, QString *error) {
    if (!file.seek(offset) || file.write(data, size) != size) {
        *error = file.errorString();
        return false;
    }
    return true;
}

qint64 SpoolIo::read(QFile &file, qint64 offset, char *data, qint64 size) {
    if (!file.seek(offset))
        return -1;
    return file.read(data, size);
}

bool SpoolIo::reserve(QFile &file, qint64 from, qint64 to, QString *error) {
#ifdef Q_OS_WIN
    // Extending a file on Windows allocates its clusters.
    Q_UNUSED(from);
    if (!file.resize(to)) {
        *error = file.errorString();
        return false;
    }
#else
    // ftruncate() would only make a sparse file, whose blocks are taken at the write.
    const int code = posix_fallocate(file.handle(), from, to - from);
    if (code != 0) {
        *error = QString::fromLocal8Bit(std::strerror(code));
        return false;
    }
#endif
    return true;
}

bool SpoolIo::sync(int descriptor, const QString &, QString *error) {
#ifdef Q_OS_WIN
    const bool done = _commit(descriptor) == 0;
#else
    // The spool's size was set when its room was reserved: the data alone is to be synced.
    const bool done = ::fdatasync(descriptor) == 0;
#endif
    if (!done)
        *error = qt_error_string(errno);
    return done;
}

bool SpoolIo::syncFolder(const QString &folder) {
#ifdef Q_OS_WIN
    // NTFS keeps a new file's entry with the file's own metadata.
    Q_UNUSED(folder);
    return true;
#else
    const int descriptor =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool done = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return done;
#endif
}

bool SpoolIo::remove(const QString &path) {
    return QFile::remove(path);
}

bool SpoolIo::rename(const QString &from, const QString &to) {
    // Qt refuses to rename onto an existing name.
    return QFile::rename(from, to);
}

SpoolIo &SpoolIo::current() {
    SpoolIo *io = s_current.load();
    return io ? *io : *realIo();
}

SpoolIo *SpoolIo::install(SpoolIo *io) {
    return s_current.exchange(io);
}
