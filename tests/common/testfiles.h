#pragma once

#include <QByteArray>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>

#include <sys/resource.h>
#define QM_HAVE_FILE_SIZE_LIMIT 1
#endif

/// Writes `bytes` as the whole of `path`; a file that cannot be written fails the test.
inline void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

/// Runs `sql` statements on `path` through a connection of their own, as a plain SQLite
/// client would; a statement that fails fails the test.
inline void runSql(const QString &path, const QStringList &sql) {
    const QString name = QStringLiteral("test-setup");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY2(db.open(), qPrintable(path + u' ' + db.lastError().text()));
        QSqlQuery q(db);
        for (const QString &s : sql)
            QVERIFY2(q.exec(s), qPrintable(s + u' ' + q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

/// The `No` of every record a plain SQLite client finds in `table` of `path`, in key order;
/// none when the file does not open or fails the engine's integrity check.
inline QList<int> storedNumbers(const QString &path,
                                const QString &table = QStringLiteral("Qm20db")) {
    QList<int> numbers;
    const QString name = QStringLiteral("test-numbers");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            const QString select = QStringLiteral("SELECT \"No\" FROM \"%1\" ORDER BY _rowid_");
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next() &&
                q.value(0).toString() == u"ok" && q.exec(select.arg(table)))
                while (q.next())
                    numbers.append(q.value(0).toInt());
        }
    }
    QSqlDatabase::removeDatabase(name);
    return numbers;
}

/// 1, 2, ..., n: the numbers of a run of n records.
inline QList<int> oneTo(int n) {
    QList<int> out;
    for (int i = 1; i <= n; ++i)
        out.append(i);
    return out;
}

#ifdef QM_HAVE_FILE_SIZE_LIMIT
/// A disk that fills up: files of this process cannot grow past `bytes` while it lives. A
/// write past it fails instead of raising SIGXFSZ; the handler there was is put back after.
/// Only where the system has a file size limit (not on Windows).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};
#endif
