#include "bandlayout.h"

#include <QTest>

class TestBandLayout : public QObject {
    Q_OBJECT

private slots:
    void bandsFillTheSheet() {
        // 297 mm less two 10 mm margins and three 10.58 mm bands leaves 245.26 mm, room for
        // 37 lines of 6.61 mm (244.57 mm) and not for 38 (251.18 mm).
        QCOMPARE(BandLayout::detailLinesPerPage(), 37);
        QCOMPARE(BandLayout::detailTop(0), 3116);
        QCOMPARE(BandLayout::pageFooterTop(), 27642);
        QVERIFY(BandLayout::detailTop(37) <= BandLayout::pageFooterTop());
        QVERIFY(BandLayout::detailTop(38) > BandLayout::pageFooterTop());
        QCOMPARE(BandLayout::pageFooterTop() + BandLayout::kPageFooterHeight,
                 BandLayout::kPaperHeight - BandLayout::kMargin);
        // The band is as wide as the sheet between the margins (to the design's 0.03 mm).
        QVERIFY(qAbs(BandLayout::bandRight() - (BandLayout::kPaperWidth - BandLayout::kMargin)) <=
                3);
    }

    void pages_data() {
        QTest::addColumn<qint64>("records");
        QTest::addColumn<qint64>("pages");
        QTest::addColumn<int>("linesOnLastPage");
        QTest::newRow("empty table") << qint64(0) << qint64(0) << 0;
        QTest::newRow("one record") << qint64(1) << qint64(1) << 1;
        QTest::newRow("36") << qint64(36) << qint64(1) << 36;
        QTest::newRow("a full page") << qint64(37) << qint64(1) << 37;
        QTest::newRow("one more than a page") << qint64(38) << qint64(2) << 1;
        QTest::newRow("two full pages") << qint64(74) << qint64(2) << 37;
        QTest::newRow("75") << qint64(75) << qint64(3) << 1;
        QTest::newRow("10,000") << qint64(10000) << qint64(271) << 10000 - 270 * 37;
        QTest::newRow("100,000") << qint64(100000) << qint64(2703) << 100000 - 2702 * 37;
        QTest::newRow("10,000,000") << qint64(10000000) << qint64(270271) << 10000000 - 270270 * 37;
    }
    void pages() {
        QFETCH(qint64, records);
        QFETCH(qint64, pages);
        QFETCH(int, linesOnLastPage);
        QCOMPARE(BandLayout::pageCount(records), pages);
        QCOMPARE(BandLayout::linesOnPage(pages - 1, records), linesOnLastPage);
        // Every record is on exactly one page, the pages in table order without gaps.
        if (pages <= 3000) {
            qint64 next = 0;
            for (qint64 page = 0; page < pages; ++page) {
                QCOMPARE(BandLayout::firstRecordOf(page), next);
                const int lines = BandLayout::linesOnPage(page, records);
                QVERIFY(lines == 37 || (page == pages - 1 && lines >= 1));
                next += lines;
            }
            QCOMPARE(next, records);
        }
        if (pages > 0)
            QCOMPARE(BandLayout::firstRecordOf(pages - 1) + linesOnLastPage, records);
        QCOMPARE(BandLayout::linesOnPage(pages, records), 0);
        QCOMPARE(BandLayout::linesOnPage(-1, records), 0);
    }
};

QTEST_GUILESS_MAIN(TestBandLayout)
#include "tst_bandlayout.moc"
