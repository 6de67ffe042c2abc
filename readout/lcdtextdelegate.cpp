#include "lcdtextdelegate.h"

#include <QApplication>
#include <QPainter>

#include "lcdglyphs.h"

LcdTextDelegate::LcdTextDelegate(qreal fontHeight, QObject *parent)
    : QStyledItemDelegate(parent), m_fontHeight(fontHeight) {}

void LcdTextDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    if (text.isEmpty())
        return;

    constexpr qreal kMargin = 3;
    const QRectF cell = QRectF(opt.rect).adjusted(kMargin, 0, -kMargin, 0);
    const qreal height = LcdGlyphs::bodyHeight(m_fontHeight);
    const qreal width = std::min(LcdGlyphs::textWidth(text, height), cell.width());
    qreal left = cell.left();
    if (opt.displayAlignment & Qt::AlignRight)
        left = cell.right() - width;
    else if (opt.displayAlignment & Qt::AlignHCenter)
        left = cell.left() + (cell.width() - width) / 2;
    const qreal top = cell.top() + (cell.height() - height) / 2;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = opt.state & QStyle::State_Selected;
    painter->setPen(
        opt.palette.color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text));
    LcdGlyphs::drawText(*painter, QPointF(left, top), height, text, cell.width());
    painter->restore();
}
