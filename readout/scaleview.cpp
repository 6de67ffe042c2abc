#include "scaleview.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLabelPixels = 11;
constexpr int kNeedlePenWidth = 2;
const QColor kBandRed{255, 0, 0};
// Far beyond the picture the raster engine's fixed-point arithmetic overflows; a needle
// foot out there is first cut back to a margin around the picture.
constexpr int kSafeCoordinate = 1 << 14;
constexpr int kClipMargin = 8;

// Each dot is the ellipse in the 2 x 2 pixel box starting at its point, outlined with a pen.
// That small, the outlines are fixed pixel shapes, filled here directly: stroking an ellipse
// costs about ten times as much, and 900 of them make the scale's whole picture.

/// A division dot, outlined 1 pixel wide: the box itself.
void fillDivisionDot(QPainter &painter, QPoint p) {
    painter.fillRect(p.x(), p.y(), 2, 2, Qt::white);
}

/// A band dot, outlined 4 pixels wide: a disc 6 pixels across around the box.
void fillBandDot(QPainter &painter, QPoint p, const QColor &colour) {
    painter.fillRect(p.x(), p.y() - 2, 2, 6, colour);
    painter.fillRect(p.x() - 1, p.y() - 1, 4, 4, colour);
    painter.fillRect(p.x() - 2, p.y(), 6, 2, colour);
}

// On a high-density screen the same shapes are drawn smooth around their unrounded centres:
// the 2 x 2 box's centre lies one pixel right of and below its top-left point.
const QPointF kBoxCentre{1.0, 1.0};
// A disc of this radius covers what the 2 x 2 division box does.
constexpr qreal kDivisionDotRadius = 1.13;
// The band dots' union is a band 6 pixels wide.
constexpr qreal kBandWidth = 6.0;

/// The band as one smooth stroke per run of a colour, in the order of its steps, so a later
/// run lies over the one before as the dots do at 1x.
void strokeBand(QPainter &painter, const ScaleGeometry &g, const ScaleView::Settings &s) {
    QPolygonF run;
    bool runRed = false;
    const auto flush = [&] {
        if (run.isEmpty())
            return;
        painter.setPen(QPen(runRed ? kBandRed : QColor(Qt::white), kBandWidth, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        if (run.size() == 1)
            painter.drawPoint(run.front());
        else
            painter.drawPolyline(run);
    };
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q) {
        const bool red = ScaleGeometry::bandStepRed(q, s.maxLimit, s.minLimit, s.maxOn, s.minOn);
        const QPointF centre =
            g.exactPointAt(q, ScaleGeometry::kBandSteps, ScaleGeometry::kBandRadiusOffset) +
            kBoxCentre;
        if (!run.isEmpty() && red != runRed) {
            const QPointF joint = run.back();
            flush();
            run = {joint}; // the new colour starts where the old one ended, as the dots do
        }
        runRed = red;
        run << centre;
    }
    flush();
}

/// The part of `line` inside `box` (Liang-Barsky); nullopt when none is.
std::optional<QLineF> clipped(const QLineF &line, const QRectF &box) {
    double t0 = 0.0;
    double t1 = 1.0;
    const double dx = line.dx();
    const double dy = line.dy();
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {line.x1() - box.left(), box.right() - line.x1(), line.y1() - box.top(),
                         box.bottom() - line.y1()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return std::nullopt;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return std::nullopt;
    return QLineF(line.pointAt(t0), line.pointAt(t1));
}

bool beyondSafeRange(const QLine &line) {
    for (int v : {line.x1(), line.y1(), line.x2(), line.y2()})
        if (std::abs(v) > kSafeCoordinate)
            return true;
    return false;
}

} // namespace

ScaleView::ScaleView(QWidget *panel) : QWidget(panel) {
    setObjectName(QStringLiteral("KD1"));
    // Every pixel comes from the cached background: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (panel) {
        panel->installEventFilter(this);
        lower();
    }
    fitToPanel();
}

QSize ScaleView::panelSize() const {
    if (const QWidget *panel = parentWidget())
        return panel->size();
    return size() + QSize(2 * kBevel, 2 * kBevel);
}

void ScaleView::fitToPanel() {
    if (const QWidget *panel = parentWidget())
        setGeometry(kBevel, kBevel, std::max(0, panel->width() - 2 * kBevel),
                    std::max(0, panel->height() - 2 * kBevel));
}

bool ScaleView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        fitToPanel();
    return QWidget::eventFilter(watched, event);
}

void ScaleView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    // The geometry follows the panel, so a needle on show moves to its place in the new one.
    if (m_needle)
        run(m_position);
}

const ScaleGeometry &ScaleView::scaleGeometry() const {
    const QSize panel = panelSize();
    if (m_geometry.panelSize() != panel || m_geometry.hundredMode() != m_settings.hundredMode ||
        m_geometry.span() != m_settings.span || m_geometry.offset() != m_settings.offset)
        m_geometry =
            ScaleGeometry(panel, m_settings.hundredMode, m_settings.span, m_settings.offset);
    return m_geometry;
}

QFont ScaleView::labelFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kLabelPixels);
    return font;
}

void ScaleView::setMode(bool hundredMode, int span, int offset) {
    m_settings.hundredMode = hundredMode;
    m_settings.span = span;
    m_settings.offset = offset;
}

void ScaleView::setBand(float maxLimit, float minLimit, bool maxOn, bool minOn) {
    m_settings.maxLimit = maxLimit;
    m_settings.minLimit = minLimit;
    m_settings.maxOn = maxOn;
    m_settings.minOn = minOn;
}

void ScaleView::setup() {
    fitToPanel(); // a hidden panel's resize reaches its children only when it is shown
    if (m_drawn != m_settings) {
        m_drawn = m_settings;
        update();
    }
    showNeedle(std::nullopt);
}

void ScaleView::run(int position) {
    fitToPanel();
    m_position = position;
    const ScaleGeometry::Needle n = scaleGeometry().needle(position);
    if (!n.shown) {
        showNeedle(std::nullopt);
        return;
    }
    NeedleLine = {n.tip.x(), n.tip.y(), n.foot.x(), n.foot.y()};
    showNeedle(QLine(n.tip, n.foot));
}

void ScaleView::showNeedle(std::optional<QLine> needle) {
    if (needle == m_needle)
        return;
    m_needle = needle;
    // The screen catches up once the frames of this delivery are done, not at each frame.
    if (!m_syncQueued) {
        m_syncQueued = true;
        QMetaObject::invokeMethod(this, &ScaleView::syncNeedle, Qt::QueuedConnection);
    }
}

void ScaleView::syncNeedle() {
    m_syncQueued = false;
    QRect dirty = m_stray;
    m_stray = QRect();
    if (m_needle != m_scheduled) {
        dirty |= needleRect(m_scheduled) | needleRect(m_needle);
        m_scheduled = m_needle;
    }
    if (!dirty.isEmpty())
        update(dirty);
}

QRect ScaleView::needleRect(const std::optional<QLine> &needle) const {
    if (!needle)
        return {};
    const QRect box = QRect(needle->p1(), needle->p2()).normalized();
    return box.adjusted(-kNeedlePenWidth, -kNeedlePenWidth, kNeedlePenWidth, kNeedlePenWidth) &
           rect();
}

const QImage &ScaleView::background() const {
    const qreal ratio = devicePixelRatioF();
    const BackgroundKey key{size(), panelSize(), ratio, m_drawn};
    if (m_backgroundKey != key) {
        m_background = drawBackground(ratio);
        m_backgroundKey = key;
    }
    return m_background;
}

QImage ScaleView::drawBackground(qreal ratio) const {
    QImage image((QSizeF(size()) * ratio).toSize(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    paintBackground(painter, ratio);
    return image;
}

QRect ScaleView::labelCell(const ScaleGeometry::Label &label) const {
    const QFontMetrics metrics(labelFont());
    QRect cell(label.topLeft, QSize(metrics.horizontalAdvance(label.text), metrics.height()));
    cell.moveLeft(std::max(0, std::min(cell.left(), width() - cell.width())));
    return cell;
}

void ScaleView::paintBackground(QPainter &painter, qreal ratio) const {
    painter.fillRect(rect(), Qt::black);
    if (!m_drawn)
        return;
    const Settings &s = *m_drawn;
    const ScaleGeometry g(panelSize(), s.hundredMode, s.span, s.offset);
    if (!g.isSound())
        return;

    const bool exact = ratio == 1.0;
    painter.setRenderHint(QPainter::Antialiasing, !exact);
    painter.setFont(labelFont());
    painter.setPen(Qt::white);
    for (int i = 0; i <= s.span; ++i) {
        if (const auto label = g.label(i)) {
            // The text cell is filled black behind, exactly: an opaque text background
            // follows the font's unrounded metrics, which on Windows reach a pixel beyond.
            const QRect cell = labelCell(*label);
            painter.fillRect(cell, Qt::black);
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label->text);
        }
        if (exact) {
            fillDivisionDot(painter, g.divisionDot(i));
        } else {
            painter.save();
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            painter.drawEllipse(g.exactPointAt(i, s.span, ScaleGeometry::kDotRadiusOffset) +
                                    kBoxCentre,
                                kDivisionDotRadius, kDivisionDotRadius);
            painter.restore();
        }
    }

    // The band's dots overlap into one band, which lies over the dots and labels.
    if (!exact) {
        strokeBand(painter, g, s);
        return;
    }
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q) {
        const bool red = ScaleGeometry::bandStepRed(q, s.maxLimit, s.minLimit, s.maxOn, s.minOn);
        fillBandDot(painter, g.bandPoint(q), red ? kBandRed : QColor(Qt::white));
    }
}

void ScaleView::paintNeedle(QPainter &painter) const {
    if (!m_needle)
        return;
    painter.setPen(QPen(Qt::white, kNeedlePenWidth));
    if (!beyondSafeRange(*m_needle)) {
        painter.drawLine(*m_needle);
        return;
    }
    const QRectF box =
        QRectF(rect()).adjusted(-kClipMargin, -kClipMargin, kClipMargin, kClipMargin);
    if (const auto part = clipped(QLineF(*m_needle), box))
        painter.drawLine(*part);
}

void ScaleView::paintEvent(QPaintEvent *event) {
    const QImage &bg = background();
    QPainter painter(this);
    const QRect r = event->rect();
    const qreal ratio = bg.devicePixelRatio();
    painter.drawImage(r, bg, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
    painter.setRenderHint(QPainter::Antialiasing, ratio != 1.0);
    paintNeedle(painter);
    // Painted between a move and its sync, this area shows the new needle and lacks the one
    // the screen is meant to keep: should the needle return, the pending sync mends it.
    if (m_needle != m_scheduled)
        m_stray |= (needleRect(m_needle) | needleRect(m_scheduled)) & r;
}

QImage ScaleView::picture(qreal ratio) const {
    QImage image = ratio == devicePixelRatioF() ? background().copy() : drawBackground(ratio);
    if (image.isNull())
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, ratio != 1.0);
    paintNeedle(painter);
    return image;
}
