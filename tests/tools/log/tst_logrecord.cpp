// The logger's command line and the fields of its text outputs.
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

#include "logoptions.h"
#include "logrecord.h"
#include "textsink.h"

class TestLogRecord : public QObject {
    Q_OBJECT

private slots:
    void options_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("portPath");
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("outPath");
        using O = LogOptions::Output;
        QTest::newRow("defaults") << QStringList{} << "COM1" << 0 << "" << int(O::Lines) << "";
        QTest::newRow("COM3, stdout by -") << QStringList{"--port", "com3", "--out", "-"} << "com3"
                                           << 2 << "" << int(O::Lines) << "";
        QTest::newRow("a path behind COM1, CSV")
            << QStringList{"--port=/tmp/meter", "--out", "log.CSV"} << "/tmp/meter" << 0
            << "/tmp/meter" << int(O::Csv) << "log.CSV";
        QTest::newRow(".db is a table")
            << QStringList{"--out", "run.db"} << "COM1" << 0 << "" << int(O::Table) << "run.db";
        QTest::newRow("the spreadsheet name is tab-separated text")
            << QStringList{"--out", "run.xls"} << "COM1" << 0 << "" << int(O::Tabs) << "run.xls";
        QTest::newRow("so is any other name") << QStringList{"--out", "logs.d/run"} << "COM1" << 0
                                              << "" << int(O::Tabs) << "logs.d/run";
        QTest::newRow("as in the window, only .db in lower case is a table")
            << QStringList{"--out", "run.DB"} << "COM1" << 0 << "" << int(O::Tabs) << "run.DB";
        QTest::newRow("COM5 is a path")
            << QStringList{"--port", "COM5"} << "COM5" << 0 << "COM5" << int(O::Lines) << "";
    }
    void options() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, port);
        QFETCH(int, portNumber);
        QFETCH(QString, portPath);
        QFETCH(int, output);
        QFETCH(QString, outPath);
        const LogOptions o = LogOptions::parse(arguments);
        QCOMPARE(o.port, port);
        QCOMPARE(int(o.portNumber), portNumber);
        QCOMPARE(o.portPath, portPath);
        QCOMPARE(int(o.output), output);
        QCOMPARE(o.outPath, outPath);
    }

    void recordingOptions() {
        const LogOptions o =
            LogOptions::parse({"--every", "10", "--changes-only", "--count", "7", "--duration",
                               "2.5", "--key", "hold:long", "--no-reconnect"});
        QCOMPARE(o.everySeconds, std::optional<qint32>(10));
        QVERIFY(o.changesOnly);
        QCOMPARE(o.count, std::optional<qint32>(7));
        QCOMPARE(o.durationSeconds, std::optional<double>(2.5));
        QVERIFY(o.key);
        QCOMPARE(o.key->caption, QStringLiteral("Hold"));
        QCOMPARE(o.key->longCode, std::uint8_t(0xA4));
        QVERIFY(o.key->longPress);
        QVERIFY(!o.reconnect);
        const LogOptions plain = LogOptions::parse({"--key", "REL"});
        QVERIFY(!plain.key->longPress);
        QVERIFY(!plain.everySeconds && !plain.count && !plain.durationSeconds);
        QVERIFY(plain.reconnect && !plain.changesOnly);
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown option") << QStringList{"--fast"};
        QTest::newRow("missing value") << QStringList{"--port"};
        QTest::newRow("positional") << QStringList{"COM1"};
        QTest::newRow("twice") << QStringList{"--count", "1", "--count", "2"};
        QTest::newRow("count 0") << QStringList{"--count", "0"};
        QTest::newRow("count text") << QStringList{"--count", "ten"};
        QTest::newRow("every negative") << QStringList{"--every", "-1"};
        QTest::newRow("every empty") << QStringList{"--every", ""};
        QTest::newRow("every fraction") << QStringList{"--every", "0.5"};
        QTest::newRow("duration 0") << QStringList{"--duration", "0"};
        QTest::newRow("duration inf") << QStringList{"--duration", "inf"};
        QTest::newRow("unknown key") << QStringList{"--key", "POWER"};
        QTest::newRow("hidden key") << QStringList{"--key", "Buzzer"};
        QTest::newRow("bad press") << QStringList{"--key", "RANGE:longer"};
        QTest::newRow("empty out") << QStringList{"--out", ""};
        QTest::newRow("empty port") << QStringList{"--port", ""};
    }
    void badOptions() {
        QFETCH(QStringList, arguments);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, LogOptions::parse(arguments));
    }

    // Standard output redirected into a file is synced at each commit like a named file;
    // a pipe is not (its reader sees each line at once anyway).
    void standardOutputIntoAFileIsSynced() {
        QTemporaryDir dir;
        int pipeFds[2] = {-1, -1};
#ifdef Q_OS_WIN
        QVERIFY(::_pipe(pipeFds, 4096, _O_BINARY) == 0);
#else
        QVERIFY(::pipe(pipeFds) == 0);
#endif
        const int file = ::open(qPrintable(dir.filePath("out")), O_WRONLY | O_CREAT, 0600);
        QVERIFY(file >= 0);
        const int out = fileno(stdout);
        const int saved = ::dup(out);
        QList<bool> syncs;
        for (int fd : {file, pipeFds[1]}) {
            ::dup2(fd, out);
            syncs << TextSink({}, TextSink::Format::Tabs).syncsToDisk();
            ::close(fd);
        }
        ::dup2(saved, out);
        ::close(saved);
        ::close(pipeFds[0]);
        QCOMPARE(syncs, QList<bool>({true, false}));
    }

    void numberText_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("number");
        QTest::newRow("volts") << "01.234"
                               << "1.234";
        QTest::newRow("negative") << "-01.234"
                                  << "-1.234";
        QTest::newRow("negative zero keeps its sign") << "-00.000"
                                                      << "-0.000";
        QTest::newRow("no point") << "01234"
                                  << "1234";
        QTest::newRow("five digits") << "5.0000"
                                     << "5.0000";
        QTest::newRow("overload") << ".0.L"
                                  << "";
        QTest::newRow("negative overload") << "-0.L."
                                           << "";
    }
    void numberText() {
        QFETCH(QString, value);
        QFETCH(QString, number);
        QCOMPARE(LogRecord::numberText(value), number);
    }

    void unitName_data() {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("name");
        QTest::newRow("volts") << "V"
                               << "V";
        QTest::newRow("kilo-ohm") << "k*"
                                  << "kohm";
        QTest::newRow("continuity ohm") << "&  *"
                                        << "ohm";
        QTest::newRow("diode") << ")V"
                               << "V";
        QTest::newRow("microfarad") << "uF"
                                    << "uF";
    }
    void unitName() {
        QFETCH(QString, unit);
        QFETCH(QString, name);
        QCOMPARE(LogRecord::unitName(unit), name);
    }

    void csvLine_data() {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << QStringList{"1", "V", ""} << "1,V,";
        QTest::newRow("comma") << QStringList{"a,b", "c"} << "\"a,b\",c";
        QTest::newRow("quote") << QStringList{"say \"hi\""} << "\"say \"\"hi\"\"\"";
        QTest::newRow("line break") << QStringList{"a\nb"} << "\"a\nb\"";
        QTest::newRow("edge spaces") << QStringList{"&  ", "x"} << "\"&  \",x";
    }
    void csvLine() {
        QFETCH(QStringList, fields);
        QFETCH(QString, line);
        QCOMPARE(LogRecord::csvLine(fields), line);
    }

    void textFields() {
        LogRecord r;
        r.at = QDateTime(QDate(2024, 3, 9), QTime(7, 5, 3, 42));
        r.values.no = 12;
        r.values.value = QStringLiteral("-0.L.");
        r.values.unit = QStringLiteral("M*");
        r.values.dcAc = QString();
        r.values.autoText = QStringLiteral("MANU");
        r.overload = true;
        QCOMPARE(r.textFields(), QStringList({"12", "2024-03-09 07:05:03.042", "-0.L.", "", "Mohm",
                                              "", "MANU", "yes"}));
        QCOMPARE(r.textFields().size(), LogRecord::fieldNames().size());
    }
};

QTEST_GUILESS_MAIN(TestLogRecord)
#include "tst_logrecord.moc"
