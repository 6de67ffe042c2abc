#include "lcdglyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace {

// Segment bits.
constexpr int A = 1 << LcdGlyphs::SegA;
constexpr int B = 1 << LcdGlyphs::SegB;
constexpr int C = 1 << LcdGlyphs::SegC;
constexpr int D = 1 << LcdGlyphs::SegD;
constexpr int E = 1 << LcdGlyphs::SegE;
constexpr int F = 1 << LcdGlyphs::SegF;
constexpr int G = 1 << LcdGlyphs::SegG;

constexpr qreal kDigitAdvance = 0.47;
constexpr qreal kMinusAdvance = 0.34;
constexpr qreal kStroke = 0.13;
constexpr qreal kBoldStroke = 0.17;

/// A stroked glyph: paths in a box `advance` wide and 1 high (y down, 1 = baseline),
/// written in a small path language: M x y, L x y, Z, A x y w h start sweep (arc in the
/// rectangle, degrees counter-clockwise), N x y w h angle (move to a point of that arc),
/// E x y w h (ellipse), R x y w h (rectangle). `stroke` is outlined, `fill` is filled, and
/// the outline of `knockout` is cut out of the fill, for symbols drawn dark on a lit block.
struct StrokeGlyph {
    qreal advance;
    const char *stroke;
    const char *fill;
    const char *knockout = "";
    qreal strokeScale = 1.0; ///< for fine symbols in narrow labels
};

const QHash<QChar, StrokeGlyph> &strokeGlyphs() {
    static const QHash<QChar, StrokeGlyph> glyphs{
        // Capitals.
        {u'A', {0.62, "M 0 1 L 0 0.31 A 0 0 0.62 0.62 180 -180 L 0.62 1 M 0 0.56 L 0.62 0.56", ""}},
        {u'B',
         {0.58,
          "M 0 1 L 0 0 L 0.3 0 A 0.08 0 0.44 0.48 90 -180 L 0 0.48 M 0.3 0.48 "
          "A 0.06 0.48 0.52 0.52 90 -180 L 0 1",
          ""}},
        {u'C',
         {0.58,
          "N 0 0 0.58 0.58 35 A 0 0 0.58 0.58 35 145 L 0 0.71 "
          "A 0 0.42 0.58 0.58 180 145",
          ""}},
        {u'D',
         {0.60,
          "M 0 0 L 0.3 0 A 0 0 0.6 0.6 90 -90 L 0.6 0.7 A 0 0.4 0.6 0.6 0 -90 "
          "L 0 1 Z",
          ""}},
        {u'E', {0.52, "M 0.52 0 L 0 0 L 0 1 L 0.52 1 M 0 0.5 L 0.42 0.5", ""}},
        {u'F', {0.52, "M 0.52 0 L 0 0 L 0 1 M 0 0.5 L 0.42 0.5", ""}},
        {u'G',
         {0.58,
          "N 0 0 0.58 0.58 35 A 0 0 0.58 0.58 35 145 L 0 0.71 "
          "A 0 0.42 0.58 0.58 180 180 L 0.58 0.55 L 0.32 0.55",
          ""}},
        {u'H', {0.60, "M 0 0 L 0 1 M 0.6 0 L 0.6 1 M 0 0.5 L 0.6 0.5", ""}},
        {u'I', {0.30, "M 0.15 0 L 0.15 1", ""}},
        {u'K', {0.58, "M 0 0 L 0 1 M 0.58 0 L 0 0.62 M 0.2 0.42 L 0.58 1", ""}},
        {u'L', {0.50, "M 0 0 L 0 1 L 0.5 1", ""}},
        {u'M', {0.76, "M 0 1 L 0 0 L 0.38 0.56 L 0.76 0 L 0.76 1", ""}},
        {u'N', {0.62, "M 0 1 L 0 0 L 0.62 1 L 0.62 0", ""}},
        {u'O', {0.60, "N 0 0 0.6 0.6 0 A 0 0 0.6 0.6 0 180 L 0 0.7 A 0 0.4 0.6 0.6 180 180 Z", ""}},
        {u'P', {0.58, "M 0 1 L 0 0 L 0.31 0 A 0.04 0 0.54 0.54 90 -180 L 0 0.54", ""}},
        {u'R',
         {0.60,
          "M 0 1 L 0 0 L 0.31 0 A 0.04 0 0.54 0.54 90 -180 L 0 0.54 "
          "M 0.3 0.54 L 0.6 1",
          ""}},
        {u'S', {0.58, "N 0 0 0.58 0.5 15 A 0 0 0.58 0.5 15 255 A 0 0.5 0.58 0.5 90 -260", ""}},
        {u'T', {0.60, "M 0 0 L 0.6 0 M 0.3 0 L 0.3 1", ""}},
        {u'U', {0.60, "M 0 0 L 0 0.7 A 0 0.4 0.6 0.6 180 180 L 0.6 0", ""}},
        {u'V', {0.64, "M 0 0 L 0.32 1 L 0.64 0", ""}},
        {u'W', {0.86, "M 0 0 L 0.2 1 L 0.43 0.4 L 0.66 1 L 0.86 0", ""}},
        {u'X', {0.60, "M 0 0 L 0.6 1 M 0.6 0 L 0 1", ""}},
        {u'Y', {0.60, "M 0 0 L 0.3 0.5 L 0.6 0 M 0.3 0.5 L 0.3 1", ""}},
        {u'Z', {0.56, "M 0 0 L 0.56 0 L 0 1 L 0.56 1", ""}},
        // Small letters: x-height from 0.4 to the baseline.
        {u'k', {0.50, "M 0 0 L 0 1 M 0.5 0.4 L 0 0.78 M 0.17 0.65 L 0.5 1", ""}},
        {u'm',
         {0.80,
          "M 0 0.4 L 0 1 M 0 0.6 A 0 0.4 0.4 0.4 180 -180 L 0.4 1 "
          "M 0.4 0.6 A 0.4 0.4 0.4 0.4 180 -180 L 0.8 1",
          ""}},
        {u'n', {0.50, "M 0 0.4 L 0 1 M 0 0.65 A 0 0.4 0.5 0.5 180 -180 L 0.5 1", ""}},
        {u'r', {0.40, "M 0 0.4 L 0 1 M 0 0.72 A 0 0.4 0.64 0.64 180 -90 L 0.4 0.4", ""}},
        {u's', {0.46, "N 0 0.4 0.46 0.3 15 A 0 0.4 0.46 0.3 15 255 A 0 0.7 0.46 0.3 90 -260", ""}},
        {u't', {0.40, "M 0.14 0.1 L 0.14 1 L 0.4 1 M 0 0.4 L 0.4 0.4", ""}},
        {u'u', {0.50, "M 0 0.4 L 0 0.75 A 0 0.5 0.5 0.5 180 180 L 0.5 0.4 M 0.5 0.4 L 0.5 1", ""}},
        {u'z', {0.46, "M 0 0.4 L 0.46 0.4 L 0 1 L 0.46 1", ""}},
        // Symbols.
        {u'%', {0.62, "M 0.6 0 L 0.02 1 E 0 0.02 0.2 0.28 E 0.42 0.7 0.2 0.28", ""}},
        // Micro sign: a u whose left stem runs down below the baseline of its bowl.
        {u'+',
         {0.52,
          "M 0 0.25 L 0 1 M 0 0.55 A 0 0.3 0.52 0.5 180 180 L 0.52 0.25 "
          "M 0.52 0.25 L 0.52 0.8",
          ""}},
        // Ohm sign: an open ring on two feet.
        {u'*', {0.72, "M 0 1 L 0.25 1 L 0.18 0.77 A 0 0 0.72 0.84 240 -300 L 0.47 1 L 0.72 1", ""}},
        // Continuity: a loudspeaker with two sound waves.
        {u'&',
         {0.86,
          "M 0 0.36 L 0.17 0.36 L 0.4 0.14 L 0.4 0.86 L 0.17 0.64 L 0 0.64 Z "
          "N 0.28 0.3 0.4 0.4 50 A 0.28 0.3 0.4 0.4 50 -100 "
          "N 0.1 0.12 0.76 0.76 50 A 0.1 0.12 0.76 0.76 50 -100",
          "M 0 0.36 L 0.17 0.36 L 0.17 0.64 L 0 0.64 Z"}},
        // Diode: a lead through a triangle pointing at a bar.
        {u')',
         {0.90, "M 0 0.5 L 0.9 0.5 M 0.64 0.18 L 0.64 0.82",
          "M 0.22 0.18 L 0.22 0.82 L 0.62 0.5 Z"}},
        // HOLD: a dark H on a lit block, kept low so it clears the panel's top edge.
        {u'"',
         {0.66, "", "R -0.06 0.26 0.78 0.8",
          "M 0.14 0.44 L 0.14 0.88 M 0.52 0.44 L 0.52 0.88 M 0.14 0.66 L 0.52 0.66"}},
        // The leading digit's overload mark: a bracket, so it cannot pass for a digit.
        {u'(', {0.47, "N 0.12 0.02 0.7 0.96 125 A 0.12 0.02 0.7 0.96 125 110", ""}},
        // REL: a delta.
        {u'!', {0.70, "M 0.35 0.12 L 0.7 1 L 0 1 Z", ""}},
        // Battery: upright, thin walls, terminal on top, a low charge mark at the bottom.
        {u'$',
         {0.42, "M 0 0.14 L 0.42 0.14 L 0.42 1 L 0 1 Z", "R 0.11 0.02 0.2 0.1 R 0.1 0.78 0.22 0.13",
          "", 0.5}},
        {u'#',
         {0.60,
          "M 0.22 0.08 L 0.16 0.92 M 0.46 0.08 L 0.4 0.92 M 0 0.35 L 0.6 0.35 "
          "M 0 0.65 L 0.6 0.65",
          ""}},
        {u'?',
         {0.50, "N 0 0 0.5 0.46 160 A 0 0 0.5 0.46 160 -215 L 0.25 0.7", "E 0.17 0.86 0.16 0.14"}},
        {u'.', {0.34, "", "R 0 0.8 0.34 0.2"}},
        {u':', {0.30, "", "R 0.02 0.3 0.26 0.18 R 0.02 0.78 0.26 0.18"}},
        {u' ', {0.30, "", ""}},
    };
    return glyphs;
}

constexpr StrokeGlyph kUnknownGlyph{0.50, "M 0 0.3 L 0.5 0.3 L 0.5 1 L 0 1 Z", ""};

/// Reads the path language of StrokeGlyph into a path in glyph units.
QPainterPath parsePath(const char *text) {
    QPainterPath path;
    const QStringList tokens =
        QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int i = 0;
    auto num = [&]() { return i < tokens.size() ? tokens.at(i++).toDouble() : 0.0; };
    while (i < tokens.size()) {
        const QString cmd = tokens.at(i++);
        if (cmd == QLatin1String("M")) {
            const qreal x = num(), y = num();
            path.moveTo(x, y);
        } else if (cmd == QLatin1String("L")) {
            const qreal x = num(), y = num();
            path.lineTo(x, y);
        } else if (cmd == QLatin1String("Z")) {
            path.closeSubpath();
        } else if (cmd == QLatin1String("A")) {
            const qreal x = num(), y = num(), w = num(), h = num(), s = num(), sw = num();
            path.arcTo(QRectF(x, y, w, h), s, sw);
        } else if (cmd == QLatin1String("N")) {
            const qreal x = num(), y = num(), w = num(), h = num(), a = num();
            path.arcMoveTo(QRectF(x, y, w, h), a);
        } else if (cmd == QLatin1String("E")) {
            const qreal x = num(), y = num(), w = num(), h = num();
            path.addEllipse(QRectF(x, y, w, h));
        } else if (cmd == QLatin1String("R")) {
            const qreal x = num(), y = num(), w = num(), h = num();
            path.addRect(QRectF(x, y, w, h));
        }
    }
    return path;
}

struct ParsedGlyph {
    qreal advance = 0;
    qreal strokeScale = 1.0;
    QPainterPath stroke;
    QPainterPath fill;
    QPainterPath knockout;
};

const ParsedGlyph &parsedGlyph(QChar ch) {
    static QHash<QChar, ParsedGlyph> cache;
    auto it = cache.find(ch);
    if (it != cache.end())
        return *it;
    const auto &table = strokeGlyphs();
    StrokeGlyph def = kUnknownGlyph;
    qreal yScale = 1.0;
    if (table.contains(ch)) {
        def = table.value(ch);
    } else if (ch.isLower() && table.contains(ch.toUpper())) {
        // A small letter without a shape of its own: its capital, shrunk to the x-height.
        def = table.value(ch.toUpper());
        yScale = 0.6;
    }
    ParsedGlyph g;
    g.advance = def.advance * (yScale < 1.0 ? 0.85 : 1.0);
    g.strokeScale = def.strokeScale;
    QTransform shrink;
    if (yScale < 1.0)
        shrink = QTransform(0.85, 0, 0, yScale, 0, 1.0 - yScale);
    g.stroke = shrink.map(parsePath(def.stroke));
    g.fill = shrink.map(parsePath(def.fill));
    g.knockout = shrink.map(parsePath(def.knockout));
    return *cache.insert(ch, g);
}

/// Maps a glyph's local coordinates (x from the cell's left, y from its top, both in
/// pixels, before slanting) into the painter's coordinates, leaning the top to the right.
QTransform slantInto(const QRectF &cell) {
    const qreal h = cell.height();
    // x' = left + x + k (h - y), y' = top + y
    return QTransform(1, 0, -LcdGlyphs::kSlant, 1, cell.left() + LcdGlyphs::kSlant * h, cell.top());
}

int segmentPattern(QChar ch) {
    switch (ch.unicode()) {
    case u'0':
        return A | B | C | D | E | F;
    case u'1':
    case u'/':
        return B | C;
    case u'2':
    case u',':
        return A | B | D | E | G;
    case u'3':
    case u'<':
        return A | B | C | D | G;
    case u'4':
    case u'>':
        return B | C | F | G;
    case u'5':
        return A | C | D | F | G;
    case u'6':
        return A | C | D | E | F | G;
    case u'7':
        return A | B | C;
    case u'8':
        return A | B | C | D | E | F | G;
    case u'9':
        return A | B | C | D | F | G;
    case u'-':
        return G;
    case u'@':
        return D | E | F; // L
    default:
        return 0;
    }
}

/// Segment outline in local coordinates of a glyph w wide (before slant) and h high.
/// Corner joints are mitred at 45 degrees and separated by a hairline gap, as on a
/// real LCD glass.
QPolygonF localSegment(qreal w, qreal h, LcdGlyphs::Segment s) {
    const qreal t = std::min(0.1 * h, w / 2.5); // segment thickness, as for a full digit
    const qreal c = std::max(0.35, 0.1 * t);    // half gap at a joint
    const qreal m = h / 2;
    switch (s) {
    case LcdGlyphs::SegA:
        return QPolygonF({{c, 0}, {w - c, 0}, {w - t - c, t}, {t + c, t}});
    case LcdGlyphs::SegB:
        return QPolygonF({{w, c}, {w, m - c}, {w - t, m - t / 2 - c}, {w - t, t + c}});
    case LcdGlyphs::SegC:
        return QPolygonF({{w, m + c}, {w, h - c}, {w - t, h - t - c}, {w - t, m + t / 2 + c}});
    case LcdGlyphs::SegD:
        return QPolygonF({{t + c, h - t}, {w - t - c, h - t}, {w - c, h}, {c, h}});
    case LcdGlyphs::SegE:
        return QPolygonF({{0, m + c}, {t, m + t / 2 + c}, {t, h - t - c}, {0, h - c}});
    case LcdGlyphs::SegF:
        return QPolygonF({{0, c}, {t, t + c}, {t, m - t / 2 - c}, {0, m - c}});
    case LcdGlyphs::SegG:
        return QPolygonF({{c, m},
                          {t + c, m - t / 2},
                          {w - t - c, m - t / 2},
                          {w - c, m},
                          {w - t - c, m + t / 2},
                          {t + c, m + t / 2}});
    case LcdGlyphs::SegmentCount:
        break;
    }
    return {};
}

} // namespace

bool LcdGlyphs::isSegmentGlyph(QChar ch) {
    return segmentPattern(ch) != 0;
}

int LcdGlyphs::segmentsOf(QChar ch) {
    return segmentPattern(ch);
}

qreal LcdGlyphs::advance(QChar ch, qreal height) {
    if (ch == QLatin1Char('-'))
        return kMinusAdvance * height;
    if (isSegmentGlyph(ch))
        return kDigitAdvance * height;
    return parsedGlyph(ch).advance * height;
}

qreal LcdGlyphs::textWidth(const QString &text, qreal height) {
    qreal w = 0;
    for (QChar ch : text)
        w += advance(ch, height);
    if (text.size() > 1)
        w += spacing(height) * (text.size() - 1);
    return w;
}

QList<QRectF> LcdGlyphs::layout(const QString &text, QPointF origin, qreal height, qreal maxWidth) {
    const qreal natural = textWidth(text, height);
    const qreal squeeze = (natural > maxWidth && natural > 0) ? maxWidth / natural : 1.0;
    QList<QRectF> cells;
    qreal x = origin.x();
    for (QChar ch : text) {
        const qreal w = advance(ch, height) * squeeze;
        cells << QRectF(x, origin.y(), w, height);
        x += w + spacing(height) * squeeze;
    }
    return cells;
}

QPolygonF LcdGlyphs::segmentPolygon(const QRectF &cell, Segment segment, QChar ch) {
    const qreal h = cell.height();
    // The minus bar sits at mid-height, where the slant moves it by only half as much as
    // the top of a digit, so it can use more of its narrow cell.
    if (ch == QLatin1Char('-') && segment == SegG) {
        // A bar on its own, with only its corners cut: the pointed ends of a digit's
        // middle segment would make a short bar look like a lozenge.
        const qreal w = cell.width() - kSlant * h / 2;
        const qreal t = std::min(0.1 * h, w / 2.5);
        const qreal b = t / 4;
        const qreal top = h / 2 - t / 2;
        const qreal bottom = h / 2 + t / 2;
        return slantInto(cell).map(QPolygonF({{0, top + b},
                                              {b, top},
                                              {w - b, top},
                                              {w, top + b},
                                              {w, bottom - b},
                                              {w - b, bottom},
                                              {b, bottom},
                                              {0, bottom - b}}));
    }
    return slantInto(cell).map(localSegment(cell.width() - kSlant * h, h, segment));
}

void LcdGlyphs::draw(QPainter &painter, const QRectF &cell, QChar ch, bool bold) {
    if (cell.width() <= 0 || cell.height() <= 0)
        return;
    const QColor colour = painter.pen().color();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);

    if (const int pattern = segmentPattern(ch)) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        for (int s = 0; s < SegmentCount; ++s)
            if (pattern & (1 << s))
                painter.drawPolygon(segmentPolygon(cell, static_cast<Segment>(s), ch));
        painter.restore();
        return;
    }

    const ParsedGlyph &g = parsedGlyph(ch);
    const qreal h = cell.height();
    const qreal stroke = (bold ? kBoldStroke : kStroke) * g.strokeScale * h;
    const qreal w = cell.width() - kSlant * h;
    // Glyph units to local pixels, inset by half a stroke so the outline stays in the cell.
    const qreal sx = std::max<qreal>(0.0, w - stroke) / g.advance;
    const qreal sy = h - stroke;
    const QTransform toCell = QTransform(sx, 0, 0, sy, stroke / 2, stroke / 2) * slantInto(cell);

    QPen pen(colour, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (!g.fill.isEmpty()) {
        QPainterPath fill = toCell.map(g.fill);
        if (!g.knockout.isEmpty()) {
            QPainterPathStroker cut;
            cut.setWidth(stroke);
            cut.setCapStyle(Qt::FlatCap);
            cut.setJoinStyle(Qt::MiterJoin);
            fill = fill.subtracted(cut.createStroke(toCell.map(g.knockout)));
        }
        painter.fillPath(fill, colour);
    }
    if (!g.stroke.isEmpty())
        painter.strokePath(toCell.map(g.stroke), pen);
    painter.restore();
}

void LcdGlyphs::drawText(QPainter &painter, QPointF origin, qreal height, const QString &text,
                         qreal maxWidth, bool bold) {
    const QList<QRectF> cells = layout(text, origin, height, maxWidth);
    for (int i = 0; i < cells.size(); ++i)
        draw(painter, cells.at(i), text.at(i), bold);
}
