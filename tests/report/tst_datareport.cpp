#include "bandlayout.h"
#include "datareport.h"
#include "pdfexport.h"

#include <QDir>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "reportfixture.h"

#include <memory>
#include <stdexcept>

namespace {

constexpr int kDpi = 300;

double px(double mm) {
    return mm * kDpi / 25.4;
}

/// A white picture of `mmWide` by `mmHigh` at kDpi.
QImage blank(double mmWide, double mmHigh) {
    QImage image(qRound(px(mmWide)), qRound(px(mmHigh)), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(kDpi / 0.0254));
    image.setDotsPerMeterY(qRound(kDpi / 0.0254));
    image.fill(Qt::white);
    return image;
}

/// One page of `report` on a white A4 sheet at kDpi.
QImage sheet(const DataReport &report, qint64 page) {
    QImage image = blank(210.0, 297.0);
    QPainter painter(&image);
    report.paintPage(painter, page);
    return image;
}

/// The bounding box of the ink inside `region`; null when the region is blank.
QRect inkIn(const QImage &image, const QRect &region) {
    QRect box;
    const QRect r = region.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(line[x]) < 128)
                box |= QRect(x, y, 1, 1);
    }
    return box;
}

using Fixture = ReportFixture::Report;

QString shown(const QRect &r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.left()).arg(r.top()).arg(r.width()).arg(r.height());
}

} // namespace

class TestDataReport : public QObject {
    Q_OBJECT

private slots:
    /// Where the texts land on a page drawn at a known resolution: each text's ink is the
    /// ink of the same text drawn alone with its pen at the design's place (left and top of
    /// its box, in mm from the sheet's corner). Judged against the face's own drawing, this
    /// holds for whichever face the machine gives for Arial.
    void bandPositions_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("leftMm"); // negative: centred across the band
        QTest::addColumn<double>("topMm");
        const auto r0 = ReportFixture::row(0);
        const auto r1 = ReportFixture::row(1);
        const auto r36 = ReportFixture::row(36);
        // Bands: header 10, column header 20.58, details from 31.16 every 6.61, footer 276.42.
        QTest::newRow("title") << QStringLiteral("The Data Print Title") << -1.0 << 12.12;
        QTest::newRow("heading No") << QStringLiteral("No") << 18.47 << 24.81;
        QTest::newRow("heading Time") << QStringLiteral("Time") << 43.87 << 24.81;
        QTest::newRow("heading DC/AC") << QStringLiteral("DC/AC") << 74.29 << 24.81;
        QTest::newRow("heading Value") << QStringLiteral("Value") << 109.48 << 24.81;
        QTest::newRow("heading Unit") << QStringLiteral("Unit") << 142.29 << 24.81;
        QTest::newRow("heading AUTO") << QStringLiteral("AUTO") << 172.98 << 24.81;
        QTest::newRow("first No") << r0.texts[RecordRow::No] << 18.47 << 33.28;
        QTest::newRow("first Time") << r0.texts[RecordRow::Time] << 43.87 << 33.28;
        // These two do not sit under their headings.
        QTest::newRow("first DC/AC") << r0.texts[RecordRow::DcAc] << 75.62 << 33.28;
        QTest::newRow("first Unit") << r0.texts[RecordRow::Unit] << 141.23 << 33.28;
        QTest::newRow("second Value") << r1.texts[RecordRow::Value] << 109.48 << 39.89;
        QTest::newRow("last AUTO") << r36.texts[RecordRow::Auto] << 172.98 << 271.24;
        QTest::newRow("foot") << QStringLiteral("The Data Print Foot") << 18.47 << 280.65;
    }
    void bandPositions() {
        QFETCH(QString, text);
        QFETCH(double, leftMm);
        QFETCH(double, topMm);
        Fixture f(40);
        const QImage image = sheet(f.report, 0);
        const QFontMetricsF metrics(DataReport::font(), &image);
        const double left =
            leftMm >= 0 ? px(leftMm) : px(10.0 + 189.97 / 2) - metrics.horizontalAdvance(text) / 2;
        // The pen stands on the baseline. Drawn alone it keeps the fraction of a pixel it
        // has on the page, so that both drawings round alike.
        const QPointF pen(left, px(topMm) + metrics.ascent());
        const QPoint whole(int(pen.x()) - 100, int(pen.y()) - 100);
        QImage alone = blank(210.0, 30.0);
        QPainter painter(&alone);
        painter.setFont(DataReport::font());
        painter.setPen(Qt::black);
        painter.drawText(pen - QPointF(whole), text);
        painter.end();
        const QRect expected = inkIn(alone, alone.rect()).translated(whole);
        QVERIFY2(!expected.isNull(), qPrintable(text));
        const QRect ink = inkIn(image, expected.adjusted(-40, -40, 40, 40));
        const QPoint off = ink.topLeft() - expected.topLeft();
        QVERIFY2(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1 && ink.size() == expected.size(),
                 qPrintable(QStringLiteral("%1 in %2: ink at %3, expected %4")
                                .arg(text, QFontInfo(DataReport::font()).family(), shown(ink),
                                     shown(expected))));
    }

    void nothingInTheMargins() {
        Fixture f(37);
        const QImage image = sheet(f.report, 0);
        const QRect inside(qRound(px(10)), qRound(px(10)), qRound(px(190)), qRound(px(277)));
        QCOMPARE(inkIn(image, image.rect()).united(inside), inside);
        // The last page carries its footer at the foot, under its few lines.
        Fixture g(38);
        const QImage last = sheet(g.report, 1);
        QVERIFY(
            !inkIn(last, QRect(0, qRound(px(276.42)), last.width(), qRound(px(10.58)))).isNull());
        QVERIFY(inkIn(last, QRect(0, qRound(px(37.77)), last.width(), qRound(px(238)))).isNull());
    }

    /// A text too long for its column is cut with "…" short of the next column (the last
    /// column at the band's edge) and keeps to its record's line.
    void longTextIsCut_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<double>("roomEndMm"); // from the sheet's corner
        QTest::addColumn<double>("nextColumnMm");
        QTest::newRow("Value") << int(RecordRow::Value) << 140.23 << 141.23;
        QTest::newRow("AUTO") << int(RecordRow::Auto) << 199.97 << 210.0;
    }
    void longTextIsCut() {
        QFETCH(int, column);
        QFETCH(double, roomEndMm);
        QFETCH(double, nextColumnMm);
        Fixture f(1);
        f.source->rowsHeld[0].texts[std::size_t(column)] = QStringLiteral("W").repeated(60);
        const QImage image = sheet(f.report, 0);
        const int left =
            qRound(px(10.0 + BandLayout::kColumns[std::size_t(column)].fieldLeft / 100.0));
        const QRect line(left - 2, qRound(px(31.16)), qRound(px(nextColumnMm)) - left,
                         qRound(px(6.61)));
        // The only record: below its line the page is blank down to the footer.
        const QRect cut = inkIn(image, line.adjusted(0, 0, 0, 2 * line.height()));
        QVERIFY2(line.contains(cut), qPrintable(shown(cut)));
        QVERIFY2(cut.right() <= px(roomEndMm), qPrintable(QString::number(cut.right())));
        // Cut, not dropped: the text fills its room up to about one letter and the "…".
        const QFontMetricsF metrics(DataReport::font(), &image);
        QVERIFY(cut.right() >= px(roomEndMm) - metrics.horizontalAdvance(QStringLiteral("W…")));
    }

    /// A sheet too small for a single record, or too narrow for the widest text of a column,
    /// is refused, and the report keeps its layout.
    void tooSmallASheetIsRefused_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QString>("refusal"); // empty: taken
        QTest::newRow("A10, too short") << int(QPageSize::A10) << false << "too small";
        QTest::newRow("A6, too narrow")
            << int(QPageSize::A6) << false << "too narrow for the report: the column No needs";
        QTest::newRow("A5 landscape") << int(QPageSize::A5) << true << QString();
    }
    void tooSmallASheetIsRefused() {
        QFETCH(int, paper);
        QFETCH(bool, landscape);
        QFETCH(QString, refusal);
        Fixture f(100);
        const PageBands before = f.report.bands();
        QString thrown;
        try {
            f.report.setPageLayout(QPageLayout(
                QPageSize(QPageSize::PageSizeId(paper)),
                landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
        } catch (const std::runtime_error &e) {
            thrown = QString::fromUtf8(e.what());
        }
        QVERIFY2(refusal.isEmpty() ? thrown.isEmpty() : thrown.contains(refusal),
                 qPrintable(thrown));
        QCOMPARE(f.report.bands() == before, !refusal.isEmpty());
    }

    /// Pages read their records in windows, never the whole table, in either page order.
    void readsInWindows() {
        for (bool lastPageFirst : {false, true}) {
            Fixture f(5000);
            QImage image(10, 10, QImage::Format_RGB32);
            QPainter painter(&image);
            const qint64 pages = f.report.pageCount();
            for (qint64 i = 0; i < pages; ++i)
                f.report.paintPage(painter, lastPageFirst ? pages - 1 - i : i);
            QVERIFY(f.source->largestRead <= DataReport::kWindowRows);
            QVERIFY2(f.source->reads <= 5000 / (DataReport::kWindowRows - 37) + 2,
                     qPrintable(QString::number(f.source->reads)));
        }
    }

    /// An export replaces a file only with a complete report; otherwise the old file stays
    /// as it was, nothing else is left in its folder, and the failure says why (records
    /// gone from under the report fail the page that needs them).
    void exportReplacesOnlyWhenComplete_data() {
        QTest::addColumn<QString>("error"); // empty: no failure
        QTest::newRow("written") << QString();
        QTest::newRow("read-only") << QStringLiteral("read-only");
        QTest::newRow("records gone") << QStringLiteral("could not be read");
        QTest::newRow("cancelled") << QString();
        QTest::newRow("no folder") << QStringLiteral("could not be exported");
        QTest::newRow("a folder") << QStringLiteral("is a folder");
    }
    void exportReplacesOnlyWhenComplete() {
        QFETCH(QString, error);
        const QLatin1String how(QTest::currentDataTag());
        QTemporaryDir dir;
        const QString path =
            dir.filePath(how == "no folder" ? QStringLiteral("no/such.pdf") : "old.pdf");
        if (how == "a folder")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("old.pdf")));
        else if (how != "no folder")
            QVERIFY(ReportFixture::writeOld(path, how == "read-only"));
        Fixture f(100);
        if (how == "records gone")
            f.source->rowsHeld.resize(50);
        const DataReport::Progress stopAtTwo = [](qint64 done, qint64) { return done < 2; };
        QString thrown;
        bool complete = false;
        try {
            complete = PdfExport::write(f.report, path,
                                        how == "cancelled" ? stopAtTwo : DataReport::Progress());
        } catch (const std::runtime_error &e) {
            thrown = QString::fromUtf8(e.what());
        }
        QVERIFY2(error.isEmpty() ? thrown.isEmpty() : thrown.contains(error), qPrintable(thrown));
        QCOMPARE(complete, how == "written");
        if (how == "written")
            QVERIFY(ReportFixture::contentOf(path).startsWith("%PDF"));
        else if (how != "no folder" && how != "a folder")
            QCOMPARE(ReportFixture::contentOf(path), ReportFixture::kOldContent);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 how == "no folder" ? QStringList() : QStringList{QStringLiteral("old.pdf")});
    }
};

QTEST_MAIN(TestDataReport)
#include "tst_datareport.moc"
