#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTest>

#include "lcdglyphlabel.h"
#include "lcdglyphs.h"
#include "lcdpanel.h"
#include "lcdpicture.h"
#include "readingdecoder.h"

namespace {

QString hex(const char *spaced) {
    return QString::fromLatin1(spaced).remove(QLatin1Char(' '));
}

void show(LcdPanel &panel, const char *frame, int rel = 0) {
    panel.apply(LcdPicture::of(ReadingDecoder::decode(hex(frame), rel)));
}

bool lit(const QImage &img, QPointF p) {
    return qGray(img.pixel(p.toPoint())) > 128;
}

QPointF centroid(const QPolygonF &poly) {
    QPointF sum;
    for (const QPointF &pt : poly)
        sum += pt;
    return sum / poly.size();
}

QString screenshotDir() {
    const QString root = qEnvironmentVariable("QM_BUILD_DIR", QDir::currentPath());
    const QString dir = root + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}

const char *const kDigitLabels[] = {"LCDD0", "LcdDa", "LcdDb", "LcdDc", "LcdDd"};

} // namespace

class TestLcdPanel : public QObject {
    Q_OBJECT

private slots:
    void design_data();
    void design();
    void stackingOrder();
    void neverDrivenStayHidden();
    void screenshot_data();
    void screenshot();
};

void TestLcdPanel::design_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("bounds");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<qreal>("glyphHeight"); // 0: not an LCD symbol label

    const struct {
        const char *name;
        QRect r;
        const char *caption;
        qreal font;
        bool visible;
    } rows[] = {
        {"LCDA", {276, 82, 16, 27}, "A", 24, false},
        {"LCDF", {275, 82, 15, 27}, "F", 24, false},
        {"LCDH", {275, 82, 17, 27}, "H", 24, false},
        {"LCDu", {263, 76, 16, 36}, "+", 32, false},
        {"LCDCS", {266, 33, 24, 36}, "#", 32, false},
        {"LCDFS", {267, 33, 23, 36}, "?", 32, false},
        {"LCDDI", {262, 36, 31, 32}, ")", 29, false},
        {"LCDFm", {264, 31, 38, 36}, "&", 32, false},
        {"LcdS", {276, 82, 16, 27}, "S", 24, false},
        {"LcdMin", {225, 110, 27, 16}, "MIN", 0, false},
        {"LcdAvg", {227, 110, 29, 16}, "AVG", 0, false},
        {"LCDM1", {255, 65, 17, 23}, "M", 21, false},
        {"LcdDa", {81, 20, 35, 104}, "9", 93, true},
        {"LcdAuto", {8, 11, 58, 21}, "AUTO", 19, false},
        {"Lcdm", {257, 82, 20, 27}, "m", 24, false},
        {"LCDRS", {70, 11, 29, 21}, "RS", 19, false},
        {"LcdDb", {126, 20, 35, 104}, "9", 93, true},
        {"LcdDc", {171, 20, 35, 104}, "9", 93, true},
        {"LcdDd", {216, 20, 35, 104}, "9", 93, true},
        {"LcdFH", {8, 19, 26, 108}, "-", 93, false},
        {"LcdAC", {13, 109, 76, 21}, "AC trms", 19, false},
        {"LCD232C", {98, 15, 34, 16}, "232C", 0, false},
        {"LcdV", {276, 83, 16, 27}, "V", 24, false},
        {"LCDk", {259, 61, 13, 28}, "k", 25, false},
        {"LCDn", {263, 82, 13, 27}, "n", 24, false},
        {"LCDBF", {152, 5, 21, 27}, "%", 24, false},
        {"LCDHz", {270, 65, 26, 23}, "Hz", 21, false},
        {"LCDHold", {176, -6, 22, 44}, "\"", 40, false},
        {"LCDRel", {131, 3, 18, 32}, "!", 29, false},
        {"LCDBATT", {208, 0, 12, 39}, "$", 35, false},
        {"LCDBT", {278, 30, 11, 39}, "(", 35, false},
        {"LCDohm", {274, 62, 16, 27}, "*", 24, false},
        {"LcdDc1", {12, 108, 30, 21}, "DC", 19, false},
        {"LcdRPM", {230, 11, 46, 21}, "RPM", 19, false},
        {"LCDD0", {36, 19, 35, 104}, "7", 93, true},
        {"LcdMax", {229, 110, 31, 16}, "MAX", 0, false},
        {"Lcd100ms", {142, 110, 49, 16}, "100 mS", 0, false},
        {"Lcd1ms", {158, 110, 33, 16}, "1 mS", 0, false},
        {"LcdREC", {193, 110, 29, 16}, "REC", 0, false},
        {"LCD1S", {169, 110, 21, 16}, "1 S", 0, false},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << QString::fromLatin1(r.name) << r.r
                              << QString::fromLatin1(r.caption) << r.visible << r.font;
}

void TestLcdPanel::design() {
    QFETCH(QString, name);
    QFETCH(QRect, bounds);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    QFETCH(qreal, glyphHeight);

    LcdPanel panel;
    QCOMPARE(panel.objectName(), QStringLiteral("Panel1"));
    QCOMPARE(panel.size(), QSize(298, 136));
    auto *label = panel.findChild<QLabel *>(name);
    QVERIFY(label);
    QCOMPARE(label->geometry(), bounds);
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->isVisibleTo(&panel), visible);
    auto *glyphLabel = qobject_cast<LcdGlyphLabel *>(label);
    QCOMPARE(glyphLabel != nullptr, glyphHeight > 0);
    if (glyphLabel) {
        QCOMPARE(glyphLabel->fontHeight(), glyphHeight);
    } else {
        // A substitute for Arial must still show the whole caption.
        QVERIFY(label->font().bold());
        QVERIFY(label->fontMetrics().horizontalAdvance(caption) <= bounds.width());
    }
}

void TestLcdPanel::stackingOrder() {
    LcdPanel panel;
    QStringList order;
    for (QObject *child : panel.children())
        if (child->isWidgetType())
            order << child->objectName();
    // Later elements lie above earlier ones; the points sit between the digits and the
    // minus, and the leading digit comes late, above the minus sign.
    QCOMPARE(order.size(), 44);
    QVERIFY(order.indexOf("LcdDd") < order.indexOf("LcdP3"));
    QVERIFY(order.indexOf("LcdP1") < order.indexOf("LcdFH"));
    QVERIFY(order.indexOf("LcdFH") < order.indexOf("LCDD0"));
    QCOMPARE(order.first(), QStringLiteral("LCDA"));
    QCOMPARE(order.last(), QStringLiteral("LCD1S"));
    for (const char *p : {"LcdP0", "LcdP1", "LcdP2", "LcdP3"}) {
        auto *block = panel.findChild<QFrame *>(QLatin1String(p));
        QVERIFY(block);
        QCOMPARE(block->size(), QSize(6, 7));
    }
}

void TestLcdPanel::neverDrivenStayHidden() {
    LcdPanel panel;
    for (const char *frame : {"89 FF FF FF FF FF 09 09 09 09 0A", "89 00 00 00 00 00 0A"})
        show(panel, frame, 2);
    for (const char *name : {"LCDCS", "LCDFS", "LCDBT", "LCDRS", "LCD232C", "LcdRPM", "LCDH"})
        QVERIFY2(!panel.element(QLatin1String(name))->isVisibleTo(&panel), name);
    QCOMPARE(panel.label("LCDBT")->text(), QStringLiteral("("));
}

void TestLcdPanel::screenshot_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<bool>("negative");

    QTest::newRow("volts") << hex("89 70 00 00 00 0F 01 02 03 04 0A") << false;
    QTest::newRow("negative-millivolts-ac") << hex("89 78 00 00 10 00 05 06 07 08 0A") << true;
    QTest::newRow("kilo-ohm") << hex("89 60 10 00 00 0F 00 09 08 07 0A") << false;
    QTest::newRow("overload") << hex("89 70 00 00 08 00 01 02 03 04 0A") << false;
    QTest::newRow("negative-overload") << hex("89 70 00 00 18 0F 01 02 03 04 0A") << true;
    QTest::newRow("kilohertz") << hex("89 70 1C 40 04 02 05 00 00 00 0A") << false;
    QTest::newRow("continuity-hold-battery") << hex("89 60 00 04 21 0F 00 00 01 05 0A") << false;
    QTest::newRow("capacitance-rec") << hex("89 61 18 5C 00 0F 04 07 00 00 0A") << false;
}

void TestLcdPanel::screenshot() {
    QFETCH(QString, frame);
    QFETCH(bool, negative);

    LcdPanel panel;
    const DecodedFrame decoded = ReadingDecoder::decode(frame, 0);
    panel.apply(LcdPicture::of(decoded));
    const QImage img = panel.grab().toImage();
    QCOMPARE(img.size(), QSize(298, 136));
    QVERIFY(
        img.save(screenshotDir() +
                 QStringLiteral("/lcd-%1.png").arg(QString::fromLatin1(QTest::currentDataTag()))));

    // Every segment of every digit is lit exactly when the caption's glyph has it.
    for (const char *name : kDigitLabels) {
        auto *label = qobject_cast<LcdGlyphLabel *>(panel.label(QLatin1String(name)));
        const QString caption = label->text();
        const QList<QRectF> cells = label->glyphCells();
        QCOMPARE(cells.size(), caption.size());
        const QRectF body(label->pos() + QPointF(0, LcdGlyphs::bodyTop(label->fontHeight())),
                          QSizeF(label->width(), LcdGlyphs::bodyHeight(label->fontHeight())));
        if (caption.isEmpty() || !label->isVisibleTo(&panel)) {
            // A dark position: no pixel of its body is lit.
            for (int y = int(body.top()) + 1; y < int(body.bottom()); ++y)
                for (int x = int(body.left()) + 1; x < int(body.right()) - 1; ++x)
                    QVERIFY2(!lit(img, QPointF(x, y)), name);
            continue;
        }
        const QRectF cell = cells.first().translated(label->pos());
        const int pattern = LcdGlyphs::segmentsOf(caption.at(0));
        if (pattern == 0) {
            // The overload mark: lit somewhere in its cell.
            bool any = false;
            for (int y = int(cell.top()); y < int(cell.bottom()) && !any; ++y)
                for (int x = int(cell.left()); x < int(cell.right()) && !any; ++x)
                    any = lit(img, QPointF(x, y));
            QVERIFY2(any, name);
            continue;
        }
        for (int s = 0; s < LcdGlyphs::SegmentCount; ++s) {
            const QPointF c =
                centroid(LcdGlyphs::segmentPolygon(cell, LcdGlyphs::Segment(s), caption.at(0)));
            QVERIFY2(lit(img, c) == bool(pattern & (1 << s)),
                     qPrintable(QStringLiteral("%1 segment %2").arg(name).arg(s)));
        }
    }

    // The minus sign's bar is lit only for a negative reading.
    auto *minusLabel = qobject_cast<LcdGlyphLabel *>(panel.label("LcdFH"));
    const QRectF minusCell = minusLabel->glyphCells().first().translated(minusLabel->pos());
    QCOMPARE(lit(img, centroid(LcdGlyphs::segmentPolygon(minusCell, LcdGlyphs::SegG, u'-'))),
             negative);

    // The decimal points: a white block where shown, black otherwise.
    for (int p = 0; p < 4; ++p) {
        QWidget *block = panel.element(QStringLiteral("LcdP%1").arg(p));
        QCOMPARE(lit(img, block->geometry().center()), decoded.points[p]);
    }
}

QTEST_MAIN(TestLcdPanel)
#include "tst_lcdpanel.moc"
