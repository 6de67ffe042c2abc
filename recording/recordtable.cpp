#include "recordtable.h"

#include "cappedrowreader.h"
#include "fileidentity.h"
#include "pendingrecords.h"
#include "safefile.h"
#include "spoolformat.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QTimer>

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>

namespace {

int s_connectionSerial = 0;

/// Records reach the spool's file at most this long after they were appended, and the file
/// is synced at most this often.
constexpr qint64 kSecureIntervalMs = 1000;

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

RecordTable::RecordTable(QObject *parent) : QObject(parent), m_secureTimer(new QTimer(this)) {
    m_secureTimer->setSingleShot(true);
    connect(m_secureTimer, &QTimer::timeout, this, &RecordTable::securePending);
}

RecordTable::~RecordTable() {
    releaseConnection();
}

void RecordTable::open(const QString &path, OpenMode mode, const KeepLeftRecords &keepLeft) {
    emit aboutToReset();
    releaseConnection();
    m_fileName = path;
    m_setAsideNotice.clear();
    try {
        const QFileInfo info(path);
        refuseLink(path);
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
        hardenConnection();
        exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"));
        exec(QStringLiteral("BEGIN EXCLUSIVE"));
        m_tableName = chooseTable(mode == OpenMode::CreateIfMissing);
        // The engine has the file open and locked now, made if it was missing: what the name
        // stands for now is what it writes into (a link put in between is caught here).
        refuseLink(path);
        m_identity = FileIdentity::of(path);
        if (m_identity.kind() != FileIdentity::Kind::File)
            raise(QStringLiteral("%1 went away while it was opened").arg(path));
        checkFields();
        m_key = chooseKey();
        m_writeRefusal =
            m_readOnly
                ? QStringLiteral("%1 is read-only: readings are not recorded.").arg(m_fileName)
                : triggersRefusal();
        loadPositions();
        m_insert.emplace(QSqlDatabase::database(m_connection, false));
        if (!m_insert->prepare(RecordSchema::insertSql(m_tableName, false)))
            fail(QString(), m_insert->lastError());
        try {
            m_page = std::make_unique<CappedRowReader>(m_handle, m_tableName, m_key);
        } catch (const std::exception &e) {
            raise(QStringLiteral("%1: %2").arg(m_fileName, QString::fromUtf8(e.what())));
        }
        m_open = true;
        m_pending->setTable(tableHeader());
    } catch (...) {
        releaseConnection();
        emit reset();
        throw;
    }
    emit reset();
    settleLeftSpool(keepLeft);
}

void RecordTable::settleLeftSpool(const KeepLeftRecords &keepLeft) {
    // A table that refuses writes never had a spool of this program's: whatever is there
    // stays as it is, for an open that can write.
    if (!m_writeRefusal.isEmpty())
        return;
    // Something else in the spool's place is said at once: it stays until someone takes it
    // away, and readings are not recorded meanwhile.
    try {
        m_settlingLeft = true;
        const auto settled = qScopeGuard([this] { m_settlingLeft = false; });
        m_setAsideNotice =
            m_pending->takeOverLeft([this](qint64 first, int n) { return readRows(first, n); },
                                    [&](const LeftRecords &left) {
                                        // Asked with the table open and showing its stored records.
                                        return !keepLeft || keepLeft(left);
                                    });
    } catch (const SafeFile::Refused &e) {
        m_spoolRefusal = QString::fromUtf8(e.what()) +
                         QStringLiteral(" Readings are not recorded until it is taken away.");
        return;
    }
    if (m_pending->count() > 0) {
        // The records kept are shown after the stored ones.
        emit aboutToReset();
        emit reset();
    }
    // Without room for the spool the table still opens, to be read and exported; appends
    // are refused until the spool can be made.
    try {
        m_pending->ensureSpool();
    } catch (const SafeFile::Refused &e) {
        m_spoolRefusal = QString::fromUtf8(e.what()) +
                         QStringLiteral(" Readings are not recorded until it is taken away.");
    } catch (const std::exception &) {
    }
    armSecure();
}

SpoolFormat::Header RecordTable::tableHeader() const {
    SpoolFormat::Header header;
    header.device = m_identity.device();
    header.file = m_identity.file();
    header.storedRows = m_rows.storedRows();
    header.lastKey = m_rows.lastKey();
    return header;
}

qint64 RecordTable::queryLastKey() const {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(RecordSchema::maxKeySql(m_tableName, m_key)) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

void RecordTable::armSecure() {
    if (!m_open || m_secureTimer->isActive() || !m_pending->hasUnsecured())
        return;
    // Within a second of the first record not yet secured, and a second after the last
    // time at the earliest; at once after a quiet spell.
    const qint64 since = m_sinceSecure.isValid() ? m_sinceSecure.elapsed() : kSecureIntervalMs;
    m_secureTimer->start(int(std::clamp<qint64>(kSecureIntervalMs - since, 0, kSecureIntervalMs)));
}

void RecordTable::securePending() {
    if (!m_open)
        return;
    m_pending->secure();
    m_sinceSecure.restart();
    if (const QString failure = m_pending->takeFailure(); !failure.isEmpty())
        emit journalFailed(failure);
}

bool RecordTable::waitUntilSecured(int timeoutMs) const {
    return !m_open || m_pending->waitUntilSecured(timeoutMs);
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
    requireWritable();
    if (m_settlingLeft)
        raise(QStringLiteral("%1: the readings a run left unsaved are being settled; this one "
                             "is not recorded")
                  .arg(m_fileName));
    // A read may have cost the engine its transaction since the last append.
    noticeLostTransaction();
    try {
        m_pending->keep(values);
    } catch (const SafeFile::Refused &) {
        throw;
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
    armSecure();
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
    if (RowIndex::wantsAnchor(rows))
        m_rows.addAnchor(m_insert->lastInsertId().toLongLong());
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
    // Every field but the key, in the schema's order: Nval, after the key, one place earlier.
    q.bindValue(RecordSchema::No, values.no);
    q.bindValue(RecordSchema::Time, RecordValues::storedTime(values.time));
    q.bindValue(RecordSchema::DcAc, values.dcAc);
    q.bindValue(RecordSchema::Value, values.value);
    q.bindValue(RecordSchema::Unit, values.unit);
    q.bindValue(RecordSchema::Auto, values.autoText);
    q.bindValue(RecordSchema::Nval - 1, static_cast<double>(values.nval));
    return q.exec();
}

void RecordTable::applyUpdates() {
    requireOpen();
    // A read may have cost the engine its transaction: then the spool has the records.
    noticeLostTransaction();
    if (!m_pending->isDetached()) {
        commitWith([] {},
                   [this] {
                       m_rows.addStored(m_pending->count());
                       m_rows.setLastKey(queryLastKey());
                       m_pending->clear(tableHeader());
                   },
                   AfterMove::KeepPending, m_rows.storedRows() + m_pending->count());
        armSecure();
        return;
    }
    // The engine lost the pending records with its transaction: they go in again from the
    // spool, now, when the user asks for the save and the disk may have room. A save that
    // may have been done (MaybeDone) stored the first of them if it was: not twice.
    const qint64 held = storedRowsNow() - m_rows.storedRows();
    const qint64 skip = held > 0 && held <= m_pending->count() ? held : 0;
    commitWith(
        [this, skip] {
            PendingSpool::Cursor cursor(*m_pending->detachedSpool(), skip);
            RecordValues record;
            while (cursor.next(&record))
                if (!insert(record))
                    fail(QString(), m_insert->lastError());
        },
        [this] {
            try {
                loadPositions();
            } catch (const std::exception &) {
                m_rows.clearRows();
                m_rows.setLastKey(-1);
            }
            m_pending->clear(tableHeader());
        },
        AfterMove::KeepPending, m_rows.storedRows() + m_pending->count());
    armSecure();
}

qint64 RecordTable::count() const {
    requireOpen();
    return m_rows.storedRows() + m_pending->count();
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
    return m_rows.storedRows() + (m_pending->isDetached() ? 0 : m_pending->count());
}

void RecordTable::empty() {
    requireOpen();
    requireWritable();
    emit aboutToReset();
    // A run that ends before the spool can say the clearing is done leaves this behind, so
    // that the records cleared are not offered back to a table found empty.
    try {
        if (const QString unmarked = m_pending->markClearing(true); !unmarked.isEmpty())
            throw WriteFailure(unmarked.toStdString());
        commitWith([this] { exec(RecordSchema::clearSql(m_tableName)); },
                   [this] {
                       m_rows.clear();
                       m_pending->clear(tableHeader());
                   },
                   AfterMove::Apply, 0);
    } catch (...) {
        m_pending->markClearing(false);
        emit reset();
        throw;
    }
    armSecure();
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
    const qint64 total = m_rows.storedRows() + m_pending->count();
    if (first < 0 || first >= total || n <= 0)
        return true;
    const int wanted = int(std::min<qint64>(n, total - first));
    out->reserve(wanted);
    const qint64 inEngine = engineRows();
    if (first < inEngine) {
        qint64 fromKey = 0;
        qint64 skip = 0;
        if (!m_rows.locate(first, &fromKey, &skip)) {
            *error = QStringLiteral("%1: row %2 cannot be found").arg(m_fileName).arg(first + 1);
            return false;
        }
        const int inFile = int(std::min<qint64>(wanted, inEngine - first));
        // The reader meets a value too long to load as an expected failure of its own and
        // reads that row apart; what it reports is a failure of the engine.
        const bool read = m_page->read(fromKey, skip, inFile, *out);
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

qint64 RecordTable::storedRowsNow() const {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(RecordSchema::countSql(m_tableName)) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

void RecordTable::commitWith(const std::function<void()> &work,
                             const std::function<void()> &committed, AfterMove afterMove,
                             qint64 rowsIfDone) {
    // Written into a file that is no longer at its path, nothing would be where the user
    // looks for it.
    requireAtPath();
    ensureTransaction();
    exec(QStringLiteral("SAVEPOINT qm_step"));
    bool committing = false;
    try {
        work();
        committing = true;
        exec(QStringLiteral("COMMIT"));
    } catch (...) {
        // A commit can fail after the file took it, while the engine finishes its journal:
        // then the file says what became of it.
        const qint64 rows = committing && !inTransaction() ? storedRowsNow() : m_rows.storedRows();
        if (inTransaction()) {
            QSqlQuery undo(QSqlDatabase::database(m_connection, false));
            undo.exec(QStringLiteral("ROLLBACK TO qm_step"));
            undo.exec(QStringLiteral("RELEASE qm_step"));
        } else if (rowsIfDone != m_rows.storedRows() && rows == rowsIfDone) {
            // Done all the same: reported as failed, the records would be saved twice, or a
            // table cleared said to be kept.
            committed();
            try {
                ensureTransaction();
            } catch (const std::exception &) {
            }
            return;
        } else {
            noticeLostTransaction();
            if (rows < 0 && rowsIfDone != m_rows.storedRows()) {
                try {
                    throw;
                } catch (const WriteFailure &failure) {
                    throw MaybeDone(failure.what());
                }
            }
        }
        throw;
    }
    // Moved while it was written: the records went into the file, wherever it is now, and
    // the connection holds them as stored; for the user they are still not saved.
    if (afterMove == AfterMove::KeepPending && !isAtItsPath()) {
        keepPendingAfterCommit();
        // The engine holds the records pending for the user as stored ones: a transaction
        // begun now loses none of them, and the records are not to be detached.
        QSqlQuery(QSqlDatabase::database(m_connection, false))
            .exec(QStringLiteral("BEGIN EXCLUSIVE"));
        requireAtPath();
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
    if (!q.exec(RecordSchema::tablesSql()))
        fail(QString(), q.lastError());
    QStringList tables;
    while (q.next())
        tables.append(q.value(0).toString());
    q.finish();

    const QString base = QFileInfo(m_fileName).completeBaseName();
    for (const QString &t : tables)
        if (t.compare(base, Qt::CaseInsensitive) == 0)
            return t;
    refuseView(base);
    if (tables.size() == 1)
        return tables.first();
    if (tables.isEmpty()) {
        if (!mayCreate)
            raise(QStringLiteral("No table in file: %1").arg(m_fileName));
        exec(RecordSchema::createSql(base));
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

void RecordTable::refuseView(const QString &name) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(RecordSchema::viewNamedSql());
    q.addBindValue(name);
    if (!q.exec())
        fail(QString(), q.lastError());
    // A view has no rows of its own to address, and what is written into it is whatever its
    // author's triggers make of it.
    if (q.next())
        raise(QStringLiteral("%1: %2 is a view, not a table: it is not opened as a record "
                             "table.")
                  .arg(m_fileName, q.value(0).toString()));
}

QString RecordTable::chooseKey() {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(RecordSchema::tableInfoSql(m_tableName)))
        fail(QString(), q.lastError());
    QStringList columns;
    QStringList keyColumns;
    QString keyType;
    while (q.next()) {
        columns.append(q.value(1).toString());
        if (q.value(5).toInt() > 0) {
            keyColumns.append(q.value(1).toString());
            keyType = q.value(2).toString().trimmed();
        }
    }
    q.finish();
    // The design's "Not" INTEGER PRIMARY KEY is the row number under a name of its own, which
    // no other column can take. It is the row number only where the engine keeps no index
    // for the key (a WITHOUT ROWID table, or a key declared DESC, has one).
    if (keyColumns.size() == 1 && keyType.compare(u"INTEGER", Qt::CaseInsensitive) == 0) {
        if (!q.exec(RecordSchema::indexListSql(m_tableName)))
            fail(QString(), q.lastError());
        bool keyIndex = false;
        while (q.next())
            keyIndex = keyIndex || q.value(3).toString() == u"pk";
        q.finish();
        if (!keyIndex)
            return RecordSchema::quoted(keyColumns.first());
    }
    // Otherwise the row number under one of its own names that no column shadows.
    for (const char *latin : {"rowid", "oid", "_rowid_"}) {
        const QString name = QLatin1String(latin);
        if (columns.contains(name, Qt::CaseInsensitive))
            continue;
        if (!q.exec(RecordSchema::keyProbeSql(m_tableName, name)))
            raise(QStringLiteral("%1: the table %2 has no row numbers (it is a table WITHOUT "
                                 "ROWID): it cannot be opened.")
                      .arg(m_fileName, m_tableName));
        q.finish();
        return name;
    }
    raise(QStringLiteral("%1: the table %2 has columns named rowid, oid and _rowid_, which hide "
                         "the numbers its rows are found by: it cannot be opened.")
              .arg(m_fileName, m_tableName));
}

QString RecordTable::triggersRefusal() {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(RecordSchema::triggersOnSql());
    q.addBindValue(m_tableName);
    if (!q.exec())
        fail(QString(), q.lastError());
    QStringList triggers;
    while (q.next())
        triggers.append(q.value(0).toString());
    if (triggers.isEmpty())
        return QString();
    return QStringLiteral("%1: the table %2 has triggers (%3), which would act on every reading "
                          "recorded into it and on its clearing: readings are not recorded. It "
                          "can still be read, exported and printed.")
        .arg(m_fileName, m_tableName, triggers.join(QStringLiteral(", ")));
}

void RecordTable::hardenConnection() {
    if (!m_handle)
        return;
    // Whatever a foreign file's schema holds never runs here: its triggers are refused
    // recording above, and this makes sure that none ever fires (a clearing is a DELETE),
    // nor a function of the schema that is not harmless.
    sqlite3_db_config(m_handle, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
#ifdef SQLITE_DBCONFIG_TRUSTED_SCHEMA
    sqlite3_db_config(m_handle, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
#endif
}

void RecordTable::refuseLink(const QString &path) {
    // The engine would follow it, and write wherever it points: another user's file, or a
    // file the user never chose.
    if (FileIdentity::of(path).kind() == FileIdentity::Kind::Link)
        raise(QStringLiteral("%1 is a symbolic link to %2: a table is opened only under its own "
                             "name. Open %2 itself.")
                  .arg(m_fileName, QFileInfo(path).symLinkTarget()));
}

void RecordTable::requireWritable() const {
    if (!m_writeRefusal.isEmpty())
        raise(m_writeRefusal);
}

QString RecordTable::recordingRefusal() const {
    if (!m_open)
        return QString();
    return m_writeRefusal.isEmpty() ? m_spoolRefusal : m_writeRefusal;
}

bool RecordTable::isAtItsPath() const {
    return !m_open || m_identity.isAt(m_fileName);
}

void RecordTable::requireAtPath() const {
    if (!isAtItsPath())
        throw FileMoved(QStringLiteral("%1 was moved, removed or replaced since it was opened: "
                                       "the records of this table are not in the file at that "
                                       "path.")
                            .arg(m_fileName)
                            .toStdString());
}

void RecordTable::keepPendingAfterCommit() {
    if (!m_pending->isDetached())
        return;
    // The spool's records were written into the engine, after the stored rows, where they
    // are while attached; the spool keeps them too.
    m_pending->attach();
    const qint64 pending = m_pending->count();
    try {
        loadPositions();
        m_rows.addStored(-pending);
    } catch (const std::exception &) {
        m_rows.clearRows();
    }
}

QString RecordTable::missingField() {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(RecordSchema::tableInfoSql(m_tableName)))
        fail(QString(), q.lastError());
    QStringList present;
    while (q.next())
        present.append(q.value(1).toString());
    for (const QString &field : RecordSchema::storedFieldNames())
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
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!m_rows.load(q, m_tableName, m_key))
        fail(QString(), q.lastError());
}

void RecordTable::releaseConnection() {
    m_insert.reset();
    m_page.reset();
    m_open = false;
    m_readOnly = false;
    m_writeRefusal.clear();
    m_spoolRefusal.clear();
    m_identity = FileIdentity();
    m_key.clear();
    m_rows.clear();
    m_secureTimer->stop();
    m_settlingLeft = false;
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
