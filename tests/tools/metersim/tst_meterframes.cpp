// What the emulator sends for a given state and how its keys change it, checked byte by
// byte against the frame layout and read back by a decoder written here from the layout
// tables, independently of the emulator's encoder.

#include "scratchfile.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

QByteArray hex(const char *text) {
    return QByteArray::fromHex(text);
}

int byteAt(const QByteArray &frame, int number) {
    return static_cast<unsigned char>(frame.at(number - 1));
}

/// Reads a main display frame back into what the display shows, e.g. "1.234 V DC AUTO".
QString shownReading(const QByteArray &frame) {
    if (frame.size() != 11 || byteAt(frame, 1) != 0x89 || byteAt(frame, 11) != 0x0A)
        return QStringLiteral("not a display frame");
    const int b2 = byteAt(frame, 2), b3 = byteAt(frame, 3), b4 = byteAt(frame, 4),
              b5 = byteAt(frame, 5);
    const int function = (b2 >> 3) & 0x0F;
    const int sub = b2 & 0x01;
    const bool manual = b3 & 0x40;
    const int range = (b3 >> 3) & 0x07;
    const int mode = b3 & 0x07;
    const bool five = b5 & 0x04;

    bool point[5] = {};
    QString prefix, unit, acdc, extra;
    bool continuity = false;
    bool d0Shown = (byteAt(frame, 6) & 0x0F) != 0x0F;
    auto acOrDc = [&] { acdc = sub ? QStringLiteral("AC") : QStringLiteral("DC"); };
    if (mode == 4) {
        unit = QStringLiteral("Hz");
        const int p[] = {-1, 2, 0, 1, 2, 0, -1, -1};
        if (p[range] >= 0)
            point[p[range]] = true;
        prefix = range >= 2 && range <= 4 ? QStringLiteral("k")
                 : range == 5             ? QStringLiteral("M")
                                          : QString();
    } else if (mode == 5) {
        point[2] = true;
        d0Shown = false;
    } else {
        switch (function) {
        case 5:
            acOrDc();
            unit = QStringLiteral("A");
            point[range == 0 ? 1 : 2] = range <= 1;
            break;
        case 6:
            acOrDc();
            prefix = QStringLiteral("m");
            unit = QStringLiteral("A");
            point[range == 0 ? 2 : 3] = range <= 1;
            break;
        case 11:
            unit = QStringLiteral(")V");
            point[1] = true;
            break;
        case 12:
            if (sub == 0) {
                const int p[] = {3, 1, 2, 3, 1, 2, 2, -1};
                if (p[range] >= 0)
                    point[p[range]] = true;
                prefix = range >= 1 && range <= 3   ? QStringLiteral("k")
                         : range == 4 || range == 5 ? QStringLiteral("M")
                         : range == 6               ? QStringLiteral("n")
                                                    : QString();
                unit = range == 6 ? QStringLiteral("S") : QStringLiteral("ohm");
                continuity = (b4 & 0x04) && !(b4 & 0x40);
            } else {
                const int p[] = {1, 2, 3, 1, 2, 3, -1, -1};
                if (p[range] >= 0)
                    point[p[range]] = true;
                prefix = range <= 2   ? QStringLiteral("n")
                         : range <= 5 ? QStringLiteral("u")
                                      : QString();
                unit = QStringLiteral("F");
            }
            break;
        case 13:
            acOrDc();
            prefix = QStringLiteral("m");
            unit = QStringLiteral("V");
            point[range == 0 ? 2 : 3] = range <= 1;
            break;
        case 14:
            acdc = QStringLiteral("DC");
            unit = QStringLiteral("V");
            if (range <= 3)
                point[range + 1] = true;
            break;
        case 15: {
            acdc = QStringLiteral("AC");
            unit = QStringLiteral("V");
            const int p[] = {3, 1, 2, 3, 4, -1, -1, -1};
            if (p[range] >= 0)
                point[p[range]] = true;
            if (range == 0)
                prefix = QStringLiteral("m");
            break;
        }
        default:
            break;
        }
        if (five)
            for (int i = 0; i < 4; ++i)
                point[i] = point[i + 1];
        extra += manual ? QStringLiteral(" MANU") : QStringLiteral(" AUTO");
        if (continuity)
            extra += QStringLiteral(" CONT");
    }
    if ((b3 & 0x04) && !five)
        prefix.clear(), unit = QStringLiteral("%");

    QString value = (b5 & 0x10) ? QStringLiteral("-") : QString();
    if (b5 & 0x08) {
        value += QStringLiteral("OL");
    } else {
        for (int i = 0; i < 5; ++i) {
            const int nibble = byteAt(frame, 6 + i) & 0x0F;
            if (i > 0 || d0Shown)
                value += QString::number(nibble, 16).toUpper();
            if (i < 4 && point[i])
                value += QLatin1Char('.');
        }
    }
    QString text = value + QLatin1Char(' ') + prefix + unit;
    if (!acdc.isEmpty())
        text += QLatin1Char(' ') + acdc;
    text += extra;
    if (b4 & 0x40) {
        const char *stat[] = {"", " MAX", " MIN", " AVG"};
        text += QStringLiteral(" REC") + QLatin1String(stat[(b4 >> 3) & 0x03]);
    }
    if (b5 & 0x01)
        text += QStringLiteral(" HOLD");
    if (b5 & 0x20)
        text += QStringLiteral(" BAT");
    return text;
}

struct Secondary {
    bool valid = false;
    bool negative = false;
    bool full = false;
    int bar = -1;
};

Secondary readSecondary(const QByteArray &frame) {
    Secondary s;
    if (frame.size() != 7 || byteAt(frame, 1) != 0x8A || byteAt(frame, 7) != 0x0A ||
        frame.left(6).contains('\n'))
        return s;
    s.valid = true;
    s.negative = byteAt(frame, 5) & 0x10;
    s.full = byteAt(frame, 5) & 0x08;
    s.bar = byteAt(frame, 6) & 0x3F;
    return s;
}

} // namespace

class TestMeterFrames : public QObject {
    Q_OBJECT

private slots:
    void displayFrame_data();
    void displayFrame();
    void secondaryFrame_data();
    void secondaryFrame();
    void literalFramesAreSentAsWritten();
    void badStateLineKeepsTheState();
    void scriptStepsAndLoops();
    void scriptErrorsNameTheLine();
    void generatorRunsDcVoltsInRangeZero();

    void rangeKeySteps();
    void hzKeyCyclesModes();
    void holdFreezesTheReading();
    void relShowsTheDifference();
    void maxMinCyclesAndTracks();
    void selectorAndBuzzerKeys();

private:
    QByteArray displayAfterKey(SimProcess &sim, unsigned char key) {
        sim.sendByte(key);
        return sim.ask(0x89);
    }
};

void TestMeterFrames::displayFrame_data() {
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("shown");

    // Bytes worked out by hand from the layout: F << 3 | S; manual 0x40 | R << 3 | mode;
    // REC 0x40 | stat << 3 | 0x04; bat 0x20 | minus 0x10 | OL 0x08 | five 0x04 | HOLD 0x01.
    QTest::newRow("dc volts 1.234") << QByteArray("func=vdc range=0 value=1234")
                                    << hex("89700000000F010203040A") << "1.234 V DC AUTO";
    QTest::newRow("negative") << QByteArray("func=vdc range=0 value=-1234")
                              << hex("89700000100F010203040A") << "-1.234 V DC AUTO";
    QTest::newRow("minus zero") << QByteArray("value=-0") << hex("89700000100F000000000A")
                                << "-0.000 V DC AUTO";
    QTest::newRow("overload") << QByteArray("func=vdc ol") << hex("89700000080F000000000A")
                              << "OL V DC AUTO";
    QTest::newRow("negative overload")
        << QByteArray("value=-5 ol") << hex("89700000180F000000000A") << "-OL V DC AUTO";
    QTest::newRow("past full scale")
        << QByteArray("value=8001") << hex("89700000080F000000000A") << "OL V DC AUTO";
    QTest::newRow("full scale") << QByteArray("value=8000") << hex("89700000000F080000000A")
                                << "8.000 V DC AUTO";
    QTest::newRow("ac volts manual") << QByteArray("func=vac range=2 value=2300 manual")
                                     << hex("89785000000F020300000A") << "23.00 V AC MANU";
    QTest::newRow("ac millivolt range") << QByteArray("func=vac range=0 value=1234")
                                        << hex("89780000000F010203040A") << "123.4 mV AC AUTO";
    QTest::newRow("five digits") << QByteArray("func=vdc range=3 value=12345 five")
                                 << hex("897018000401020304050A") << "1234.5 V DC AUTO";
    QTest::newRow("ohms continuity") << QByteArray("func=ohm range=1 value=4700 cont")
                                     << hex("89600804000F040700000A") << "4.700 kohm AUTO CONT";
    QTest::newRow("megohms") << QByteArray("func=ohm range=5 value=1234")
                             << hex("89602800000F010203040A") << "12.34 Mohm AUTO";
    QTest::newRow("conductance") << QByteArray("func=ns value=1234")
                                 << hex("89603000000F010203040A") << "12.34 nS AUTO";
    QTest::newRow("capacitance uF") << QByteArray("func=cap range=4 value=1000")
                                    << hex("89612000000F010000000A") << "10.00 uF AUTO";
    QTest::newRow("diode") << QByteArray("func=diode value=600") << hex("89580000000F000600000A")
                           << "0.600 )V AUTO";
    QTest::newRow("millivolts ac") << QByteArray("func=mvac range=1 value=345")
                                   << hex("89690800000F000304050A") << "034.5 mV AC AUTO";
    QTest::newRow("amps dc") << QByteArray("func=adc value=1500") << hex("89280000000F010500000A")
                             << "1.500 A DC AUTO";
    QTest::newRow("milliamps ac") << QByteArray("func=maac range=1 value=300")
                                  << hex("89310800000F000300000A") << "030.0 mA AC AUTO";
    QTest::newRow("frequency") << QByteArray("func=hz range=2 value=50000")
                               << hex("897814000405000000000A") << "5.0000 kHz";
    QTest::newRow("frequency of dc volts") << QByteArray("func=vdc mode=hz range=1 value=5000")
                                           << hex("89700C000400050000000A") << "050.00 Hz";
    QTest::newRow("duty") << QByteArray("func=duty value=2500") << hex("89780500000F020500000A")
                          << "25.00 %";
    QTest::newRow("rec avg hold lowbat")
        << QByteArray("value=1 rec=avg hold lowbat") << hex("89700058210F000000010A")
        << "0.001 V DC AUTO REC AVG HOLD BAT";
    QTest::newRow("rec hides continuity")
        << QByteArray("func=ohm range=1 value=1 cont rec=min") << hex("89600850000F000000010A")
        << "0.001 kohm AUTO REC MIN";
}

void TestMeterFrames::displayFrame() {
    QFETCH(QByteArray, state);
    QFETCH(QByteArray, frame);
    QFETCH(QString, shown);

    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.command("state " + state);
    const QByteArray reply = sim.ask(0x89);
    QCOMPARE(reply.toHex(' '), frame.toHex(' '));
    QCOMPARE(shownReading(reply), shown);
    QCOMPARE(reply.indexOf('\n'), 10); // no line feed before the end
}

void TestMeterFrames::secondaryFrame_data() {
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<bool>("full");
    QTest::addColumn<int>("bar");

    // The bar is the reading's share of 40 divisions of full scale (8000 counts, 80000
    // with five digits, 10000 for duty).
    QTest::newRow("zero") << QByteArray("value=0") << false << false << 0;
    QTest::newRow("1.234 V") << QByteArray("value=1234") << false << false << 6;
    QTest::newRow("negative") << QByteArray("value=-1234") << true << false << 6;
    QTest::newRow("half scale") << QByteArray("value=4000") << false << false << 20;
    QTest::newRow("full scale") << QByteArray("value=8000") << false << false << 40;
    QTest::newRow("overload") << QByteArray("ol") << false << true << 40;
    QTest::newRow("negative overload") << QByteArray("value=-1 ol") << true << true << 40;
    QTest::newRow("five digits") << QByteArray("value=40000 five") << false << false << 20;
    QTest::newRow("duty") << QByteArray("func=duty value=5000") << false << false << 20;
    // A bar of 10 would be 0x0A and cut the frame: it must still arrive as one frame.
    QTest::newRow("bar of ten") << QByteArray("value=2000") << false << false << 10;
}

void TestMeterFrames::secondaryFrame() {
    QFETCH(QByteArray, state);
    QFETCH(bool, negative);
    QFETCH(bool, full);
    QFETCH(int, bar);

    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.command("state " + state);
    const QByteArray reply = sim.ask(0x8A);
    const Secondary s = readSecondary(reply);
    QVERIFY2(s.valid, reply.toHex(' ').constData());
    QCOMPARE(s.negative, negative);
    QCOMPARE(s.full, full);
    QCOMPARE(s.bar, bar);
}

void TestMeterFrames::literalFramesAreSentAsWritten() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.command("state hex=89780000000F000102030A mlt=8A00370012340A");
    QCOMPARE(sim.ask(0x89), hex("89780000000F000102030A"));
    QCOMPARE(sim.ask(0x8A), hex("8A00370012340A"));
}

void TestMeterFrames::badStateLineKeepsTheState() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    const QByteArray before = sim.ask(0x89);
    for (const char *bad : {"state func=xyz", "state range=9", "state value=12345",
                            "state func=vac cont", "state hex=8", "state frobnicate"})
        sim.command(bad);
    QCOMPARE(sim.ask(0x89), before);
    QCOMPARE(shownReading(before), QStringLiteral("1.234 V DC AUTO"));
}

void TestMeterFrames::scriptStepsAndLoops() {
    const ScratchFile script(
        QStringLiteral("script.txt"),
        "# two readings\n\nvalue=1111   # first\nfunc=ohm range=1 value=2222\n");
    QVERIFY(script.written());

    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--script"), script.path(), QStringLiteral("--step"),
                       QStringLiteral("150")}));
    // Sample the display for two full loops; both lines must show up, in order.
    QStringList seen;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 700) {
        const QString shown = shownReading(sim.ask(0x89));
        if (seen.isEmpty() || seen.last() != shown)
            seen << shown;
        QTest::qWait(20);
    }
    QVERIFY2(seen.size() >= 4, qPrintable(seen.join(QLatin1Char('|'))));
    QCOMPARE(seen.at(0), QStringLiteral("1.111 V DC AUTO"));
    QCOMPARE(seen.at(1), QStringLiteral("2.222 kohm AUTO"));
    QCOMPARE(seen.at(2), QStringLiteral("1.111 V DC AUTO"));

    // --fixed keeps the first line.
    SimProcess fixed;
    QVERIFY(fixed.start({QStringLiteral("--script"), script.path(), QStringLiteral("--step"),
                         QStringLiteral("50"), QStringLiteral("--fixed")}));
    QTest::qWait(120);
    QCOMPARE(shownReading(fixed.ask(0x89)), QStringLiteral("1.111 V DC AUTO"));
}

void TestMeterFrames::scriptErrorsNameTheLine() {
    const ScratchFile script(QStringLiteral("bad.txt"), "value=1\nfunc=ohm range=7\n");
    QVERIFY(script.written());

    QProcess process;
    QVERIFY(SimProcess::runToEnd(process, {QStringLiteral("--script"), script.path()}));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.contains(QStringLiteral("bad.txt:2:")), qPrintable(error));
}

void TestMeterFrames::generatorRunsDcVoltsInRangeZero() {
    SimProcess sim;
    QVERIFY(sim.start());
    QByteArray previous;
    bool changed = false;
    for (int i = 0; i < 5; ++i) {
        const QByteArray frame = sim.ask(0x89);
        QCOMPARE(frame.size(), 11);
        // DC volts, auto, range 0, four digits: x.xxx V.
        QCOMPARE(byteAt(frame, 2), 0x70);
        QCOMPARE(byteAt(frame, 3), 0x00);
        QCOMPARE(byteAt(frame, 5) & ~0x10, 0x00);
        QCOMPARE(byteAt(frame, 6), 0x0F);
        changed = changed || (!previous.isEmpty() && frame != previous);
        previous = frame;
        QTest::qWait(40);
    }
    QVERIFY(changed);
}

void TestMeterFrames::rangeKeySteps() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")})); // DC volts 1.234
    // Short presses: manual, next range each time, the same 1.234 V shown coarser.
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("01.23 V DC MANU"));
    QCOMPARE(byteAt(sim.ask(0x89), 3), 0x48);
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("001.2 V DC MANU"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("0001 V DC MANU"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("1.234 V DC MANU"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("01.23 V DC MANU"));
    // Long press: back to AUTO in the range that fits.
    const QByteArray automatic = displayAfterKey(sim, 0xA0);
    QCOMPARE(automatic, hex("89700000000F010203040A"));

    // Ohms at 4.7 kohm forced into the 800 ohm range overloads.
    sim.command("state func=ohm range=1 value=4700");
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA1)), QStringLiteral("04.70 kohm MANU"));
    for (int i = 0; i < 4; ++i) // ranges 3, 4, 5, then round to 0
        sim.sendByte(0xA1);
    QCOMPARE(shownReading(sim.ask(0x89)), QStringLiteral("OL ohm MANU"));
    QVERIFY(readSecondary(sim.ask(0x8A)).full);
}

void TestMeterFrames::hzKeyCyclesModes() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    const QByteArray frequency = displayAfterKey(sim, 0xA3);
    QCOMPARE(byteAt(frequency, 3) & 0x07, 4);
    QCOMPARE(byteAt(frequency, 5) & 0x04, 0x04); // else it would read as "%"
    QCOMPARE(shownReading(frequency), QStringLiteral("050.00 Hz"));
    const QByteArray duty = displayAfterKey(sim, 0xA2);
    QCOMPARE(byteAt(duty, 3) & 0x07, 5);
    QCOMPARE(shownReading(duty), QStringLiteral("50.00 %"));
    QCOMPARE(readSecondary(sim.ask(0x8A)).bar, 20);
    QCOMPARE(displayAfterKey(sim, 0xA3), hex("89700000000F010203040A"));
}

void TestMeterFrames::holdFreezesTheReading() {
    SimProcess sim;
    QVERIFY(sim.start()); // the sine wave moves by about 2 mV per millisecond near zero
    const QByteArray held = displayAfterKey(sim, 0xA5);
    QCOMPARE(byteAt(held, 5) & 0x01, 0x01);
    QTest::qWait(150);
    QCOMPARE(sim.ask(0x89), held);
    const QByteArray released = displayAfterKey(sim, 0xA4);
    QCOMPARE(byteAt(released, 5) & 0x01, 0x00);
    QVERIFY(released.mid(5, 5) != held.mid(5, 5));
}

void TestMeterFrames::relShowsTheDifference() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA7)), QStringLiteral("0.000 V DC AUTO"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA6)), QStringLiteral("1.234 V DC AUTO"));

    // Relative to a negative reading, zero reads positive and the sign flips around it.
    const ScratchFile rel(QStringLiteral("rel.txt"), "value=1000\nvalue=250\n");
    QVERIFY(rel.written());
    SimProcess script;
    QVERIFY(script.start(
        {QStringLiteral("--script"), rel.path(), QStringLiteral("--step"), QStringLiteral("300")}));
    script.sendByte(0xA7);
    QCOMPARE(shownReading(script.ask(0x89)), QStringLiteral("0.000 V DC AUTO"));
    QTest::qWait(320);
    QCOMPARE(shownReading(script.ask(0x89)), QStringLiteral("-0.750 V DC AUTO"));
    const Secondary s = readSecondary(script.ask(0x8A));
    QVERIFY(s.negative);
    QCOMPARE(s.bar, 4);
}

void TestMeterFrames::maxMinCyclesAndTracks() {
    const ScratchFile script(QStringLiteral("rec.txt"), "value=2000\nvalue=3000\nvalue=1000\n");
    QVERIFY(script.written());

    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--script"), script.path(), QStringLiteral("--step"),
                       QStringLiteral("100")}));
    const QByteArray first = displayAfterKey(sim, 0xA9);
    QCOMPARE(byteAt(first, 4), 0x48);
    QTest::qWait(330); // all three lines have been shown
    QCOMPARE(shownReading(sim.ask(0x89)), QStringLiteral("3.000 V DC AUTO REC MAX"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xA9)), QStringLiteral("1.000 V DC AUTO REC MIN"));
    const QByteArray average = displayAfterKey(sim, 0xA9);
    QCOMPARE(byteAt(average, 4), 0x58);
    const double avg = shownReading(average).section(QLatin1Char(' '), 0, 0).toDouble();
    QVERIFY2(avg > 1.0 && avg < 3.0, qPrintable(shownReading(average)));
    QCOMPARE(byteAt(displayAfterKey(sim, 0xA9), 4), 0x48); // AVG -> MAX
    QCOMPARE(byteAt(displayAfterKey(sim, 0xA8), 4), 0x00); // long press: REC off
}

void TestMeterFrames::selectorAndBuzzerKeys() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    // DC volts -> AC volts -> ohms -> capacitance -> DC volts, by the function byte.
    QCOMPARE(byteAt(displayAfterKey(sim, 0xAD), 2), 0x78);
    QCOMPARE(byteAt(displayAfterKey(sim, 0xAC), 2), 0x60);
    // The buzzer only works in ohms.
    QCOMPARE(shownReading(displayAfterKey(sim, 0xAB)), QStringLiteral("4.700 kohm AUTO CONT"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xAA)), QStringLiteral("4.700 kohm AUTO"));
    QCOMPARE(shownReading(displayAfterKey(sim, 0xAD)), QStringLiteral("100.0 nF AUTO"));
    const QByteArray capacitance = displayAfterKey(sim, 0xAB);
    QCOMPARE(byteAt(capacitance, 4), 0x00);
    QCOMPARE(byteAt(displayAfterKey(sim, 0xAD), 2), 0x70);
    // The state's own value comes back with its function.
    QCOMPARE(shownReading(sim.ask(0x89)), QStringLiteral("1.234 V DC AUTO"));
}

QTEST_GUILESS_MAIN(TestMeterFrames)
#include "tst_meterframes.moc"
