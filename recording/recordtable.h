#pragma once

#include "fileidentity.h"
#include "leftrecords.h"
#include "recordrow.h"
#include "recordvalues.h"
#include "rowindex.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class CappedRowReader;
class PendingRecords;
class PendingSpool;
class QTimer;
namespace SpoolFormat {
struct Header;
}

/// The record table: one table of measurements in a SQLite file, held exclusively by this
/// program while it is open.
///
/// Appended records stay pending until applyUpdates(): the connection keeps one write
/// transaction open for as long as the table is open, so pending records cost the engine's
/// page cache and not the program's memory however many there are, and close() (or a crash)
/// drops them. The exclusive lock taken with that transaction keeps a second copy of the
/// program out of the file.
///
/// Rows are addressed by position in key order, found through a RowIndex.
///
/// Any call of the engine that fails for lack of space or an I/O error, a read as well as a
/// write, may end that transaction and the pending records with it. So they are also kept
/// by PendingRecords, in a spool beside the file whose space was reserved before the disk
/// filled; after every failed call the table asks the engine whether its transaction
/// survived, and when it did not the table is "detached": the stored rows come from the
/// file, the pending ones from the spool, in the same positions as before, and the next
/// save writes them into the file again. A failed append detaches too, rolling the engine
/// back to the last save, and the record goes to the spool alone: recording goes on while
/// the spool's reserved room lasts. Nothing reaches the file but by a save.
///
/// The spool is also the table's recovery journal: what is appended reaches its file within a
/// second (securePending(), at most once a second while records come, its sync off this
/// thread), and a run that ends without closing the table (a crash, a power cut) leaves it
/// behind. The next open finds it and offers its records back when they were made at the
/// table's state now; taken, they are pending again and the next save stores them. A spool
/// made for another state of the table is never applied: it is set aside and the user told.
///
/// A file written elsewhere is taken as found but never lets its schema act: the connection
/// runs no trigger, a record table with triggers (or a view in its place) is not recorded
/// into, and rows are found by the row number under a name that no column shadows. The
/// table's name must not be a symbolic link (the engine would write wherever it points), and
/// the file's identity is kept, so that a save into a file that has since been moved,
/// removed or replaced is never taken for a save at its path.
///
/// Failures throw std::runtime_error carrying the engine's message and the file name; one
/// that came from a lack of space or an I/O error throws WriteFailure. Failures that no
/// caller hears of, because the operation went on (a view's read, an append kept in the
/// spool alone), are told by the signals readFailed() and detachedAfterFailure().
class RecordTable : public QObject {
    Q_OBJECT

public:
    /// A call failed for lack of space or an I/O error; the pending records are kept.
    class WriteFailure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    /// A save or a clearing failed when the file may have taken it already, and the engine
    /// cannot say yet. The records stay pending; the next save stores each of them once.
    class MaybeDone : public WriteFailure {
    public:
        using WriteFailure::WriteFailure;
    };
    /// The table's path no longer names the file the table was opened from (it was moved,
    /// removed or replaced): nothing was saved there, and the pending records are kept.
    class FileMoved : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    enum class OpenMode { CreateIfMissing, MustExist };

    explicit RecordTable(QObject *parent = nullptr);
    ~RecordTable() override;

    /// Opens the table file at `path` for exclusive use. With CreateIfMissing a missing file
    /// (or a file without any table) gets an empty record table. Closes the current table
    /// first. On failure the table is closed and fileName() is `path`. A file the program
    /// may not write opens read-only.
    ///
    /// Records that a run left unsaved beside the file, made at the table's state now, are
    /// offered to `keepLeft` once the table is open (an empty `keepLeft` keeps them): kept,
    /// they are pending records, as if just appended; otherwise they are removed. No append
    /// is taken while `keepLeft` decides. A spool left for another state of the table is set
    /// aside; setAsideNotice() says so.
    void open(const QString &path, OpenMode mode, const KeepLeftRecords &keepLeft = {});
    /// What the last open() did with a spool left beside the table that it did not apply, as
    /// a sentence for the user; empty when there was none.
    QString setAsideNotice() const { return m_setAsideNotice; }
    /// Drops pending records and releases the file. Harmless when closed.
    void close();
    bool isOpen() const { return m_open; }
    /// Whether the open table can only be read (its file is read-only to this program).
    bool isReadOnly() const { return m_open && m_readOnly; }
    /// Why readings cannot be recorded into the open table, as a sentence for the user; empty
    /// when they can. A read-only file, or a record table with triggers (which would act on
    /// every reading), refuse every write for as long as the table is open; the spool's name
    /// taken by something else (a link, a folder, another user's file) refuses appends until
    /// it is taken away.
    QString recordingRefusal() const;
    /// Whether the table's path still names the file it was opened from (true when closed).
    bool isAtItsPath() const;
    /// Throws FileMoved unless isAtItsPath().
    void requireAtPath() const;
    /// The file last given to open(), also after a failed open.
    QString fileName() const { return m_fileName; }
    /// Name of the table inside the file.
    QString tableName() const { return m_tableName; }
    /// How the table's rows are addressed in SQL, in key (table) order: the row number under
    /// a name no column shadows, for a table written elsewhere that has a column "_rowid_".
    QString keyColumn() const { return m_key; }

    /// Appends one record at the end; it is pending until applyUpdates(). When the engine
    /// fails to take it for lack of space or an I/O error, the record is kept in the spool
    /// alone (detachedAfterFailure() tells so); only when the spool has no room either does
    /// it throw WriteFailure, keeping nothing of it.
    void append(const RecordValues &values);
    /// Writes the pending records into the stored table. On failure they stay pending; when
    /// the file is no longer at its path (checked before and after the write) it throws
    /// FileMoved and they stay pending too.
    void applyUpdates();
    /// Stored and pending records.
    qint64 count() const;
    /// Records appended since the last save (or open, or empty()).
    qint64 pendingCount() const;
    /// Removes every record, stored and pending, at once. On failure (FileMoved when the file
    /// is no longer at its path) nothing is removed.
    void empty();
    /// The pending records when the engine no longer holds them, else null.
    const PendingSpool *detachedSpool() const;
    /// Writes the pending records to the spool's file and has them synced, off this thread.
    /// The table does this by itself, at most once a second, while records come.
    void securePending();
    /// Waits until the syncs asked for so far are done (a test, a benchmark); false after
    /// `timeoutMs`.
    bool waitUntilSecured(int timeoutMs) const;
    /// Asks the engine whether it still holds the pending records; when a failed call took
    /// its transaction, they are read from the spool from then on. Callers that saw a call
    /// of the engine fail ask this before anything else.
    void checkTransaction() const;

    /// Up to `n` rows from position `first` on, in key order, for views, which ask while
    /// painting and must not fail: on a failure the rows that could be read, and
    /// readFailed() says why.
    QList<RecordRow> rows(qint64 first, int n) const;
    /// The same rows (clipped to count()), all of them, or std::runtime_error saying why not.
    QList<RecordRow> readRows(qint64 first, int n) const;

    /// The engine's own handle of the open connection, for the bulk commands (RecordWalk).
    /// Throws when the table is closed.
    struct sqlite3 *nativeHandle() const;

signals:
    /// Before the content changes as a whole (open, close, empty, a rolled-back save).
    void aboutToReset();
    void reset();
    /// After a record was appended at position `row`.
    void appended(qint64 row);
    /// A read for a view failed: the rows it asked for are missing. `text` is the engine's
    /// message with the file name.
    void readFailed(const QString &text);
    /// A failed call took the engine's transaction, or a failed append made the table give
    /// it up: the pending records are kept in the spool and read from there until the next
    /// save. Told only where no exception carries the failure to a caller.
    void detachedAfterFailure(const QString &text);
    /// The pending records could not be written to the spool's file or synced: they are kept,
    /// but a crash or a power cut may lose them. `text` says why.
    void journalFailed(const QString &text);

private:
    void requireOpen() const;
    QString describe(const QSqlError &error) const;
    [[noreturn]] void fail(const QString &what, const QSqlError &error) const;
    void exec(const QString &sql);
    bool insert(const RecordValues &values);
    /// Inserts a record into the engine's open transaction (begun if needed).
    bool insertAttached(const RecordValues &values, QSqlError *error);
    /// After a write that failed for lack of space or an I/O error: the engine goes back to
    /// the last save and the pending records are read from the spool. False when the engine
    /// could not be put back (it still holds its transaction).
    bool detachAfterFailedWrite();
    /// What a commit does when the file turns out to have left its path while it was written.
    enum class AfterMove {
        KeepPending, ///< the records committed stay pending for the user; FileMoved is thrown
        Apply,       ///< the commit counts as done
    };
    /// Runs `work` in the open transaction and commits, then `committed` (which must not
    /// throw) before a new transaction begins. On failure the transaction is put back as it
    /// was before `work`, or, when the engine ended it, the table detaches; then it throws.
    /// Throws FileMoved, having written nothing, when the file is not at its path.
    ///
    /// A commit can fail after the file took it (the engine finishes its journal once the
    /// file is synced): when the engine ended the transaction, the file holding `rowsIfDone`
    /// rows (other than the stored ones) means the commit was done, and it counts as such.
    void commitWith(const std::function<void()> &work, const std::function<void()> &committed,
                    AfterMove afterMove, qint64 rowsIfDone);
    /// The rows the engine has stored in the file now, outside any transaction; -1 when it
    /// cannot tell.
    qint64 storedRowsNow() const;
    /// After a commit into a file that left its path: the records stay pending, now held by
    /// the engine as they are while attached.
    void keepPendingAfterCommit();
    /// Starts the write transaction when none is open, so that nothing is ever written
    /// outside one; pending records the engine dropped are detached first.
    void ensureTransaction();
    bool inTransaction() const;
    /// checkTransaction(), true when it detached just now.
    bool noticeLostTransaction() const;
    /// Rows the engine holds: the stored ones, and the pending ones unless detached.
    qint64 engineRows() const;
    /// Reads rows into `out`; false with `error` set when not all of them could be read.
    bool tryRows(qint64 first, int n, QList<RecordRow> *out, QString *error) const;
    /// tryRows(), and once more from the spool when the failure took the transaction.
    bool fetchRows(qint64 first, int n, QList<RecordRow> *out, QString *error) const;
    /// Reads are const to their callers, but what they find out is news for the window.
    void tell(void (RecordTable::*signal)(const QString &), const QString &text) const;
    QString chooseTable(bool mayCreate);
    /// Throws when `name` is a view in the file.
    void refuseView(const QString &name);
    /// The SQL name of the row number of the chosen table; throws when no name reaches it.
    QString chooseKey();
    /// Why the chosen table's triggers refuse recording; empty when it has none.
    QString triggersRefusal();
    /// Keeps a foreign schema's code from running on this connection.
    void hardenConnection();
    /// Throws when `path` is a symbolic link.
    void refuseLink(const QString &path);
    void requireWritable() const;
    QString missingField();
    void checkFields();
    void loadPositions();
    void releaseConnection();
    /// The spool's header for the table as it is now: its identity and stored state.
    SpoolFormat::Header tableHeader() const;
    /// The key of the last stored row (0 for none), or -1 when the engine cannot tell.
    qint64 queryLastKey() const;
    /// Settles a spool left beside the file by a run before, then makes this run's.
    void settleLeftSpool(const KeepLeftRecords &keepLeft);
    /// Has the pending records secured within a second, at most once a second.
    void armSecure();

    QString m_fileName;
    QString m_connection;
    struct sqlite3 *m_handle = nullptr;
    QString m_tableName;
    bool m_open = false;
    bool m_readOnly = false;
    QString m_writeRefusal;  ///< why nothing may be written, for as long as the table is open
    QString m_spoolRefusal;  ///< why the spool could not be made at open
    FileIdentity m_identity; ///< the file opened, to tell when its path names another
    QString m_key;
    RowIndex m_rows;
    std::unique_ptr<PendingRecords> m_pending;
    std::optional<QSqlQuery> m_insert;
    /// Reads the rows for the views, their texts cut short.
    std::unique_ptr<CappedRowReader> m_page;
    QString m_setAsideNotice;
    bool m_settlingLeft = false; ///< the user decides about the records a run left
    QTimer *m_secureTimer = nullptr;
    QElapsedTimer m_sinceSecure;
};
