// A logging run inside this process: the port it is given is the one it opens, and the
// process's environment is as it was, during the run and after it.
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "logoptions.h"
#include "logrecord.h"
#include "logsession.h"
#include "meteremulator.h"
#include "readingsink.h"

namespace {

/// Keeps the records in memory.
class MemorySink : public ReadingSink {
public:
    void write(const LogRecord &record) override { records << record; }
    void commit() override {}
    QString describe() const override { return QStringLiteral("memory"); }

    QList<LogRecord> records;
};

QStringList environment() {
    QStringList entries = QProcessEnvironment::systemEnvironment().toStringList();
    entries.sort();
    return entries;
}

} // namespace

class TestLogSession : public QObject {
    Q_OBJECT

private slots:
    void portLeavesTheEnvironmentAlone_data() {
        QTest::addColumn<QString>("port");        // "meter": the emulator's link
        QTest::addColumn<QString>("com2");        // QM_COM2 as the user set it, or unset
        QTest::addColumn<QStringList>("options"); // beside --port and --out
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("recorded");
        QTest::newRow("a device path")
            << "meter" << QString() << QStringList{"--count", "3"} << 0 << 3;
        QTest::newRow("a path that is not there")
            << "none" << QString() << QStringList{"--no-reconnect"} << 1 << 0;
        QTest::newRow("COM2 through its QM_COM2")
            << "COM2"
            << "meter" << QStringList{"--count", "2"} << 0 << 2;
    }
    void portLeavesTheEnvironmentAlone() {
        QFETCH(QString, port);
        QFETCH(QString, com2);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(int, recorded);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("meter"));
        MeterEmulator sim({"--fixed"}, link, 3);
        QVERIFY(sim.ready());
        const auto inDir = [&](const QString &name) {
            return name.startsWith(u"COM") ? name : dir.filePath(name);
        };
        if (!com2.isEmpty())
            qputenv("QM_COM2", QFile::encodeName(inDir(com2)));
        const auto unset = qScopeGuard([] { qunsetenv("QM_COM2"); });
        const QStringList before = environment();

        int code = -1;
        {
            MemorySink sink;
            LogSession session(
                LogOptions::parse(QStringList{"--port", inDir(port), "--out",
                                              dir.filePath(QStringLiteral("x.csv"))} +
                                  options),
                sink, stderr);
            connect(&session, &LogSession::finished, [&](int c) { code = c; });
            session.start();
            QCOMPARE(environment(), before);
            QTRY_VERIFY_WITH_TIMEOUT(code != -1, 10000);
            QCOMPARE(session.readingsRecorded(), recorded);
            QCOMPARE(int(sink.records.size()), recorded);
        }
        QCOMPARE(code, exitCode);
        QCOMPARE(environment(), before);
    }
};

QTEST_GUILESS_MAIN(TestLogSession)
#include "tst_logsession.moc"
