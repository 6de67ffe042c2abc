#pragma once

#include <QPixmap>

class QLabel;
class QPainter;
class QWidget;

/// The small magnifier pictures of the graph's enlarge and restore images: a lens with a plus
/// (enlarge) or a minus (restore) and a handle, drawn in code so no image file is needed, at
/// whatever resolution the screen has.
class MagnifierPicture {
public:
    static constexpr int kPixels = 25;

    /// Paints the picture into the square (0, 0, pixels, pixels).
    static void paint(QPainter &painter, qreal pixels, bool enlarge);
    /// The picture `pixels` square for a screen of device pixel ratio `ratio`.
    static QPixmap draw(int pixels, bool enlarge, qreal ratio = 1.0);
    /// The clickable image the window shows: kPixels square at `at` inside `parent`, drawn
    /// at the screen's resolution.
    static QLabel *makeImage(QWidget *parent, const char *name, QPoint at, const QString &hint,
                             bool enlarge);
};
