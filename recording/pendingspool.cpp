#include "pendingspool.h"

#include "spoolio.h"
#include "spoolsyncer.h"

#include <QRandomGenerator>

#include <algorithm>
#include <stdexcept>

namespace {

constexpr qsizetype kReadChunk = 64 * 1024;
/// The longest a clearing waits for its mark to be synced, with the table's own work under the
/// 50 ms that the window may pause for a sync.
constexpr int kClearingWaitMs = 40;

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

/// Each run of records gets its own: bytes of an earlier run left in the file never pass for
/// records of this one.
quint32 newSalt() {
    return QRandomGenerator::global()->generate();
}

} // namespace

PendingSpool::PendingSpool(const QString &path, const SpoolFormat::Header &header)
    : m_io(SpoolIo::current()), m_path(path), m_file(std::make_unique<QFile>(path)),
      m_header(header) {
    // A name others can reach (a shared folder, an unpacked archive) may hold a link planted
    // to make this program truncate and fill whatever it points to.
    if (!m_io.create(*m_file))
        raise(QStringLiteral("%1: %2").arg(path, m_file->errorString()));
    m_identity = FileIdentity::of(*m_file);
    m_buffer.reserve(kBufferBytes + 256);
    m_header.salt = newSalt();
    m_header.clearing = false;
    m_chain = m_header.salt;
    m_fileBytes = SpoolFormat::kRecordsStart;
    // The header goes into room already taken, as every later write does.
    m_header.sequence = 1;
    m_writtenSlot = 0;
    if (!reserve(kBlockBytes) || !m_io.write(*m_file, 0, m_header.encode().constData(),
                                             SpoolFormat::kHeaderBytes, &m_error)) {
        removeFile();
        raise(QStringLiteral("%1: %2").arg(path, m_error));
    }
    m_unsecured = true;
    startSyncer(true);
}

PendingSpool::PendingSpool(std::unique_ptr<QFile> file, const QString &path, const Content &content)
    : m_io(SpoolIo::current()), m_path(path), m_file(std::move(file)), m_header(content.header) {
    m_identity = FileIdentity::of(*m_file);
    m_buffer.reserve(kBufferBytes + 256);
    m_reserved = m_file->size();
    m_fileBytes = content.end;
    m_count = content.count;
    m_chain = content.chain;
    m_anchors = content.anchors;
    m_syncedSlot = content.slot;
    m_writtenSlot = content.slot;
    startSyncer(false);
    // A clearing that never took place is no longer under way.
    if (m_header.clearing)
        markClearing(false);
}

PendingSpool::~PendingSpool() {
    // Its records were dropped on purpose: should the file outlive this (on Windows a sync
    // still under way holds it), a blank header says it holds none.
    const QByteArray blank(SpoolFormat::kRecordsStart, '\0');
    QString error;
    m_io.write(*m_file, 0, blank.constData(), blank.size(), &error);
    m_syncer.reset();
    removeFile();
}

void PendingSpool::startSyncer(bool newFile) {
    m_syncer = std::make_unique<SpoolSyncer>(m_file->handle(), m_path, newFile, m_io);
}

void PendingSpool::removeFile() {
    m_file->close();
    // Whatever took the name since is not ours to remove.
    if (m_identity.isAt(m_path))
        m_io.remove(m_path);
}

void PendingSpool::append(const RecordValues &record) {
    const qint64 start = logicalEnd();
    const qsizetype before = m_buffer.size();
    const quint32 chainBefore = m_chain;
    SpoolFormat::encode(m_buffer, record, &m_chain);
    if (m_buffer.size() >= kBufferBytes && !flush()) {
        m_buffer.truncate(before);
        m_chain = chainBefore;
        raise(QStringLiteral("%1: no room for the records not yet saved: %2").arg(m_path, m_error));
    }
    if (m_count % kAnchorStride == 0)
        m_anchors.push_back(start);
    ++m_count;
    m_lastStart = start;
    m_lastChain = chainBefore;
    m_unsecured = true;
}

void PendingSpool::dropLast() {
    if (m_lastStart < 0)
        return;
    if (m_lastStart >= m_fileBytes) {
        m_buffer.truncate(m_lastStart - m_fileBytes);
    } else {
        // The buffer went to the file with the record in it; the file's end moves back, and
        // a zero there ends the records, so that a crash does not bring the record back.
        m_buffer.truncate(0);
        m_fileBytes = m_lastStart;
        const char end = 0;
        QString error;
        m_io.write(*m_file, m_lastStart, &end, 1, &error);
    }
    m_chain = m_lastChain;
    --m_count;
    if (m_count % kAnchorStride == 0)
        m_anchors.pop_back();
    m_lastStart = -1;
    m_unsecured = true;
}

void PendingSpool::restart(const SpoolFormat::Header &header) {
    const quint64 sequence = m_header.sequence;
    m_header = header;
    m_header.sequence = sequence;
    m_header.salt = newSalt();
    m_header.clearing = false;
    m_chain = m_header.salt;
    m_count = 0;
    m_fileBytes = SpoolFormat::kRecordsStart;
    // truncate(), not clear(): the buffer keeps its memory instead of growing anew, which
    // left the heap fragmented around the engine's page cache.
    m_buffer.truncate(0);
    m_anchors.clear();
    m_lastStart = -1;
    // The reserved blocks stay: the next records find their space taken already, and giving
    // it back would add to every save (20 ms for a million records) what the close does once.
    writeHeader();
}

QString PendingSpool::markClearing(bool clearing) {
    m_header.clearing = clearing;
    const QString failedBefore = m_failure;
    writeHeader();
    if (!clearing)
        return QString();
    if (m_failure != failedBefore)
        return std::exchange(m_failure, failedBefore);
    // The mark is to be on the disk before the table is cleared: a power cut between the two
    // would otherwise offer the cleared records back to a table that was empty before. A disk
    // slower than this costs the clearing no more; the mark then reaches it a little later.
    // One that failed to take it stops the clearing; a failure before it is told as before.
    const QString earlier = m_syncer->takeError();
    secure();
    const bool done = m_syncer->waitUntilDone(kClearingWaitMs);
    const QString error = m_syncer->takeError();
    if (!earlier.isEmpty() && m_failure.isEmpty())
        m_failure = QStringLiteral("%1: %2").arg(m_path, earlier);
    return done && !error.isEmpty() ? QStringLiteral("%1: %2").arg(m_path, error) : QString();
}

void PendingSpool::writeHeader() {
    // The slot written last is synced once a sync asked for after it is done; until then a
    // rewrite goes to the same slot, so that the header last synced stays whole on the disk.
    if (m_headerAsk != 0 && m_syncer->completed() >= m_headerAsk)
        m_syncedSlot = m_writtenSlot;
    const int slot = m_syncedSlot == 0 ? 1 : 0;
    ++m_header.sequence;
    QString error;
    if (!m_io.write(*m_file, slot * SpoolFormat::kHeaderBytes, m_header.encode().constData(),
                    SpoolFormat::kHeaderBytes, &error))
        m_failure = QStringLiteral("%1: %2").arg(m_path, error);
    m_writtenSlot = slot;
    m_headerAsk = 0;
    m_unsecured = true;
}

void PendingSpool::secure() {
    if (!flush() && m_failure.isEmpty())
        m_failure = QStringLiteral("%1: %2").arg(m_path, m_error);
    const quint64 ask = m_syncer->request();
    if (m_headerAsk == 0)
        m_headerAsk = ask;
    m_unsecured = false;
}

bool PendingSpool::waitUntilSecured(int timeoutMs) const {
    return m_syncer->waitUntilDone(timeoutMs);
}

QString PendingSpool::takeFailure() {
    const QString synced = m_syncer->takeError();
    QString failure = std::exchange(m_failure, QString());
    if (failure.isEmpty() && !synced.isEmpty())
        failure = QStringLiteral("%1: %2").arg(m_path, synced);
    return failure;
}

bool PendingSpool::flush() {
    if (m_buffer.isEmpty())
        return true;
    const qint64 end = logicalEnd();
    if (end > m_reserved && !reserve(end))
        return false;
    if (!m_io.write(*m_file, m_fileBytes, m_buffer.constData(), m_buffer.size(), &m_error))
        return false;
    m_fileBytes = end;
    m_buffer.truncate(0);
    return true;
}

bool PendingSpool::reserve(qint64 upTo) {
    const qint64 target = (upTo + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
    if (!m_io.reserve(*m_file, m_reserved, target, &m_error))
        return false;
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
        out.resize(inFile);
        if (m_io.read(*m_file, from, out.data(), inFile) != inFile)
            raise(QStringLiteral("%1: %2").arg(m_path, m_file->errorString()));
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
        qsizetype after = 0;
        switch (SpoolFormat::decode(m_chunk.constData(), m_chunk.size(), m_at, record, &after)) {
        case SpoolFormat::Frame::Whole:
            m_at = after;
            --m_left;
            return true;
        case SpoolFormat::Frame::Short:
            if (fill())
                continue;
            [[fallthrough]];
        case SpoolFormat::Frame::End:
        case SpoolFormat::Frame::Damaged:
            raise(QStringLiteral("%1: a record not yet saved cannot be read")
                      .arg(m_spool.fileName()));
        }
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
