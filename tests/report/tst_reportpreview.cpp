#include "datareport.h"
#include "pagesource.h"
#include "previewgeometry.h"
#include "previewview.h"
#include "reportpreview.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "reportfixture.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

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

/// Rows that take a while to read, as a large table on a slow disk does.
class SlowSource : public ReportFixture::MemorySource {
public:
    using MemorySource::MemorySource;
    QList<RecordRow> rows(qint64 first, int n) const override {
        QThread::msleep(25);
        return MemorySource::rows(first, n);
    }
};

/// The preview of a report of `records` records, with every dialog answered by the test.
struct Preview {
    explicit Preview(qint64 records, std::shared_ptr<ReportFixture::MemorySource> rows = {})
        : source(rows ? rows : std::make_shared<ReportFixture::MemorySource>(records)),
          report(source) {
        ReportPreview::Prompts prompts;
        prompts.error = [this](const QString &text) { errors << text; };
        prompts.print = [this](QPrinter &, int) {
            ++printAsked;
            return false;
        };
        prompts.pdfFile = [this] { return pdfFile; };
        window = std::make_unique<ReportPreview>(report, prompts);
        window->resize(700, 900);
    }
    QAction *action(const char *name) const {
        return window->findChild<QAction *>(QLatin1String(name));
    }
    int shownPage() const {
        return window->findChild<QSpinBox *>(QStringLiteral("pageBox"))->value();
    }
    QString shownCount() const {
        return window->findChild<QLabel *>(QStringLiteral("pageCountLabel"))->text().trimmed();
    }

    std::shared_ptr<ReportFixture::MemorySource> source;
    DataReport report;
    std::unique_ptr<ReportPreview> window;
    QStringList errors;
    QString pdfFile;
    int printAsked = 0;
};

QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

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
        QTest::addColumn<int>("zoom"); // PreviewView::Zoom, or a percentage
        QTest::addColumn<qint64>("page");
        QTest::newRow("first, fit width") << 1 << int(PreviewView::Zoom::FitWidth) << qint64(0);
        QTest::newRow("middle, fit page") << 1 << int(PreviewView::Zoom::FitPage) << qint64(135135);
        QTest::newRow("last, two side by side")
            << 2 << int(PreviewView::Zoom::FitPage) << qint64(270270);
        QTest::newRow("zoomed far out") << 1 << 10 << qint64(1000);
        QTest::newRow("zoomed far in") << 1 << 400 << qint64(7);
    }
    void paintsOnlyThePagesInView() {
        QFETCH(int, columns);
        QFETCH(int, zoom);
        QFETCH(qint64, page);
        CountingPages pages(270271);
        PreviewView view(pages);
        view.resize(800, 600);
        view.setColumns(columns);
        if (zoom <= int(PreviewView::Zoom::Custom))
            view.setZoomMode(PreviewView::Zoom(zoom));
        while (zoom > 2 && view.zoom() > zoom / 100.0 + 1e-9)
            view.zoomOut();
        while (zoom > 2 && view.zoom() < zoom / 100.0 - 1e-9)
            view.zoomIn();
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
        if (zoom == 400)
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
        QTest::newRow("Page Down twice") << QStringList{"PageDown", "PageDown"} << 3;
        QTest::newRow("End, Page Up") << QStringList{"End", "PageUp"} << 27;
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
        auto *box = p.window->findChild<QSpinBox *>(QStringLiteral("pageBox"));
        for (const QString &step : steps) {
            if (step.startsWith(u"box ")) {
                box->setValue(step.mid(4).toInt());
            } else if (step.endsWith(u"Action")) {
                p.action(qPrintable(step))->trigger();
            } else {
                const QMap<QString, Qt::Key> keys{{"PageDown", Qt::Key_PageDown},
                                                  {"PageUp", Qt::Key_PageUp},
                                                  {"Home", Qt::Key_Home},
                                                  {"End", Qt::Key_End}};
                QTest::keyClick(view, keys.value(step));
            }
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

    /// Export PDF… through the preview: a file that cannot be written stays as it was and
    /// the user is told; while a long export runs, the progress window counts the pages,
    /// events are handled, and Cancel leaves the old file as it was.
    void exportPdf_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("written") << "written";
        QTest::newRow("read-only file") << "read-only";
        QTest::newRow("cancelled") << "cancel";
    }
    void exportPdf() {
        QFETCH(QString, how);
        QTemporaryDir dir;
        Preview p(0, std::make_shared<SlowSource>(2000)); // 55 pages, 8 slow reads
        p.pdfFile = dir.filePath(QStringLiteral("report.pdf"));
        QFile old(p.pdfFile);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old content") == 11);
        old.close();
        if (how == u"read-only")
            QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        p.window->show();
        QString progressText;
        QTimer looksIn; // runs only once the export hands events on
        looksIn.setSingleShot(true);
        connect(&looksIn, &QTimer::timeout, this, [&] {
            auto *progress =
                p.window->findChild<QProgressDialog *>(QStringLiteral("reportProgress"));
            if (!progress)
                return;
            progressText = progress->labelText();
            if (how == u"cancel")
                progress->cancel();
        });
        looksIn.start(0);
        p.action("exportPdfAction")->trigger();
        if (how == u"read-only") {
            QCOMPARE(p.errors.size(), 1);
            QVERIFY2(p.errors.first().contains(QLatin1String("read-only")),
                     qPrintable(p.errors.first()));
        } else {
            QCOMPARE(p.errors, QStringList());
            QVERIFY2(progressText.contains(QLatin1String(" of 55")), qPrintable(progressText));
        }
        QCOMPARE(contentOf(p.pdfFile).startsWith("%PDF"), how == u"written");
        if (how != u"written")
            QCOMPARE(contentOf(p.pdfFile), QByteArray("old content"));
    }
};

QTEST_MAIN(TestReportPreview)
#include "tst_reportpreview.moc"
