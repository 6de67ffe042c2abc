#include "windowpictures.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>

#include <cstdint>

namespace {

constexpr int kTextureSize = 256;
constexpr int kGlyphSize = 16;

/// A small fixed pseudo-random sequence: the texture must look the same on every start.
class Grain {
public:
    int next(int range) {
        m_state = m_state * 1664525u + 1013904223u;
        return static_cast<int>((m_state >> 16) % static_cast<uint32_t>(range));
    }

private:
    uint32_t m_state = 0x5eed;
};

void paintGlyph(QPainter &p, WindowPictures::Glyph glyph) {
    using G = WindowPictures::Glyph;
    const QColor ink(40, 48, 56);
    const QPen outline(ink, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    auto sheet = [&](const QColor &fill) {
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10.5, 1.5);
        page.lineTo(13.5, 4.5);
        page.lineTo(13.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.setPen(outline);
        p.setBrush(fill);
        p.drawPath(page);
        p.drawLine(QPointF(10.5, 1.5), QPointF(10.5, 4.5));
        p.drawLine(QPointF(10.5, 4.5), QPointF(13.5, 4.5));
    };
    auto diskette = [&](const QRectF &r, const QColor &body) {
        p.setPen(outline);
        p.setBrush(body);
        p.drawRoundedRect(r, 1.0, 1.0);
        p.setBrush(QColor(235, 240, 245));
        p.drawRect(
            QRectF(r.left() + r.width() * 0.22, r.top(), r.width() * 0.56, r.height() * 0.36));
        p.setBrush(QColor(250, 250, 250));
        p.drawRect(QRectF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.55,
                          r.width() * 0.64, r.height() * 0.45));
    };
    auto triangle = [&](double tipX, bool left) {
        const double back = left ? tipX + 5.0 : tipX - 5.0;
        const QPolygonF t{{tipX, 8.0}, {back, 3.0}, {back, 13.0}};
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 70, 150));
        p.drawPolygon(t);
    };
    auto bar = [&](double x) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 70, 150));
        p.drawRect(QRectF(x, 3.0, 1.6, 10.0));
    };

    switch (glyph) {
    case G::ClearRecords:
        sheet(Qt::white);
        p.setPen(QPen(QColor(210, 30, 30), 2.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6, 7), QPointF(11, 12));
        p.drawLine(QPointF(11, 7), QPointF(6, 12));
        break;
    case G::OpenFile: {
        p.setPen(outline);
        p.setBrush(QColor(214, 170, 60));
        p.drawRect(QRectF(1.5, 3.5, 11, 10));
        p.drawRect(QRectF(1.5, 2.5, 5, 1));
        QPainterPath flap;
        flap.moveTo(4.5, 6.5);
        flap.lineTo(15.5, 6.5);
        flap.lineTo(12.5, 13.5);
        flap.lineTo(1.5, 13.5);
        flap.closeSubpath();
        p.setBrush(QColor(246, 208, 104));
        p.drawPath(flap);
        break;
    }
    case G::SaveFile:
        diskette(QRectF(1.5, 1.5, 13, 13), QColor(52, 96, 170));
        break;
    case G::Print:
        p.setPen(outline);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(170, 176, 184));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 5), 1.0, 1.0);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        p.drawLine(QPointF(6, 11.5), QPointF(10, 11.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 170, 0));
        p.drawEllipse(QPointF(12.5, 8.5), 0.9, 0.9);
        break;
    case G::GraphNew:
        sheet(QColor(255, 255, 200));
        p.setPen(QPen(QColor(0, 128, 255), 1.2));
        p.drawPolyline(QPolygonF{{5, 12}, {7, 9}, {9, 10.5}, {12, 6}});
        break;
    case G::GraphSave:
        p.setPen(QPen(QColor(0, 128, 255), 1.2));
        p.drawPolyline(QPolygonF{{1, 6}, {4, 2}, {7, 4}, {10, 1}});
        diskette(QRectF(4.5, 5.5, 10, 10), QColor(52, 96, 170));
        break;
    case G::First:
        bar(2.5);
        triangle(4.5, true);
        triangle(9.0, true);
        break;
    case G::Previous:
        triangle(5.0, true);
        break;
    case G::Next:
        triangle(11.0, false);
        break;
    case G::Last:
        triangle(7.0, false);
        triangle(11.5, false);
        bar(11.9);
        break;
    }
}

/// Draws a glyph at whatever size and device pixel ratio a button asks for, instead of
/// scaling a pixmap made for another ratio.
class GlyphIconEngine : public QIconEngine {
public:
    explicit GlyphIconEngine(WindowPictures::Glyph glyph) : m_glyph(glyph) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(
            rect, scaledPixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state, ratio));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    /// `size` in device pixels, as QIcon asks for it.
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = WindowPictures::glyphPixmap(m_glyph, size, scale);
        if (mode == QIcon::Disabled && qobject_cast<QApplication *>(QCoreApplication::instance())) {
            QStyleOption option;
            option.palette = QApplication::palette();
            pixmap = QApplication::style()->generatedIconPixmap(mode, pixmap, &option);
            pixmap.setDevicePixelRatio(scale);
        }
        return pixmap;
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        return size.boundedTo(QSize(kGlyphSize, kGlyphSize));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(kGlyphSize, kGlyphSize)};
    }
    QIconEngine *clone() const override { return new GlyphIconEngine(m_glyph); }
    QString key() const override { return QStringLiteral("qm-glyph"); }

private:
    WindowPictures::Glyph m_glyph;
};

} // namespace

QPixmap WindowPictures::texture() {
    QImage image(kTextureSize, kTextureSize, QImage::Format_RGB32);
    Grain grain;
    for (int y = 0; y < kTextureSize; ++y) {
        for (int x = 0; x < kTextureSize; ++x) {
            // Dark blue-green with fine grain and faint diagonal brushing.
            const int brush = ((x + 2 * y) % 7 == 0) ? 6 : 0;
            const int g = grain.next(9);
            image.setPixel(x, y, qRgb(6 + g / 2, 46 + g + brush, 58 + g + brush));
        }
    }
    return QPixmap::fromImage(image);
}

QIcon WindowPictures::glyph(Glyph glyph) {
    return QIcon(new GlyphIconEngine(glyph));
}

QPixmap WindowPictures::glyphPixmap(Glyph glyph, QSize pixels, qreal ratio) {
    QPixmap pixmap(pixels);
    pixmap.fill(Qt::transparent);
    if (!pixels.isEmpty()) {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(qreal(pixels.width()) / kGlyphSize, qreal(pixels.height()) / kGlyphSize);
        paintGlyph(p, glyph);
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}
