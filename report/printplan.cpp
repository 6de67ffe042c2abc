#include "printplan.h"

#include <algorithm>

std::vector<qint64> PrintPlan::pages(qint64 pageCount, const Choice &choice) {
    std::vector<qint64> once;
    for (qint64 page = 0; page < pageCount; ++page)
        if (choice.ranges.isEmpty() || choice.ranges.contains(int(page + 1)))
            once.push_back(page);
    if (choice.lastPageFirst)
        std::reverse(once.begin(), once.end());

    const int copies = std::max(1, choice.copies);
    std::vector<qint64> plan;
    plan.reserve(once.size() * std::size_t(copies));
    if (choice.collate) {
        for (int copy = 0; copy < copies; ++copy)
            plan.insert(plan.end(), once.begin(), once.end());
    } else {
        for (qint64 page : once)
            plan.insert(plan.end(), std::size_t(copies), page);
    }
    return plan;
}
