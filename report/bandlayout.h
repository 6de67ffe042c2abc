#pragma once

#include <QtGlobal>

#include <array>

/// The design of the printed list of records, drawn for one A4 portrait sheet: where each
/// band sits and what it says. PageBands places these bands on the sheet actually printed on
/// and pages the records.
///
/// Lengths are whole hundredths of a millimetre, the precision of the design, so the page
/// arithmetic never depends on floating-point rounding; renderers convert them to their
/// device's units. Band tops are given from the top of the sheet, text positions from the
/// top-left corner of their band, whose left edge is the left margin.
class BandLayout {
public:
    /// A length in hundredths of a millimetre.
    using Hmm = int;

    static constexpr Hmm kPaperWidth = 21000;
    static constexpr Hmm kPaperHeight = 29700;
    static constexpr Hmm kMargin = 1000;
    static constexpr Hmm kBandWidth = 18997;
    static constexpr Hmm kPageHeaderHeight = 1058;
    static constexpr Hmm kColumnHeaderHeight = 1058;
    static constexpr Hmm kDetailHeight = 661;
    static constexpr Hmm kPageFooterHeight = 1058;

    static constexpr const char *kTitle = "The Data Print Title";
    /// The title is centred across the band; this is its top.
    static constexpr Hmm kTitleTop = 212;
    static constexpr Hmm kHeadingTop = 423;
    static constexpr Hmm kFieldTop = 212;
    static constexpr const char *kFoot = "The Data Print Foot";
    static constexpr Hmm kFootLeft = 847;
    static constexpr Hmm kFootTop = 423;

    /// One column of the list, in the order of the record's fields (No, Time, DC/AC, Value,
    /// Unit, AUTO). Two fields do not sit exactly under their headings. `widest` is the
    /// widest text recording writes into the field (numbers run up to the largest record
    /// limit); a sheet must leave room for it.
    struct Column {
        const char *heading;
        Hmm headingLeft;
        Hmm fieldLeft;
        const char *widest;
    };
    static constexpr std::array<Column, 6> kColumns{{{"No", 847, 847, "10000000"},
                                                     {"Time", 3387, 3387, "00:00:00"},
                                                     {"DC/AC", 6429, 6562, "DC"},
                                                     {"Value", 9948, 9948, "-0.0000"},
                                                     {"Unit", 13229, 13123, "MHz"},
                                                     {"AUTO", 16298, 16298, "MANU"}}};

    // Band tops from the top of the sheet. The footer sits at the foot of the printable
    // area, however few detail lines the page has.
    static constexpr Hmm pageHeaderTop() { return kMargin; }
    static constexpr Hmm columnHeaderTop() { return pageHeaderTop() + kPageHeaderHeight; }
    static constexpr Hmm detailTop(int line) {
        return columnHeaderTop() + kColumnHeaderHeight + line * kDetailHeight;
    }
    static constexpr Hmm pageFooterTop() { return kPaperHeight - kMargin - kPageFooterHeight; }
    /// The right edge of every band, from the left of the sheet.
    static constexpr Hmm bandRight() { return kMargin + kBandWidth; }
};
