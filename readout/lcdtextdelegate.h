#pragma once

#include <QStyledItemDelegate>

/// Draws a view column's texts as LCD symbols, the way the meter shows them: a unit text
/// "k*" reads as kilo-ohm, "&  " as the continuity sign. Background, selection and focus
/// are drawn as for any other cell.
class LcdTextDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    /// `fontHeight` plays the part of a font's pixel height (see LcdGlyphs).
    explicit LcdTextDelegate(qreal fontHeight, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    qreal m_fontHeight;
};
