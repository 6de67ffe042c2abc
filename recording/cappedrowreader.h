#pragma once

#include "recordrow.h"

#include <QList>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_blob;

/// Reads the records of a table for the views (the grid, the report) as RecordRows, with
/// every text cut to RecordRow::kMaxChars before it is converted or laid out.
///
/// A table written elsewhere may hold texts of any size; loading a 100 MB value to show its
/// first characters took seconds and gigabytes. So values longer than kLoadBytes are never
/// loaded: while a page is read the engine's length limit is lowered to kLoadBytes, a row
/// that holds a longer value fails alone, and that row is read apart: the first bytes of
/// each long value through the engine's incremental blob reads, its other fields by a
/// statement that leaves the long ones out. Fields stored after a long value still cost
/// the engine a walk over the value's pages (about 30 ms per 100 MB); nothing is copied.
class CappedRowReader {
public:
    /// Values up to this many bytes are loaded whole, then cut.
    static constexpr int kLoadBytes = 64 * 1024;
    /// Bytes read of a longer value: enough for kMaxChars characters of any UTF-8.
    static constexpr int kPrefixBytes = 4 * int(RecordRow::kMaxChars);

    /// Prepares the reads of `table` on the open connection `db`, its rows found by `key`:
    /// SQL for the row number (RecordTable::keyColumn()), which is also what the blob reads
    /// take. Throws std::runtime_error with the engine's message.
    CappedRowReader(sqlite3 *db, const QString &table, const QString &key);
    ~CappedRowReader();
    CappedRowReader(const CappedRowReader &) = delete;
    CappedRowReader &operator=(const CappedRowReader &) = delete;

    /// Appends to `out` up to `n` rows in key order, starting `skip` rows after the row whose
    /// key is `fromKey` (or the first key above it). Returns false when the engine failed;
    /// the rows read until then are in `out`. Holds no read on the file when it returns.
    bool read(qint64 fromKey, qint64 skip, int n, QList<RecordRow> &out);
    /// The engine's message for the last read that failed.
    QString lastError() const { return m_error; }

private:
    sqlite3_stmt *prepare(const QString &sql) const;
    /// The key of the row `skip` rows after `fromKey` (skip 0: `fromKey` or the next above).
    bool keyAt(qint64 fromKey, qint64 skip, qint64 *key);
    /// The row of `key`, which holds at least one value longer than kLoadBytes.
    bool readLongRow(qint64 key, RecordRow *row);
    void noteError();

    sqlite3 *m_db;
    QString m_table;
    QString m_keyColumn;
    sqlite3_stmt *m_page = nullptr;
    sqlite3_stmt *m_key = nullptr;
    QString m_error;
};
