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

} // namespace

RecordWalk::RecordWalk(const RecordTable &table) : m_table(table) {
    sqlite3 *db = table.nativeHandle();
    QString name = table.tableName();
    name.replace(u'"', QStringLiteral("\"\""));
    const QByteArray sql =
        QStringLiteral("SELECT _rowid_, \"No\", \"Time\", \"DC/AC\", \"Value\", "
                       "\"Unit\", \"AUTO\", \"Nval\" FROM \"%1\" ORDER BY _rowid_")
            .arg(name)
            .toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_statement, nullptr) !=
        SQLITE_OK) {
        const QByteArray message = sqlite3_errmsg(db);
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        raise(table, message.constData());
    }
}

RecordWalk::~RecordWalk() {
    sqlite3_finalize(m_statement);
}

bool RecordWalk::next() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE) {
        // Ends the read so that it holds nothing across the next commit.
        sqlite3_reset(m_statement);
        return false;
    }
    raise(m_table, sqlite3_errmsg(sqlite3_db_handle(m_statement)));
}

bool RecordWalk::isText(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_TEXT;
}

QByteArray RecordWalk::rawText(int column) const {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QByteArray(text, sqlite3_column_bytes(m_statement, column));
}

QVariant RecordWalk::value(int column) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_statement, column));
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_BLOB:
        return QVariant(
            QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                       sqlite3_column_bytes(m_statement, column)));
    default:
        return QVariant(QString::fromUtf8(rawText(column)));
    }
}
