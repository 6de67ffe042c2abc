#include "scalegeometry.h"

#include "readingdecoder.h"

#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

// The picture keeps this much room left and right of the chord, and above the arc.
constexpr int kMarginX = 20;
constexpr int kMarginY = 30;
// The panel's width and height less the margins on both sides.
constexpr int kWidthAllowance = 2 * kMarginX;
constexpr int kHeightAllowance = 2 * kMarginY;
// The needle's tip sits this far inside the arc's circle; its foot this far below the chord.
constexpr double kNeedleTipDrop = 4.0;
constexpr double kNeedleFootDepth = 280.0;
// The arc's sweep is turned into degrees with 1/3.1415 instead of 1/pi, which widens it by
// a few thousandths of a degree; the design's pictures were made with it.
constexpr double kDesignInversePi = 1.0 / 3.1415;

struct LabelDesign {
    const char *text;
    int dx, dy;
};

// One row per tenth division, from the left end.
constexpr std::array<LabelDesign, 9> kEightyLabels{{
    {"-80", 5, 7},
    {"-60", 8, 5},
    {"-40", 10, 5},
    {"-20", 10, 4},
    {"0", 3, 3},
    {"20", 5, 5},
    {"40", 8, 5},
    {"60", 10, 5},
    {"80", 11, 7},
}};
constexpr std::array<LabelDesign, 11> kHundredLabels{{
    {"-99", 5, 7},
    {"-80", 8, 6},
    {"-60", 10, 5},
    {"-40", 10, 4},
    {"-20", 5, 4},
    {"0", 3, 3},
    {"20", 8, 5},
    {"40", 8, 5},
    {"60", 9, 4},
    {"80", 12, 9},
    {"99", 14, 11},
}};

/// Rounds a coordinate that may lie far outside the picture; nullopt when it does not fit
/// an int (the needle's foot as its angle nears the horizontal).
std::optional<int> roundedCoordinate(double value) {
    constexpr double kLimit = std::numeric_limits<int>::max() / 2;
    if (!std::isfinite(value) || std::fabs(value) > kLimit)
        return std::nullopt;
    return ReadingDecoder::roundHalfEven(value);
}

} // namespace

ScaleGeometry::ScaleGeometry(QSize panelSize, bool hundredMode, int span, int offset)
    : m_panel(panelSize), m_hundredMode(hundredMode), m_span(span), m_offset(offset) {
    m_w = static_cast<float>(panelSize.width() - kWidthAllowance);
    m_h = static_cast<float>(panelSize.height() - kHeightAllowance);
    m_sound = m_h > 0.0f && m_w > 2.0f * m_h && m_span > 0;
    if (!m_sound)
        return;
    const double w = m_w;
    const double h = m_h;
    m_r = static_cast<float>((4.0 * h * h + w * w) / (8.0 * h));
    const double half = std::atan((w / 2.0) / (m_r - h));
    m_spanDegrees = static_cast<float>(half * 2.0 * 180.0 * kDesignInversePi);
    m_startDegrees = static_cast<float>((180.0 - m_spanDegrees) / 2.0);
}

double ScaleGeometry::angleRadians(double step, int steps) const {
    const double degrees =
        static_cast<double>(m_spanDegrees) / steps * step + static_cast<double>(m_startDegrees);
    return degrees * (std::numbers::pi / 180.0);
}

QPoint ScaleGeometry::pointAt(int step, int steps, int radiusOffset) const {
    const QPointF p = exactPointAt(step, steps, radiusOffset);
    return {ReadingDecoder::roundHalfEven(p.x()), ReadingDecoder::roundHalfEven(p.y())};
}

QPointF ScaleGeometry::exactPointAt(int step, int steps, int radiusOffset) const {
    if (!m_sound || steps <= 0)
        return {};
    const double theta = angleRadians(step, steps);
    const double r = static_cast<double>(m_r) + radiusOffset;
    return {m_w / 2.0 - r * std::cos(theta) + kMarginX, m_r - r * std::sin(theta) + kMarginY};
}

QPoint ScaleGeometry::divisionDot(int division) const {
    return pointAt(division, m_span, kDotRadiusOffset);
}

std::optional<ScaleGeometry::Label> ScaleGeometry::label(int division) const {
    if (!m_sound || division < 0 || division > m_span || division % kDivisionsPerLabel != 0)
        return std::nullopt;
    const std::size_t row = static_cast<std::size_t>(division / kDivisionsPerLabel);
    const LabelDesign *design = nullptr;
    if (m_hundredMode) {
        if (row < kHundredLabels.size())
            design = &kHundredLabels[row];
    } else if (row < kEightyLabels.size()) {
        design = &kEightyLabels[row];
    }
    if (!design)
        return std::nullopt;
    Label l;
    l.text = QString::fromLatin1(design->text);
    l.anchor = pointAt(division, m_span, kLabelRadiusOffset);
    l.topLeft = l.anchor - QPoint(design->dx, design->dy);
    return l;
}

QPoint ScaleGeometry::bandPoint(int step) const {
    return pointAt(step, kBandSteps, kBandRadiusOffset);
}

ScaleGeometry::Needle ScaleGeometry::needle(int position) const {
    Needle n;
    if (!m_sound)
        return n;
    // In double: no position, however wild, overflows with the offset added.
    const double theta =
        angleRadians(static_cast<double>(position) + m_offset, m_span * kNeedleStepsPerDivision);
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    if (s == 0.0)
        return n;
    const double r = m_r;
    const double h = m_h;
    const auto tipX = roundedCoordinate(m_w / 2.0 - r * c);
    const auto tipY = roundedCoordinate(r - r * s + kNeedleTipDrop);
    const auto footX = roundedCoordinate(m_w / 2.0 - (r - h - kNeedleFootDepth) * c / s);
    const auto footY = roundedCoordinate(h + kNeedleFootDepth);
    if (!tipX || !tipY || !footX || !footY)
        return n;
    n.shown = true;
    n.tip = {*tipX + kMarginX, *tipY + kMarginY};
    n.foot = {*footX + kMarginX, *footY + kMarginY};
    return n;
}

bool ScaleGeometry::bandStepRed(int step, float maxLimit, float minLimit, bool maxOn, bool minOn) {
    const auto v = static_cast<float>(bandValue(step));
    return (maxOn && v > maxLimit) || (minOn && v < minLimit);
}
