// Faults the program must live through, each against the real main window with the meter
// emulator as a separate process: the emulator dying under an open port, hostile bytes on
// the line, files that are not record tables, saves that cannot be written, a disk that fills
// up under the record table, the program killed right after a save, and two copies started
// in one folder.
//
// The last two need the program in processes of its own. This executable doubles as that
// program: run with --copy it builds the real window (the same TFCOMM that qm-interface
// shows) offscreen, optionally connects it to the emulator, and takes the commands "count",
// "save", "budget N" (bytes its folder's disk still takes) and "quit" on standard input. The real
// qm-interface binary is started as well, where all it has to show is that it starts and keeps
// running.
#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "bevelpanel.h"
#include "meteremulator.h"
#include "meterlink.h"
#include "permissionsapply.h"
#include "recordgrid.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "residentmemory.h"
#include "testfiles.h"
#include "tfcomm.h"
#include "windowharness.h"
#include "writebudget.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// CPU time this process has used, all threads, user and system.
qint64 cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

QByteArray digestOf(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex();
}

/// What a plain SQLite client sees in a table file: its integrity verdict and record count.
QPair<QString, qint64> inspect(const QString &path) {
    const QString name = QStringLiteral("faults-inspect");
    QPair<QString, qint64> seen{QStringLiteral("<cannot open>"), -1};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                seen.first = q.value(0).toString();
            if (q.exec(QStringLiteral("SELECT count(*) FROM Qm20db")) && q.next())
                seen.second = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return seen;
}

/// A copy of the program in a process of its own (this executable with --copy), working in
/// `folder`, optionally connected to the meter on `link`.
class ProgramCopy {
public:
    ProgramCopy(const QString &folder, const QString &link) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!link.isEmpty())
            env.insert(QStringLiteral("QM_COM1"), link);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{QStringLiteral("--copy"), folder};
        if (!link.isEmpty())
            args << QStringLiteral("--connect");
        m_process.start(QCoreApplication::applicationFilePath(), args);
    }
    ~ProgramCopy() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    /// The next line it prints, without its line end; empty after `timeoutMs`.
    QString line(int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && t.elapsed() < timeoutMs &&
               m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(50);
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    /// Lines up to and including "ready": what the copy said while it started.
    QStringList startup() {
        QStringList said;
        for (QString l = line(); !l.isEmpty(); l = line()) {
            said << l;
            if (l == u"ready")
                break;
        }
        return said;
    }
    /// Sends `command` and returns the number in its "<command> N" answer, or -1. Error
    /// boxes shown on the way go to `errors`.
    qint64 ask(const char *command) {
        m_process.write(QByteArray(command) + '\n');
        m_process.waitForBytesWritten(1000);
        QString answer = line();
        for (; answer.startsWith(u"error: "); answer = line())
            errors << answer;
        const QString prefix = QLatin1String(command) + u' ';
        return answer.startsWith(prefix) ? answer.mid(prefix.size()).toLongLong() : -1;
    }
    /// Waits until the copy holds at least `n` records; its count then, or -1.
    qint64 awaitRecords(qint64 n, int timeoutMs = 10000) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            const qint64 count = ask("count");
            if (count >= n || count < 0 || t.elapsed() > timeoutMs)
                return count;
            QTest::qWait(50);
        }
    }
    QProcess &process() { return m_process; }
    QStringList errors;

private:
    QProcess m_process;
};

/// The --copy mode: the program's window, driven through its own handlers.
int runCopy(int argc, char **argv) {
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const bool connect = argc > 3 && qstrcmp(argv[3], "--connect") == 0;
    auto say = [](const QString &text) {
        std::printf("%s\n", text.simplified().toUtf8().constData());
        std::fflush(stdout);
    };
    WindowHarness h({.folder = folder});
    for (const QString &error : std::as_const(h.errors))
        say(QStringLiteral("error: ") + error);
    h.prompts.onError = [&](const QString &text) { say(QStringLiteral("error: ") + text); };
    if (connect) {
        // Every reading recorded, as many as come.
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        h.w->limitessClick();
        h.w->BTCon1Click();
    }
    say(QStringLiteral("ready"));

    auto count = [&] { return h.w->recordTable()->isOpen() ? h.w->recordTable()->count() : -1; };
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray command = pending.left(end).trimmed();
            if (command == "count") {
                say(QStringLiteral("count %1").arg(count()));
            } else if (command == "save") {
                h.w->RecordSaveClick();
                say(QStringLiteral("save %1").arg(count()));
            } else if (command.startsWith("budget ")) {
                WriteBudget::set(folder, command.mid(7).toLongLong());
                say(QStringLiteral("%1 %2").arg(QString::fromLatin1(command)).arg(count()));
            } else if (command == "quit") {
                app.quit();
            }
        }
    });
    return app.exec();
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString link() const { return m_dir->filePath(QStringLiteral("meter")); }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("QM_COM1", link().toLocal8Bit());
    }

    // The adapter pulled, the meter's process gone: the port hangs up under the program,
    // which tries it again every 2 s at little cost and records again, with no click, once
    // the meter is back on the same path.
    void emulatorGoneAndBack_data() {
        QTest::addColumn<bool>("hard");
        QTest::newRow("killed") << true;
        QTest::newRow("ended") << false;
    }
    void emulatorGoneAndBack() {
        QFETCH(bool, hard);
        auto sim = std::make_unique<MeterEmulator>(QStringList{"--fixed"}, link(), 3);
        QVERIFY(sim->ready());
        WindowHarness h({.show = true});
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false); // every reading recorded
        h.w->BTCon1Click();
        QTRY_VERIFY_WITH_TIMEOUT(h.linkAlive(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(h.w->recordTable()->count() > 0, 3000);

        QSignalSpy retries(h.w->Link(), &MeterLink::reopenFailed);
        QVERIFY(sim->stop(hard));
        QTRY_VERIFY_WITH_TIMEOUT(!h.linkAlive(), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!h.w->COMM2()->PortIsOpen(), 2000);
        QVERIFY(control<BevelPanel>(*h.w, "BtDiscon")->isVisible());
        QVERIFY(control<QLabel>(*h.w, "CONokN")
                    ->toolTip()
                    .contains(QStringLiteral("tried again every 2 s")));
        if (!hard) {
            // Ended politely, the emulator takes its link away: the retries find no device.
            // No busy loop on it, and they cost little: 5 s, over two retry periods.
            const qint64 cpuBefore = cpuMs();
            QElapsedTimer wall;
            wall.start();
            QTest::qWait(5000);
            const qint64 cpu = cpuMs() - cpuBefore;
            QVERIFY2(cpu * 5 < wall.elapsed(),
                     qPrintable(QStringLiteral("%1 ms CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
            QVERIFY2(retries.size() >= 2, qPrintable(QString::number(retries.size())));
            QVERIFY(!h.linkAlive());
        }
        const qint64 before = h.w->recordTable()->count();

        sim = std::make_unique<MeterEmulator>(QStringList{"--fixed"}, link(), 3);
        QVERIFY(sim->ready());
        QTRY_VERIFY_WITH_TIMEOUT(h.linkAlive(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(h.w->recordTable()->count() > before, 3000);
        QCOMPARE(h.w->ValueText(), QStringLiteral("01.234"));
        QCOMPARE(h.errors, QStringList());
    }

    // Whatever comes down the line, the program goes on and decodes the good frames after it.
    void hostileBytesOnTheLine_data() {
        QTest::addColumn<QByteArray>("burst");
        QTest::addColumn<int>("framesInIt"); // display frames of 4.321 V the burst holds
        QTest::newRow("garbage") << QByteArray("burst 2000 00FF1355AA0A") << 0;
        QTest::newRow("cut frames") << QByteArray("burst 1000 8970000A8A00000A89F10A") << 0;
        QTest::newRow("frames without line feeds")
            << QByteArray("burst 1000 89700000000F04030201") << 0;
        QTest::newRow("100 KB of garbage without line feeds")
            << QByteArray("burst 10240 0102030405060708090B") << 0;
        QTest::newRow("100 KB of frames in one go")
            << QByteArray("burst 9310 89700000000F040302010A") << 9310;
    }
    void hostileBytesOnTheLine() {
        QFETCH(QByteArray, burst);
        QFETCH(int, framesInIt);
        MeterEmulator sim({"--fixed"}, link(), 3);
        QVERIFY(sim.ready());
        WindowHarness h({.show = true});
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        h.w->limitessClick();
        h.w->BTCon1Click();
        QTRY_COMPARE_WITH_TIMEOUT(h.w->ValueText(), QStringLiteral("01.234"), 3000);
        const qint64 rssBefore = residentKiB();
        const qint64 recordsBefore = h.w->recordTable()->count();

        sim.command(burst);
        // Replies queue behind the burst: 5.678 V shows once all of it went through.
        sim.command("state func=vdc range=0 value=5678");
        QTRY_COMPARE_WITH_TIMEOUT(h.w->ValueText(), QStringLiteral("05.678"), 15000);
        QVERIFY(h.linkAlive());
        QVERIFY(h.w->recordTable()->count() - recordsBefore >= framesInIt + 1);
        QVERIFY(control<QPlainTextEdit>(*h.w, "Memo1")->document()->blockCount() <=
                TFCOMM::kMemoMaxLines + 1);
#ifndef __SANITIZE_ADDRESS__
        // (Under AddressSanitizer freed memory waits in quarantine; resident size says
        // nothing there.)
        const qint64 grown = residentKiB() - rssBefore;
        QVERIFY2(grown < 32 * 1024, qPrintable(QStringLiteral("grew %1 KiB").arg(grown)));
#else
        Q_UNUSED(rssBefore);
#endif
        QCOMPARE(h.errors, QStringList());
    }

    // "Open old data files" on what is no record table: one clear message, the file left
    // as it was, and the program carries on with its own table.
    void openingWhatIsNoTable_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("not SQLite") << "text"
                                    << "not a database";
        QTest::newRow("SQLite without the fields") << "fields"
                                                   << "Field 'No' not found";
        QTest::newRow("zero bytes") << "empty"
                                    << "No table in file";
        QTest::newRow("held by a second copy") << "held"
                                               << "Table in use by another program";
    }
    void openingWhatIsNoTable() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QString file = m_dir->filePath(QStringLiteral("other.DB"));
        std::unique_ptr<ProgramCopy> holder;
        if (kind == u"text") {
            writeFile(file, QByteArray("No\tTime\tValue\r\n1\t10:00:00\t1.234\r\n").repeated(50));
        } else if (kind == u"fields") {
            runSql(file, {"CREATE TABLE other (\"Not\" INTEGER PRIMARY KEY, \"Time\" TEXT)",
                          "INSERT INTO other VALUES (1, '10:00:00')"});
        } else if (kind == u"empty") {
            writeFile(file, QByteArray());
        } else {
            const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
            QVERIFY(QDir().mkpath(elsewhere));
            file = elsewhere + QStringLiteral("/Qm20db.db");
            holder = std::make_unique<ProgramCopy>(elsewhere, QString());
            QCOMPARE(holder->startup(), QStringList{"ready"});
        }
        QVERIFY(QFileInfo::exists(file));
        const QByteArray before = digestOf(file);

        const QString own = m_dir->filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(own));
        WindowHarness h({.folder = own});
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        QCOMPARE(h.errors.size(), 1);
        QVERIFY2(h.errors[0].contains(message) && h.errors[0].contains(file),
                 qPrintable(h.errors[0]));
        QCOMPARE(h.w->recordModel()->rowCount(), 0);
        QCOMPARE(digestOf(file), before);

        // The program goes on: its own table opens again and takes readings.
        h.nextFile = h.path(QStringLiteral("Qm20db.db"));
        h.w->OpenDataFilesClick();
        h.w->INDataToTable(
            readingFrame(QStringLiteral("01.234"), 0.0f, {}, {}, QStringLiteral("AUTO")));
        QCOMPARE(h.w->recordTable()->count(), 1);
        QCOMPARE(h.errors.size(), 1);
        if (holder)
            QCOMPARE(holder->ask("count"), 0);
    }

    // Save as where nothing can be written: the failure is said, an old file stays as it was
    // and no half-written file is left behind.
    void saveAsWhereNothingCanBeWritten_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // the start of the error or information text
        QTest::newRow("text, read-only folder") << "read-only"
                                                << "data.xls"
                                                << "Could not save table to specified file: ";
        QTest::newRow("table copy, read-only folder") << "read-only"
                                                      << "data.db"
                                                      << "Cannot create ";
        // Neither kind of file is written into a pipe or a device, nor through a link to one.
        QTest::newRow("text, a link to /dev/full") << "full device"
                                                   << "full.xls"
                                                   << "<file> is not a file";
        QTest::newRow("table copy, a link to /dev/full") << "full device"
                                                         << "full.db"
                                                         << "<file> is not a file";
        QTest::newRow("text, a pipe") << "pipe"
                                      << "pipe.xls"
                                      << "<file> is not a file";
        QTest::newRow("table copy, a pipe") << "pipe"
                                            << "pipe.db"
                                            << "<file> is not a file";
        QTest::newRow("text, disk fills up") << "disk fills up"
                                             << "data.txt"
                                             << "Could not save table to specified file: ";
        QTest::newRow("table copy, disk fills up") << "disk fills up"
                                                   << "data.db"
                                                   << "";
    }
    void saveAsWhereNothingCanBeWritten() {
        QFETCH(QString, where);
        QFETCH(QString, name);
        QFETCH(QString, message);
        const QString own = m_dir->filePath(QStringLiteral("work"));
        const QString target = m_dir->filePath(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(own) && QDir().mkpath(target));
        WindowHarness h({.folder = own});
        const int records = where == u"disk fills up" ? 4000 : 3;
        for (int i = 0; i < records; ++i)
            h.w->INDataToTable(
                readingFrame(QString::number(i), 0.0f, {}, {}, QStringLiteral("AUTO")));
        QCOMPARE(h.w->recordTable()->count(), records);

        const QString file = QDir(target).filePath(name);
        const bool special = where == u"full device" || where == u"pipe";
        if (where == u"full device")
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), file));
        else if (where == u"pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        else
            writeFile(file, "old content");
        // (A device is not read: /dev/full reads as endless zeros; nor is a pipe.)
        const QByteArray before = special ? QByteArray() : digestOf(file);
        const QStringList entries = QDir(target).entryList(QDir::AllEntries | QDir::Hidden);
        h.nextFile = file;
        h.answer = true; // replace the old file
        {
            std::optional<PermissionsApply> permissions;
            std::optional<FileSizeLimit> limit;
            if (where == u"read-only") {
                QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner |
                                                          QFile::ReadGroup | QFile::ExeGroup));
                permissions.emplace();
            } else if (where == u"disk fills up") {
                limit.emplace(32 * 1024);
            }
            h.w->saveasClick();
        }
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        const QStringList said = h.errors + h.infos;
        QCOMPARE(said.size(), 1);
        QVERIFY2(said[0].startsWith(QString(message).replace(QStringLiteral("<file>"), file)) &&
                     said[0].contains(file),
                 qPrintable(said[0]));
        if (message.startsWith(u"Could not"))
            QCOMPARE(h.infos, QStringList{message + file});
        else
            QCOMPARE(h.errors, said);
        if (special)
            QCOMPARE(h.questions, QStringList()); // refused before asking to replace it
        else
            QCOMPARE(digestOf(file), before);
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden), entries);
        // The table itself is untouched and still takes readings.
        h.w->INDataToTable(
            readingFrame(QStringLiteral("new"), 0.0f, {}, {}, QStringLiteral("AUTO")));
        QCOMPARE(h.w->recordTable()->count(), records + 1);
    }

    // Readings flood in up to the record limit while the working folder's disk has a few
    // hundred kB left: Save fails and says so once, every record stays in the grid, Save data
    // files gets them all out to another drive, and once there is room Save stores each of
    // them exactly once.
    void diskFullAtSave() {
        MeterEmulator sim({"--fixed", "--flood"}, link(), 3);
        QVERIFY(sim.ready());
        QTemporaryDir otherDrive;
        WindowHarness h;
        const auto lift = qScopeGuard([] { WriteBudget::lift(); });
        WriteBudget::set(h.folder(), 300 * 1024);
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        h.w->BTCon1Click();
        const int limit = h.w->RecordLimit();
        QTRY_COMPARE_WITH_TIMEOUT(h.w->recordTable()->count(), qint64(limit), 30000);
        h.w->BtDiscon1Click();

        h.w->RecordSaveClick();
        QCOMPARE(h.errors.size(), 1);
        const QString pendingText = QStringLiteral("Not saved: %1 records are still pending. Free "
                                                   "some space and choose Record, Save again.");
        QVERIFY2(h.errors[0].contains(u"database or disk is full") &&
                     h.errors[0].contains(pendingText.arg(limit)),
                 qPrintable(h.errors[0]));
        QCOMPARE(h.infos, QStringList());
        QCOMPARE(h.w->recordModel()->rowCount(), limit);
        QCOMPARE(h.w->recordModel()->index(limit - 1, 0).data().toString(), QString::number(limit));

        h.nextFile = otherDrive.filePath(QStringLiteral("Qm20db.db"));
        h.w->saveasClick();
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(inspect(h.nextFile).second, qint64(limit));

        WriteBudget::lift();
        h.w->RecordSaveClick();
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(h.infos.size(), 1);
        h.w->recordTable()->close();
        QCOMPARE(storedNumbers(h.path(QStringLiteral("Qm20db.db"))), oneTo(limit));
    }

    // The disk fills under readings that outgrow the engine's page cache (a small cache
    // here), and a read of the grid, Record, New or Save data files meets it; or the disk is
    // full from the first reading. One message says what became of the records and what to
    // do, recording goes on into the spool's reserved room up to the limit, the grid shows
    // every record, and once there is room Save stores each of them once, in order.
    void fullDiskLosesNothing_data() {
        QTest::addColumn<QString>("meets");
        QTest::addColumn<QString>("advice");
        const QString kept = QStringLiteral("records not yet saved are kept beside the table");
        QTest::newRow("a read of the grid") << "grid" << kept;
        QTest::newRow("the first reading") << "start" << kept;
        QTest::newRow("Record, New")
            << "clear"
            << "Nothing was deleted. Free some space and choose Record, New again.";
        QTest::newRow("Save data files, reading the table")
            << "save as"
            << "records not yet saved are kept; choose Save data files again.";
    }
    void fullDiskLosesNothing() {
        QFETCH(QString, meets);
        QFETCH(QString, advice);
        QTemporaryDir otherDrive;
        WindowHarness h({.show = true});
        const auto lift = qScopeGuard([] { WriteBudget::lift(); });
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        const int limit = meets == u"start" ? 5000 : 100000;
        (limit == 5000 ? control<QAction>(*h.w, "N50001") : control<QAction>(*h.w, "N1000001"))
            ->trigger();
        int offered = 0;
        auto offer = [&](int n) {
            for (int i = 0; i < n; ++i) {
                h.w->INDataToTable(readingFrame(QString::number(++offered)));
            }
        };
        if (meets != u"start") {
            sqlite3_exec(h.w->recordTable()->nativeHandle(), "PRAGMA cache_size=8", nullptr,
                         nullptr, nullptr);
            offer(3000);
        }
        WriteBudget::set(h.folder(), 0);
        h.nextFile = otherDrive.filePath(QStringLiteral("Qm20db.db"));
        if (meets == u"start") {
            offer(limit + 200);
        } else if (meets == u"grid") {
            control<RecordGrid>(*h.w, "DBGrid1")->setCurrentRow(0);
            control<RecordGrid>(*h.w, "DBGrid1")->grab();
            QVERIFY(h.w->recordTable()->detachedSpool());
        } else {
            meets == u"clear" ? h.w->RecordNewClick() : h.w->saveasClick();
        }
        QTRY_COMPARE(h.errors.size(), 1);
        QVERIFY2(h.errors[0].contains(u"database or disk is full") && h.errors[0].contains(advice),
                 qPrintable(h.errors[0]));
        if (meets == u"grid")
            offer(100);
        if (meets == u"save as") { // done again, while the disk is still full
            h.w->saveasClick();
            QCOMPARE(storedNumbers(h.nextFile), oneTo(offered));
        }
        const int recorded = std::min(limit, offered);
        QCOMPARE(h.w->recordTable()->count(), recorded);
        QCOMPARE(h.w->RecordedCount(), recorded);
        QCOMPARE(h.w->recordModel()->index(0, 0).data().toString(), QStringLiteral("1"));

        WriteBudget::lift();
        h.w->RecordSaveClick();
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(h.infos.size(), 1);
        h.w->recordTable()->close();
        QCOMPARE(storedNumbers(h.path(QStringLiteral("Qm20db.db"))), oneTo(recorded));
    }

    // Tables that refuse every reading: said once, not once a reading, and nothing counted.
    void tableRefusingReadingsIsToldOnce_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        const QString readOnly = QStringLiteral("is read-only: readings are not recorded");
        QTest::newRow("read-only Qm20db.db at start") << "start" << readOnly;
        QTest::newRow("read-only archive opened") << "archive" << readOnly;
        QTest::newRow("numbers kept unique") << "unique"
                                             << "UNIQUE constraint failed";
    }
    void tableRefusingReadingsIsToldOnce() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString own = m_dir->filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(own));
        const QString file = kind == u"start" ? own + QStringLiteral("/Qm20db.db")
                                              : m_dir->filePath(QStringLiteral("other.db"));
        const QString table = QFileInfo(file).baseName();
        QString create = RecordSchema::createSql(table);
        if (kind == u"unique")
            create.replace(QStringLiteral("\"No\" INTEGER"),
                           QStringLiteral("\"No\" INTEGER UNIQUE"));
        runSql(file,
               {create, QStringLiteral("INSERT INTO %1 (\"No\") VALUES (1), (2), (3)").arg(table)});
        if (kind != u"unique")
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
        std::optional<WindowHarness> h;
        {
            PermissionsApply permissions; // while the files open
            h.emplace(WindowHarness::Setup{.folder = own});
            h->nextFile = file;
            if (kind != u"start")
                h->w->OpenDataFilesClick();
        }
        for (int i = 0; i < 10; ++i) // shown as the dispatch shows it
            h->prompts.guard([&] { h->w->INDataToTable(readingFrame(QString::number(i))); });
        QCOMPARE(h->errors.size(), 1);
        QVERIFY2(h->errors[0].contains(message) && h->errors[0].contains(file),
                 qPrintable(h->errors[0]));
        QCOMPARE(h->w->recordTable()->count(), 3);
        QCOMPARE(h->w->RecordedCount(), 0);
        if (kind == u"unique") { // the table changed: recording goes on
            h->w->RecordNewClick();
            h->w->INDataToTable(readingFrame(QStringLiteral("9")));
            QCOMPARE(h->w->recordTable()->count(), 1);
        }
    }

    // The program killed at once after Save, or with new records pending since: the saved
    // records are all there at the next start, none of the pending ones (the next start here
    // answers No when it offers those the kill left; tst_recovery keeps them), and the file
    // is sound.
    void killedAfterSave_data() {
        QTest::addColumn<int>("pendingAfterSave");
        QTest::addColumn<bool>("diskFull"); // and a second Save failed for it
        QTest::newRow("right after Save") << 0 << false;
        QTest::newRow("with records pending since") << 300 << false;
        QTest::newRow("after a Save that found the disk full") << 300 << true;
    }
    void killedAfterSave() {
        QFETCH(int, pendingAfterSave);
        QFETCH(bool, diskFull);
        MeterEmulator sim({"--fixed", "--flood"}, link(), 3);
        QVERIFY(sim.ready());
        ProgramCopy copy(m_dir->path(), link());
        QCOMPARE(copy.startup(), QStringList{"ready"});
        QVERIFY(copy.awaitRecords(50) >= 50);
        const qint64 saved = copy.ask("save");
        QVERIFY(saved >= 50);
        if (diskFull)
            QVERIFY(copy.ask("budget 0") >= saved);
        if (pendingAfterSave > 0)
            QVERIFY(copy.awaitRecords(saved + pendingAfterSave) >= saved + pendingAfterSave);
        if (diskFull) {
            QVERIFY(copy.ask("save") >= saved + pendingAfterSave);
            // The Save's message, and at most one more from recording when an append found
            // the disk full first; never one a reading.
            QVERIFY(!copy.errors.isEmpty() && copy.errors.size() <= 2);
            QVERIFY2(copy.errors.last().contains(u"database or disk is full") &&
                         copy.errors.last().contains(u"records are still pending"),
                     qPrintable(copy.errors.last()));
        }
        copy.process().kill();
        QVERIFY(copy.process().waitForFinished(3000));
        QCOMPARE(copy.process().exitStatus(), QProcess::CrashExit);

        const auto [integrity, count] = inspect(m_dir->filePath(QStringLiteral("Qm20db.db")));
        QCOMPARE(integrity, QStringLiteral("ok"));
        QCOMPARE(count, saved);
        WindowHarness next({.folder = m_dir->path()});
        QCOMPARE(next.errors, QStringList());
        QCOMPARE(next.w->recordTable()->count(), saved);
        QCOMPARE(next.w->recordModel()->index(int(saved) - 1, 3).data().toString(),
                 QStringLiteral("01.234"));
    }

    // Two copies in one folder: the second is refused the table with a clear message, the
    // first records on undisturbed, and so it does while the real program tries its luck.
    void twoCopiesInOneFolder() {
        MeterEmulator sim({"--fixed", "--flood"}, link(), 3);
        QVERIFY(sim.ready());
        ProgramCopy first(m_dir->path(), link());
        QCOMPARE(first.startup(), QStringList{"ready"});
        QVERIFY(first.awaitRecords(20) >= 20);

        const QString table = m_dir->filePath(QStringLiteral("Qm20db.db"));
        ProgramCopy second(m_dir->path(), QString());
        const QStringList said = second.startup();
        QCOMPARE(said.size(), 2);
        // It says why, and that the meter is still shown.
        QVERIFY2(said[0].startsWith(QStringLiteral("error: Table in use by another program: ") +
                                    table + u' ') &&
                     said[0].endsWith(u"Open old data files."),
                 qPrintable(said[0]));
        QCOMPARE(second.ask("count"), -1);
        second.process().write("quit\n");
        QVERIFY(second.process().waitForFinished(5000));
        QCOMPARE(second.process().exitCode(), 0);

        // The real binary, started in the same folder, shows its error box and stays up.
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(m_dir->path());
        program.start(QStringLiteral(QM_INTERFACE), QStringList());
        QVERIFY(program.waitForStarted(5000));
        QVERIFY(!program.waitForFinished(1500));
        program.kill();
        program.waitForFinished(3000);

        const qint64 before = first.ask("count");
        QVERIFY(first.awaitRecords(before + 20) >= before + 20);
        const qint64 saved = first.ask("save");
        QVERIFY(saved >= before + 20);
        first.process().write("quit\n");
        QVERIFY(first.process().waitForFinished(5000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        const auto [integrity, count] = inspect(table);
        QCOMPARE(integrity, QStringLiteral("ok"));
        QCOMPARE(count, saved);
    }
};

int main(int argc, char **argv) {
    // Before any table opens: the write budget is the default for every connection.
    WriteBudget::install();
    if (argc >= 3 && qstrcmp(argv[1], "--copy") == 0)
        return runCopy(argc, argv);
    QApplication app(argc, argv);
    TestFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
#include "windowcontrols.h"
