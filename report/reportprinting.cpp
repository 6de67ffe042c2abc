#include "reportprinting.h"

#include "bandlayout.h"
#include "datareport.h"

#include <QPrinter>

#include <limits>

void ReportPrinting::preparePrinter(QPrinter &printer, const DataReport &report) {
    printer.setPageLayout(DataReport::pageLayout());
    printer.setFullPage(true);
    printer.setCopyCount(1);
    printer.setCollateCopies(true);
    printer.setDuplex(QPrinter::DuplexNone);
    printer.setPageOrder(QPrinter::FirstPageFirst);
    printer.setPrintRange(QPrinter::AllPages);
    const qint64 pages = report.pageCount();
    if (pages > 0)
        printer.setFromTo(1, int(std::min<qint64>(pages, std::numeric_limits<int>::max())));
    printer.setDocName(QLatin1String(BandLayout::kTitle));
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

void ReportPrinting::print(const DataReport &report, QPrinter &printer) {
    report.render(printer, PrintPlan::pages(report.pageCount(), choiceOf(printer)));
}
