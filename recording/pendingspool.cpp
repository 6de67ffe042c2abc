#include "pendingspool.h"

#include "safefile.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#ifndef Q_OS_WIN
#include <fcntl.h>
#endif

namespace {

constexpr quint8 kLongText = 0xFF;
constexpr qsizetype kReadChunk = 64 * 1024;

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

void putU32(QByteArray &out, quint32 v) {
    char bytes[4];
    qToLittleEndian(v, bytes);
    out.append(bytes, 4);
}

void putLength(QByteArray &out, qsizetype n) {
    if (n < kLongText) {
        out.append(char(n));
    } else {
        out.append(char(kLongText));
        putU32(out, quint32(n));
    }
}

void putText(QByteArray &out, const QString &text) {
    // The meter's texts are plain ASCII: they go in without a temporary copy.
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (!ascii) {
        const QByteArray utf8 = text.toUtf8();
        putLength(out, utf8.size());
        out.append(utf8);
        return;
    }
    putLength(out, text.size());
    for (const QChar c : text)
        out.append(char(c.unicode()));
}

void encode(QByteArray &out, const RecordValues &r) {
    putU32(out, quint32(r.no));
    putU32(out, quint32(r.time.isValid() ? r.time.msecsSinceStartOfDay() : -1));
    quint32 nval;
    static_assert(sizeof nval == sizeof r.nval);
    std::memcpy(&nval, &r.nval, sizeof nval);
    putU32(out, nval);
    putText(out, r.dcAc);
    putText(out, r.value);
    putText(out, r.unit);
    putText(out, r.autoText);
}

/// Reads one record at `*at`; false, leaving `*at`, when the record runs past `size`.
class Decoder {
public:
    Decoder(const char *data, qsizetype size, qsizetype at)
        : m_data(data), m_size(size), m_at(at) {}

    bool record(RecordValues *r) {
        quint32 no, ms, nval;
        if (!u32(&no) || !u32(&ms) || !u32(&nval))
            return false;
        r->no = qint32(no);
        r->time = qint32(ms) < 0 ? QTime() : QTime::fromMSecsSinceStartOfDay(int(ms));
        std::memcpy(&r->nval, &nval, sizeof nval);
        return text(&r->dcAc) && text(&r->value) && text(&r->unit) && text(&r->autoText);
    }
    qsizetype at() const { return m_at; }

private:
    bool u32(quint32 *v) {
        if (m_size - m_at < 4)
            return false;
        *v = qFromLittleEndian<quint32>(m_data + m_at);
        m_at += 4;
        return true;
    }
    bool text(QString *t) {
        if (m_at >= m_size)
            return false;
        qsizetype n = quint8(m_data[m_at++]);
        if (n == kLongText) {
            quint32 len;
            if (!u32(&len))
                return false;
            n = qsizetype(len);
        }
        if (m_size - m_at < n)
            return false;
        *t = QString::fromUtf8(m_data + m_at, n);
        m_at += n;
        return true;
    }

    const char *m_data;
    qsizetype m_size;
    qsizetype m_at;
};

} // namespace

PendingSpool::PendingSpool(const QString &path) : m_file(path) {
    // A name others can reach (a shared folder, an unpacked archive) may hold a link planted
    // to make this program truncate and fill whatever it points to.
    if (!SafeFile::create(m_file, QIODevice::ReadWrite | QIODevice::Unbuffered))
        raise(QStringLiteral("%1: %2").arg(path, m_file.errorString()));
    m_identity = FileIdentity::of(m_file);
    m_buffer.reserve(kBufferBytes + 256);
    if (!reserve(kBlockBytes)) {
        removeFile();
        raise(QStringLiteral("%1: %2").arg(path, m_error));
    }
}

PendingSpool::~PendingSpool() {
    removeFile();
}

void PendingSpool::removeFile() {
    m_file.close();
    // Whatever took the name since is not ours to remove.
    if (m_identity.isAt(m_file.fileName()))
        QFile::remove(m_file.fileName());
}

void PendingSpool::append(const RecordValues &record) {
    const qint64 start = logicalEnd();
    const qsizetype before = m_buffer.size();
    encode(m_buffer, record);
    if (m_buffer.size() >= kBufferBytes && !flush()) {
        m_buffer.truncate(before);
        raise(QStringLiteral("%1: no room for the records not yet saved: %2")
                  .arg(m_file.fileName(), m_error));
    }
    if (m_count % kAnchorStride == 0)
        m_anchors.push_back(start);
    ++m_count;
    m_lastStart = start;
}

void PendingSpool::dropLast() {
    if (m_lastStart < 0)
        return;
    if (m_lastStart >= m_fileBytes) {
        m_buffer.truncate(m_lastStart - m_fileBytes);
    } else {
        // The buffer went to the file with the record in it; the file's end moves back.
        m_buffer.truncate(0);
        m_fileBytes = m_lastStart;
    }
    --m_count;
    if (m_count % kAnchorStride == 0)
        m_anchors.pop_back();
    m_lastStart = -1;
}

void PendingSpool::clear() {
    m_count = 0;
    m_fileBytes = 0;
    // truncate(), not clear(): the buffer keeps its memory instead of growing anew, which
    // left the heap fragmented around the engine's page cache.
    m_buffer.truncate(0);
    m_anchors.clear();
    m_lastStart = -1;
    // The reserved blocks stay: the next records find their space taken already, and giving
    // it back would add to every save (20 ms for a million records) what the close does once.
}

bool PendingSpool::flush() {
    const qint64 end = logicalEnd();
    if (end > m_reserved && !reserve(end))
        return false;
    if (!m_file.seek(m_fileBytes) || m_file.write(m_buffer) != m_buffer.size()) {
        m_error = m_file.errorString();
        return false;
    }
    m_fileBytes = end;
    m_buffer.truncate(0);
    return true;
}

bool PendingSpool::reserve(qint64 upTo) {
    const qint64 target = (upTo + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
#ifdef Q_OS_WIN
    // Extending a file on Windows allocates its clusters.
    if (!m_file.resize(target)) {
        m_error = m_file.errorString();
        return false;
    }
#else
    // ftruncate() would only make a sparse file, whose blocks are taken at the write.
    const int error = posix_fallocate(m_file.handle(), m_reserved, target - m_reserved);
    if (error != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
#endif
    m_reserved = target;
    return true;
}

QByteArray PendingSpool::bytes(qint64 from, qint64 n) const {
    QByteArray out;
    const qint64 end = std::min(from + n, logicalEnd());
    if (from >= end)
        return out;
    if (from < m_fileBytes) {
        const qint64 inFile = std::min(end, m_fileBytes) - from;
        if (!m_file.seek(from))
            raise(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
        out = m_file.read(inFile);
        if (out.size() != inFile)
            raise(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    }
    if (end > m_fileBytes) {
        const qint64 inBuffer = std::max(from, m_fileBytes) - m_fileBytes;
        out.append(m_buffer.constData() + inBuffer, end - m_fileBytes - inBuffer);
    }
    return out;
}

QList<RecordValues> PendingSpool::read(qint64 first, int n) const {
    QList<RecordValues> out;
    if (first < 0 || first >= m_count || n <= 0)
        return out;
    out.reserve(int(std::min<qint64>(n, m_count - first)));
    Cursor cursor(*this, first);
    RecordValues r;
    while (out.size() < n && cursor.next(&r))
        out.append(r);
    return out;
}

PendingSpool::Cursor::Cursor(const PendingSpool &spool, qint64 first) : m_spool(spool) {
    if (first < 0 || first >= spool.m_count)
        return;
    const qint64 anchor = first / kAnchorStride;
    m_offset = spool.m_anchors[std::size_t(anchor)];
    m_left = spool.m_count - anchor * kAnchorStride;
    RecordValues skipped;
    for (qint64 i = anchor * kAnchorStride; i < first; ++i)
        next(&skipped);
}

bool PendingSpool::Cursor::next(RecordValues *record) {
    if (m_left <= 0)
        return false;
    for (;;) {
        Decoder d(m_chunk.constData(), m_chunk.size(), m_at);
        if (d.record(record)) {
            m_at = d.at();
            --m_left;
            return true;
        }
        if (!fill())
            raise(QStringLiteral("%1: a record not yet saved cannot be read")
                      .arg(m_spool.fileName()));
    }
}

bool PendingSpool::Cursor::fill() {
    // Keeps the unread tail and reads on after it, taking more for a record longer than
    // a chunk.
    m_offset += m_at;
    const QByteArray tail = m_chunk.mid(m_at);
    const QByteArray more =
        m_spool.bytes(m_offset + tail.size(), std::max<qint64>(kReadChunk, tail.size()));
    if (more.isEmpty())
        return false;
    m_chunk = tail + more;
    m_at = 0;
    return true;
}
