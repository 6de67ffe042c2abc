#pragma once

#include "scalegeometry.h"

#include <QFont>
#include <QImage>
#include <QLine>
#include <QWidget>

#include <array>
#include <optional>

/// The drawing surface `KD1` of the analog scale: fills its black panel inside the panel's
/// 2-pixel bevel and shows the arc of division dots, the labels, the alarm band and the
/// needle, laid out by ScaleGeometry from the panel's outer size.
///
/// The picture is drawn at the screen's device pixel ratio: at 1 every dot, band step and
/// label lies on the pixel the design gives it; at any other ratio the same shapes are drawn
/// smooth at their unrounded places, so a high-density screen shows a smooth arc.
///
/// setup() starts a picture without a needle and run() moves the needle, as the window calls
/// them for every display frame. Neither paints: the dots, labels and band are drawn once
/// into a cached background, redrawn only when the size, the mode or the band settings
/// change; after a burst of frames the strip between the needle on screen and the new one
/// is repainted once, and not at all when the needle stayed. A geometry that cannot be
/// drawn shows black, never throws.
class ScaleView : public QWidget {
    Q_OBJECT

public:
    /// Width of the panel's bevel, kept free on every side.
    static constexpr int kBevel = 2;

    /// What the background is drawn with.
    struct Settings {
        bool hundredMode = false;
        int span = 80;
        int offset = 0;
        float maxLimit = 8002.0f;
        float minLimit = -8002.0f;
        bool maxOn = false;
        bool minOn = false;
        bool operator==(const Settings &) const = default;
    };

    /// Places itself inside `panel` (beneath the panel's other children) and follows the
    /// panel's size from then on.
    explicit ScaleView(QWidget *panel);

    /// The scale mode: the label set, the number of divisions (80 or 100) and what is added
    /// to every needle position (0 or 100). The background takes it at the next setup();
    /// run() uses it at once.
    void setMode(bool hundredMode, int span, int offset);
    /// The halved alarm limits and whether each is in force; taken at the next setup().
    void setBand(float maxLimit, float minLimit, bool maxOn, bool minOn);

    /// Starts the picture from the current settings: dots, labels and band, no needle. The
    /// needle stays away until the next run().
    void setup();
    /// Shows the needle at `position` (400 is the centre) in place of the one before, and
    /// keeps its ends in NeedleLine. Outside the sound geometry no needle is shown and
    /// NeedleLine keeps the last needle drawn.
    void run(int position);

    /// Tip x, tip y, foot x, foot y of the needle last drawn; all 0 until the first.
    std::array<int, 4> NeedleLine{};

    const Settings &settings() const { return m_settings; }
    /// Whether the picture shows a needle now.
    bool needleShown() const { return m_needle.has_value(); }
    /// The panel's outer size the geometry is computed from.
    QSize panelSize() const;
    /// The geometry for the current panel size and mode.
    const ScaleGeometry &scaleGeometry() const;
    /// The labels' font: a small sans-serif face at a fixed pixel size.
    static QFont labelFont();
    /// Where a label's text is written: its cell from the label's top-left corner, moved
    /// in where it would cross the panel's left or right edge (the labels at the arc's ends).
    QRect labelCell(const ScaleGeometry::Label &label) const;

    /// The picture as it is shown (background and needle) at the widget's size, one image
    /// pixel per widget pixel.
    QImage picture() const { return picture(1.0); }
    /// The same drawn for a screen of device pixel ratio `ratio`: size() * ratio pixels,
    /// with that ratio set.
    QImage picture(qreal ratio) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct BackgroundKey {
        QSize size;
        QSize panel;
        qreal pixelRatio = 0.0;
        std::optional<Settings> drawn;
        bool operator==(const BackgroundKey &) const = default;
    };

    void fitToPanel();
    void showNeedle(std::optional<QLine> needle);
    void syncNeedle();
    QRect needleRect(const std::optional<QLine> &needle) const;
    const QImage &background() const;
    QImage drawBackground(qreal ratio) const;
    void paintBackground(QPainter &painter, qreal ratio) const;
    void paintNeedle(QPainter &painter) const;

    Settings m_settings;
    /// The settings of the last setup(); none before the first, which shows black.
    std::optional<Settings> m_drawn;
    /// The needle in the current picture.
    std::optional<QLine> m_needle;
    /// The needle the screen shows once the updates asked for are painted.
    std::optional<QLine> m_scheduled;
    /// Where a needle was painted that the screen is not meant to keep.
    QRect m_stray;
    bool m_syncQueued = false;
    int m_position = 0;

    mutable ScaleGeometry m_geometry;
    mutable QImage m_background;
    mutable std::optional<BackgroundKey> m_backgroundKey;
};
