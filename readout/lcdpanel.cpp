#include "lcdpanel.h"

#include "lcdglyphlabel.h"
#include "lcdpicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QPalette>

namespace {

enum class Kind { Glyph, BoldGlyph, Arial, Point };

struct ElementDesign {
    const char *name;
    Kind kind;
    int left, top, width, height;
    const char *caption;
    int fontHeight;
    bool visible;
};

// In creation order: later elements lie above earlier ones where they overlap.
constexpr ElementDesign kDesign[] = {
    {"LCDA", Kind::Glyph, 276, 82, 16, 27, "A", 24, false},
    {"LCDF", Kind::Glyph, 275, 82, 15, 27, "F", 24, false},
    {"LCDH", Kind::Glyph, 275, 82, 17, 27, "H", 24, false},
    {"LCDu", Kind::Glyph, 263, 76, 16, 36, "+", 32, false},
    {"LCDCS", Kind::Glyph, 266, 33, 24, 36, "#", 32, false},
    {"LCDFS", Kind::Glyph, 267, 33, 23, 36, "?", 32, false},
    {"LCDDI", Kind::Glyph, 262, 36, 31, 32, ")", 29, false},
    {"LCDFm", Kind::Glyph, 264, 31, 38, 36, "&", 32, false},
    {"LcdS", Kind::Glyph, 276, 82, 16, 27, "S", 24, false},
    {"LcdMin", Kind::Arial, 225, 110, 27, 16, "MIN", 14, false},
    {"LcdAvg", Kind::Arial, 227, 110, 29, 16, "AVG", 14, false},
    {"LCDM1", Kind::Glyph, 255, 65, 17, 23, "M", 21, false},
    {"LcdDa", Kind::Glyph, 81, 20, 35, 104, "9", 93, true},
    {"LcdAuto", Kind::BoldGlyph, 8, 11, 58, 21, "AUTO", 19, false},
    {"Lcdm", Kind::Glyph, 257, 82, 20, 27, "m", 24, false},
    {"LCDRS", Kind::BoldGlyph, 70, 11, 29, 21, "RS", 19, false},
    {"LcdDb", Kind::Glyph, 126, 20, 35, 104, "9", 93, true},
    {"LcdDc", Kind::Glyph, 171, 20, 35, 104, "9", 93, true},
    {"LcdDd", Kind::Glyph, 216, 20, 35, 104, "9", 93, true},
    {"LcdP3", Kind::Point, 208, 99, 6, 7, "", 0, false},
    {"LcdP2", Kind::Point, 163, 99, 6, 7, "", 0, false},
    {"LcdP1", Kind::Point, 118, 99, 6, 7, "", 0, false},
    {"LcdFH", Kind::Glyph, 8, 19, 26, 108, "-", 93, false},
    {"LcdAC", Kind::BoldGlyph, 13, 109, 76, 21, "AC trms", 19, false},
    {"LCD232C", Kind::Arial, 98, 15, 34, 16, "232C", 14, false},
    {"LcdV", Kind::Glyph, 276, 83, 16, 27, "V", 24, false},
    {"LCDk", Kind::Glyph, 259, 61, 13, 28, "k", 25, false},
    {"LCDn", Kind::Glyph, 263, 82, 13, 27, "n", 24, false},
    {"LCDBF", Kind::Glyph, 152, 5, 21, 27, "%", 24, false},
    {"LCDHz", Kind::Glyph, 270, 65, 26, 23, "Hz", 21, false},
    {"LCDHold", Kind::Glyph, 176, -6, 22, 44, "\"", 40, false},
    {"LCDRel", Kind::Glyph, 131, 3, 18, 32, "!", 29, false},
    {"LCDBATT", Kind::Glyph, 208, 0, 12, 39, "$", 35, false},
    {"LCDBT", Kind::Glyph, 278, 30, 11, 39, "(", 35, false},
    {"LCDohm", Kind::Glyph, 274, 62, 16, 27, "*", 24, false},
    {"LcdDc1", Kind::BoldGlyph, 12, 108, 30, 21, "DC", 19, false},
    {"LcdRPM", Kind::BoldGlyph, 230, 11, 46, 21, "RPM", 19, false},
    {"LCDD0", Kind::Glyph, 36, 19, 35, 104, "7", 93, true},
    {"LcdP0", Kind::Point, 73, 99, 6, 7, "", 0, false},
    {"LcdMax", Kind::Arial, 229, 110, 31, 16, "MAX", 14, false},
    {"Lcd100ms", Kind::Arial, 142, 110, 49, 16, "100 mS", 14, false},
    {"Lcd1ms", Kind::Arial, 158, 110, 33, 16, "1 mS", 14, false},
    {"LcdREC", Kind::Arial, 193, 110, 29, 16, "REC", 14, false},
    {"LCD1S", Kind::Arial, 169, 110, 21, 16, "1 S", 14, false},
};

constexpr int kSmallestArialPixels = 9;

/// Bold Arial at the design's pixel height, narrowed (on machines whose substitute for
/// Arial is wider) until the caption fits the design width instead of being cut.
QFont arialFitting(const QString &caption, int pixelHeight, int width) {
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(pixelHeight);
    for (int stretch = 100; stretch > 70; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(caption) <= width)
            return font;
    }
    for (int px = pixelHeight - 1; px >= kSmallestArialPixels; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(caption) <= width)
            break;
    }
    return font;
}

} // namespace

LcdPanel::LcdPanel(QWidget *parent) : QFrame(parent) {
    setObjectName(QStringLiteral("Panel1"));
    setFixedSize(kWidth, kHeight);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    pal.setColor(QPalette::Light, QColor(0x80, 0x80, 0x80));
    pal.setColor(QPalette::Dark, QColor(0x40, 0x40, 0x40));
    setPalette(pal);
    setAutoFillBackground(true);

    for (const ElementDesign &d : kDesign) {
        const QString name = QString::fromLatin1(d.name);
        const QString caption = QString::fromLatin1(d.caption);
        QWidget *w = nullptr;
        switch (d.kind) {
        case Kind::Glyph:
        case Kind::BoldGlyph:
            w = new LcdGlyphLabel(caption, d.fontHeight, d.kind == Kind::BoldGlyph, this);
            break;
        case Kind::Arial: {
            auto *label = new QLabel(caption, this);
            label->setFont(arialFitting(caption, d.fontHeight, d.width));
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            w = label;
            break;
        }
        case Kind::Point: {
            auto *block = new QFrame(this);
            QPalette white = block->palette();
            white.setColor(QPalette::Window, Qt::white);
            block->setPalette(white);
            block->setAutoFillBackground(true);
            w = block;
            break;
        }
        }
        w->setObjectName(name);
        w->setGeometry(d.left, d.top, d.width, d.height);
        w->setVisible(d.visible);
        m_elements.insert(name, w);
    }
}

QLabel *LcdPanel::label(const QString &name) const {
    return qobject_cast<QLabel *>(m_elements.value(name));
}

void LcdPanel::apply(const LcdPicture &picture) {
    for (const LcdPicture::Element &e : picture.elements()) {
        QWidget *w = m_elements.value(e.name);
        if (!w)
            continue;
        if (e.caption) {
            if (auto *label = qobject_cast<QLabel *>(w))
                label->setText(*e.caption);
        }
        w->setVisible(e.shown);
    }
}
