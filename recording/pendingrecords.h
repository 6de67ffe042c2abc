#pragma once

#include "leftrecords.h"
#include "leftspool.h"
#include "pendingspool.h"
#include "recordvalues.h"
#include "spoolformat.h"

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
/// The spool also outlives a run that ends without closing the table: takeOverLeft() finds
/// what such a run left and, when the user keeps them, its records are pending again,
/// detached, held by the spool alone until the next save writes them into the file.
///
/// The spool is made in one place, ensureSpool(), once per table opened, or taken over from
/// the run before.
class PendingRecords {
public:
    /// Records for the table file `tableFile`; the spool, once made, lives beside it.
    explicit PendingRecords(const QString &tableFile);
    ~PendingRecords();
    PendingRecords(const PendingRecords &) = delete;
    PendingRecords &operator=(const PendingRecords &) = delete;

    /// The table's identity and stored state, which the spool names as where its records
    /// begin (SpoolFormat::Header, salt aside).
    void setTable(const SpoolFormat::Header &table) { m_table = table; }
    /// Settles a spool that a run left behind, before this run makes its own: records made
    /// at the table's state now are offered to `keep` (an empty `keep` keeps them) and, kept,
    /// become the pending records; records the table holds already, or none, go with the
    /// file; a spool of another state of the table, or one that cannot be read, is set aside
    /// under a name that says so, and the returned text tells the user. `rows` reads the
    /// table's stored rows. Throws SafeFile::Refused when what is there is not a plain file
    /// of this user's, or could not be set aside: it stays, and no spool can be made.
    QString takeOverLeft(const LeftSpool::StoredRows &rows, const KeepLeftRecords &keep);
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
    /// The records were saved or removed: none pending, the engine holds everything again,
    /// and the spool's records begin at the table's state `table`.
    void clear(const SpoolFormat::Header &table);
    /// Notes in the spool that the table is being cleared (true), or no longer (false); why
    /// the disk did not take the mark (PendingSpool::markClearing()), empty when it did.
    QString markClearing(bool clearing);

    /// Has the spool's records written and synced (PendingSpool::secure()).
    void secure();
    bool hasUnsecured() const { return m_spool && m_spool->hasUnsecured(); }
    bool waitUntilSecured(int timeoutMs) const;
    /// Why securing the records failed, once; empty when it did not.
    QString takeFailure() { return m_spool ? m_spool->takeFailure() : QString(); }

    /// Up to `n` records from position `first` (from 0) on. Throws std::runtime_error when
    /// the spool cannot be read.
    QList<RecordValues> read(qint64 first, int n) const;

private:
    QString m_spoolPath;
    SpoolFormat::Header m_table;
    std::unique_ptr<PendingSpool> m_spool;
    bool m_detached = false;
};
