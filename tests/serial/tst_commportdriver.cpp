#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <termios.h>

#include "commportdriver.h"
#include "portnames.h"
#include "ptypair.h"

namespace {

/// Puts `pty` behind COM1 and sets `driver` to that port; false when there is no terminal.
bool onCom1(const PtyPair &pty, CommPortDriver &driver) {
    if (!pty.exportAs("QM_COM1"))
        return false;
    driver.setComPort(pnCOM1);
    return true;
}

} // namespace

class TestCommPortDriver : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (int n = 1; n <= 4; ++n)
            qunsetenv(qPrintable(QStringLiteral("QM_COM%1").arg(n)));
    }

    void portNames_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("path");
        QTest::newRow("COM1") << int(pnCOM1) << ""
                              << "COM1"
                              << "/dev/ttyS0";
        QTest::newRow("COM4") << int(pnCOM4) << ""
                              << "COM4"
                              << "/dev/ttyS3";
        QTest::newRow("COM2 overridden") << int(pnCOM2) << "/dev/ttyUSB0"
                                         << "COM2"
                                         << "/dev/ttyUSB0";
    }
    void portNames() {
        QFETCH(int, port);
        QFETCH(QString, override);
        QFETCH(QString, display);
        QFETCH(QString, path);
        if (!override.isEmpty())
            qputenv(qPrintable(QStringLiteral("QM_COM%1").arg(port + 1)), override.toLocal8Bit());
        const auto p = static_cast<TComPortNumber>(port);
        QCOMPARE(PortNames::displayName(p), display);
        QCOMPARE(PortNames::devicePath(p), path);
    }

    void defaultsAndClosedState() {
        CommPortDriver d;
        QCOMPARE(d.ComPort(), pnCOM2);
        QCOMPARE(d.ComPortSpeed(), br9600);
        QCOMPARE(d.ComPortDataBits(), db8BITS);
        QCOMPARE(d.ComPortInBufSize(), quint16(2048));
        QCOMPARE(d.ComPortOutBufSize(), quint16(2048));
        QCOMPARE(d.ComPortPollingDelay(), quint16(50));
        QCOMPARE(d.OutputTimeout(), quint16(4000));
        QVERIFY(d.EnableDTROnOpen());
        QVERIFY(!d.PortIsOpen());
        QCOMPARE(d.OutputRoom(), quint16(65535));
        QCOMPARE(d.WriteBytes("\x89", 1), 0);
        d.ClosePort(); // closing a closed port is harmless
        QVERIFY(!d.isPolling());
    }

    void missingDeviceFailsQuietly() {
        qputenv("QM_COM3", "/nonexistent/ttyQM");
        CommPortDriver d;
        d.setComPort(pnCOM3);
        QVERIFY(!d.OpenPort());
        QVERIFY(!d.PortIsOpen());
        QVERIFY(!d.isPolling());
        QCOMPARE(d.lastOpenPath(), QStringLiteral("/nonexistent/ttyQM"));
        QVERIFY(!d.lastOpenError().isEmpty());
        QCOMPARE(d.WriteBytes("\x89", 1), 0);
    }

    void openTwiceAndPortChangeWhileOpen() {
        PtyPair a, b;
        CommPortDriver d;
        QVERIFY(onCom1(a, d) && b.exportAs("QM_COM2"));
        QVERIFY(d.OpenPort());
        QVERIFY(d.OpenPort());
        QVERIFY(d.isPolling());
        QCOMPARE(d.OutputRoom(), quint16(2048));
        d.setComPort(pnCOM2); // ignored while open
        QCOMPARE(d.ComPort(), pnCOM1);
        d.setComPortInBufSize(16); // likewise
        QCOMPARE(d.ComPortInBufSize(), quint16(2048));
        d.ClosePort();
        QVERIFY(!d.isPolling());
        QVERIFY(d.OpenPort());
        QCOMPARE(d.lastOpenPath(), a.path());
        d.ClosePort();
        d.setComPort(pnCOM2);
        QVERIFY(d.OpenPort());
        QCOMPARE(d.lastOpenPath(), b.path());
    }

    void symlinkAndTargetAreOnePort() {
        PtyPair a;
        QVERIFY(a.isValid());
        const QString link =
            QDir::tempPath() +
            QStringLiteral("/qm-test-link-%1").arg(QCoreApplication::applicationPid());
        QFile::remove(link);
        QVERIFY(QFile::link(a.path(), link));
        qputenv("QM_COM1", link.toLocal8Bit());
        qputenv("QM_COM2", a.path().toLocal8Bit());
        CommPortDriver first, second;
        first.setComPort(pnCOM1);
        second.setComPort(pnCOM2);
        QVERIFY(first.OpenPort());
        QCOMPARE(first.lastOpenPath(), a.path());
        QVERIFY(!second.OpenPort());
        QVERIFY(second.lastOpenError().contains(QLatin1String("in use")));
        QFile::remove(link);
    }

    void speedChangeWhileOpenIsApplied() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        d.setComPortSpeed(br2400);
        QVERIFY(d.OpenPort());
        termios t{};
        QCOMPARE(tcgetattr(a.slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B2400));
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        d.setComPortSpeed(br9600);
        QCOMPARE(tcgetattr(a.slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    }

    // A far end that takes nothing fills the queue; the send gives up once no byte was
    // taken for OutputTimeout (or the caller's own bound) with the negated count of what was
    // queued, and never queues beyond the queue size.
    void sendGivesUpWhenTheQueueStaysFull_data() {
        QTest::addColumn<int>("boundMs"); // 0: WriteBytes with OutputTimeout 200 ms
        QTest::newRow("OutputTimeout") << 0;
        QTest::newRow("a 5 ms bound") << 5;
    }
    void sendGivesUpWhenTheQueueStaysFull() {
        QFETCH(int, boundMs);
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        d.setComPortOutBufSize(512);
        d.setOutputTimeout(200);
        QVERIFY(d.OpenPort());
        const QByteArray block(1 << 20, char(0x55));
        QElapsedTimer timer;
        timer.start();
        const int result = boundMs ? d.writeBytesWithin(block.constData(), block.size(),
                                                        std::chrono::milliseconds(boundMs))
                                   : d.WriteBytes(block.constData(), block.size());
        const qint64 took = timer.elapsed();
        QVERIFY2(result < 0 && -result < block.size(), qPrintable(QString::number(result)));
        const int expected = boundMs ? boundMs : 200;
        QVERIFY2(took >= expected && took < expected + 1500, qPrintable(QString::number(took)));
        QCOMPARE(d.OutputRoom(), quint16(0));
        // Closing discards what the stalled line still holds instead of waiting for it.
        timer.restart();
        d.ClosePort();
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    }

    void bytesWrittenReachTheOtherEnd() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        QVERIFY(d.OpenPort());
        const QByteArray sent("\x8A\x8A\x8A\x89\xA1", 5);
        QCOMPARE(d.WriteBytes(sent.constData(), sent.size()), sent.size());
        QCOMPARE(a.read(sent.size()), sent);
    }

    void bytesArrivingAreDeliveredInOrder() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        d.setComPortInBufSize(64); // small, so one burst needs several polls
        QByteArray received;
        int calls = 0;
        int largest = 0;
        connect(&d, &CommPortDriver::OnReceiveData,
                [&](CommPortDriver *sender, const char *data, int size) {
                    QCOMPARE(sender, &d);
                    received.append(data, size);
                    largest = std::max(largest, size);
                    ++calls;
                });
        QVERIFY(d.OpenPort());
        QByteArray expected;
        for (int i = 0; i < 3000; ++i)
            expected.append(char(i % 251));
        for (int off = 0; off < expected.size(); off += 700) {
            QVERIFY(a.write(expected.mid(off, 700)));
            QTest::qWait(7);
        }
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 5000);
        QCOMPARE(received, expected);
        QVERIFY(calls >= expected.size() / 64);
        QVERIFY(largest <= 64);
    }

    // A handler that spins a nested event loop (as a modal box does) for several polls is
    // not called again inside it: what arrives meanwhile waits until it has returned. Qt
    // does not fire a timer again inside its own slot, but a port reopened meanwhile (the
    // link does that on a timer of its own) starts polling on a new one.
    void handlerSpinningTheLoopIsNotEnteredAgain() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        d.setComPortPollingDelay(10);
        QByteArray received;
        int depth = 0;
        int deepest = 0;
        int calls = 0;
        connect(&d, &CommPortDriver::OnReceiveData,
                [&](CommPortDriver *, const char *data, int size) {
                    deepest = std::max(deepest, ++depth);
                    if (calls++ == 0) {
                        QTimer::singleShot(0, &d, [&] {
                            d.ClosePort();
                            d.OpenPort();
                            a.write("BC");
                        });
                        QEventLoop nested;
                        QTimer::singleShot(6 * d.ComPortPollingDelay(), &nested, &QEventLoop::quit);
                        nested.exec();
                    }
                    received.append(data, size);
                    --depth;
                });
        QVERIFY(d.OpenPort());
        QVERIFY(a.write("A"));
        QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("ABC"), 2000);
        QCOMPARE(deepest, 1);
    }

    void noHandlerDropsBytes() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        QVERIFY(d.OpenPort());
        QVERIFY(a.write("\x89\x70\x0A"));
        QTest::qWait(150);
        QVERIFY(!d.receiveHandlerAssigned());
        QByteArray late;
        connect(&d, &CommPortDriver::OnReceiveData,
                [&](CommPortDriver *, const char *data, int size) { late.append(data, size); });
        QVERIFY(d.receiveHandlerAssigned());
        QVERIFY(a.write("\x8A\x0A"));
        QTRY_COMPARE_WITH_TIMEOUT(late, QByteArray("\x8A\x0A"), 2000);
    }

    // The polling delay sets how often deliveries come. Writing the value the driver already
    // has leaves the running poll alone; a new value takes effect on the open port at once.
    void pollingDelayChange() {
        PtyPair a;
        CommPortDriver d;
        QVERIFY(onCom1(a, d));
        d.setComPortPollingDelay(20); // closed: stored only
        QVERIFY(!d.isPolling());
        QVERIFY(d.OpenPort());
        QVERIFY(d.isPolling());
        auto *poll = d.findChild<QTimer *>();
        QVERIFY(poll && poll->isActive());
        const int runningTimer = poll->timerId();
        d.setComPortPollingDelay(20);
        QCOMPARE(poll->timerId(), runningTimer);

        // Bytes arrive every 5 ms; each poll hands over what came since the last one.
        int deliveries = 0;
        connect(&d, &CommPortDriver::OnReceiveData,
                [&](CommPortDriver *, const char *, int) { ++deliveries; });
        auto deliveriesIn = [&](int ms) {
            QTest::qWait(60); // a poll of the old period may still be due
            deliveries = 0;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < ms) {
                a.write(QByteArray(1, '\x55'));
                QTest::qWait(5);
            }
            return deliveries;
        };
        const int fast = deliveriesIn(1000);
        d.setComPortPollingDelay(250);
        QCOMPARE(d.ComPortPollingDelay(), quint16(250));
        QVERIFY(d.isPolling());
        const int slow = deliveriesIn(1000);
        QVERIFY2(fast >= 25, qPrintable(QString::number(fast)));             // about 50 at 20 ms
        QVERIFY2(slow >= 2 && slow <= 6, qPrintable(QString::number(slow))); // about 4
    }

    // A device that vanishes under an open port must cost one error, not a busy loop, and
    // the port must open again once the device is back.
    void vanishedDeviceClosesOnce() {
        auto a = std::make_unique<PtyPair>();
        CommPortDriver d;
        QVERIFY(onCom1(*a, d));
        QVERIFY(d.OpenPort());
        QSignalSpy lost(&d, &CommPortDriver::portLost);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        a->closeSlave();
        a->closeMaster();
        QVERIFY(lost.wait(3000));
        QVERIFY(!d.PortIsOpen());
        QVERIFY(!d.isPolling());
        QTest::qWait(300);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(lost.first().first().toString(), QStringLiteral("the device failed or went away"));
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                           (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6;
        QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("CPU after hang-up: %1 s").arg(cpu)));

        PtyPair back;
        QVERIFY(back.exportAs("QM_COM1"));
        QVERIFY(d.OpenPort());
        QCOMPARE(d.WriteBytes("\x89", 1), 1);
        QCOMPARE(back.read(1), QByteArray("\x89"));
    }
};

QTEST_GUILESS_MAIN(TestCommPortDriver)
#include "tst_commportdriver.moc"
