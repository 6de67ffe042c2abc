#pragma once

#include <QRect>
#include <QSize>
#include <QSizeF>

#include <vector>

/// Where the pages of a preview lie: pages of one size in rows of one or two, with a gap
/// around each, at a zoom given in pixels per millimetre.
///
/// The vertical position counts rows in steps, stepsPerRow() to a row, so that the int range
/// of a scroll bar holds any number of pages (a widget cannot be taller than 16,777,215
/// pixels, some 15,000 pages). Pixel positions within the content are 64-bit.
class PreviewGeometry {
public:
    static constexpr int kGap = 12;
    static constexpr int kMaxStepsPerRow = 256;

    struct Placed {
        qint64 page;
        QRect rect; // in the viewport
    };

    PreviewGeometry() = default;
    PreviewGeometry(QSizeF pageMm, qint64 pages, int columns, double pxPerMm);

    /// The zoom at which `columns` pages fill the width of `viewport`, or a whole row of
    /// them fits it.
    static double fitWidth(QSizeF pageMm, int columns, QSize viewport);
    static double fitPage(QSizeF pageMm, int columns, QSize viewport);

    QSize pageSize() const { return m_page; }
    qint64 pageCount() const { return m_pages; }
    int columns() const { return m_columns; }
    qint64 rowCount() const;
    int rowHeight() const { return m_page.height() + kGap; }
    int contentWidth() const;
    int stepsPerRow() const { return m_steps; }

    /// The last step, at which the foot of the last row meets the foot of the viewport.
    int maxStep(int viewportHeight) const;
    /// The step that puts the row of `page` at the top of the viewport.
    int stepOf(qint64 page) const;
    /// The first page of the row at the top of the viewport.
    qint64 pageAt(int step) const;
    /// The pages that show at `step` with the content shifted `x` pixels to the left.
    std::vector<Placed> visible(int step, int x, QSize viewport) const;

private:
    qint64 top(int step) const;

    QSize m_page;
    qint64 m_pages = 0;
    int m_columns = 1;
    int m_steps = 1;
};
