// A disk that fills up under the record table: every record appended before the failure
// stays pending, readable and exportable, nothing reaches the file without a save, and the
// save once there is room again stores each record exactly once, in order.
#include "pendingspool.h"
#include "recordfixture.h"
#include "recordtable.h"
#include "tabledbcopier.h"
#include "tabletextexporter.h"
#include "testfiles.h"
#include "writebudget.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <functional>
#include <memory>

namespace {

RecordValues reading(int no, const QString &value = QStringLiteral("1.234")) {
    return RecordFixture::record(no, value, QStringLiteral("V"), QStringLiteral("DC"),
                                 QStringLiteral("AUTO"), QTime(12, 34, 56));
}

/// Appends records of `width` characters until an append fails.
void appendUntilFull(RecordTable &t, int width) {
    for (int no = int(t.count()) + 1;; ++no)
        t.append(reading(no, QString(width, u'7')));
}

/// A small page cache makes the engine spill pending pages to the file long before a save, as
/// a large table does with the default cache.
void spillEarly(RecordTable &t) {
    sqlite3_exec(t.nativeHandle(), "PRAGMA cache_size=8", nullptr, nullptr, nullptr);
}

/// What the next process would find after a kill -9 now: the file and its journal as the
/// system holds them, opened afresh elsewhere (the engine rolls a hot journal back).
QList<int> afterCrash(const QString &path, const QString &elsewhere) {
    for (const QString &suffix : {QString(), QStringLiteral("-journal")}) {
        QFile::remove(elsewhere + suffix);
        if (QFile::exists(path + suffix))
            QFile::copy(path + suffix, elsewhere + suffix);
    }
    return storedNumbers(elsewhere);
}

QList<int> shownNumbers(const RecordTable &table) {
    QList<int> out;
    for (qint64 first = 0; first < table.count(); first += 1000)
        for (const RecordRow &row : table.rows(first, 1000))
            out.append(row.texts[RecordRow::No].toInt());
    return out;
}

int textLines(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("\r\n")) : -1;
}

bool mount(const QStringList &args) {
    return QProcess::execute(QStringLiteral("mount"), args) == 0;
}

using Step = std::function<void(RecordTable &, const QString &folder)>;

} // namespace

Q_DECLARE_METATYPE(Step)

class TestWriteFailures : public QObject {
    Q_OBJECT

    static constexpr int kSaved = 40;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_elsewhere; // another drive: never short of space
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString away(const QString &name) const { return m_elsewhere->filePath(name); }

private slots:
    void initTestCase() { WriteBudget::install(); }
    void init() {
        WriteBudget::lift();
        m_dir = std::make_unique<QTemporaryDir>();
        m_elsewhere = std::make_unique<QTemporaryDir>();
    }
    void cleanup() { WriteBudget::lift(); }

    void failedWriteKeepsEveryPendingRecord_data() {
        QTest::addColumn<Step>("failing");
        QTest::addColumn<int>("pending");
        QTest::addColumn<int>("budget"); // bytes the disk still takes; -1: a real 2 MB disk
        QTest::newRow("append that spills") << Step([](RecordTable &t, const QString &) {
            spillEarly(t);
            appendUntilFull(t, 200);
        }) << 0 << 200000;
        QTest::newRow("save") << Step([](RecordTable &t, const QString &) { t.applyUpdates(); })
                              << 3000 << 0;
        QTest::newRow("clear") << Step([](RecordTable &t, const QString &) { t.empty(); }) << 3000
                               << 0;
        QTest::newRow("save as, same disk") << Step([](RecordTable &t, const QString &folder) {
            TableDbCopier::copy(t, folder + QStringLiteral("/copy.db"));
        }) << 3000 << 0;
#ifdef Q_OS_LINUX
        // With the default cache the spool's own blocks run out first.
        QTest::newRow("append, real small disk")
            << Step([](RecordTable &t, const QString &) { appendUntilFull(t, 100); }) << 0 << -1;
#endif
    }
    void failedWriteKeepsEveryPendingRecord() {
        QFETCH(Step, failing);
        QFETCH(int, pending);
        QFETCH(int, budget);
        const bool smallDisk = budget < 0;
        const QString folder = smallDisk ? path(QStringLiteral("disk")) : m_dir->path();
        if (smallDisk &&
            !(QDir().mkpath(folder) && mount({"-t", "tmpfs", "-o", "size=2m", "tmpfs", folder})))
            QSKIP("cannot mount a small tmpfs here (needs root); the write budget covers it");
        const auto unmount = qScopeGuard([&] {
            if (smallDisk)
                QProcess::execute(QStringLiteral("umount"), {folder});
        });
        const QString file = folder + QStringLiteral("/Qm20db.db");
        const int refusedBefore = WriteBudget::refusals();
        RecordTable table;
        table.open(file, RecordTable::OpenMode::CreateIfMissing);
        for (int no = 1; no <= kSaved; ++no)
            table.append(reading(no));
        table.applyUpdates();
        for (int no = kSaved + 1; no <= kSaved + pending; ++no)
            table.append(reading(no));

        WriteBudget::set(m_dir->path(), budget);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, failing(table, folder));
        WriteBudget::set(m_dir->path(), smallDisk ? -1 : 0);
        QCOMPARE(WriteBudget::refusals() > refusedBefore, !smallDisk);
        const int total = int(table.count());
        QVERIFY(total > kSaved);
        QCOMPARE(table.pendingCount(), total - kSaved);
        QCOMPARE(shownNumbers(table), oneTo(total));
        QCOMPARE(afterCrash(file, away(QStringLiteral("crash.db"))), oneTo(kSaved));

        // The records get out to another drive while this one stays full.
        QVERIFY(TableTextExporter::write(table, away(QStringLiteral("out.xls"))));
        QCOMPARE(textLines(away(QStringLiteral("out.xls"))), total + 1);
        TableDbCopier::copy(table, away(QStringLiteral("Qm20db.db")));
        QCOMPARE(storedNumbers(away(QStringLiteral("Qm20db.db"))), oneTo(total));

        // Still full: the save fails again and keeps them.
        QVERIFY_THROWS_EXCEPTION(RecordTable::WriteFailure, table.applyUpdates());
        QCOMPARE(table.count(), total);
        QCOMPARE(afterCrash(file, away(QStringLiteral("crash.db"))), oneTo(kSaved));

        WriteBudget::lift();
        if (smallDisk)
            QVERIFY(mount({"-o", "remount,size=16m", folder}));
        table.applyUpdates();
        QCOMPARE(table.pendingCount(), 0);
        table.applyUpdates();
        table.append(reading(total + 1));
        table.close();
        QCOMPARE(storedNumbers(file), oneTo(total));
    }

    // While appends fail they are refused quietly, tried again at most once a second and only
    // when the disk has room; then recording carries on by itself.
    void refusedAppendsComeBackWithSpace() {
        RecordTable table;
        table.open(path(QStringLiteral("Qm20db.db")), RecordTable::OpenMode::CreateIfMissing);
        qint64 free = 0;
        table.setSpaceProbe([&free](const QString &) { return free; });
        spillEarly(table);
        WriteBudget::set(m_dir->path(), 0);
        QVERIFY_THROWS_EXCEPTION(RecordTable::WriteFailure, appendUntilFull(table, 200));
        const int no = int(table.count()) + 1;
        QVERIFY(table.appendsRefused());
        QVERIFY_THROWS_EXCEPTION(RecordTable::AppendRefused, table.append(reading(no)));
        QTest::qWait(RecordTable::kRetryMs + 100);
        QVERIFY_THROWS_EXCEPTION(RecordTable::AppendRefused, table.append(reading(no)));

        free = 100 << 20; // the engine's file stays full: the spool takes the records
        QVERIFY_THROWS_EXCEPTION(RecordTable::AppendRefused, table.append(reading(no)));
        QTest::qWait(RecordTable::kRetryMs + 100);
        table.append(reading(no));
        table.append(reading(no + 1));
        QVERIFY(!table.appendsRefused());
        QCOMPARE(table.count(), no + 1);
        WriteBudget::lift();
        table.applyUpdates();
        table.close();
        QCOMPARE(storedNumbers(path(QStringLiteral("Qm20db.db"))), oneTo(no + 1));
    }

    // The spool gives back each record as it was appended, from its file or its buffer, with
    // the last append taken back wherever it went.
    void spoolKeepsRecordsExactly() {
        const QStringList texts{QString(), QStringLiteral("\u00b5\u03a9 k*"), QString(254, u'a'),
                                QString(255, u'b'), QString(1000, u'c')};
        auto record = [&](int i) {
            RecordValues v = reading(i, texts[i % texts.size()]);
            v.unit = texts[(i + 1) % texts.size()];
            v.nval = float(i) / 3;
            v.time = i % 7 ? QTime::fromMSecsSinceStartOfDay(i * 997) : QTime();
            return v;
        };
        auto fields = [](const RecordValues &v) {
            return QStringList{QString::number(v.no),
                               v.value,
                               v.unit,
                               QString::number(v.nval, 'g', 9),
                               v.time.toString(Qt::ISODateWithMs),
                               v.dcAc,
                               v.autoText};
        };
        PendingSpool spool(path(QStringLiteral("spool")));
        const int n = 3 * PendingSpool::kAnchorStride + 5;
        for (int i = 0; i < n; ++i) {
            spool.append(record(i));
            if (i % 500 == 499) { // taken back, at whatever place the buffer stood
                spool.dropLast();
                spool.append(record(i));
            }
        }
        QCOMPARE(spool.count(), n);
        for (const int first :
             {0, 1, PendingSpool::kAnchorStride - 1, 2 * PendingSpool::kAnchorStride + 3, n - 2}) {
            const QList<RecordValues> got = spool.read(first, 3);
            QCOMPARE(got.size(), std::min(3, n - first));
            for (int k = 0; k < got.size(); ++k)
                QCOMPARE(fields(got[k]), fields(record(first + k)));
        }
        spool.clear();
        QCOMPARE(spool.read(0, 1).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
