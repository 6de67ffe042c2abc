#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <functional>

#include "bevelpanel.h"
#include "decodedframe.h"
#include "lcdpanel.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

QByteArray bytes(const char *spaced) {
    return QByteArray::fromHex(QByteArray(spaced));
}

/// A shown window fed frames as the receive path hands them to the display.
struct Harness : WindowHarness {
    Harness() : WindowHarness({.show = true}) {}

    void receive(const QByteArray &chunk) {
        w->QM34RData(w->COMM2(), chunk.constData(), int(chunk.size()));
    }
    void frame(const char *spaced) { receive(bytes(spaced)); }
    /// A secondary frame carrying the bar's five hex digits `mlt`. A shorter text comes
    /// from no frame the framing passes; the handler is given it directly.
    void secondary(const char *mlt) {
        const QString digits = QString::fromLatin1(mlt);
        if (digits.size() != 5) {
            w->LcdDisplayQM34Mlt(digits);
            return;
        }
        // Byte 6, byte 5, then the low nibble of byte 3.
        const QString frame = QLatin1String("8A000") + digits[4] + QLatin1String("00") +
                              digits.mid(2, 2) + digits.mid(0, 2) + QLatin1String("0A");
        receive(QByteArray::fromHex(frame.toLatin1()));
        QCOMPARE(w->MltText(), digits);
    }
};

} // namespace

class TestTfcommReadout : public QObject {
    Q_OBJECT

private slots:
    void placement();
    void readingReachesTheWindow();
    void scaleSettingsFollowTheMode();
    void overloadDigits();
    void darkLeadingDigit();
    void dutyAndConductance();
    void annunciatorLastsOneFrame();
    void relStateFromTheWindow();
    void linkAliveOnEveryFrame();
    void barGraph_data();
    void barGraph();
    void barBeyondItsRangeShowsFull();
    void receivedBytesReachThePanel();
};

void TestTfcommReadout::placement() {
    Harness h;
    TFCOMM &w = *h.w;
    QVERIFY(control<LcdPanel>(w, "Panel1"));
    QCOMPARE(control<LcdPanel>(w, "Panel1")->parentWidget(), w.centralWidget());
    QCOMPARE(control<LcdPanel>(w, "Panel1")->geometry(), QRect(3, 33, 298, 136));
    QCOMPARE(w.findChild<LcdPanel *>(QStringLiteral("Panel1")), control<LcdPanel>(w, "Panel1"));
    QCOMPARE(control<QProgressBar>(w, "PBar2")->parentWidget(), w.centralWidget());
    QCOMPARE(control<QProgressBar>(w, "PBar2")->geometry(), QRect(12, 176, 289, 12));
    QCOMPARE(control<QProgressBar>(w, "PBar2")->minimum(), 0);
    QCOMPARE(control<QProgressBar>(w, "PBar2")->maximum(), 41);
    QCOMPARE(control<QProgressBar>(w, "PBar2")->value(), 41);
    QVERIFY(control<QProgressBar>(w, "PBar2")->isVisible());
    QCOMPARE(control<QLabel>(w, "MltSN")->parentWidget(), w.centralWidget());
    QCOMPARE(control<QLabel>(w, "MltSN")->pos(), QPoint(5, 171));
    QCOMPARE(control<QLabel>(w, "MltSN")->text(), QStringLiteral("+"));
    QVERIFY(control<QLabel>(w, "MltSN")->font().bold());
    QCOMPARE(control<QLabel>(w, "MltSN")->font().pixelSize(), 16);
    // The profile's captions land on the panel's labels (the shipped QM30 row).
    QCOMPARE(h.caption("LcdAC"), QStringLiteral("AC"));
    QCOMPARE(h.caption("LCDD0"), QString());
    QCOMPARE(h.caption("LcdDa"), QStringLiteral("7"));
    QVERIFY(h.shown("LcdDa"));
    QVERIFY(!h.shown("LcdV"));
}

void TestTfcommReadout::readingReachesTheWindow() {
    Harness h;
    TFCOMM &w = *h.w;
    h.frame("89 70 00 00 10 0F 01 02 03 04 0A");
    QCOMPARE(w.ValueText(), QStringLiteral("-01.234"));
    QCOMPARE(w.ReadingNval(), -1234.0f);
    QCOMPARE(w.AcDcText(), QStringLiteral("DC"));
    QCOMPARE(w.UnitText(), QStringLiteral("V"));
    QCOMPARE(w.AutoText(), QStringLiteral("AUTO"));
    QCOMPARE(w.RangeCode(), 0);
    QCOMPARE(w.NeedlePosition(), 338);
    QVERIFY(w.LastDisplayFrame());
    QCOMPARE(w.LastDisplayFrame()->digits[DecodedFrame::Dc], QStringLiteral("3"));
    QVERIFY(h.shown("LcdFH"));
    QVERIFY(h.shown("LcdP1"));
    QVERIFY(h.shown("LcdV"));
    QVERIFY(h.shown("LcdDc1"));
    QVERIFY(h.errors.isEmpty());

    h.frame("89 61 20 00 00 0F 04 07 00 00 0A"); // 47.00 uF, range 4
    QCOMPARE(w.ValueText(), QStringLiteral("047.00"));
    QCOMPARE(w.UnitText(), QStringLiteral("uF"));
    QCOMPARE(w.AcDcText(), QString());
    QCOMPARE(w.RangeCode(), 4);
    QVERIFY(!h.shown("LcdFH"));
    QVERIFY(h.shown("LCDu"));
    QVERIFY(h.shown("LCDF"));
}

void TestTfcommReadout::scaleSettingsFollowTheMode() {
    Harness h;
    TFCOMM &w = *h.w;
    QCOMPARE(w.KDSpan(), 80);
    h.frame("89 70 14 00 04 0F 01 02 03 04 0A"); // kHz
    QCOMPARE(w.KDHundredMode(), true);
    QCOMPARE(w.KDSpan(), 100);
    QCOMPARE(w.KDOffset(), 100);
    QCOMPARE(w.UnitText(), QStringLiteral("kHz"));
    h.frame("89 70 04 00 08 0F 01 02 03 04 0A"); // frequency overload: 100 divisions
    QCOMPARE(w.ReadingNval(), 10001.0f);
    h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
    QCOMPARE(w.KDHundredMode(), false);
    QCOMPARE(w.KDSpan(), 80);
    QCOMPARE(w.KDOffset(), 0);
}

void TestTfcommReadout::overloadDigits() {
    Harness h;
    h.frame("89 70 00 00 08 00 01 02 03 04 0A");
    const QStringList expected{"(", "", "0", "@", ""};
    const char *names[] = {"LCDD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(h.caption(names[i]), expected[i]);
        QVERIFY(h.shown(names[i]));
    }
    QCOMPARE(h.w->ValueText(), QStringLiteral(".0L"));
    QCOMPARE(h.w->ReadingNval(), 8001.0f);
    QCOMPARE(h.w->NeedlePosition(), 800);
}

void TestTfcommReadout::darkLeadingDigit() {
    Harness h;
    h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
    QCOMPARE(h.caption("LCDD0"), QStringLiteral("0"));
    QVERIFY(!h.shown("LCDD0"));
    QCOMPARE(h.w->ValueText(), QStringLiteral("01.234"));
}

void TestTfcommReadout::dutyAndConductance() {
    Harness h;
    h.frame("89 70 05 00 00 03 01 02 03 04 0A");
    QVERIFY(!h.shown("LCDD0"));
    QVERIFY(h.shown("LCDBF"));
    QVERIFY(h.shown("LcdP2"));
    QVERIFY(!h.shown("LcdAuto"));
    QCOMPARE(h.w->AutoText(), QStringLiteral("MANU"));

    h.frame("89 60 30 00 00 0F 01 02 03 04 0A");
    QVERIFY(h.shown("LCDn"));
    QVERIFY(h.shown("LcdS"));
    QVERIFY(!h.shown("LCDohm"));
    QVERIFY(!h.shown("PBar2"));
    QVERIFY(!h.shown("LCDBF"));
    QCOMPARE(h.w->UnitText(), QStringLiteral("nS"));
}

void TestTfcommReadout::annunciatorLastsOneFrame() {
    Harness h;
    // kilo-ohm, continuity, REC 1 mS MIN, battery, HOLD, minus.
    h.frame("89 60 18 4C 31 0F 01 02 03 04 0A");
    const char *lit[] = {"LCDk",   "LCDohm",  "LCDFm",   "LcdREC", "Lcd1ms",
                         "LcdMin", "LCDBATT", "LCDHold", "LcdFH",  "LcdP3"};
    for (const char *name : lit)
        QVERIFY2(h.shown(name), name);
    h.frame("89 58 00 00 00 0F 01 02 03 04 0A"); // diode
    for (const char *name : lit)
        QVERIFY2(!h.shown(name), name);
    QVERIFY(h.shown("LCDDI"));
    QVERIFY(!h.shown("PBar2"));
    h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
    QVERIFY(!h.shown("LCDDI"));
    QVERIFY(h.shown("PBar2"));
}

void TestTfcommReadout::relStateFromTheWindow() {
    Harness h;
    const auto pressRel = [&] {
        h.w->BtSetMouseDown(control<BevelPanel>(*h.w, "BtRel"));
        h.w->BtSetMouseUp(control<BevelPanel>(*h.w, "BtRel"));
    };
    pressRel();
    pressRel();
    QCOMPARE(h.w->RelState(), 2);
    h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
    QCOMPARE(h.w->AutoText(), QStringLiteral("MANU"));
    QCOMPARE(h.w->UnitText(), QStringLiteral("V"));
    QVERIFY(h.shown("LCDRel"));
    QVERIFY(h.shown("LCDBF"));
    pressRel();
    QCOMPARE(h.w->RelState(), 0);
    h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
    QCOMPARE(h.w->AutoText(), QStringLiteral("AUTO"));
    QVERIFY(!h.shown("LCDRel"));
    QVERIFY(!h.shown("LCDBF"));
}

// Both kinds of frame report the link alive: the indicator turns green and the watchdog
// counts again from 0, so the tick that was due to show "no link" does not.
void TestTfcommReadout::linkAliveOnEveryFrame() {
    Harness h;
    TFCOMM &w = *h.w;
    control<QTimer>(w, "ConTimer")->stop(); // the test drives the watchdog
    while (w.LinkIdleTicks() != 0)
        w.ConTimerTimer();
    const std::function<void()> frames[] = {[&] { h.frame("89 70 00 00 00 0F 01 02 03 04 0A"); },
                                            [&] { h.secondary("00000"); }};
    for (const auto &frame : frames) {
        w.ConTimerTimer();
        w.ConTimerTimer();
        QCOMPARE(w.LinkIdleTicks(), 2);
        QVERIFY(!h.linkAlive());
        frame();
        QVERIFY(h.linkAlive());
        QCOMPARE(w.LinkIdleTicks(), 0);
        w.ConTimerTimer();
        w.ConTimerTimer();
        QVERIFY(h.linkAlive());
        w.ConTimerTimer();
        QVERIFY(!h.linkAlive());
    }
}

void TestTfcommReadout::barGraph_data() {
    QTest::addColumn<QString>("mlt");
    QTest::addColumn<QString>("sign");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << "00000"
                           << "+" << 1;
    QTest::newRow("negative 20") << "14107"
                                 << "-" << 21;
    QTest::newRow("full flag") << "3F187"
                               << "-" << 41;
    QTest::newRow("top bits ignored") << "C5000"
                                      << "+" << 6;
    QTest::newRow("short") << "1"
                           << "+" << 17;
}

void TestTfcommReadout::barGraph() {
    QFETCH(QString, mlt);
    Harness h;
    h.secondary(qPrintable(mlt));
    QTEST(control<QLabel>(*h.w, "MltSN")->text(), "sign");
    QTEST(control<QProgressBar>(*h.w, "PBar2")->value(), "value");
}

void TestTfcommReadout::barBeyondItsRangeShowsFull() {
    Harness h;
    h.secondary("04000");
    QCOMPARE(control<QProgressBar>(*h.w, "PBar2")->value(), 5);
    h.secondary("3F000"); // 64: past the bar's end, shown full rather than left at 5
    QCOMPARE(control<QProgressBar>(*h.w, "PBar2")->value(), 41);
    QCOMPARE(control<QLabel>(*h.w, "MltSN")->text(), QStringLiteral("+"));
}

void TestTfcommReadout::receivedBytesReachThePanel() {
    Harness h;
    const QByteArray chunk = bytes("89 70 00 00 08 0F 01 02 03 04 0A 8A 00 37 00 10 14 0A");
    h.receive(chunk);
    QCOMPARE(h.w->ValueText(), QStringLiteral(".0L"));
    QCOMPARE(h.caption("LcdDc"), QStringLiteral("@"));
    QCOMPARE(control<QLabel>(*h.w, "MltSN")->text(), QStringLiteral("-"));
    QCOMPARE(control<QProgressBar>(*h.w, "PBar2")->value(), 21);
    QVERIFY(h.errors.isEmpty());
}

QTEST_MAIN(TestTfcommReadout)
#include "tst_tfcommreadout.moc"
#include "windowcontrols.h"
