#include "textsink.h"

#include "logrecord.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

bool isRegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

/// Waits until what was written to `fd` is on the disk; false with the system's reason. A
/// file system that cannot sync (some network and user-space ones) has nothing to wait for:
/// that is no failure of the write.
bool syncData(int fd, QString &error) {
#ifdef Q_OS_WIN
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))))
        return true;
    const DWORD code = GetLastError();
    if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED)
        return true;
    error = qt_error_string(int(code));
#else
    if (::fdatasync(fd) == 0 || errno == EINVAL || errno == ENOTSUP)
        return true;
    error = QString::fromLocal8Bit(std::strerror(errno));
#endif
    return false;
}

} // namespace

TextSink::TextSink(const QString &path, Format format)
    : m_format(path.isEmpty() ? Format::Tabs : format), m_isFile(!path.isEmpty()) {
    if (m_isFile) {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            raise(QStringLiteral("cannot open %1: %2").arg(path, m_file.errorString()));
    } else if (!m_file.open(fileno(stdout), QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        raise(QStringLiteral("cannot write to standard output: %1").arg(m_file.errorString()));
    }
    // Standard output redirected into a file ("qm-log > run.txt") is a log file as much as
    // a named one, and as worth keeping through a power cut. A named pipe, a device or
    // /dev/stdout is no file on a disk: it takes each reading at once, like a pipe.
    m_syncs = isRegularFile(m_file.handle());
    if (m_isFile && m_file.size() == 0) {
        const QStringList &names = LogRecord::fieldNames();
        put(m_format == Format::Csv ? LogRecord::csvLine(names) : names.join(QLatin1Char('\t')));
        commit();
    }
}

void TextSink::write(const LogRecord &record) {
    const QStringList fields = record.textFields();
    put(m_format == Format::Csv ? LogRecord::csvLine(fields) : fields.join(QLatin1Char('\t')));
    // A pipe's reader sees each reading at once; files wait for the commit timer, as a
    // sync per reading would cost the disk more than it saves.
    if (!m_syncs)
        commit();
}

void TextSink::put(const QString &line) {
    // Text files end their lines with CR LF, as RFC 4180 and the window's text export have
    // it; standard output keeps the terminal's line end.
    const QByteArray bytes = line.toUtf8() + (m_isFile ? QByteArrayLiteral("\r\n") : "\n");
    if (m_file.write(bytes) != bytes.size())
        raise(QStringLiteral("cannot write to %1: %2").arg(describe(), m_file.errorString()));
    m_pending = true;
}

void TextSink::commit() {
    if (!m_pending)
        return;
    if (!m_file.flush())
        raise(QStringLiteral("cannot write to %1: %2").arg(describe(), m_file.errorString()));
    // On the disk, not only in the system's cache: a power cut then loses at most what came
    // after this commit.
    QString error;
    if (m_syncs && !syncData(m_file.handle(), error))
        raise(QStringLiteral("cannot write to %1: %2").arg(describe(), error));
    m_pending = false;
}

QString TextSink::describe() const {
    return m_isFile ? m_file.fileName() : QStringLiteral("standard output");
}
