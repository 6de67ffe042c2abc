#pragma once

#include "recordrow.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QString>

#include <memory>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class ReportRowSource;

/// The printed list of records: the bands of BandLayout filled with the records of a row
/// source, painted page by page onto any paint device. One piece of painting feeds the
/// preview, the printer, PDF files and images, so what is previewed is what is printed.
///
/// Pages are painted with the painter's origin at the sheet's top-left corner, in the
/// device's own units (its resolution turns millimetres into device units). The records are
/// read from the source in windows of kWindowRows as pages ask for them; a report holds one
/// window, whatever the size of the table.
class DataReport {
public:
    static constexpr int kWindowRows = 256;

    explicit DataReport(std::shared_ptr<const ReportRowSource> source);

    qint64 recordCount() const { return m_records; }
    qint64 pageCount() const;

    /// Paints page `page` (from 0). Throws std::runtime_error when its records cannot be
    /// read; a page outside the report paints nothing.
    void paintPage(QPainter &painter, qint64 page) const;
    /// Paints `pages` (from 0, in the given order) on `device`, a new sheet for each.
    /// Throws std::runtime_error when the device fails or records cannot be read.
    void render(QPagedPaintDevice &device, const std::vector<qint64> &pages) const;
    /// Every page, in order.
    std::vector<qint64> allPages() const;
    /// Writes every page to a PDF file at `path`. Throws std::runtime_error on failure.
    void writePdf(const QString &path) const;

    /// A4 portrait with 10 mm margins, painted from the sheet's corner.
    static QPageLayout pageLayout();
    /// Arial 10 point, or the closest sans-serif face the machine has.
    static QFont font();

private:
    /// The records of `page`, through the window.
    QList<RecordRow> recordsOf(qint64 page) const;

    std::shared_ptr<const ReportRowSource> m_source;
    qint64 m_records = 0;
    mutable qint64 m_windowFirst = 0;
    mutable QList<RecordRow> m_window;
};
