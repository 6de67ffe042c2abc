#include "frameassembler.h"

#include <cstring>
#include <utility>

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kLineFeed = 0x0A;
} // namespace

namespace {

/// Appends the hex text of `size` bytes to `out` in one step.
void appendHex(QString &out, const char *data, qsizetype size) {
    const qsizetype at = out.size();
    out.resize(at + 2 * size);
    QChar *d = out.data() + at;
    for (qsizetype i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        *d++ = QLatin1Char(kHexDigits[byte >> 4]);
        *d++ = QLatin1Char(kHexDigits[byte & 0x0F]);
    }
}

} // namespace

void FrameAssembler::feed(const char *data, int size, Clock::time_point now,
                          const FrameHandler &onFrame) {
    if (size <= 0)
        return;
    if (!m_pending.isEmpty() && now - m_pendingSince > kStaleAfter)
        m_pending.clear();

    try {
        // A run of bytes up to the next line feed at a time, not byte by byte: this runs for
        // every byte the meter sends.
        for (int i = 0; i < size;) {
            if (m_pending.isEmpty())
                m_pendingSince = now;
            const auto *lineFeed =
                static_cast<const char *>(std::memchr(data + i, kLineFeed, size_t(size - i)));
            const int runEnd = lineFeed ? int(lineFeed - data) : size; // line feed excluded
            const int run = runEnd - i;
            // The carry holds at most kMaxCarryBytes; the byte past that drops it, and the
            // bytes after it start a new fragment.
            const int carried = int(m_pending.size() / 2);
            if (carried + run > kMaxCarryBytes) {
                const int keep = (carried + run) % (kMaxCarryBytes + 1);
                m_pending.clear();
                m_pendingSince = now;
                appendHex(m_pending, data + runEnd - keep, keep);
            } else {
                appendHex(m_pending, data + i, run);
            }
            if (!lineFeed)
                break;
            appendHex(m_pending, lineFeed, 1);
            i = runEnd + 1;
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

void FrameAssembler::reset() {
    m_pending.clear();
}

FrameKind frameKindOf(const QString &hex) {
    if (hex.startsWith(QLatin1String("89")))
        return FrameKind::Display;
    if (hex.startsWith(QLatin1String("8A")))
        return FrameKind::Secondary;
    return FrameKind::Other;
}

QString mltTextOf(const QString &hex) {
    // Views past the end are empty, so a short frame gives a short text.
    const QStringView h(hex);
    QString mlt;
    mlt.reserve(5);
    mlt.append(h.mid(10, 2)).append(h.mid(8, 2)).append(h.mid(5, 1));
    return mlt;
}

QString hexOf(const char *data, int size) {
    QString out;
    appendHex(out, data, size);
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
