#pragma once

#include "bandlayout.h"

#include <QtGlobal>

class QPageLayout;

/// The bands of BandLayout placed on one actual sheet: the printer's paper in its
/// orientation. Band heights and the font stay as designed, so the number of detail lines a
/// page holds follows the sheet's height; the column positions scale with the printable
/// width; the footer stays at the foot of the sheet. On A4 portrait every position is the
/// design's own, to the hundredth of a millimetre.
///
/// This is the one place of the page arithmetic: the preview, the printer and PDF files all
/// page the records through it. Lengths are hundredths of a millimetre from the sheet's
/// top-left corner.
class PageBands {
public:
    using Hmm = BandLayout::Hmm;

    /// The least room between a text and the next column, so that a cut text never runs
    /// into its neighbour.
    static constexpr Hmm kColumnGap = 100;

    /// The design's own sheet, A4 portrait.
    PageBands() : PageBands(BandLayout::kPaperWidth, BandLayout::kPaperHeight) {}
    /// A sheet `width` wide and `height` high (as it lies), whose printer cannot print
    /// within `unprintable` of an edge: the design's margins grow to that where needed.
    PageBands(Hmm width, Hmm height, Hmm unprintable = 0);
    /// The sheet of a page layout (its paper, orientation and the printer's least margins).
    static PageBands forPage(const QPageLayout &layout);

    Hmm paperWidth() const { return m_width; }
    Hmm paperHeight() const { return m_height; }
    Hmm margin() const { return m_margin; }

    Hmm bandLeft() const { return m_margin; }
    Hmm bandWidth() const { return m_bandWidth; }
    Hmm bandRight() const { return m_margin + m_bandWidth; }
    Hmm pageHeaderTop() const { return m_margin; }
    Hmm columnHeaderTop() const { return pageHeaderTop() + BandLayout::kPageHeaderHeight; }
    Hmm detailTop(int line) const {
        return columnHeaderTop() + BandLayout::kColumnHeaderHeight +
               line * BandLayout::kDetailHeight;
    }
    Hmm pageFooterTop() const { return m_height - m_margin - BandLayout::kPageFooterHeight; }

    /// Left edges of a column's heading and field texts, from the sheet's left edge.
    Hmm headingLeft(int column) const { return m_headingLeft[std::size_t(column)]; }
    Hmm fieldLeft(int column) const { return m_fieldLeft[std::size_t(column)]; }
    /// How wide a heading or field text may be: up to the next column less the gap, the
    /// last column up to the band's right edge.
    Hmm headingRoom(int column) const;
    Hmm fieldRoom(int column) const;
    /// Left edge of the footer's text, from the sheet's left edge.
    Hmm footLeft() const { return m_footLeft; }

    /// Detail lines between the column header and the footer; 0 on a sheet too small for
    /// even one.
    int detailLinesPerPage() const { return m_lines; }
    /// Pages of a report of `records` records; none for an empty table or a sheet that
    /// holds no line.
    qint64 pageCount(qint64 records) const;
    /// Position of the first record of `page` (both from 0).
    qint64 firstRecordOf(qint64 page) const { return page * m_lines; }
    /// Detail lines on `page` of a report of `records` records.
    int linesOnPage(qint64 page, qint64 records) const;

    bool operator==(const PageBands &other) const = default;

private:
    Hmm m_width;
    Hmm m_height;
    Hmm m_margin;
    Hmm m_bandWidth;
    int m_lines;
    Hmm m_footLeft;
    std::array<Hmm, BandLayout::kColumns.size()> m_headingLeft{};
    std::array<Hmm, BandLayout::kColumns.size()> m_fieldLeft{};
};
