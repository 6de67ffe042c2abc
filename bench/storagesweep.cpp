// The full storage sweep through the real window (the quick one is the test
// tst_storagesweep): for every kind of call of the table file's layer, with SQLITE_FULL and
// with SQLITE_IOERR, once and until room returns, and for every kind of the spool's file
// operations, once and until room returns, the k-th call failed for k = 1, 2, ... until none
// is left, and each again with the power cut right after the step the call failed in; then
// the power cut at every sync of the table's files. Prints every violation with
// the point that replays it (QM_SWEEP_POINT with tst_storagesweep found), then the figures.
//
//   qm-bench-storagesweep [--flood N] [--more N] [--show N]   (violations printed, default 50)
//                         [--only table|spool|cut]

#include "storagesweep.h"
#include "benchsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const StorageSweep::Sizes sizes{BenchSupport::option(args, "--flood", 300),
                                    BenchSupport::option(args, "--more", 40)};
    const int shown = BenchSupport::option(args, "--show", 50);
    const qsizetype only = args.indexOf(QStringLiteral("--only"));
    const QString part = only < 0 ? QString() : args.value(only + 1);
    WriteBudget::install();
    static auto *const spool = new TestSpoolIo; // outlives the syncs under way at the end
    spool->install();

    QElapsedTimer clock;
    clock.start();
    StorageSweep sweep(*spool, sizes);
    int points = 0;
    auto line = [&](const StoragePoint &p, int n) {
        // The point's name without its k.
        std::printf("%-62s %5d points\n",
                    qPrintable(p.name().remove(QRegularExpression(QStringLiteral(" k=\\d+")))), n);
        std::fflush(stdout);
        points += n;
    };
    if (part.isEmpty() || part == u"table")
        for (int kind = 0; kind < int(WriteBudget::Call::Count); ++kind)
            for (bool full : {true, false})
                for (bool lasting : {false, true})
                    for (bool cut : {false, true}) {
                        const StoragePoint p{StoragePoint::Table, kind, 1, full, lasting, cut};
                        line(p, sweep.sweep(p));
                    }
    if (part.isEmpty() || part == u"spool")
        for (int kind = 0; kind < int(TestSpoolIo::Call::Count); ++kind)
            for (bool lasting : {false, true})
                for (bool cut : {false, true}) {
                    const StoragePoint p{StoragePoint::Spool, kind, 1, kind % 2 == 0, lasting, cut};
                    line(p, sweep.sweep(p));
                }
    if (part.isEmpty() || part == u"cut") {
        const StoragePoint p{StoragePoint::PowerCut};
        line(p, sweep.sweep(p));
    }
    const StorageInvariants &inv = sweep.invariants();
    for (qsizetype i = 0; i < std::min<qsizetype>(shown, inv.violations().size()); ++i)
        std::printf("VIOLATION %s\n", qPrintable(inv.violations()[i]));
    std::printf("readings per flood %d and %d: %d fault points, %lld invariant checks, %lld "
                "violations, %.1f s\n",
                sizes.flood, sizes.more, points, inv.checks(), qint64(inv.violations().size()),
                clock.elapsed() / 1000.0);
    return inv.violations().isEmpty() ? 0 : 1;
}
