// The window's layout: the resize rules, enlarging and restoring the graph and the scale,
// the minimum size, captions that fit their boxes, and a screenshot with live readings.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include "bevelpanel.h"
#include "graphchart.h"
#include "lcdglyphlabel.h"
#include "lcdpanel.h"
#ifdef QM_METER_SIM
#include "meteremulator.h"
#endif
#include "recordgrid.h"
#include "scaleview.h"
#include "tfcomm.h"
#include "windowharness.h"
#include "windowlayout.h"

namespace {

/// A shown window whose client area the test sizes.
struct Harness : WindowHarness {
    Harness() : WindowHarness({.show = true}) { QVERIFY(QTest::qWaitForWindowExposed(w.get())); }
    void client(int width, int height) {
        w->resizeClient(QSize(width, height));
        QTRY_COMPARE(w->centralWidget()->size(),
                     QSize(width, height).expandedTo(w->centralWidget()->minimumSize()));
    }
    QRect graph() const { return control<GraphChart>(*w, "Chtshow")->geometry(); }
};

/// How wide a text is in a widget's font, against the room the widget gives it.
struct Fit {
    QString what;
    int advance = 0;
    int room = 0;
};

/// `font` in `face` alone where its list offers that face; as it is otherwise.
QFont inFace(QFont font, const QString &face) {
    if (font.families().contains(face))
        font.setFamilies({face});
    return font;
}

QList<Fit> captionsOf(const TFCOMM &w, const QString &face) {
    QList<Fit> fits;
    for (QWidget *widget : w.findChildren<QWidget *>()) {
        if (!widget->isVisible() || qobject_cast<LcdGlyphLabel *>(widget))
            continue; // LCD glyph texts squeeze themselves into their box
        const QFontMetrics fm(inFace(widget->font(), face));
        const QString name = widget->objectName();
        if (auto *box = qobject_cast<QCheckBox *>(widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect room =
                box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            fits.append({name, fm.horizontalAdvance(box->text()), room.width()});
        } else if (auto *button = qobject_cast<QAbstractButton *>(widget);
                   button && !button->text().isEmpty()) {
            fits.append(
                {name, fm.horizontalAdvance(button->text()), button->contentsRect().width() - 4});
        } else if (auto *label = qobject_cast<QLabel *>(widget);
                   label && !label->text().isEmpty() && label->pixmap().isNull()) {
            fits.append({name, fm.horizontalAdvance(label->text()),
                         label->contentsRect().width() - 2 * label->margin()});
        } else if (auto *panel = qobject_cast<BevelPanel *>(widget);
                   panel && !name.startsWith(QLatin1String("BtCOM"))) {
            fits.append(
                {name, fm.horizontalAdvance(panel->caption()), panel->contentsRect().width()});
        }
    }
    // The grid: each title, and the widest text each Arial column shows.
    const QTableView *view = control<RecordGrid>(w, "DBGrid1")->view();
    const char *widest[] = {"100000", "23:59:59", "AC", "-0.0L", nullptr, nullptr};
    for (int c = 0; c < 6; ++c) {
        const int room = view->columnWidth(c) -
                         2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
        const QString title = view->model()->headerData(c, Qt::Horizontal).toString();
        fits.append(
            {QStringLiteral("title ") + title,
             QFontMetrics(inFace(view->horizontalHeader()->font(), face)).horizontalAdvance(title),
             room});
        if (widest[c])
            fits.append({QStringLiteral("cell ") + title,
                         QFontMetrics(inFace(RecordGrid::columnFont(c), face))
                             .horizontalAdvance(QLatin1String(widest[c])),
                         room});
    }
    return fits;
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    // A run asked to check another scale (QM_EXPECT_SCALE) runs at it, so that one that
    // silently ran at 100 % fails (Wine hides QT_ variables from the programs it runs).
    void runsAtTheScaleAsked() {
        const QString expected = qEnvironmentVariable("QM_EXPECT_SCALE", QStringLiteral("1"));
        Harness h;
        QCOMPARE(h.w->devicePixelRatioF(), expected.toDouble());
    }

    // The layout arithmetic, with the design's example first.
    void arithmetic_data() {
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QRect>("scale"); // width, height of KD; top fixed at 32
        QTest::addColumn<QRect>("graph"); // width, height, top
        QTest::addColumn<int>("grid");
        QTest::newRow("design 635 x 459")
            << QSize(635, 459) << QRect(303, 32, 320, 138) << QRect(305, 176, 320, 234) << 146;
        QTest::newRow("800 x 600")
            << QSize(800, 600) << QRect(303, 32, 485, 190) << QRect(305, 228, 485, 323) << 287;
        QTest::newRow("a true half: 437 high")
            << QSize(700, 437) << QRect(303, 32, 385, 130) << QRect(305, 168, 385, 220) << 124;
    }
    void arithmetic() {
        QFETCH(QSize, outer);
        QFETCH(QRect, scale);
        QFETCH(QRect, graph);
        QFETCH(int, grid);
        const WindowLayout::Normal n = WindowLayout::normal(outer);
        QCOMPARE(QSize(n.scaleWidth, n.scaleHeight), scale.size());
        QCOMPARE(QRect(305, n.graphTop, n.graphWidth, n.graphHeight), graph);
        QCOMPARE(n.gridHeight, grid);
        QCOMPARE(n.backdropWidth, outer.width() - 318);
        QCOMPARE(n.backdropHeight, scale.height() - 6);
        QCOMPARE(n.exitLeft, outer.width() - 80);
        QCOMPARE(n.connectLeft, outer.width() - 190);
        QCOMPARE(n.windowWidthText, QString::number(outer.width()));
        QCOMPARE(WindowLayout::enlarged(outer),
                 QRect(2, 28, outer.width() - 12, outer.height() - 80));
    }

    // Where the scale's arc has room, down to the smallest window.
    void scaleSoundness_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<bool>("sound");
        QTest::newRow("design") << QSize(627, 413) << true;
        QTest::newRow("smallest") << WindowLayout::kMinimumClient << true;
        QTest::newRow("narrowest, 580 high") << QSize(627, 580) << true;
        QTest::newRow("narrowest, 581 high") << QSize(627, 581) << false;
        QTest::newRow("wide and tall") << QSize(1200, 900) << true;
        QTest::newRow("below the smallest") << QSize(627, 100) << false;
    }
    void scaleSoundness() {
        QFETCH(QSize, client);
        QFETCH(bool, sound);
        QCOMPARE(WindowLayout::scaleIsSound(WindowLayout::outerSize(client)), sound);
    }

    void designSizeAndShrinking() {
        Harness h;
        TFCOMM &w = *h.w;
        QCOMPARE(w.outerSize(), QSize(635, 459));
        QCOMPARE(control<QFrame>(w, "KD")->geometry(), QRect(303, 32, 320, 138));
        QCOMPARE(control<ScaleView>(w, "KD1")->geometry(), QRect(2, 2, 316, 134));
        QCOMPARE(h.graph(), QRect(305, 176, 320, 234));
        QCOMPARE(control<RecordGrid>(w, "DBGrid1")->geometry(), QRect(3, 264, 299, 146));
        QCOMPARE(control<QLabel>(w, "KD2")->geometry(), QRect(307, 39, 317, 132));
        QCOMPARE(control<QLabel>(w, "Image1")->geometry(), QRect(5, 39, 297, 132));
        QCOMPARE(control<QPushButton>(w, "BtExit")->x(), 555);
        QCOMPARE(control<BevelPanel>(w, "BTCon")->x(), 445);
        QCOMPARE(control<BevelPanel>(w, "BtDiscon")->x(), 445);
        QVERIFY(!control<QPushButton>(w, "Button4")->isVisible());
        QCOMPARE(control<QPushButton>(w, "Button4")->text(), QStringLiteral("635"));

        // Shrinking keeps the left column and narrows the right.
        h.client(900, 700);
        const QRect lcd = control<LcdPanel>(w, "Panel1")->geometry();
        const QRect limits = control<QFrame>(w, "Panel3")->geometry();
        h.client(700, 500);
        QCOMPARE(control<LcdPanel>(w, "Panel1")->geometry(), lcd);
        QCOMPARE(control<QFrame>(w, "Panel3")->geometry(), limits);
        QCOMPARE(control<RecordGrid>(w, "DBGrid1")->geometry(), QRect(3, 264, 299, 546 - 313));
        QCOMPARE(control<QFrame>(w, "KD")->width(), 708 - 315);
        QCOMPARE(h.graph().width(), 708 - 315);
        QCOMPARE(h.graph().left(), 305);
        QCOMPARE(control<QPushButton>(w, "Button4")->text(), QStringLiteral("708"));
        QVERIFY(h.errors.isEmpty());
    }

    // Enlarged, the graph covers the window under the top strip; a resize lays it out
    // normally for the new size. The magnifiers keep their place in the graph's corner.
    void graphEnlargeAndRestore() {
        Harness h;
        TFCOMM &w = *h.w;
        QVERIFY(control<QLabel>(w, "TbFd")->isVisible() &&
                !control<QLabel>(w, "TbSx")->isVisible());
        QTest::mouseClick(control<QLabel>(w, "TbFd"), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(h.graph(), QRect(2, 28, 623, 379));
        QVERIFY(!control<QLabel>(w, "TbFd")->isVisible() &&
                control<QLabel>(w, "TbSx")->isVisible());
        QCOMPARE(control<QLabel>(w, "TbSx")->pos(), QPoint(288, 3));
        QCOMPARE(w.graphNormalBounds().rect(), QRect(305, 176, 320, 234));
        QTest::mouseClick(control<QLabel>(w, "TbSx"), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(h.graph(), QRect(305, 176, 320, 234));
        QVERIFY(control<QLabel>(w, "TbFd")->isVisible() &&
                !control<QLabel>(w, "TbSx")->isVisible());
        // Letting go outside the image, or a release without its press, is no click.
        QTest::mousePress(control<QLabel>(w, "TbFd"), Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(control<QLabel>(w, "TbFd"), Qt::LeftButton, {}, QPoint(40, 10));
        QCOMPARE(h.graph(), QRect(305, 176, 320, 234));
        QTest::mouseRelease(control<QLabel>(w, "TbFd"), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(h.graph(), QRect(305, 176, 320, 234));

        w.TbFdClick();
        h.client(800, 500);
        QCOMPARE(h.graph(), QRect(305, 32 + 170 + 6, 493, 289));
        QVERIFY(control<QLabel>(w, "TbFd")->isVisible() &&
                !control<QLabel>(w, "TbSx")->isVisible());
        QCOMPARE(control<QLabel>(w, "TbFd")->pos(), QPoint(288, 3));
    }

    // The scale panel's own enlarge: over the window, the graph hidden, and back. The
    // toggle goes by what it did last, not by the panel's width: a window wider than 784
    // has a normal panel 470 wide or more, which a rule of width once took for enlarged.
    void scaleEnlargeAndRestore_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<int>("panelWidth");
        QTest::newRow("design size") << QSize() << 320;
        QTest::newRow("normal panel 470 wide") << QSize(777, 500) << 470;
        QTest::newRow("wide") << QSize(1200, 800) << 893;
    }
    void scaleEnlargeAndRestore() {
        QFETCH(QSize, client);
        QFETCH(int, panelWidth);
        Harness h;
        if (client.isValid())
            h.client(client.width(), client.height());
        TFCOMM &w = *h.w;
        auto *panel = control<QFrame>(w, "KD");
        auto *enlarge = control<QLabel>(w, "KdFd");
        auto *restore = control<QLabel>(w, "KdSx");
        const QRect normal = panel->geometry();
        const QRect enlarged = WindowLayout::enlarged(w.outerSize());
        QCOMPARE(normal.width(), panelWidth);
        if (!client.isValid())
            QCOMPARE(normal, QRect(303, 32, 320, 138));
        QVERIFY(!enlarge->isVisible() && !restore->isVisible());
        QCOMPARE(enlarge->pos(), QPoint(normal.width() - 30, 5));
        w.KdFdClick();
        QCOMPARE(panel->geometry(), enlarged);
        QCOMPARE(w.scaleNormalBounds().rect(), normal);
        QVERIFY(!control<GraphChart>(w, "Chtshow")->isVisible());
        QVERIFY(restore->isVisible() && !enlarge->isVisible());
        QCOMPARE(restore->pos(), QPoint(enlarged.width() - 30, 5));
        // Redrawn at its new size, not stretched. (A panel this high is too high for its
        // width to hold the arc, so it shows black; the design never offers this enlarge.)
        QCOMPARE(control<ScaleView>(w, "KD1")->size(), enlarged.size() - QSize(4, 4));
        QCOMPARE(control<ScaleView>(w, "KD1")->scaleGeometry().w(), enlarged.width() - 40.0f);
        w.KdFdClick();
        QCOMPARE(panel->geometry(), normal);
        QVERIFY(control<GraphChart>(w, "Chtshow")->isVisible());
        QVERIFY(enlarge->isVisible() && !restore->isVisible());
    }

    // The window never gets so small, nor so narrow for its height, that the scale's arc
    // has no room or the graph would count as enlarged.
    void minimumSize_data() {
        QTest::addColumn<QSize>("asked");
        QTest::newRow("tiny") << QSize(100, 100);
        QTest::newRow("short") << QSize(700, 200);
    }
    void minimumSize() {
        QFETCH(QSize, asked);
        Harness h;
        h.w->resizeClient(asked);
        QTest::qWait(50);
        QApplication::processEvents();
        const QSize client = h.w->centralWidget()->size();
        QVERIFY(client.width() >= WindowLayout::kMinimumClient.width());
        QVERIFY(client.height() >= WindowLayout::kMinimumClient.height());
        QVERIFY2(control<QFrame>(*h.w, "KD")->height() > 60,
                 qPrintable(QString::number(control<QFrame>(*h.w, "KD")->height())));
        QVERIFY(h.graph().top() >= 100);
        QVERIFY2(control<ScaleView>(*h.w, "KD1")->scaleGeometry().isSound(),
                 qPrintable(QStringLiteral("%1 x %2")
                                .arg(control<QFrame>(*h.w, "KD")->width())
                                .arg(control<QFrame>(*h.w, "KD")->height())));
    }

    // At the design size every caption, label, check box and grid column holds its text, in
    // the faces the program picks and in each face of their lists that is installed.
    void captionsFit_data() {
        QTest::addColumn<QString>("face");
        QTest::newRow("as picked") << QString();
        QStringList faces = WindowLayout::faces() + RecordGrid::titleFont().families() +
                            RecordGrid::columnFont(0).families();
        faces.removeDuplicates();
        for (const QString &face : faces)
            if (QFontDatabase::hasFamily(face))
                QTest::newRow(qPrintable(face)) << face;
    }
    void captionsFit() {
        QFETCH(QString, face);
        Harness h;
        control<QCheckBox>(*h.w, "RecordSI")->setChecked(true);
        const QList<Fit> fits = captionsOf(*h.w, face);
        QVERIFY(fits.size() > 20);
        QStringList clipped;
        for (const Fit &f : fits)
            if (f.advance > f.room)
                clipped << QStringLiteral("%1 (%2 > %3)").arg(f.what).arg(f.advance).arg(f.room);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral(", "))));
    }

#ifdef QM_METER_SIM
    // The whole window at the design size while the emulator feeds it, saved for people to
    // look at; the LCD, the scale and the graph hold drawn content.
    void screenshotWithLiveReadings() {
        QTemporaryDir scripts;
        const QString script = scripts.filePath(QStringLiteral("wave.txt"));
        {
            QFile f(script);
            QVERIFY(f.open(QIODevice::WriteOnly));
            for (int i = 0; i < 40; ++i)
                f.write(QStringLiteral("func=vdc range=0 value=%1\n")
                            .arg(qRound(3000 + 2600 * std::sin(i * 2 * M_PI / 40)))
                            .toLatin1());
        }
        MeterEmulator sim(
            {QStringLiteral("--script"), script, QStringLiteral("--step"), QStringLiteral("60")});
        QVERIFY(sim.readyAsCom1());
        Harness h;
        TFCOMM &w = *h.w;
        // Request faster than the meter's pace, to fill a page soon.
        control<QTimer>(w, "Timer1")->setInterval(5);
        w.BTCon1Click();
        QTRY_VERIFY_WITH_TIMEOUT(control<GraphChart>(w, "Chtshow")->pointCount() >= 160, 15000);
        control<QTimer>(w, "Timer1")->setInterval(100);
        QTest::qWait(200);
        // At the screen's resolution: under QT_SCALE_FACTOR=1.5, window-150.png of 1.5 times
        // the size.
        const QImage shot = w.grab().toImage();
        const QString folder =
            qEnvironmentVariable("QM_BUILD_DIR", QDir::tempPath()) + QStringLiteral("/screenshots");
        QDir().mkpath(folder);
        const int percent = qRound(w.devicePixelRatioF() * 100);
        QVERIFY(
            shot.save(folder + (percent == 100 ? QStringLiteral("/window.png")
                                               : QStringLiteral("/window-%1.png").arg(percent))));

        auto distinctColours = [&](const QWidget *region) {
            const QRect r(region->mapTo(&w, QPoint(0, 0)), region->size());
            QSet<QRgb> colours;
            for (int y = r.top(); y < r.bottom(); y += 2)
                for (int x = r.left(); x < r.right(); x += 2)
                    colours.insert(shot.pixel(x, y));
            return colours.size();
        };
        QVERIFY(distinctColours(control<LcdPanel>(w, "Panel1")) > 4); // lit segments on black
        QVERIFY(distinctColours(control<ScaleView>(w, "KD1")) > 4);   // dots, labels, band, needle
        QVERIFY(distinctColours(control<GraphChart>(w, "Chtshow")) >
                20); // gradient, axes, the filled curve
        QVERIFY(control<ScaleView>(w, "KD1")->needleShown());
        QVERIFY(h.errors.isEmpty());
    }
#endif
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
#include "windowcontrols.h"
