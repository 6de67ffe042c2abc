#include "scaleview.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLabelPixels = 11;
constexpr int kDotPenWidth = 1;
constexpr int kBandPenWidth = 4;
constexpr int kNeedlePenWidth = 2;
// Every dot is an ellipse in a 2 x 2 box starting at its point.
constexpr QSize kDotBox{2, 2};
const QColor kBandRed{255, 0, 0};
// Far beyond the picture the raster engine's fixed-point arithmetic overflows; a needle
// foot out there is first cut back to a margin around the picture.
constexpr int kSafeCoordinate = 1 << 14;
constexpr int kClipMargin = 8;

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
    // Only the strips under the old and the new needle need painting again.
    update(needleRect(m_needle));
    update(needleRect(needle));
    m_needle = needle;
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
        m_background = QImage(size() * ratio, QImage::Format_RGB32);
        m_background.setDevicePixelRatio(ratio);
        QPainter painter(&m_background);
        paintBackground(painter);
        m_backgroundKey = key;
    }
    return m_background;
}

void ScaleView::paintBackground(QPainter &painter) const {
    painter.fillRect(rect(), Qt::black);
    if (!m_drawn)
        return;
    const Settings &s = *m_drawn;
    const ScaleGeometry g(panelSize(), s.hundredMode, s.span, s.offset);
    if (!g.isSound())
        return;

    painter.setBrush(Qt::black);
    painter.setFont(labelFont());
    painter.setBackground(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    const QFontMetrics metrics(painter.font());
    const QPen dotPen(Qt::white, kDotPenWidth);
    for (int i = 0; i <= s.span; ++i) {
        if (const auto label = g.label(i)) {
            // The text cell starts at its top-left corner and is filled black behind.
            painter.setPen(Qt::white);
            const QRect cell(label->topLeft,
                             QSize(metrics.horizontalAdvance(label->text), metrics.height()));
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, label->text);
        }
        painter.setPen(dotPen);
        painter.drawEllipse(QRect(g.divisionDot(i), kDotBox));
    }

    // With the wide pen the band's dots merge into one band; it lies over dots and labels.
    // The wide pen leaves a hole inside so small an ellipse, which the brush fills.
    const QPen white(Qt::white, kBandPenWidth);
    const QPen red(kBandRed, kBandPenWidth);
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q) {
        const bool isRed = ScaleGeometry::bandStepRed(q, s.maxLimit, s.minLimit, s.maxOn, s.minOn);
        painter.setPen(isRed ? red : white);
        painter.setBrush(isRed ? kBandRed : QColor(Qt::white));
        painter.drawEllipse(QRect(g.bandPoint(q), kDotBox));
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
    paintNeedle(painter);
}

QImage ScaleView::picture() const {
    QImage image(size(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    if (devicePixelRatioF() == 1.0) {
        image = background().copy();
    } else {
        QPainter painter(&image);
        paintBackground(painter);
    }
    QPainter painter(&image);
    paintNeedle(painter);
    return image;
}
