#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "commportdriver.h"
#include "meterlink.h"
#include "ptypair.h"
#include "remotekeys.h"

namespace {

/// A link on an open pseudo-terminal; the test reads what the link sends from the master.
struct OpenLink {
    PtyPair pty;
    CommPortDriver driver;
    MeterLink link{driver};

    bool open() {
        if (!pty.exportAs("QM_COM1"))
            return false;
        driver.setComPort(pnCOM1);
        return driver.OpenPort();
    }
};

} // namespace

class TestMeterLink : public QObject {
    Q_OBJECT

private slots:
    void requestCycleSendsItsPattern() {
        OpenLink l;
        QVERIFY(l.open());
        QList<int> steps;
        for (int i = 0; i < 11; ++i) {
            l.link.requestTick();
            steps << l.link.requestStep();
        }
        QCOMPARE(steps, QList<int>({1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1}));
        QCOMPARE(l.pty.read(9, 1000), QByteArray("\x8A\x8A\x8A\x89\x8A\x8A\x8A\x89\x8A"));
    }

    // The cycle goes on while the port is closed, so it does not restart at connect.
    void requestCycleRunsWithThePortClosed() {
        CommPortDriver driver;
        MeterLink link(driver);
        for (int i = 0; i < 3; ++i)
            link.requestTick();
        QCOMPARE(link.requestStep(), 3);
        QVERIFY(!link.send(0x89));
    }

    void ownTimersDriveTheCycle() {
        OpenLink l;
        QVERIFY(l.open());
        QVERIFY(!l.link.isRunning());
        l.link.start();
        QVERIFY(l.link.isRunning());
        const QByteArray got = l.pty.read(4, 3000);
        l.link.stop();
        QCOMPARE(got, QByteArray("\x8A\x8A\x8A\x89"));
        QVERIFY(!l.link.isRunning());
    }

    // 'A' reports a frame, 'T' is a watchdog tick. Per event: whether the link is alive
    // after it and, for a tick, whether it showed "no link" ('N') or not ('-').
    void watchdog_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("ticks");
        QTest::addColumn<QString>("alive");
        QTest::addColumn<QList<bool>>("changes");
        QTest::newRow("falls on the third tick") << "ATTT"
                                                 << " --N"
                                                 << "1110" << QList<bool>{true, false};
        QTest::newRow("a frame before it restarts the count") << "ATTATT"
                                                              << " -- --"
                                                              << "111111" << QList<bool>{true};
        QTest::newRow("no link is re-asserted every third tick")
            << "ATTTTTT"
            << " --N--N"
            << "1110000" << QList<bool>{true, false};
        QTest::newRow("silence from the start changes nothing") << "TTTTTT"
                                                                << "--N--N"
                                                                << "000000" << QList<bool>{};
        QTest::newRow("comes back after falling") << "ATTTTA"
                                                  << " --N- "
                                                  << "111001" << QList<bool>{true, false, true};
    }
    void watchdog() {
        QFETCH(QString, events);
        QFETCH(QString, ticks);
        QFETCH(QString, alive);
        QFETCH(QList<bool>, changes);
        CommPortDriver driver;
        MeterLink link(driver);
        QSignalSpy spy(&link, &MeterLink::aliveChanged);
        QString gotTicks, gotAlive;
        for (QChar e : events) {
            if (e == u'A') {
                link.reportAlive();
                QCOMPARE(link.idleTicks(), 0);
                gotTicks += u' ';
            } else {
                gotTicks += link.watchdogTick() ? u'N' : u'-';
            }
            gotAlive += link.isAlive() ? u'1' : u'0';
        }
        QCOMPARE(gotTicks, ticks);
        QCOMPARE(gotAlive, alive);
        QList<bool> gotChanges;
        for (const QList<QVariant> &args : spy)
            gotChanges << args.at(0).toBool();
        QCOMPARE(gotChanges, changes);
    }

    void lostPortDropsTheLink() {
        OpenLink l;
        QVERIFY(l.open());
        l.link.reportAlive();
        l.link.watchdogTick();
        QSignalSpy spy(&l.link, &MeterLink::aliveChanged);
        l.pty.closeSlave();
        l.pty.closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(!l.driver.PortIsOpen(), 3000);
        QVERIFY(!l.link.isAlive());
        QCOMPARE(l.link.idleTicks(), 0);
        QCOMPARE(spy.size(), 1);
        // Opened on the driver, not through the link: nobody asked for it to be kept open.
        QCOMPARE(l.link.portState(), MeterLink::PortState::Closed);
    }

    // A first open that fails is tried again only when the owner asks for it.
    void firstOpenThatFails_data() {
        QTest::addColumn<bool>("keepTrying");
        QTest::newRow("keep trying") << true;
        QTest::newRow("give up") << false;
    }
    void firstOpenThatFails() {
        QFETCH(bool, keepTrying);
        qputenv("QM_COM1", "/nonexistent/ttyQM0");
        CommPortDriver driver;
        driver.setComPort(pnCOM1);
        MeterLink link(driver);
        link.setReopenInterval(std::chrono::milliseconds(50));
        QSignalSpy reopened(&link, &MeterLink::portReopened);
        QVERIFY(!link.openPort(keepTrying));
        if (keepTrying)
            QCOMPARE(link.noLinkReason(),
                     QStringLiteral("the port does not open; it is tried again every 0.05 s"));
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        QTest::qWait(200);
        QCOMPARE(driver.PortIsOpen(), keepTrying);
        QCOMPARE(reopened.size(), keepTrying ? 1 : 0);
    }

    void keysSendTheirCode_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("longPress");
        QTest::addColumn<int>("code");
        QTest::newRow("RANGE short") << "RANGE" << false << 0xA1;
        QTest::newRow("RANGE long") << "range" << true << 0xA0;
        QTest::newRow("Hz-% short") << "hz-%" << false << 0xA3;
        QTest::newRow("Peak-Buzzer long") << "Peak-Buzzer" << true << 0xAA;
        QTest::newRow("AC-DC-Cap short") << "AC-DC-CAP" << false << 0xAD;
    }
    void keysSendTheirCode() {
        QFETCH(QString, caption);
        QFETCH(bool, longPress);
        QFETCH(int, code);
        OpenLink l;
        QVERIFY(l.open());
        const QByteArray name = caption.toLatin1();
        const auto key = RemoteKeys::findByCaption({name.constData(), std::size_t(name.size())});
        QVERIFY(key);
        QVERIFY(l.link.sendKey(key->longCode, longPress));
        QCOMPARE(l.pty.read(2, 300), QByteArray(1, char(code)));
    }

    void unknownOrHiddenCaptionsFindNoKey_data() {
        QTest::addColumn<QString>("caption");
        QTest::newRow("hidden Buzzer") << "Buzzer";
        QTest::newRow("panel name") << "BtRange";
        QTest::newRow("empty") << "";
        QTest::newRow("prefix") << "RANG";
    }
    void unknownOrHiddenCaptionsFindNoKey() {
        QFETCH(QString, caption);
        const QByteArray name = caption.toLatin1();
        QVERIFY(!RemoteKeys::findByCaption({name.constData(), std::size_t(name.size())}));
    }

    // With more than a few bytes unsent a byte is skipped at once instead of waiting out
    // the send time-out, for requests and keys alike, and what waits is dropped.
    void fullOutputQueueSkipsTheByte() {
        OpenLink l;
        l.driver.setComPortOutBufSize(512);
        QVERIFY(l.open());
        l.driver.setOutputTimeout(300);
        const QByteArray block(1 << 20, char(0x55));
        QVERIFY(l.driver.WriteBytes(block.constData(), block.size()) < 0);
        QCOMPARE(l.driver.OutputRoom(), quint16(0));
        l.driver.setOutputTimeout(60000);
        QVERIFY(!l.link.send(0x89));
        QCOMPARE(l.driver.outputPending(), qint64(0));
        QVERIFY(l.pty.fillLine() >= 0); // full again
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 50; ++i)
            l.link.requestTick(); // would hang for minutes if a tick waited
        QCOMPARE(l.link.requestStep(), 0);
        QVERIFY(l.driver.outputPending() <= MeterLink::kMaxPendingBytes);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // The far end stops reading with a key press still on its way: when the line moves
    // again the meter gets fresh requests, never that key press, however long the stall.
    void keyPressDuringAStallIsNeverDeliveredLate() {
        OpenLink l;
        QVERIFY(l.open());
        QVERIFY(l.pty.fillLine() > 0);
        QVERIFY(l.link.sendKey(0xA0, false)); // taken, but it cannot go out
        for (int i = 0; i < 60; ++i) {        // half a minute of requests, quickly
            l.link.requestTick();
            QCoreApplication::processEvents();
        }
        QVERIFY(l.driver.outputPending() <= MeterLink::kMaxPendingBytes);
        const QByteArray drained = l.pty.read(1 << 20, 500);
        QVERIFY(drained.size() > 0);
        QVERIFY(!drained.contains(char(0xA1)));
        for (int i = 0; i < 5; ++i)
            l.link.requestTick();
        QVERIFY(l.pty.read(4, 1000).contains(char(0x89)));
    }
};

QTEST_GUILESS_MAIN(TestMeterLink)
#include "tst_meterlink.moc"
