#include "safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

[[noreturn]] void refuse(const QString &path, const char *what) {
    throw SafeFile::Refused(
        QStringLiteral("Cannot create %1: %2 is already there under that name; it was left as "
                       "it is.")
            .arg(QDir::toNativeSeparators(path), QLatin1String(what))
            .toStdString());
}

enum class Entry { None, OwnPlainFile };

#ifdef Q_OS_WIN

std::wstring nativeName(const QString &path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
}

/// What is under `path`, without following it; throws Refused for anything but a plain file.
Entry entryAt(const QString &path) {
    const std::wstring name = nativeName(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Entry::None;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refuse(path, "a link or junction");
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        refuse(path, "a folder");
    // The entry itself, not what it might lead to, with every sharing allowed: only its
    // number of names is asked.
    HANDLE handle = CreateFileW(
        name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        refuse(path, "a file this program cannot look into");
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known || info.nNumberOfLinks != 1)
        refuse(path, "a file with other names (hard links)");
    return Entry::OwnPlainFile;
}

bool removeEntry(const QString &path) {
    return DeleteFileW(nativeName(path).c_str());
}

#else

Entry entryAt(const QString &path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return Entry::None;
    if (S_ISLNK(st.st_mode))
        refuse(path, "a symbolic link");
    if (S_ISDIR(st.st_mode))
        refuse(path, "a folder");
    if (!S_ISREG(st.st_mode))
        refuse(path, "a pipe, socket or device");
    if (st.st_uid != ::geteuid())
        refuse(path, "another user's file");
    if (st.st_nlink != 1)
        refuse(path, "a file with other names (hard links)");
    return Entry::OwnPlainFile;
}

bool removeEntry(const QString &path) {
    // unlink() removes the name itself; it never reaches through a link.
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT;
}

#endif

} // namespace

bool SafeFile::create(QFile &file, QIODevice::OpenMode mode) {
    mode &= ~QIODevice::Truncate;
    if (file.open(mode | QIODevice::NewOnly))
        return true;
    const QString path = file.fileName();
    if (entryAt(path) == Entry::None)
        return false;
    if (!removeEntry(path))
        return false;
    if (file.open(mode | QIODevice::NewOnly))
        return true;
    // Another entry took the name between the removal and the creation.
    entryAt(path);
    return false;
}

#ifdef Q_OS_WIN

SafeFile::Opened SafeFile::openExisting(const QString &path, QFile &file, QString *error) {
    if (entryAt(path) == Entry::None)
        return Opened::Missing;
    // The entry itself, never what a reparse point put there since would lead to; sharing
    // delete lets the file be removed or set aside while it is open.
    HANDLE handle = CreateFileW(nativeName(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return Opened::Missing;
        *error = qt_error_string(int(code));
        return Opened::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1) {
        CloseHandle(handle);
        refuse(path, "a file that changed while it was opened");
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
        *error = qt_error_string();
        CloseHandle(handle);
        return Opened::Failed;
    }
    if (!file.open(descriptor, QIODevice::ReadWrite | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        _close(descriptor);
        return Opened::Failed;
    }
    return Opened::Open;
}

#else

SafeFile::Opened SafeFile::openExisting(const QString &path, QFile &file, QString *error) {
    if (entryAt(path) == Entry::None)
        return Opened::Missing;
    // O_NOFOLLOW: a link put in its place since the look is refused, not followed; O_NONBLOCK:
    // a pipe put there never holds the open.
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int code = errno;
        if (code == ENOENT)
            return Opened::Missing;
        if (code == ELOOP)
            refuse(path, "a symbolic link");
        *error = qt_error_string(code);
        return Opened::Failed;
    }
    struct stat st {};
    if (::fstat(descriptor, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1) {
        ::close(descriptor);
        refuse(path, "a file that changed while it was opened");
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(descriptor, QIODevice::ReadWrite | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(descriptor);
        return Opened::Failed;
    }
    return Opened::Open;
}

#endif

int SafeFile::nameLimit(const QString &folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return 255;
#else
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return limit > 0 && limit < 4096 ? int(limit) : 255;
#endif
}

int SafeFile::nameLength(const QString &name) {
#ifdef Q_OS_WIN
    return int(name.size());
#else
    return int(QFile::encodeName(name).size());
#endif
}

QString SafeFile::cutName(const QString &name, int limit) {
    QString cut = name;
    while (!cut.isEmpty() && nameLength(cut) > limit) {
        cut.chop(1);
        if (!cut.isEmpty() && cut.back().isHighSurrogate())
            cut.chop(1);
    }
    return cut;
}
