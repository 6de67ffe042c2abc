#pragma once

#include "pendingspool.h"
#include "recordvalues.h"

#include <QList>
#include <QString>

#include <memory>

struct sqlite3;

/// The records appended to a record table since its last save, and where they are read from.
///
/// Every pending record is kept twice: in the table engine's open transaction and in a
/// PendingSpool beside the table file. The engine may drop its transaction, and the records
/// with it, whenever one of its calls fails for lack of space or an I/O error: a write, or a
/// read that made it spill its page cache to a full disk. From then on the records are
/// "detached": the spool is their only holder, the engine holds the stored records alone,
/// and the next save writes the spool into the file. So nobody may begin a new transaction
/// on the engine while records are pending without calling followEngine() first.
///
/// The spool is made in one place, ensureSpool(), once per table opened.
class PendingRecords {
public:
    /// Records for the table file `tableFile`; the spool, once made, lives beside it.
    explicit PendingRecords(const QString &tableFile);
    ~PendingRecords();
    PendingRecords(const PendingRecords &) = delete;
    PendingRecords &operator=(const PendingRecords &) = delete;

    /// Makes the spool where there is none, reserving its first block. Throws
    /// std::runtime_error with the file system's message when the disk has no room for it.
    void ensureSpool();
    QString spoolPath() const { return m_spoolPath; }

    qint64 count() const { return m_spool ? m_spool->count() : 0; }
    /// Whether the engine dropped them, so that the spool alone holds them.
    bool isDetached() const { return m_detached; }
    /// The spool while it alone holds the records, else null.
    const PendingSpool *detachedSpool() const { return m_detached ? m_spool.get() : nullptr; }

    /// Keeps one more record in the spool. Throws std::runtime_error, keeping nothing, when
    /// the room reserved for the spool is used up and the disk has no more.
    void keep(const RecordValues &record);
    /// Takes back the record of the last keep() (the engine refused it).
    void takeBackLast();
    /// From now on the records are read from the spool alone.
    void detach();
    /// The engine holds the records again, after the stored ones (they were written into it
    /// anew); the spool keeps them too.
    void attach() { m_detached = false; }
    /// Asks `engine` whether the transaction that holds the pending records is still open;
    /// when it is not, detaches. True when it detached just now.
    bool followEngine(sqlite3 *engine);
    /// The records were saved or removed: none pending, the engine holds everything again.
    void clear();

    /// Up to `n` records from position `first` (from 0) on. Throws std::runtime_error when
    /// the spool cannot be read.
    QList<RecordValues> read(qint64 first, int n) const;

private:
    QString m_spoolPath;
    std::unique_ptr<PendingSpool> m_spool;
    bool m_detached = false;
};
