#include <QTest>

#include "linesweep.h"
#include "windowharness.h"

using Fault = LineSweep::Fault;
using Point = LineSweep::Point;
Q_DECLARE_METATYPE(QList<Point>)

namespace {
constexpr quint32 kSeed = 31;
const char *const kKindNames[] = {"cut", "drop", "double", "insert"};

QByteArray sampleOf(FrameKind frame) {
    return frame == FrameKind::Display ? LineSweep::displayFrame(0) : LineSweep::secondaryFrame(0);
}
} // namespace

/// The line sweep through the window's receive handler: every single fault of a display and a
/// secondary answer at every place the serial driver's poll can cut it, every pair of faults
/// in one answer, and a cut answer followed by every fault of the next one; then the points
/// the full sweep (qm-bench-linesweep) once failed on, as they replay.
class TestLineSweep : public QObject {
    Q_OBJECT

private slots:
    void sweep_data() {
        QTest::addColumn<QList<Point>>("points");
        QRandomGenerator random(kSeed);
        for (FrameKind frame : {FrameKind::Display, FrameKind::Secondary}) {
            const QByteArray sample = sampleOf(frame);
            const char *name = frame == FrameKind::Display ? "display" : "secondary";
            const QList<Fault> singles = LineSweep::singleFaults(sample.size(), random);
            for (int kind : {Fault::Cut, Fault::Drop, Fault::Double, Fault::Insert}) {
                QList<Point> once, twice;
                for (const Fault &f : singles) {
                    if (f.kind != kind)
                        continue;
                    const QByteArray received = LineSweep::damaged(sample, {f});
                    for (int split = 0; split < received.size(); ++split)
                        once.append({frame, {f}, {}, split, 2, 0, kSeed});
                    for (const Fault &g : LineSweep::singleFaults(received.size(), random))
                        twice.append({frame, {f, g}, {}, 0, 2, 0, kSeed});
                }
                QTest::addRow("%s, %s", name, kKindNames[kind]) << once;
                QTest::addRow("%s, %s and another fault", name, kKindNames[kind]) << twice;
            }
        }
        // The answer after a cut one comes 100 ms after it (a display one's, 200 ms): 50 ms
        // after the cut one's second piece when a poll splits that.
        for (const auto &[frame, slot] :
             {std::pair{FrameKind::Display, 2}, std::pair{FrameKind::Secondary, 1},
              std::pair{FrameKind::Secondary, 2}}) {
            const QByteArray next = frame == FrameKind::Secondary && slot == 2
                                        ? LineSweep::displayFrame(0)
                                        : LineSweep::secondaryFrame(0);
            QList<Point> points;
            for (int cut = 1; cut < sampleOf(frame).size(); ++cut)
                for (const Fault &g : LineSweep::singleFaults(next.size(), random))
                    for (int split = 0; split < cut; ++split)
                        points.append({frame, {{Fault::Cut, cut}}, {g}, split, slot, 0, kSeed});
            const QByteArray name = frame == FrameKind::Display
                                        ? QByteArray("display")
                                        : "secondary " + QByteArray::number(slot);
            QTest::addRow("%s cut, then the next answer damaged", name.constData()) << points;
        }
        // A cut answer's head and a damaged next answer made a frame together; an opener
        // doubled and a byte lost made a frame with an opener inside.
        QTest::newRow("found: bar of two answers") << QList<Point>{{FrameKind::Secondary,
                                                                    {{Fault::Insert, 7, 0x8A}},
                                                                    {{Fault::Insert, 5, 0x0A}},
                                                                    1,
                                                                    1,
                                                                    0,
                                                                    kSeed},
                                                                   {FrameKind::Secondary,
                                                                    {{Fault::Cut, 1}},
                                                                    {{Fault::Insert, 5, 0x0A}},
                                                                    0,
                                                                    2,
                                                                    30,
                                                                    3474330586}};
        QTest::newRow("found: display frame with an opener inside")
            << QList<Point>{{FrameKind::Display, {{Fault::Double, 0}, {Fault::Drop, 2}}, {}, 0}};
    }
    void sweep() {
        QFETCH(QList<Point>, points);
        WindowHarness h;
        LineSweep sweep(*h.w);
        QStringList violations;
        for (const Point &p : points)
            violations << sweep.run(p);
        const LineInvariants &inv = sweep.invariants();
        qInfo("%lld points, %lld invariant checks, forged frames read: %lld bars, %lld display",
              qint64(points.size()), inv.checks(), inv.forgedBars(), inv.forgedDisplays());
        QVERIFY2(violations.isEmpty(), qPrintable(violations.mid(0, 10).join(u'\n')));
        QVERIFY2(h.errors.isEmpty(), qPrintable(h.errors.join(u'\n')));
    }
};

QTEST_MAIN(TestLineSweep)
#include "tst_linesweep.moc"
