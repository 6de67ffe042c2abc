#include "leftspool.h"

#include "fileidentity.h"
#include "spoolio.h"

#include <algorithm>
#include <stdexcept>

namespace {

constexpr qint64 kReadChunk = 1 << 20;

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

LeftSpool::LeftSpool(const QString &path) : m_path(path), m_file(std::make_unique<QFile>()) {}

std::unique_ptr<LeftSpool> LeftSpool::find(const QString &path) {
    std::unique_ptr<LeftSpool> left(new LeftSpool(path));
    QString error;
    switch (SpoolIo::current().openExisting(path, *left->m_file, &error)) {
    case SafeFile::Opened::Missing:
        return nullptr;
    case SafeFile::Opened::Failed:
        raise(QStringLiteral("%1 cannot be opened: %2").arg(path, error));
    case SafeFile::Opened::Open:
        break;
    }
    left->scan();
    return left;
}

void LeftSpool::scan() {
    SpoolIo &io = SpoolIo::current();
    const qint64 size = m_file->size();
    auto readAt = [&](qint64 offset, qint64 n) {
        QByteArray bytes(n, '\0');
        if (io.read(*m_file, offset, bytes.data(), n) != n)
            raise(QStringLiteral("%1 cannot be read: %2").arg(m_path, m_file->errorString()));
        return bytes;
    };
    const QByteArray head = readAt(0, std::min(size, SpoolFormat::kRecordsStart));
    m_read = SpoolFormat::Header::decodeSlots(head.constData(), head.size(), &m_content.header,
                                              &m_content.slot);
    if (m_read != SpoolFormat::Header::Read::Valid)
        return;

    quint32 chain = m_content.header.salt;
    qint64 offset = SpoolFormat::kRecordsStart; // where `chunk` begins in the file
    QByteArray chunk;
    qsizetype at = 0;
    for (;;) {
        RecordValues record;
        qsizetype next = 0;
        const SpoolFormat::Frame frame =
            SpoolFormat::decode(chunk.constData(), chunk.size(), at, &record, &next, &chain);
        if (frame == SpoolFormat::Frame::Whole) {
            if (m_content.count % PendingSpool::kAnchorStride == 0)
                m_content.anchors.push_back(offset + at);
            ++m_content.count;
            if (m_firstRecords.size() < kCompared)
                m_firstRecords.append(record);
            m_lastRecords.push_back(std::move(record));
            if (m_lastRecords.size() > std::size_t(kCompared))
                m_lastRecords.pop_front();
            at = next;
            continue;
        }
        // A frame that goes on beyond what was read: read on, unless the file ends there
        // (the torn tail of a write that was cut short).
        const qint64 read = offset + chunk.size();
        if (frame != SpoolFormat::Frame::Short || read >= size)
            break;
        const QByteArray more = readAt(read, std::min(kReadChunk, size - read));
        chunk = chunk.mid(at) + more;
        offset += at;
        at = 0;
    }
    m_content.end = offset + at;
    m_content.chain = chain;
}

LeftSpool::Verdict LeftSpool::judge(const SpoolFormat::Header &table,
                                    const StoredRows &rows) const {
    if (m_read == SpoolFormat::Header::Read::Blank)
        return Verdict::Empty;
    if (m_read == SpoolFormat::Header::Read::Foreign)
        return Verdict::Unreadable;
    if (m_content.count == 0)
        return Verdict::Empty;
    const SpoolFormat::Header &left = m_content.header;
    if (left.device != table.device || left.file != table.file)
        return Verdict::NotThisTable;
    const bool asBefore = left.storedRows == table.storedRows && left.lastKey == table.lastKey;
    // A clearing was under way: unless the table is still as it was before it (an empty table
    // looks the same either way), it took place, the records with it, whatever came after.
    if (left.clearing)
        return asBefore && table.storedRows > 0 ? Verdict::Offer : Verdict::Cleared;
    if (asBefore)
        return Verdict::Offer;
    // The run may have saved them and ended before the spool said so: then the table holds
    // them right after the records it held when they began.
    const QList<RecordValues> last(m_lastRecords.begin(), m_lastRecords.end());
    if (table.storedRows >= left.storedRows + m_content.count &&
        matchesStored(left.storedRows, m_firstRecords, rows) &&
        matchesStored(left.storedRows + m_content.count - last.size(), last, rows))
        return Verdict::Saved;
    return Verdict::NotThisTable;
}

bool LeftSpool::matchesStored(qint64 first, const QList<RecordValues> &records,
                              const StoredRows &rows) const {
    QList<RecordRow> stored;
    try {
        stored = rows(first, int(records.size()));
    } catch (const std::exception &) {
        return false;
    }
    if (stored.size() != records.size())
        return false;
    for (qsizetype i = 0; i < records.size(); ++i)
        if (stored[i].texts != RecordRow::fromValues(records[i]).texts)
            return false;
    return true;
}

LeftRecords LeftSpool::records() const {
    LeftRecords left;
    left.count = m_content.count;
    if (!m_firstRecords.isEmpty()) {
        left.first = m_firstRecords.first().time;
        left.last = m_lastRecords.back().time;
    }
    return left;
}

std::unique_ptr<PendingSpool> LeftSpool::adopt() {
    return std::make_unique<PendingSpool>(std::move(m_file), m_path, m_content);
}

bool LeftSpool::remove() {
    const FileIdentity read = FileIdentity::of(*m_file);
    m_file->close();
    // Whatever took the name since is not what was read.
    return read.isAt(m_path) && SpoolIo::current().remove(m_path);
}

QString LeftSpool::setAside(const QString &suffix) {
    const FileIdentity read = FileIdentity::of(*m_file);
    m_file->close();
    if (!read.isAt(m_path))
        return QString();
    for (int n = 1; n <= 100; ++n) {
        const QString name = m_path + suffix + (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        if (FileIdentity::of(name).isValid())
            continue;
        return SpoolIo::current().rename(m_path, name) ? name : QString();
    }
    return QString();
}
