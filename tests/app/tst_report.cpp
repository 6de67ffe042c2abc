#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "datareport.h"
#include "pdfexport.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "reportfixture.h"
#include "reportpreview.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A window whose preview hook keeps what it was shown, offered readings as the decoder
/// leaves them.
struct Harness : WindowHarness {
    Harness() : WindowHarness({.show = true}) {
        w->setPreviewHook([this](DataReport &report) {
            ++previews;
            pages = report.pageCount();
            records = report.recordCount();
            if (whilePreviewing)
                whilePreviewing(report);
        });
    }

    void readings(int n) {
        for (int i = 0; i < n; ++i) {
            ++m_serial;
            w->INDataToTable(readingFrame(QString::number(m_serial), float(m_serial),
                                          QStringLiteral("DC"), QStringLiteral("mV"),
                                          QStringLiteral("AUTO")));
        }
    }
    /// The report's text, page by page, written through a PDF file.
    QStringList pdfText(const DataReport &report) {
        const QString file = path(QStringLiteral("report-%1.pdf").arg(++m_pdfs));
        PdfExport::write(report, file);
        return ReportFixture::pdfPages(file, &pdftotextMissing);
    }

    int previews = 0;
    qint64 pages = -1;
    qint64 records = -1;
    bool pdftotextMissing = false;
    std::function<void(DataReport &)> whilePreviewing;

private:
    int m_serial = 0;
    int m_pdfs = 0;
};

const QString kNothingToPrint = QStringLiteral("There are no records to print.");

} // namespace

class TestReport : public QObject {
    Q_OBJECT

private slots:
    void printButtons() {
        Harness h;
        QCOMPARE(control<QToolButton>(*h.w, "SpeedButton2")->toolTip(), QStringLiteral("Print"));
        QVERIFY(!control<QToolButton>(*h.w, "SpeedButton2")->icon().isNull());
        QVERIFY(h.shown("SpeedButton2"));
        QCOMPARE(h.w->findChildren<QToolButton *>(QStringLiteral("SpeedButton1")).size(), 1);
        QVERIFY(!h.shown("SpeedButton1"));
        h.readings(3);
        QTest::mouseClick(control<QToolButton>(*h.w, "SpeedButton2"), Qt::LeftButton);
        QCOMPARE(h.previews, 1);
        control<QToolButton>(*h.w, "SpeedButton1")->click();
        QCOMPARE(h.previews, 2);
        QCOMPARE(h.records, 3);
        QVERIFY(h.errors.isEmpty());
    }

    /// The report holds the records recorded so far, saved or not, 37 to a page.
    void reportOfTheTable_data() {
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("pages");
        QTest::newRow("one") << 1 << 1;
        QTest::newRow("one over a page") << 38 << 2;
    }
    void reportOfTheTable() {
        QFETCH(int, recorded);
        QFETCH(int, pages);
        Harness h;
        h.readings(recorded / 2);
        h.w->RecordSaveClick();
        h.readings(recorded - recorded / 2);
        QStringList text;
        h.whilePreviewing = [&](DataReport &report) { text = h.pdfText(report); };
        h.w->BtPrintClick();
        QCOMPARE(h.previews, 1);
        QCOMPARE(h.records, recorded);
        QCOMPARE(h.pages, pages);
        SKIP_WITHOUT_PDFTOTEXT(h.pdftotextMissing);
        QCOMPARE(text.size(), pages);
        // Each line as the grid shows its record.
        int row = 0;
        for (const QString &page : text)
            for (const QStringList &line : ReportFixture::detailLines(page)) {
                QStringList grid;
                for (int c = 0; c < RecordRow::ColumnCount; ++c)
                    grid << h.w->recordModel()->index(row, c).data().toString();
                QCOMPARE(line, grid);
                ++row;
            }
        QCOMPARE(row, recorded);
    }

    void emptyTablePrintsNothing() {
        Harness h;
        h.w->BtPrintClick();
        QCOMPARE(h.previews, 0);
        QCOMPARE(h.infos, QStringList{kNothingToPrint});
        // Cleared after recording: empty again.
        h.readings(5);
        h.w->RecordNewClick();
        h.infos.clear();
        h.w->BtPrintClick();
        QCOMPARE(h.previews, 0);
        QCOMPARE(h.infos, QStringList{kNothingToPrint});
        QVERIFY(h.errors.isEmpty());
    }

    void closedTableIsAnError() {
        Harness h;
        h.readings(5);
        h.w->recordTable()->close();
        h.w->BtPrintClick();
        QCOMPARE(h.previews, 0);
        QCOMPARE(h.errors.size(), 1);
        QVERIFY2(h.errors.first().contains(QLatin1String("not open")),
                 qPrintable(h.errors.first()));
    }

    /// While the preview is open readings keep arriving (and, were the table cleared, the
    /// report would still print what it showed).
    void reportDoesNotChangeWhileOpen_data() {
        QTest::addColumn<bool>("clearToo");
        QTest::newRow("readings arrive") << false;
        QTest::newRow("readings arrive, table cleared") << true;
    }
    void reportDoesNotChangeWhileOpen() {
        QFETCH(bool, clearToo);
        Harness h;
        h.readings(40);
        QStringList before;
        QStringList after;
        qint64 pagesAfter = -1;
        h.whilePreviewing = [&](DataReport &report) {
            before = h.pdfText(report);
            h.readings(40);
            if (clearToo)
                h.w->RecordNewClick();
            pagesAfter = report.pageCount();
            after = h.pdfText(report);
        };
        h.w->BtPrintClick();
        QCOMPARE(h.pages, 2);
        QCOMPARE(pagesAfter, 2);
        QVERIFY(h.errors.isEmpty());
        if (!clearToo) {
            // The readings were recorded all the same, and the next report has them.
            QCOMPARE(h.w->recordTable()->count(), 80);
            h.whilePreviewing = nullptr;
            h.w->BtPrintClick();
            QCOMPARE(h.records, 80);
        }
        SKIP_WITHOUT_PDFTOTEXT(h.pdftotextMissing);
        QCOMPARE(before.size(), 2);
        QCOMPARE(after, before);
    }

    /// The window's own hook opens the real preview, modal, on the report; its Export PDF…
    /// asks for the file through the window's save dialog and asks before replacing one.
    /// Neither it nor Print… into a file ever writes over the record table.
    void previewWindow_data() {
        QTest::addColumn<bool>("fileThere");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<bool>("theTable");
        QTest::addColumn<bool>("print");
        QTest::newRow("new file") << false << false << false << false;
        QTest::newRow("file there, kept") << true << false << false << false;
        QTest::newRow("file there, replaced") << true << true << false << false;
        QTest::newRow("the record table") << true << true << true << false;
        QTest::newRow("printed to a new file") << false << false << false << true;
        QTest::newRow("printed to the record table") << true << true << true << true;
    }
    void previewWindow() {
        QFETCH(bool, fileThere);
        QFETCH(bool, replace);
        QFETCH(bool, theTable);
        QFETCH(bool, print);
        WindowHarness h;
        for (int i = 0; i < 50; ++i) {
            h.w->INDataToTable(readingFrame(QString::number(i)));
        }
        h.w->RecordSaveClick();
        h.nextFile = theTable ? h.w->recordTable()->fileName() : h.path(QStringLiteral("list.pdf"));
        if (fileThere && !theTable)
            QVERIFY(ReportFixture::writeOld(h.nextFile));
        h.answer = replace;
        QString shown;
        QTimer::singleShot(0, [&] {
            auto *preview = qobject_cast<ReportPreview *>(QApplication::activeModalWidget());
            if (!preview) {
                shown = QStringLiteral("no preview");
                return;
            }
            shown =
                preview->windowTitle() + QLatin1Char(' ') +
                preview->findChild<QLabel *>(QStringLiteral("pageCountLabel"))->text().trimmed();
            // The print dialog's Print to File, answered as a user would.
            preview->prompts().print = [&](QPrinter &printer, int) {
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(h.nextFile);
                return true;
            };
            preview
                ->findChild<QAction *>(print ? QStringLiteral("printAction")
                                             : QStringLiteral("exportPdfAction"))
                ->trigger();
            preview->reject();
        });
        h.w->BtPrintClick();
        QCOMPARE(shown, QStringLiteral("Print Preview / 2"));
        QCOMPARE(h.dialogs.size(), print ? 0 : 1);
        QCOMPARE(h.questions.size(), fileThere && !theTable && !print ? 1 : 0);
        QCOMPARE(ReportFixture::contentOf(h.nextFile).startsWith("%PDF"),
                 !theTable && (!fileThere || replace));
        QCOMPARE(h.errors, theTable ? QStringList{"Table in use: " + h.nextFile} : QStringList());
        QCOMPARE(h.w->recordTable()->count(), 50);
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
#include "windowcontrols.h"
