#pragma once

#include "datareport.h"
#include "printplan.h"

class QPrinter;

/// Sends a report to a printer the way the print dialog left the printer's settings: its
/// paper, page range, copies, collation and page order.
class ReportPrinting {
public:
    /// The report's own settings on `printer`: the report's sheet painted from its corner,
    /// one copy, no duplex, every page (the range offered is 1 to the page count). The
    /// report is then laid out for the sheet the printer took.
    static void preparePrinter(QPrinter &printer, DataReport &report);
    /// What the printer's settings ask for. Copies that the print system makes itself are
    /// not painted again.
    static PrintPlan::Choice choiceOf(const QPrinter &printer);
    /// Lays the report out for the printer's sheet as it is now (the print dialog may have
    /// changed it) and paints the chosen pages. Returns false when `progress` stopped it:
    /// the print job is then aborted. Throws std::runtime_error on failure.
    static bool print(DataReport &report, QPrinter &printer,
                      const DataReport::Progress &progress = {});
};
