#pragma once

#include "pagebands.h"
#include "pagesource.h"
#include "recordrow.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QPagedPaintDevice;
class ReportRowSource;

/// The printed list of records: the bands laid out on a sheet (PageBands) and filled with
/// the records of a row source, painted page by page onto any paint device. One piece of
/// painting feeds the preview, the printer and PDF files, so what is previewed is what is
/// printed.
///
/// The report is laid out for one page layout at a time, A4 portrait until told otherwise;
/// the page count follows it. Each record takes one line: a text longer than its column is
/// cut with "…". The records are read from the source in windows as pages ask for them; a
/// report holds one window, whatever the size of the table.
class DataReport : public PageSource {
public:
    static constexpr int kWindowRows = 256;

    /// Told after each page painted (count done, count in all); false stops the run.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    explicit DataReport(std::shared_ptr<const ReportRowSource> source);

    qint64 recordCount() const { return m_records; }
    qint64 pageCount() const override { return m_bands.pageCount(m_records); }
    QSizeF pageSizeMm() const override;

    /// Lays the report out for `layout`'s sheet. Throws std::runtime_error, leaving the
    /// layout as it was, on a sheet too small for a single record or too narrow for the
    /// widest text of a column.
    void setPageLayout(const QPageLayout &layout);
    /// The layout of the sheet, painted from its corner (full-page mode).
    const QPageLayout &pageLayout() const { return m_pageLayout; }
    const PageBands &bands() const { return m_bands; }

    /// Paints page `page` (from 0). Throws std::runtime_error when its records cannot be
    /// read; a page outside the report paints nothing.
    void paintPage(QPainter &painter, qint64 page) const override;
    /// Paints `pages` (from 0, in the given order) on `device`, a new sheet for each, and
    /// tells `progress` after each. Returns false when progress stopped it. Throws
    /// std::runtime_error when the device fails or records cannot be read.
    bool render(QPagedPaintDevice &device, const std::vector<qint64> &pages,
                const Progress &progress = {}) const;
    /// Every page, in order.
    std::vector<qint64> allPages() const;

    /// The design's sheet: A4 portrait with 10 mm margins, painted from the sheet's corner.
    static QPageLayout designPageLayout();
    /// Arial 10 point, or the closest sans-serif face the machine has.
    static QFont font();
    /// How wide `text` prints in font(), in millimetres.
    static double textWidthMm(const QString &text);

private:
    /// The records of `page`, through the window.
    QList<RecordRow> recordsOf(qint64 page) const;

    std::shared_ptr<const ReportRowSource> m_source;
    qint64 m_records = 0;
    QPageLayout m_pageLayout;
    PageBands m_bands;
    mutable qint64 m_windowFirst = 0;
    mutable QList<RecordRow> m_window;
};
