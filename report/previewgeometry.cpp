#include "previewgeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

PreviewGeometry::PreviewGeometry(QSizeF pageMm, qint64 pages, int columns, double pxPerMm)
    : m_page(std::max(1, int(std::lround(pageMm.width() * pxPerMm))),
             std::max(1, int(std::lround(pageMm.height() * pxPerMm)))),
      m_pages(std::max<qint64>(0, pages)), m_columns(std::clamp(columns, 1, 2)) {
    m_steps = int(std::clamp<qint64>(INT_MAX / (rowCount() + 1), 1, kMaxStepsPerRow));
}

double PreviewGeometry::fitWidth(QSizeF pageMm, int columns, QSize viewport) {
    const int room = viewport.width() - (columns + 1) * kGap;
    return std::max(1, room) / (columns * std::max(1.0, pageMm.width()));
}

double PreviewGeometry::fitPage(QSizeF pageMm, int columns, QSize viewport) {
    const int room = viewport.height() - 2 * kGap;
    return std::min(fitWidth(pageMm, columns, viewport),
                    std::max(1, room) / std::max(1.0, pageMm.height()));
}

qint64 PreviewGeometry::rowCount() const {
    return (m_pages + m_columns - 1) / m_columns;
}

int PreviewGeometry::contentWidth() const {
    return m_columns * m_page.width() + (m_columns + 1) * kGap;
}

qint64 PreviewGeometry::top(int step) const {
    return qint64(step) * rowHeight() / m_steps;
}

int PreviewGeometry::maxStep(int viewportHeight) const {
    const qint64 content = rowCount() * rowHeight() + kGap;
    const qint64 beyond = std::max<qint64>(0, content - viewportHeight);
    return int((beyond * m_steps + rowHeight() - 1) / rowHeight());
}

int PreviewGeometry::stepOf(qint64 page) const {
    return int(std::clamp<qint64>(page, 0, std::max<qint64>(0, m_pages - 1)) / m_columns * m_steps);
}

qint64 PreviewGeometry::pageAt(int step) const {
    const qint64 row = std::min(top(step) / rowHeight(), std::max<qint64>(0, rowCount() - 1));
    return row * m_columns;
}

std::vector<PreviewGeometry::Placed> PreviewGeometry::visible(int step, int x,
                                                              QSize viewport) const {
    std::vector<Placed> shown;
    const qint64 offset = top(step);
    const int left = std::max(0, (viewport.width() - contentWidth()) / 2) + kGap - x;
    for (qint64 row = offset / rowHeight(); row < rowCount(); ++row) {
        const qint64 y = row * rowHeight() + kGap - offset;
        if (y >= viewport.height())
            break;
        for (int c = 0; c < m_columns; ++c) {
            const qint64 page = row * m_columns + c;
            if (page >= m_pages)
                break;
            shown.push_back({page, QRect(left + c * (m_page.width() + kGap), int(y), m_page.width(),
                                         m_page.height())});
        }
    }
    return shown;
}
