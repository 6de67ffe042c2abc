// The logger's stop requests on Windows, through the console's own dispatch: Windows (and
// Wine) runs kernelbase's CtrlRoutine on a new thread of the process for every console
// event, and that routine calls the handlers while it holds the console's lock. Ctrl+C and
// Ctrl+Break reach the event loop and leave the process running; a closing console's handler
// holds the process until the run is over (the pipe destroyed), because Windows ends the
// process as soon as that handler returns. Wine cannot close a console or raise Ctrl+Break
// itself, so the tests start the dispatcher as the console does.
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <windows.h>

#include "recordtable.h"
#include "signalpipe.h"

namespace {

LPTHREAD_START_ROUTINE consoleDispatcher() {
    return reinterpret_cast<LPTHREAD_START_ROUTINE>(
        GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine"));
}

/// Delivers `event` to `process` as the console does: a new thread there runs the dispatcher.
HANDLE dispatch(DWORD event, HANDLE process = GetCurrentProcess()) {
    return CreateRemoteThread(process, nullptr, 0, consoleDispatcher(),
                              reinterpret_cast<void *>(static_cast<DWORD_PTR>(event)), 0, nullptr);
}

bool finished(HANDLE thread, DWORD ms) {
    return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0;
}

} // namespace

class TestSignalPipe : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(consoleDispatcher()); }

    void keysReachTheLoop_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(CTRL_C_EVENT) << SIGINT;
        QTest::newRow("Ctrl+Break") << int(CTRL_BREAK_EVENT) << SIGBREAK;
    }
    void keysReachTheLoop() {
        QFETCH(int, event);
        QFETCH(int, signal);
        SignalPipe pipe;
        QVERIFY(pipe.install({SIGINT, SIGBREAK, SIGTERM}));
        QSignalSpy received(&pipe, &SignalPipe::received);
        const HANDLE thread = dispatch(DWORD(event));
        QVERIFY(thread);
        QVERIFY(finished(thread, 5000));
        CloseHandle(thread);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toInt(), signal);
    }

    // What the program does not catch goes on to Windows' own handling (which, through the
    // dispatcher, would end this test: asked of the handler alone).
    void uncaughtEventsAreLeftToWindows() {
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_C_EVENT), FALSE);
        SignalPipe pipe;
        QVERIFY(pipe.install({SIGINT}));
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_BREAK_EVENT), FALSE);
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_CLOSE_EVENT), FALSE);
    }

    // The close's handler holds the dispatcher, and with it the console's lock, until the
    // pipe goes; destroying the pipe must not need that lock.
    void closeWaitsUntilTheRunIsOver() {
        auto pipe = std::make_unique<SignalPipe>();
        QVERIFY(pipe->install({SIGINT, SIGBREAK, SIGTERM}));
        QSignalSpy received(pipe.get(), &SignalPipe::received);
        const HANDLE thread = dispatch(CTRL_CLOSE_EVENT);
        QVERIFY(thread);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toInt(), SIGTERM);
        QVERIFY2(!finished(thread, 200), "the handler returned while the run still went on");
        QElapsedTimer clock;
        clock.start();
        pipe.reset();
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(finished(thread, 5000));
        CloseHandle(thread);
        // A pipe made afterwards catches again.
        SignalPipe again;
        QVERIFY(again.install({SIGINT}));
        QSignalSpy caught(&again, &SignalPipe::received);
        const HANDLE second = dispatch(CTRL_C_EVENT);
        QVERIFY(finished(second, 5000));
        CloseHandle(second);
        QTRY_COMPARE(caught.size(), 1);
    }

    // qm-log.exe recording on the meter's port; its console closes: it commits, says so,
    // and ends, with every record it counted in its table.
    void closingTheConsoleEndsTheLogger() {
        const QString port = qEnvironmentVariable("QM_TEST_METER_PORT");
        if (port.isEmpty())
            QSKIP("QM_TEST_METER_PORT names no port with the meter emulator behind it");
        QTemporaryDir dir;
        const QString table = dir.filePath(QStringLiteral("closed.db"));
        QString binary = QStringLiteral(QM_LOG_BINARY);
        if (binary.startsWith(QLatin1Char('/')))
            binary.prepend(QStringLiteral("Z:")); // Wine's drive for the build machine's root
        QProcess log;
        log.start(binary, {QStringLiteral("--port"), port, QStringLiteral("--out"), table});
        QVERIFY(log.waitForStarted(10000));
        QString err;
        QElapsedTimer clock;
        clock.start();
        while (!err.contains(QStringLiteral("the meter answers")) && clock.elapsed() < 30000) {
            log.waitForReadyRead(200);
            err += QString::fromUtf8(log.readAllStandardError());
        }
        QVERIFY2(err.contains(QStringLiteral("the meter answers")), qPrintable(err));
        QTest::qWait(1500);
        const HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, DWORD(log.processId()));
        QVERIFY(process);
        const HANDLE thread = dispatch(CTRL_CLOSE_EVENT, process);
        QVERIFY(thread);
        CloseHandle(thread);
        CloseHandle(process);
        const bool ended = log.waitForFinished(15000);
        err += QString::fromUtf8(log.readAllStandardError());
        QVERIFY2(ended, qPrintable(err));
        QCOMPARE(log.exitStatus(), QProcess::NormalExit);
        QCOMPARE(log.exitCode(), 0);
        const auto summary =
            QRegularExpression(
                QStringLiteral("console closed: (\\d+) readings seen, (\\d+) recorded"))
                .match(err);
        QVERIFY2(summary.hasMatch(), qPrintable(err));
        QVERIFY(summary.captured(2).toInt() > 0);
        RecordTable t;
        t.open(table, RecordTable::OpenMode::MustExist);
        QCOMPARE(t.count(), summary.captured(2).toLongLong());
    }
};

QTEST_GUILESS_MAIN(TestSignalPipe)
#include "tst_signalpipe.moc"
