#include <QLineF>
#include <QTest>

#include "scalegeometry.h"

#include <cmath>
#include <limits>

namespace {

constexpr QSize kDesignPanel{318, 137};

ScaleGeometry eighty(QSize panel = kDesignPanel) {
    return ScaleGeometry(panel, false, 80, 0);
}

ScaleGeometry hundred(QSize panel = kDesignPanel) {
    return ScaleGeometry(panel, true, 100, 100);
}

/// Distance of `p` from the line through `a` and `b`.
double distanceFromLine(QPointF p, QPointF a, QPointF b) {
    const QPointF d = b - a;
    const double cross = d.x() * (p.y() - a.y()) - d.y() * (p.x() - a.x());
    return std::fabs(cross) / std::hypot(d.x(), d.y());
}

} // namespace

class TestScaleGeometry : public QObject {
    Q_OBJECT

private slots:
    void designCircle();
    void designPoints_data();
    void designPoints();
    void designNeedles_data();
    void designNeedles();
    void labels_data();
    void labels();
    void arcIsSymmetric_data();
    void arcIsSymmetric();
    void needleRunsThroughCentre_data();
    void needleRunsThroughCentre();
    void wildPositions();
    void soundness_data();
    void soundness();
    void bandColour_data();
    void bandColour();
    void startLimitsLeaveBandWhite();
};

void TestScaleGeometry::designCircle() {
    const ScaleGeometry g = eighty();
    QVERIFY(g.isSound());
    QCOMPARE(g.w(), 278.0f);
    QCOMPARE(g.h(), 77.0f);
    QVERIFY(std::fabs(g.radius() - 163.96f) < 0.005f);
    QVERIFY(std::fabs(g.spanDegrees() - 115.94f) < 0.005f);
    QVERIFY(std::fabs(g.startDegrees() - 32.03f) < 0.005f);
    // The 1/3.1415 constant makes the sweep a little wider than the chord's true angle.
    const double trueSpan = 2.0 * std::atan(139.0 / (g.radius() - 77.0)) * 180.0 / M_PI;
    QVERIFY(g.spanDegrees() > trueSpan);
    QVERIFY(g.spanDegrees() - trueSpan < 0.01);
}

void TestScaleGeometry::designPoints_data() {
    QTest::addColumn<QPoint>("actual");
    QTest::addColumn<QPoint>("expected");

    const ScaleGeometry g = eighty();
    QTest::newRow("division 0") << g.divisionDot(0) << QPoint(15, 104);
    QTest::newRow("division 40") << g.divisionDot(40) << QPoint(159, 24);
    QTest::newRow("division 80") << g.divisionDot(80) << QPoint(303, 104);
    QTest::newRow("label -80") << g.label(0).value().topLeft << QPoint(0, 90);
    QTest::newRow("label 0") << g.label(40).value().topLeft << QPoint(156, 9);
    QTest::newRow("band step 0") << g.bandPoint(0) << QPoint(17, 105);
    QTest::newRow("band step 400") << g.bandPoint(400) << QPoint(159, 27);
    QTest::newRow("band step 800") << g.bandPoint(800) << QPoint(301, 105);
    // The same circle in the other mode: its ends and centre are where the other's are.
    const ScaleGeometry h = hundred();
    QTest::newRow("100: division 0") << h.divisionDot(0) << QPoint(15, 104);
    QTest::newRow("100: division 50") << h.divisionDot(50) << QPoint(159, 24);
    QTest::newRow("100: division 100") << h.divisionDot(100) << QPoint(303, 104);
    QTest::newRow("100: band step 400") << h.bandPoint(400) << QPoint(159, 27);
}

void TestScaleGeometry::designPoints() {
    QFETCH(QPoint, actual);
    QFETCH(QPoint, expected);
    QCOMPARE(actual, expected);
}

void TestScaleGeometry::designNeedles_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("position");
    QTest::addColumn<QPoint>("tip");
    QTest::addColumn<QPoint>("foot");

    QTest::newRow("centre") << false << 400 << QPoint(159, 34) << QPoint(159, 387);
    QTest::newRow("left end") << false << 0 << QPoint(20, 111) << QPoint(468, 387);
    QTest::newRow("100: centre") << true << 400 << QPoint(159, 34) << QPoint(159, 387);
    QTest::newRow("100: left end") << true << -100 << QPoint(20, 111) << QPoint(468, 387);
    // The offset maps -100 .. 900 onto the arc that 0 .. 800 covers in the other mode.
    QTest::newRow("right end") << false << 800 << QPoint(298, 111) << QPoint(-150, 387);
    QTest::newRow("100: right end") << true << 900 << QPoint(298, 111) << QPoint(-150, 387);
}

void TestScaleGeometry::designNeedles() {
    QFETCH(bool, hundredMode);
    QFETCH(int, position);
    const ScaleGeometry g = hundredMode ? hundred() : eighty();
    const ScaleGeometry::Needle n = g.needle(position);
    QVERIFY(n.shown);
    QTEST(n.tip, "tip");
    QTEST(n.foot, "foot");
}

void TestScaleGeometry::labels_data() {
    QTest::addColumn<bool>("hundredMode");
    QTest::addColumn<int>("span");
    QTest::addColumn<QStringList>("texts"); // one per tenth division
    QTest::addColumn<QList<QPoint>>("offsets");

    QTest::newRow("80 divisions") << false << 80 << QStringList{"-80", "-60", "-40", "-20", "0",
                                                                "20",  "40",  "60",  "80"}
                                  << QList<QPoint>{{5, 7}, {8, 5}, {10, 5}, {10, 4}, {3, 3},
                                                   {5, 5}, {8, 5}, {10, 5}, {11, 7}};
    QTest::newRow("100 divisions")
        << true << 100
        << QStringList{"-99", "-80", "-60", "-40", "-20", "0", "20", "40", "60", "80", "99"}
        << QList<QPoint>{{5, 7}, {8, 6}, {10, 5}, {10, 4}, {5, 4},  {3, 3},
                         {8, 5}, {8, 5}, {9, 4},  {12, 9}, {14, 11}};
}

void TestScaleGeometry::labels() {
    QFETCH(bool, hundredMode);
    QFETCH(int, span);
    QFETCH(QStringList, texts);
    QFETCH(QList<QPoint>, offsets);
    const ScaleGeometry g(kDesignPanel, hundredMode, span, hundredMode ? 100 : 0);
    for (int division = -10; division <= span + 20; ++division) {
        const auto label = g.label(division);
        const int row = division / 10;
        const bool expected =
            division >= 0 && division <= span && division % 10 == 0 && !texts.value(row).isEmpty();
        QCOMPARE(label.has_value(), expected);
        if (!label)
            continue;
        QCOMPARE(label->text, texts.at(row));
        // The anchor lies 12 pixels beyond the dot, on the same radius.
        const QPoint beyondDot = label->anchor - g.divisionDot(division);
        QVERIFY2(std::fabs(std::hypot(beyondDot.x(), beyondDot.y()) - 12.0) < 1.5,
                 qPrintable(label->text));
        QCOMPARE(label->anchor - label->topLeft, offsets.at(row));
    }
}

void TestScaleGeometry::arcIsSymmetric_data() {
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<bool>("hundredMode");

    QTest::newRow("design, 80") << kDesignPanel << false;
    QTest::newRow("design, 100") << kDesignPanel << true;
    QTest::newRow("enlarged, 80") << QSize(958, 300) << false;
    QTest::newRow("flat, 100") << QSize(700, 90) << true;
}

void TestScaleGeometry::arcIsSymmetric() {
    QFETCH(QSize, panel);
    QFETCH(bool, hundredMode);
    const ScaleGeometry g(panel, hundredMode, hundredMode ? 100 : 80, hundredMode ? 100 : 0);
    QVERIFY(g.isSound());
    const int mirror = panel.width(); // twice the x of the circle's centre
    const QRect picture(QPoint(0, 0), panel - QSize(4, 4));
    for (int i = 0; i <= g.span(); ++i) {
        const QPoint a = g.divisionDot(i);
        const QPoint b = g.divisionDot(g.span() - i);
        QCOMPARE(a.x() + b.x(), mirror);
        QCOMPARE(a.y(), b.y());
        QVERIFY2(picture.contains(a), qPrintable(QString::number(i)));
    }
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q) {
        // Off by one at most where a coordinate lies a hair's breadth from a half.
        QVERIFY(std::abs(g.bandPoint(q).x() + g.bandPoint(800 - q).x() - mirror) <= 1);
        QVERIFY(picture.contains(g.bandPoint(q)));
    }
    // Going along the arc from left to right, x never falls back.
    for (int q = 1; q <= ScaleGeometry::kBandSteps; ++q)
        QVERIFY(g.bandPoint(q).x() >= g.bandPoint(q - 1).x());
}

void TestScaleGeometry::needleRunsThroughCentre_data() {
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<bool>("hundredMode");

    QTest::newRow("design, 80") << kDesignPanel << false;
    QTest::newRow("design, 100") << kDesignPanel << true;
    QTest::newRow("enlarged, 80") << QSize(958, 300) << false;
}

void TestScaleGeometry::needleRunsThroughCentre() {
    // Every needle's foot lies on the radius through the arc at the needle's angle, its tip
    // 4 pixels below that point of the arc, whatever the position: even far beyond the arc's
    // ends, where the foot runs off towards infinity.
    QFETCH(QSize, panel);
    QFETCH(bool, hundredMode);
    const ScaleGeometry g(panel, hundredMode, hundredMode ? 100 : 80, hundredMode ? 100 : 0);
    const QPointF centre(g.w() / 2.0 + 20.0, g.radius() + 30.0);
    int shown = 0;
    for (int position = -3000; position <= 3000; position += 7) {
        const ScaleGeometry::Needle n = g.needle(position);
        if (!n.shown)
            continue;
        ++shown;
        const QString at = QString::number(position);
        const QPoint arc = g.pointAt(position + g.offset(), g.span() * 10, 0);
        QVERIFY2(std::abs(n.tip.x() - arc.x()) <= 1, qPrintable(at));
        QVERIFY2(std::abs(n.tip.y() - arc.y() - 4) <= 1, qPrintable(at));
        const double theta = g.angleRadians(position + g.offset(), g.span() * 10);
        const QPointF along = centre - QPointF(std::cos(theta), std::sin(theta));
        QVERIFY2(distanceFromLine(n.foot, centre, along) < 1.0, qPrintable(at));
        QCOMPARE(n.foot.y(), qRound(g.h()) + 310);
    }
    QVERIFY(shown > 800);
}

void TestScaleGeometry::wildPositions() {
    // Nothing clamps a position; far beyond the arc the needle still lies on its radius, or
    // is not shown where its foot would leave the coordinate range.
    const ScaleGeometry g = hundred();
    const QPointF centre(g.w() / 2.0 + 20.0, g.radius() + 30.0);
    for (int position :
         {std::numeric_limits<int>::min(), -1000000, 1000000, std::numeric_limits<int>::max()}) {
        const ScaleGeometry::Needle n = g.needle(position);
        if (!n.shown)
            continue;
        const double theta = g.angleRadians(double(position) + g.offset(), 1000);
        const QPointF along = centre - QPointF(std::cos(theta), std::sin(theta));
        QVERIFY(distanceFromLine(n.foot, centre, along) < 1.0);
    }
}

void TestScaleGeometry::soundness_data() {
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<bool>("sound");

    QTest::newRow("design") << kDesignPanel << true;
    QTest::newRow("one pixel of rise") << QSize(318, 61) << true;
    QTest::newRow("no rise") << QSize(318, 60) << false;
    QTest::newRow("negative rise") << QSize(318, 40) << false;
    QTest::newRow("half circle") << QSize(194, 137) << false;
    QTest::newRow("just under a half circle") << QSize(195, 137) << true;
    QTest::newRow("more than a half circle") << QSize(120, 137) << false;
    QTest::newRow("empty") << QSize(0, 0) << false;
    QTest::newRow("invalid") << QSize(-1, -1) << false;
}

void TestScaleGeometry::soundness() {
    QFETCH(QSize, panel);
    QFETCH(bool, sound);
    for (const ScaleGeometry &g : {eighty(panel), hundred(panel)}) {
        QCOMPARE(g.isSound(), sound);
        if (sound)
            continue;
        // Nothing is computed from an unsound circle: no needle, no label, no stray points.
        for (int position : {-100, 0, 400, 800, 900})
            QVERIFY(!g.needle(position).shown);
        QVERIFY(!g.label(40).has_value());
        QCOMPARE(g.divisionDot(10), QPoint());
        QCOMPARE(g.bandPoint(400), QPoint());
    }
    QVERIFY(!ScaleGeometry().isSound());
}

void TestScaleGeometry::bandColour_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<float>("maxLimit");
    QTest::addColumn<float>("minLimit");
    QTest::addColumn<bool>("maxOn");
    QTest::addColumn<bool>("minOn");
    QTest::addColumn<bool>("red");

    // 6000 typed into the upper edit is a limit of 3000: steps 701 .. 800 lie beyond it.
    QTest::newRow("6000: step 700 is at the limit")
        << 700 << 3000.f << -8002.f << true << false << false;
    QTest::newRow("6000: step 701") << 701 << 3000.f << -8002.f << true << false << true;
    QTest::newRow("6000: step 800") << 800 << 3000.f << -8002.f << true << false << true;
    QTest::newRow("6000 unticked") << 750 << 3000.f << -8002.f << false << false << false;
    QTest::newRow("-6000: step 99") << 99 << 8002.f << -3000.f << false << true << true;
    QTest::newRow("-6000: step 100 is at the limit")
        << 100 << 8002.f << -3000.f << false << true << false;
    QTest::newRow("-6000 unticked") << 0 << 8002.f << -3000.f << true << false << false;
    QTest::newRow("8000 typed: right end is at the limit")
        << 800 << 4000.f << -4000.f << true << true << false;
    QTest::newRow("8000 typed: left end is at the limit")
        << 0 << 4000.f << -4000.f << true << true << false;
    QTest::newRow("limits crossed: the centre is beyond both")
        << 400 << -1000.f << 1000.f << true << true << true;
    QTest::newRow("half a step: 3005 leaves 701 white")
        << 700 << 3005.f << -8002.f << true << false << false;
    QTest::newRow("half a step: 3005 makes 701 red")
        << 701 << 3005.f << -8002.f << true << false << true;
}

void TestScaleGeometry::bandColour() {
    QFETCH(int, step);
    QFETCH(float, maxLimit);
    QFETCH(float, minLimit);
    QFETCH(bool, maxOn);
    QFETCH(bool, minOn);
    QTEST(ScaleGeometry::bandStepRed(step, maxLimit, minLimit, maxOn, minOn), "red");
}

void TestScaleGeometry::startLimitsLeaveBandWhite() {
    for (int q = 0; q <= ScaleGeometry::kBandSteps; ++q)
        QVERIFY(!ScaleGeometry::bandStepRed(q, 8002.f, -8002.f, true, true));
}

QTEST_GUILESS_MAIN(TestScaleGeometry)
#include "tst_scalegeometry.moc"
