#include <QTest>

#include "alarmlimits.h"
#include "extremes.h"

#include <stdexcept>

namespace {

struct ExtremesStep {
    float nval;
    const char *value;
    const char *unit;
    int range;
    bool reset;
    const char *maxText;
    const char *minText;
    float maxExtreme;
    float minExtreme;
    const char *acDc = "DC";
    bool fiveDigit = false;
};

} // namespace

Q_DECLARE_METATYPE(ExtremesStep)

class TestAlarmExtremes : public QObject {
    Q_OBJECT

private slots:
    void limitFromText_data();
    void limitFromText();
    void invalidTextKeepsLimit_data();
    void invalidTextKeepsLimit();
    void typingStepByStep();
    void halfToEvenNeverDrifts();
    void startLimits();
    void alarm_data();
    void alarm();
    void extremes_data();
    void extremes();
};

void TestAlarmExtremes::limitFromText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("typed");
    QTest::addColumn<float>("halved");

    QTest::newRow("empty") << "" << 0 << 0.f;
    QTest::newRow("minus alone") << "-" << 0 << 0.f;
    QTest::newRow("plus alone") << "+" << 0 << 0.f;
    QTest::newRow("design text") << "8000" << 8000 << 4000.f;
    QTest::newRow("80000 profile") << "80000" << 80000 << 40000.f;
    QTest::newRow("-8000") << "-8000" << -8000 << -4000.f;
    QTest::newRow("7 rounds up to even") << "7" << 7 << 4.f;
    QTest::newRow("5 rounds down to even") << "5" << 5 << 2.f;
    QTest::newRow("-7") << "-7" << -7 << -4.f;
    QTest::newRow("-5") << "-5" << -5 << -2.f;
    QTest::newRow("-1 gives 0") << "-1" << -1 << 0.f;
    QTest::newRow("1 gives 0") << "1" << 1 << 0.f;
    QTest::newRow("8001") << "8001" << 8001 << 4000.f;
    QTest::newRow("6000") << "6000" << 6000 << 3000.f;
    QTest::newRow("signed") << "+6" << 6 << 3.f;
    QTest::newRow("leading zeros") << "007" << 7 << 4.f;
    QTest::newRow("largest") << "2147483647" << 2147483647 << 1073741824.f;
    QTest::newRow("smallest") << "-2147483648" << qint32(-2147483647 - 1) << -1073741824.f;
}

void TestAlarmExtremes::limitFromText() {
    QFETCH(QString, text);
    QFETCH(qint32, typed);
    QFETCH(float, halved);
    AlarmLimits limits;
    limits.setMaxFromText(text);
    limits.setMinFromText(text);
    QCOMPARE(limits.typedMax(), typed);
    QCOMPARE(limits.maxLimit(), halved);
    QCOMPARE(limits.typedMin(), typed);
    QCOMPARE(limits.minLimit(), halved);
}

void TestAlarmExtremes::invalidTextKeepsLimit_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("two minus signs") << "--5";
    QTest::newRow("minus after a digit") << "5-";
    QTest::newRow("minus plus") << "-+";
    QTest::newRow("letters") << "abc";
    QTest::newRow("leading blank") << " 5";
    QTest::newRow("trailing blank") << "5 ";
    QTest::newRow("decimal point") << "1.5";
    QTest::newRow("hex") << "0x10";
    QTest::newRow("too large") << "99999999999";
}

void TestAlarmExtremes::invalidTextKeepsLimit() {
    QFETCH(QString, text);
    AlarmLimits limits;
    limits.setMaxFromText(QStringLiteral("6000"));
    limits.setMinFromText(QStringLiteral("-3000"));
    try {
        limits.setMaxFromText(text);
        QFAIL("no error");
    } catch (const std::runtime_error &e) {
        QCOMPARE(QString::fromUtf8(e.what()),
                 QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, limits.setMinFromText(text));
    QCOMPARE(limits.typedMax(), 6000);
    QCOMPARE(limits.maxLimit(), 3000.f);
    QCOMPARE(limits.typedMin(), -3000);
    QCOMPARE(limits.minLimit(), -1500.f);
}

void TestAlarmExtremes::typingStepByStep() {
    // Each key is a change of the edit's text and sets the limit from it.
    const struct {
        const char *text;
        float halved;
    } steps[] = {{"-", 0.f}, {"-8", -4.f}, {"-80", -40.f}, {"-800", -400.f}, {"-8000", -4000.f}};
    AlarmLimits limits;
    for (const auto &step : steps) {
        limits.setMinFromText(QString::fromLatin1(step.text));
        QCOMPARE(limits.minLimit(), step.halved);
    }
    QCOMPARE(limits.typedMin(), -8000);
}

void TestAlarmExtremes::halfToEvenNeverDrifts() {
    // Within one of half the number; from an odd number always the even neighbour.
    for (qint32 n = -20001; n <= 20001; ++n) {
        const qint32 half = AlarmLimits::halfToEven(n);
        QVERIFY(std::abs(2 * half - n) <= 1);
        if (n % 2 != 0)
            QCOMPARE(half % 2, 0);
    }
}

void TestAlarmExtremes::startLimits() {
    const AlarmLimits limits;
    QCOMPARE(limits.maxLimit(), 8002.f);
    QCOMPARE(limits.minLimit(), -8002.f);
    QCOMPARE(limits.typedMax(), 16004);
    QCOMPARE(limits.typedMin(), -16004);
}

void TestAlarmExtremes::alarm_data() {
    QTest::addColumn<QString>("maxText"); // "start": the limits before any edit
    QTest::addColumn<QString>("minText");
    QTest::addColumn<bool>("maxOn");
    QTest::addColumn<bool>("minOn");
    QTest::addColumn<float>("reading");
    QTest::addColumn<bool>("out");

    QTest::newRow("at the upper limit") << "8000"
                                        << "-8000" << true << false << 8000.f << false;
    QTest::newRow("above the upper limit") << "8000"
                                           << "-8000" << true << false << 8001.f << true;
    QTest::newRow("at the lower limit") << "8000"
                                        << "-8000" << false << true << -8000.f << false;
    QTest::newRow("below the lower limit") << "8000"
                                           << "-8000" << false << true << -8001.f << true;
    QTest::newRow("upper unticked, overload") << "8000"
                                              << "-8000" << false << true << 8001.f << false;
    QTest::newRow("lower unticked, negative overload")
        << "8000"
        << "-8000" << true << false << -8001.f << false;
    QTest::newRow("neither ticked") << "0"
                                    << "0" << false << false << 99999.f << false;
    // The typed number is the limit, not half of it.
    QTest::newRow("6000 typed, reading 3001") << "6000"
                                              << "-8000" << true << false << 3001.f << false;
    QTest::newRow("6000 typed, reading 6000") << "6000"
                                              << "-8000" << true << false << 6000.f << false;
    QTest::newRow("6000 typed, reading 6001") << "6000"
                                              << "-8000" << true << false << 6001.f << true;
    QTest::newRow("odd limit: 7 typed, reading 7") << "7"
                                                   << "-8000" << true << false << 7.f << false;
    QTest::newRow("odd limit: 7 typed, reading 8") << "7"
                                                   << "-8000" << true << false << 8.f << true;
    QTest::newRow("start limits, four-digit overload")
        << "start"
        << "start" << true << true << 8001.f << false;
    QTest::newRow("start limits, beyond twice 8002") << "start"
                                                     << "start" << true << true << 16005.f << true;
    QTest::newRow("minus alone is 0") << "8000"
                                      << "-" << false << true << -1.f << true;
}

void TestAlarmExtremes::alarm() {
    QFETCH(QString, maxText);
    QFETCH(QString, minText);
    QFETCH(bool, maxOn);
    QFETCH(bool, minOn);
    QFETCH(float, reading);
    AlarmLimits limits;
    if (maxText != u"start")
        limits.setMaxFromText(maxText);
    if (minText != u"start")
        limits.setMinFromText(minText);
    QTEST(limits.isOutOfLimits(reading, maxOn, minOn), "out");
}

void TestAlarmExtremes::extremes_data() {
    QTest::addColumn<QList<ExtremesStep>>("steps");

    QTest::newRow("first reading resets, the next sets both") << QList<ExtremesStep>{
        {1234.f, "1.234", "V", 0, true, "1.234", "1.234", -8001.f, 8001.f},
        {1300.f, "1.300", "V", 0, false, "1.300", "1.300", 1300.f, 1300.f},
        {1100.f, "1.100", "V", 0, false, "1.300", "1.100", 1300.f, 1100.f},
        {1200.f, "1.200", "V", 0, false, "1.300", "1.100", 1300.f, 1100.f},
    };
    // The texts differ only to tell which of two equal readings was kept.
    QTest::newRow("equal readings: the later text") << QList<ExtremesStep>{
        {5.f, "first", "V", 0, true, "first", "first", -8001.f, 8001.f},
        {5.f, "second", "V", 0, false, "second", "second", 5.f, 5.f},
        {5.f, "third", "V", 0, false, "third", "third", 5.f, 5.f},
    };
    QTest::newRow("unit change resets to the first reading in the new unit") << QList<ExtremesStep>{
        {1234.f, "1.234", "V", 0, true, "1.234", "1.234", -8001.f, 8001.f},
        {2000.f, "2.000", "V", 0, false, "2.000", "2.000", 2000.f, 2000.f},
        {-500.f, "-0.500", "V", 0, false, "2.000", "-0.500", 2000.f, -500.f},
        {4567.f, "456.7", "mV", 0, true, "456.7", "456.7", -8001.f, 8001.f},
        {4000.f, "400.0", "mV", 0, false, "400.0", "400.0", 4000.f, 4000.f},
    };
    QTest::newRow("range change in the same unit resets") << QList<ExtremesStep>{
        {1234.f, "1.234", "V", 0, true, "1.234", "1.234", -8001.f, 8001.f},
        {1235.f, "1.235", "V", 0, false, "1.235", "1.235", 1235.f, 1235.f},
        {123.f, "01.23", "V", 1, true, "01.23", "01.23", -8001.f, 8001.f},
        {124.f, "01.24", "V", 1, false, "01.24", "01.24", 124.f, 124.f},
        {1236.f, "1.236", "V", 0, true, "1.236", "1.236", -8001.f, 8001.f},
    };
    // A five-digit meter reads beyond the sentinels: the first reading still sets both.
    QTest::newRow("five-digit readings") << QList<ExtremesStep>{
        {20000.f, "20.000", "V", 0, true, "20.000", "20.000", -8001.f, 8001.f},
        {30000.f, "30.000", "V", 0, false, "30.000", "30.000", 30000.f, 30000.f},
        {10000.f, "10.000", "V", 0, false, "30.000", "10.000", 30000.f, 10000.f},
        {-20000.f, "-20.000", "V", 0, false, "30.000", "-20.000", 30000.f, -20000.f},
        {-9000.f, "-9.000", "mV", 0, true, "-9.000", "-9.000", -8001.f, 8001.f},
        {-9500.f, "-9.500", "mV", 0, false, "-9.500", "-9.500", -9500.f, -9500.f},
    };
    // Same unit and range code, other decimal point: 1.300 V AC is 1300 counts like 13.00 V DC.
    QTest::newRow("DC to AC volts resets") << QList<ExtremesStep>{
        {1200.f, "12.00", "V", 1, true, "12.00", "12.00", -8001.f, 8001.f},
        {1250.f, "12.50", "V", 1, false, "12.50", "12.50", 1250.f, 1250.f},
        {1300.f, "1.300", "V", 1, true, "1.300", "1.300", -8001.f, 8001.f, "AC"},
        {1100.f, "1.100", "V", 1, false, "1.100", "1.100", 1100.f, 1100.f, "AC"},
    };
    QTest::newRow("four to five digits and back resets") << QList<ExtremesStep>{
        {1234.f, "1.234", "V", 0, true, "1.234", "1.234", -8001.f, 8001.f},
        {1240.f, "1.240", "V", 0, false, "1.240", "1.240", 1240.f, 1240.f},
        {12345.f, "1.2345", "V", 0, true, "1.2345", "1.2345", -8001.f, 8001.f, "DC", true},
        {12300.f, "1.2300", "V", 0, false, "1.2300", "1.2300", 12300.f, 12300.f, "DC", true},
        {1250.f, "1.250", "V", 0, true, "1.250", "1.250", -8001.f, 8001.f},
    };
    QTest::newRow("overloads beyond the sentinels") << QList<ExtremesStep>{
        {0.f, "0.000", "V", 0, true, "0.000", "0.000", -8001.f, 8001.f},
        {8001.f, "0.L", "V", 0, false, "0.L", "0.L", 8001.f, 8001.f},
        {-8001.f, "-0.L", "V", 0, false, "0.L", "-0.L", 8001.f, -8001.f},
    };
}

void TestAlarmExtremes::extremes() {
    QFETCH(QList<ExtremesStep>, steps);
    Extremes e;
    QCOMPARE(e.LastUnitText, QStringLiteral("113"));
    QCOMPARE(e.LastRangeCode, 0);
    for (int i = 0; i < steps.size(); ++i) {
        const ExtremesStep &s = steps.at(i);
        const QByteArray at = QByteArray::number(i);
        QVERIFY2(e.update(s.nval, QLatin1String(s.value), QLatin1String(s.unit), s.range,
                          QLatin1String(s.acDc), s.fiveDigit) == s.reset,
                 at);
        QVERIFY2(e.MaxValueText == QLatin1String(s.maxText), at);
        QVERIFY2(e.MinValueText == QLatin1String(s.minText), at);
        QVERIFY2(e.MaxExtreme == s.maxExtreme, at);
        QVERIFY2(e.MinExtreme == s.minExtreme, at);
        QVERIFY2(e.LastUnitText == QLatin1String(s.unit), at);
        QVERIFY2(e.LastRangeCode == s.range, at);
    }
}

QTEST_GUILESS_MAIN(TestAlarmExtremes)
#include "tst_alarmextremes.moc"
