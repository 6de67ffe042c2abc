#include "picturelabel.h"

#include <QPainter>

PictureLabel::PictureLabel(Painter painter, QWidget *parent)
    : QLabel(parent), m_painter(std::move(painter)) {}

QPixmap PictureLabel::render(const Painter &painter, QSize size, qreal ratio) {
    QPixmap picture((QSizeF(size) * ratio).toSize());
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    painter(p, size);
    return picture;
}

void PictureLabel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    m_painter(p, size());
}
