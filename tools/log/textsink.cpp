#include "textsink.h"

#include "logrecord.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <unistd.h>

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

TextSink::TextSink(const QString &path, Format format)
    : m_format(format), m_isFile(!path.isEmpty()) {
    if (m_isFile) {
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
            raise(QStringLiteral("cannot open %1: %2").arg(path, m_file.errorString()));
    } else if (!m_file.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        raise(QStringLiteral("cannot write to standard output: %1").arg(m_file.errorString()));
    }
    if (m_format == Format::Csv && m_isFile && m_file.size() == 0) {
        put(LogRecord::csvLine(LogRecord::fieldNames()));
        commit();
    }
}

void TextSink::write(const LogRecord &record) {
    const QStringList fields = record.textFields();
    put(m_format == Format::Csv ? LogRecord::csvLine(fields) : fields.join(QLatin1Char('\t')));
    if (!m_isFile)
        commit();
}

void TextSink::put(const QString &line) {
    // Comma-separated text ends its lines with CR LF, as RFC 4180 has it.
    const QByteArray bytes =
        line.toUtf8() + (m_format == Format::Csv ? QByteArrayLiteral("\r\n") : "\n");
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
    if (m_isFile && ::fdatasync(m_file.handle()) != 0)
        raise(QStringLiteral("cannot write to %1: %2")
                  .arg(describe(), QString::fromLocal8Bit(std::strerror(errno))));
    m_pending = false;
}

QString TextSink::describe() const {
    return m_isFile ? m_file.fileName() : QStringLiteral("standard output");
}
