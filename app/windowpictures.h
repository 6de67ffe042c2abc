#pragma once

#include <QIcon>
#include <QPixmap>

/// The pictures the window carries, drawn in code: the dark blue-green texture behind the
/// LCD and the scale, and the glyphs of the file buttons and of the graph's tool strip. Each
/// glyph is drawn when a button asks for it, at the size and device pixel ratio it asks for
/// (1, 1.25, 1.5, 2 or any other), so it stays crisp on every screen.
class WindowPictures {
public:
    enum class Glyph {
        ClearRecords, ///< a sheet with a red cross
        OpenFile,     ///< an open folder
        SaveFile,     ///< a diskette
        Print,        ///< a printer with its sheet
        GraphNew,     ///< a blank chart sheet
        GraphSave,    ///< a diskette over a small curve
        First,        ///< bar and double triangle to the left
        Previous,     ///< triangle to the left
        Next,         ///< triangle to the right
        Last,         ///< double triangle and bar to the right
    };

    /// 256 x 256, the same every run.
    static QPixmap texture();
    /// 16 x 16 logical pixels.
    static QIcon glyph(Glyph glyph);
    /// The glyph drawn to fill `pixels` device pixels, for a screen of device pixel ratio
    /// `ratio` (set on the pixmap).
    static QPixmap glyphPixmap(Glyph glyph, QSize pixels, qreal ratio);
};
