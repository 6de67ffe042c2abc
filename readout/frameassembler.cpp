#include "frameassembler.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kDisplayByte = 0x89;
constexpr unsigned char kSecondaryByte = 0x8A;

bool isOpener(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    return b == kDisplayByte || b == kSecondaryByte;
}
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
    try {
        if ((m_skipping || !m_pending.isEmpty()) && now - m_carriedAt > kCarryWindow) {
            // Not the head of these bytes, nor junk they belong to: they come a request later.
            m_skipping = false;
            const QByteArray stale = std::exchange(m_pending, QByteArray());
            hand(stale.constData(), stale.size(), FrameKind::Noise, onFrame);
        }
        // A run of bytes up to the next line feed at a time, not byte by byte: this runs for
        // every byte the meter sends.
        for (int i = 0; i < size;) {
            const auto *lineFeed =
                static_cast<const char *>(std::memchr(data + i, kLineFeed, size_t(size - i)));
            if (!lineFeed) {
                carry(data + i, size - i, now, onFrame);
                break;
            }
            const int next = int(lineFeed - data) + 1;
            if (std::exchange(m_skipping, false)) {
                // The end of the junk; what was dropped was told when the carry overflowed.
            } else if (m_pending.size() + (next - i - 1) > kMaxCarryBytes) {
                // Junk however it came in: as long a line as a carry that overflows.
                tellJunk(data + i, next - i, onFrame);
            } else if (m_pending.isEmpty()) {
                completeLine(data + i, next - i, onFrame);
            } else {
                // Taken out before the handler runs, so a throwing handler cannot leave a
                // finished line behind to be glued to the next one.
                QByteArray line = std::exchange(m_pending, QByteArray());
                line.append(data + i, next - i);
                completeLine(line.constData(), line.size(), onFrame);
            }
            i = next;
        }
    } catch (...) {
        m_pending.clear();
        m_skipping = false;
        throw;
    }
}

void FrameAssembler::carry(const char *data, int size, Clock::time_point now,
                           const FrameHandler &onFrame) {
    m_carriedAt = now;
    if (m_skipping)
        return;
    if (m_pending.size() + size <= kMaxCarryBytes) {
        m_pending.append(data, size);
        return;
    }
    // Junk: told once, and dropped up to the next line feed.
    m_skipping = true;
    tellJunk(data, size, onFrame);
}

void FrameAssembler::tellJunk(const char *data, qsizetype size, const FrameHandler &onFrame) {
    QByteArray junk = std::exchange(m_pending, QByteArray());
    junk.append(data, std::min<qsizetype>(size, kMaxCarryBytes + 1 - junk.size()));
    hand(junk.constData(), junk.size(), FrameKind::Noise, onFrame);
}

void FrameAssembler::completeLine(const char *line, qsizetype size, const FrameHandler &onFrame) {
    // The frame starts at the last opener of its line. The meter sends 0x89 and 0x8A only to
    // open a frame, so an opener after it means the frame was cut and another began: the
    // head of a cut answer joined to the next answer, which may be damaged too. Taken as the
    // last 7 or 11 bytes whatever they hold, the two could make a frame that neither was.
    // (This also reads a display frame cut after four bytes, followed by a whole secondary
    // one, as the secondary frame, though it ends in 11 bytes opened by 0x89 as well.)
    qsizetype frameAt = size - 1;
    const qsizetype earliest = std::max<qsizetype>(0, size - kDisplayFrameBytes);
    while (frameAt >= earliest && !isOpener(line[frameAt]))
        --frameAt;
    if (frameAt < earliest) {
        hand(line, size, isOpener(line[0]) ? FrameKind::Noise : FrameKind::Other, onFrame);
        return;
    }
    const auto opener = static_cast<unsigned char>(line[frameAt]);
    const qsizetype length = size - frameAt;
    FrameKind kind = FrameKind::Noise;
    if (opener == kSecondaryByte && length == kSecondaryFrameBytes)
        kind = FrameKind::Secondary;
    else if (opener == kDisplayByte && length == kDisplayFrameBytes)
        kind = FrameKind::Display;
    hand(line, frameAt, FrameKind::Noise, onFrame);
    hand(line + frameAt, length, kind, onFrame);
}

void FrameAssembler::hand(const char *bytes, qsizetype size, FrameKind kind,
                          const FrameHandler &onFrame) {
    if (size <= 0)
        return;
    if (kind == FrameKind::Noise)
        ++m_noiseCount;
    onFrame(hexOf(bytes, size), kind);
}

void FrameAssembler::reset() {
    m_pending.clear();
    m_skipping = false;
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

QString hexOf(const char *data, qsizetype size) {
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
