#pragma once

#include "recordrow.h"
#include "recordvalues.h"

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
class PendingSpool;

/// The record table: one table of measurements in a SQLite file, held exclusively by this
/// program while it is open.
///
/// Appended records stay pending until applyUpdates(): the connection keeps one write
/// transaction open for as long as the table is open, so pending records cost the engine's
/// page cache and not the program's memory however many there are, and close() (or a crash)
/// drops them. The exclusive lock taken with that transaction keeps a second copy of the
/// program out of the file.
///
/// Rows are addressed by position in key order. Keys normally run without gaps, but a table
/// written elsewhere may have holes, so the table keeps the key of every kAnchorStride-th row
/// and reaches any row from the anchor below it.
///
/// A write that fails for lack of space or an I/O error may end that transaction, and the
/// pending records with it. So every appended record also goes to a PendingSpool beside the
/// file, whose space was reserved before the disk filled. When the engine drops the
/// transaction the table is "detached": the stored rows come from the file, the pending ones
/// from the spool, in the same positions as before, and the next save writes them into the
/// file again. Nothing reaches the file but by a save, whatever failed.
///
/// Failures throw std::runtime_error carrying the engine's message and the file name; a write
/// that failed for lack of space or an I/O error throws WriteFailure. After such a failure
/// appends are refused for a while: the first refusal throws WriteFailure, the later ones
/// AppendRefused, and the table tries again at most once a second, once the disk has room.
class RecordTable : public QObject {
    Q_OBJECT

public:
    /// A write failed for lack of space or an I/O error; the pending records are kept.
    class WriteFailure : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    /// An append refused because the failure that began the refusals still holds; it was
    /// reported when it began.
    class AppendRefused : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    /// Free bytes where the table file lives.
    using SpaceProbe = std::function<qint64(const QString &folder)>;
    static constexpr int kRetryMs = 1000;

    enum class OpenMode { CreateIfMissing, MustExist };

    /// The fields every record table has, spelled as the table is created.
    static const QStringList &fieldNames();
    static constexpr int kAnchorStride = 256;
    /// SQL that creates an empty record table named `tableName`.
    static QString createSql(const QString &tableName);

    explicit RecordTable(QObject *parent = nullptr);
    ~RecordTable() override;

    /// Opens the table file at `path` for exclusive use. With CreateIfMissing a missing file
    /// (or a file without any table) gets an empty record table. Closes the current table
    /// first. On failure the table is closed and fileName() is `path`.
    void open(const QString &path, OpenMode mode);
    /// Drops pending records and releases the file. Harmless when closed.
    void close();
    bool isOpen() const { return m_open; }
    /// The file last given to open(), also after a failed open.
    QString fileName() const { return m_fileName; }
    /// Name of the table inside the file.
    QString tableName() const { return m_tableName; }

    /// Appends one record at the end; it is pending until applyUpdates().
    void append(const RecordValues &values);
    /// Writes the pending records into the stored table. On failure they stay pending.
    void applyUpdates();
    /// Stored and pending records.
    qint64 count() const;
    /// Records appended since the last save (or open, or empty()).
    qint64 pendingCount() const;
    /// Removes every record, stored and pending, at once. On failure nothing is removed.
    void empty();
    /// Whether appends are being refused after a failed write.
    bool appendsRefused() const { return m_refusing; }
    /// Replaces how the free space of the table's folder is asked (for tests).
    void setSpaceProbe(SpaceProbe probe) { m_spaceProbe = std::move(probe); }
    /// The pending records when the engine no longer holds them, else null.
    const PendingSpool *detachedSpool() const;

    /// Up to `n` rows from position `first` on, in key order. Empty on any failure: views
    /// ask for rows while painting and must not fail.
    QList<RecordRow> rows(qint64 first, int n) const;

    /// The engine's own handle of the open connection, for the bulk commands (RecordWalk).
    /// Throws when the table is closed.
    struct sqlite3 *nativeHandle() const;

signals:
    /// Before the content changes as a whole (open, close, empty, a rolled-back save).
    void aboutToReset();
    void reset();
    /// After a record was appended at position `row`.
    void appended(qint64 row);

private:
    void requireOpen() const;
    [[noreturn]] void fail(const QString &what, const class QSqlError &error) const;
    void exec(const QString &sql);
    /// Makes the spool where there is none; WriteFailure when the disk has no room for it.
    void ensureSpool();
    /// Appends once, into the spool and, unless detached, the engine.
    void appendOnce(const RecordValues &values);
    bool insert(const RecordValues &values);
    /// Runs `work` in the open transaction and commits. On failure the transaction is put
    /// back as it was before `work`, or, when the engine ended it, the table detaches; then
    /// it throws.
    void commitWith(const std::function<void()> &work);
    /// Starts the write transaction when none is open, so that nothing is ever written
    /// outside one.
    void ensureTransaction();
    bool inTransaction() const;
    /// The engine dropped the open transaction: the pending records are read from the spool.
    void detach();
    bool hasRoom() const;
    QString spoolPath() const;
    QString chooseTable(bool mayCreate);
    QString missingField();
    void checkFields();
    void loadPositions();
    void reloadAfterFailure();
    void releaseConnection();

    QString m_fileName;
    QString m_connection;
    struct sqlite3 *m_handle = nullptr;
    QString m_tableName;
    bool m_open = false;
    qint64 m_count = 0;            // stored and pending
    qint64 m_dbRows = 0;           // rows the engine holds: all of them unless detached
    std::vector<qint64> m_anchors; // key of rows 0, kAnchorStride, 2 * kAnchorStride, ...
    std::unique_ptr<PendingSpool> m_spool;
    bool m_detached = false;
    bool m_refusing = false;
    QElapsedTimer m_lastTry;
    SpaceProbe m_spaceProbe;
    std::optional<QSqlQuery> m_insert;
    /// Reads the rows for the views, their texts cut short.
    std::unique_ptr<CappedRowReader> m_page;
};
