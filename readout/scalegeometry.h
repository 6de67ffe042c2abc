#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QString>

#include <optional>

/// Where every part of the analog scale lies for one panel size and one scale mode: the
/// circle of the arc, the division dots, the labels, the steps of the alarm band and the
/// needle, in pixels of the drawing surface inside the panel's bevel.
///
/// Pure arithmetic, computed once per size and mode: the scale view draws what it says and
/// the tests check it. The arc is the one whose chord spans the panel's width less 20 pixels
/// each side and which rises to 30 pixels below the top; its circle's centre lies below the
/// picture. Coordinates are rounded to the nearest integer, halves to the even neighbour.
/// Outside the sound range (isSound() false) no point is computed and no needle is shown.
class ScaleGeometry {
public:
    /// Steps of the alarm band, 0 .. kBandSteps inclusive, whatever the mode.
    static constexpr int kBandSteps = 800;
    /// Band step at the centre of the arc.
    static constexpr int kBandCentreStep = 400;
    /// Needle positions per division.
    static constexpr int kNeedleStepsPerDivision = 10;
    /// A label sits at every tenth division.
    static constexpr int kDivisionsPerLabel = 10;
    /// Radius offsets beyond the arc's circle.
    static constexpr int kDotRadiusOffset = 6;
    static constexpr int kLabelRadiusOffset = 18;
    static constexpr int kBandRadiusOffset = 3;

    struct Label {
        QString text;
        QPoint anchor;  ///< the point at the label's radius
        QPoint topLeft; ///< where the text cell starts: anchor minus the label's offset
    };

    struct Needle {
        bool shown = false; ///< false outside the sound geometry or where the angle's sine is 0
        QPoint tip;
        QPoint foot;
    };

    /// An empty geometry: not sound, draws nothing.
    ScaleGeometry() = default;
    /// `panelSize` is the outer size of the black panel; `span` the number of divisions
    /// (80 or 100); `offset` what is added to every needle position (0 or 100); the label
    /// set follows `hundredMode`.
    ScaleGeometry(QSize panelSize, bool hundredMode, int span, int offset);

    QSize panelSize() const { return m_panel; }
    bool hundredMode() const { return m_hundredMode; }
    int span() const { return m_span; }
    int offset() const { return m_offset; }

    /// Width and height of the arc's chord and rise.
    float w() const { return m_w; }
    float h() const { return m_h; }
    /// Radius of the arc's circle.
    float radius() const { return m_r; }
    /// Angle the arc sweeps, and the angle of its left end, in degrees.
    float spanDegrees() const { return m_spanDegrees; }
    float startDegrees() const { return m_startDegrees; }

    /// Whether the arc is well formed: it rises above its chord (h > 0) and is less than
    /// a half circle (w > 2h). Otherwise its radius is undefined or it runs backwards.
    bool isSound() const { return m_sound; }

    /// Angle in radians of step `step` out of `steps` along the arc.
    double angleRadians(double step, int steps) const;
    /// The point at that angle on the circle of radius R + `radiusOffset`.
    QPoint pointAt(int step, int steps, int radiusOffset) const;
    /// The same point unrounded, for drawing finer than a pixel on high-density screens.
    QPointF exactPointAt(int step, int steps, int radiusOffset) const;

    /// Division `division` (0 .. span()) as the top-left of its dot.
    QPoint divisionDot(int division) const;
    /// The label at `division`, if that division carries one in this mode.
    std::optional<Label> label(int division) const;
    /// Band step `step` (0 .. kBandSteps) as the top-left of its dot.
    QPoint bandPoint(int step) const;
    /// The needle at `position` (400 is the centre in both modes).
    Needle needle(int position) const;

    /// The band value of step `step`: -4000 .. 4000, in the unit of the halved limits.
    static int bandValue(int step) { return (step - kBandCentreStep) * 10; }
    /// Whether band step `step` lies beyond an enabled limit (strictly) and shows red.
    static bool bandStepRed(int step, float maxLimit, float minLimit, bool maxOn, bool minOn);

private:
    QSize m_panel;
    bool m_hundredMode = false;
    int m_span = 0;
    int m_offset = 0;
    float m_w = 0.0f;
    float m_h = 0.0f;
    float m_r = 0.0f;
    float m_spanDegrees = 0.0f;
    float m_startDegrees = 0.0f;
    bool m_sound = false;
};
