#include "recordtable.h"

#include "cappedrowreader.h"
#include "pendingspool.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QStorageInfo>

#include <sqlite3.h>

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

bool isWriteError(const QSqlError &error) {
    // SQLITE_IOERR and SQLITE_FULL, the failures that may end the open transaction.
    const int code = error.nativeErrorCode().toInt();
    return (code & 0xFF) == SQLITE_IOERR || (code & 0xFF) == SQLITE_FULL;
}

sqlite3 *nativeHandleOf(const QString &connection) {
    const QVariant handle = QSqlDatabase::database(connection, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

qint64 freeBytes(const QString &folder) {
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
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

RecordTable::RecordTable(QObject *parent) : QObject(parent), m_spaceProbe(freeBytes) {}

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
        m_handle = nativeHandleOf(m_connection);
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
        try {
            m_page = std::make_unique<CappedRowReader>(m_handle, m_tableName);
        } catch (const std::exception &e) {
            raise(QStringLiteral("%1: %2").arg(m_fileName, QString::fromUtf8(e.what())));
        }
        m_open = true;
        // Without room for the spool the table still opens, to be read and exported;
        // appends are refused until the spool can be made.
        try {
            ensureSpool();
        } catch (const WriteFailure &) {
        }
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
    if (m_refusing) {
        // Trying again on every reading would hammer a full disk: once a second at most,
        // and only when the disk has room again.
        if (m_lastTry.isValid() && m_lastTry.elapsed() < kRetryMs)
            throw AppendRefused("appends are refused after a failed write");
        m_lastTry.restart();
        if (!hasRoom())
            throw AppendRefused("appends are refused after a failed write: the disk is full");
    }
    try {
        appendOnce(values);
    } catch (const WriteFailure &e) {
        const bool first = !m_refusing;
        m_refusing = true;
        m_lastTry.restart();
        if (first)
            throw;
        throw AppendRefused(e.what());
    }
    m_refusing = false;
    emit appended(m_count - 1);
}

void RecordTable::ensureSpool() {
    if (m_spool)
        return;
    try {
        m_spool = std::make_unique<PendingSpool>(spoolPath());
    } catch (const std::exception &e) {
        throw WriteFailure(e.what());
    }
}

void RecordTable::appendOnce(const RecordValues &values) {
    ensureSpool();
    try {
        m_spool->append(values);
    } catch (const std::exception &e) {
        throw WriteFailure(e.what());
    }
    if (m_detached) {
        ++m_count;
        return;
    }
    bool stored = false;
    try {
        ensureTransaction();
        stored = insert(values);
    } catch (...) {
        m_spool->dropLast();
        throw;
    }
    if (!stored) {
        m_spool->dropLast();
        const QSqlError error = m_insert->lastError();
        if (!inTransaction())
            detach();
        fail(QString(), error);
    }
    const qint64 key = m_insert->lastInsertId().toLongLong();
    if (m_dbRows % kAnchorStride == 0)
        m_anchors.push_back(key);
    ++m_dbRows;
    ++m_count;
}

bool RecordTable::insert(const RecordValues &values) {
    QSqlQuery &q = *m_insert;
    q.bindValue(0, values.value);
    q.bindValue(1, static_cast<double>(values.nval));
    q.bindValue(2, RecordValues::storedTime(values.time));
    q.bindValue(3, values.no);
    q.bindValue(4, values.dcAc);
    q.bindValue(5, values.unit);
    q.bindValue(6, values.autoText);
    return q.exec();
}

void RecordTable::applyUpdates() {
    requireOpen();
    if (!m_detached) {
        commitWith([] {});
    } else {
        // The engine lost the pending records with its transaction: they go in again from
        // the spool, now, when the user asks for the save and the disk may have room.
        commitWith([this] {
            PendingSpool::Cursor cursor(*m_spool, 0);
            RecordValues record;
            while (cursor.next(&record))
                if (!insert(record))
                    fail(QString(), m_insert->lastError());
        });
        m_detached = false;
        reloadAfterFailure();
    }
    if (m_spool)
        m_spool->clear();
    // The disk took the save: recording need not wait for its next try.
    m_refusing = false;
}

qint64 RecordTable::count() const {
    requireOpen();
    return m_count;
}

qint64 RecordTable::pendingCount() const {
    return m_open && m_spool ? m_spool->count() : 0;
}

const PendingSpool *RecordTable::detachedSpool() const {
    return m_open && m_detached ? m_spool.get() : nullptr;
}

void RecordTable::empty() {
    requireOpen();
    emit aboutToReset();
    try {
        commitWith([this] { exec(QStringLiteral("DELETE FROM %1").arg(quoted(m_tableName))); });
    } catch (...) {
        emit reset();
        throw;
    }
    if (m_spool)
        m_spool->clear();
    m_detached = false;
    m_refusing = false;
    m_count = 0;
    m_dbRows = 0;
    m_anchors.clear();
    emit reset();
}

QList<RecordRow> RecordTable::rows(qint64 first, int n) const {
    QList<RecordRow> result;
    if (!m_open || first < 0 || first >= m_count || n <= 0)
        return result;
    if (first < m_dbRows) {
        const auto anchor = static_cast<std::size_t>(first / kAnchorStride);
        if (anchor >= m_anchors.size() || !m_page)
            return result;
        const int wanted = int(std::min<qint64>(n, m_dbRows - first));
        result.reserve(n);
        m_page->read(m_anchors[anchor], first % kAnchorStride, wanted, result);
        if (result.size() < wanted)
            return result;
    }
    if (const PendingSpool *spool = detachedSpool(); spool && result.size() < n) {
        try {
            const qint64 from = first + result.size() - m_dbRows;
            for (const RecordValues &v : spool->read(from, n - int(result.size())))
                result.append(RecordRow::fromValues(v));
        } catch (const std::exception &) {
            // Views must not fail; a short answer tells the report.
        }
    }
    return result;
}

sqlite3 *RecordTable::nativeHandle() const {
    requireOpen();
    if (!m_handle)
        raise(QStringLiteral("%1: no engine handle").arg(m_fileName));
    return m_handle;
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
    const QString text = what.isEmpty() ? QStringLiteral("%1: %2").arg(m_fileName, engine)
                                        : QStringLiteral("%1 %2: %3").arg(what, m_fileName, engine);
    if (isWriteError(error))
        throw WriteFailure(text.toStdString());
    raise(text);
}

void RecordTable::exec(const QString &sql) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql))
        fail(QString(), q.lastError());
}

void RecordTable::commitWith(const std::function<void()> &work) {
    ensureTransaction();
    exec(QStringLiteral("SAVEPOINT qm_step"));
    try {
        work();
        exec(QStringLiteral("COMMIT"));
    } catch (...) {
        if (inTransaction()) {
            QSqlQuery undo(QSqlDatabase::database(m_connection, false));
            undo.exec(QStringLiteral("ROLLBACK TO qm_step"));
            undo.exec(QStringLiteral("RELEASE qm_step"));
        } else {
            detach();
        }
        throw;
    }
    // The save itself succeeded; a transaction that cannot start now is started by the next
    // write, which fails if it still cannot.
    try {
        ensureTransaction();
    } catch (const std::exception &) {
    }
}

void RecordTable::ensureTransaction() {
    if (!inTransaction())
        exec(QStringLiteral("BEGIN EXCLUSIVE"));
}

bool RecordTable::inTransaction() const {
    return m_handle && sqlite3_get_autocommit(m_handle) == 0;
}

void RecordTable::detach() {
    if (!m_detached && m_spool) {
        // The engine is back at the last save, so its rows are the stored ones; they keep
        // their positions and keys, and the spool's follow them. Nothing needs reading, which
        // may fail now.
        m_detached = true;
        m_dbRows -= m_spool->count();
        m_anchors.resize(std::size_t((m_dbRows + kAnchorStride - 1) / kAnchorStride));
    }
    try {
        ensureTransaction();
    } catch (const std::exception &) {
    }
}

bool RecordTable::hasRoom() const {
    const qint64 free = m_spaceProbe(QFileInfo(m_fileName).absolutePath());
    return free < 0 || free >= 2 * PendingSpool::kBlockBytes;
}

QString RecordTable::spoolPath() const {
    return m_fileName + QStringLiteral("-pending");
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
        exec(QStringLiteral("COMMIT"));
        exec(QStringLiteral("BEGIN EXCLUSIVE"));
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
    m_count = m_dbRows = 0;
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
    m_count = m_dbRows = count;
}

void RecordTable::reloadAfterFailure() {
    try {
        loadPositions();
    } catch (const std::exception &) {
        m_count = m_dbRows = 0;
        m_anchors.clear();
    }
    if (m_detached)
        m_count += m_spool->count();
}

void RecordTable::releaseConnection() {
    m_insert.reset();
    m_page.reset();
    m_open = false;
    m_count = m_dbRows = 0;
    m_anchors.clear();
    m_spool.reset();
    m_detached = false;
    m_refusing = false;
    m_handle = nullptr;
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
