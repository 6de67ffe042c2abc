#include "frameassembler.h"

#include <utility>

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kLineFeed = 0x0A;
} // namespace

void FrameAssembler::feed(const char *data, int size, Clock::time_point now,
                          const FrameHandler &onFrame) {
    if (size <= 0)
        return;
    if (!m_pending.isEmpty() && now - m_pendingSince > kStaleAfter)
        m_pending.clear();
    if (m_pending.isEmpty())
        m_pendingSince = now;

    try {
        for (int i = 0; i < size; ++i) {
            const auto byte = static_cast<unsigned char>(data[i]);
            if (m_pending.isEmpty())
                m_pendingSince = now;
            m_pending += QLatin1Char(kHexDigits[byte >> 4]);
            m_pending += QLatin1Char(kHexDigits[byte & 0x0F]);
            if (byte != kLineFeed) {
                if (m_pending.size() > 2 * kMaxCarryBytes)
                    m_pending.clear();
                continue;
            }
            // Taken out before the handler runs, so a throwing handler cannot leave a
            // finished frame behind to be glued to the next one.
            const QString frame = std::exchange(m_pending, QString());
            onFrame(frame);
        }
    } catch (...) {
        m_pending.clear();
        throw;
    }
}

void FrameAssembler::reset() { m_pending.clear(); }

FrameKind frameKindOf(const QString &hex) {
    if (hex.startsWith(QLatin1String("89")))
        return FrameKind::Display;
    if (hex.startsWith(QLatin1String("8A")))
        return FrameKind::Secondary;
    return FrameKind::Other;
}

QString mltTextOf(const QString &hex) {
    // QString::mid past the end gives an empty string, so a short frame gives a short text.
    return hex.mid(10, 2) + hex.mid(8, 2) + hex.mid(5, 1);
}

QString hexOf(const char *data, int size) {
    QString out;
    out.reserve(2 * size);
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out += QLatin1Char(kHexDigits[byte >> 4]);
        out += QLatin1Char(kHexDigits[byte & 0x0F]);
    }
    return out;
}

int hexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}
