#include "bandlayout.h"
#include "datareport.h"
#include "printplan.h"
#include "reportpreview.h"
#include "reportprinting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "reportfixture.h"

#include <memory>

Q_DECLARE_METATYPE(std::vector<qint64>)

namespace {

/// The number of the first record on each page of a PDF, page by page.
QList<int> firstRecordPerPage(const QString &path) {
    QList<int> firsts;
    for (const QString &page : ReportFixture::pdfPages(path)) {
        const QList<QStringList> lines = ReportFixture::detailLines(page);
        firsts << (lines.isEmpty() ? -1 : lines.first().first().toInt());
    }
    return firsts;
}

bool pdftotextMissing() {
    bool missing = false;
    ReportFixture::pdfPages(QString(), &missing);
    return missing;
}

struct Fixture {
    explicit Fixture(qint64 records)
        : report(std::make_shared<ReportFixture::MemorySource>(records)) {}
    DataReport report;
};

} // namespace

class TestReportPrinting : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void plan_data() {
        QTest::addColumn<qint64>("pageCount");
        QTest::addColumn<QString>("ranges");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("collate");
        QTest::addColumn<bool>("lastFirst");
        QTest::addColumn<std::vector<qint64>>("expected");
        using V = std::vector<qint64>;
        QTest::newRow("all") << qint64(3) << QString() << 1 << true << false << V{0, 1, 2};
        QTest::newRow("none to print") << qint64(0) << QString() << 2 << true << false << V{};
        QTest::newRow("range") << qint64(5) << "2-3" << 1 << true << false << V{1, 2};
        QTest::newRow("range past the end") << qint64(3) << "2-9" << 1 << true << false << V{1, 2};
        QTest::newRow("range beyond") << qint64(3) << "7-9" << 1 << true << false << V{};
        QTest::newRow("pieces") << qint64(6) << "1,4-5" << 1 << true << false << V{0, 3, 4};
        QTest::newRow("collated copies")
            << qint64(2) << QString() << 2 << true << false << V{0, 1, 0, 1};
        QTest::newRow("uncollated copies")
            << qint64(2) << QString() << 2 << false << false << V{0, 0, 1, 1};
        QTest::newRow("last page first")
            << qint64(3) << "1-2" << 2 << true << true << V{1, 0, 1, 0};
    }
    void plan() {
        QFETCH(qint64, pageCount);
        QFETCH(QString, ranges);
        QFETCH(int, copies);
        QFETCH(bool, collate);
        QFETCH(bool, lastFirst);
        QFETCH(std::vector<qint64>, expected);
        PrintPlan::Choice choice;
        choice.ranges = QPageRanges::fromString(ranges);
        choice.copies = copies;
        choice.collate = collate;
        choice.lastPageFirst = lastFirst;
        QCOMPARE(PrintPlan::pages(pageCount, choice), expected);
    }

    void printerGetsTheReportsSettings() {
        Fixture f(100);
        QPrinter printer(QPrinter::HighResolution);
        printer.setCopyCount(4);
        printer.setPageOrientation(QPageLayout::Landscape);
        ReportPrinting::preparePrinter(printer, f.report);
        const QPageLayout layout = printer.pageLayout();
        QCOMPARE(layout.pageSize().id(), QPageSize::A4);
        QCOMPARE(layout.orientation(), QPageLayout::Portrait);
        QCOMPARE(layout.margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
        QVERIFY(printer.fullPage());
        QCOMPARE(printer.copyCount(), 1);
        QCOMPARE(printer.printRange(), QPrinter::AllPages);
        QCOMPARE(printer.fromPage(), 1);
        QCOMPARE(printer.toPage(), 3);
    }

    void previewShowsEveryPage_data() {
        QTest::addColumn<qint64>("records");
        QTest::newRow("one") << qint64(1);
        QTest::newRow("a page") << qint64(37);
        QTest::newRow("two pages") << qint64(38);
        QTest::newRow("28 pages") << qint64(1000);
    }
    void previewShowsEveryPage() {
        QFETCH(qint64, records);
        Fixture f(records);
        QPrinter printer(QPrinter::HighResolution);
        QStringList errors;
        const auto dialog = ReportPreview::makeDialog(f.report, printer, nullptr,
                                                      [&](const QString &text) { errors << text; });
        auto *preview = dialog->findChild<QPrintPreviewWidget *>();
        QVERIFY(preview);
        preview->updatePreview();
        QCOMPARE(qint64(preview->pageCount()), BandLayout::pageCount(records));
        QVERIFY(errors.isEmpty());
        // The bands are portrait: the preview does not offer turning the paper.
        int turns = 0;
        for (QAction *action : dialog->findChildren<QAction *>())
            if (action->text() == u"Landscape" || action->text() == u"Portrait")
                turns += action->isVisible() ? 100 : 1;
        QCOMPARE(turns, 2);
        QCOMPARE(preview->orientation(), QPageLayout::Portrait);
    }

    void previewReportsAFailedPage() {
        auto source = std::make_shared<ReportFixture::MemorySource>(100);
        const DataReport report(source);
        source->rowsHeld.resize(40);
        QPrinter printer(QPrinter::HighResolution);
        QStringList errors;
        const auto dialog = ReportPreview::makeDialog(report, printer, nullptr,
                                                      [&](const QString &text) { errors << text; });
        dialog->findChild<QPrintPreviewWidget *>()->updatePreview();
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(QLatin1String("could not be read")),
                 qPrintable(errors.first()));
    }

    /// A user on a machine without a printer prints pages 2 to 3 twice into a PDF file
    /// from the preview's print command.
    void printFromThePreviewToAFile() {
        if (pdftotextMissing())
            QSKIP("pdftotext (poppler-utils) is not installed; ./qm.sh test installs it");
        Fixture f(100);
        QPrinter printer(QPrinter::HighResolution);
        const auto dialog = ReportPreview::makeDialog(f.report, printer, nullptr, {});
        auto *print = dialog->findChild<QAction *>(QStringLiteral("printAction"));
        QVERIFY2(print, "the preview's print command was not taken over");
        const QString path = m_dir.filePath(QStringLiteral("from-preview.pdf"));

        QString answered;
        int minPage = 0;
        int maxPage = 0;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
            if (!box) {
                answered = QStringLiteral("no print dialog");
                return;
            }
            minPage = box->minPage();
            maxPage = box->maxPage();
            auto *file = box->findChild<QLineEdit *>(QStringLiteral("filename"));
            auto *range = box->findChild<QRadioButton *>(QStringLiteral("printRange"));
            auto *from = box->findChild<QSpinBox *>(QStringLiteral("from"));
            auto *to = box->findChild<QSpinBox *>(QStringLiteral("to"));
            auto *copies = box->findChild<QSpinBox *>(QStringLiteral("copies"));
            auto *collate = box->findChild<QCheckBox *>(QStringLiteral("collate"));
            if (!file || !file->isEnabled() || !range || !from || !to || !copies || !collate) {
                answered = QStringLiteral("unknown print dialog");
                box->reject();
                return;
            }
            file->setText(path);
            range->setChecked(true);
            from->setValue(2);
            to->setValue(3);
            copies->setValue(2);
            collate->setChecked(true);
            answered = QStringLiteral("printed");
            box->accept();
        });
        dialog->show();
        print->trigger();
        if (answered == QLatin1String("unknown print dialog"))
            QSKIP("this print dialog has a printer, or widgets this test does not know");
        QCOMPARE(answered, QStringLiteral("printed"));
        QCOMPARE(minPage, 1);
        QCOMPARE(maxPage, 3);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(firstRecordPerPage(path), (QList<int>{38, 75, 38, 75}));
    }
};

QTEST_MAIN(TestReportPrinting)
#include "tst_reportprinting.moc"
