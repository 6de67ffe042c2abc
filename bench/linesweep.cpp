// The full line sweep, through the real window's receive handler (the quick one is the test
// tst_linesweep): for a display answer and for each of the cycle's three secondary answers,
// every single fault (cut after each byte; drop, double each; insert 0x89, 0x8A, 0x0A and
// --random random bytes at each position) at every place the poll can cut the damaged answer;
// then every pair of faults in the answer (the second on what the first left), and every
// fault of the answer with every fault of the answer after it, at --pair-splits such places
// (no split, then random ones). Each point runs on time and again with the answers starting
// up to --jitter ms late. Prints every violation with what replays it, then the figures.
//
//   qm-bench-linesweep [--random N] [--pairs 0|1] [--pair-splits N] [--jitter MS] [--seed S]
//                      [--show N]    (violations printed, default 50)

#include "linesweep.h"
#include "benchsupport.h"
#include "uiprompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int randomBytes = BenchSupport::option(args, "--random", 16);
    const bool pairs = BenchSupport::option(args, "--pairs", 1) != 0;
    const int pairSplits = BenchSupport::option(args, "--pair-splits", 3);
    const int jitterMs = BenchSupport::option(args, "--jitter", 30);
    const auto seed = quint32(BenchSupport::option(args, "--seed", 31));
    const int shown = BenchSupport::option(args, "--show", 50);

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    UiPrompts prompts;
    QStringList errors;
    prompts.onError = [&errors](const QString &text) { errors << text; };
    prompts.onInformation = [](const QString &) {};
    prompts.onBeep = [] {};
    TFCOMM w(ModelFlag::QM30, &prompts);
    LineSweep sweep(w);

    QElapsedTimer clock;
    clock.start();
    QRandomGenerator random(seed);
    qint64 points = 0;
    QStringList violations;
    const auto run = [&](FrameKind frame, int slot, const QList<LineSweep::Fault> &faults,
                         qsizetype received, int splits, const QList<LineSweep::Fault> &next = {}) {
        for (int i = 0; i < std::min<qsizetype>(splits, received); ++i) {
            const int split = splits >= received ? i : i == 0 ? 0 : random.bounded(int(received));
            for (int jitter : {0, jitterMs}) {
                ++points;
                violations << sweep.run(
                    {frame, faults, next, split, slot, jitter, random.generate()});
            }
        }
    };
    for (FrameKind frame : {FrameKind::Display, FrameKind::Secondary})
        for (int slot = frame == FrameKind::Display ? 2 : 0; slot <= 2; ++slot) {
            const QByteArray sample = frame == FrameKind::Display ? LineSweep::displayFrame(0)
                                                                  : LineSweep::secondaryFrame(0);
            for (const LineSweep::Fault &f :
                 LineSweep::singleFaults(sample.size(), random, randomBytes)) {
                const qsizetype received = LineSweep::damaged(sample, {f}).size();
                run(frame, slot, {f}, received, int(received));
            }
            if (!pairs)
                continue;
            // The answer after: a display one after the third secondary, else a secondary one.
            const QByteArray nextSample = slot == 2 && frame == FrameKind::Secondary
                                              ? LineSweep::displayFrame(0)
                                              : LineSweep::secondaryFrame(0);
            for (const LineSweep::Fault &f : LineSweep::singleFaults(sample.size(), random)) {
                const QByteArray once = LineSweep::damaged(sample, {f});
                for (const LineSweep::Fault &g : LineSweep::singleFaults(once.size(), random))
                    run(frame, slot, {f, g}, LineSweep::damaged(once, {g}).size(), pairSplits);
                for (const LineSweep::Fault &g : LineSweep::singleFaults(nextSample.size(), random))
                    run(frame, slot, {f}, once.size(), pairSplits, {g});
            }
        }
    const double seconds = double(clock.elapsed()) / 1000.0;

    for (const QString &v : violations.mid(0, shown))
        std::printf("violation: %s\n", qPrintable(v));
    for (const QString &e : errors.mid(0, 5))
        std::printf("error shown: %s\n", qPrintable(e));
    const LineInvariants &inv = sweep.invariants();
    std::printf("%lld fault points (random bytes %d a position, pairs %s, jitter 0 and %d ms, "
                "seed %u) in %.1f s: %lld invariant checks, %lld violations; forged frames "
                "read: %lld bars, %lld display readings\n",
                static_cast<long long>(points), randomBytes, pairs ? "on" : "off", jitterMs, seed,
                seconds, static_cast<long long>(inv.checks()),
                static_cast<long long>(violations.size()), static_cast<long long>(inv.forgedBars()),
                static_cast<long long>(inv.forgedDisplays()));
    BenchSupport::figure("line sweep fault points", double(points), "points");
    BenchSupport::figure("line sweep invariant checks", double(inv.checks()), "checks");
    BenchSupport::figure("line sweep violations", double(violations.size()), "violations", "<=0");
    return violations.isEmpty() && errors.isEmpty() ? 0 : 1;
}
