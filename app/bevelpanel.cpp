#include "bevelpanel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <qdrawutil.h>

BevelPanel::BevelPanel(const QString &objectName, const QString &caption, QWidget *parent)
    : QFrame(parent), m_caption(caption) {
    setObjectName(objectName);
    setAutoFillBackground(true);
}

void BevelPanel::setCaption(const QString &caption) {
    m_caption = caption;
    update();
}

void BevelPanel::setBevelOuter(Bevel bevel) {
    m_outer = bevel;
    update();
}

void BevelPanel::setBevelInner(Bevel bevel) {
    m_inner = bevel;
    update();
}

void BevelPanel::setCaptionPainter(CaptionPainter painter) {
    m_captionPainter = std::move(painter);
    update();
}

void BevelPanel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    QRect r = rect();
    for (Bevel bevel : {m_outer, m_inner}) {
        if (bevel == bvNone)
            continue;
        qDrawShadePanel(&p, r, palette(), bevel == bvLowered, 1);
        r.adjust(1, 1, -1, -1);
    }
    if (m_captionPainter) {
        m_captionPainter(p, r, m_caption);
        return;
    }
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(r, Qt::AlignCenter, m_caption);
}

void BevelPanel::mousePressEvent(QMouseEvent *event) {
    emit pressed(event->button());
    event->accept();
}

void BevelPanel::mouseReleaseEvent(QMouseEvent *event) {
    emit released(event->button());
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    event->accept();
}
