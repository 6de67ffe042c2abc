#include "datafilenames.h"
#include "recordtable.h"
#include "replacingfile.h"
#include "safefile.h"
#include "tabledbcopier.h"
#include "tabletextexporter.h"

#include "recordfixture.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using RecordFixture::record;

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestDataFiles : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordTable> m_table;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    /// Files in the folder, less the journal that the open table keeps beside its file.
    QStringList filesLeft() const {
        QStringList files = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        // The working files of an open table, not leftovers of a save.
        files.removeIf(
            [](const QString &f) { return f.endsWith(u"-journal") || f.endsWith(u"-pending"); });
        files.sort();
        return files;
    }

    void fill(int n) {
        for (int i = 1; i <= n; ++i)
            m_table->append(record(i, QString::number(i * 0.001, 'f', 3), QStringLiteral("V"),
                                   QStringLiteral("DC"), QStringLiteral("AUTO"), QTime(1, 2, 3)));
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_table = std::make_unique<RecordTable>();
        m_table->open(path(QStringLiteral("Qm20db.db")), RecordTable::OpenMode::CreateIfMissing);
    }
    void cleanup() { m_table.reset(); }

    void saveAsNames_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("tableCopy");
        QTest::newRow("db lower case") << "/d/data.db"
                                       << "/d/data.db" << true;
        QTest::newRow("DB capitals get text") << "/d/data.DB"
                                              << "/d/data.DB" << false;
        QTest::newRow("Db mixed") << "/d/data.Db"
                                  << "/d/data.Db" << false;
        QTest::newRow("no extension") << "/d/data"
                                      << "/d/data.xls" << false;
        QTest::newRow("dot only in folder") << "/d.db/data"
                                            << "/d.db/data.xls" << false;
        QTest::newRow("txt") << "/d/data.txt"
                             << "/d/data.txt" << false;
        QTest::newRow("last dot counts") << "/d/data.db.txt"
                                         << "/d/data.db.txt" << false;
        QTest::newRow("xls then db") << "/d/data.xls.db"
                                     << "/d/data.xls.db" << true;
    }

    void saveAsNames() {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QFETCH(bool, tableCopy);
        const QString name = DataFileNames::withDefaultExtension(chosen);
        QCOMPARE(name, written);
        QCOMPARE(DataFileNames::isTableCopy(name), tableCopy);
    }

    void textFileByteForByte() {
        m_table->append(record(1, QStringLiteral("1.234"), QStringLiteral("k*"),
                               QStringLiteral("DC"), QStringLiteral("AUTO"), QTime(9, 5, 7)));
        m_table->applyUpdates();
        // Pending records are exported as the grid shows them.
        m_table->append(record(2, QStringLiteral("-0.0L"), QStringLiteral(")V"), QString(),
                               QStringLiteral("MANU"), QTime(23, 59, 59)));
        const QString file = path(QStringLiteral("out.xls"));
        QVERIFY(TableTextExporter::write(*m_table, file));
        QCOMPARE(readAll(file), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"
                                           "1\t09:05:07\tDC\t1.234\tk*\tAUTO\r\n"
                                           "2\t23:59:59\t\t-0.0L\t)V\tMANU\r\n"));
    }

    void emptyTableGivesTheHeadingOnly() {
        const QString file = path(QStringLiteral("empty.txt"));
        writeFile(file, QByteArray(10000, 'o')); // replaced, not overwritten in place
        QVERIFY(TableTextExporter::write(*m_table, file));
        QCOMPARE(readAll(file), QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n"));
    }

    void breaksInsideTextsBecomeSpaces() {
        // Only a table written elsewhere can hold these; rows must stay rows.
        m_table->append(record(1, QStringLiteral("1\t2"), QStringLiteral("V\r\n"),
                               QStringLiteral("D\nC"), QStringLiteral("AUTO"), QTime(0, 0, 0)));
        const QString file = path(QStringLiteral("odd.txt"));
        QVERIFY(TableTextExporter::write(*m_table, file));
        const QList<QByteArray> lines = readAll(file).split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QByteArray("1\t00:00:00\tD C\t1 2\tV  \tAUTO\r"));
    }

    void failedTextWriteKeepsTheOldFile_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing folder") << "nofolder/out.xls";
        QTest::newRow("target is a folder") << "afolder";
#ifdef QM_HAVE_FILE_SIZE_LIMIT
        QTest::newRow("disk full while writing") << "old.xls";
#endif
    }

    void failedTextWriteKeepsTheOldFile() {
        QFETCH(QString, target);
        const QString file = path(target);
        fill(3000);
        m_table->applyUpdates();
        const QByteArray old("old contents\r\n");
        if (target == u"afolder")
            QVERIFY(QDir(m_dir->path()).mkdir(target));
        if (target == u"old.xls")
            writeFile(file, old);
#ifdef QM_HAVE_FILE_SIZE_LIMIT
        std::optional<FileSizeLimit> limit;
        if (target == u"old.xls")
            limit.emplace(16 * 1024);
#endif
        const bool written = TableTextExporter::write(*m_table, file);
#ifdef QM_HAVE_FILE_SIZE_LIMIT
        limit.reset();
#endif
        QVERIFY(!written);
        if (target == u"old.xls")
            QCOMPARE(readAll(file), old);
        if (target == u"afolder")
            QVERIFY(QFileInfo(file).isDir());
        QStringList expected{"Qm20db.db"};
        if (target == u"old.xls")
            expected.append("old.xls");
        expected.sort();
        QCOMPARE(filesLeft(), expected);
    }

    void closedTableIsAnEngineError() {
        m_table->close();
        const QString file = path(QStringLiteral("x.txt"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, TableTextExporter::write(*m_table, file));
        QVERIFY(!QFile::exists(file));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, TableDbCopier::copy(*m_table, path("x.db")));
        QVERIFY(!QFile::exists(path("x.db")));
    }

    void tableCopyHoldsEveryRecord() {
        fill(5);
        m_table->applyUpdates();
        fill(2); // pending, included as the grid shows them
        const QString file = path(QStringLiteral("copy.db"));
        writeFile(file, "an older file of that name");
        TableDbCopier::copy(*m_table, file);
        QCOMPARE(m_table->count(), 7);

        // Read back with SQLite directly.
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rb"));
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("PRAGMA table_info(copy)")));
            QStringList names;
            QString key;
            while (q.next()) {
                names.append(q.value(1).toString());
                if (q.value(5).toInt() == 1)
                    key = q.value(1).toString();
            }
            QCOMPARE(names, RecordSchema::storedFieldNames());
            QCOMPARE(key, QStringLiteral("Not"));
            QVERIFY(q.exec(QStringLiteral("SELECT count(*), count(DISTINCT \"Not\"), sum(\"No\"), "
                                          "min(\"Time\"), max(\"Nval\") FROM copy")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), 7);
            QCOMPARE(q.value(1).toInt(), 7);
            QCOMPARE(q.value(2).toInt(), 15 + 3);
            QCOMPARE(q.value(3).toString(), QStringLiteral("01:02:03"));
            QCOMPARE(q.value(4).toDouble(), double(0.005f));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("rb"));

        // The command-line tool reads it too.
        const QString sqlite3 = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (!sqlite3.isEmpty()) {
            QProcess tool;
            tool.start(sqlite3,
                       {file, QStringLiteral(
                                  "SELECT \"No\", \"Value\" FROM copy ORDER BY \"Not\" LIMIT 2;")});
            QVERIFY(tool.waitForFinished(10000));
            QCOMPARE(tool.readAllStandardOutput(), QByteArray("1|0.001\n2|0.002\n"));
        }

        // And it opens as a record table.
        RecordTable reopened;
        reopened.open(file, RecordTable::OpenMode::MustExist);
        QCOMPARE(reopened.count(), 7);
        QCOMPARE(reopened.rows(6, 1).value(0).texts[RecordRow::No], QStringLiteral("2"));
        QCOMPARE(filesLeft(), (QStringList{"Qm20db.db", "copy.db"}));
    }

    void failedCopyKeepsTheOldFile_data() {
        QTest::addColumn<QString>("target");
#ifdef QM_HAVE_FILE_SIZE_LIMIT
        QTest::newRow("disk full while copying") << "old.db";
#endif
        QTest::newRow("missing folder") << "nofolder/new.db";
        QTest::newRow("the open table itself") << "Qm20db.db";
        QTest::newRow("a folder") << "afolder.db";
    }

    void failedCopyKeepsTheOldFile() {
        QFETCH(QString, target);
        const QString file = path(target);
        fill(5000);
        m_table->applyUpdates();
        const QByteArray old("old contents");
        if (target == u"old.db")
            writeFile(file, old);
        if (target == u"afolder.db")
            QVERIFY(QDir(m_dir->path()).mkdir(target));
        const QByteArray tableBefore = readAll(path(QStringLiteral("Qm20db.db")));
        try {
#ifdef QM_HAVE_FILE_SIZE_LIMIT
            std::optional<FileSizeLimit> limit;
            if (target == u"old.db")
                limit.emplace(32 * 1024);
#endif
            TableDbCopier::copy(*m_table, file);
            QFAIL("the copy must fail");
        } catch (const std::exception &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(file), e.what());
        }
        if (target == u"old.db")
            QCOMPARE(readAll(file), old);
        QCOMPARE(readAll(path(QStringLiteral("Qm20db.db"))), tableBefore);
        QCOMPARE(m_table->count(), 5000);
        // No temporary file is left behind.
        QStringList expected{"Qm20db.db"};
        if (target == u"old.db")
            expected.append("old.db");
        expected.sort();
        QCOMPARE(filesLeft(), expected);
    }
    // Neither format may overwrite a table that is in use: the open one, or one that
    // another program holds.
    void saveAsNeverOverwritesATableInUse_data() {
        QTest::addColumn<bool>("asText");
        QTest::addColumn<bool>("ownTable");
        QTest::newRow("text onto the open table") << true << true;
        QTest::newRow("copy onto the open table") << false << true;
        QTest::newRow("text onto a table held elsewhere") << true << false;
        QTest::newRow("copy onto a table held elsewhere") << false << false;
    }
    void saveAsNeverOverwritesATableInUse() {
        QFETCH(bool, asText);
        QFETCH(bool, ownTable);
        fill(3);
        m_table->applyUpdates();
        RecordTable other;
        QString target = path(QStringLiteral("Qm20db.db"));
        if (!ownTable) {
            target = path(QStringLiteral("OTHER.DB"));
            other.open(target, RecordTable::OpenMode::CreateIfMissing);
            other.append(record(1, "1.000", "V", "DC", "AUTO", QTime(1, 2, 3)));
            other.applyUpdates();
        }
        const QByteArray before = readAll(target);
        try {
            if (asText)
                TableTextExporter::write(*m_table, target);
            else
                TableDbCopier::copy(*m_table, target);
            QFAIL("a table in use must not be replaced");
        } catch (const std::exception &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Table in use: %1").arg(target));
        }
        QCOMPARE(readAll(target), before);
        QCOMPARE(m_table->count(), 3);
        if (!ownTable)
            QCOMPARE(other.count(), 1);
    }

    // What is already at the chosen name, or at the name of the temporary copy beside it:
    // both kinds of file follow a link to a file, refuse a pipe or a device and a name too
    // long, never write through a link planted where the temporary copy goes, and replace a
    // temporary copy that a crashed run left.
    void saveAsTargets_data() {
        QTest::addColumn<bool>("asText");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("refusal"); // part of the message; empty: written
        // Names of so many bytes, extension included.
        auto named = [](int bytes, const QString &ext) {
            return "name:" + QStringLiteral("a").repeated(bytes - ext.size()) + ext;
        };
        for (const bool asText : {true, false}) {
            const char *kind = asText ? "text" : "copy";
            const QString ext = asText ? QStringLiteral(".xls") : QStringLiteral(".db");
            auto row = [&](const char *what, const QString &setup, const char *refusal) {
                QTest::addRow("%s, %s", kind, what) << asText << setup << QString(refusal);
            };
            row("a new name", "new", "");
            row("a 255-byte name", named(255, ext), "");
            row("a 256-byte name", named(256, ext), "too long");
            row("a leftover temporary copy", "leftover", "");
#ifdef Q_OS_UNIX
            row("a link to a file", "link", "");
            row("a link planted at the temporary copy", "planted", "a symbolic link");
            row("a pipe", "pipe", "is not a file");
            row("a link to a device", "device", "is not a file");
#endif
        }
    }
    void saveAsTargets() {
        QFETCH(bool, asText);
        QFETCH(QString, setup);
        QFETCH(QString, refusal);
        fill(3);
        const QString ext = asText ? QStringLiteral(".xls") : QStringLiteral(".db");
        QString target = path("out" + ext);
        if (setup.startsWith(u"name:"))
            target = path(setup.mid(5));
        // Where the new file is to land: the link's file, for a link.
        QString lands = target;
        const QString victim = path(QStringLiteral("victim.txt"));
        writeFile(victim, "precious");
        const QString temporary = ReplacingFile::temporaryFor(target);
#ifdef Q_OS_UNIX
        if (setup == u"link") {
            lands = path("real" + ext);
            writeFile(lands, "old");
            QVERIFY(QFile::link(lands, target));
        }
        if (setup == u"planted")
            QVERIFY(QFile::link(victim, temporary));
        if (setup == u"pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        if (setup == u"device")
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), target));
#endif
        if (setup == u"leftover")
            writeFile(temporary, "left by a run that crashed");

        QString said;
        try {
            const bool written = asText ? TableTextExporter::write(*m_table, target)
                                        : (TableDbCopier::copy(*m_table, target), true);
            if (!written)
                said = QStringLiteral("not written");
        } catch (const std::exception &e) {
            said = QString::fromUtf8(e.what());
        }

        QCOMPARE(readAll(victim), QByteArray("precious"));
        if (refusal.isEmpty()) {
            QCOMPARE(said, QString());
            QVERIFY(readAll(lands).startsWith(asText ? "No\tTime" : "SQLite format 3"));
            QCOMPARE(QFileInfo(target).isSymLink(), setup == u"link");
            QVERIFY(!QFileInfo::exists(temporary));
            return;
        }
        QVERIFY2(said.contains(refusal) && (said.contains(QDir::toNativeSeparators(target)) ||
                                            said.contains(QDir::toNativeSeparators(temporary))),
                 qPrintable(said));
        QCOMPARE(QFileInfo(temporary).isSymLink(), setup == u"planted");
#ifdef Q_OS_UNIX
        if (setup == u"pipe") {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode));
        }
#endif
        if (setup != u"pipe" && setup != u"device")
            QVERIFY(!QFileInfo::exists(target));
    }

    // The scratch files beside a table are made only where nothing is: a file of this user's
    // left by a crash is replaced, anything else is refused and left as it is.
    void scratchFileNeverReusesWhatIsThere_data() {
        QTest::addColumn<QString>("there");
        QTest::addColumn<QString>("refusal"); // part of the message; empty: made
        auto row = [](const char *what, const char *there, const char *refusal) {
            QTest::newRow(what) << QString(there) << QString(refusal);
        };
        row("nothing", "nothing", "");
        row("a file of ours", "own file", "");
        row("a folder", "folder", "a folder");
#ifdef Q_OS_UNIX
        row("a link to a file", "link", "a symbolic link");
        row("a link to nothing", "dangling link", "a symbolic link");
        row("a file with a second name", "hard link", "other names");
        row("a pipe", "pipe", "a pipe, socket or device");
        if (::geteuid() == 0)
            row("another user's file", "other user", "another user's file");
#endif
    }
    void scratchFileNeverReusesWhatIsThere() {
        QFETCH(QString, there);
        QFETCH(QString, refusal);
        const QString scratch = path(QStringLiteral("Qm20db.db-scratch"));
        const QString victim = path(QStringLiteral("victim.txt"));
        writeFile(victim, "precious");
        if (there == u"own file" || there == u"other user")
            writeFile(scratch, "left over");
        if (there == u"folder")
            QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Qm20db.db-scratch")));
#ifdef Q_OS_UNIX
        if (there == u"link")
            QVERIFY(QFile::link(victim, scratch));
        if (there == u"dangling link")
            QVERIFY(QFile::link(path(QStringLiteral("nowhere")), scratch));
        if (there == u"hard link")
            QCOMPARE(::link(QFile::encodeName(victim).constData(),
                            QFile::encodeName(scratch).constData()),
                     0);
        if (there == u"pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(scratch).constData(), 0600), 0);
        if (there == u"other user")
            QCOMPARE(::chown(QFile::encodeName(scratch).constData(), 65534, 65534), 0);
#endif
        QFile file(scratch);
        QString said;
        try {
            if (!SafeFile::create(file))
                said = file.errorString();
        } catch (const SafeFile::Refused &e) {
            said = QString::fromUtf8(e.what());
        }
        QCOMPARE(readAll(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("nowhere"))));
        if (refusal.isEmpty()) {
            QCOMPARE(said, QString());
            QVERIFY(file.isOpen());
            QCOMPARE(file.size(), 0);
            QCOMPARE(file.write("new"), 3);
            file.close();
            QCOMPARE(readAll(scratch), QByteArray("new"));
            return;
        }
        QVERIFY2(said.contains(refusal) && said.contains(QDir::toNativeSeparators(scratch)),
                 qPrintable(said));
        QVERIFY(!file.isOpen());
        QVERIFY(QFileInfo(scratch).exists() || QFileInfo(scratch).isSymLink());
        if (there == u"other user")
            QCOMPARE(readAll(scratch), QByteArray("left over"));
    }

#ifdef Q_OS_UNIX
    // File modes (Windows has none to keep).
    void copyIsReadableLikeAnyNewFile() {
        fill(2);
        const mode_t mask = ::umask(022);
        const QString file = path(QStringLiteral("copy.db"));
        TableDbCopier::copy(*m_table, file);
        ::umask(mask);
        QCOMPARE(QFileInfo(file).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::ReadOther | QFileDevice::ReadGroup);
        // Replacing a file keeps that file's permissions.
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        TableDbCopier::copy(*m_table, file);
        QCOMPARE(QFileInfo(file).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
    }
#endif
};

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
