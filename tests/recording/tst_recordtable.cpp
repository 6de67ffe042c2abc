#include "recordfixture.h"
#include "recordtable.h"
#include "recordwalk.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>

namespace {

RecordValues reading(int no, const QString &value = QStringLiteral("1.234"),
                     const QString &unit = QStringLiteral("V")) {
    return RecordFixture::record(no, value, unit, QStringLiteral("DC"), QStringLiteral("AUTO"),
                                 QTime(12, 34, 56));
}

QString errorOf(const std::function<void()> &step) {
    try {
        step();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

QStringList numbers(const RecordTable &table, qint64 first, int n) {
    QStringList out;
    for (const RecordRow &r : table.rows(first, n))
        out.append(r.texts[RecordRow::No]);
    return out;
}

} // namespace

class TestRecordTable : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
    }

    void missingFileIsCreatedWithTheFields() {
        const QString path = m_dir.filePath(QStringLiteral("Qm20db.db"));
        RecordTable table;
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        QVERIFY(table.isOpen());
        QCOMPARE(table.count(), 0);
        QCOMPARE(table.tableName(), QStringLiteral("Qm20db"));
        table.close();
        // The empty table is stored even though nothing was saved.
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        {
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("PRAGMA table_info(Qm20db)")));
            QStringList names;
            QString keyField;
            while (q.next()) {
                names.append(q.value(1).toString());
                if (q.value(5).toInt() == 1)
                    keyField = q.value(1).toString();
            }
            QCOMPARE(names, RecordSchema::storedFieldNames());
            QCOMPARE(keyField, QStringLiteral("Not"));
            // Other programs read the stored statement: it stays as files have always had it.
            QVERIFY(q.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'Qm20db'")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(),
                     QStringLiteral("CREATE TABLE \"Qm20db\" (\"Not\" INTEGER PRIMARY KEY, "
                                    "\"No\" INTEGER, \"Time\" TEXT, \"DC/AC\" TEXT, "
                                    "\"Value\" TEXT, \"Unit\" TEXT, \"AUTO\" TEXT, "
                                    "\"Nval\" REAL)"));
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
    }

    void schemaStatementsTakeAnyNames_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("key");
        const QString notKey = RecordSchema::quoted(RecordSchema::fieldName(RecordSchema::Key));
        QTest::newRow("plain") << QStringLiteral("Qm20db") << notKey;
        QTest::newRow("double quotes") << QStringLiteral("a\"b\"\"c\"") << notKey;
        QTest::newRow("single quote, space") << QStringLiteral("it's a table") << notKey;
        QTest::newRow("brackets, backtick") << QStringLiteral("[x] `y`") << notKey;
        QTest::newRow("unicode") << QStringLiteral("Meßwerte µV 測定") << notKey;
        QTest::newRow("keyword") << QStringLiteral("select") << QStringLiteral("rowid");
        // Only the engine's own tables are left out of the list: the "_" is not a wildcard.
        QTest::newRow("sqlite-like") << QStringLiteral("sqliteXdata") << QStringLiteral("oid");
        QTest::newRow("key in other case") << QStringLiteral("Not") << QStringLiteral("\"NOT\"");
        QTest::newRow("_rowid_, percent")
            << QStringLiteral("100%1 \"done\" %2") << QStringLiteral("_rowid_");
    }

    void schemaStatementsTakeAnyNames() {
        QFETCH(QString, table);
        QFETCH(QString, key);
        using S = RecordSchema;
        const QString connection = QStringLiteral("schema");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(QStringLiteral(":memory:"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            auto run = [&](const QString &sql, const QVariantList &values = {}) {
                if (!q.prepare(sql))
                    return false;
                for (const QVariant &v : values)
                    q.addBindValue(v);
                return q.exec();
            };
            auto column = [&](int at) {
                QVariantList out;
                while (q.next())
                    out << q.value(at);
                return out;
            };
            auto single = [&](const QString &sql) {
                return run(sql) && q.next() ? q.value(0) : QVariant(QStringLiteral("failed"));
            };
            QVERIFY2(run(S::createSql(table)), qPrintable(q.lastError().text()));
            QVERIFY(run(S::tablesSql()));
            QCOMPARE(column(0), QVariantList{table});
            QVERIFY(run(S::tableInfoSql(table)));
            QStringList names;
            while (q.next())
                names << q.value(1).toString();
            QCOMPARE(names, S::storedFieldNames());
            QVERIFY(run(S::indexListSql(table)));
            QVERIFY(!column(3).contains(QStringLiteral("pk")));
            QVERIFY2(run(S::keyProbeSql(table, key)), qPrintable(q.lastError().text()));
            QVERIFY(!q.next());

            // Fields in Field order: No, Time, DC/AC, Value, Unit, AUTO, [key], Nval.
            const auto record = [](int no, const QVariant &k = {}) {
                QVariantList v{no,
                               QStringLiteral("12:00:0%1").arg(no),
                               QStringLiteral("DC"),
                               QStringLiteral("1.50%1").arg(no),
                               QStringLiteral("V"),
                               QStringLiteral("AUTO")};
                if (k.isValid())
                    v << k;
                return v << 1.5;
            };
            QVERIFY(run(S::insertSql(table, true), record(1, 10)));
            QVERIFY(run(S::insertSql(table, true), record(2, 20)));
            QVERIFY(run(S::insertSql(table, false), record(3)));
            QCOMPARE(single(S::countSql(table)).toLongLong(), 3);
            QCOMPARE(single(S::minKeySql(table, key)).toLongLong(), 10);
            QCOMPARE(single(S::maxKeySql(table, key)).toLongLong(), 21);
            QVERIFY(run(S::keysSql(table, key)));
            QCOMPARE(column(0), (QVariantList{10, 20, 21}));

            QVERIFY(run(S::walkSql(table, key)));
            QVERIFY(q.next() && q.next());
            QCOMPARE(q.record().count(), int(S::FieldCount));
            for (int f = 0; f < S::FieldCount; ++f)
                QCOMPARE(q.value(f).toString(), record(2, 20)[f].toString());
            QVERIFY(run(S::pageSql(table, key), {15, 5, 1}));
            QCOMPARE(q.record().count(), int(S::Key) + 1);
            QCOMPARE(column(S::Key), QVariantList{21});
            QVERIFY(run(S::keyAtSql(table, key), {11, 1}));
            QCOMPARE(column(0), QVariantList{21});
            QVERIFY(run(S::cappedRowSql(table, key, 1u << S::Value, 4), {20}));
            QVERIFY(q.next());
            QCOMPARE(q.value(S::No), QVariant(qlonglong(2)));
            QCOMPARE(q.value(S::Time).toString(), QStringLiteral("12:0"));
            QVERIFY(q.value(S::Value).isNull());
            QCOMPARE(q.value(S::Auto).toString(), QStringLiteral("AUTO"));
            {
                // Numbered parameters are bound through the engine itself, as the walk does.
                auto *handle = *static_cast<sqlite3 *const *>(db.driver()->handle().data());
                const QByteArray sql = S::boundRowSql().toUtf8();
                sqlite3_stmt *row = nullptr;
                QCOMPARE(sqlite3_prepare_v2(handle, sql.constData(), -1, &row, nullptr), SQLITE_OK);
                for (int f = 0; f < S::FieldCount; ++f)
                    sqlite3_bind_int(row, f + 1, 100 + f);
                QCOMPARE(sqlite3_step(row), SQLITE_ROW);
                QCOMPARE(sqlite3_column_count(row), int(S::FieldCount));
                for (int f = 0; f < S::FieldCount; ++f)
                    QCOMPARE(sqlite3_column_type(row, f) == SQLITE_NULL
                                 ? -1
                                 : sqlite3_column_int(row, f),
                             f == S::Key ? -1 : 100 + f);
                sqlite3_finalize(row);
            }

            // The engine matches names without regard to ASCII case only.
            const QString other = table + QStringLiteral(" \"2\"");
            const QString trigger = other + QStringLiteral("/t");
            QString otherInCaps = other;
            for (QChar &c : otherInCaps)
                if (c >= u'a' && c <= u'z')
                    c = c.toUpper();
            QVERIFY(run(QStringLiteral("CREATE VIEW %1 AS SELECT * FROM %2")
                            .arg(S::quoted(other), S::quoted(table))));
            QVERIFY(run(QStringLiteral("CREATE TRIGGER %1 AFTER DELETE ON %2 BEGIN SELECT 1; END")
                            .arg(S::quoted(trigger), S::quoted(table))));
            QVERIFY(run(S::viewNamedSql(), {otherInCaps}));
            QCOMPARE(column(0), QVariantList{other});
            QVERIFY(run(S::viewNamedSql(), {table}));
            QVERIFY(!q.next());
            QVERIFY(run(S::triggersOnSql(), {table}));
            QCOMPARE(column(0), QVariantList{trigger});
            QVERIFY(run(S::clearSql(table)));
            QCOMPARE(single(S::countSql(table)).toLongLong(), 0);
            QVERIFY(single(S::maxKeySql(table, key)).isNull());
        }
        QSqlDatabase::removeDatabase(connection);
    }

    void fieldNamesMatchWithoutRegardToCase() {
        // A table whose fields are spelled differently from both the recording's spelling
        // (no, time, value, unit, Auto) and the views' (No, Time, Value, Unit, AUTO).
        const QString path = m_dir.filePath(QStringLiteral("odd.db"));
        runSql(path,
               {QStringLiteral("CREATE TABLE odd (NOT_USED TEXT, \"NOT\" INTEGER PRIMARY KEY, "
                               "\"NO\" INTEGER, \"tImE\" TEXT, \"dc/ac\" TEXT, \"VALUE\" TEXT, "
                               "\"UNIT\" TEXT, \"auto\" TEXT, \"NVAL\" REAL)")});
        RecordTable table;
        table.open(path, RecordTable::OpenMode::MustExist);
        table.append(reading(7, QStringLiteral("-0.012"), QStringLiteral("k*")));
        const QList<RecordRow> rows = table.rows(0, 5);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].texts,
                 (std::array<QString, 6>{"7", "12:34:56", "DC", "-0.012", "k*", "AUTO"}));
        RecordWalk walk(table);
        QVERIFY(walk.next());
        QCOMPARE(walk.value(RecordWalk::Nval).toDouble(), double(-0.012f));
        QCOMPARE(walk.value(RecordWalk::No).toInt(), 7);
        QVERIFY(!walk.next());
    }

    void pendingRecordsAreLostAndSavedOnesKept() {
        const QString path = m_dir.filePath(QStringLiteral("Qm20db.db"));
        RecordTable table;
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        for (int i = 1; i <= 5; ++i)
            table.append(reading(i));
        table.applyUpdates();
        for (int i = 6; i <= 8; ++i)
            table.append(reading(i));
        QCOMPARE(table.count(), 8);
        QCOMPARE(numbers(table, 0, 100).size(), 8);
        table.close();

        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(table.count(), 5);
        QCOMPARE(numbers(table, 0, 100), (QStringList{"1", "2", "3", "4", "5"}));

        // A second save in the same run stores every record once.
        table.append(reading(6));
        table.applyUpdates();
        table.applyUpdates();
        table.close();
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(table.count(), 6);
    }

    void emptyRemovesStoredAndPendingAtOnce() {
        const QString path = m_dir.filePath(QStringLiteral("Qm20db.db"));
        RecordTable table;
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        table.append(reading(1));
        table.append(reading(2));
        table.applyUpdates();
        table.append(reading(3));
        QSignalSpy resets(&table, &RecordTable::reset);
        table.empty();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(table.count(), 0);
        QVERIFY(table.rows(0, 10).isEmpty());
        // Closed without a save: the stored records are gone as well.
        table.close();
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(table.count(), 0);

        // Only pending records: nothing comes back after a save.
        table.append(reading(1));
        table.empty();
        table.applyUpdates();
        table.close();
        table.open(path, RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(table.count(), 0);
        // Numbers given after the clear start from the first key again without clashes.
        table.append(reading(1));
        table.append(reading(2));
        QCOMPARE(numbers(table, 0, 10), (QStringList{"1", "2"}));
    }

    void refusedFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("field missing")
            << "nonval.db"
            << QStringList{"CREATE TABLE nonval (\"Not\" INTEGER PRIMARY KEY, \"No\" INTEGER, "
                           "\"Time\" TEXT, \"DC/AC\" TEXT, \"Value\" TEXT, \"Unit\" TEXT, "
                           "\"AUTO\" TEXT)"}
            << "Field 'Nval' not found";
        QTest::newRow("no table") << "empty.db" << QStringList{"PRAGMA user_version = 1"}
                                  << "No table in file";
        QTest::newRow("not a table file") << "text.DB" << QStringList() << "not a database";
        QTest::newRow("missing") << "missing.db" << QStringList() << "Table not found";
        QTest::newRow("folder") << "folder.db" << QStringList() << "is a folder";
    }

    void refusedFiles() {
        QFETCH(QString, file);
        QFETCH(QStringList, setup);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(file);
        if (!setup.isEmpty())
            runSql(path, setup);
        if (file == u"text.DB") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'x'));
        }
        if (file == u"folder.db")
            QVERIFY(QDir(m_dir.path()).mkdir(file));

        RecordTable table;
        const QString error = errorOf([&] { table.open(path, RecordTable::OpenMode::MustExist); });
        QVERIFY2(error.contains(message), qPrintable(error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY(!table.isOpen());
        QCOMPARE(table.fileName(), path);
        QVERIFY(errorOf([&] { table.count(); }).contains(QStringLiteral("not open")));
        QVERIFY(errorOf([&] { table.append(reading(1)); }).contains(path));
        QVERIFY(table.rows(0, 10).isEmpty());
        QCOMPARE(QFile::exists(m_dir.filePath(QStringLiteral("missing.db"))), false);

        // The same object opens a good table afterwards.
        table.open(m_dir.filePath(QStringLiteral("good.db")),
                   RecordTable::OpenMode::CreateIfMissing);
        QVERIFY(table.isOpen());
    }

    void secondConnectionIsRefusedAndFirstUndisturbed() {
        const QString path = m_dir.filePath(QStringLiteral("Qm20db.db"));
        RecordTable first;
        first.open(path, RecordTable::OpenMode::CreateIfMissing);
        first.append(reading(1));

        QElapsedTimer clock;
        clock.start();
        RecordTable second;
        const QString error =
            errorOf([&] { second.open(path, RecordTable::OpenMode::CreateIfMissing); });
        QVERIFY2(error.contains(QStringLiteral("in use")), qPrintable(error));
        QVERIFY(error.contains(path));
        QVERIFY2(clock.elapsed() < 2000, "a locked table must be refused at once");
        QVERIFY(!second.isOpen());

        first.append(reading(2));
        first.applyUpdates();
        QCOMPARE(first.count(), 2);
        first.close();
        second.open(path, RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(second.count(), 2);
    }

    void secondProcessIsRefused() {
        const QString path = m_dir.filePath(QStringLiteral("Qm20db.db"));
        RecordTable first;
        first.open(path, RecordTable::OpenMode::CreateIfMissing);
        first.append(reading(1));

        QProcess probe;
        probe.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--probe"), path});
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitCode(), 1);
        const QString said = QString::fromUtf8(probe.readAllStandardOutput());
        QVERIFY2(said.contains(QStringLiteral("in use")) && said.contains(path), qPrintable(said));

        first.applyUpdates();
        QCOMPARE(first.count(), 1);
        first.close();
        probe.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--probe"), path});
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), QStringLiteral("1"));
    }

    void rowsAreFoundAcrossKeyGaps() {
        // A table written elsewhere with holes in its keys: every row is still found at its
        // position, across the anchors the table keeps.
        const QString path = m_dir.filePath(QStringLiteral("gaps.db"));
        QStringList sql{RecordSchema::createSql(QStringLiteral("gaps")), QStringLiteral("BEGIN")};
        const int n = 3 * RowIndex::kAnchorStride + 17;
        qint64 key = 5;
        for (int i = 0; i < n; ++i) {
            key += 1 + (i % 7 == 0 ? 100 : 0) + (i % 3);
            sql.append(QStringLiteral("INSERT INTO gaps VALUES (%1, %2, '01:02:03', '', '%2', 'V', "
                                      "'MANU', %2)")
                           .arg(key)
                           .arg(i));
        }
        sql.append(QStringLiteral("COMMIT"));
        runSql(path, sql);

        RecordTable table;
        table.open(path, RecordTable::OpenMode::MustExist);
        QCOMPARE(table.count(), n);
        for (int first : {0, 1, RowIndex::kAnchorStride - 1, RowIndex::kAnchorStride,
                          2 * RowIndex::kAnchorStride + 100, n - 3}) {
            const QStringList got = numbers(table, first, 5);
            QStringList want;
            for (int i = first; i < qMin(first + 5, n); ++i)
                want.append(QString::number(i));
            QCOMPARE(got, want);
        }
        QVERIFY(table.rows(n, 5).isEmpty());
        table.append(reading(9999));
        QCOMPARE(numbers(table, n - 1, 5), (QStringList{QString::number(n - 1), "9999"}));
    }

private:
    struct Dir {
        TestRecordTable *t;
        QString filePath(const QString &name) const { return t->m_tmp->filePath(name); }
        QString path() const { return t->m_tmp->path(); }
    };
    std::unique_ptr<QTemporaryDir> m_tmp;
    Dir m_dir{this};
};

int main(int argc, char **argv) {
    // Child mode for the exclusive-use test: open the table as a second program would.
    if (argc == 3 && qstrcmp(argv[1], "--probe") == 0) {
        QCoreApplication app(argc, argv);
        RecordTable table;
        try {
            table.open(QString::fromLocal8Bit(argv[2]), RecordTable::OpenMode::CreateIfMissing);
            std::printf("%lld\n", static_cast<long long>(table.count()));
            return 0;
        } catch (const std::exception &e) {
            std::printf("%s\n", e.what());
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    TestRecordTable test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recordtable.moc"
