#include <QTest>

#include "storagesweep.h"

Q_DECLARE_METATYPE(StoragePoint)
Q_DECLARE_METATYPE(QList<StoragePoint>)

namespace {
/// Every spool a window opens goes through it; it outlives them and their syncs.
TestSpoolIo &spoolIo() {
    static TestSpoolIo *const io = new TestSpoolIo;
    return *io;
}
} // namespace

/// The storage sweep through the real window: the k-th call of each kind of the table file's
/// layer and of the spool's failed, for k = 1, 2, ... until none is left (once or until room
/// returns, some followed by a power cut), and the power cut at every sync; each run checked
/// by StorageInvariants. Then the points the sweep once failed on, as they replay.
class TestStorageSweep : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        WriteBudget::install();
        spoolIo().install();
    }

    void sweep_data() {
        QTest::addColumn<StoragePoint>("point");
        // Table faults alternate the engine's two codes and the two durations from one kind
        // to the next, and a third of the kinds are followed by a power cut; the full sweep
        // runs all eight of each.
        for (int kind = 0; kind < int(WriteBudget::Call::Count); ++kind) {
            const StoragePoint p{StoragePoint::Table, kind,         1,
                                 kind % 2 == 0,       kind % 4 < 2, kind % 3 == 0};
            QTest::addRow("%s", qPrintable(p.name())) << p;
        }
        for (int kind = 0; kind < int(TestSpoolIo::Call::Count); ++kind) {
            const StoragePoint p{StoragePoint::Spool, kind, 1, true, kind % 2 == 1, kind % 3 == 1};
            QTest::addRow("%s", qPrintable(p.name())) << p;
        }
        QTest::addRow("power cuts") << StoragePoint{StoragePoint::PowerCut};
    }
    void sweep() {
        QFETCH(StoragePoint, point);
        StorageSweep sweep(spoolIo(), {40, 6});
        const int points = sweep.sweep(point);
        const StorageInvariants &inv = sweep.invariants();
        qInfo("%d fault points, %lld invariant checks", points, inv.checks());
        QVERIFY2(inv.violations().isEmpty(), qPrintable(inv.violations().mid(0, 10).join(u'\n')));
    }

    /// QM_SWEEP_POINT="target kind k full lasting [cut]" (numbers, as StoragePoint holds them)
    /// runs that one point instead of the points found, QM_SWEEP_SIZES="flood more" with
    /// readings of those sizes (as the full sweep's --flood and --more); QM_SWEEP_TRACE=1 says
    /// what each step told.
    void found_data() {
        QTest::addColumn<QList<StoragePoint>>("points");
        const QStringList f = qEnvironmentVariable("QM_SWEEP_POINT").split(u' ');
        if (f.size() >= 5) {
            QTest::newRow("replay") << QList<StoragePoint>{
                {StoragePoint::Target(f[0].toInt()), f[1].toInt(), f[2].toInt(), f[3].toInt() != 0,
                 f[4].toInt() != 0, f.value(5).toInt() != 0}};
            return;
        }
        constexpr int sync = int(WriteBudget::Call::Sync);
        // The engine's journal failed to close after the file was synced: the commit was done
        // but said it was not. A clearing said "Nothing was deleted" and had deleted; a save
        // said "Not saved" and had saved (the user then dropped the records, or the next save
        // stored them twice).
        QTest::newRow("found: a commit done, said not done")
            << QList<StoragePoint>{{StoragePoint::Table, sync, 16, false, false},
                                   {StoragePoint::Table, sync, 24, true, false}};
        // The spool's sync failed, the clearing went on without its mark on the disk, and
        // after a power cut the records saved and then cleared were offered back as unsaved.
        constexpr int spoolSync = int(TestSpoolIo::Call::Sync);
        QTest::newRow("found: records cleared offered back")
            << QList<StoragePoint>{{StoragePoint::Spool, spoolSync, 2, false, false, true},
                                   {StoragePoint::Spool, spoolSync, 2, false, true, true},
                                   {StoragePoint::Spool, spoolSync, 3, false, true, true}};
        // With the disk failing on, the engine cannot tell at once whether it was done.
        QTest::newRow("found: a commit that cannot tell")
            << QList<StoragePoint>{{StoragePoint::Table, sync, 6, false, true},
                                   {StoragePoint::Table, sync, 16, true, true},
                                   {StoragePoint::Table, sync, 24, false, true}};
    }
    void found() {
        QFETCH(QList<StoragePoint>, points);
        const QStringList sizes = qEnvironmentVariable("QM_SWEEP_SIZES", "40 6").split(u' ');
        StorageSweep sweep(spoolIo(), {sizes.value(0).toInt(), sizes.value(1).toInt()});
        // The spool's syncs are asked for by a timer as well and run on a thread of their
        // own: their count may differ by one from run to run, so any of these may hit.
        int hits = 0;
        for (const StoragePoint &p : points)
            hits += sweep.run(p) ? 1 : 0;
        QVERIFY2(hits > 0, "no point hits a call");
        QVERIFY2(sweep.invariants().violations().isEmpty(),
                 qPrintable(sweep.invariants().violations().join(u'\n')));
    }
};

QTEST_MAIN(TestStorageSweep)
#include "tst_storagesweep.moc"
