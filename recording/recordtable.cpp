#include "recordtable.h"

#include "cappedrowreader.h"
#include "pendingrecords.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>

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

bool isWriteError(int code) {
    // SQLITE_IOERR and SQLITE_FULL, the failures that may end the open transaction, and
    // SQLITE_CANTOPEN, a journal that cannot be made.
    code &= 0xFF;
    return code == SQLITE_IOERR || code == SQLITE_FULL || code == SQLITE_CANTOPEN;
}

bool isWriteError(const QSqlError &error) {
    return isWriteError(error.nativeErrorCode().toInt());
}

sqlite3 *nativeHandleOf(const QString &connection) {
    const QVariant handle = QSqlDatabase::database(connection, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
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
        m_handle = nativeHandleOf(m_connection);
        // A file this program may not write opens read-only; it is still read and exported.
        m_readOnly = m_handle && sqlite3_db_readonly(m_handle, "main") == 1;
        m_pending = std::make_unique<PendingRecords>(path);
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
            if (!m_readOnly)
                m_pending->ensureSpool();
        } catch (const std::exception &) {
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
    if (m_readOnly)
        raise(QStringLiteral("%1: the table is read-only").arg(m_fileName));
    // A read may have cost the engine its transaction since the last append.
    noticeLostTransaction();
    try {
        m_pending->keep(values);
    } catch (const std::exception &e) {
        throw WriteFailure(e.what());
    }
    QString keptAlone;
    if (!m_pending->isDetached()) {
        QSqlError error;
        if (!insertAttached(values, &error)) {
            // The disk is full, or failing: the record is kept where room was reserved for
            // it, and so are the next ones, until a save finds room in the file.
            if (!isWriteError(error) || !detachAfterFailedWrite()) {
                m_pending->takeBackLast();
                noticeLostTransaction();
                fail(QString(), error);
            }
            keptAlone = describe(error);
        }
    }
    emit appended(count() - 1);
    if (!keptAlone.isEmpty())
        emit detachedAfterFailure(keptAlone);
}

bool RecordTable::insertAttached(const RecordValues &values, QSqlError *error) {
    if (!inTransaction()) {
        QSqlQuery begin(QSqlDatabase::database(m_connection, false));
        if (!begin.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
            *error = begin.lastError();
            return false;
        }
    }
    if (!insert(values)) {
        *error = m_insert->lastError();
        return false;
    }
    const qint64 rows = engineRows() - 1; // the new record is counted already
    if (rows % kAnchorStride == 0)
        m_anchors.push_back(m_insert->lastInsertId().toLongLong());
    return true;
}

bool RecordTable::detachAfterFailedWrite() {
    if (inTransaction())
        QSqlQuery(QSqlDatabase::database(m_connection, false)).exec(QStringLiteral("ROLLBACK"));
    if (inTransaction())
        return false;
    // The engine is back at the last save, so its rows are the stored ones; they keep their
    // positions and keys, and the spool's follow them. Nothing needs reading, which may
    // fail now.
    m_pending->detach();
    return true;
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
    // A read may have cost the engine its transaction: then the spool has the records.
    noticeLostTransaction();
    if (!m_pending->isDetached()) {
        commitWith([] {},
                   [this] {
                       m_storedRows += m_pending->count();
                       m_pending->clear();
                   });
        return;
    }
    // The engine lost the pending records with its transaction: they go in again from the
    // spool, now, when the user asks for the save and the disk may have room.
    commitWith(
        [this] {
            PendingSpool::Cursor cursor(*m_pending->detachedSpool(), 0);
            RecordValues record;
            while (cursor.next(&record))
                if (!insert(record))
                    fail(QString(), m_insert->lastError());
        },
        [this] {
            m_pending->clear();
            try {
                loadPositions();
            } catch (const std::exception &) {
                m_storedRows = 0;
                m_anchors.clear();
            }
        });
}

qint64 RecordTable::count() const {
    requireOpen();
    return m_storedRows + m_pending->count();
}

qint64 RecordTable::pendingCount() const {
    return m_open ? m_pending->count() : 0;
}

const PendingSpool *RecordTable::detachedSpool() const {
    return m_open ? m_pending->detachedSpool() : nullptr;
}

void RecordTable::checkTransaction() const {
    noticeLostTransaction();
}

bool RecordTable::noticeLostTransaction() const {
    // The pending records are reached through a pointer: what this finds out about the
    // engine changes where they are read from, for const readers as well.
    return m_pending && m_pending->followEngine(m_handle);
}

qint64 RecordTable::engineRows() const {
    return m_storedRows + (m_pending->isDetached() ? 0 : m_pending->count());
}

void RecordTable::empty() {
    requireOpen();
    emit aboutToReset();
    try {
        commitWith([this] { exec(QStringLiteral("DELETE FROM %1").arg(quoted(m_tableName))); },
                   [this] {
                       m_pending->clear();
                       m_storedRows = 0;
                       m_anchors.clear();
                   });
    } catch (...) {
        emit reset();
        throw;
    }
    emit reset();
}

QList<RecordRow> RecordTable::rows(qint64 first, int n) const {
    QList<RecordRow> result;
    QString error;
    if (m_open && !fetchRows(first, n, &result, &error))
        tell(&RecordTable::readFailed, error);
    return result;
}

QList<RecordRow> RecordTable::readRows(qint64 first, int n) const {
    requireOpen();
    QList<RecordRow> result;
    QString error;
    if (!fetchRows(first, n, &result, &error))
        raise(error);
    return result;
}

bool RecordTable::fetchRows(qint64 first, int n, QList<RecordRow> *out, QString *error) const {
    if (tryRows(first, n, out, error))
        return true;
    if (!noticeLostTransaction())
        return false;
    // The failure took the transaction: the stored rows are read from the file again, which
    // needs no room, and the pending ones from the spool.
    tell(&RecordTable::detachedAfterFailure, *error);
    out->clear();
    return tryRows(first, n, out, error);
}

bool RecordTable::tryRows(qint64 first, int n, QList<RecordRow> *out, QString *error) const {
    const qint64 total = m_storedRows + m_pending->count();
    if (first < 0 || first >= total || n <= 0)
        return true;
    const int wanted = int(std::min<qint64>(n, total - first));
    out->reserve(wanted);
    const qint64 inEngine = engineRows();
    if (first < inEngine) {
        const auto anchor = static_cast<std::size_t>(first / kAnchorStride);
        if (anchor >= m_anchors.size()) {
            *error = QStringLiteral("%1: row %2 cannot be found").arg(m_fileName).arg(first + 1);
            return false;
        }
        const int inFile = int(std::min<qint64>(wanted, inEngine - first));
        // The reader meets a value too long to load as an expected failure of its own and
        // reads that row apart; what it reports is a failure of the engine.
        const bool read = m_page->read(m_anchors[anchor], first % kAnchorStride, inFile, *out);
        if (out->size() < inFile) {
            *error = !read ? QStringLiteral("%1: %2").arg(m_fileName, m_page->lastError())
                           : QStringLiteral("%1: records %2 to %3 are missing")
                                 .arg(m_fileName)
                                 .arg(first + out->size() + 1)
                                 .arg(first + inFile);
            return false;
        }
    }
    if (out->size() < wanted) {
        try {
            const qint64 from = first + out->size() - inEngine;
            for (const RecordValues &v : m_pending->read(from, wanted - int(out->size())))
                out->append(RecordRow::fromValues(v));
        } catch (const std::exception &e) {
            *error = QString::fromUtf8(e.what());
            return false;
        }
        if (out->size() < wanted) {
            *error = QStringLiteral("%1: records not yet saved are missing").arg(m_fileName);
            return false;
        }
    }
    return true;
}

void RecordTable::tell(void (RecordTable::*signal)(const QString &), const QString &text) const {
    // Emitting is calling the signal's function, which Qt declares non-const.
    (const_cast<RecordTable *>(this)->*signal)(text);
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

QString RecordTable::describe(const QSqlError &error) const {
    QString engine = error.databaseText();
    if (engine.isEmpty())
        engine = error.text();
    return QStringLiteral("%1: %2").arg(m_fileName, engine);
}

void RecordTable::fail(const QString &what, const QSqlError &error) const {
    if (isLockError(error))
        raise(QStringLiteral("Table in use by another program: %1").arg(m_fileName));
    const QString text = what.isEmpty() ? describe(error) : what + u' ' + describe(error);
    if (isWriteError(error))
        throw WriteFailure(text.toStdString());
    raise(text);
}

void RecordTable::exec(const QString &sql) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql))
        fail(QString(), q.lastError());
}

void RecordTable::commitWith(const std::function<void()> &work,
                             const std::function<void()> &committed) {
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
            noticeLostTransaction();
        }
        throw;
    }
    // The engine holds nothing pending now: the next transaction loses nothing if it fails.
    committed();
    // The save itself succeeded; a transaction that cannot start now is started by the next
    // write, which fails if it still cannot.
    try {
        ensureTransaction();
    } catch (const std::exception &) {
    }
}

void RecordTable::ensureTransaction() {
    noticeLostTransaction();
    if (!inTransaction())
        exec(QStringLiteral("BEGIN EXCLUSIVE"));
}

bool RecordTable::inTransaction() const {
    return m_handle && sqlite3_get_autocommit(m_handle) == 0;
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
    m_storedRows = 0;
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
    m_storedRows = count;
}

void RecordTable::releaseConnection() {
    m_insert.reset();
    m_page.reset();
    m_open = false;
    m_readOnly = false;
    m_storedRows = 0;
    m_anchors.clear();
    m_pending.reset();
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
