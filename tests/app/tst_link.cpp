#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <memory>

#include "bevelpanel.h"
#include "meterlink.h"
#include "ptypair.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A shown window that tells which port panel shows and which port item is ticked.
struct Harness : WindowHarness {
    Harness() : WindowHarness({.show = true}) {}

    BevelPanel *visiblePortPanel() const {
        for (BevelPanel *p : {control<BevelPanel>(*w, "BtCOM1"), control<BevelPanel>(*w, "BtCOM2"),
                              control<BevelPanel>(*w, "BtCOM3"), control<BevelPanel>(*w, "BtCOM4")})
            if (p->isVisible())
                return p;
        return nullptr;
    }
    int checkedPortItem() const {
        const QAction *items[] = {control<QAction>(*w, "COM11"), control<QAction>(*w, "COM21"),
                                  control<QAction>(*w, "COM31"), control<QAction>(*w, "COM41")};
        for (int i = 0; i < 4; ++i)
            if (items[i]->isChecked())
                return i + 1;
        return 0;
    }
};

void press(QWidget *panel, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(panel, button, {}, QPoint(5, 5));
}
void release(QWidget *panel, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(panel, button, {}, QPoint(5, 5));
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char *name : {"QM_COM1", "QM_COM2", "QM_COM3", "QM_COM4"})
            qunsetenv(name);
    }

    void portPanelsCycleWithTheMenu() {
        Harness h;
        const BevelPanel *order[] = {
            control<BevelPanel>(*h.w, "BtCOM2"), control<BevelPanel>(*h.w, "BtCOM3"),
            control<BevelPanel>(*h.w, "BtCOM4"), control<BevelPanel>(*h.w, "BtCOM1")};
        QCOMPARE(h.visiblePortPanel(), control<BevelPanel>(*h.w, "BtCOM1"));
        QCOMPARE(control<BevelPanel>(*h.w, "BtCOM1")->caption(), QStringLiteral("COM /"));
        for (int i = 0; i < 4; ++i) {
            QTest::mouseClick(h.visiblePortPanel(), Qt::LeftButton);
            QCOMPARE(h.visiblePortPanel(), order[i]);
            QCOMPARE(h.checkedPortItem(), (i + 1) % 4 + 1);
            QCOMPARE(int(h.w->COMM2()->ComPort()), (i + 1) % 4);
        }
        control<QAction>(*h.w, "COM31")->trigger();
        QCOMPARE(h.visiblePortPanel(), control<BevelPanel>(*h.w, "BtCOM3"));
        QCOMPARE(h.checkedPortItem(), 3);
        QCOMPARE(h.w->COMM2()->ComPort(), pnCOM3);
    }

    void menuChoiceIsThePortTheNextConnectOpens() {
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM2"));
        Harness h;
        control<QAction>(*h.w, "COM21")->trigger();
        QTest::mouseClick(control<BevelPanel>(*h.w, "BTCon"), Qt::LeftButton);
        QVERIFY(h.w->COMM2()->PortIsOpen());
        QCOMPARE(h.w->COMM2()->lastOpenPath(), pty.path());
        // While connected the port panels change nothing.
        QTest::mouseClick(control<BevelPanel>(*h.w, "BtCOM2"), Qt::LeftButton);
        QCOMPARE(h.visiblePortPanel(), control<BevelPanel>(*h.w, "BtCOM2"));
        QCOMPARE(h.checkedPortItem(), 2);
        QCOMPARE(h.w->COMM2()->ComPort(), pnCOM2);
        qunsetenv("QM_COM2");
    }

    void connectAndDisconnectStates() {
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        Harness h;
        TFCOMM &w = *h.w;
        auto state = [&w] {
            return QList<bool>{control<QMenu>(w, "ComSetup1")->menuAction()->isEnabled(),
                               control<QAction>(w, "START1")->isChecked(),
                               control<QAction>(w, "START1")->isEnabled(),
                               control<QAction>(w, "STOP1")->isChecked(),
                               control<QAction>(w, "STOP1")->isEnabled(),
                               control<BevelPanel>(w, "BTCon")->isVisible(),
                               control<BevelPanel>(w, "BtDiscon")->isVisible()};
        };
        QCOMPARE(state(), QList<bool>({true, false, true, false, false, true, false}));
        QTest::mouseClick(control<BevelPanel>(w, "BTCon"), Qt::LeftButton);
        QVERIFY(w.COMM2()->PortIsOpen());
        QCOMPARE(state(), QList<bool>({false, true, false, false, true, false, true}));
        control<QAction>(w, "STOP1")->trigger();
        QVERIFY(!w.COMM2()->PortIsOpen());
        QCOMPARE(state(), QList<bool>({true, false, true, true, false, true, false}));
        control<QAction>(w, "START1")->trigger();
        QCOMPARE(state(), QList<bool>({false, true, false, false, true, false, true}));
        QTest::mouseClick(control<BevelPanel>(w, "BtDiscon"), Qt::LeftButton);
        QCOMPARE(state(), QList<bool>({true, false, true, true, false, true, false}));
        QCOMPARE(h.errors, QStringList());
    }

    void portThatCannotOpenIsReportedAndStaysDisconnected() {
        qputenv("QM_COM1", "/nonexistent/ttyQM0");
        Harness h;
        TFCOMM &w = *h.w;
        QTest::mouseClick(control<BevelPanel>(w, "BTCon"), Qt::LeftButton);
        QCOMPARE(h.errors,
                 QStringList(QStringLiteral(
                     "Cannot open COM1 (/nonexistent/ttyQM0): No such file or directory")));
        QVERIFY(control<BevelPanel>(w, "BTCon")->isVisible());
        QVERIFY(!control<BevelPanel>(w, "BtDiscon")->isVisible());
        QVERIFY(control<QAction>(w, "START1")->isEnabled());
        QVERIFY(!control<QAction>(w, "START1")->isChecked());
        QVERIFY(!control<QAction>(w, "STOP1")->isEnabled());
        QVERIFY(control<QMenu>(w, "ComSetup1")->menuAction()->isEnabled());
    }

    // The no-link image comes on the third watchdog tick after the last frame, never
    // earlier, and a frame before that tick starts the count again.
    void watchdog() {
        Harness h;
        TFCOMM &w = *h.w;
        control<QTimer>(w, "ConTimer")->stop();
        QVERIFY(!h.linkAlive());
        w.reportLinkAlive();
        QVERIFY(h.linkAlive());
        w.ConTimerTimer();
        w.ConTimerTimer();
        QVERIFY(h.linkAlive());
        w.reportLinkAlive();
        w.ConTimerTimer();
        w.ConTimerTimer();
        QVERIFY(h.linkAlive());
        w.ConTimerTimer();
        QVERIFY(!h.linkAlive());
        QCOMPARE(w.LinkIdleTicks(), 0);
        w.ConTimerTimer();
        QCOMPARE(w.LinkIdleTicks(), 1);
    }

    void keysSendTheirCodeOnRelease_data() {
        QTest::addColumn<QString>("panel");
        QTest::addColumn<bool>("longPress");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("RANGE short") << "BtRange" << false << Qt::LeftButton << 0xA1;
        QTest::newRow("RANGE long") << "BtRange" << true << Qt::LeftButton << 0xA0;
        QTest::newRow("Peak-Buzzer short") << "BtPeak" << false << Qt::LeftButton << 0xAB;
        QTest::newRow("Peak-Buzzer long") << "BtPeak" << true << Qt::LeftButton << 0xAA;
        QTest::newRow("AC-DC-Cap right button") << "BtSel" << false << Qt::RightButton << 0xAD;
        QTest::newRow("Hz-% long right") << "BtHz" << true << Qt::RightButton << 0xA2;
    }
    void keysSendTheirCodeOnRelease() {
        QFETCH(QString, panel);
        QFETCH(bool, longPress);
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, code);
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        Harness h;
        TFCOMM &w = *h.w;
        control<QTimer>(w, "Timer1")->stop();
        // The long-press threshold, shortened for the test.
        control<QTimer>(w, "TdownB")->setInterval(60);
        w.BTCon1Click();
        QVERIFY(w.COMM2()->PortIsOpen());
        auto *key = w.findChild<BevelPanel *>(panel);
        QVERIFY(key);
        press(key, button);
        QCOMPARE(key->bevelOuter(), BevelPanel::bvRaised);
        QCOMPARE(key->bevelInner(), BevelPanel::bvLowered);
        if (longPress) {
            QTRY_VERIFY_WITH_TIMEOUT(!control<QTimer>(w, "TdownB")->isActive(), 2000);
            QTest::qWait(20);
        }
        QCOMPARE(pty.read(1, 50), QByteArray()); // nothing before the release
        release(key, button);
        QCOMPARE(key->bevelOuter(), BevelPanel::bvLowered);
        QCOMPARE(key->bevelInner(), BevelPanel::bvRaised);
        QCOMPARE(pty.read(2, 300), QByteArray(1, char(code)));
    }

    void relSteps() {
        Harness h;
        TFCOMM &w = *h.w;
        QList<int> states;
        for (int i = 0; i < 3; ++i) {
            press(control<BevelPanel>(w, "BtRel"));
            QCOMPARE(control<BevelPanel>(w, "BtRel")->bevelOuter(), BevelPanel::bvRaised);
            release(control<BevelPanel>(w, "BtRel"));
            QCOMPARE(control<BevelPanel>(w, "BtRel")->bevelOuter(), BevelPanel::bvLowered);
            states << w.RelState();
        }
        QCOMPARE(states, QList<int>({1, 2, 0}));
        QCOMPARE(w.KeyCode(), quint8(0xA6));
        QCOMPARE(h.errors, QStringList());
    }

    // A key pressed while disconnected sends nothing down the line: the line itself is read.
    void keysSendNothingWhileDisconnected() {
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        Harness h;
        TFCOMM &w = *h.w;
        w.BTCon1Click();
        QVERIFY(!pty.read(1, 1000).isEmpty()); // the line works: requests arrive
        w.BtDiscon1Click();
        QTest::qWait(150);
        pty.read(4096, 50); // whatever was on its way
        for (BevelPanel *key : {control<BevelPanel>(w, "BtRel"), control<BevelPanel>(w, "BtHold"),
                                control<BevelPanel>(w, "BtRange")}) {
            press(key);
            release(key);
        }
        QCOMPARE(pty.read(1, 400), QByteArray());
        QCOMPARE(h.errors, QStringList());
    }

    // An adapter that stopped draining must not freeze the window: with the output queue
    // full, the request ticks skip their byte instead of waiting out the send time-out.
    void fullOutputQueueDoesNotBlockTheWindow() {
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        Harness h;
        TFCOMM &w = *h.w;
        w.COMM2()->setComPortOutBufSize(512);
        w.BTCon1Click();
        QVERIFY(w.COMM2()->PortIsOpen());
        control<QTimer>(w, "Timer1")->stop(); // the test drives the ticks
        // Nobody reads the line: fill the terminal and the queue behind it.
        w.COMM2()->setOutputTimeout(300);
        const QByteArray block(1 << 20, char(0x55));
        QVERIFY(w.COMM2()->WriteBytes(block.constData(), block.size()) < 0);
        QCOMPARE(w.COMM2()->OutputRoom(), quint16(0));
        w.COMM2()->setOutputTimeout(4000);

        QElapsedTimer clock;
        clock.start();
        for (int tick = 0; tick < 5; ++tick)
            w.Timer1Timer();
        press(control<BevelPanel>(w, "BtHold"));
        release(control<BevelPanel>(w, "BtHold"));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        // What the stalled line held is dropped, not left to reach the meter late.
        QVERIFY(w.COMM2()->outputPending() <= MeterLink::kMaxPendingBytes);
        // The driver keeps its time-out for other senders.
        QCOMPARE(w.COMM2()->OutputTimeout(), quint16(4000));
    }

    void requestBytesWhileConnected() {
        PtyPair pty;
        QVERIFY(pty.exportAs("QM_COM1"));
        Harness h;
        h.w->BTCon1Click();
        QElapsedTimer clock;
        clock.start();
        QList<qint64> times;
        QByteArray got;
        while (got.size() < 12 && clock.elapsed() < 5000) {
            const QByteArray b = pty.read(1, 200);
            if (!b.isEmpty()) {
                got += b;
                times << clock.elapsed();
            }
        }
        QCOMPARE(got.size(), 12);
        const int first89 = got.indexOf('\x89');
        QVERIFY(first89 >= 0 && first89 <= 3);
        for (int i = 0; i < got.size(); ++i) {
            const int phase = (i - first89 + 3 + 400) % 4;
            QCOMPARE(quint8(got[i]), quint8(phase == 3 ? 0x89 : 0x8A));
        }
        // One byte a tick and a silent tick after every 0x89: about 100 ms between bytes,
        // about 200 ms after a 0x89.
        for (int i = 1; i < got.size(); ++i) {
            const qint64 gap = times[i] - times[i - 1];
            if (quint8(got[i - 1]) == 0x89)
                QVERIFY2(gap >= 150 && gap <= 300, qPrintable(QString::number(gap)));
            else
                QVERIFY2(gap >= 50 && gap <= 200, qPrintable(QString::number(gap)));
        }
        // The window's RequestStep names the request just sent: 1 to 3 after a 0x8A, 4 after
        // the 0x89, 0 after the silent tick.
        control<QTimer>(*h.w, "Timer1")->stop();
        pty.read(1, 150); // a byte of the last tick, if it came after the twelfth
        for (int tick = 0; tick < 5; ++tick) {
            h.w->Timer1Timer();
            const QByteArray sent = pty.read(1, 100);
            const int step = h.w->RequestStep();
            QCOMPARE(sent, step == 0   ? QByteArray()
                           : step == 4 ? QByteArray("\x89")
                                       : QByteArray("\x8A"));
        }
    }

    // A port that goes away while connected is tried again, with no click, until Disconnect;
    // the no-link image's hint says why there is no link, and the port panel stays locked.
    void vanishedDeviceIsReopenedUntilDisconnect() {
        auto pty = std::make_unique<PtyPair>();
        QVERIFY(pty->exportAs("QM_COM1"));
        Harness h;
        TFCOMM &w = *h.w;
        w.Link()->setReopenInterval(std::chrono::milliseconds(100)); // 2 s in use
        const QString reason = QStringLiteral("No link on COM1: %1");
        QCOMPARE(control<QLabel>(w, "CONokN")->toolTip(), reason.arg("not connected"));
        w.BTCon1Click();
        QCOMPARE(control<QLabel>(w, "CONokN")->toolTip(), reason.arg("no answer from the meter"));
        const QByteArray frame("\x8A\x00\x37\x00\x12\x34\x0A", 7);
        for (int round = 0;; ++round) {
            QVERIFY(pty->write(frame));
            QTRY_VERIFY_WITH_TIMEOUT(h.linkAlive(), 2000);
            pty->closeSlave();
            pty->closeMaster();
            QTRY_VERIFY_WITH_TIMEOUT(!w.COMM2()->PortIsOpen(), 3000);
            QTRY_VERIFY_WITH_TIMEOUT(!h.linkAlive(), 1000);
            QCOMPARE(control<QLabel>(w, "CONokN")->toolTip(),
                     reason.arg("the port went away; it is tried again every 0.1 s"));
            QVERIFY(control<BevelPanel>(w, "BtDiscon")->isVisible());
            QVERIFY(!control<QMenu>(w, "ComSetup1")->menuAction()->isEnabled());
            if (round == 2)
                break;
            pty = std::make_unique<PtyPair>(); // back, under another device name
            QVERIFY(pty->exportAs("QM_COM1"));
            QTRY_VERIFY_WITH_TIMEOUT(w.COMM2()->PortIsOpen(), 2000);
            QCOMPARE(w.COMM2()->lastOpenPath(), pty->path());
            QCOMPARE(control<QLabel>(w, "CONokN")->toolTip(),
                     reason.arg("no answer from the meter"));
        }
        w.BtDiscon1Click();
        QCOMPARE(control<QLabel>(w, "CONokN")->toolTip(), reason.arg("not connected"));
        PtyPair back;
        QVERIFY(back.exportAs("QM_COM1"));
        QTest::qWait(400); // four retry periods
        QVERIFY(!w.COMM2()->PortIsOpen());
        QVERIFY(control<BevelPanel>(w, "BTCon")->isVisible());
        QCOMPARE(h.errors, QStringList());
    }
};

QTEST_MAIN(TestLink)
#include "tst_link.moc"
#include "windowcontrols.h"
