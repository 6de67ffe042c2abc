#include <QTest>

#include "graphpoint.h"
#include "readingdecoder.h"

class TestGraphPoint : public QObject {
    Q_OBJECT

private slots:
    // Frames as the meter sends them, decoded as the window decodes them.
    void valueOf_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<double>("value");
        QTest::newRow("four digits") << "89 70 00 00 00 0F 01 02 03 04 0A" << 1234.0;
        QTest::newRow("four digits, minus") << "89 70 00 00 10 0F 01 02 03 04 0A" << -1234.0;
        QTest::newRow("five digits") << "89 70 00 00 04 01 02 03 04 05 0A" << 12345.0;
        QTest::newRow("five digits, minus") << "89 70 00 00 14 09 09 09 09 09 0A" << -99999.0;
        QTest::newRow("overload") << "89 70 00 00 08 00 01 02 03 04 0A" << 8000.0;
        QTest::newRow("overload, minus") << "89 70 00 00 18 00 01 02 03 04 0A" << -8000.0;
        QTest::newRow("five-digit overload") << "89 70 00 00 0C 00 01 02 03 04 0A" << 80000.0;
        QTest::newRow("five-digit overload, minus")
            << "89 70 00 00 1C 00 01 02 03 04 0A" << -80000.0;
        QTest::newRow("frequency overload") << "89 70 04 00 08 0F 01 02 03 04 0A" << 10000.0;
        QTest::newRow("frequency") << "89 70 14 00 04 0F 01 02 03 04 0A" << 1234.0;
    }
    void valueOf() {
        QFETCH(QString, frame);
        const DecodedFrame decoded = ReadingDecoder::decode(frame.remove(QLatin1Char(' ')), 0);
        QTEST(GraphPoint::valueOf(decoded), "value");
        // Outside an overload the plotted value is the Reading's own number.
        if (!decoded.overload)
            QCOMPARE(GraphPoint::valueOf(decoded), double(decoded.readingNval));
    }
};

QTEST_GUILESS_MAIN(TestGraphPoint)
#include "tst_graphpoint.moc"
