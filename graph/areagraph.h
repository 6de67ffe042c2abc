#pragma once

#include <qcustomplot.h>

/// A graph drawn as a filled area down to the zero line.
///
/// The area is filled one line segment at a time instead of as one polygon over the whole
/// page: readings that swing across zero from point to point make that polygon cross itself at
/// every point, and filling it costs several times as much as filling its pieces. The pieces
/// share their edges exactly, so the fill looks the same.
class AreaGraph : public QCPGraph {
    Q_OBJECT

public:
    AreaGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}

protected:
    void drawFill(QCPPainter *painter, QVector<QPointF> *lines) const override;
};
