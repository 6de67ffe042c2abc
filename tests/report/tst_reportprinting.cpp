#include "datareport.h"
#include "printplan.h"
#include "reportpreview.h"
#include "reportprinting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "reportfixture.h"
#include "testfiles.h"

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

using Fixture = ReportFixture::Report;

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

    /// The user's road through the printer: Page setup in the preview changes the paper,
    /// then Print… prints, or Export PDF… exports, to a PDF file. The file has as many pages
    /// as the preview counts; every record is in it exactly once, in order, as many to a
    /// page as the sheet holds, under the title and headings and above the footer of every
    /// page; a value too long for its column is cut with "…".
    void everyRecordOnAnyPaper_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<bool>("landscape");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("linesPerPage");
        QTest::newRow("A4 portrait") << int(QPageSize::A4) << false << "printAction" << 37;
        QTest::newRow("A4 landscape") << int(QPageSize::A4) << true << "printAction" << 23;
        QTest::newRow("A5") << int(QPageSize::A5) << false << "printAction" << 23;
        QTest::newRow("A5 landscape") << int(QPageSize::A5) << true << "printAction" << 14;
        QTest::newRow("Letter") << int(QPageSize::Letter) << false << "printAction" << 34;
        QTest::newRow("A4 portrait, exported")
            << int(QPageSize::A4) << false << "exportPdfAction" << 37;
        QTest::newRow("A5, exported") << int(QPageSize::A5) << false << "exportPdfAction" << 23;
    }
    void everyRecordOnAnyPaper() {
        QFETCH(int, paper);
        QFETCH(bool, landscape);
        QFETCH(QString, command);
        QFETCH(int, linesPerPage);
        SKIP_WITHOUT_PDFTOTEXT(ReportFixture::pdftotextMissing());
        constexpr int kRecords = 80;
        constexpr int kLong = 4;
        ReportFixture::Preview p(kRecords);
        p.source->rowsHeld[kLong].texts[RecordRow::Value] = QStringLiteral("W").repeated(40);
        p.pdfFile = m_dir.filePath(QStringLiteral("paper-%1.pdf").arg(QTest::currentDataTag()));
        p.window->prompts().pageSetup = [&](QPrinter &printer) {
            printer.setPageSize(QPageSize(QPageSize::PageSizeId(paper)));
            printer.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
            return true;
        };
        p.window->prompts().print = [&](QPrinter &printer, int) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(p.pdfFile);
            return true;
        };
        p.action("pageSetupAction")->trigger();
        p.action(qPrintable(command))->trigger();
        QCOMPARE(p.errors, QStringList());

        const QStringList pages = ReportFixture::pdfPages(p.pdfFile);
        QCOMPARE(pages.size(), (kRecords + linesPerPage - 1) / linesPerPage);
        QCOMPARE(p.shownCount(), QStringLiteral("/ %1").arg(pages.size()));
        static const QRegularExpression kBands(
            QStringLiteral(
                "The Data Print Title.*\\bNo\\s+Time\\s+DC/AC\\s+Value\\s+Unit\\s+AUTO\\b"
                ".*The Data Print Foot"),
            QRegularExpression::DotMatchesEverythingOption);
        int next = 0;
        for (const QString &page : pages) {
            QVERIFY2(page.contains(kBands), qPrintable(page));
            const QList<QStringList> lines = ReportFixture::detailLines(page);
            QCOMPARE(lines.size(), std::min(linesPerPage, kRecords - next));
            for (QStringList line : lines) {
                QStringList expected = ReportFixture::texts(p.source->rowsHeld[next]);
                QString &value = line[RecordRow::Value];
                if (next == kLong) { // cut with "…", not dropped nor run on
                    QVERIFY2(value.endsWith(QChar(0x2026)) &&
                                 expected[RecordRow::Value].startsWith(value.chopped(1)),
                             qPrintable(value));
                    value = expected[RecordRow::Value];
                }
                QCOMPARE(line, expected);
                ++next;
            }
        }
        QCOMPARE(next, kRecords);
    }

#ifndef Q_OS_WIN
    /// A job for a printer queue is painted whole into a PDF before the print system gets it
    /// (here a stand-in for CUPS's lp on the PATH): a cancelled job sends nothing, and a
    /// queue that refuses the job says why.
    void spooledJobIsWholeOrNothing_data() {
        QTest::addColumn<int>("stopAfter"); // pages; 0: never stopped
        QTest::addColumn<int>("lpExit");
        QTest::newRow("printed") << 0 << 0;
        QTest::newRow("cancelled after page 2") << 2 << 0;
        QTest::newRow("queue refuses") << 0 << 1;
    }
    void spooledJobIsWholeOrNothing() {
        QFETCH(int, stopAfter);
        QFETCH(int, lpExit);
        QTemporaryDir bin;
        const QString job = bin.filePath(QStringLiteral("job.pdf"));
        // Takes the last argument, the file, as the print system would.
        writeFile(
            bin.filePath(QStringLiteral("lp")),
            QStringLiteral("#!/bin/sh\nfor f; do :; done\ncp \"$f\" '%1'\n"
                           "[ %2 = 0 ] || echo 'lp: The printer does not exist.' >&2\nexit %2\n")
                .arg(job)
                .arg(lpExit)
                .toUtf8());
        QVERIFY(QFile::setPermissions(bin.filePath(QStringLiteral("lp")),
                                      QFile::ReadOwner | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });

        Fixture f(100);
        QString thrown;
        bool printed = false;
        try {
            printed = ReportPrinting::spool(
                f.report, {1, 2, 1, 2}, {QStringLiteral("queue")},
                [&](qint64 done, qint64) { return stopAfter == 0 || done < stopAfter; });
        } catch (const std::runtime_error &e) {
            thrown = QString::fromUtf8(e.what());
        }
        QCOMPARE(printed, stopAfter == 0 && lpExit == 0);
        QCOMPARE(thrown.contains(QStringLiteral("The printer does not exist.")), lpExit != 0);
        QCOMPARE(QFile::exists(job), stopAfter == 0);
        if (stopAfter == 0 && !ReportFixture::pdftotextMissing())
            QCOMPARE(firstRecordPerPage(job), (QList<int>{38, 75, 38, 75}));
    }

    /// A user on a machine without a printer prints pages 2 to 3 twice into a PDF file
    /// from the preview's print command, through the standard print dialog. (Windows has
    /// its own print dialog, outside the program's widgets.)
    void printFromThePreviewToAFile() {
        SKIP_WITHOUT_PDFTOTEXT(ReportFixture::pdftotextMissing());
        Fixture f(100);
        ReportPreview preview(f.report);
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
        preview.show();
        preview.findChild<QAction *>(QStringLiteral("printAction"))->trigger();
        if (answered == QLatin1String("unknown print dialog"))
            QSKIP("this print dialog has a printer, or widgets this test does not know");
        QCOMPARE(answered, QStringLiteral("printed"));
        QCOMPARE(minPage, 1);
        QCOMPARE(maxPage, 3);
        QCOMPARE(firstRecordPerPage(path), (QList<int>{38, 75, 38, 75}));
    }
#endif
};

QTEST_MAIN(TestReportPrinting)
#include "tst_reportprinting.moc"
