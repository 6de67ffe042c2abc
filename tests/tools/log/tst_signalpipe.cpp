// The logger's stop requests on Windows, through the console control handler as Windows
// calls it (on a thread of its own): Ctrl+C and Ctrl+Break reach the event loop and leave
// the process running; a closing console's handler holds the process until the run is over
// (the pipe destroyed), because Windows ends the process as soon as that handler returns.
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include <windows.h>

#include "signalpipe.h"

class TestSignalPipe : public QObject {
    Q_OBJECT

private slots:
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
        int handled = -1;
        std::thread windows([&] { handled = SignalPipeDetail::consoleEvent(DWORD(event)); });
        windows.join();
        QCOMPARE(handled, TRUE);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toInt(), signal);
    }

    // What the program does not catch goes on to Windows' own handling.
    void uncaughtEventsAreLeftToWindows() {
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_C_EVENT), FALSE);
        SignalPipe pipe;
        QVERIFY(pipe.install({SIGINT}));
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_BREAK_EVENT), FALSE);
        QCOMPARE(SignalPipeDetail::consoleEvent(CTRL_CLOSE_EVENT), FALSE);
    }

    void closeWaitsUntilTheRunIsOver() {
        auto pipe = std::make_unique<SignalPipe>();
        QVERIFY(pipe->install({SIGINT, SIGBREAK, SIGTERM}));
        QSignalSpy received(pipe.get(), &SignalPipe::received);
        std::atomic<bool> returned = false;
        std::thread windows([&] {
            SignalPipeDetail::consoleEvent(CTRL_CLOSE_EVENT);
            returned = true;
        });
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toInt(), SIGTERM);
        QTest::qWait(200);
        QVERIFY2(!returned, "the handler returned while the run still went on");
        pipe.reset();
        windows.join();
        QVERIFY(returned);
    }
};

QTEST_GUILESS_MAIN(TestSignalPipe)
#include "tst_signalpipe.moc"
