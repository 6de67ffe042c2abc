#pragma once

#include <QIcon>
#include <QPixmap>

/// The pictures the window carries, drawn in code: the dark blue-green texture behind the
/// LCD and the scale, and the glyphs of the file buttons and of the graph's tool strip. Each
/// glyph is drawn at its size for ordinary and for double-density screens, so it stays crisp.
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
};
