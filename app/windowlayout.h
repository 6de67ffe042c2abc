#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

/// The main window's layout arithmetic: where the resizable regions go for a window of a
/// given outer size, the enlarged bounds of the graph and the scale, and the smallest window
/// that keeps the scale drawable.
///
/// Sizes are the window's outer size, W x H, as the layout rules count them. Window frames
/// differ between platforms (and a bare X server has none), so the outer size is always the
/// client area plus the design's own frame, 8 pixels wide and 46 high: a 627 x 413 client is
/// a 635 x 459 window everywhere.
class WindowLayout {
public:
    static constexpr QSize kDesignClient{627, 413};
    static constexpr QSize kFrame{8, 46};
    /// The smallest client: the design's width, so the connect and exit panels never cover
    /// the key row, and a height that keeps the scale panel more than 60 pixels high (118)
    /// and the graph below the top where it would count as enlarged. The scale's arc needs
    /// a panel wider than twice its rise; at the smallest width that holds up to a client
    /// 580 pixels high, and a taller window that is not also wider shows the scale's black
    /// background until it is widened.
    static constexpr QSize kMinimumClient{627, 360};

    /// The window's face, first choice first: the design's own, then narrow faces that keep
    /// the captions, sized for it, inside their boxes where it is missing.
    static QStringList faces();

    /// The design's left, top, width and height of a region; all 0 until first saved.
    struct Bounds {
        int Left = 0;
        int Top = 0;
        int Width = 0;
        int Height = 0;
        QRect rect() const { return QRect(Left, Top, Width, Height); }
        static Bounds of(const QRect &r) { return {r.left(), r.top(), r.width(), r.height()}; }
        bool operator==(const Bounds &) const = default;
    };

    /// What a resize sets, for a window of outer size `outer`.
    struct Normal {
        int exitLeft = 0;      ///< BtExit
        int connectLeft = 0;   ///< BTCon and BtDiscon
        int gridHeight = 0;    ///< DBGrid1
        int graphWidth = 0;    ///< Chtshow
        int scaleWidth = 0;    ///< KD
        int backdropWidth = 0; ///< KD2
        int scaleHeight = 0;   ///< KD
        int backdropHeight = 0;
        int graphHeight = 0;
        int graphTop = 0;
        QString windowWidthText; ///< Button4's caption
    };

    static QSize outerSize(const QSize &client) { return client + kFrame; }
    static Normal normal(const QSize &outer);
    /// The graph or the scale blown up to cover the window under the top strip.
    static QRect enlarged(const QSize &outer);

    /// Whether the scale panel of a window of outer size `outer` has room for its arc, by
    /// the rule the scale itself draws with.
    static bool scaleIsSound(const QSize &outer);
};
