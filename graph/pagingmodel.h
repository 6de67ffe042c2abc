#pragma once

#include <cstdint>
#include <optional>

/// The paging rules of the graph: how many pages its points make, which page is shown and
/// which points it holds, the horizontal range that page is drawn over, and what each paging
/// command does to the page, the paging buttons and the following of new readings.
///
/// It knows only counts, never the points themselves, so every answer costs the same with a
/// million points as with ten. Points sit at positions 0, 1, 2, ... in arrival order; pages are
/// numbered from 1. The chart, the paging buttons and the page box all read this one class.
class PagingModel {
public:
    using Count = std::int64_t;

    static constexpr Count kDesignPageSize = 100;

    enum class Command { First, Previous, Next, Last };

    /// What a paging command leaves behind. First and Previous are one pair of buttons, Next
    /// and Last the other; an empty optional leaves that pair as it was.
    struct CommandOutcome {
        std::optional<bool> firstPreviousEnabled;
        std::optional<bool> nextLastEnabled;
        bool followLastPage = false;
        /// The number the page box shows afterwards.
        Count pageNumber = 1;
    };

    /// The horizontal axis of the shown page, in point positions.
    struct KeyRange {
        double lower = 0.0;
        double upper = 0.0;
        bool operator==(const KeyRange &) const = default;
    };

    Count pointCount() const { return m_points; }
    /// A negative count counts as none.
    void setPointCount(Count points);
    void addPoint() { ++m_points; }

    /// Points per page; 0 means one page holding every point.
    Count pageSize() const { return m_pageSize; }
    /// A negative size is refused with std::invalid_argument and the old size stays. A page
    /// beyond the new page count drops to the last page.
    void setPageSize(Count size);

    /// False: a partly filled last page keeps nearly the horizontal scale of a full page.
    bool scaleLastPage() const { return m_scaleLastPage; }
    void setScaleLastPage(bool scale) { m_scaleLastPage = scale; }

    /// The stored page. Fewer points (a New) do not move it, so it may lie beyond the points.
    Count page() const { return m_page; }
    /// Stores `page` clamped into 1 .. pageCount().
    void setPage(Count page);
    /// ceil(points / page size), at least 1; 1 without paging.
    Count pageCount() const;

    /// The page on screen: the stored page, or, when that lies beyond the points, the last
    /// complete page (the first when none is complete).
    Count shownPage() const;
    /// Positions of the first and last point of the shown page (last < first: no points).
    Count firstShown() const;
    Count lastShown() const;
    KeyRange keyRange() const;

    /// Runs a paging command: the page change through the clamp, the buttons it enables or
    /// disables, and whether new readings go on turning to the last page.
    CommandOutcome run(Command command);

private:
    Count m_points = 0;
    Count m_pageSize = kDesignPageSize;
    Count m_page = 1;
    bool m_scaleLastPage = false;
};
