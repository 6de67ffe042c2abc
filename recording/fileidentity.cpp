#include "fileidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

#ifdef Q_OS_WIN

FileIdentity::Kind kindOf(const BY_HANDLE_FILE_INFORMATION &info) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FileIdentity::Kind::Link;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return FileIdentity::Kind::Other;
    return FileIdentity::Kind::File;
}

#else

FileIdentity::Kind kindOf(const struct stat &st) {
    if (S_ISLNK(st.st_mode))
        return FileIdentity::Kind::Link;
    return S_ISREG(st.st_mode) ? FileIdentity::Kind::File : FileIdentity::Kind::Other;
}

#endif

} // namespace

#ifdef Q_OS_WIN

namespace {

FileIdentity identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info))
        return {};
    return {kindOf(info), info.dwVolumeSerialNumber,
            (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

} // namespace

FileIdentity FileIdentity::of(const QString &path) {
    const std::wstring name =
        QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
    // The entry itself, a reparse point not followed, with every sharing allowed: nothing
    // but its attributes is asked.
    HANDLE handle = CreateFileW(
        name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FileIdentity id = identityOf(handle);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return id;
}

FileIdentity FileIdentity::of(const QFile &file) {
    if (!file.isOpen())
        return {};
    return identityOf(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
}

#else

FileIdentity FileIdentity::of(const QString &path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {kindOf(st), quint64(st.st_dev), quint64(st.st_ino)};
}

FileIdentity FileIdentity::of(const QFile &file) {
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.handle(), &st) != 0)
        return {};
    return {kindOf(st), quint64(st.st_dev), quint64(st.st_ino)};
}

#endif
