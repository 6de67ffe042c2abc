#pragma once

#include <QLabel>
#include <QList>
#include <QRectF>

/// A label whose caption is drawn as LCD symbols (see LcdGlyphs) in its text colour on a
/// transparent background. text() is the caption as the decoders wrote it.
///
/// `fontHeight` plays the part of a font's pixel height: the glyphs' body starts
/// LcdGlyphs::bodyTop() below the label's top and is LcdGlyphs::bodyHeight() high. A
/// caption wider than the label is squeezed to fit rather than cut.
class LcdGlyphLabel : public QLabel {
    Q_OBJECT

public:
    explicit LcdGlyphLabel(const QString &caption, qreal fontHeight, bool bold = false,
                           QWidget *parent = nullptr);

    qreal fontHeight() const { return m_fontHeight; }
    bool isBold() const { return m_bold; }

    /// Where each character of the caption is drawn, in the label's coordinates.
    QList<QRectF> glyphCells() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_fontHeight;
    bool m_bold;
};
