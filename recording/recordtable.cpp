#include "recordtable.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>

#include <stdexcept>

namespace {

int s_connectionSerial = 0;

QString quoted(const QString &identifier) {
    QString q = identifier;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

bool isLockError(const QSqlError &error) {
    // SQLITE_BUSY and SQLITE_LOCKED: another connection holds the file.
    const QString code = error.nativeErrorCode();
    return code == u"5" || code == u"6" || error.databaseText().contains(u"locked");
}

} // namespace

const QStringList &RecordTable::fieldNames() {
    static const QStringList kNames{QStringLiteral("Not"),   QStringLiteral("No"),
                                    QStringLiteral("Time"),  QStringLiteral("DC/AC"),
                                    QStringLiteral("Value"), QStringLiteral("Unit"),
                                    QStringLiteral("AUTO"),  QStringLiteral("Nval")};
    return kNames;
}

QString RecordTable::createSql(const QString &tableName) {
    return QStringLiteral("CREATE TABLE %1 (\"Not\" INTEGER PRIMARY KEY, \"No\" INTEGER, "
                          "\"Time\" TEXT, \"DC/AC\" TEXT, \"Value\" TEXT, \"Unit\" TEXT, "
                          "\"AUTO\" TEXT, \"Nval\" REAL)")
        .arg(quoted(tableName));
}

RecordTable::RecordTable(QObject *parent) : QObject(parent) {}

RecordTable::~RecordTable() {
    releaseConnection();
}

void RecordTable::open(const QString &path, OpenMode mode) {
    emit aboutToReset();
    releaseConnection();
    m_fileName = path;
    try {
        const QFileInfo info(path);
        if (info.isDir())
            raise(QStringLiteral("Table file is a folder: %1").arg(path));
        if (!info.exists() && mode == OpenMode::MustExist)
            raise(QStringLiteral("Table not found: %1").arg(path));

        m_connection = QStringLiteral("qm-record-table-%1").arg(++s_connectionSerial);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(path);
            // A second copy must fail at once, not wait for the lock.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            if (!db.open())
                fail(QString(), db.lastError());
        }
        // Exclusive locking mode keeps the lock of the first write transaction until the
        // connection closes; the transaction itself holds the pending records.
        exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"));
        exec(QStringLiteral("BEGIN EXCLUSIVE"));
        m_tableName = chooseTable(mode == OpenMode::CreateIfMissing);
        checkFields();
        loadPositions();
        m_insert.emplace(QSqlDatabase::database(m_connection, false));
        // Recording's own spelling of the field names; the engine matches them without
        // regard to case.
        if (!m_insert->prepare(
                QStringLiteral("INSERT INTO %1 (\"value\", \"Nval\", \"time\", \"no\", \"DC/AC\", "
                               "\"unit\", \"Auto\") VALUES (?, ?, ?, ?, ?, ?, ?)")
                    .arg(quoted(m_tableName))))
            fail(QString(), m_insert->lastError());
        m_page.emplace(QSqlDatabase::database(m_connection, false));
        m_page->setForwardOnly(true);
        if (!m_page->prepare(QStringLiteral("SELECT _rowid_, \"No\", \"Time\", \"DC/AC\", "
                                            "\"Value\", \"Unit\", \"AUTO\" FROM %1 WHERE "
                                            "_rowid_ >= ? ORDER BY _rowid_ LIMIT ? OFFSET ?")
                                 .arg(quoted(m_tableName))))
            fail(QString(), m_page->lastError());
        m_open = true;
    } catch (...) {
        releaseConnection();
        emit reset();
        throw;
    }
    emit reset();
}

void RecordTable::close() {
    if (m_connection.isEmpty())
        return;
    emit aboutToReset();
    releaseConnection();
    emit reset();
}

void RecordTable::append(const RecordValues &values) {
    requireOpen();
    QSqlQuery &q = *m_insert;
    q.bindValue(0, values.value);
    q.bindValue(1, static_cast<double>(values.nval));
    q.bindValue(2, RecordValues::storedTime(values.time));
    q.bindValue(3, values.no);
    q.bindValue(4, values.dcAc);
    q.bindValue(5, values.unit);
    q.bindValue(6, values.autoText);
    if (!q.exec())
        fail(QString(), q.lastError());
    const qint64 key = q.lastInsertId().toLongLong();
    if (m_count % kAnchorStride == 0)
        m_anchors.push_back(key);
    ++m_count;
    emit appended(m_count - 1);
}

void RecordTable::applyUpdates() {
    requireOpen();
    bool lost = false;
    try {
        commitAndBegin(&lost);
    } catch (...) {
        if (lost) {
            emit aboutToReset();
            emit reset();
        }
        throw;
    }
}

qint64 RecordTable::count() const {
    requireOpen();
    return m_count;
}

void RecordTable::empty() {
    requireOpen();
    emit aboutToReset();
    try {
        exec(QStringLiteral("DELETE FROM %1").arg(quoted(m_tableName)));
        commitAndBegin(nullptr);
        m_count = 0;
        m_anchors.clear();
    } catch (...) {
        reloadAfterFailure();
        emit reset();
        throw;
    }
    emit reset();
}

QList<RecordRow> RecordTable::rows(qint64 first, int n) const {
    QList<RecordRow> result;
    if (!m_open || first < 0 || first >= m_count || n <= 0)
        return result;
    const auto anchor = static_cast<std::size_t>(first / kAnchorStride);
    if (anchor >= m_anchors.size())
        return result;
    QSqlQuery &q = *m_page;
    q.bindValue(0, m_anchors[anchor]);
    q.bindValue(1, n);
    q.bindValue(2, first % kAnchorStride);
    if (q.exec()) {
        result.reserve(n);
        while (q.next())
            result.append(RecordRow::fromQuery(q, 1));
    }
    // A statement left open would hold a read on the file across the next commit.
    q.finish();
    return result;
}

sqlite3 *RecordTable::nativeHandle() const {
    requireOpen();
    const QVariant handle = QSqlDatabase::database(m_connection, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        raise(QStringLiteral("%1: no engine handle").arg(m_fileName));
    return *static_cast<sqlite3 *const *>(handle.constData());
}

void RecordTable::requireOpen() const {
    if (!m_open)
        raise(m_fileName.isEmpty() ? QStringLiteral("No table is open")
                                   : QStringLiteral("Table is not open: %1").arg(m_fileName));
}

void RecordTable::fail(const QString &what, const QSqlError &error) const {
    if (isLockError(error))
        raise(QStringLiteral("Table in use by another program: %1").arg(m_fileName));
    QString engine = error.databaseText();
    if (engine.isEmpty())
        engine = error.text();
    raise(what.isEmpty() ? QStringLiteral("%1: %2").arg(m_fileName, engine)
                         : QStringLiteral("%1 %2: %3").arg(what, m_fileName, engine));
}

void RecordTable::exec(const QString &sql) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql))
        fail(QString(), q.lastError());
}

void RecordTable::commitAndBegin(bool *lost) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QSqlError error = q.lastError();
        // Some failures (a full disk) end the transaction; then the pending records are gone
        // and the table must start a new one and recount.
        QSqlQuery begin(db);
        if (begin.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            reloadAfterFailure();
            if (lost)
                *lost = true;
        }
        fail(QString(), error);
    }
    exec(QStringLiteral("BEGIN EXCLUSIVE"));
}

QString RecordTable::chooseTable(bool mayCreate) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND "
                               "name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid")))
        fail(QString(), q.lastError());
    QStringList tables;
    while (q.next())
        tables.append(q.value(0).toString());
    q.finish();

    const QString base = QFileInfo(m_fileName).completeBaseName();
    for (const QString &t : tables)
        if (t.compare(base, Qt::CaseInsensitive) == 0)
            return t;
    if (tables.size() == 1)
        return tables.first();
    if (tables.isEmpty()) {
        if (!mayCreate)
            raise(QStringLiteral("No table in file: %1").arg(m_fileName));
        exec(createSql(base));
        commitAndBegin(nullptr);
        return base;
    }
    // Several tables, none named after the file: the first one with the record fields.
    for (const QString &t : tables) {
        m_tableName = t;
        if (missingField().isEmpty())
            return t;
    }
    return tables.first();
}

QString RecordTable::missingField() {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(m_tableName))))
        fail(QString(), q.lastError());
    QStringList present;
    while (q.next())
        present.append(q.value(1).toString());
    for (const QString &field : fieldNames())
        if (!present.contains(field, Qt::CaseInsensitive))
            return field;
    return QString();
}

void RecordTable::checkFields() {
    const QString missing = missingField();
    if (!missing.isEmpty())
        raise(QStringLiteral("Field '%1' not found in table %2").arg(missing, m_fileName));
}

void RecordTable::loadPositions() {
    m_count = 0;
    m_anchors.clear();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    // Three statements, not one: a bare count(*) lets the engine count the cells of each page
    // instead of stepping through every row, and min() and max() of the key alone are one
    // look-up each. Together in one statement they cost a full walk of the rows, which at a
    // million records dominated the program's start.
    auto single = [&](const QString &sql) {
        if (!q.exec(sql.arg(quoted(m_tableName))) || !q.next())
            fail(QString(), q.lastError());
        const qint64 value = q.value(0).toLongLong();
        q.finish();
        return value;
    };
    const qint64 count = single(QStringLiteral("SELECT count(*) FROM %1"));
    const qint64 minKey = single(QStringLiteral("SELECT min(_rowid_) FROM %1"));
    const qint64 maxKey = single(QStringLiteral("SELECT max(_rowid_) FROM %1"));
    if (count == 0)
        return;
    m_anchors.reserve(static_cast<std::size_t>(count / kAnchorStride + 1));
    if (maxKey - minKey + 1 == count) {
        // Keys without holes, the usual case: no need to read them.
        for (qint64 row = 0; row < count; row += kAnchorStride)
            m_anchors.push_back(minKey + row);
    } else {
        if (!q.exec(
                QStringLiteral("SELECT _rowid_ FROM %1 ORDER BY _rowid_").arg(quoted(m_tableName))))
            fail(QString(), q.lastError());
        for (qint64 row = 0; q.next(); ++row)
            if (row % kAnchorStride == 0)
                m_anchors.push_back(q.value(0).toLongLong());
        q.finish();
    }
    m_count = count;
}

void RecordTable::reloadAfterFailure() {
    try {
        loadPositions();
    } catch (const std::exception &) {
        m_count = 0;
        m_anchors.clear();
    }
}

void RecordTable::releaseConnection() {
    m_insert.reset();
    m_page.reset();
    m_open = false;
    m_count = 0;
    m_anchors.clear();
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen()) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}
