#pragma once

#include "pendingspool.h"
#include "recordschema.h"

#include <QByteArray>
#include <QVariant>

#include <optional>

struct sqlite3_stmt;
class RecordTable;

/// A forward walk over every record of an open table in table order, for the bulk commands
/// (text export, table copy). It reads through the engine's own statement interface rather
/// than row-by-row variants: at a million records the variants cost most of the time.
/// The walk must end before its table is closed. Records the engine no longer holds after a
/// failed call (they wait in the table's spool) come last, as rows of the same shape. A walk
/// that ends short of the table's count throws: no export may pass for complete without
/// every record.
class RecordWalk {
public:
    /// Columns are the schema's fields, all of them.
    using enum RecordSchema::Field;
    static constexpr int ColumnCount = RecordSchema::FieldCount;

    /// Throws std::runtime_error when the table is closed or cannot be read.
    explicit RecordWalk(const RecordTable &table);
    ~RecordWalk();
    RecordWalk(const RecordWalk &) = delete;
    RecordWalk &operator=(const RecordWalk &) = delete;

    /// Moves to the next record; false at the end. Throws on a read error, as
    /// RecordTable::WriteFailure when it came from a lack of space or an I/O error.
    bool next();

    /// Whether the field holds text (the usual case for all but No, Key and Nval).
    bool isText(int column) const;
    /// The field's text as stored, UTF-8; only meaningful when isText().
    QByteArray rawText(int column) const;
    /// The field as Qt's SQLite driver would give it: integer, real, text, blob or null.
    QVariant value(int column) const;
    /// The statement, positioned on the current record.
    sqlite3_stmt *statement() const { return m_current; }

private:
    sqlite3_stmt *prepare(const QString &sql) const;
    bool nextPending();
    /// Counts a record when `more`; at the end, checks that every record was walked.
    bool counted(bool more);

    const RecordTable &m_table;
    qint64 m_expected = 0;
    qint64 m_walked = 0;
    sqlite3_stmt *m_statement = nullptr;
    sqlite3_stmt *m_current = nullptr;
    /// A row of the spool presented as a row of the table: `SELECT` of its bound values.
    sqlite3_stmt *m_pendingRow = nullptr;
    std::optional<PendingSpool::Cursor> m_pending;
    /// The texts bound to m_pendingRow, by field.
    QByteArray m_texts[RecordSchema::kShownFields];
};
