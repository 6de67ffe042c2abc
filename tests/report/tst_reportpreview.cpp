#include "datareport.h"
#include "pagesource.h"
#include "previewgeometry.h"
#include "previewview.h"
#include "reportpreview.h"

#include <QDir>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "reportfixture.h"

#include <algorithm>
#include <climits>
#include <memory>

using ReportFixture::Preview;

namespace {

/// A4 pages that log which of them were painted.
class CountingPages : public PageSource {
public:
    explicit CountingPages(qint64 pages) : m_pages(pages) {}
    qint64 pageCount() const override { return m_pages; }
    QSizeF pageSizeMm() const override { return {210.0, 297.0}; }
    void paintPage(QPainter &painter, qint64 page) const override {
        painted.push_back(page);
        painter.drawText(QPointF(1000, 1000), QString::number(page + 1));
    }
    mutable std::vector<qint64> painted;

private:
    qint64 m_pages;
};

} // namespace

class TestReportPreview : public QObject {
    Q_OBJECT

private slots:
    /// The geometry of the pages: any page can be scrolled to and is found there again,
    /// the last row can be scrolled into view, and the range fits a scroll bar at any size.
    void geometry_data() {
        QTest::addColumn<qint64>("pages");
        QTest::addColumn<int>("columns");
        QTest::addColumn<double>("pxPerMm");
        QTest::newRow("one page") << qint64(1) << 1 << 3.0;
        QTest::newRow("10,000,000 records") << qint64(270271) << 1 << 3.0;
        QTest::newRow("two side by side, odd count") << qint64(27027) << 2 << 3.0;
        QTest::newRow("zoomed in") << qint64(270271) << 1 << 15.0;
        QTest::newRow("zoomed far out") << qint64(1000) << 2 << 0.4;
    }
    void geometry() {
        QFETCH(qint64, pages);
        QFETCH(int, columns);
        QFETCH(double, pxPerMm);
        const PreviewGeometry g(QSizeF(210, 297), pages, columns, pxPerMm);
        const QSize viewport(800, 600);
        const int last = g.maxStep(viewport.height());
        QVERIFY(last >= 0 && last < INT_MAX);
        for (qint64 page : {qint64(0), pages / 2, pages - 1}) {
            const int step = std::min(g.stepOf(page), last);
            const auto shown = g.visible(step, 0, viewport);
            QVERIFY(std::any_of(shown.begin(), shown.end(),
                                [&](const PreviewGeometry::Placed &p) { return p.page == page; }));
            if (g.stepOf(page) <= last)
                QCOMPARE(g.pageAt(step), page - page % columns);
        }
        const auto atEnd = g.visible(last, 0, viewport);
        QCOMPARE(atEnd.back().page, pages - 1);
        QVERIFY(atEnd.back().rect.bottom() < viewport.height());
    }

    /// However many pages, the view paints those in view and no other, each once; the
    /// scroll range holds all 270,271 pages of 10,000,000 records.
    void paintsOnlyThePagesInView_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("fitPage");
        QTest::addColumn<int>("zoomSteps"); // in when positive, out when negative
        QTest::addColumn<qint64>("page");
        QTest::newRow("first, fit width") << 1 << false << 0 << qint64(0);
        QTest::newRow("middle, fit page") << 1 << true << 0 << qint64(135135);
        QTest::newRow("last, two side by side") << 2 << true << 0 << qint64(270270);
        QTest::newRow("zoomed far out") << 1 << false << -20 << qint64(1000);
        QTest::newRow("zoomed far in") << 1 << false << 20 << qint64(7);
    }
    void paintsOnlyThePagesInView() {
        QFETCH(int, columns);
        QFETCH(bool, fitPage);
        QFETCH(int, zoomSteps);
        QFETCH(qint64, page);
        CountingPages pages(270271);
        PreviewView view(pages);
        view.resize(800, 600);
        view.setColumns(columns);
        view.setZoomMode(fitPage ? PreviewView::Zoom::FitPage : PreviewView::Zoom::FitWidth);
        for (int i = 0; i < qAbs(zoomSteps); ++i)
            zoomSteps > 0 ? view.zoomIn() : view.zoomOut();
        view.goToPage(page);
        view.grab();
        const std::vector<qint64> shown = view.visiblePages();
        QVERIFY(std::find(shown.begin(), shown.end(), page) != shown.end());
        QVERIFY(shown.size() <= 30);
        QCOMPARE(pages.painted, shown);
        // Shown again, the pages come from the cache; zoomed far in, only the piece in view
        // is painted, again.
        view.grab();
        std::vector<qint64> twice = shown;
        if (zoomSteps > 0)
            twice.insert(twice.end(), shown.begin(), shown.end());
        QCOMPARE(pages.painted, twice);
        QCOMPARE(view.currentPage(), page);
    }

    /// Paging with the tool bar, the page box and the keys: the bar says "page k / N" and
    /// the view shows page k.
    void pagingShowsPageKOfN_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("shown");
        QTest::newRow("opened") << QStringList() << 1;
        QTest::newRow("next") << QStringList{"nextPageAction"} << 2;
        QTest::newRow("last") << QStringList{"lastPageAction"} << 28;
        QTest::newRow("last, previous")
            << QStringList{"lastPageAction", "previousPageAction"} << 27;
        QTest::newRow("last, first") << QStringList{"lastPageAction", "firstPageAction"} << 1;
        QTest::newRow("page box") << QStringList{"box 17"} << 17;
        QTest::newRow("page box beyond") << QStringList{"box 99"} << 28;
        QTest::newRow("Page Down twice") << QStringList{"PgDown", "PgDown"} << 3;
        QTest::newRow("End, Page Up") << QStringList{"End", "PgUp"} << 27;
        QTest::newRow("End, Home") << QStringList{"End", "Home"} << 1;
        QTest::newRow("two pages, next") << QStringList{"twoPagesAction", "nextPageAction"} << 3;
        QTest::newRow("zoom in, next") << QStringList{"zoomInAction", "nextPageAction"} << 2;
    }
    void pagingShowsPageKOfN() {
        QFETCH(QStringList, steps);
        QFETCH(int, shown);
        Preview p(1000); // 28 pages
        p.window->show();
        auto *view = p.window->view();
        for (const QString &step : steps) {
            if (step.startsWith(u"box "))
                p.window->findChild<QSpinBox *>(QStringLiteral("pageBox"))
                    ->setValue(step.mid(4).toInt());
            else if (step.endsWith(u"Action"))
                p.action(qPrintable(step))->trigger();
            else
                QTest::keySequence(view, QKeySequence(step));
        }
        QCOMPARE(p.shownPage(), shown);
        QCOMPARE(p.shownCount(), QStringLiteral("/ 28"));
        QCOMPARE(view->currentPage(), shown - 1);
        const std::vector<qint64> visible = view->visiblePages();
        QVERIFY(std::find(visible.begin(), visible.end(), shown - 1) != visible.end());
        QCOMPARE(p.action("nextPageAction")->isEnabled(), shown < 28 - (view->columns() - 1));
        QCOMPARE(p.action("previousPageAction")->isEnabled(), shown > view->columns());
        QVERIFY(p.errors.isEmpty());
    }

    void keysPrintAndClose() {
        Preview p(100);
        p.window->show();
        QVERIFY(QTest::qWaitForWindowActive(p.window.get()));
        QTest::keyClick(p.window->view(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(p.printAsked, 1);
        QTest::keyClick(p.window->view(), Qt::Key_Escape);
        QVERIFY(!p.window->isVisible());
        QCOMPARE(p.window->result(), int(QDialog::Rejected));
    }

    /// A page whose records are gone shows blank and says why, once.
    void failedPageIsReportedOnce() {
        Preview p(100);
        p.source->rowsHeld.resize(50);
        p.window->show();
        p.window->view()->goToPage(2);
        p.window->view()->grab();
        p.window->view()->grab();
        QTRY_COMPARE(p.errors.size(), 1);
        QVERIFY2(p.errors.first().contains(QLatin1String("could not be read")),
                 qPrintable(p.errors.first()));
        QTest::qWait(20);
        QCOMPARE(p.errors.size(), 1);
    }

    /// Export PDF… and Print… into a file, through the preview (the file handling itself is
    /// PdfExport's): a failure reaches the user rather than escaping the event handler; while
    /// a long run goes on, the progress window counts the pages, events are handled, and
    /// Cancel stops it with the old file left as it was.
    void toAFile_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("export, read-only file") << "exportPdfAction" << true;
        QTest::newRow("export, cancelled") << "exportPdfAction" << false;
        QTest::newRow("print to file, cancelled") << "printAction" << false;
    }
    void toAFile() {
        QFETCH(QString, command);
        QFETCH(bool, readOnly);
        QTemporaryDir dir;
        Preview p(2000); // 55 pages, 8 slow reads
        p.source->delayMs = 25;
        p.pdfFile = dir.filePath(QStringLiteral("report.pdf"));
        QVERIFY(ReportFixture::writeOld(p.pdfFile, readOnly));
        p.window->prompts().print = [&](QPrinter &printer, int) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(p.pdfFile);
            return true;
        };
        p.window->show();
        QString progressText;
        // Runs only once the run hands events on; never once the window is gone.
        QTimer::singleShot(0, p.window.get(), [&] {
            if (auto *progress =
                    p.window->findChild<QProgressDialog *>(QStringLiteral("reportProgress"))) {
                progressText = progress->labelText();
                progress->cancel();
            }
        });
        p.action(qPrintable(command))->trigger();
        if (readOnly) {
            QCOMPARE(p.errors.size(), 1);
            QVERIFY2(p.errors.first().contains(QLatin1String("read-only")),
                     qPrintable(p.errors.first()));
        } else {
            QCOMPARE(p.errors, QStringList());
            QVERIFY2(progressText.contains(QLatin1String(" of 55")), qPrintable(progressText));
        }
        QCOMPARE(ReportFixture::contentOf(p.pdfFile), ReportFixture::kOldContent);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("report.pdf")});
    }
};

QTEST_MAIN(TestReportPreview)
#include "tst_reportpreview.moc"
