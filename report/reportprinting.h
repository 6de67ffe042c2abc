#pragma once

#include "datareport.h"
#include "printplan.h"
#include "printspooler.h"

#include <vector>

class QPrinter;

/// Sends a report to a printer the way the print dialog left the printer's settings: its
/// paper, page range, copies, collation and page order.
///
/// A job goes one of three ways (route()). Printed to a file, it is written under a
/// temporary name and takes the file's place only once complete. For a printer queue it is
/// painted into a temporary PDF and handed whole to the print system, so that a cancelled
/// job sends nothing. Only where no print system takes such a file (Windows) is it painted
/// straight to the printer, and a cancelled job then prints the pages painted so far.
class ReportPrinting {
public:
    enum class Route { File, Spooler, Direct };

    /// The report's own settings on `printer`: the report's sheet painted from its corner,
    /// one copy, no duplex, every page (the range offered is 1 to the page count). The
    /// report is then laid out for the sheet the printer took.
    static void preparePrinter(QPrinter &printer, DataReport &report);
    /// What the printer's settings ask for. Copies that the print system makes itself are
    /// not painted again.
    static PrintPlan::Choice choiceOf(const QPrinter &printer);
    /// The way a job on `printer` goes.
    static Route route(const QPrinter &printer);
    /// Lays the report out for the printer's sheet as it is now (the print dialog may have
    /// changed it) and prints the chosen pages. Returns false when `progress` stopped it.
    /// Throws std::runtime_error on failure.
    static bool print(DataReport &report, QPrinter &printer,
                      const DataReport::Progress &progress = {});
    /// Paints `pages` into a temporary PDF and submits it as `job`; nothing is submitted when
    /// `progress` stops it (false) or a page fails.
    static bool spool(const DataReport &report, const std::vector<qint64> &pages,
                      const PrintSpooler::Job &job, const DataReport::Progress &progress = {});
};
