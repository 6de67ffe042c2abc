#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

/// How many of the image's aligned 2 x 2 pixel blocks hold more than one colour, of those
/// whose middle (in logical pixels, half the image's) `where` accepts. A picture drawn at 1x
/// and enlarged to a device pixel ratio of 2, pixel for pixel, has none: each block is one
/// pixel of the 1x drawing.
inline int mixedBlocks(
    const QImage &image, const std::function<bool(QPointF)> &where = [](QPointF) { return true; }) {
    int mixed = 0;
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            if (!where(QPointF(x / 2 + 0.5, y / 2 + 0.5)))
                continue;
            const QRgb p = image.pixel(x, y);
            mixed += (image.pixel(x + 1, y) != p || image.pixel(x, y + 1) != p ||
                      image.pixel(x + 1, y + 1) != p)
                         ? 1
                         : 0;
        }
    }
    return mixed;
}

/// `widget` as a screen of device pixel ratio `ratio` shows it, on black.
inline QImage renderedAt(QWidget &widget, qreal ratio) {
    QImage image((QSizeF(widget.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}
