// qm-log as a process against the meter emulator, as a user runs it.
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

#include "commportdriver.h"
#include "logrecord.h"
#include "logsession.h"
#include "meteremulator.h"
#include "modelprofile.h"
#include "readingdecoder.h"
#include "readingsink.h"
#include "recordtable.h"
#include "testfiles.h"
#include "windowharness.h"

namespace {

/// One run of qm-log; its standard error is collected as it comes.
class LogRun {
public:
    /// `wrapper` runs qm-log under another program (nohup, say).
    explicit LogRun(const QStringList &arguments,
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                    const QString &wrapper = {}) {
        m_process.setProgram(wrapper.isEmpty() ? QStringLiteral(QM_LOG_BINARY) : wrapper);
        m_process.setArguments(
            wrapper.isEmpty() ? arguments : QStringList{QStringLiteral(QM_LOG_BINARY)} + arguments);
        m_process.setProcessEnvironment(env);
        started = QDateTime::currentDateTime();
        m_process.start();
        m_process.waitForStarted(5000);
    }
    ~LogRun() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    /// Waits for the end; the exit code, or -1 when it did not end normally in time.
    int finish(int timeoutMs = 15000) {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        ended = QDateTime::currentDateTime();
        return m_process.exitCode();
    }
    QString err() {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }
    QString out() {
        m_out += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_out;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    bool running() const { return m_process.state() == QProcess::Running; }
    void crash() {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    /// Readings seen and recorded, from the summary line; -1 when there is none.
    QPair<int, int> summary() {
        static const QRegularExpression re(
            QStringLiteral("(\\d+) readings seen, (\\d+) recorded in [0-9.]+ s\\n"));
        const auto m = re.match(err());
        return m.hasMatch() ? qMakePair(m.captured(1).toInt(), m.captured(2).toInt())
                            : qMakePair(-1, -1);
    }

    QDateTime started;
    QDateTime ended;

private:
    QProcess m_process;
    QString m_err;
    QString m_out;
};

QStringList fileLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

/// The rows of a CSV file with plain fields (the emulator's readings need no quoting).
QList<QStringList> csvRows(const QString &path) {
    QList<QStringList> rows;
    for (const QString &line : fileLines(path))
        rows << line.split(QLatin1Char(','));
    return rows;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return !path.isEmpty() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

QDateTime fullTime(const QString &text) {
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QList<RecordRow> tableRows(const QString &path) {
    RecordTable table;
    table.open(path, RecordTable::OpenMode::MustExist);
    return table.rows(0, static_cast<int>(table.count()));
}

} // namespace

class TestQmLog : public QObject {
    Q_OBJECT

    // A fresh folder for every test row: files of one row must not satisfy the next.
    std::optional<QTemporaryDir> m_scratch;
    QString scratch(const QString &name) const { return m_scratch->filePath(name); }
    QString link() const { return scratch(QStringLiteral("meter")); }

private slots:
    void init() {
        m_scratch.emplace();
        QVERIFY(m_scratch->isValid());
    }

    // Two runs into each kind of output: the second adds to the file of the first, numbered
    // from 1 again as the window numbers each run.
    void outputs_data() {
        QTest::addColumn<QString>("out");
        QTest::addColumn<bool>("viaCom2");
        QTest::newRow("standard output") << "" << false;
        QTest::newRow("CSV") << "log.csv" << false;
        QTest::newRow("tab-separated text, by the spreadsheet name") << "log.xls" << false;
        QTest::newRow("table, port COM2") << "log.db" << true;
    }
    void outputs() {
        QFETCH(QString, out);
        QFETCH(bool, viaCom2);
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QM_COM2"), link());
        QStringList args{"--port", viaCom2 ? QStringLiteral("COM2") : link()};
        const QString path = scratch(out);
        if (!out.isEmpty())
            args << "--out" << path;

        QList<QStringList> rows; // No, Time, Value, Number, Unit, AC/DC, AUTO, Overload
        QDateTime first, last;
        for (int count : {3, 2}) {
            LogRun run(args + QStringList{"--count", QString::number(count)}, env);
            QCOMPARE(run.finish(), 0);
            QVERIFY2(run.err().contains(QStringLiteral("count reached")), qPrintable(run.err()));
            QCOMPARE(run.summary().second, count);
            QVERIFY(run.summary().first >= count);
            if (out.isEmpty()) {
                const QStringList lines = run.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                QCOMPARE(lines.size(), count);
                for (const QString &line : lines)
                    rows << line.split(QLatin1Char('\t'));
            }
            if (!first.isValid())
                first = run.started;
            last = run.ended;
        }
        if (out.endsWith(".csv")) {
            rows = csvRows(path);
            QCOMPARE(rows.takeFirst(), LogRecord::fieldNames());
        }
        if (out.endsWith(".xls")) {
            // Lines end with CR LF: fileLines() cuts at nothing else.
            for (const QString &line : fileLines(path))
                rows << line.split(QLatin1Char('\t'));
            QCOMPARE(rows.takeFirst(), LogRecord::fieldNames());
        }
        if (out.endsWith(".db")) {
            for (const RecordRow &r : tableRows(path))
                rows << QStringList{r.texts[RecordRow::No],    r.texts[RecordRow::Time],
                                    r.texts[RecordRow::Value], QString(),
                                    r.texts[RecordRow::Unit],  r.texts[RecordRow::DcAc],
                                    r.texts[RecordRow::Auto],  QString()};
        }

        QCOMPARE(rows.size(), 5);
        const QList<int> numbers{1, 2, 3, 1, 2};
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList &f = rows[i];
            QCOMPARE(f.size(), 8);
            QCOMPARE(f[0].toInt(), numbers[i]);
            // The default emulator shows DC volts, auto-ranged, x.xxx V.
            QVERIFY2(
                QRegularExpression(QStringLiteral("^-?\\d\\d\\.\\d{3}$")).match(f[2]).hasMatch(),
                qPrintable(f[2]));
            QCOMPARE(f[4], QStringLiteral("V"));
            QCOMPARE(f[5], QStringLiteral("DC"));
            QCOMPARE(f[6], QStringLiteral("AUTO"));
            if (out.endsWith(".db")) {
                // The table keeps the window's fields: the time of day to the second.
                QVERIFY2(QTime::fromString(f[1], QStringLiteral("hh:mm:ss")).isValid(),
                         qPrintable(f[1]));
                continue;
            }
            const QDateTime at = fullTime(f[1]);
            QVERIFY2(at.isValid(), qPrintable(f[1]));
            QVERIFY(at >= first.addSecs(-1) && at <= last.addSecs(1));
            if (i > 0 && numbers[i] > 1)
                QVERIFY(at > fullTime(rows[i - 1][1]));
            QCOMPARE(f[3].toDouble(), f[2].toDouble());
            QCOMPARE(f[7], QStringLiteral("no"));
        }
    }

    // The logger's line is the window's, as the build's model profile sets it.
    void lineSettingsAsTheWindows() {
        struct NoSink : ReadingSink {
            void write(const LogRecord &) override {}
            void commit() override {}
            QString describe() const override { return {}; }
        } sink;
        LogSession logger(LogOptions::parse({"--port", link()}), sink, stderr);
        WindowHarness h;
        const LineSettings window{h.w->COMM2()->ComPortSpeed(), h.w->COMM2()->ComPortDataBits()};
        QCOMPARE(logger.session().lineSettings(), window);
        QCOMPARE(lineSettingsFor(builtModelFlags()), std::optional(window));
    }

    // What the logger wrote is a data file of the window's: "Open old data files" takes it.
    void tableOpensInTheWindow() {
        const QString path = scratch(QStringLiteral("week.db"));
        {
            MeterEmulator sim({}, link(), 3);
            QVERIFY(sim.ready());
            LogRun run({"--port", link(), "--out", path, "--count", "3"});
            QCOMPARE(run.finish(), 0);
        }
        WindowHarness h;
        h.nextFile = path;
        h.w->OpenDataFilesClick();
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(h.w->recordTable()->fileName(), path);
        QCOMPARE(h.w->recordTable()->count(), qint64(3));
        const QList<RecordRow> rows = h.w->recordTable()->rows(0, 3);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2].texts[RecordRow::No], QStringLiteral("3"));
        QCOMPARE(rows[2].texts[RecordRow::Unit], QStringLiteral("V"));
    }

    void recordingRules_data() {
        QTest::addColumn<QStringList>("meter");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("expect");
        QTest::newRow("every reading of a steady meter")
            << QStringList{"--fixed"} << QStringList{"--duration", "2.2"} << "all";
        QTest::newRow("changes only, steady meter")
            << QStringList{"--fixed"} << QStringList{"--changes-only", "--duration", "2.2"}
            << "one";
        QTest::newRow("every second of a changing meter")
            << QStringList{} << QStringList{"--every", "1", "--duration", "3.7"}
            << "a second apart";
    }
    void recordingRules() {
        QFETCH(QStringList, meter);
        QFETCH(QStringList, options);
        QFETCH(QString, expect);
        MeterEmulator sim(meter, link(), 3);
        QVERIFY(sim.ready());
        LogRun run(QStringList{"--port", link()} + options);
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.err().contains(QStringLiteral("duration reached")), qPrintable(run.err()));
        const auto [seen, recorded] = run.summary();
        QVERIFY2(seen >= 3, qPrintable(run.err()));
        QCOMPARE(run.out().count(QLatin1Char('\n')), recorded);
        if (expect == "all")
            QCOMPARE(recorded, seen);
        else if (expect == "one")
            QCOMPARE(recorded, 1);
        else
            QVERIFY2(recorded >= 3 && recorded < seen, qPrintable(run.err()));
        if (expect != "a second apart")
            return;
        // Spaced from the stored reading's time: never closer than the interval (the
        // times are cut to the millisecond).
        const QStringList lines = run.out().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (int i = 1; i < lines.size(); ++i) {
            const qint64 gap = fullTime(lines[i - 1].section(QLatin1Char('\t'), 1, 1))
                                   .msecsTo(fullTime(lines[i].section(QLatin1Char('\t'), 1, 1)));
            QVERIFY2(gap >= 998, qPrintable(QStringLiteral("%1 ms").arg(gap)));
        }
    }

    // A signal ends the run cleanly: everything recorded is in the file, exit code 0. Under
    // nohup SIGHUP stays ignored: the run goes on until it is told to end.
    void signalsCommitAndEnd_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("wrapper");
        QTest::addColumn<QString>("reason");
        QTest::newRow("Ctrl+C") << SIGINT << ""
                                << "interrupted (SIGINT)";
        QTest::newRow("SIGTERM") << SIGTERM << ""
                                 << "terminated (SIGTERM)";
        QTest::newRow("SIGHUP, a dropped session") << SIGHUP << ""
                                                   << "hung up (SIGHUP)";
        QTest::newRow("SIGHUP under nohup") << SIGHUP << "nohup"
                                            << "terminated (SIGTERM)";
    }
    void signalsCommitAndEnd() {
        QFETCH(int, signal);
        QFETCH(QString, wrapper);
        QFETCH(QString, reason);
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        const QString path = scratch(QStringLiteral("sig.csv"));
        LogRun run({"--port", link(), "--out", path}, QProcessEnvironment::systemEnvironment(),
                   wrapper);
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= 3, 10000);
        run.signal(signal);
        if (!wrapper.isEmpty()) {
            const qsizetype before = fileLines(path).size();
            QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= before + 2, 5000);
            QVERIFY(run.running());
            run.signal(SIGTERM);
        }
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.err().contains(reason + ": "), qPrintable(run.err()));
        QCOMPARE(fileLines(path).size() - 1, run.summary().second);
    }

    // Killed outright, the logger still leaves what it recorded up to its last commit:
    // readings come twice a second and commits at least once a second.
    void crashKeepsCommittedRecords() {
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        const QString path = scratch(QStringLiteral("crash.db"));
        LogRun run({"--port", link(), "--out", path});
        QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(QStringLiteral("the meter answers")), 5000);
        QTest::qWait(2500);
        run.crash();
        QVERIFY(tableRows(path).size() >= 2);
    }

    // A run killed before its last commit leaves its readings beside the table; the next run
    // on that table keeps them, says so, and commits them before its own.
    void readingsAnEarlierRunLeftAreKept() {
        const QString path = scratch(QStringLiteral("week.db"));
        const QString spool = path + QStringLiteral("-pending");
        QByteArray left;
        {
            RecordTable table;
            table.open(path, RecordTable::OpenMode::CreateIfMissing);
            for (int no = 1; no <= 3; ++no) {
                RecordValues v;
                v.no = no;
                v.time = QTime(8, 0, no);
                v.value = QStringLiteral("0%1.000").arg(no);
                v.unit = QStringLiteral("V");
                v.dcAc = QStringLiteral("DC");
                v.autoText = QStringLiteral("AUTO");
                table.append(v);
            }
            table.securePending();
            QVERIFY(table.waitUntilSecured(5000));
            QFile file(spool);
            QVERIFY(file.open(QIODevice::ReadOnly));
            left = file.readAll();
        }
        writeFile(spool, left); // as the killed run left it
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        LogRun run({"--port", link(), "--out", path, "--count", "2"});
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.err().contains(QStringLiteral("3 readings that an earlier run left unsaved "
                                                   "(from 08:00:01 to 08:00:03) are kept")),
                 qPrintable(run.err()));
        const QList<RecordRow> rows = tableRows(path);
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[2].texts[RecordRow::Value], QStringLiteral("03.000"));
        QCOMPARE(rows[3].texts[RecordRow::No], QStringLiteral("1"));
        QVERIFY(!QFile::exists(spool));
    }

    void portVanishesAndComesBack() {
        const QString path = scratch(QStringLiteral("gap.csv"));
        auto sim = std::make_unique<MeterEmulator>(QStringList{}, link(), 3);
        QVERIFY(sim->ready());
        LogRun run({"--port", link(), "--out", path});
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= 2, 10000);
        sim->stop();
        QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(QStringLiteral("lost ")), 5000);
        QVERIFY(run.err().contains(QStringLiteral("reopening every 2 s")));
        QTest::qWait(300);
        const int before = fileLines(path).size();
        sim = std::make_unique<MeterEmulator>(QStringList{}, link(), 3);
        QVERIFY(sim->ready());
        QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(QStringLiteral("is open again")), 6000);
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= before + 2, 5000);
        run.signal(SIGTERM);
        QCOMPARE(run.finish(), 0);
        const QList<QStringList> rows = csvRows(path);
        QCOMPARE(rows.size() - 1, run.summary().second);
        for (int i = 1; i < rows.size(); ++i)
            QCOMPARE(rows[i][0].toInt(), i); // one run: numbering goes on over the gap
    }

    // What goes wrong under a run ends it with code 1 and says what, never with 0: a table
    // file removed or replaced while the run records into it (its records would be in no
    // file anyone can find), or one it must not record into.
    void failuresEndWithCode1_data() {
        QTest::addColumn<QStringList>("options"); // "@table": the path of week.db
        QTest::addColumn<QString>("during");      // lose meter, remove table, replace table
        QTest::addColumn<QString>("before");      // spool link, triggers
        QTest::addColumn<QString>("message");
        QTest::newRow("no port, no reconnect")
            << QStringList{"--port", "/nonexistent/ttyQM", "--no-reconnect"} << ""
            << ""
            << "cannot open /nonexistent/ttyQM: No such file or directory";
        QTest::newRow("output cannot be made")
            << QStringList{"--out", "/nonexistent/dir/log.csv"} << ""
            << ""
            << "cannot open /nonexistent/dir/log.csv";
        QTest::newRow("port lost, no reconnect") << QStringList{"--no-reconnect"} << "lose meter"
                                                 << ""
                                                 << "port lost: ";
        const QString moved = QStringLiteral("week.db was moved, removed or replaced");
        QTest::newRow("table removed under the run")
            << QStringList{"--out", "@table"} << "remove table"
            << "" << moved;
        QTest::newRow("table replaced under the run")
            << QStringList{"--out", "@table"} << "replace table"
            << "" << moved;
        QTest::newRow("a link in the spool's place")
            << QStringList{"--out", "@table"} << ""
            << "spool link"
            << "week.db-pending: a symbolic link is already there";
        QTest::newRow("a table with triggers") << QStringList{"--out", "@table"} << ""
                                               << "triggers"
                                               << "has triggers (forge)";
    }
    void failuresEndWithCode1() {
        QFETCH(QStringList, options);
        QFETCH(QString, during);
        QFETCH(QString, before);
        QFETCH(QString, message);
        const QString table = scratch(QStringLiteral("week.db"));
        options.replaceInStrings(QStringLiteral("@table"), table);
        const QString victim = scratch(QStringLiteral("victim"));
        writeFile(victim, "precious");
        if (before == u"spool link")
            QVERIFY(QFile::link(victim, table + QStringLiteral("-pending")));
        if (before == u"triggers")
            runSql(table, {RecordSchema::createSql(QStringLiteral("week")),
                           QStringLiteral("CREATE TRIGGER forge AFTER INSERT ON week BEGIN "
                                          "UPDATE week SET \"Value\" = '99.999'; END")});
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        LogRun run(options.contains("--port") ? options : QStringList{"--port", link()} + options);
        if (!during.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(QStringLiteral("the meter answers")), 5000);
        if (during == u"lose meter")
            sim.stop();
        if (during == u"remove table") {
            QTest::qWait(700); // past a commit
            QVERIFY(QFile::remove(table));
        }
        if (during == u"replace table") {
            QTest::qWait(700);
            const QString other = scratch(QStringLiteral("other.db"));
            runSql(other, {RecordSchema::createSql(QStringLiteral("week"))});
            QCOMPARE(std::rename(QFile::encodeName(other).constData(),
                                 QFile::encodeName(table).constData()),
                     0);
        }
        QCOMPARE(run.finish(), 1);
        QVERIFY2(run.err().contains(message), qPrintable(run.err()));
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
        if (during == u"replace table") // the replacement is left as it came
            QCOMPARE(tableRows(table).size(), 0);
    }

    // A run that ends as planned with nothing recorded is no success, and says why.
    void nothingRecordedEndsWithCode3_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("why");
        QTest::newRow("port never opens")
            << "/nonexistent/ttyQM"
            << "no readings recorded: /nonexistent/ttyQM never opened (No such file or directory)";
        QTest::newRow("meter never answers")
            << ""
            << "no readings recorded: no answer from the meter on ";
    }
    void nothingRecordedEndsWithCode3() {
        QFETCH(QString, port);
        QFETCH(QString, why);
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        sim.command("silent");
        QTest::qWait(100); // the emulator takes its command in before the first request
        LogRun run({"--port", port.isEmpty() ? link() : port, "--duration", "1"});
        QCOMPARE(run.finish(), 3);
        const QStringList lines = run.err().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.last().contains(why), qPrintable(run.err()));
        QVERIFY(run.err().contains(QStringLiteral("duration reached: 0 readings seen")));
    }

    // A meter silent from the start is reported once after 5 s, on a line with the time, and
    // its first answer after that too.
    void silenceAndAnswerAreReported() {
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        sim.command("silent");
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        LogRun run({"--port", link()});
        const QString silence = QStringLiteral("no answer from the meter on %1").arg(link());
        QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(silence), 6500);
        QVERIFY2(clock.elapsed() >= 4500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(run.err().contains(QRegularExpression("\\d\\d:\\d\\d:\\d\\d no answer from")),
                 qPrintable(run.err()));
        sim.command("answer");
        QTRY_VERIFY_WITH_TIMEOUT(run.err().contains(QStringLiteral("the meter answers on ")), 3000);
        QVERIFY(run.err().indexOf(QStringLiteral("the meter answers")) >
                run.err().indexOf(silence));
        QCOMPARE(run.err().count(silence), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!run.out().isEmpty(), 3000);
        run.signal(SIGTERM);
        QCOMPARE(run.finish(), 0);
    }

    // Outputs that are no files on a disk, which cannot be synced: each takes the readings
    // and the run ends as a success.
    void outputsThatAreNoFiles_data() {
        QTest::addColumn<QString>("out");
        QTest::newRow("/dev/null") << "/dev/null";
        QTest::newRow("/dev/stdout, a pipe") << "/dev/stdout";
        QTest::newRow("a FIFO") << "fifo";
    }
    void outputsThatAreNoFiles() {
        QFETCH(QString, out);
        MeterEmulator sim({"--fixed"}, link(), 3);
        QVERIFY(sim.ready());
        QFile fifo;
        if (out == u"fifo") {
            out = scratch(out);
            QVERIFY(::mkfifo(QFile::encodeName(out).constData(), 0600) == 0);
            // Opened for reading first, without waiting for the writer.
            const int fd = ::open(QFile::encodeName(out).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(fd >= 0 && fifo.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        }
        LogRun run({"--port", link(), "--out", out, "--count", "2"});
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.err().contains(QStringLiteral("count reached")), qPrintable(run.err()));
        QVERIFY2(!run.err().contains(QStringLiteral("cannot")), qPrintable(run.err()));
        const QString written = fifo.isOpen() ? QString::fromUtf8(fifo.readAll()) : run.out();
        if (out != u"/dev/null")
            QCOMPARE(written.count(QStringLiteral("\t1.234\t")), 2);
    }

    // A line that cuts a share of the answers short, displays and secondaries alike: every
    // value recorded is one the meter showed, in its order, and every whole display answer
    // is recorded but the one that may still be on its way when the run ends.
    void cutAnswersRecordOnlyWhatTheMeterShowed() {
        // The sine: every reading differs. With this seed the first display answer is cut.
        MeterEmulator sim({"--truncate", "0.2"}, link(), 1);
        QVERIFY(sim.ready());
        LogRun run({"--port", link(), "--duration", "4"});
        QCOMPARE(run.finish(), 0);
        QStringList recorded;
        for (const QString &line : run.out().split(u'\n', Qt::SkipEmptyParts))
            recorded << line.section(u'\t', 2, 2);
        QStringList whole;
        int cut = 0;
        for (const auto &[frame, sent] : sim.shown()) {
            if (sent < frame.size())
                ++cut;
            else
                whole << ReadingDecoder::decode(QString::fromLatin1(frame.toHex().toUpper()), 0)
                             .valueText;
        }
        QVERIFY2(cut > 0 && whole.size() >= 4, qPrintable(QString::number(cut)));
        QVERIFY2(recorded.size() >= whole.size() - 1 && recorded == whole.mid(0, recorded.size()),
                 qPrintable(recorded.join(u' ') + QStringLiteral(" | ") + whole.join(u' ')));
    }

    // Refused before anything is done, and an output file of the other kind already there is
    // left as it was.
    void usageErrorsEndWithCode2_data() {
        QTest::addColumn<QStringList>("options");
        // Which texts are refused is tested on the options themselves (tst_logrecord).
        QTest::newRow("unknown option") << QStringList{"--fast"};
        QTest::newRow("bad value") << QStringList{"--count", "0"};
        QTest::newRow("a table named .xls") << QStringList{"--out", "table.xls"};
        QTest::newRow("a table named .csv") << QStringList{"--out", "table.csv"};
        QTest::newRow("text named .db") << QStringList{"--out", "text.db"};
    }
    void usageErrorsEndWithCode2() {
        QFETCH(QStringList, options);
        QString said = QStringLiteral("qm-log: ");
        QString path;
        if (options.first() == u"--out") {
            path = options[1] = scratch(options[1]);
            if (path.contains(u"table")) {
                RecordTable table;
                table.open(path, RecordTable::OpenMode::CreateIfMissing);
            } else {
                QFile text(path);
                QVERIFY(text.open(QIODevice::WriteOnly));
                text.write("No\tTime\r\n1\t2024-03-09 07:05:03.042\r\n");
            }
            options << "--port" << link() << "--count"
                    << "1";
            said += QStringLiteral("--out %1: the file is there and is ").arg(path);
        }
        const QByteArray before = fileBytes(path);
        LogRun run(options);
        QCOMPARE(run.finish(), 2);
        QVERIFY2(run.err().startsWith(said), qPrintable(run.err()));
        QVERIFY(!path.isEmpty() || run.err().contains(QStringLiteral("(try --help)")));
        QCOMPARE(run.out(), QString());
        QCOMPARE(fileBytes(path), before);
    }

    void help() {
        LogRun run({"--help"});
        QCOMPARE(run.finish(), 0);
        for (const char *option : {"--port", "--out", "--every", "--changes-only", "--count",
                                   "--duration", "--key", "--no-reconnect"})
            QVERIFY2(run.out().contains(QLatin1String(option)), option);
        for (int code = 0; code <= 3; ++code)
            QVERIFY(run.out().contains(QStringLiteral("\n  %1  ").arg(code)));
    }

    // The key is pressed once the meter answers; the emulator logs every byte it gets.
    void keyReachesTheMeter_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("byte");
        QTest::newRow("short press") << "Hold"
                                     << "A5";
        QTest::newRow("long press") << "RANGE:long"
                                    << "A0";
    }
    void keyReachesTheMeter() {
        QFETCH(QString, key);
        QFETCH(QString, byte);
        MeterEmulator sim({}, link(), 3);
        QVERIFY(sim.ready());
        LogRun run({"--port", link(), "--key", key, "--count", "2"});
        QCOMPARE(run.finish(), 0);
        QVERIFY2(run.err().contains(QStringLiteral("pressed ")), qPrintable(run.err()));
        int presses = 0;
        for (const auto &[ms, got] : sim.received())
            presses += got == byte.toInt(nullptr, 16);
        QCOMPARE(presses, 1);
    }
};

QTEST_MAIN(TestQmLog)
#include "tst_qmlog.moc"
