// The analog scale, the alarm limits and the extremes as every display frame moves them
// through the window.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "graphchart.h"
#include "recordtable.h"
#include "scaleview.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A display frame: the function byte, the range byte, the sign and overload byte and four
/// digits (the leading one hidden).
QString frame(int function, int range, int flags, const char *digits) {
    QString hex = QStringLiteral("89%1%2%3%4")
                      .arg(function, 2, 16, QLatin1Char('0'))
                      .arg(range, 2, 16, QLatin1Char('0'))
                      .arg(QStringLiteral("00"))
                      .arg(flags, 2, 16, QLatin1Char('0'));
    hex += QStringLiteral("0F");
    for (const char *d = digits; *d; ++d)
        hex += QStringLiteral("0") + QLatin1Char(*d);
    return (hex + QStringLiteral("0A")).toUpper();
}

constexpr int kVolts = 0x70;
constexpr int kAcVolts = 0x78;
constexpr int kMillivolts = 0x68;
constexpr int kSecondRange = 0x08;
constexpr int kNegative = 0x10;
constexpr int kOverload = 0x08;
constexpr int kFiveDigits = 0x04;

struct Harness : WindowHarness {
    explicit Harness(ModelFlags flags = ModelFlag::QM30) : WindowHarness({.flags = flags}) {}

    void reading(const QString &hex) { receive(QByteArray::fromHex(hex.toLatin1())); }
    void volts(const char *digits, int flags = 0) { reading(frame(kVolts, 0, flags, digits)); }
    /// Through the receive handler, as the serial driver hands bytes over.
    void receive(const QByteArray &bytes) {
        w->QM34RData(w->COMM2(), bytes.constData(), int(bytes.size()));
    }
    void typeLimit(QLineEdit *edit, QCheckBox *box, const QString &text, bool on) {
        edit->setText(text);
        if (box->isChecked() != on)
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    }
    QColor bandColour(int step) const {
        const QPoint p =
            control<ScaleView>(*w, "KD1")->scaleGeometry().bandPoint(step) + QPoint(1, 1);
        return control<ScaleView>(*w, "KD1")->picture().pixelColor(p);
    }
};

} // namespace

class TestScaleAlarm : public QObject {
    Q_OBJECT

private slots:
    // The needle rests at the right end until the first reading, unless the profile wrote a
    // limit text at start: that change redraws the scale, which takes the needle away.
    void startNeedle_data() {
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("needleShown");
        QTest::addColumn<float>("maxLimit");
        QTest::newRow("QM30") << int(ModelFlag::QM30) << true << 8002.0f;
        QTest::newRow("QM40") << int(ModelFlag::QM40) << false << 40000.0f;
    }
    void startNeedle() {
        QFETCH(int, flags);
        QFETCH(bool, needleShown);
        QFETCH(float, maxLimit);
        Harness h{ModelFlags(flags)};
        ScaleView &scale = *control<ScaleView>(*h.w, "KD1");
        QCOMPARE(scale.parentWidget(), control<QFrame>(*h.w, "KD"));
        QCOMPARE(scale.geometry(), QRect(2, 2, 314, 133));
        QCOMPARE(scale.needleShown(), needleShown);
        QCOMPARE(h.w->MaxLimit(), maxLimit);
        const ScaleGeometry::Needle end = scale.scaleGeometry().needle(800);
        QCOMPARE(scale.NeedleLine,
                 (std::array<int, 4>{end.tip.x(), end.tip.y(), end.foot.x(), end.foot.y()}));
        // The first reading brings it to its place.
        h.volts("0000");
        const ScaleGeometry::Needle centre = scale.scaleGeometry().needle(400);
        QVERIFY(scale.needleShown());
        QCOMPARE(scale.NeedleLine[0], centre.tip.x());
        QCOMPARE(scale.NeedleLine[1], centre.tip.y());
        QVERIFY(h.errors.isEmpty());
    }

    // The band turns red beyond an enabled limit, from the number typed; a limit change
    // redraws it at once and takes the needle away until the next reading.
    void bandFollowsLimitsAndBoxes() {
        Harness h;
        h.volts("1234");
        QCOMPARE(h.bandColour(750), QColor(Qt::white));
        h.typeLimit(control<QLineEdit>(*h.w, "Setmax"), control<QCheckBox>(*h.w, "SetMaxB"),
                    QStringLiteral("6000"), true);
        QCOMPARE(h.w->MaxLimit(), 3000.0f);
        QVERIFY(!control<ScaleView>(*h.w, "KD1")->needleShown());
        // (Neighbouring band steps overlap on screen; the steps are told apart where the
        // geometry's own tests check them one by one.)
        QCOMPARE(h.bandColour(680), QColor(Qt::white));
        QCOMPARE(h.bandColour(720), QColor(Qt::red));
        QCOMPARE(h.bandColour(800), QColor(Qt::red));
        h.typeLimit(control<QLineEdit>(*h.w, "SetMin"), control<QCheckBox>(*h.w, "SetMinB"),
                    QStringLiteral("-2000"), true);
        QCOMPARE(h.bandColour(280), QColor(Qt::red));
        QCOMPARE(h.bandColour(320), QColor(Qt::white));
        h.typeLimit(control<QLineEdit>(*h.w, "Setmax"), control<QCheckBox>(*h.w, "SetMaxB"),
                    QStringLiteral("6000"), false);
        QCOMPARE(h.bandColour(750), QColor(Qt::white));
        QCOMPARE(h.bandColour(250), QColor(Qt::red));
        QVERIFY(h.errors.isEmpty());
    }

    // The alarm compares the reading with the typed number: at the number is within, one
    // count beyond sounds and shows the sign, which goes at the first reading within. An
    // unticked box never alarms, overloads included.
    void alarm_data() {
        QTest::addColumn<bool>("upper");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("at the upper limit") << true << true << "1000"
                                            << "1000" << 0 << false;
        QTest::newRow("above it") << true << true << "1000"
                                  << "1001" << 0 << true;
        QTest::newRow("half of it") << true << true << "1000"
                                    << "0600" << 0 << false;
        QTest::newRow("overload, ticked") << true << true << "8000"
                                          << "0000" << kOverload << true;
        QTest::newRow("overload, unticked") << true << false << "1000"
                                            << "0000" << kOverload << false;
        QTest::newRow("at the lower limit") << false << true << "-1000"
                                            << "1000" << kNegative << false;
        QTest::newRow("below it") << false << true << "-1000"
                                  << "1001" << kNegative << true;
        QTest::newRow("below, unticked") << false << false << "-1000"
                                         << "7999" << kNegative << false;
    }
    void alarm() {
        QFETCH(bool, upper);
        QFETCH(bool, ticked);
        QFETCH(QString, typed);
        QFETCH(QString, digits);
        QFETCH(int, flags);
        QFETCH(bool, alarm);
        Harness h;
        h.w->show();
        if (upper)
            h.typeLimit(control<QLineEdit>(*h.w, "Setmax"), control<QCheckBox>(*h.w, "SetMaxB"),
                        typed, ticked);
        else
            h.typeLimit(control<QLineEdit>(*h.w, "SetMin"), control<QCheckBox>(*h.w, "SetMinB"),
                        typed, ticked);
        for (int i = 0; i < 3; ++i)
            h.volts(qPrintable(digits), flags);
        QCOMPARE(h.beeps, alarm ? 3 : 0);
        QCOMPARE(control<QLabel>(*h.w, "oltext")->isVisible(), alarm);
        if (alarm) {
            QCOMPARE(control<QLabel>(*h.w, "oltext")->text(), QStringLiteral("OL !!"));
            QCOMPARE(control<QLabel>(*h.w, "oltext")->geometry(), QRect(109, 72, 113, 49));
        }
        h.volts("0000");
        QVERIFY(!control<QLabel>(*h.w, "oltext")->isVisible());
        QCOMPARE(h.beeps, alarm ? 3 : 0);
    }

    // Of equal extremes the latest text shows; a change of unit or range starts the extremes
    // and the graph afresh with that reading in both labels.
    void extremes() {
        Harness h;
        GraphChart &graph = *control<GraphChart>(*h.w, "Chtshow");
        h.volts("1000");
        QCOMPARE(graph.pointCount(), 2); // the sample point and the reading
        h.volts("2000");
        h.volts("0500");
        h.volts("2000");
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), QStringLiteral("02.000"));
        QCOMPARE(control<QLabel>(*h.w, "MinText")->text(), QStringLiteral("00.500"));
        QCOMPARE(h.w->Extreme().MaxExtreme, 2000.0f);
        QCOMPARE(graph.pointCount(), 5);

        h.reading(frame(kMillivolts, 0, 0, "0123"));
        QCOMPARE(graph.pointCount(), 2);
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), QStringLiteral("001.23"));
        QCOMPARE(control<QLabel>(*h.w, "MinText")->text(), QStringLiteral("001.23"));
        QCOMPARE(control<QLabel>(*h.w, "MaxTextU")->text(), QStringLiteral("mV"));
        QCOMPARE(control<QLabel>(*h.w, "MinTextU")->text(), QStringLiteral("mV"));
        QCOMPARE(h.w->Extreme().MaxExtreme, -8001.0f);
        h.reading(frame(kMillivolts, 0, kNegative, "0042"));
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), QStringLiteral("-000.42"));
        QCOMPARE(control<QLabel>(*h.w, "MinText")->text(), QStringLiteral("-000.42"));
        h.reading(frame(kMillivolts, 0x08, 0, "0042")); // the next range
        QCOMPARE(graph.pointCount(), 2);
        QCOMPARE(h.w->Extreme().LastRangeCode, 1);
        QVERIFY(h.errors.isEmpty());
    }

    // Readings whose decimal points differ are never compared nor plotted together: AC
    // volts after DC volts in the same range, and five digits after four, start the
    // extremes and the graph afresh.
    void extremesStartAfreshOnAnotherScale_data() {
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("shown");
        QTest::newRow("AC volts after DC volts")
            << frame(kAcVolts, kSecondRange, 0, "1300") << "01.300";
        QTest::newRow("five digits after four")
            << frame(kVolts, kSecondRange, kFiveDigits, "1300") << "01.300";
    }
    void extremesStartAfreshOnAnotherScale() {
        QFETCH(QString, next);
        QFETCH(QString, shown);
        Harness h;
        for (const char *digits : {"1200", "1250", "1100"})
            h.reading(frame(kVolts, kSecondRange, 0, digits));
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), QStringLiteral("012.50"));
        QCOMPARE(control<GraphChart>(*h.w, "Chtshow")->pointCount(), 4);
        h.reading(next);
        QCOMPARE(control<GraphChart>(*h.w, "Chtshow")->pointCount(), 2);
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), shown);
        QCOMPARE(control<QLabel>(*h.w, "MinText")->text(), shown);
        QVERIFY(h.errors.isEmpty());
    }

    // Line damage between good frames changes nothing: no reading, point, extreme, record
    // or alarm comes of it, nothing is reset and the link is not marked alive by it; the
    // frame log shows it as line noise.
    void lineDamageChangesNothing_data() {
        QTest::addColumn<QByteArray>("damage");
        QTest::newRow("display frame of 3 bytes") << QByteArray::fromHex("89700A");
        QTest::newRow("display frame of 4 bytes") << QByteArray::fromHex("8970000A");
        QTest::newRow("display frame of 12 bytes")
            << QByteArray::fromHex("89700000000F01020304050A");
        QTest::newRow("secondary frame of 5 bytes") << QByteArray::fromHex("8A001F000A");
        QTest::newRow("junk ending in a frame's opener") << QByteArray::fromHex("5589");
    }
    void lineDamageChangesNothing() {
        QFETCH(QByteArray, damage);
        Harness h;
        TFCOMM &w = *h.w;
        h.typeLimit(control<QLineEdit>(w, "Setmax"), control<QCheckBox>(w, "SetMaxB"),
                    QStringLiteral("1000"), true);
        for (const char *digits : {"0500", "0900", "0700"})
            h.receive(QByteArray::fromHex(frame(kVolts, 0, 0, digits).toLatin1()));
        control<QTimer>(w, "ConTimer")->stop();
        w.ConTimerTimer();
        const auto state = [&] {
            return QStringList{QString::number(control<GraphChart>(w, "Chtshow")->pointCount()),
                               control<QLabel>(w, "MaxText")->text(),
                               control<QLabel>(w, "MinText")->text(),
                               QString::number(w.recordTable()->count()),
                               w.ValueText(),
                               QString::number(w.LinkIdleTicks()),
                               QString::number(h.beeps),
                               QString::number(control<QProgressBar>(w, "PBar2")->value()),
                               h.caption("LcdDb")};
        };
        const QStringList before = state();
        h.receive(damage);
        QCOMPARE(state(), before);
        // A piece without its line feed is told once the next answer has come.
        h.receive(QByteArray::fromHex("8A000000000F0A"));
        QCOMPARE(control<QPlainTextEdit>(w, "Memo1")->toPlainText().split(u'\n').value(4),
                 QString::fromLatin1(damage.toHex().toUpper()) + QLatin1String(TFCOMM::kNoiseMark));
        QVERIFY(h.errors.isEmpty());
    }

    // A reading that recording refuses or fails on still reaches the LCD, the scale, the
    // extremes and the graph.
    void unrecordedReadingsStillShow_data() {
        QTest::addColumn<bool>("tableClosed");
        QTest::newRow("waiting for the interval") << false;
        QTest::newRow("no table") << true;
    }
    void unrecordedReadingsStillShow() {
        QFETCH(bool, tableClosed);
        Harness h;
        control<QCheckBox>(*h.w, "RecordSI")->setChecked(true);
        h.volts("0100");
        if (tableClosed)
            h.w->recordTable()->close();
        const qint64 records = tableClosed ? 0 : h.w->recordTable()->count();
        const qint64 points = control<GraphChart>(*h.w, "Chtshow")->pointCount();
        const std::array<int, 4> needleBefore = control<ScaleView>(*h.w, "KD1")->NeedleLine;
        const QString hex = frame(kVolts, 0, 0, "4000");
        h.w->QM34RData(h.w->COMM2(), QByteArray::fromHex(hex.toLatin1()).constData(),
                       hex.size() / 2);
        QCOMPARE(h.caption("LcdDa"), QStringLiteral("4"));
        QVERIFY(control<ScaleView>(*h.w, "KD1")->NeedleLine != needleBefore);
        QCOMPARE(control<QLabel>(*h.w, "MaxText")->text(), QStringLiteral("04.000"));
        QCOMPARE(control<GraphChart>(*h.w, "Chtshow")->pointCount(), points + 1);
        if (tableClosed) {
            QCOMPARE(h.errors.size(), 1);
        } else {
            QCOMPARE(h.w->recordTable()->count(), records);
            QVERIFY(h.errors.isEmpty());
        }
    }
};

QTEST_MAIN(TestScaleAlarm)
#include "tst_scalealarm.moc"
#include "windowcontrols.h"
