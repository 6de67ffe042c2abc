// The real program against the meter emulator, a separate process on a pseudo-terminal.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "bevelpanel.h"
#include "meteremulator.h"
#include "recordtable.h"
#include "residentmemory.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A shown window that notes when each frame came in.
struct Window : WindowHarness {
    QList<qint64> frameTimes;
    QElapsedTimer clock;

    Window() : WindowHarness({.show = true}) {
        clock.start();
        QObject::connect(control<QPlainTextEdit>(*w, "Memo1"), &QPlainTextEdit::textChanged,
                         w.get(), [this] { frameTimes << clock.elapsed(); });
    }
    QStringList loggedFrames() const {
        QStringList lines = control<QPlainTextEdit>(*w, "Memo1")->toPlainText().split('\n');
        lines.removeFirst(); // the memo's design text
        return lines;
    }
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    void framesArriveWith(const QStringList &options) {
        MeterEmulator sim(options);
        QVERIFY(sim.readyAsCom1());
        Window win;
        win.w->BTCon1Click();
        QCOMPARE(win.errors, QStringList());
        QVERIFY(win.w->COMM2()->PortIsOpen());
        QTRY_VERIFY_WITH_TIMEOUT(win.loggedFrames().size() >= 25, 10000);
        int display = 0, secondary = 0, broken = 0;
        for (const QString &hex : win.loggedFrames()) {
            if (hex.endsWith(QLatin1String(TFCOMM::kNoiseMark)))
                continue; // the emulator's junk, told for what it is
            if (hex.startsWith("89")) {
                ++display;
                broken += hex.size() != 22;
            } else if (hex.startsWith("8A")) {
                ++secondary;
                broken += hex.size() != 14;
            }
        }
        // Three secondary requests to one display request in every cycle.
        QVERIFY2(display >= 4, qPrintable(win.loggedFrames().join(' ')));
        QVERIFY2(secondary >= 3 * display - 3, qPrintable(win.loggedFrames().join(' ')));
        QCOMPARE(broken, 0);
        QVERIFY(win.linkAlive());
        QVERIFY(win.w->FrameHex().endsWith("0A"));
        QCOMPARE(win.w->MltText().size(), 5);
        QCOMPARE(win.errors, QStringList());
    }

private slots:
    void framesAreReceivedFramedAndRouted() { framesArriveWith({}); }
    void framesCutAcrossPollsStillArriveWhole() { framesArriveWith({"--split"}); }
    void garbageOnTheLineIsSurvived() { framesArriveWith({"--noise"}); }

    // A meter (or anything on the line) that sends as fast as the line takes it must not
    // grow the program: the excess waits in the operating system, and good frames are still
    // decoded and recorded.
    void floodKeepsMemoryBounded_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("frames") << QStringList{"--flood", "--fixed"};
        QTest::newRow("frames and garbage") << QStringList{"--flood", "--fixed", "--noise"};
    }
    void floodKeepsMemoryBounded() {
        QFETCH(QStringList, options);
        MeterEmulator sim(options);
        QVERIFY(sim.readyAsCom1());
        Window win;
        control<QCheckBox>(*win.w, "RepeatSet")->setChecked(false);
        win.w->limitessClick();
        win.w->BTCon1Click();
        QVERIFY(win.w->COMM2()->PortIsOpen());
        QTest::qWait(1500); // warm-up: buffers and caches reach their size
        const qint64 rssBefore = residentKiB();
        const qint64 recordsBefore = win.w->recordTable()->count();
        QTest::qWait(4000);
        const qint64 grown = residentKiB() - rssBefore;
        const qint64 recorded = win.w->recordTable()->count() - recordsBefore;
#ifndef __SANITIZE_ADDRESS__
        // (AddressSanitizer holds freed memory in quarantine, so resident memory says
        // nothing about the program under it.)
        QVERIFY2(grown < 24 * 1024, qPrintable(QStringLiteral("grew %1 KiB").arg(grown)));
#else
        Q_UNUSED(grown);
#endif
        // The driver hands over up to 2048 bytes a poll: hundreds of display frames a second.
        QVERIFY2(recorded > 1000, qPrintable(QString::number(recorded)));
        QCOMPARE(win.w->ValueText(), QStringLiteral("01.234")); // the fixed 1.234 V
        QCOMPARE(win.errors, QStringList());
    }

    void requestPatternAndTiming() {
        MeterEmulator sim;
        QVERIFY(sim.readyAsCom1());
        Window win;
        win.w->BTCon1Click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.received().size() >= 16, 10000);
        const auto rx = sim.received();
        int start = 0;
        while (start < rx.size() && rx[start].second != 0x89)
            ++start;
        QVERIFY(start + 9 < rx.size());
        for (int i = start + 1; i + 1 < rx.size(); ++i) {
            const int phase = (i - start - 1) % 4;
            QCOMPARE(rx[i].second, phase == 3 ? 0x89 : 0x8A);
            const qint64 gap = rx[i + 1].first - rx[i].first;
            // One byte a tick; the silent tick after 0x89 doubles the gap.
            if (rx[i].second == 0x89)
                QVERIFY2(gap >= 150 && gap <= 320, qPrintable(QString::number(gap)));
            else
                QVERIFY2(gap >= 50 && gap <= 220, qPrintable(QString::number(gap)));
        }
    }

    void linkIndicatorFollowsTheMeter() {
        MeterEmulator sim;
        QVERIFY(sim.readyAsCom1());
        Window win;
        QVERIFY(!win.linkAlive());
        win.w->BTCon1Click();
        QTRY_VERIFY_WITH_TIMEOUT(win.linkAlive(), 3000);

        sim.command("silent");
        QTest::qWait(100); // let the frames already on their way come in
        // Watch the indicator closely: it must fall 200 to 300 ms after the last frame.
        qint64 fellAt = -1;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (fellAt < 0 && !win.linkAlive())
                fellAt = win.clock.elapsed();
        });
        probe.start(2);
        QTRY_VERIFY_WITH_TIMEOUT(fellAt >= 0, 3000);
        const qint64 lastFrame = win.frameTimes.last();
        QVERIFY2(fellAt - lastFrame >= 190 && fellAt - lastFrame <= 420,
                 qPrintable(
                     QStringLiteral("no link %1 ms after the last frame").arg(fellAt - lastFrame)));
        QTest::qWait(300);
        QVERIFY(!win.linkAlive());

        sim.command("answer");
        QTRY_VERIFY_WITH_TIMEOUT(win.linkAlive(), 3000);
        QCOMPARE(win.errors, QStringList());
    }

    void keysReachTheMeter() {
        MeterEmulator sim;
        QVERIFY(sim.readyAsCom1());
        Window win;
        win.w->BTCon1Click();
        QTRY_VERIFY_WITH_TIMEOUT(win.linkAlive(), 3000);
        // Hold, short press: the meter shows HOLD (byte 5 bit 0x01) in its next display frame.
        win.w->BtSetMouseDown(control<BevelPanel>(*win.w, "BtHold"));
        win.w->BtSetMouseUp(control<BevelPanel>(*win.w, "BtHold"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const auto &[t, b] : sim.received())
                    if (b == 0xA5)
                        return true;
                return false;
            }(),
            3000);
        const int before = win.loggedFrames().size();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const QStringList frames = win.loggedFrames().mid(before);
                for (const QString &hex : frames)
                    if (hex.startsWith("89") && hex.size() == 22 &&
                        (hex.mid(8, 2).toInt(nullptr, 16) & 0x01))
                        return true;
                return false;
            }(),
            3000);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
#include "windowcontrols.h"
