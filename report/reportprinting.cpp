#include "reportprinting.h"

#include "bandlayout.h"
#include "pdfexport.h"

#include <QDir>
#include <QPrinter>
#include <QTemporaryFile>

#include <limits>
#include <stdexcept>

void ReportPrinting::preparePrinter(QPrinter &printer, DataReport &report) {
    printer.setPageLayout(report.pageLayout());
    printer.setFullPage(true);
    printer.setCopyCount(1);
    printer.setCollateCopies(true);
    printer.setDuplex(QPrinter::DuplexNone);
    printer.setPageOrder(QPrinter::FirstPageFirst);
    printer.setPrintRange(QPrinter::AllPages);
    printer.setDocName(QLatin1String(BandLayout::kTitle));
    report.setPageLayout(printer.pageLayout());
    const qint64 pages = report.pageCount();
    if (pages > 0)
        printer.setFromTo(1, int(std::min<qint64>(pages, std::numeric_limits<int>::max())));
}

PrintPlan::Choice ReportPrinting::choiceOf(const QPrinter &printer) {
    PrintPlan::Choice choice;
    if (printer.printRange() == QPrinter::PageRange)
        choice.ranges = printer.pageRanges();
    choice.copies = printer.supportsMultipleCopies() ? 1 : printer.copyCount();
    choice.collate = printer.collateCopies();
    choice.lastPageFirst = printer.pageOrder() == QPrinter::LastPageFirst;
    return choice;
}

ReportPrinting::Route ReportPrinting::route(const QPrinter &printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat)
        return Route::File;
    return PrintSpooler::available() ? Route::Spooler : Route::Direct;
}

bool ReportPrinting::print(DataReport &report, QPrinter &printer,
                           const DataReport::Progress &progress) {
    // Bands placed for another sheet than the printer's would run off the paper.
    report.setPageLayout(printer.pageLayout());
    const std::vector<qint64> plan = PrintPlan::pages(report.pageCount(), choiceOf(printer));
    switch (route(printer)) {
    case Route::File:
        return PdfExport::write(report, printer.outputFileName(), plan, progress);
    case Route::Spooler:
        return spool(report, plan, PrintSpooler::jobFor(printer), progress);
    case Route::Direct:
        break;
    }
    return report.render(printer, plan, [&](qint64 done, qint64 total) {
        if (!progress || progress(done, total))
            return true;
        printer.abort();
        return false;
    });
}

bool ReportPrinting::spool(const DataReport &report, const std::vector<qint64> &pages,
                           const PrintSpooler::Job &job, const DataReport::Progress &progress) {
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/qm-print-XXXXXX.pdf"));
    if (!file.open())
        throw std::runtime_error(QStringLiteral("The report could not be printed: %1")
                                     .arg(file.errorString())
                                     .toStdString());
    if (!PdfExport::paint(report, file, pages, progress))
        return false;
    // A full temporary folder shows as a write error of the file, not of the PDF writer.
    if (!file.flush() || file.error() != QFileDevice::NoError)
        throw std::runtime_error(QStringLiteral("The report could not be printed: %1")
                                     .arg(file.errorString())
                                     .toStdString());
    PrintSpooler::submit(file.fileName(), job);
    return true;
}
