#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTest>

#include "highdensity.h"
#include "scalegeometry.h"
#include "scaleview.h"

#include <memory>

namespace {

constexpr QSize kDesignPanel{318, 137};
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kRed = qRgb(255, 0, 0);

/// The black panel `KD` with its drawing surface, as the window holds them.
struct Scale {
    explicit Scale(QSize panelSize = kDesignPanel) {
        panel->setObjectName(QStringLiteral("KD"));
        panel->resize(panelSize);
        view = new ScaleView(panel.get());
    }
    std::unique_ptr<QFrame> panel = std::make_unique<QFrame>();
    ScaleView *view = nullptr;
};

/// The window's per-frame calls.
void frame(ScaleView &view, int position, bool hundredMode = false) {
    view.setMode(hundredMode, hundredMode ? 100 : 80, hundredMode ? 100 : 0);
    view.setup();
    view.run(position);
}

QString screenshotDir() {
    const QString root = qEnvironmentVariable("QM_BUILD_DIR", QDir::currentPath());
    const QString dir = root + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return dir;
}

/// How many pixels of `colour` lie in `box`.
int count(const QImage &img, const QRect &box, QRgb colour) {
    int n = 0;
    const QRect r = box & img.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += img.pixel(x, y) == colour ? 1 : 0;
    return n;
}

/// Lets the event loop run until what the frames asked for is on the screen: the needle's
/// sync runs on one pass, the paint it asks for on the next.
void settle() {
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents();
}

/// Counts the rows of the needle's line, from the tip down to the picture's edge, that have
/// a white pixel within one pixel of the line.
int needleRowsLit(const QImage &img, QPoint tip, QPoint foot) {
    int lit = 0;
    for (int y = tip.y(); y < img.height(); ++y) {
        const double x =
            tip.x() + double(foot.x() - tip.x()) * (y - tip.y()) / (foot.y() - tip.y());
        const int cx = qRound(x);
        lit += count(img, QRect(cx - 1, y, 3, 1), kWhite) > 0 ? 1 : 0;
    }
    return lit;
}

} // namespace

class TestScaleView : public QObject {
    Q_OBJECT

private slots:
    void fillsPanelInsideBevel();
    void startsBlackWithoutNeedle();
    void designDots_data();
    void designDots();
    void labels_data();
    void labels();
    void band_data();
    void band();
    void needle_data();
    void needle();
    void setupRemovesNeedle();
    void redrawsAtNewPanelSize();
    void unsoundPanelDrawsBlack_data();
    void unsoundPanelDrawsBlack();
    void framesOnlyScheduleOnePaint();
    void shownPictureMatchesPicture();
    void highDensity_data();
    void highDensity();
    void screenshot_data();
    void screenshot();
};

void TestScaleView::fillsPanelInsideBevel() {
    Scale s;
    QCOMPARE(s.view->objectName(), QStringLiteral("KD1"));
    QCOMPARE(s.panel->findChild<ScaleView *>(QStringLiteral("KD1")), s.view);
    QCOMPARE(s.view->geometry(), QRect(2, 2, 314, 133));
    QCOMPARE(s.view->panelSize(), kDesignPanel);
    // A hidden panel tells its children of a new size only when shown; a frame catches up.
    s.panel->resize(640, 300);
    s.view->setup();
    QCOMPARE(s.view->geometry(), QRect(2, 2, 636, 296));
    QCOMPARE(s.view->picture().size(), QSize(636, 296));
    s.panel->show();
    s.panel->resize(500, 200);
    QCOMPARE(s.view->geometry(), QRect(2, 2, 496, 196));
}

void TestScaleView::startsBlackWithoutNeedle() {
    Scale s;
    QCOMPARE(s.view->NeedleLine, (std::array<int, 4>{0, 0, 0, 0}));
    QVERIFY(!s.view->needleShown());
    const QImage img = s.view->picture();
    QCOMPARE(count(img, img.rect(), kBlack), img.width() * img.height());
}

void TestScaleView::designDots_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("divisions");

    QTest::newRow("80 divisions") << false << 80;
    QTest::newRow("100 divisions") << true << 100;
}

void TestScaleView::designDots() {
    // The division dots show white beyond the band (all red here, so any white is a dot's),
    // and nothing lies between two neighbouring dots just beyond them.
    QFETCH(bool, hundredMode);
    QFETCH(int, divisions);
    Scale s;
    s.view->setMode(hundredMode, divisions, hundredMode ? 100 : 0);
    s.view->setBand(-5000.f, 5000.f, true, true);
    s.view->setup();
    const QImage img = s.view->picture();
    const ScaleGeometry &g = s.view->scaleGeometry();
    QCOMPARE(g.divisionDot(0), QPoint(15, 104));
    QCOMPARE(img.pixel(15, 104), kWhite);
    QRegion labelCells;
    for (int i = 0; i <= divisions; i += 10)
        if (const auto label = g.label(i))
            labelCells += s.view->labelCell(*label);
    int gapsSeen = 0;
    int dotsSeen = 0;
    for (int i = 0; i <= divisions; ++i) {
        // The band lies over the dots, and the black cell of a label written later over a
        // dot next to it; a dot may show only a pixel of itself, or none.
        const QRect dot(g.divisionDot(i), QSize(2, 2));
        dotsSeen += count(img, dot, kWhite) > 0 ? 1 : 0;
        if (!labelCells.intersects(dot))
            QVERIFY2(count(img, dot, kWhite) + count(img, dot, kRed) == 4,
                     qPrintable(QString::number(i)));
        if (i == divisions)
            break;
        const QPoint gap = g.pointAt(2 * i + 1, 2 * divisions, ScaleGeometry::kDotRadiusOffset + 3);
        if (labelCells.contains(gap))
            continue;
        ++gapsSeen;
        QVERIFY2(img.pixel(gap) == kBlack, qPrintable(QString::number(i)));
    }
    // Most gaps lie clear of the labels (a few more lie under those of a wider font).
    QVERIFY(gapsSeen > divisions * 7 / 10);
    QVERIFY(dotsSeen > divisions * 9 / 10);
}

void TestScaleView::labels_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("division");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("80: -80") << false << 0 << "-80" << QPoint(0, 90);
    QTest::newRow("80: 0") << false << 40 << "0" << QPoint(156, 9);
    QTest::newRow("80: 60") << false << 70 << "60" << QPoint();
    QTest::newRow("100: -99") << true << 0 << "-99" << QPoint(0, 90);
    QTest::newRow("100: -20") << true << 40 << "-20" << QPoint();
    QTest::newRow("100: 99") << true << 100 << "99" << QPoint();
    QTest::newRow("80: 80") << false << 80 << "80" << QPoint();
}

void TestScaleView::labels() {
    // The text cell, as the label font writes it white on black, is in the picture at the
    // label's place, moved in where it would cross the panel's edge, except where the band
    // or a dot lies over it.
    QFETCH(bool, hundredMode);
    QFETCH(int, division);
    QFETCH(QString, text);
    QFETCH(QPoint, topLeft);
    Scale s;
    frame(*s.view, 400, hundredMode);
    s.view->setup(); // no needle over the labels
    const auto label = s.view->scaleGeometry().label(division);
    QVERIFY(label.has_value());
    QCOMPARE(label->text, text);
    if (!topLeft.isNull())
        QCOMPARE(label->topLeft, topLeft);

    const QFontMetrics metrics(ScaleView::labelFont());
    QImage cell(metrics.horizontalAdvance(text), metrics.height(), QImage::Format_RGB32);
    cell.fill(Qt::black);
    {
        QPainter p(&cell);
        p.setFont(ScaleView::labelFont());
        p.setPen(Qt::white);
        p.drawText(cell.rect(), Qt::AlignLeft | Qt::AlignTop, text);
    }
    QVERIFY(cell.width() * cell.height() - count(cell, cell.rect(), kBlack) > 5);

    const QImage img = s.view->picture();
    const ScaleGeometry &g = s.view->scaleGeometry();
    const QRect placed = s.view->labelCell(*label);
    QCOMPARE(placed.size(), cell.size());
    QCOMPARE(placed.top(), label->topLeft.y());
    QVERIFY(img.rect().contains(placed));
    if (img.rect().contains(QRect(label->topLeft, cell.size())))
        QCOMPARE(placed.topLeft(), label->topLeft);
    const QPoint place = placed.topLeft();
    int compared = 0;
    int differing = 0;
    for (int y = 0; y < cell.height(); ++y) {
        for (int x = 0; x < cell.width(); ++x) {
            const QPoint at = place + QPoint(x, y);
            // Skip pixels within reach of the band or a dot (their boxes start at the point,
            // so their middles lie a pixel right of and below it).
            const QPointF centre(g.w() / 2.0 + 21.0, g.radius() + 31.0);
            const double r = QLineF(centre, at).length();
            if (r > g.radius() - 1 && r < g.radius() + 10)
                continue;
            ++compared;
            differing += img.pixel(at) != cell.pixel(x, y) ? 1 : 0;
        }
    }
    QVERIFY(compared > cell.width() * cell.height() / 2);
    QCOMPARE(differing, 0);
}

void TestScaleView::band_data() {
    QTest::addColumn<float>("maxLimit");
    QTest::addColumn<float>("minLimit");
    QTest::addColumn<bool>("maxOn");
    QTest::addColumn<bool>("minOn");
    QTest::addColumn<QList<int>>("redSteps");
    QTest::addColumn<QList<int>>("whiteSteps");

    const QList<int> everyFifty{0,   50,  100, 150, 200, 250, 300, 350, 400,
                                450, 500, 550, 600, 650, 700, 750, 800};
    QTest::newRow("start limits") << 8002.f << -8002.f << true << true << QList<int>{}
                                  << everyFifty;
    QTest::newRow("6000 typed, ticked")
        << 3000.f << -8002.f << true << false << QList<int>{710, 750, 800}
        << QList<int>{0, 400, 650, 690};
    QTest::newRow("6000 typed, unticked")
        << 3000.f << -8002.f << false << false << QList<int>{} << everyFifty;
    QTest::newRow("-2000 typed, ticked") << 8002.f << -1000.f << false << true
                                         << QList<int>{0, 250, 290} << QList<int>{310, 400, 800};
    QTest::newRow("both ticked") << 2000.f << -2000.f << true << true
                                 << QList<int>{0, 100, 190, 610, 800} << QList<int>{210, 400, 590};
}

void TestScaleView::band() {
    QFETCH(float, maxLimit);
    QFETCH(float, minLimit);
    QFETCH(bool, maxOn);
    QFETCH(bool, minOn);
    QFETCH(QList<int>, redSteps);
    QFETCH(QList<int>, whiteSteps);
    Scale s;
    s.view->setBand(maxLimit, minLimit, maxOn, minOn);
    s.view->setup();
    const QImage img = s.view->picture();
    const ScaleGeometry &g = s.view->scaleGeometry();
    // The middle of each step's dot; neighbours 10 steps away lie 4 pixels off.
    for (int q : redSteps)
        QVERIFY2(count(img, QRect(g.bandPoint(q), QSize(2, 2)), kRed) == 4,
                 qPrintable(QString::number(q)));
    for (int q : whiteSteps)
        QVERIFY2(count(img, QRect(g.bandPoint(q), QSize(2, 2)), kWhite) == 4,
                 qPrintable(QString::number(q)));
}

void TestScaleView::needle_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("position");
    QTest::addColumn<QList<int>>("line");

    QTest::newRow("centre") << false << 400 << QList<int>{159, 34, 159, 387};
    QTest::newRow("left end") << false << 0 << QList<int>{20, 111, 468, 387};
    QTest::newRow("right end") << false << 800 << QList<int>{298, 111, -150, 387};
    QTest::newRow("100: centre") << true << 400 << QList<int>{159, 34, 159, 387};
    QTest::newRow("100: left end") << true << -100 << QList<int>{20, 111, 468, 387};
    QTest::newRow("a quarter in") << false << 200 << QList<int>{};
}

void TestScaleView::needle() {
    QFETCH(bool, hundredMode);
    QFETCH(int, position);
    QFETCH(QList<int>, line);
    Scale s;
    frame(*s.view, position, hundredMode);
    QVERIFY(s.view->needleShown());
    const auto &n = s.view->NeedleLine;
    if (!line.isEmpty())
        QCOMPARE((QList<int>{n[0], n[1], n[2], n[3]}), line);
    // White all the way from the tip to the picture's lower edge.
    const QImage img = s.view->picture();
    const QPoint tip(n[0], n[1]);
    const QPoint foot(n[2], n[3]);
    QCOMPARE(needleRowsLit(img, tip, foot), img.height() - tip.y());
}

void TestScaleView::setupRemovesNeedle() {
    Scale s;
    frame(*s.view, 400);
    const auto line = s.view->NeedleLine;
    s.view->setBand(3000.f, -8002.f, true, false);
    s.view->setup();
    QVERIFY(!s.view->needleShown());
    QCOMPARE(s.view->NeedleLine, line); // kept for the next run, which erases it
    const QImage img = s.view->picture();
    QCOMPARE(count(img, QRect(157, 40, 5, 90), kWhite), 0);
    QCOMPARE(count(img, QRect(s.view->scaleGeometry().bandPoint(750), QSize(2, 2)), kRed), 4);
}

void TestScaleView::redrawsAtNewPanelSize() {
    // Enlarged, the scale is drawn anew for the new size: dots, band and needle where the
    // new geometry puts them, not a stretched copy of the small picture.
    Scale s;
    s.panel->show();
    frame(*s.view, 600);
    const QSize larger(958, 300);
    s.panel->resize(larger);
    const ScaleGeometry expected(larger, false, 80, 0);
    QCOMPARE(s.view->scaleGeometry().radius(), expected.radius());
    const QImage img = s.view->picture();
    QCOMPARE(img.size(), larger - QSize(4, 4));
    for (int i : {0, 20, 40, 60, 80})
        QVERIFY(count(img, QRect(expected.divisionDot(i), QSize(2, 2)), kWhite) >= 1);
    const auto n = expected.needle(600);
    QCOMPARE(s.view->NeedleLine,
             (std::array<int, 4>{n.tip.x(), n.tip.y(), n.foot.x(), n.foot.y()}));
    QCOMPARE(needleRowsLit(img, n.tip, n.foot), img.height() - n.tip.y());
    // And back.
    s.panel->resize(kDesignPanel);
    QCOMPARE(s.view->NeedleLine[0], ScaleGeometry(kDesignPanel, false, 80, 0).needle(600).tip.x());
}

void TestScaleView::unsoundPanelDrawsBlack_data() {
    QTest::addColumn<QSize>("panel");

    QTest::newRow("60 high") << QSize(318, 60);
    QTest::newRow("low") << QSize(318, 20);
    QTest::newRow("narrow") << QSize(150, 137);
    QTest::newRow("half circle") << QSize(194, 137);
    QTest::newRow("no room at all") << QSize(3, 3);
}

void TestScaleView::unsoundPanelDrawsBlack() {
    QFETCH(QSize, panel);
    Scale s(kDesignPanel);
    frame(*s.view, 400);
    const auto line = s.view->NeedleLine;
    s.panel->resize(panel);
    frame(*s.view, 400);
    frame(*s.view, 900, true);
    QVERIFY(!s.view->needleShown());
    QCOMPARE(s.view->NeedleLine, line);
    const QImage img = s.view->picture();
    QCOMPARE(count(img, img.rect(), kBlack), img.width() * img.height());
}

void TestScaleView::framesOnlyScheduleOnePaint() {
    // A burst of frames paints nothing by itself; the event loop then paints once.
    Scale s;
    s.panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.panel.get()));
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    s.view->installEventFilter(&counter);
    for (int position = 0; position <= 800; position += 4)
        frame(*s.view, position);
    QCOMPARE(counter.paints, 0);
    QTRY_COMPARE(counter.paints, 1);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
    // The same reading again changes nothing on the screen, and nothing is painted.
    frame(*s.view, 800);
    frame(*s.view, 800);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
    frame(*s.view, 400);
    QTRY_COMPARE(counter.paints, 2);
}

void TestScaleView::shownPictureMatchesPicture() {
    // What reaches the screen after frames that repaint only the needle's strips is the
    // whole picture, old needles gone.
    Scale s;
    s.panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.panel.get()));
    const auto screen = [&s] {
        return s.panel->screen()
            ->grabWindow(s.panel->winId(), ScaleView::kBevel, ScaleView::kBevel, s.view->width(),
                         s.view->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    };
    for (int position : {400, 120, 777, 20, 20, 630}) {
        s.view->setBand(3000.f, -1000.f, position != 120, true); // one band change only
        frame(*s.view, position);
        settle();
    }
    QCOMPARE(screen(), s.view->picture());
    // An exposure between two frames paints a needle that is gone again at the next sync.
    frame(*s.view, 100);
    s.view->repaint();
    frame(*s.view, 630);
    settle();
    QCOMPARE(screen(), s.view->picture());
}

void TestScaleView::highDensity_data() {
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("125 %") << 1.25;
    QTest::newRow("150 %") << 1.5;
    QTest::newRow("200 %") << 2.0;
}

void TestScaleView::highDensity() {
    // On a high-density screen the scale is drawn at the screen's resolution: the band runs
    // unbroken in its colours along the exact arc, and at 2 it is no 1x drawing enlarged.
    QFETCH(qreal, ratio);
    Scale s;
    s.view->setBand(3000.f, -8002.f, true, false);
    frame(*s.view, 620);
    const QImage img = s.view->picture(ratio);
    QCOMPARE(img.size(), (QSizeF(s.view->size()) * ratio).toSize());
    QCOMPARE(img.devicePixelRatio(), ratio);
    const ScaleGeometry &g = s.view->scaleGeometry();
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q) {
        if (q >= 688 && q <= 703)
            continue; // the red's round end reaches 3 pixels (7 steps) back over the white
        const QPointF middle =
            (g.exactPointAt(q, ScaleGeometry::kBandSteps, ScaleGeometry::kBandRadiusOffset) +
             QPointF(1, 1)) *
            ratio;
        const QRgb expected = q > 700 ? kRed : kWhite;
        QVERIFY2(img.pixel(middle.toPoint()) == expected, qPrintable(QString::number(q)));
    }
    // Along the band the 1x drawing enlarged would give uniform 2 x 2 blocks only; drawn at 2
    // its edges follow the arc within a device pixel.
    const QPointF centre(g.w() / 2.0 + 21.0, g.radius() + 31.0);
    const auto nearBand = [&](QPointF p) {
        return std::abs(QLineF(centre, p).length() - (g.radius() + 3)) < 4.5;
    };
    if (ratio == 2.0) {
        QVERIFY(mixedBlocks(img, nearBand) > 400);
        QCOMPARE(mixedBlocks(s.view->picture().scaled(img.size()), nearBand), 0);
    }
}

void TestScaleView::screenshot_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("position");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<qreal>("ratio");

    QTest::newRow("eighty-centre") << false << 400 << kDesignPanel << 1.0;
    QTest::newRow("eighty-band-needle-620") << false << 620 << kDesignPanel << 1.0;
    QTest::newRow("eighty-band-needle-620-at-2") << false << 620 << kDesignPanel << 2.0;
    QTest::newRow("hundred-left") << true << -100 << kDesignPanel << 1.0;
    QTest::newRow("enlarged") << false << 250 << QSize(958, 300) << 1.0;
}

void TestScaleView::screenshot() {
    QFETCH(bool, hundredMode);
    QFETCH(int, position);
    QFETCH(QSize, panel);
    QFETCH(qreal, ratio);
    Scale s(panel);
    s.view->setBand(3000.f, -2000.f, position == 620, position == 620);
    frame(*s.view, position, hundredMode);
    const QImage img = s.view->picture(ratio);
    QVERIFY(img.save(
        screenshotDir() +
        QStringLiteral("/scale-%1.png").arg(QString::fromLatin1(QTest::currentDataTag()))));
    QVERIFY(count(img, img.rect(), kWhite) > 500);
}

QTEST_MAIN(TestScaleView)
#include "tst_scaleview.moc"
