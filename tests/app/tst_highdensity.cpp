// The window on high-density screens: every picture it draws itself is drawn at the
// screen's device pixel ratio, not drawn at 1x and enlarged.
#include <QIcon>
#include <QTest>

#include "highdensity.h"
#include "windowharness.h"
#include "windowpictures.h"

class TestHighDensity : public QObject {
    Q_OBJECT

private slots:
    // Painted for a screen of ratio 2, each picture has detail finer than a 1x pixel: a 1x
    // picture enlarged has none.
    void picturesAtTwice_data() {
        QTest::addColumn<QString>("name");
        for (const char *name : {"CONok", "CONokN", "TbFd", "TbSx", "KdFd", "LcdDa", "LcdAuto",
                                 "BtCOM1", "RecordNew", "saveas", "BtFirst", "BtSave"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void picturesAtTwice() {
        QFETCH(QString, name);
        WindowHarness h;
        QWidget *widget = h.w->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(mixedBlocks(renderedAt(*widget, 1.0).scaled(widget->size() * 2)), 0);
        const int mixed = mixedBlocks(renderedAt(*widget, 2.0));
        QVERIFY2(mixed >= 10, qPrintable(QString::number(mixed)));
    }

    // The tool-button pictures are drawn for the ratio a button asks for, at 125 % and 150 %
    // as well: exactly the glyph painted at that resolution, not another size rescaled.
    void glyphsAtEveryRatio_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("pixels");
        QTest::newRow("100 %") << 1.0 << QSize(16, 16);
        QTest::newRow("125 %") << 1.25 << QSize(20, 20);
        QTest::newRow("150 %") << 1.5 << QSize(24, 24);
        QTest::newRow("200 %") << 2.0 << QSize(32, 32);
    }
    void glyphsAtEveryRatio() {
        QFETCH(qreal, ratio);
        QFETCH(QSize, pixels);
        using G = WindowPictures::Glyph;
        for (G glyph : {G::ClearRecords, G::OpenFile, G::SaveFile, G::Print, G::GraphNew,
                        G::GraphSave, G::First, G::Previous, G::Next, G::Last}) {
            const QIcon icon = WindowPictures::glyph(glyph);
            const QPixmap shown = icon.pixmap(QSize(16, 16), ratio);
            QCOMPARE(shown.size(), pixels);
            QCOMPARE(shown.devicePixelRatio(), ratio);
            QCOMPARE(shown.toImage(), WindowPictures::glyphPixmap(glyph, pixels, ratio).toImage());
            const QPixmap disabled = icon.pixmap(QSize(16, 16), ratio, QIcon::Disabled);
            QCOMPARE(disabled.size(), pixels);
            QVERIFY(disabled.toImage() != shown.toImage());
        }
    }
};

QTEST_MAIN(TestHighDensity)
#include "tst_highdensity.moc"
