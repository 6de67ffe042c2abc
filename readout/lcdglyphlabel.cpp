#include "lcdglyphlabel.h"

#include "lcdglyphs.h"

#include <QPainter>

#include <cmath>

LcdGlyphLabel::LcdGlyphLabel(const QString &caption, qreal fontHeight, bool bold, QWidget *parent)
    : QLabel(caption, parent), m_fontHeight(fontHeight), m_bold(bold) {}

QList<QRectF> LcdGlyphLabel::glyphCells() const {
    return LcdGlyphs::layout(text(), QPointF(0, LcdGlyphs::bodyTop(m_fontHeight)),
                             LcdGlyphs::bodyHeight(m_fontHeight), width());
}

QSize LcdGlyphLabel::sizeHint() const {
    const qreal w = LcdGlyphs::textWidth(text(), LcdGlyphs::bodyHeight(m_fontHeight));
    return {static_cast<int>(std::ceil(w)), static_cast<int>(std::ceil(1.12 * m_fontHeight))};
}

void LcdGlyphLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QString caption = text();
    const QList<QRectF> cells = glyphCells();
    for (int i = 0; i < cells.size(); ++i)
        LcdGlyphs::draw(painter, cells.at(i), caption.at(i), m_bold);
}
