#include "hexlinereader.h"

#include <utility>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

/// The character as a reader of the message recognises it.
QString shown(unsigned char c) {
    if (c >= 0x20 && c < 0x7F)
        return QStringLiteral("\"%1\"").arg(QLatin1Char(char(c)));
    return QString::asprintf("byte 0x%02X", c);
}

} // namespace

void HexLineReader::feed(const char *data, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n' && std::exchange(m_afterCarriageReturn, false))
            continue; // the second half of CR LF
        m_afterCarriageReturn = c == '\r';
        if (c == '\n' || c == '\r') {
            endLine();
            continue;
        }
        ++m_column;
        if (!m_refusal.isEmpty())
            continue; // the rest of a refused line is skipped
        if (c == ' ' || c == '\t')
            continue;
        const int value = hexValue(c);
        if (value < 0) {
            const auto byte = static_cast<unsigned char>(c);
            m_sawRawBytes = m_sawRawBytes || byte < 0x20 || byte >= 0x7F;
            refuse(
                QStringLiteral("%1 at column %2 is no hex digit").arg(shown(byte)).arg(m_column));
            continue;
        }
        if (m_highNibble < 0) {
            m_highNibble = value;
        } else {
            m_bytes.append(char(m_highNibble << 4 | value));
            m_highNibble = -1;
        }
    }
}

void HexLineReader::finish() {
    if (m_column > 0)
        endLine();
}

void HexLineReader::refuse(const QString &reason) {
    m_refusal = reason;
    m_bytes.clear();
    m_highNibble = -1;
}

void HexLineReader::endLine() {
    if (m_refusal.isEmpty() && m_highNibble >= 0)
        refuse(QStringLiteral("an odd number of hex digits"));
    if (!m_refusal.isEmpty()) {
        ++m_refused;
        m_onRefusal(m_lineNumber, std::exchange(m_refusal, QString()));
    } else if (!m_bytes.isEmpty()) {
        m_onLine(m_bytes);
    }
    m_bytes.clear();
    m_highNibble = -1;
    m_column = 0;
    ++m_lineNumber;
}
