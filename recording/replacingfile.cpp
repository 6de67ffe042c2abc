#include "replacingfile.h"

#include "safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>

#include <unistd.h>
#endif

namespace {

/// How many links in a row are followed before a chain counts as a loop.
constexpr int kMaxLinks = 40;

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

bool syncToDisk(QFile &file) {
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#else
    return ::fsync(file.handle()) == 0;
#endif
}

/// Renames `from` over `to` in one step; the system's reason on failure.
QString renameOver(const QString &from, const QString &to) {
#ifdef Q_OS_WIN
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return QString();
    return qt_error_string(int(GetLastError()));
#else
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return QString();
    return qt_error_string(errno);
#endif
}

} // namespace

ReplacingFile::ReplacingFile(const QString &target) : m_target(resolve(target)) {}

ReplacingFile::~ReplacingFile() {
    cancel();
}

QString ReplacingFile::resolve(const QString &target) {
    QFileInfo info(target);
    for (int links = 0; links < kMaxLinks && info.isSymbolicLink(); ++links)
        info.setFile(info.symLinkTarget());
    return info.isSymbolicLink() ? target : info.absoluteFilePath();
}

QString ReplacingFile::temporaryFor(const QString &target) {
    const QFileInfo info(resolve(target));
    const QString mark = QStringLiteral(".%1.tmp").arg(QCoreApplication::applicationPid());
    const QString folder = info.absolutePath();
    const QString name = SafeFile::cutName(info.fileName(), SafeFile::nameLimit(folder) -
                                                                SafeFile::nameLength(mark) - 1);
    return QDir(folder).filePath(u'.' + name + mark);
}

void ReplacingFile::checkTarget(const QString &target) {
    const QFileInfo info(resolve(target));
    if (info.exists() && !info.isFile() && !info.isDir())
        throw SafeFile::Refused(QStringLiteral("%1 is not a file but a pipe, socket or device: "
                                               "nothing was written to it.")
                                    .arg(shown(target))
                                    .toStdString());
    const int limit = SafeFile::nameLimit(info.absolutePath());
    if (SafeFile::nameLength(info.fileName()) > limit)
        throw SafeFile::Refused(QStringLiteral("The name %1 is too long: its folder takes names "
                                               "of at most %2 %3.")
                                    .arg(shown(target))
                                    .arg(limit)
#ifdef Q_OS_WIN
                                    .arg(QStringLiteral("characters"))
#else
                                    .arg(QStringLiteral("bytes"))
#endif
                                    .toStdString());
}

bool ReplacingFile::open(QIODevice::OpenMode mode) {
    cancel();
    checkTarget(m_target);
    const QFileInfo target(m_target);
    if (target.isDir()) {
        m_error = QStringLiteral("%1 is a folder").arg(shown(m_target));
        return false;
    }
    m_file.setFileName(temporaryFor(m_target));
    if (!SafeFile::create(m_file, mode)) {
        m_error = QStringLiteral("%1: %2").arg(shown(m_file.fileName()), m_file.errorString());
        return false;
    }
    m_made = true;
    return true;
}

bool ReplacingFile::commit() {
    if (!m_made) {
        m_error = QStringLiteral("%1: nothing was written").arg(shown(m_target));
        return false;
    }
    if (m_file.isOpen()) {
        const bool written = m_file.flush() && syncToDisk(m_file);
        m_file.close();
        if (!written || m_file.error() != QFileDevice::NoError) {
            m_error = m_file.errorString();
            cancel();
            return false;
        }
    }
    const QFileInfo old(m_target);
    if (old.exists())
        QFile::setPermissions(m_file.fileName(), old.permissions());
    m_error = renameOver(m_file.fileName(), m_target);
    if (!m_error.isEmpty()) {
        QFile::setPermissions(m_file.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        cancel();
        return false;
    }
    m_made = false;
    return true;
}

void ReplacingFile::cancel() {
    m_file.close();
    if (m_made)
        QFile::remove(m_file.fileName());
    m_made = false;
}
