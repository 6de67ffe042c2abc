#include <QTest>

#include "bargraphdecoder.h"
#include "frameassembler.h"

class TestBarGraphDecoder : public QObject {
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void fromFrame();
};

void TestBarGraphDecoder::decode_data() {
    QTest::addColumn<QString>("mlt");
    QTest::addColumn<QString>("sign");
    QTest::addColumn<int>("position");

    // Digits: byte 6, byte 5, low nibble of byte 3.
    QTest::newRow("empty bar") << "00000"
                               << "+" << 1;
    QTest::newRow("negative, 20") << "14107"
                                  << "-" << 21;
    QTest::newRow("byte 3 nibble is not read") << "1410F"
                                               << "-" << 21;
    QTest::newRow("full and negative whatever byte 6 holds") << "3F187"
                                                             << "-" << 41;
    QTest::newRow("full, byte 6 zero") << "00180"
                                       << "-" << 41;
    QTest::newRow("full and positive") << "12080"
                                       << "+" << 41;
    QTest::newRow("top bits of byte 6 ignored") << "C5000"
                                                << "+" << 6;
    QTest::newRow("beyond the bar") << "3F000"
                                    << "+" << 64;
    QTest::newRow("bits beside sign and full ignored") << "05E70"
                                                       << "+" << 6;
    QTest::newRow("short: nothing") << ""
                                    << "+" << 1;
    QTest::newRow("short: one digit") << "3"
                                      << "+" << 49;
    QTest::newRow("short: byte 6 only") << "3F"
                                        << "+" << 64;
    QTest::newRow("short: half of byte 5") << "051"
                                           << "-" << 6;
    QTest::newRow("short: four digits") << "0508"
                                        << "+" << 41;
}

void TestBarGraphDecoder::decode() {
    QFETCH(QString, mlt);
    const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(mlt);
    QTEST(bar.sign, "sign");
    QTEST(bar.position, "position");
}

void TestBarGraphDecoder::fromFrame() {
    // 8A 00 37 00 12 34 0A carries 34127: byte 6 0x34 gives 52 + 1, byte 5 0x12 the sign.
    const QString mlt = mltTextOf(QStringLiteral("8A003700123 40A").remove(QLatin1Char(' ')));
    QCOMPARE(mlt, QStringLiteral("34127"));
    const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(mlt);
    QCOMPARE(bar.sign, QStringLiteral("-"));
    QCOMPARE(bar.position, 53);
}

QTEST_GUILESS_MAIN(TestBarGraphDecoder)
#include "tst_bargraphdecoder.moc"
