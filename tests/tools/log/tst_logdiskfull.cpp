// qm-log recording into a record table when its disk fills up: the run ends with code 1 and
// a message naming the file, and every record committed before is in the file.
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "logoptions.h"
#include "logsession.h"
#include "meteremulator.h"
#include "tablesink.h"
#include "testfiles.h"
#include "writebudget.h"

class TestLogDiskFull : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { WriteBudget::install(); }

    void failedCommitEndsTheRunWithCode1() {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("meter"));
        const QString out = dir.filePath(QStringLiteral("week.db"));
        MeterEmulator sim({"--fixed", "--flood"}, link, 3);
        QVERIFY(sim.ready());

        std::FILE *messages = std::tmpfile();
        QVERIFY(messages);
        int exitCode = -1;
        {
            TableSink sink(out);
            LogSession session(LogOptions::parse({"--port", link, "--out", out}), sink, messages);
            connect(&session, &LogSession::finished, [&](int code) { exitCode = code; });
            session.start();
            // Past a few commits, then the disk is full.
            QTRY_VERIFY_WITH_TIMEOUT(session.readingsRecorded() > 0, 5000);
            QTest::qWait(int(2.5 * LogSession::kCommitInterval.count()));
            WriteBudget::set(dir.path(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(exitCode, 1, 10000);
        }
        WriteBudget::lift();

        std::rewind(messages);
        char buffer[4096] = {};
        const QString said =
            QString::fromUtf8(buffer, int(std::fread(buffer, 1, sizeof buffer - 1, messages)));
        std::fclose(messages);
        QVERIFY2(said.contains(out + QStringLiteral(": database or disk is full")),
                 qPrintable(said));

        const QList<int> numbers = storedNumbers(out, QStringLiteral("week"));
        QVERIFY(!numbers.isEmpty());
        QCOMPARE(numbers, oneTo(int(numbers.size())));
    }
};

QTEST_GUILESS_MAIN(TestLogDiskFull)
#include "tst_logdiskfull.moc"
