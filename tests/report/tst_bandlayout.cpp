#include "bandlayout.h"
#include "pagebands.h"

#include <QPageLayout>
#include <QPageSize>
#include <QTest>

class TestBandLayout : public QObject {
    Q_OBJECT

private slots:
    /// On any sheet: the footer ends at the bottom margin, every detail line lies between
    /// the column header and the footer, and the columns keep their order inside the band.
    /// On A4 portrait every position is the design's own.
    void anySheet_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<double>("unprintableMm");
        QTest::addColumn<int>("lines");
        // Lines: (height - 2 margins - 3 bands of 10.58 mm) / 6.61 mm, rounded down. A4: 297 mm
        // leaves 245.26 mm, room for 37 lines (244.57 mm) and not for 38 (251.18 mm).
        QTest::newRow("A4 portrait") << int(QPageSize::A4) << false << 0.0 << 37;
        QTest::newRow("A4 landscape") << int(QPageSize::A4) << true << 0.0 << 23;
        QTest::newRow("A5") << int(QPageSize::A5) << false << 0.0 << 23;
        QTest::newRow("Letter") << int(QPageSize::Letter) << false << 0.0 << 34;
        QTest::newRow("Legal") << int(QPageSize::Legal) << false << 0.0 << 45;
        QTest::newRow("A4, printer needs 15 mm") << int(QPageSize::A4) << false << 15.0 << 35;
        QTest::newRow("A6 landscape") << int(QPageSize::A6) << true << 0.0 << 8;
        QTest::newRow("too small") << int(QPageSize::A10) << false << 0.0 << 0;
    }
    void anySheet() {
        QFETCH(int, paper);
        QFETCH(bool, landscape);
        QFETCH(double, unprintableMm);
        QFETCH(int, lines);
        QPageLayout layout(QPageSize(QPageSize::PageSizeId(paper)),
                           landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(),
                           QPageLayout::Millimeter);
        layout.setMinimumMargins(
            QMarginsF(unprintableMm, unprintableMm, unprintableMm, unprintableMm));
        const PageBands bands = PageBands::forPage(layout);
        const bool design = QTest::currentDataTag() == QByteArray("A4 portrait");
        if (design)
            QCOMPARE(bands, PageBands());
        QCOMPARE(bands.detailLinesPerPage(), lines);
        const int margin = std::max(1000, qRound(unprintableMm * 100));
        QCOMPARE(bands.pageFooterTop() + BandLayout::kPageFooterHeight,
                 bands.paperHeight() - margin);
        if (lines > 0) {
            QVERIFY(bands.detailTop(lines) <= bands.pageFooterTop());
            QVERIFY(bands.detailTop(lines + 1) > bands.pageFooterTop());
        }
        QCOMPARE(bands.bandLeft(), margin);
        QVERIFY(qAbs(bands.bandRight() - (bands.paperWidth() - margin)) <= 5);
        PageBands::Hmm left = bands.bandLeft();
        for (int c = 0; c < int(BandLayout::kColumns.size()); ++c) {
            QVERIFY(bands.fieldLeft(c) > left);
            QVERIFY(bands.fieldLeft(c) + bands.fieldRoom(c) <= bands.bandRight());
            left = bands.fieldLeft(c) + bands.fieldRoom(c);
            if (design) {
                QCOMPARE(bands.headingLeft(c), margin + BandLayout::kColumns[c].headingLeft);
                QCOMPARE(bands.fieldLeft(c), margin + BandLayout::kColumns[c].fieldLeft);
            }
        }
        QCOMPARE(bands.pageCount(100), lines > 0 ? (100 + lines - 1) / lines : 0);
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
        const PageBands a4;
        QCOMPARE(a4.pageCount(records), pages);
        QCOMPARE(a4.linesOnPage(pages - 1, records), linesOnLastPage);
        // Every record is on exactly one page, the pages in table order without gaps.
        if (pages <= 3000) {
            qint64 next = 0;
            for (qint64 page = 0; page < pages; ++page) {
                QCOMPARE(a4.firstRecordOf(page), next);
                const int lines = a4.linesOnPage(page, records);
                QVERIFY(lines == 37 || (page == pages - 1 && lines >= 1));
                next += lines;
            }
            QCOMPARE(next, records);
        }
        if (pages > 0)
            QCOMPARE(a4.firstRecordOf(pages - 1) + linesOnLastPage, records);
        QCOMPARE(a4.linesOnPage(pages, records), 0);
        QCOMPARE(a4.linesOnPage(-1, records), 0);
    }
};

QTEST_GUILESS_MAIN(TestBandLayout)
#include "tst_bandlayout.moc"
