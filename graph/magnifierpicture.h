#pragma once

#include <QPixmap>

/// The small magnifier pictures of the graph's enlarge and restore images: a lens with a plus
/// (enlarge) or a minus (restore) and a handle, drawn in code so no image file is needed.
class MagnifierPicture {
public:
    static QPixmap draw(int pixels, bool enlarge);
};
