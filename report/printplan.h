#pragma once

#include <QPageRanges>

#include <vector>

/// Which pages of a report go to the printer, and in what order, for the choices of the
/// print dialog: a page range, copies collated or not, first or last page first.
class PrintPlan {
public:
    struct Choice {
        /// Pages from 1; empty: every page.
        QPageRanges ranges;
        /// Copies the program must paint itself (1 when the print system makes them).
        int copies = 1;
        bool collate = true;
        bool lastPageFirst = false;
    };

    /// Page indexes from 0, in printing order. Pages of the range beyond the report are
    /// left out.
    static std::vector<qint64> pages(qint64 pageCount, const Choice &choice);
};
