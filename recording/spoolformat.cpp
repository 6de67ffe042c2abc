#include "spoolformat.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace SpoolFormat {

namespace {

constexpr char kMagic[8] = {'Q', 'M', 'S', 'P', 'O', 'O', 'L', '1'};
constexpr qsizetype kCheckedHeaderBytes = kHeaderBytes - 4;
constexpr quint8 kLongFrame = 0xFF;
/// No record of ours comes near this; a longer length is damage.
constexpr quint32 kMaxPayload = 64u << 20;
constexpr int kMsPerDay = 24 * 60 * 60 * 1000;

// Payload tags: the usual texts as codes, the rest spelled out after the value and unit.
constexpr quint8 kDcAcMask = 0x03;
constexpr quint8 kDcAcText = 0x03;
constexpr int kAutoShift = 2;
constexpr quint8 kAutoText = 0x03;
constexpr quint8 kWholeNval = 0x10;
constexpr quint8 kUnknownTags = 0xE0;

constexpr std::array<quint32, 256> makeCrcTable() {
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

void putU32(QByteArray &out, quint32 v) {
    char bytes[4];
    qToLittleEndian(v, bytes);
    out.append(bytes, 4);
}

void putVarint(QByteArray &out, quint64 v) {
    while (v >= 0x80) {
        out.append(char(quint8(v) | 0x80));
        v >>= 7;
    }
    out.append(char(v));
}

quint64 zigzag(qint64 v) {
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

qint64 unzigzag(quint64 v) {
    return qint64(v >> 1) ^ -qint64(v & 1);
}

void putText(QByteArray &out, const QString &text) {
    // The meter's texts are plain ASCII: they go in without a temporary copy.
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            const QByteArray utf8 = text.toUtf8();
            putVarint(out, quint64(utf8.size()));
            out.append(utf8);
            return;
        }
    }
    putVarint(out, quint64(text.size()));
    for (const QChar c : text)
        out.append(char(c.unicode()));
}

quint8 dcAcCode(const QString &t) {
    if (t.isEmpty())
        return 0;
    if (t == u"AC")
        return 1;
    if (t == u"DC")
        return 2;
    return kDcAcText;
}

quint8 autoCode(const QString &t) {
    if (t == u"AUTO")
        return 0;
    if (t == u"MANU")
        return 1;
    if (t.isEmpty())
        return 2;
    return kAutoText;
}

/// Whether `v` is a whole number that a variable-length integer carries exactly (the meter's
/// counts are), minus zero excepted.
bool isWhole(float v) {
    return std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 2147483648.0f &&
           !(v == 0.0f && std::signbit(v));
}

/// Reads a payload; every read fails once it would pass the end.
class PayloadReader {
public:
    PayloadReader(const char *data, qsizetype size) : m_data(data), m_size(size) {}

    bool u8(quint8 *v) {
        if (m_at >= m_size)
            return false;
        *v = quint8(m_data[m_at++]);
        return true;
    }
    bool varint(quint64 *v) {
        quint64 result = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            quint8 b;
            if (!u8(&b))
                return false;
            result |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80)) {
                *v = result;
                return true;
            }
        }
        return false;
    }
    bool raw(const char **p, qsizetype n) {
        if (n < 0 || m_size - m_at < n)
            return false;
        *p = m_data + m_at;
        m_at += n;
        return true;
    }
    bool text(QString *t) {
        quint64 n;
        const char *p;
        if (!varint(&n) || n > quint64(m_size) || !raw(&p, qsizetype(n)))
            return false;
        *t = QString::fromUtf8(p, qsizetype(n));
        return true;
    }
    bool atEnd() const { return m_at == m_size; }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_at = 0;
};

bool readPayload(const char *data, qsizetype size, RecordValues *r) {
    PayloadReader in(data, size);
    quint8 tags;
    quint64 no, time;
    if (!in.u8(&tags) || (tags & kUnknownTags) || !in.varint(&no) || !in.varint(&time))
        return false;
    const qint64 number = unzigzag(no);
    if (number < std::numeric_limits<qint32>::min() || number > std::numeric_limits<qint32>::max())
        return false;
    r->no = qint32(number);
    if (time > quint64(kMsPerDay))
        return false;
    r->time = time == 0 ? QTime() : QTime::fromMSecsSinceStartOfDay(int(time - 1));
    if (tags & kWholeNval) {
        quint64 v;
        if (!in.varint(&v))
            return false;
        r->nval = float(unzigzag(v));
    } else {
        const char *p;
        if (!in.raw(&p, 4))
            return false;
        const quint32 bits = qFromLittleEndian<quint32>(p);
        std::memcpy(&r->nval, &bits, sizeof bits);
    }
    if (!in.text(&r->value) || !in.text(&r->unit))
        return false;
    static const QString kDcAc[] = {QString(), QStringLiteral("AC"), QStringLiteral("DC")};
    static const QString kAuto[] = {QStringLiteral("AUTO"), QStringLiteral("MANU"), QString()};
    const quint8 dcAc = tags & kDcAcMask;
    const quint8 autoText = (tags >> kAutoShift) & 0x03;
    if (dcAc == kDcAcText) {
        if (!in.text(&r->dcAc))
            return false;
    } else {
        r->dcAc = kDcAc[dcAc];
    }
    if (autoText == kAutoText) {
        if (!in.text(&r->autoText))
            return false;
    } else {
        r->autoText = kAuto[autoText];
    }
    return in.atEnd();
}

} // namespace

quint32 crc32(quint32 crc, const char *data, qsizetype size) {
    crc = ~crc;
    for (qsizetype i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QByteArray Header::encode() const {
    QByteArray out(kHeaderBytes, '\0');
    char *p = out.data();
    std::memcpy(p, kMagic, sizeof kMagic);
    qToLittleEndian(salt, p + 8);
    qToLittleEndian(quint32(clearing ? 1 : 0), p + 12);
    qToLittleEndian(device, p + 16);
    qToLittleEndian(file, p + 24);
    qToLittleEndian(storedRows, p + 32);
    qToLittleEndian(lastKey, p + 40);
    qToLittleEndian(sequence, p + 48);
    qToLittleEndian(crc32(0, p, kCheckedHeaderBytes), p + kCheckedHeaderBytes);
    return out;
}

Header::Read Header::decode(const char *data, qsizetype size, Header *out) {
    const qsizetype seen = std::min(size, kHeaderBytes);
    if (std::all_of(data, data + seen, [](char c) { return c == 0; }))
        return Read::Blank;
    if (size < kHeaderBytes || std::memcmp(data, kMagic, sizeof kMagic) != 0 ||
        qFromLittleEndian<quint32>(data + kCheckedHeaderBytes) !=
            crc32(0, data, kCheckedHeaderBytes))
        return Read::Foreign;
    const quint32 flags = qFromLittleEndian<quint32>(data + 12);
    if (flags & ~1u)
        return Read::Foreign;
    out->salt = qFromLittleEndian<quint32>(data + 8);
    out->clearing = flags & 1u;
    out->device = qFromLittleEndian<quint64>(data + 16);
    out->file = qFromLittleEndian<quint64>(data + 24);
    out->storedRows = qFromLittleEndian<qint64>(data + 32);
    out->lastKey = qFromLittleEndian<qint64>(data + 40);
    out->sequence = qFromLittleEndian<quint64>(data + 48);
    return Read::Valid;
}

Header::Read Header::decodeSlots(const char *data, qsizetype size, Header *out, int *slot) {
    Header headers[2];
    Read read[2];
    for (int i = 0; i < 2; ++i)
        read[i] =
            decode(data + std::min(size, i * kHeaderBytes),
                   std::clamp<qsizetype>(size - i * kHeaderBytes, 0, kHeaderBytes), &headers[i]);
    int best = -1;
    for (int i = 0; i < 2; ++i)
        if (read[i] == Read::Valid && (best < 0 || headers[i].sequence > headers[best].sequence))
            best = i;
    if (best < 0)
        return read[0] == Read::Foreign || read[1] == Read::Foreign ? Read::Foreign : Read::Blank;
    *out = headers[best];
    *slot = best;
    return Read::Valid;
}

void encode(QByteArray &out, const RecordValues &r, quint32 *chain) {
    const qsizetype start = out.size();
    out.append('\0'); // the length, once the payload is known
    const bool whole = isWhole(r.nval);
    const quint8 tags =
        quint8(dcAcCode(r.dcAc) | (autoCode(r.autoText) << kAutoShift) | (whole ? kWholeNval : 0));
    out.append(char(tags));
    putVarint(out, zigzag(r.no));
    putVarint(out, r.time.isValid() ? quint64(r.time.msecsSinceStartOfDay()) + 1 : 0);
    if (whole) {
        putVarint(out, zigzag(qint64(r.nval)));
    } else {
        quint32 bits;
        static_assert(sizeof bits == sizeof r.nval);
        std::memcpy(&bits, &r.nval, sizeof bits);
        putU32(out, bits);
    }
    putText(out, r.value);
    putText(out, r.unit);
    if ((tags & kDcAcMask) == kDcAcText)
        putText(out, r.dcAc);
    if (((tags >> kAutoShift) & 0x03) == kAutoText)
        putText(out, r.autoText);
    const qsizetype payload = out.size() - start - 1;
    if (payload < kLongFrame) {
        out[start] = char(payload);
    } else {
        char length[5] = {char(kLongFrame)};
        qToLittleEndian(quint32(payload), length + 1);
        out.replace(start, 1, length, 5);
    }
    const quint32 check = crc32(*chain, out.constData() + start, out.size() - start);
    putU32(out, check);
    *chain = check;
}

Frame decode(const char *data, qsizetype size, qsizetype at, RecordValues *record, qsizetype *next,
             quint32 *chain) {
    if (at >= size)
        return Frame::Short;
    const quint8 first = quint8(data[at]);
    if (first == 0)
        return Frame::End;
    qsizetype lengthBytes = 1;
    quint32 payload = first;
    if (first == kLongFrame) {
        if (size - at < 5)
            return Frame::Short;
        payload = qFromLittleEndian<quint32>(data + at + 1);
        lengthBytes = 5;
        if (payload < kLongFrame || payload > kMaxPayload)
            return Frame::Damaged;
    }
    const qsizetype checked = lengthBytes + qsizetype(payload);
    if (size - at < checked + 4)
        return Frame::Short;
    if (chain) {
        const quint32 check = crc32(*chain, data + at, checked);
        if (qFromLittleEndian<quint32>(data + at + checked) != check)
            return Frame::Damaged;
        if (!readPayload(data + at + lengthBytes, qsizetype(payload), record))
            return Frame::Damaged;
        *chain = check;
    } else if (!readPayload(data + at + lengthBytes, qsizetype(payload), record)) {
        return Frame::Damaged;
    }
    *next = at + checked + 4;
    return Frame::Whole;
}

} // namespace SpoolFormat
