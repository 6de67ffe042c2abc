#include "windowlayout.h"

#include "readingdecoder.h"
#include "scalegeometry.h"

WindowLayout::Normal WindowLayout::normal(const QSize &outer) {
    const int W = outer.width();
    const int H = outer.height();
    Normal n;
    n.exitLeft = W - 80;
    n.connectLeft = W - 190;
    n.gridHeight = H - 313;
    n.graphWidth = W - 315;
    n.scaleWidth = W - 315;
    n.backdropWidth = W - 318;
    // 37 and 63 hundredths of H - 87, counted exactly so that a true half goes to the even
    // neighbour instead of wherever a binary fraction happens to fall.
    const int t = H - 87;
    n.scaleHeight = ReadingDecoder::roundHalfEven(t * 37 / 100.0);
    n.backdropHeight = n.scaleHeight - 6;
    n.graphHeight = ReadingDecoder::roundHalfEven(t * 63 / 100.0);
    // The scale panel's top stays 32: a 6-pixel gap separates it from the graph.
    n.graphTop = n.scaleHeight + 38;
    n.windowWidthText = QString::number(W);
    return n;
}

QRect WindowLayout::enlarged(const QSize &outer) {
    return QRect(2, 28, outer.width() - 12, outer.height() - 80);
}

bool WindowLayout::scaleIsSound(const QSize &outer) {
    const Normal n = normal(outer);
    return ScaleGeometry(QSize(n.scaleWidth, n.scaleHeight), false, 80, 0).isSound();
}

QStringList WindowLayout::faces() {
    return {QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans Narrow"),
            QStringLiteral("Arial Narrow"), QStringLiteral("Arial")};
}
