#pragma once

#include <QSizeF>
#include <QtGlobal>

class QPainter;

/// Pages that can be painted one at a time, in any order, as a preview asks for them.
class PageSource {
public:
    virtual ~PageSource() = default;

    virtual qint64 pageCount() const = 0;
    /// The size of every page in millimetres, as the sheet lies.
    virtual QSizeF pageSizeMm() const = 0;
    /// Paints page `page` (from 0) with the painter's origin at the sheet's top-left corner,
    /// in the units of the painter's device (its resolution turns millimetres into them).
    /// Throws std::runtime_error when the page cannot be made.
    virtual void paintPage(QPainter &painter, qint64 page) const = 0;
};
