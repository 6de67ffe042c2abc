#include "recordwalk.h"

#include "recordtable.h"

#include <QString>

#include <sqlite3.h>

#include <stdexcept>

namespace {

[[noreturn]] void raise(const RecordTable &table, const char *what) {
    throw std::runtime_error(
        QStringLiteral("%1: %2").arg(table.fileName(), QString::fromUtf8(what)).toStdString());
}

/// A step of the engine failed: the table learns whether it took the transaction, and the
/// failure goes to the caller, as a WriteFailure when it came from a lack of space or an I/O
/// error (a read that had to spill the page cache to a full disk).
[[noreturn]] void raiseStep(const RecordTable &table, sqlite3_stmt *statement) {
    sqlite3 *db = sqlite3_db_handle(statement);
    const int code = sqlite3_errcode(db) & 0xFF;
    const QByteArray message = sqlite3_errmsg(db);
    table.checkTransaction();
    if (code == SQLITE_FULL || code == SQLITE_IOERR)
        throw RecordTable::WriteFailure(QStringLiteral("%1: %2")
                                            .arg(table.fileName(), QString::fromUtf8(message))
                                            .toStdString());
    raise(table, message.constData());
}

} // namespace

RecordWalk::RecordWalk(const RecordTable &table) : m_table(table), m_expected(table.count()) {
    // Where the pending records are must be known before the walk starts.
    table.checkTransaction();
    m_statement = prepare(RecordSchema::walkSql(table.tableName(), table.keyColumn()));
    m_current = m_statement;
    if (const PendingSpool *spool = table.detachedSpool()) {
        try {
            m_pendingRow = prepare(RecordSchema::boundRowSql());
        } catch (...) {
            sqlite3_finalize(m_statement);
            throw;
        }
        m_pending.emplace(*spool, 0);
    }
}

RecordWalk::~RecordWalk() {
    sqlite3_finalize(m_statement);
    sqlite3_finalize(m_pendingRow);
}

sqlite3_stmt *RecordWalk::prepare(const QString &sql) const {
    sqlite3 *db = m_table.nativeHandle();
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr) !=
        SQLITE_OK) {
        const QByteArray message = sqlite3_errmsg(db);
        sqlite3_finalize(statement);
        raise(m_table, message.constData());
    }
    return statement;
}

bool RecordWalk::next() {
    if (m_current == m_statement) {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return counted(true);
        if (rc != SQLITE_DONE)
            raiseStep(m_table, m_statement);
        // Ends the read so that it holds nothing across the next commit.
        sqlite3_reset(m_statement);
        if (!m_pending)
            return counted(false);
        m_current = m_pendingRow;
    }
    return counted(nextPending());
}

bool RecordWalk::counted(bool more) {
    if (more) {
        ++m_walked;
        return true;
    }
    // However the engine came to answer short, a walk that missed records is no walk of the
    // table: an export must fail rather than leave a file without them.
    if (m_walked != m_expected)
        throw std::runtime_error(QStringLiteral("%1: %2 of its %3 records could be read")
                                     .arg(m_table.fileName())
                                     .arg(m_walked)
                                     .arg(m_expected)
                                     .toStdString());
    return false;
}

bool RecordWalk::nextPending() {
    RecordValues record;
    sqlite3_reset(m_pendingRow);
    if (!m_pending->next(&record))
        return false;
    m_texts[Time] = RecordValues::storedTime(record.time).toUtf8();
    m_texts[DcAc] = record.dcAc.toUtf8();
    m_texts[Value] = record.value.toUtf8();
    m_texts[Unit] = record.unit.toUtf8();
    m_texts[Auto] = record.autoText.toUtf8();
    // A parameter is numbered after its field.
    sqlite3_bind_int(m_pendingRow, No + 1, record.no);
    for (int f = Time; f <= Auto; ++f)
        sqlite3_bind_text(m_pendingRow, f + 1, m_texts[f].constData(), int(m_texts[f].size()),
                          SQLITE_STATIC);
    sqlite3_bind_double(m_pendingRow, Nval + 1, record.nval);
    if (sqlite3_step(m_pendingRow) != SQLITE_ROW)
        raiseStep(m_table, m_pendingRow);
    return true;
}

bool RecordWalk::isText(int column) const {
    return sqlite3_column_type(m_current, column) == SQLITE_TEXT;
}

QByteArray RecordWalk::rawText(int column) const {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_current, column));
    return QByteArray(text, sqlite3_column_bytes(m_current, column));
}

QVariant RecordWalk::value(int column) const {
    switch (sqlite3_column_type(m_current, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_current, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_current, column));
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB:
        return QVariant(
            QByteArray(static_cast<const char *>(sqlite3_column_blob(m_current, column)),
                       sqlite3_column_bytes(m_current, column)));
    default:
        return QVariant(QString::fromUtf8(rawText(column)));
    }
}
