#include "cappedrowreader.h"

#include "recordschema.h"

#include <sqlite3.h>

#include <algorithm>
#include <bitset>
#include <stdexcept>

namespace {

/// The engine's length limit lowered while a page is read: a longer value then fails its
/// row at once instead of being loaded.
class LengthLimit {
public:
    LengthLimit(sqlite3 *db, int bytes)
        : m_db(db), m_old(sqlite3_limit(db, SQLITE_LIMIT_LENGTH, bytes)) {}
    ~LengthLimit() { sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, m_old); }
    LengthLimit(const LengthLimit &) = delete;
    LengthLimit &operator=(const LengthLimit &) = delete;

private:
    sqlite3 *m_db;
    int m_old;
};

/// Field `i` of the statement's row as the engine holds it, texts and bytes cut short.
QVariant cell(sqlite3_stmt *statement, int i) {
    switch (sqlite3_column_type(statement, i)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(statement, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, i));
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB: {
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement, i));
        const int size = sqlite3_column_bytes(statement, i);
        return QVariant(QByteArray(bytes, std::min(size, CappedRowReader::kPrefixBytes)));
    }
    default: {
        // As Qt's own driver reads a text: the engine turns it into UTF-16.
        const auto *text = static_cast<const QChar *>(sqlite3_column_text16(statement, i));
        const qsizetype units = sqlite3_column_bytes16(statement, i) / qsizetype(sizeof(QChar));
        return QVariant(
            RecordRow::capped(QString(text, std::min(units, RecordRow::kMaxChars + 1))));
    }
    }
}

RecordRow rowOf(sqlite3_stmt *statement) {
    std::array<QVariant, RecordRow::ColumnCount> fields;
    for (int c = 0; c < RecordRow::ColumnCount; ++c)
        fields[std::size_t(c)] = cell(statement, c);
    return RecordRow::fromFields(fields);
}

} // namespace

CappedRowReader::CappedRowReader(sqlite3 *db, const QString &table, const QString &key)
    : m_db(db), m_table(table), m_keyColumn(key) {
    m_page = prepare(RecordSchema::pageSql(table, key));
    try {
        m_key = prepare(RecordSchema::keyAtSql(table, key));
    } catch (...) {
        sqlite3_finalize(m_page);
        throw;
    }
}

CappedRowReader::~CappedRowReader() {
    sqlite3_finalize(m_page);
    sqlite3_finalize(m_key);
}

sqlite3_stmt *CappedRowReader::prepare(const QString &sql) const {
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &statement, nullptr) !=
        SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(statement);
        throw std::runtime_error(message.toStdString());
    }
    return statement;
}

bool CappedRowReader::read(qint64 fromKey, qint64 skip, int n, QList<RecordRow> &out) {
    int got = 0;
    while (got < n) {
        int rc = SQLITE_DONE;
        {
            const LengthLimit limit(m_db, kLoadBytes);
            sqlite3_bind_int64(m_page, 1, fromKey);
            sqlite3_bind_int(m_page, 2, n - got);
            sqlite3_bind_int64(m_page, 3, skip);
            while ((rc = sqlite3_step(m_page)) == SQLITE_ROW) {
                fromKey = sqlite3_column_int64(m_page, RecordSchema::Key);
                skip = 1;
                out.append(rowOf(m_page));
                ++got;
            }
            if (rc != SQLITE_DONE && rc != SQLITE_TOOBIG)
                noteError();
            sqlite3_reset(m_page);
        }
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_TOOBIG)
            return false;
        qint64 key = 0;
        RecordRow row;
        if (!keyAt(fromKey, skip, &key) || !readLongRow(key, &row)) {
            noteError();
            return false;
        }
        out.append(row);
        ++got;
        fromKey = key;
        skip = 1;
    }
    return true;
}

void CappedRowReader::noteError() {
    const int code = sqlite3_errcode(m_db);
    // A row that went missing between two statements leaves the engine without an error.
    m_error = code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE
                  ? QStringLiteral("a record could not be read")
                  : QString::fromUtf8(sqlite3_errmsg(m_db));
}

bool CappedRowReader::keyAt(qint64 fromKey, qint64 skip, qint64 *key) {
    sqlite3_bind_int64(m_key, 1, fromKey);
    sqlite3_bind_int64(m_key, 2, skip);
    const bool found = sqlite3_step(m_key) == SQLITE_ROW;
    if (found)
        *key = sqlite3_column_int64(m_key, 0);
    sqlite3_reset(m_key);
    return found;
}

bool CappedRowReader::readLongRow(qint64 key, RecordRow *row) {
    std::array<QVariant, RecordRow::ColumnCount> fields;
    std::bitset<RecordRow::ColumnCount> readByBlob;
    const QByteArray table = m_table.toUtf8();
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        const QString name = RecordRow::fieldName(c);
        sqlite3_blob *blob = nullptr;
        // Opens for texts and bytes only; numbers and nulls are selected below.
        if (sqlite3_blob_open(m_db, "main", table.constData(), name.toUtf8().constData(), key, 0,
                              &blob) == SQLITE_OK &&
            sqlite3_blob_bytes(blob) > kLoadBytes) {
            QByteArray prefix(kPrefixBytes, Qt::Uninitialized);
            const bool read = sqlite3_blob_read(blob, prefix.data(), kPrefixBytes, 0) == SQLITE_OK;
            sqlite3_blob_close(blob);
            if (!read)
                return false;
            fields[std::size_t(c)] = RecordRow::capped(QString::fromUtf8(prefix));
            readByBlob.set(std::size_t(c));
            continue;
        }
        sqlite3_blob_close(blob);
    }
    // A value the blob reads could not reach is cut by the engine, loaded whole.
    sqlite3_stmt *statement = nullptr;
    try {
        statement = prepare(
            RecordSchema::cappedRowSql(m_table, m_keyColumn, readByBlob, RecordRow::kMaxChars));
    } catch (const std::exception &) {
        return false;
    }
    sqlite3_bind_int64(statement, 1, key);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    if (found)
        for (int c = 0; c < RecordRow::ColumnCount; ++c)
            if (!fields[std::size_t(c)].isValid())
                fields[std::size_t(c)] = cell(statement, c);
    sqlite3_finalize(statement);
    if (found)
        *row = RecordRow::fromFields(fields);
    return found;
}
