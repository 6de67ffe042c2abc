#pragma once

#include <QChar>
#include <QList>
#include <QPolygonF>
#include <QRectF>
#include <QString>

class QPainter;

/// Draws the meter's LCD symbols with a painter, at any size, without a font file.
///
/// Each caption character stands for one LCD symbol: "0"-"9" are slanted seven-segment
/// digits (so are "/", ",", "<", ">", which the port panels use for 1, 2, 3, 4), "-" is
/// the digit-height minus, "@" the letter L of an overload; "(" is the leading digit's
/// overload mark, a bracket; "+" is the micro sign, "*" the ohm sign, "&" the continuity (buzzer)
/// symbol, ")" the diode, the double quote the HOLD symbol, "!" the REL delta, "$" the
/// battery; letters and "%" are drawn as bold strokes. Anything else shows as an empty box.
///
/// Sizes follow the labels' font height F: a glyph's body starts bodyTop(F) below the
/// label's top and is bodyHeight(F) high; each glyph gets a cell of its own advance.
class LcdGlyphs {
public:
    enum Segment { SegA, SegB, SegC, SegD, SegE, SegF, SegG, SegmentCount };

    /// Horizontal shift of a glyph's top against its foot, as a fraction of its height.
    static constexpr qreal kSlant = 0.07;

    static qreal bodyTop(qreal fontHeight) { return 0.13 * fontHeight; }
    static qreal bodyHeight(qreal fontHeight) { return 0.79 * fontHeight; }

    /// Width of the cell of `ch` for a body `height` high.
    static qreal advance(QChar ch, qreal height);
    /// Space between two cells.
    static qreal spacing(qreal height) { return 0.14 * height; }
    /// Natural width of `text`, cells and spacing.
    static qreal textWidth(const QString &text, qreal height);

    /// The cells of the characters of `text` laid out from `origin` (top left of the
    /// body), squeezed horizontally when the natural width exceeds `maxWidth`.
    static QList<QRectF> layout(const QString &text, QPointF origin, qreal height, qreal maxWidth);

    /// Draws `ch` filling `cell` with the painter's current pen colour.
    static void draw(QPainter &painter, const QRectF &cell, QChar ch, bool bold = false);
    /// Draws `text` laid out as by layout().
    static void drawText(QPainter &painter, QPointF origin, qreal height, const QString &text,
                         qreal maxWidth, bool bold = false);

    /// True for the characters drawn as seven-segment patterns.
    static bool isSegmentGlyph(QChar ch);
    /// The lit segments of a seven-segment character, bit n for Segment n; 0 otherwise.
    static int segmentsOf(QChar ch);
    /// Outline of one segment of the seven-segment character `ch` drawn in `cell`.
    static QPolygonF segmentPolygon(const QRectF &cell, Segment segment,
                                    QChar ch = QLatin1Char('8'));
};
