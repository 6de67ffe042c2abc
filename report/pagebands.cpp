#include "pagebands.h"

#include <QPageLayout>
#include <QRectF>

#include <algorithm>
#include <cmath>

namespace {

using Hmm = PageBands::Hmm;

/// The width the design's columns are spread over: A4 less its two margins.
constexpr Hmm kDesignWidth = BandLayout::kPaperWidth - 2 * BandLayout::kMargin;

/// `design`, a length across the design's sheet, on a printable width of `width`. Exact on
/// the design's own width.
Hmm across(Hmm design, Hmm width) {
    return Hmm((qint64(design) * width + kDesignWidth / 2) / kDesignWidth);
}

Hmm toHmm(double mm) {
    return Hmm(std::lround(mm * 100.0));
}

} // namespace

PageBands::PageBands(Hmm width, Hmm height, Hmm unprintable)
    : m_width(width), m_height(height), m_margin(std::max(BandLayout::kMargin, unprintable)),
      m_bandWidth(0), m_lines(0), m_footLeft(0) {
    const Hmm printable = std::max(0, m_width - 2 * m_margin);
    m_bandWidth = across(BandLayout::kBandWidth, printable);
    for (std::size_t c = 0; c < BandLayout::kColumns.size(); ++c) {
        m_headingLeft[c] = m_margin + across(BandLayout::kColumns[c].headingLeft, printable);
        m_fieldLeft[c] = m_margin + across(BandLayout::kColumns[c].fieldLeft, printable);
    }
    m_footLeft = m_margin + across(BandLayout::kFootLeft, printable);
    const Hmm room = pageFooterTop() - detailTop(0);
    m_lines = room > 0 ? room / BandLayout::kDetailHeight : 0;
}

PageBands PageBands::forPage(const QPageLayout &layout) {
    QPageLayout mm(layout);
    mm.setUnits(QPageLayout::Millimeter);
    const QRectF sheet = mm.fullRect();
    const QMarginsF least = mm.minimumMargins();
    const double unprintable =
        std::max({least.left(), least.top(), least.right(), least.bottom(), 0.0});
    return PageBands(toHmm(sheet.width()), toHmm(sheet.height()), toHmm(unprintable));
}

namespace {

Hmm roomTo(Hmm left, Hmm next, Hmm bandRight, bool last) {
    return std::max(0, last ? bandRight - left : next - left - PageBands::kColumnGap);
}

} // namespace

Hmm PageBands::headingRoom(int column) const {
    const std::size_t c = std::size_t(column);
    const bool last = c + 1 == m_headingLeft.size();
    return roomTo(m_headingLeft[c], last ? 0 : m_headingLeft[c + 1], bandRight(), last);
}

Hmm PageBands::fieldRoom(int column) const {
    const std::size_t c = std::size_t(column);
    const bool last = c + 1 == m_fieldLeft.size();
    return roomTo(m_fieldLeft[c], last ? 0 : m_fieldLeft[c + 1], bandRight(), last);
}

qint64 PageBands::pageCount(qint64 records) const {
    return records <= 0 || m_lines <= 0 ? 0 : (records + m_lines - 1) / m_lines;
}

int PageBands::linesOnPage(qint64 page, qint64 records) const {
    if (page < 0 || page >= pageCount(records))
        return 0;
    return int(std::min<qint64>(m_lines, records - firstRecordOf(page)));
}
