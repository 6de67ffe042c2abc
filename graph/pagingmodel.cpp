#include "pagingmodel.h"

#include <algorithm>
#include <stdexcept>

void PagingModel::setPointCount(Count points) {
    m_points = std::max<Count>(points, 0);
}

void PagingModel::setPageSize(Count size) {
    if (size < 0)
        throw std::invalid_argument("MaxPointsPerPage must be >= 0");
    m_pageSize = size;
    m_page = std::min(m_page, pageCount());
}

void PagingModel::setPage(Count page) {
    m_page = std::clamp<Count>(page, 1, pageCount());
}

PagingModel::Count PagingModel::pageCount() const {
    if (m_pageSize == 0)
        return 1;
    return std::max<Count>((m_points + m_pageSize - 1) / m_pageSize, 1);
}

PagingModel::Count PagingModel::shownPage() const {
    if (m_pageSize == 0)
        return 1;
    if ((m_page - 1) * m_pageSize < m_points)
        return m_page;
    return std::max<Count>(m_points / m_pageSize, 1);
}

PagingModel::Count PagingModel::firstShown() const {
    return (shownPage() - 1) * m_pageSize;
}

PagingModel::Count PagingModel::lastShown() const {
    if (m_pageSize == 0)
        return m_points - 1;
    return std::min(shownPage() * m_pageSize, m_points) - 1;
}

PagingModel::KeyRange PagingModel::keyRange() const {
    const Count first = firstShown();
    const Count last = lastShown();
    const auto lower = static_cast<double>(first);
    // A lone point (or none) would make an empty axis: it gets the width of a full page, so
    // it sits at the left as it would on a full one.
    if (last <= first)
        return {lower, lower + static_cast<double>(std::max<Count>(m_pageSize - 1, 1))};
    const Count shown = last - first + 1;
    if (m_scaleLastPage || m_pageSize == 0 || shown >= m_pageSize)
        return {lower, static_cast<double>(last)};
    return {lower, lower + static_cast<double>(last - first) * static_cast<double>(m_pageSize) /
                               static_cast<double>(shown)};
}

PagingModel::CommandOutcome PagingModel::run(Command command) {
    CommandOutcome out;
    switch (command) {
    case Command::First:
        setPage(1);
        out.firstPreviousEnabled = false;
        out.nextLastEnabled = true;
        break;
    case Command::Previous:
        if (m_page == 1) {
            out.firstPreviousEnabled = false;
        } else {
            setPage(m_page - 1);
        }
        out.nextLastEnabled = true;
        break;
    case Command::Next:
        if (m_page == pageCount()) {
            out.nextLastEnabled = false;
        } else {
            setPage(m_page + 1);
        }
        out.firstPreviousEnabled = true;
        break;
    case Command::Last:
        setPage(pageCount());
        out.firstPreviousEnabled = true;
        out.nextLastEnabled = false;
        out.followLastPage = true;
        break;
    }
    out.pageNumber = m_page;
    return out;
}
