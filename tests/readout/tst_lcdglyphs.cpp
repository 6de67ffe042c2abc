#include <QImage>
#include <QPainter>
#include <QTest>

#include "lcdglyphs.h"

namespace {

constexpr int kImageSize = 200;
const QPointF kOrigin{20, 30};

bool lit(const QImage &img, QPointF p) {
    return qGray(img.pixel(p.toPoint())) > 128;
}

QImage render(QChar ch, qreal height, bool bold, QRectF *cellOut = nullptr) {
    QImage img(kImageSize, kImageSize, QImage::Format_RGB32);
    img.fill(Qt::black);
    const QRectF cell(kOrigin, QSizeF(LcdGlyphs::advance(ch, height), height));
    QPainter p(&img);
    p.setPen(Qt::white);
    LcdGlyphs::draw(p, cell, ch, bold);
    p.end();
    if (cellOut)
        *cellOut = cell;
    return img;
}

QPointF centroid(const QPolygonF &poly) {
    QPointF sum;
    for (const QPointF &pt : poly)
        sum += pt;
    return sum / poly.size();
}

} // namespace

class TestLcdGlyphs : public QObject {
    Q_OBJECT

private slots:
    void segments_data();
    void segments();
    void staysInItsCell_data();
    void staysInItsCell();
    void symbolsAreDistinct();
    void squeezesToFit();
};

void TestLcdGlyphs::segments_data() {
    QTest::addColumn<QChar>("ch");
    QTest::addColumn<QString>("lit"); // segment letters a..g
    QTest::addColumn<qreal>("height");

    const struct {
        char ch;
        const char *segments;
    } rows[] = {{'0', "abcdef"},  {'1', "bc"},     {'2', "abdeg"},  {'3', "abcdg"},
                {'4', "bcfg"},    {'5', "acdfg"},  {'6', "acdefg"}, {'7', "abc"},
                {'8', "abcdefg"}, {'9', "abcdfg"}, {'-', "g"},      {'@', "def"},
                {'/', "bc"},      {',', "abdeg"},  {'<', "abcdg"},  {'>', "bcfg"}};
    for (qreal h : {73.47, 20.0}) {
        for (const auto &r : rows)
            QTest::addRow("'%c' at %g", r.ch, h)
                << QChar(QLatin1Char(r.ch)) << QString::fromLatin1(r.segments) << h;
    }
}

void TestLcdGlyphs::segments() {
    QFETCH(QChar, ch);
    QFETCH(QString, lit);
    QFETCH(qreal, height);
    QRectF cell;
    const QImage img = render(ch, height, false, &cell);
    QVERIFY(LcdGlyphs::isSegmentGlyph(ch));
    for (int s = 0; s < LcdGlyphs::SegmentCount; ++s) {
        const QChar name(u'a' + s);
        const QPointF c = centroid(LcdGlyphs::segmentPolygon(cell, LcdGlyphs::Segment(s), ch));
        QVERIFY2(cell.contains(c), qPrintable(QString(name)));
        QCOMPARE(::lit(img, c), lit.contains(name));
    }
}

void TestLcdGlyphs::staysInItsCell_data() {
    QTest::addColumn<QChar>("ch");
    QTest::addColumn<qreal>("height");
    QTest::addColumn<bool>("bold");
    const QString chars = QStringLiteral("0123456789-@(/,<>+*&)\"!$#?%.ABCDEFGHIKLMNOPRSTUVWXYZ"
                                         "kmnrstuzabcdefgx");
    for (QChar ch : chars)
        for (qreal h : {15.0, 40.0})
            QTest::addRow("'%c' %g", ch.toLatin1(), h) << ch << h << (h < 20);
}

void TestLcdGlyphs::staysInItsCell() {
    QFETCH(QChar, ch);
    QFETCH(qreal, height);
    QFETCH(bool, bold);
    QRectF cell;
    const QImage img = render(ch, height, bold, &cell);
    // Anti-aliasing may touch the pixel next to the cell.
    const QRect allowed = cell.toAlignedRect().adjusted(-1, -1, 1, 1);
    int count = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) > 0) {
                ++count;
                QVERIFY2(allowed.contains(x, y), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            }
    QVERIFY(count > 0);
}

void TestLcdGlyphs::symbolsAreDistinct() {
    // Each LCD symbol has a shape of its own; a symbol falling back to the box of unknown
    // characters, or two sharing one, would show the wrong annunciator.
    const QString symbols = QStringLiteral("+*&)\"!$#?%AFHSVmknMz");
    QList<QImage> images;
    for (QChar ch : symbols) {
        QImage img(60, 60, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        p.setPen(Qt::white);
        LcdGlyphs::draw(p, QRectF(5, 5, 40, 40), ch);
        p.end();
        images << img;
    }
    QImage unknown(60, 60, QImage::Format_RGB32);
    unknown.fill(Qt::black);
    {
        QPainter p(&unknown);
        p.setPen(Qt::white);
        LcdGlyphs::draw(p, QRectF(5, 5, 40, 40), QChar(u'\u00A7'));
    }
    for (int i = 0; i < images.size(); ++i) {
        QVERIFY2(images[i] != unknown, qPrintable(QString(symbols[i])));
        for (int j = i + 1; j < images.size(); ++j)
            QVERIFY2(images[i] != images[j], qPrintable(QString(symbols[i]) + symbols[j]));
    }
}

void TestLcdGlyphs::squeezesToFit() {
    const qreal h = 15;
    const QString text = QStringLiteral("AC trms");
    const qreal natural = LcdGlyphs::textWidth(text, h);
    const QList<QRectF> free = LcdGlyphs::layout(text, QPointF(3, 0), h, 1000);
    QCOMPARE(free.size(), text.size());
    QCOMPARE(free.last().right(), 3 + natural);
    const QList<QRectF> tight = LcdGlyphs::layout(text, QPointF(3, 0), h, natural / 2);
    QVERIFY(qAbs(tight.last().right() - (3 + natural / 2)) < 1e-9);
    for (int i = 1; i < tight.size(); ++i)
        QVERIFY(tight[i].left() > tight[i - 1].right());
}

QTEST_MAIN(TestLcdGlyphs)
#include "tst_lcdglyphs.moc"
