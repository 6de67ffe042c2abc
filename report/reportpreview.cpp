#include "reportpreview.h"

#include "pdfexport.h"
#include "previewview.h"
#include "reportprinting.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include <climits>
#include <exception>

namespace {

/// While printing, the events that piled up are handled this often.
constexpr qint64 kEventPeriodMs = 20;

int clampToInt(qint64 n) {
    return int(std::clamp<qint64>(n, 0, INT_MAX));
}

} // namespace

ReportPreview::ReportPreview(DataReport &report, Prompts prompts, QWidget *parent)
    : QDialog(parent), m_report(report), m_prompts(std::move(prompts)),
      m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setObjectName(QStringLiteral("reportPreview"));
    setWindowTitle(QStringLiteral("Print Preview"));
    ReportPrinting::preparePrinter(*m_printer, m_report);

    m_view = new PreviewView(m_report, this);
    auto *bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("previewToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QStyle *look = style();
    auto icon = [look](const char *theme, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QLatin1String(theme), look->standardIcon(fallback));
    };

    bar->addAction(addCommand(QStringLiteral("firstPageAction"), QStringLiteral("First page"),
                              icon("go-first", QStyle::SP_MediaSkipBackward),
                              [this] { m_view->goToPage(0); }));
    bar->addAction(addCommand(QStringLiteral("previousPageAction"), QStringLiteral("Previous page"),
                              icon("go-previous", QStyle::SP_ArrowBack),
                              [this] { m_view->stepRows(-1); }));
    m_pageBox = new QSpinBox(bar);
    m_pageBox->setObjectName(QStringLiteral("pageBox"));
    m_pageBox->setKeyboardTracking(false);
    m_pageBox->setAlignment(Qt::AlignRight);
    m_pageBox->setButtonSymbols(QAbstractSpinBox::NoButtons);
    connect(m_pageBox, &QSpinBox::valueChanged, this,
            [this](int page) { m_view->goToPage(page - 1); });
    bar->addWidget(m_pageBox);
    m_pageCount = new QLabel(bar);
    m_pageCount->setObjectName(QStringLiteral("pageCountLabel"));
    bar->addWidget(m_pageCount);
    bar->addAction(addCommand(QStringLiteral("nextPageAction"), QStringLiteral("Next page"),
                              icon("go-next", QStyle::SP_ArrowForward),
                              [this] { m_view->stepRows(1); }));
    bar->addAction(addCommand(QStringLiteral("lastPageAction"), QStringLiteral("Last page"),
                              icon("go-last", QStyle::SP_MediaSkipForward),
                              [this] { m_view->goToPage(m_view->pageCount() - 1); }));
    bar->addSeparator();

    const QIcon none;
    auto zoomOnly = [this](PreviewView::Zoom mode) {
        return [this, mode] { m_view->setZoomMode(mode); };
    };
    bar->addAction(addCommand(QStringLiteral("zoomInAction"), QStringLiteral("Zoom in"),
                              QIcon::fromTheme(QStringLiteral("zoom-in")),
                              [this] { m_view->zoomIn(); }));
    bar->addAction(addCommand(QStringLiteral("zoomOutAction"), QStringLiteral("Zoom out"),
                              QIcon::fromTheme(QStringLiteral("zoom-out")),
                              [this] { m_view->zoomOut(); }));
    auto *fits = new QActionGroup(this);
    QAction *fitWidth = addCommand(QStringLiteral("fitWidthAction"), QStringLiteral("Fit width"),
                                   QIcon::fromTheme(QStringLiteral("zoom-fit-width")),
                                   zoomOnly(PreviewView::Zoom::FitWidth));
    QAction *fitPage = addCommand(QStringLiteral("fitPageAction"), QStringLiteral("Fit page"),
                                  QIcon::fromTheme(QStringLiteral("zoom-fit-best")),
                                  zoomOnly(PreviewView::Zoom::FitPage));
    // A custom zoom leaves both fit commands unchecked.
    fits->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction *fit : {fitWidth, fitPage}) {
        fit->setCheckable(true);
        fits->addAction(fit);
        bar->addAction(fit);
    }
    fitWidth->setChecked(true);
    bar->addSeparator();

    auto *sides = new QActionGroup(this);
    for (int columns : {1, 2}) {
        QAction *side = addCommand(
            columns == 1 ? QStringLiteral("singlePageAction") : QStringLiteral("twoPagesAction"),
            columns == 1 ? QStringLiteral("One page") : QStringLiteral("Two pages"), none,
            [this, columns] { m_view->setColumns(columns); });
        side->setCheckable(true);
        side->setChecked(columns == 1);
        sides->addAction(side);
        bar->addAction(side);
    }
    bar->addSeparator();

    bar->addAction(addCommand(QStringLiteral("pageSetupAction"), QStringLiteral("Page setup…"),
                              QIcon::fromTheme(QStringLiteral("document-page-setup")),
                              [this] { pageSetup(); }));
    QAction *print =
        addCommand(QStringLiteral("printAction"), QStringLiteral("Print…"),
                   QIcon::fromTheme(QStringLiteral("document-print")), [this] { printReport(); });
    print->setShortcut(QKeySequence::Print);
    bar->addAction(print);
    bar->addAction(addCommand(QStringLiteral("exportPdfAction"), QStringLiteral("Export PDF…"),
                              QIcon::fromTheme(QStringLiteral("document-export")),
                              [this] { exportPdf(); }));
    bar->addSeparator();
    bar->addAction(addCommand(QStringLiteral("closeAction"), QStringLiteral("Close"),
                              QIcon::fromTheme(QStringLiteral("window-close")),
                              [this] { reject(); }));

    connect(m_view, &PreviewView::zoomModeChanged, this,
            [fitWidth, fitPage](PreviewView::Zoom mode) {
                fitWidth->setChecked(mode == PreviewView::Zoom::FitWidth);
                fitPage->setChecked(mode == PreviewView::Zoom::FitPage);
            });
    connect(m_view, &PreviewView::currentPageChanged, this, &ReportPreview::showCurrentPage);
    // Queued: the failure is found while painting, where no message box may open.
    connect(m_view, &PreviewView::pageFailed, this, &ReportPreview::fail, Qt::QueuedConnection);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_view, 1);
    showCurrentPage(m_view->currentPage());
    m_view->setFocus();

    QSize size(860, 1000);
    if (const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(size);
}

ReportPreview::~ReportPreview() = default;

QAction *ReportPreview::addCommand(const QString &name, const QString &text, const QIcon &icon,
                                   const std::function<void()> &run) {
    auto *action = new QAction(icon, text, this);
    action->setObjectName(name);
    action->setToolTip(QString(text).remove(QChar(0x2026)));
    action->setIconText(text);
    connect(action, &QAction::triggered, this, [run] { run(); });
    addAction(action);
    return action;
}

void ReportPreview::showCurrentPage(qint64 page) {
    const qint64 pages = m_view->pageCount();
    const QSignalBlocker quiet(m_pageBox);
    m_pageBox->setRange(1, std::max(1, clampToInt(pages)));
    m_pageBox->setValue(clampToInt(page + 1));
    m_pageCount->setText(QStringLiteral(" / %1 ").arg(pages));
    const bool atStart = page < m_view->columns();
    const bool atEnd = page / m_view->columns() >= (pages - 1) / m_view->columns();
    for (const char *name : {"firstPageAction", "previousPageAction"})
        findChild<QAction *>(QLatin1String(name))->setEnabled(!atStart);
    for (const char *name : {"nextPageAction", "lastPageAction"})
        findChild<QAction *>(QLatin1String(name))->setEnabled(!atEnd);
}

void ReportPreview::fail(const QString &text) {
    if (m_prompts.error)
        m_prompts.error(text);
    else
        QMessageBox::critical(this, windowTitle(), text);
}

bool ReportPreview::followPrinter() {
    if (PageBands::forPage(m_printer->pageLayout()) == m_report.bands())
        return true;
    // The records at the top stay in view on the new sheet.
    const qint64 record = m_report.bands().firstRecordOf(m_view->currentPage());
    try {
        m_report.setPageLayout(m_printer->pageLayout());
    } catch (const std::exception &e) {
        m_printer->setPageLayout(m_report.pageLayout());
        fail(QString::fromUtf8(e.what()));
        return false;
    }
    m_view->reload(record / m_report.bands().detailLinesPerPage());
    return true;
}

void ReportPreview::pageSetup() {
    if (m_busy)
        return;
    const bool accepted = m_prompts.pageSetup
                              ? m_prompts.pageSetup(*m_printer)
                              : QPageSetupDialog(m_printer.get(), this).exec() == QDialog::Accepted;
    if (accepted)
        followPrinter();
}

void ReportPreview::printReport() {
    if (m_busy)
        return;
    const int pages = clampToInt(m_report.pageCount());
    if (pages < 1)
        return;
    m_printer->setFromTo(1, pages);
    bool accepted = false;
    if (m_prompts.print) {
        accepted = m_prompts.print(*m_printer, pages);
    } else {
        QPrintDialog dialog(m_printer.get(), this);
        dialog.setMinMax(1, pages);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    // The printer's properties in the dialog can change the paper after the range was
    // chosen; the preview follows whatever the dialog left.
    if (!followPrinter() || !accepted)
        return;
    try {
        const ReportPrinting::Route route = ReportPrinting::route(*m_printer);
        if (route == ReportPrinting::Route::File && m_prompts.checkOutput)
            m_prompts.checkOutput(m_printer->outputFileName());
        QString what = QStringLiteral("Printing page %1 of %2…");
        if (route == ReportPrinting::Route::Direct)
            what.prepend(QStringLiteral("Cancel stops the job, but the printer still prints the "
                                        "pages painted until then.\n"));
        withProgress(what, [this](const DataReport::Progress &progress) {
            return ReportPrinting::print(m_report, *m_printer, progress);
        });
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
    }
}

void ReportPreview::exportPdf() {
    if (m_busy)
        return;
    QString path;
    if (m_prompts.pdfFile) {
        path = m_prompts.pdfFile();
    } else {
        QFileDialog dialog(this, QStringLiteral("Export PDF"), QString(),
                           QStringLiteral("PDF File(*.pdf)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("pdf"));
        if (dialog.exec() == QDialog::Accepted)
            path = dialog.selectedFiles().value(0);
    }
    if (path.isEmpty())
        return;
    try {
        withProgress(QStringLiteral("Exporting page %1 of %2…"),
                     [this, &path](const DataReport::Progress &progress) {
                         return PdfExport::write(m_report, path, progress);
                     });
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
    }
}

bool ReportPreview::withProgress(const QString &what,
                                 const std::function<bool(const DataReport::Progress &)> &job) {
    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("reportProgress"));
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kProgressDelayMs);
    progress.setAutoReset(false);
    progress.setLabelText(what.arg(0).arg(m_report.pageCount()));
    progress.setValue(0);
    m_busy = true;
    const auto idle = qScopeGuard([this] { m_busy = false; });
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    return job([&](qint64 done, qint64 total) {
        // Readings keep arriving while a long report prints: their events are handled
        // between pages, and so is a click on Cancel.
        if (sinceEvents.elapsed() >= kEventPeriodMs || done == total) {
            progress.setMaximum(clampToInt(total));
            progress.setLabelText(what.arg(done).arg(total));
            progress.setValue(clampToInt(done));
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
        return !progress.wasCanceled();
    });
}
