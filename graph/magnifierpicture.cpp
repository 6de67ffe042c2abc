#include "magnifierpicture.h"

#include "picturelabel.h"

#include <QPainter>

QPixmap MagnifierPicture::draw(int pixels, bool enlarge, qreal ratio) {
    return PictureLabel::render(
        [enlarge](QPainter &p, QSizeF size) { paint(p, size.width(), enlarge); },
        QSize(pixels, pixels), ratio);
}

void MagnifierPicture::paint(QPainter &p, qreal pixels, bool enlarge) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal unit = pixels / 25.0;
    const QRectF lens(3 * unit, 3 * unit, 13 * unit, 13 * unit);
    p.setPen(QPen(QColor(40, 40, 40), 2 * unit, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(QColor(220, 238, 255));
    p.drawEllipse(lens);
    p.setPen(QPen(QColor(90, 60, 30), 3 * unit, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15 * unit, 15 * unit), QPointF(22 * unit, 22 * unit));
    p.setPen(QPen(QColor(0, 0, 160), 1.6 * unit, Qt::SolidLine, Qt::RoundCap));
    const QPointF c = lens.center();
    p.drawLine(QPointF(c.x() - 3.5 * unit, c.y()), QPointF(c.x() + 3.5 * unit, c.y()));
    if (enlarge)
        p.drawLine(QPointF(c.x(), c.y() - 3.5 * unit), QPointF(c.x(), c.y() + 3.5 * unit));
    p.restore();
}

QLabel *MagnifierPicture::makeImage(QWidget *parent, const char *name, QPoint at,
                                    const QString &hint, bool enlarge) {
    auto *image = new PictureLabel(
        [enlarge](QPainter &p, QSizeF size) { paint(p, size.width(), enlarge); }, parent);
    image->setObjectName(QLatin1String(name));
    image->setGeometry(QRect(at, QSize(kPixels, kPixels)));
    image->setToolTip(hint);
    // The chart shows a cross-hair; over its buttons the pointer is the plain one.
    image->setCursor(Qt::ArrowCursor);
    return image;
}
