#pragma once

#include "recordrow.h"
#include "recordvalues.h"

#include <QList>
#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

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
/// Failures throw std::runtime_error carrying the engine's message and the file name.
class RecordTable : public QObject {
    Q_OBJECT

public:
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
    /// Writes the pending records into the stored table.
    void applyUpdates();
    /// Stored and pending records.
    qint64 count() const;
    /// Removes every record, stored and pending, at once.
    void empty();

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
    /// Commits and starts the next transaction; `*lost` tells whether a failed commit took
    /// the pending records with it.
    void commitAndBegin(bool *lost);
    QString chooseTable(bool mayCreate);
    QString missingField();
    void checkFields();
    void loadPositions();
    void reloadAfterFailure();
    void releaseConnection();

    QString m_fileName;
    QString m_connection;
    QString m_tableName;
    bool m_open = false;
    qint64 m_count = 0;
    std::vector<qint64> m_anchors; // key of rows 0, kAnchorStride, 2 * kAnchorStride, ...
    std::optional<QSqlQuery> m_insert;
    mutable std::optional<QSqlQuery> m_page;
};
