#include "areagraph.h"

#include <cmath>

void AreaGraph::drawFill(QCPPainter *painter, QVector<QPointF> *lines) const {
    if (channelFillGraph() || lineStyle() == lsImpulse || lines->size() < 2 ||
        painter->brush().style() == Qt::NoBrush) {
        QCPGraph::drawFill(painter, lines);
        return;
    }
    applyFillAntialiasingHint(painter);
    const auto valid = [](const QPointF &p) { return !std::isnan(p.x()) && !std::isnan(p.y()); };
    for (qsizetype i = 0; i + 1 < lines->size(); ++i) {
        const QPointF &a = lines->at(i);
        const QPointF &b = lines->at(i + 1);
        if (!valid(a) || !valid(b))
            continue;
        // A segment that crosses the zero line makes a bow tie, which fills as its two halves.
        const QPointF piece[4] = {getFillBasePoint(a), a, b, getFillBasePoint(b)};
        painter->drawPolygon(piece, 4);
    }
}
