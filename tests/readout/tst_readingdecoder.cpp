#include <QTest>

#include "lcdpicture.h"
#include "readingdecoder.h"

namespace {

/// "89 70 00 ..." -> "897000..." as the receive handler writes it.
QString hex(const char *spaced) {
    return QString::fromLatin1(spaced).remove(QLatin1Char(' '));
}

QStringList sorted(QStringList names) {
    names.sort();
    return names;
}

// What the DC volts frame 89 70 00 00 00 0F 01 02 03 04 0A lights besides its digits.
const QStringList kDcVolts{"LcdDa",  "LcdDb",   "LcdDc", "LcdDd", "LcdP1",
                           "LcdDc1", "LcdAuto", "LcdV",  "PBar2"};

QStringList plus(QStringList base, const QStringList &more) {
    base << more;
    return base;
}

QStringList minus(QStringList base, const QStringList &less) {
    for (const QString &s : less)
        base.removeAll(s);
    return base;
}

} // namespace

class TestReadingDecoder : public QObject {
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void shortFrames_data();
    void shortFrames();
    void needleRounding_data();
    void needleRounding();
    void overloadFullScale_data();
    void overloadFullScale();
    void annunciators_data();
    void annunciators();
    void unknownFunctions_data();
    void unknownFunctions();
    void everyElementEveryFrame();
    void roundHalfEven_data();
    void roundHalfEven();
};

void TestReadingDecoder::reading_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("rel");
    QTest::addColumn<QStringList>("digits");
    QTest::addColumn<QString>("value");
    QTest::addColumn<float>("nval");
    QTest::addColumn<QString>("acdc");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("autoText");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("needle");
    QTest::addColumn<int>("span");
    QTest::addColumn<QStringList>("shown");

    const QStringList d1234{"0", "1", "2", "3", "4"};
    const QStringList over{"(", "", "0", "@", ""};

    QTest::newRow("dc volts, leading digit dark")
        << hex("89 70 00 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01.234" << 1234.0f << "DC"
        << "V"
        << "AUTO" << 0 << 462 << 80 << kDcVolts;
    QTest::newRow("negative") << hex("89 70 00 00 10 0F 01 02 03 04 0A") << 0 << d1234 << "-01.234"
                              << -1234.0f << "DC"
                              << "V"
                              << "AUTO" << 0 << 338 << 80 << plus(kDcVolts, {"LcdFH"});
    QTest::newRow("overload") << hex("89 70 00 00 08 0F 01 02 03 04 0A") << 0 << over << ".0L"
                              << 8001.0f << "DC"
                              << "V"
                              << "AUTO" << 0 << 800 << 80 << kDcVolts;
    QTest::newRow("negative overload")
        << hex("89 70 00 00 18 0F 01 02 03 04 0A") << 0 << over << "-.0L" << -8001.0f << "DC"
        << "V"
        << "AUTO" << 0 << 0 << 80 << plus(kDcVolts, {"LcdFH"});
    QTest::newRow("overload with a lit leading digit")
        << hex("89 70 00 00 08 00 01 02 03 04 0A") << 0 << over << ".0L" << 8001.0f << "DC"
        << "V"
        << "AUTO" << 0 << 800 << 80 << plus(kDcVolts, {"LCDD0"});
    QTest::newRow("microfarad") << hex("89 61 20 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "012.34"
                                << 1234.0f << ""
                                << "uF"
                                << "AUTO" << 4 << 462 << 80
                                << QStringList{"LcdDa",   "LcdDb", "LcdDc", "LcdDd", "LcdP2",
                                               "LcdAuto", "LCDu",  "LCDF",  "PBar2"};
    QTest::newRow("nanosiemens") << hex("89 60 30 00 00 0F 01 02 03 04 0A") << 0 << d1234
                                 << "012.34" << 1234.0f << ""
                                 << "nS"
                                 << "AUTO" << 6 << 462 << 80
                                 << QStringList{"LcdDa", "LcdDb",   "LcdDc", "LcdDd",
                                                "LcdP2", "LcdAuto", "LCDn",  "LcdS"};
    QTest::newRow("kilohertz, five digits")
        << hex("89 70 14 00 04 0F 01 02 03 04 0A") << 0 << d1234 << "0.1234" << 1234.0f << ""
        << "kHz"
        << "AUTO" << 2 << 406 << 100
        << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdP0", "LCDk", "LCDHz", "PBar2"};
    QTest::newRow("frequency, four digits: percent")
        << hex("89 70 14 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "0.1234" << 1234.0f << ""
        << "%"
        << "AUTO" << 2 << 462 << 100 << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdP0",
                                                    "LCDk",  "LCDHz", "LCDBF", "PBar2"};
    QTest::newRow("megahertz") << hex("89 70 2C 00 04 0F 01 02 03 04 0A") << 0 << d1234 << "0.1234"
                               << 1234.0f << ""
                               << "MHz"
                               << "AUTO" << 5 << 406 << 100
                               << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd",
                                              "LcdP0", "LCDM1", "LCDHz", "PBar2"};
    QTest::newRow("duty cycle") << hex("89 70 05 00 00 03 01 02 03 04 0A") << 0
                                << QStringList{"3", "1", "2", "3", "4"} << "312.34" << 1234.0f << ""
                                << "%"
                                << "MANU" << 0 << 462 << 100
                                << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd",
                                               "LcdP2", "LCDBF", "PBar2"};
    QTest::newRow("five digits shift the points, function 14 R 3")
        << hex("89 70 18 00 04 05 01 02 03 04 0A") << 0 << QStringList{"5", "1", "2", "3", "4"}
        << "5123.4" << 51234.0f << "DC"
        << "V"
        << "AUTO" << 3 << 656 << 80 << plus(minus(kDcVolts, {"LcdP1"}), {"LCDD0", "LcdP3"});
    QTest::newRow("five digits, function 14 R 0: point before the first digit")
        << hex("89 70 00 00 04 05 01 02 03 04 0A") << 0 << QStringList{"5", "1", "2", "3", "4"}
        << "5.1234" << 51234.0f << "DC"
        << "V"
        << "AUTO" << 0 << 656 << 80 << plus(minus(kDcVolts, {"LcdP1"}), {"LCDD0", "LcdP0"});
    QTest::newRow("four digits, function 14 R 3: no point")
        << hex("89 70 18 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01234" << 1234.0f << "DC"
        << "V"
        << "AUTO" << 3 << 462 << 80 << minus(kDcVolts, {"LcdP1"});
    QTest::newRow("rel 1") << hex("89 70 00 00 00 0F 01 02 03 04 0A") << 1 << d1234 << "01.234"
                           << 1234.0f << "DC"
                           << "V"
                           << "MANU" << 0 << 462 << 80 << plus(kDcVolts, {"LCDRel"});
    QTest::newRow("rel 2: percent sign, unit kept")
        << hex("89 70 00 00 00 0F 01 02 03 04 0A") << 2 << d1234 << "01.234" << 1234.0f << "DC"
        << "V"
        << "MANU" << 0 << 462 << 80 << plus(kDcVolts, {"LCDRel", "LCDBF"});
    QTest::newRow("manual range") << hex("89 70 40 00 00 0F 01 02 03 04 0A") << 0 << d1234
                                  << "01.234" << 1234.0f << "DC"
                                  << "V"
                                  << "MANU" << 0 << 462 << 80 << minus(kDcVolts, {"LcdAuto"});
    QTest::newRow("ac millivolts, function 15 R 0")
        << hex("89 78 00 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "0123.4" << 1234.0f << "AC"
        << "mV"
        << "AUTO" << 0 << 462 << 80 << QStringList{"LcdDa", "LcdDb",   "LcdDc", "LcdDd", "LcdP3",
                                                   "LcdAC", "LcdAuto", "Lcdm",  "LcdV",  "PBar2"};
    QTest::newRow("ac volts, function 15 R 4: no point in four digits")
        << hex("89 78 20 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01234" << 1234.0f << "AC"
        << "V"
        << "AUTO" << 4 << 462 << 80
        << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdAC", "LcdAuto", "LcdV", "PBar2"};
    QTest::newRow("ac millivolts by sub-selector, function 13 R 1")
        << hex("89 69 08 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "0123.4" << 1234.0f << "AC"
        << "mV"
        << "AUTO" << 1 << 462 << 80 << QStringList{"LcdDa", "LcdDb",   "LcdDc", "LcdDd", "LcdP3",
                                                   "LcdAC", "LcdAuto", "Lcdm",  "LcdV",  "PBar2"};
    QTest::newRow("dc amperes, function 5 R 1")
        << hex("89 28 08 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "012.34" << 1234.0f << "DC"
        << "A"
        << "AUTO" << 1 << 462 << 80 << QStringList{"LcdDa",  "LcdDb",   "LcdDc", "LcdDd", "LcdP2",
                                                   "LcdDc1", "LcdAuto", "LCDA",  "PBar2"};
    QTest::newRow("ac milliamperes, function 6 R 0")
        << hex("89 31 00 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "012.34" << 1234.0f << "AC"
        << "mA"
        << "AUTO" << 0 << 462 << 80 << QStringList{"LcdDa", "LcdDb",   "LcdDc", "LcdDd", "LcdP2",
                                                   "LcdAC", "LcdAuto", "Lcdm",  "LCDA",  "PBar2"};
    QTest::newRow("diode") << hex("89 58 00 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01.234"
                           << 1234.0f << ""
                           << ")V"
                           << "AUTO" << 0 << 462 << 80
                           << QStringList{"LcdDa", "LcdDb",   "LcdDc", "LcdDd",
                                          "LcdP1", "LcdAuto", "LcdV",  "LCDDI"};
    QTest::newRow("kilo-ohm with continuity")
        << hex("89 60 18 04 00 0F 01 02 03 04 0A") << 0 << d1234 << "0123.4" << 1234.0f << ""
        << "&  k*"
        << "AUTO" << 3 << 462 << 80 << QStringList{"LcdDa",   "LcdDb", "LcdDc", "LcdDd",  "LcdP3",
                                                   "LcdAuto", "LCDFm", "LCDk",  "LCDohm", "PBar2"};
    QTest::newRow("megohm") << hex("89 60 20 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01.234"
                            << 1234.0f << ""
                            << "M*"
                            << "AUTO" << 4 << 462 << 80
                            << QStringList{"LcdDa",   "LcdDb", "LcdDc",  "LcdDd", "LcdP1",
                                           "LcdAuto", "LCDM1", "LCDohm", "PBar2"};
    QTest::newRow("ohm, range 7 sets nothing")
        << hex("89 60 38 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01234" << 1234.0f << ""
        << "*"
        << "AUTO" << 7 << 462 << 80
        << QStringList{"LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdAuto", "LCDohm", "PBar2"};
    QTest::newRow("percent rule in function mode (mode code 6)")
        << hex("89 70 06 00 00 0F 01 02 03 04 0A") << 0 << d1234 << "01.234" << 1234.0f << "DC"
        << "%"
        << "AUTO" << 0 << 462 << 80 << plus(kDcVolts, {"LCDBF"});
    QTest::newRow("hex letters in digit nibbles read 0")
        << hex("89 70 00 00 00 0F 0A 0B 1C 2D 0A") << 0 << QStringList{"0", "0", "0", "0", "0"}
        << "00.000" << 0.0f << "DC"
        << "V"
        << "AUTO" << 0 << 400 << 80 << kDcVolts;
}

void TestReadingDecoder::reading() {
    QFETCH(QString, frame);
    QFETCH(int, rel);
    const DecodedFrame f = ReadingDecoder::decode(frame, rel);

    QStringList digits;
    for (const QString &d : f.digits)
        digits << d;
    QTEST(digits, "digits");
    QTEST(f.valueText, "value");
    QTEST(f.readingNval, "nval");
    QTEST(f.acDcText, "acdc");
    QTEST(f.unitText, "unit");
    QTEST(f.autoText, "autoText");
    QTEST(f.rangeCode, "range");
    QTEST(f.needlePosition, "needle");
    QTEST(f.span, "span");
    QFETCH(int, span);
    QCOMPARE(f.hundredMode, span == 100);
    QCOMPARE(f.offset, span == 100 ? 100 : 0);
    QFETCH(QStringList, shown);
    QCOMPARE(LcdPicture::of(f).shownNames(), sorted(shown));
}

void TestReadingDecoder::shortFrames_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("value");
    QTest::addColumn<float>("nval");
    QTest::addColumn<int>("needle");
    QTest::addColumn<QStringList>("shown");

    // Missing flag nibbles repeat the last one present; missing digits read 0.
    QTest::newRow("2 bytes: 890A")
        << hex("89 0A") << "0L" << 8001.0f << 800
        << QStringList{"LCDD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdAuto", "LCDBATT", "PBar2"};
    QTest::newRow("3 bytes") << hex("89 70 0A") << "0.L" << 8001.0f << 800
                             << QStringList{"LCDD0", "LcdDa",   "LcdDb",  "LcdDc",
                                            "LcdDd", "LcdP2",   "LcdDc1", "LcdAuto",
                                            "LcdV",  "LCDBATT", "PBar2"};
    QTest::newRow("4 bytes") << hex("89 70 00 0A") << ".0L" << 8001.0f << 800
                             << plus(kDcVolts, {"LCDD0", "LCDBATT"});
    QTest::newRow("5 bytes") << hex("89 70 00 00 0A") << ".0L" << 8001.0f << 800
                             << plus(kDcVolts, {"LCDD0"});
    QTest::newRow("6 bytes") << hex("89 70 00 00 00 0A") << "00.000" << 0.0f << 400
                             << plus(kDcVolts, {"LCDD0"});
    QTest::newRow("7 bytes") << hex("89 70 00 00 00 0F 0A") << "00.000" << 0.0f << 400 << kDcVolts;
    QTest::newRow("8 bytes") << hex("89 70 00 00 00 0F 01 0A") << "01.000" << 1000.0f << 450
                             << kDcVolts;
    QTest::newRow("9 bytes") << hex("89 70 00 00 00 0F 01 02 0A") << "01.200" << 1200.0f << 460
                             << kDcVolts;
    QTest::newRow("10 bytes") << hex("89 70 00 00 00 0F 01 02 03 0A") << "01.230" << 1230.0f << 462
                              << kDcVolts;
    QTest::newRow("longer than 11 bytes")
        << hex("89 70 00 00 00 0F 01 02 03 04 55 66 0A") << "01.234" << 1234.0f << 462 << kDcVolts;
    QTest::newRow("empty") << QString() << "00000" << 0.0f << 400
                           << QStringList{"LCDD0", "LcdDa",   "LcdDb", "LcdDc",
                                          "LcdDd", "LcdAuto", "PBar2"};
}

void TestReadingDecoder::shortFrames() {
    QFETCH(QString, frame);
    const DecodedFrame f = ReadingDecoder::decode(frame, 0);
    QTEST(f.valueText, "value");
    QTEST(f.readingNval, "nval");
    QTEST(f.needlePosition, "needle");
    QFETCH(QStringList, shown);
    QCOMPARE(LcdPicture::of(f).shownNames(), sorted(shown));
}

void TestReadingDecoder::needleRounding_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("needle");

    // Four digits: n is sign, Da, Db, Dc; five digits: sign, D0, Da, Db. n/2 halves go even.
    QTest::newRow("61.5 -> 62") << hex("89 70 00 00 00 0F 01 02 03 04 0A") << 462;
    QTest::newRow("-61.5 -> -62") << hex("89 70 00 00 10 0F 01 02 03 04 0A") << 338;
    QTest::newRow("0.5 -> 0") << hex("89 70 00 00 00 0F 00 00 01 09 0A") << 400;
    QTest::newRow("-0.5 -> 0") << hex("89 70 00 00 10 0F 00 00 01 09 0A") << 400;
    QTest::newRow("1.5 -> 2") << hex("89 70 00 00 00 0F 00 00 03 00 0A") << 402;
    QTest::newRow("2.5 -> 2") << hex("89 70 00 00 00 0F 00 00 05 00 0A") << 402;
    QTest::newRow("-1.5 -> -2") << hex("89 70 00 00 10 0F 00 00 03 00 0A") << 398;
    QTest::newRow("full scale 499.5 -> 500") << hex("89 70 00 00 00 0F 09 09 09 09 0A") << 900;
    QTest::newRow("five digits 2.5 -> 2, Dc Dd ignored")
        << hex("89 70 00 00 04 00 00 05 09 09 0A") << 402;
    QTest::newRow("five digits -399.5 -> -400")
        << hex("89 70 00 00 14 07 09 09 09 09 0A") << 400 - 400;
}

void TestReadingDecoder::needleRounding() {
    QFETCH(QString, frame);
    QTEST(ReadingDecoder::decode(frame, 0).needlePosition, "needle");
}

void TestReadingDecoder::overloadFullScale_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<float>("nval");
    QTest::addColumn<int>("needle");

    // Full scale plus one, 80 or 100 divisions times 100 (four digits) or 1000 (five);
    // the needle goes to the end of the arc of its mode.
    QTest::newRow("function, five digits")
        << hex("89 70 00 00 0C 0F 01 02 03 04 0A") << 80001.0f << 800;
    QTest::newRow("function, five digits, negative")
        << hex("89 70 00 00 1C 0F 01 02 03 04 0A") << -80001.0f << 0;
    QTest::newRow("frequency, four digits")
        << hex("89 70 04 00 08 0F 01 02 03 04 0A") << 10001.0f << 900;
    QTest::newRow("frequency, four digits, negative")
        << hex("89 70 04 00 18 0F 01 02 03 04 0A") << -10001.0f << -100;
    QTest::newRow("frequency, five digits")
        << hex("89 70 04 00 0C 0F 01 02 03 04 0A") << 100001.0f << 900;
    QTest::newRow("duty, four digits")
        << hex("89 70 05 00 08 0F 01 02 03 04 0A") << 10001.0f << 900;
    QTest::newRow("duty, five digits, negative")
        << hex("89 70 05 00 1C 0F 01 02 03 04 0A") << -100001.0f << -100;
}

void TestReadingDecoder::overloadFullScale() {
    QFETCH(QString, frame);
    const DecodedFrame f = ReadingDecoder::decode(frame, 0);
    QTEST(f.readingNval, "nval");
    QTEST(f.needlePosition, "needle");
    QCOMPARE(f.digits[DecodedFrame::Dc], QStringLiteral("@"));
}

void TestReadingDecoder::annunciators_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QStringList>("lit");

    const QStringList recording{"LcdREC", "Lcd100ms", "Lcd1ms", "LCD1S",
                                "LcdMax", "LcdMin",   "LcdAvg"};
    QTest::addColumn<QStringList>("among");

    QTest::newRow("48: REC 100 mS MAX") << hex("89 70 00 48 00 0F 01 02 03 04 0A")
                                        << QStringList{"LcdREC", "Lcd100ms", "LcdMax"} << recording;
    QTest::newRow("4C: REC 1 mS MIN") << hex("89 70 00 4C 00 0F 01 02 03 04 0A")
                                      << QStringList{"LcdREC", "Lcd1ms", "LcdMin"} << recording;
    QTest::newRow("44: REC 1 mS MAX") << hex("89 70 00 44 00 0F 01 02 03 04 0A")
                                      << QStringList{"LcdREC", "Lcd1ms", "LcdMax"} << recording;
    QTest::newRow("08: REC clear, nothing")
        << hex("89 70 00 08 00 0F 01 02 03 04 0A") << QStringList{} << recording;
    QTest::newRow("50: REC 100 mS MIN") << hex("89 70 00 50 00 0F 01 02 03 04 0A")
                                        << QStringList{"LcdREC", "Lcd100ms", "LcdMin"} << recording;
    QTest::newRow("58: REC 100 mS AVG") << hex("89 70 00 58 00 0F 01 02 03 04 0A")
                                        << QStringList{"LcdREC", "Lcd100ms", "LcdAvg"} << recording;
    QTest::newRow("40: REC 100 mS alone") << hex("89 70 00 40 00 0F 01 02 03 04 0A")
                                          << QStringList{"LcdREC", "Lcd100ms"} << recording;
    QTest::newRow("mode bit and five digits: REC 1 S AVG")
        << hex("89 70 04 5C 04 0F 01 02 03 04 0A") << QStringList{"LcdREC", "LCD1S", "LcdAvg"}
        << recording;
    QTest::newRow("mode bit without five digits: 1 mS rule")
        << hex("89 70 04 4C 00 0F 01 02 03 04 0A") << QStringList{"LcdREC", "Lcd1ms", "LcdMin"}
        << recording;
    QTest::newRow("battery and hold")
        << hex("89 70 00 00 21 0F 01 02 03 04 0A") << QStringList{"LCDBATT", "LCDHold"}
        << QStringList{"LCDBATT", "LCDHold", "LCDRel", "LcdFH"};
    QTest::newRow("H never shown")
        << hex("89 FF FF FF FF FF 09 09 09 09 0A") << QStringList{} << QStringList{"LCDH"};
}

void TestReadingDecoder::annunciators() {
    QFETCH(QString, frame);
    QFETCH(QStringList, lit);
    QFETCH(QStringList, among);
    const LcdPicture picture = LcdPicture::of(ReadingDecoder::decode(frame, 0));
    for (const QString &name : among)
        QVERIFY2(picture.isShown(name) == lit.contains(name), qPrintable(name));
}

void TestReadingDecoder::unknownFunctions_data() {
    QTest::addColumn<int>("function");
    for (int f : {0, 1, 2, 3, 4, 7, 8, 9, 10})
        QTest::addRow("function %d", f) << f;
}

void TestReadingDecoder::unknownFunctions() {
    QFETCH(int, function);
    // Range 2 would set a point in any known function.
    const QString byte2 = QString::number(function << 3, 16).rightJustified(2, QLatin1Char('0'));
    const QString frame =
        (QStringLiteral("89") + byte2 + QStringLiteral("10000005010203040A")).toUpper();
    const DecodedFrame f = ReadingDecoder::decode(frame, 0);
    QCOMPARE(f.unitText, QString());
    QCOMPARE(f.acDcText, QString());
    QCOMPARE(f.valueText, QStringLiteral("51234"));
    QCOMPARE(f.readingNval, 1234.0f);
    QCOMPARE(LcdPicture::of(f).shownNames(),
             sorted({"LCDD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd", "LcdAuto", "PBar2"}));
}

void TestReadingDecoder::everyElementEveryFrame() {
    // A frame that lights nothing still lists every element the frames drive, so the
    // panel hides what the frame before had lit.
    const LcdPicture picture = LcdPicture::of(DecodedFrame{});
    QCOMPARE(int(picture.elements().size()), 39);
    QStringList names;
    for (const auto &e : picture.elements())
        names << e.name;
    names.removeDuplicates();
    QCOMPARE(names.size(), 39);
    for (const char *never : {"LCDCS", "LCDFS", "LCDBT", "LCDRS", "LCD232C", "LcdRPM"})
        QVERIFY2(!names.contains(QLatin1String(never)), never);
    for (const char *digit : {"LCDD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd"})
        QVERIFY(picture.element(QLatin1String(digit))->caption.has_value());
    QVERIFY(!picture.element(QStringLiteral("LcdV"))->caption.has_value());
}

void TestReadingDecoder::roundHalfEven_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("rounded");
    QTest::newRow("0.5") << 0.5 << 0;
    QTest::newRow("1.5") << 1.5 << 2;
    QTest::newRow("2.5") << 2.5 << 2;
    QTest::newRow("61.5") << 61.5 << 62;
    QTest::newRow("-61.5") << -61.5 << -62;
    QTest::newRow("-0.5") << -0.5 << 0;
    QTest::newRow("-2.5") << -2.5 << -2;
    QTest::newRow("1.4") << 1.4 << 1;
    QTest::newRow("-1.6") << -1.6 << -2;
}

void TestReadingDecoder::roundHalfEven() {
    QFETCH(double, value);
    QTEST(ReadingDecoder::roundHalfEven(value), "rounded");
}

QTEST_GUILESS_MAIN(TestReadingDecoder)
#include "tst_readingdecoder.moc"
