#pragma once

#include <QPixmap>

class QLabel;
class QWidget;

/// The small magnifier pictures of the graph's enlarge and restore images: a lens with a plus
/// (enlarge) or a minus (restore) and a handle, drawn in code so no image file is needed.
class MagnifierPicture {
public:
    static constexpr int kPixels = 25;

    static QPixmap draw(int pixels, bool enlarge);
    /// The clickable image the window shows: kPixels square at `at` inside `parent`.
    static QLabel *makeImage(QWidget *parent, const char *name, QPoint at, const QString &hint,
                             bool enlarge);
};
