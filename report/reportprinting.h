#pragma once

#include "printplan.h"

class DataReport;
class QPrinter;

/// Sends a report to a printer the way the print dialog left the printer's settings: page
/// range, copies, collation and page order.
class ReportPrinting {
public:
    /// The report's own settings: A4 portrait with its margins, painted from the sheet's
    /// corner, one copy, no duplex, every page (the range offered is 1 to the page count).
    static void preparePrinter(QPrinter &printer, const DataReport &report);
    /// What the printer's settings ask for. Copies that the print system makes itself are
    /// not painted again.
    static PrintPlan::Choice choiceOf(const QPrinter &printer);
    /// Paints the chosen pages on `printer`. Throws std::runtime_error on failure.
    static void print(const DataReport &report, QPrinter &printer);
};
