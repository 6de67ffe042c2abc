// A disk that fills up under the record table, met by a write or by a read that spills the
// engine's pages: every record appended before the failure stays pending, readable and
// exportable, recording goes on into the spool's reserved room, nothing reaches the file
// without a save, and the save once there is room again stores each record exactly once, in
// order.
#include "datareport.h"
#include "pendingspool.h"
#include "recordfixture.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "tabledbcopier.h"
#include "tabletextexporter.h"
#include "testfiles.h"
#include "writebudget.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
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
        QTest::addColumn<int>("budget");      // bytes the disk still takes; -1: a real 2 MB disk
        QTest::addColumn<bool>("smallCache"); // pending pages spill to the file early
        QTest::addColumn<bool>("throws");
        QTest::addColumn<int>("told"); // detachedAfterFailure() signals; -1: any
        const Step appendMore = [](RecordTable &t, const QString &) {
            for (int no = int(t.count()) + 1; !t.detachedSpool() && no < 100000; ++no)
                t.append(reading(no, QString(200, u'7')));
            QVERIFY(t.detachedSpool());
            for (int i = 0; i < 5; ++i)
                t.append(reading(int(t.count()) + 1));
        };
        QTest::newRow("append that spills") << appendMore << 0 << 200000 << true << false << 1;
        QTest::newRow("append, full from the start") << appendMore << 0 << 0 << false << false << 1;
        QTest::newRow("save") << Step([](RecordTable &t, const QString &) { t.applyUpdates(); })
                              << 3000 << 0 << false << true << 0;
        QTest::newRow("clear") << Step([](RecordTable &t, const QString &) { t.empty(); }) << 3000
                               << 0 << false << true << 0;
        QTest::newRow("save as, same disk") << Step([](RecordTable &t, const QString &folder) {
            TableDbCopier::copy(t, folder + QStringLiteral("/copy.db"));
        }) << 3000 << 0 << false << true << 0;
        // A read that needs a page the small cache does not hold spills dirty pages first.
        QTest::newRow("read: grid rows")
            << Step([](RecordTable &t, const QString &) { QCOMPARE(t.rows(0, 20).size(), 20); })
            << 3000 << 0 << true << false << 1;
        QTest::newRow("read: text export") << Step([this](RecordTable &t, const QString &) {
            TableTextExporter::write(t, away(QStringLiteral("partial.xls")));
        }) << 3000 << 0 << true << true << 0;
        QTest::newRow("read: .db copy") << Step([this](RecordTable &t, const QString &) {
            TableDbCopier::copy(t, away(QStringLiteral("partial.db")));
        }) << 3000 << 0 << true << true << 0;
        QTest::newRow("read: report page") << Step([](RecordTable &t, const QString &) {
            DataReport report(std::make_shared<RecordTableSource>(t));
            QImage page(100, 140, QImage::Format_RGB32);
            QPainter painter(&page);
            report.paintPage(painter, 0);
        }) << 3000 << 0 << true << false << 1;
#ifdef Q_OS_LINUX
        // With the default cache the spool's own blocks run out first.
        QTest::newRow("append, real small disk")
            << Step([](RecordTable &t, const QString &) { appendUntilFull(t, 100); }) << 0 << -1
            << false << true << -1;
#endif
    }
    void failedWriteKeepsEveryPendingRecord() {
        QFETCH(Step, failing);
        QFETCH(int, pending);
        QFETCH(int, budget);
        QFETCH(bool, smallCache);
        QFETCH(bool, throws);
        QFETCH(int, told);
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
        if (smallCache)
            spillEarly(table);
        for (int no = 1; no <= kSaved; ++no)
            table.append(reading(no));
        table.applyUpdates();
        for (int no = kSaved + 1; no <= kSaved + pending; ++no)
            table.append(reading(no));
        QSignalSpy detached(&table, &RecordTable::detachedAfterFailure);

        WriteBudget::set(m_dir->path(), budget);
        if (throws)
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, failing(table, folder));
        else
            failing(table, folder);
        WriteBudget::set(m_dir->path(), smallDisk ? -1 : 0);
        QCOMPARE(WriteBudget::refusals() > refusedBefore, !smallDisk);
        if (told >= 0)
            QCOMPARE(detached.size(), told);
        // A failed export leaves nothing behind.
        QCOMPARE(QDir(m_elsewhere->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
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

    // The file renamed away in the middle of a save: the records went into it, but not into
    // the file at the table's path, so they stay pending, shown and exported once each, and
    // are saved when the file is back. From the spool (detached) as from the engine.
    void fileMovedDuringSaveKeepsRecordsPending_data() {
        QTest::addColumn<bool>("detached");
        QTest::newRow("held by the engine") << false;
        QTest::newRow("held by the spool alone") << true;
    }
    void fileMovedDuringSaveKeepsRecordsPending() {
        QFETCH(bool, detached);
        const QString file = path(QStringLiteral("week.db"));
        const QString renamed = path(QStringLiteral("renamed.db"));
        RecordTable table;
        table.open(file, RecordTable::OpenMode::CreateIfMissing);
        for (int no = 1; no <= 3; ++no)
            table.append(reading(no));
        table.applyUpdates();
        // A full disk sends the records to the spool alone.
        WriteBudget::set(m_dir->path(), detached ? 0 : -1);
        for (int no = 4; no <= 7 || (detached && !table.detachedSpool() && no < 100000); ++no)
            table.append(reading(no, QString(200, u'7')));
        QCOMPARE(table.detachedSpool() != nullptr, detached);
        WriteBudget::set(m_dir->path(), -1);
        const int total = int(table.count());

#ifdef Q_OS_WIN
        // Windows keeps a file that is held open where it is: the save goes into it.
        WriteBudget::atNextSync([&] { QVERIFY(!QFile::rename(file, renamed)); });
        table.applyUpdates();
        QCOMPARE(table.pendingCount(), 0);
        table.close();
        QCOMPARE(storedNumbers(file, QStringLiteral("week")), oneTo(total));
        return;
#endif
        WriteBudget::atNextSync([&] { QVERIFY(QFile::rename(file, renamed)); });
        QVERIFY_THROWS_EXCEPTION(RecordTable::FileMoved, table.applyUpdates());
        QVERIFY(!table.isAtItsPath());
        QVERIFY(!table.detachedSpool());
        QCOMPARE(table.pendingCount(), total - 3);
        QCOMPARE(shownNumbers(table), oneTo(total));
        const QString text = away(QStringLiteral("moved.txt"));
        QVERIFY(TableTextExporter::write(table, text));
        QCOMPARE(textLines(text), 1 + total);
        table.append(reading(total + 1));
        QVERIFY_THROWS_EXCEPTION(RecordTable::FileMoved, table.applyUpdates());
        QCOMPARE(table.pendingCount(), total + 1 - 3);

        QVERIFY(QFile::rename(renamed, file));
        table.applyUpdates();
        QCOMPARE(table.pendingCount(), 0);
        QCOMPARE(shownNumbers(table), oneTo(total + 1));
        table.close();
        QCOMPARE(storedNumbers(file, QStringLiteral("week")), oneTo(total + 1));
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
        PendingSpool spool(path(QStringLiteral("spool")), SpoolFormat::Header{});
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
        spool.restart(SpoolFormat::Header{});
        QCOMPARE(spool.read(0, 1).size(), 0);
    }
};

QTEST_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
