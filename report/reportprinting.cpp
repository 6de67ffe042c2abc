#include "reportprinting.h"

#include "bandlayout.h"

#include <QPrinter>

#include <limits>

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

bool ReportPrinting::print(DataReport &report, QPrinter &printer,
                           const DataReport::Progress &progress) {
    // Bands placed for another sheet than the printer's would run off the paper.
    report.setPageLayout(printer.pageLayout());
    const std::vector<qint64> plan = PrintPlan::pages(report.pageCount(), choiceOf(printer));
    return report.render(printer, plan, [&](qint64 done, qint64 total) {
        if (!progress || progress(done, total))
            return true;
        printer.abort();
        return false;
    });
}
