// The spool of pending records as a recovery journal: its records end at the last whole one
// whatever lies beyond; what a run left behind is offered back when it was made at the
// table's state now, removed when the table holds it already, and set aside, never applied,
// when it belongs to another state of the table; a power cut keeps the last save and loses
// at most what came after the last sync; a slow or failing sync never holds the table up.
#include "leftspool.h"
#include "recordfixture.h"
#include "recordtable.h"
#include "spoolformat.h"
#include "testfiles.h"
#include "testspoolio.h"
#include "writebudget.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

RecordValues record(int no) {
    return RecordFixture::record(no, QStringLiteral("%1").arg(no % 8000 / 1000.0, 0, 'f', 3),
                                 QStringLiteral("V"), QStringLiteral("DC"), QStringLiteral("AUTO"),
                                 QTime(10, 0).addSecs(no));
}

/// Records 1 to 7 into `t`, saved after the third: a table with records stored and pending.
void recordSevenSavingThree(RecordTable &t) {
    for (int no = 1; no <= 7; ++no) {
        t.append(record(no));
        if (no == 3)
            t.applyUpdates();
    }
}

/// Frames of records `first`..`last`, chained from `salt`.
QByteArray frames(int first, int last, quint32 salt, QList<qsizetype> *starts = nullptr) {
    QByteArray out;
    quint32 chain = salt;
    for (int no = first; no <= last; ++no) {
        if (starts)
            starts->append(out.size());
        SpoolFormat::encode(out, record(no), &chain);
    }
    return out;
}

/// Both slots of a header, the second one blank.
QByteArray headerWith(quint32 salt) {
    SpoolFormat::Header h;
    h.salt = salt;
    h.device = 1;
    h.file = 2;
    h.storedRows = 3;
    h.lastKey = 3;
    return h.encode() + QByteArray(SpoolFormat::kHeaderBytes, '\0');
}

/// The numbers of the whole records in a spool's bytes, checked as a next run reads them.
QList<int> wholeNumbers(const QByteArray &spool) {
    SpoolFormat::Header header;
    QList<int> out;
    int slot = 0;
    if (SpoolFormat::Header::decodeSlots(spool.constData(), spool.size(), &header, &slot) !=
        SpoolFormat::Header::Read::Valid)
        return out;
    quint32 chain = header.salt;
    qsizetype at = SpoolFormat::kRecordsStart;
    RecordValues r;
    qsizetype next = 0;
    while (SpoolFormat::decode(spool.constData(), spool.size(), at, &r, &next, &chain) ==
           SpoolFormat::Frame::Whole) {
        out.append(r.no);
        at = next;
    }
    return out;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// The `No` of every row the table shows, stored and pending.
QList<int> shownNumbers(const RecordTable &table) {
    QList<int> out;
    for (const RecordRow &row : table.readRows(0, int(table.count())))
        out.append(row.texts[RecordRow::No].toInt());
    return out;
}

QList<int> range(int first, int last) {
    QList<int> out;
    for (int i = first; i <= last; ++i)
        out.append(i);
    return out;
}

/// `numbers`, with an empty list in the one form: Qt compares two empty lists of plain values
/// with memcmp() on their data, which may be null for one of them.
QList<int> normal(const QList<int> &numbers) {
    return numbers.isEmpty() ? QList<int>() : numbers;
}

/// The spool's file in use (every spool goes through these).
TestSpoolIo &spoolIo() {
    static TestSpoolIo *const io = [] {
        auto *made = new TestSpoolIo;
        made->install();
        return made;
    }();
    return *io;
}

using Scenario = std::function<void(const QString &file)>;

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestRecoveryJournal : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString table() const { return m_dir->filePath(QStringLiteral("Qm20db.db")); }
    QString spool() const { return table() + QStringLiteral("-pending"); }

    /// Opens the table, answering the question about records a run left with `keep`; what
    /// was asked goes to `asked`.
    void open(RecordTable &t, bool keep, QList<LeftRecords> *asked) {
        t.open(table(), RecordTable::OpenMode::CreateIfMissing, [=](const LeftRecords &left) {
            asked->append(left);
            return keep;
        });
    }

    /// A run killed now: its spool's file as written so far outlives it (what waits in
    /// memory does not), and its table as last committed.
    void kill(RecordTable &t) {
        const QByteArray left = readAll(spool());
        t.close();
        writeFile(spool(), left);
    }
    /// The same after a second: everything appended reached the file.
    void killLater(RecordTable &t) {
        t.securePending();
        QVERIFY(t.waitUntilSecured(5000));
        kill(t);
    }

private slots:
    void initTestCase() {
        WriteBudget::install();
        spoolIo();
    }
    void init() {
        WriteBudget::lift();
        m_dir = std::make_unique<QTemporaryDir>();
        spoolIo().holdSyncs(false);
        spoolIo().failSyncs = false;
        spoolIo().syncDelayMs = 0;
    }

    // Whatever follows the records (the reserved room, a write cut short, bytes of an earlier
    // run, a record damaged on the disk), they end at the last whole one, never later.
    void recordsEndAtTheLastWholeOne_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("whole");
        QTest::newRow("nothing after") << "none" << 10;
        QTest::newRow("the reserved room after") << "zeros" << 10;
        QTest::newRow("the last record cut short, at every byte") << "torn" << 9;
        QTest::newRow("a byte of the fifth changed, every byte") << "changed" << 4;
        QTest::newRow("an earlier run's records beyond") << "earlier run" << 10;
        QTest::newRow("two records swapped") << "swapped" << 2;
        QTest::newRow("records of another run under this header") << "other salt" << 0;
    }
    void recordsEndAtTheLastWholeOne() {
        QFETCH(QString, damage);
        QFETCH(int, whole);
        QList<qsizetype> starts;
        const QByteArray head = headerWith(7);
        const QByteArray body = frames(1, 10, 7, &starts);
        QList<QByteArray> variants;
        if (damage == u"none")
            variants << head + body;
        if (damage == u"zeros")
            variants << head + body + QByteArray(4096, '\0');
        if (damage == u"torn")
            for (qsizetype cut = starts[9] + 1; cut < body.size(); ++cut)
                variants << head + body.left(cut) + QByteArray(64, '\0');
        if (damage == u"changed")
            for (qsizetype at = starts[4]; at < starts[5]; ++at) {
                QByteArray bad = body;
                bad[at] = char(bad[at] ^ 0x10);
                variants << head + bad;
            }
        if (damage == u"earlier run")
            variants << head + body + frames(11, 40, 9) << head + body + frames(5, 40, 7).mid(3)
                     << head + body + frames(11, 40, 7).mid(starts[1]);
        if (damage == u"swapped")
            variants << head + body.left(starts[2]) + body.mid(starts[3], starts[4] - starts[3]) +
                            body.mid(starts[2], starts[3] - starts[2]) + body.mid(starts[4]);
        if (damage == u"other salt")
            variants << headerWith(8) + body;
        QVERIFY(!variants.isEmpty());
        for (const QByteArray &v : std::as_const(variants))
            QCOMPARE(wholeNumbers(v), range(1, whole));
    }

    // A reading of the meter takes about 23 bytes, never more than 30; texts of any kind
    // come back as they went in.
    void recordsAreSmallAndExact_data() {
        QTest::addColumn<int>("no");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("dcAc");
        QTest::addColumn<QString>("autoText");
        QTest::addColumn<float>("nval");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<int>("atMost");
        QTest::newRow("DC volts") << 1 << "01.234"
                                  << "V"
                                  << "DC"
                                  << "AUTO" << 1234.0f << QTime(0, 0) << 20;
        QTest::newRow("ten thousandth, AC, manual")
            << 10000 << "-0.0012"
            << "mV"
            << "AC"
            << "MANU" << -12.0f << QTime(23, 59, 59, 999) << 26;
        QTest::newRow("ten millionth, overload") << 10000000 << "0L."
                                                 << "M*"
                                                 << ""
                                                 << "AUTO" << 8001.0f << QTime(12, 0) << 27;
        QTest::newRow("a fraction, no time") << 5 << "1.5"
                                             << "k*"
                                             << "DC"
                                             << "AUTO" << 0.25f << QTime() << 22;
        QTest::newRow("minus zero") << 6 << "-0.000"
                                    << "V"
                                    << "DC"
                                    << "AUTO" << -0.0f << QTime(1, 2, 3) << 30;
        QTest::newRow("texts from elsewhere") << -3 << QString(300, u'x') << "\u00b5\u03a9"
                                              << "ac/dc"
                                              << "auto\t" << 1e30f << QTime(5, 6, 7) << 345;
    }
    void recordsAreSmallAndExact() {
        QFETCH(int, no);
        QFETCH(QString, value);
        QFETCH(QString, unit);
        QFETCH(QString, dcAc);
        QFETCH(QString, autoText);
        QFETCH(float, nval);
        QFETCH(QTime, time);
        QFETCH(int, atMost);
        RecordValues in = RecordFixture::record(no, value, unit, dcAc, autoText, time);
        in.nval = nval;
        QByteArray bytes;
        quint32 chain = 42;
        SpoolFormat::encode(bytes, in, &chain);
        QVERIFY2(bytes.size() <= atMost, qPrintable(QString::number(bytes.size())));
        RecordValues out;
        qsizetype next = 0;
        quint32 check = 42;
        QCOMPARE(SpoolFormat::decode(bytes.constData(), bytes.size(), 0, &out, &next, &check),
                 SpoolFormat::Frame::Whole);
        QCOMPARE(next, bytes.size());
        QCOMPARE(check, chain);
        QCOMPARE(out.no, in.no);
        QCOMPARE(out.value, in.value);
        QCOMPARE(out.unit, in.unit);
        QCOMPARE(out.dcAc, in.dcAc);
        QCOMPARE(out.autoText, in.autoText);
        QCOMPARE(out.time, in.time);
        QCOMPARE(std::signbit(out.nval), std::signbit(in.nval));
        QCOMPARE(out.nval, in.nval);
    }

    // The header: every field back as written; a changed byte or another file's start is not
    // taken for one; zeros are a spool in which nothing was secured.
    void headerReadsBackOrNotAtAll() {
        SpoolFormat::Header h;
        h.salt = 0xDEADBEEF;
        h.clearing = true;
        h.device = 0x1122334455667788ull;
        h.file = 99;
        h.storedRows = 1234567;
        h.lastKey = -1;
        const QByteArray bytes = h.encode();
        SpoolFormat::Header back;
        QCOMPARE(SpoolFormat::Header::decode(bytes.constData(), bytes.size(), &back),
                 SpoolFormat::Header::Read::Valid);
        QCOMPARE(back.encode(), bytes);
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            QByteArray bad = bytes;
            bad[at] = char(bad[at] ^ 1);
            QCOMPARE(SpoolFormat::Header::decode(bad.constData(), bad.size(), &back),
                     SpoolFormat::Header::Read::Foreign);
        }
        const QByteArray zeros(100, '\0');
        QCOMPARE(SpoolFormat::Header::decode(zeros.constData(), 0, &back),
                 SpoolFormat::Header::Read::Blank);
        QCOMPARE(SpoolFormat::Header::decode(zeros.constData(), zeros.size(), &back),
                 SpoolFormat::Header::Read::Blank);
        const QByteArray sqlite = QByteArray("SQLite format 3") + QByteArray(100, '\1');
        QCOMPARE(SpoolFormat::Header::decode(sqlite.constData(), sqlite.size(), &back),
                 SpoolFormat::Header::Read::Foreign);
        QCOMPARE(SpoolFormat::Header::decode(bytes.constData(), 40, &back),
                 SpoolFormat::Header::Read::Foreign);

        // Of two slots the newest whole one counts; a rewrite cut short leaves the one before.
        SpoolFormat::Header newer = h;
        ++newer.sequence;
        newer.storedRows = 7;
        const QByteArray blank(SpoolFormat::kHeaderBytes, '\0');
        const QByteArray torn = newer.encode().left(30) + QByteArray(34, '\0');
        const struct {
            QByteArray both;
            SpoolFormat::Header::Read read;
            int slot;
            qint64 storedRows;
        } cases[] = {{bytes + newer.encode(), SpoolFormat::Header::Read::Valid, 1, 7},
                     {newer.encode() + bytes, SpoolFormat::Header::Read::Valid, 0, 7},
                     {bytes + torn, SpoolFormat::Header::Read::Valid, 0, 1234567},
                     {torn + bytes, SpoolFormat::Header::Read::Valid, 1, 1234567},
                     {blank + bytes, SpoolFormat::Header::Read::Valid, 1, 1234567},
                     {blank + blank, SpoolFormat::Header::Read::Blank, -1, 0},
                     {torn + blank, SpoolFormat::Header::Read::Foreign, -1, 0}};
        for (const auto &c : cases) {
            SpoolFormat::Header read;
            int slot = -1;
            QCOMPARE(
                SpoolFormat::Header::decodeSlots(c.both.constData(), c.both.size(), &read, &slot),
                c.read);
            QCOMPARE(slot, c.slot);
            QCOMPARE(read.storedRows, c.storedRows);
        }
    }

    // A run ends without closing its table, with 3 records saved and 4 pending; what the next
    // open does with what it left, as the table is then.
    void whatARunLeftBehind_data() {
        QTest::addColumn<Scenario>("after");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("offered");       // readings in the question; 0: no question
        QTest::addColumn<QString>("aside");     // the name it was set aside under
        QTest::addColumn<QList<int>>("stored"); // after the next Save
        const auto nothing = Scenario([](const QString &) {});
        QTest::newRow("kept") << nothing << true << 4 << "" << range(1, 7);
        QTest::newRow("not kept") << nothing << false << 4 << "" << range(1, 3);
        QTest::newRow("its last record cut short") << Scenario([](const QString &f) {
            // The spool found holds its file open, which Windows does not share for writing.
            const qint64 end = [&] {
                const auto left = LeftSpool::find(f + QStringLiteral("-pending"));
                return left ? qint64(left->content().end) : qint64(-1);
            }();
            QVERIFY(end > 3);
            QFile spool(f + QStringLiteral("-pending"));
            QVERIFY(spool.open(QIODevice::ReadWrite));
            spool.seek(end - 3);
            spool.write(QByteArray(3, '\0'));
        }) << true << 3 << "" << range(1, 6);
        QTest::newRow("a clearing that did not take place") << Scenario([](const QString &f) {
            QFile spool(f + QStringLiteral("-pending"));
            QVERIFY(spool.open(QIODevice::ReadWrite));
            SpoolFormat::Header h;
            int slot = 0;
            const QByteArray head = spool.read(SpoolFormat::kRecordsStart);
            QCOMPARE(SpoolFormat::Header::decodeSlots(head.constData(), head.size(), &h, &slot),
                     SpoolFormat::Header::Read::Valid);
            h.clearing = true;
            ++h.sequence;
            spool.seek(slot == 0 ? SpoolFormat::kHeaderBytes : 0);
            spool.write(h.encode());
        }) << true << 4 << "" << range(1, 7);
        QTest::newRow("the table replaced") << Scenario([](const QString &f) {
            QVERIFY(QFile::copy(f, f + QStringLiteral(".new")));
            QVERIFY(QFile::remove(f));
            QVERIFY(QFile::rename(f + QStringLiteral(".new"), f));
        }) << true << 0 << ".not-this-table" << range(1, 3);
        QTest::newRow("the table saved to elsewhere") << Scenario([](const QString &f) {
            runSql(f, {"INSERT INTO Qm20db (\"No\") VALUES (9)"});
        }) << true << 0 << ".not-this-table" << QList<int>{1, 2, 3, 9};
        QTest::newRow("the table cleared elsewhere")
            << Scenario([](const QString &f) { runSql(f, {"DELETE FROM Qm20db"}); }) << true << 0
            << ".not-this-table" << QList<int>{};
        QTest::newRow("not a spool") << Scenario([](const QString &f) {
            writeFile(f + QStringLiteral("-pending"), QByteArray(200, 'x'));
        }) << true << 0 << ".unreadable"
                                     << range(1, 3);
        QTest::newRow("empty") << Scenario([](const QString &f) {
            writeFile(f + QStringLiteral("-pending"), QByteArray());
        }) << true << 0 << "" << range(1, 3);
        QTest::newRow("zeros") << Scenario([](const QString &f) {
            writeFile(f + QStringLiteral("-pending"), QByteArray(1 << 20, '\0'));
        }) << true << 0 << "" << range(1, 3);
    }
    void whatARunLeftBehind() {
        QFETCH(Scenario, after);
        QFETCH(bool, keep);
        QFETCH(int, offered);
        QFETCH(QString, aside);
        QFETCH(QList<int>, stored);
        QList<LeftRecords> asked;
        {
            RecordTable t;
            open(t, true, &asked);
            recordSevenSavingThree(t);
            killLater(t);
        }
        after(table());
        RecordTable t;
        open(t, keep, &asked);
        QCOMPARE(asked.size(), offered > 0 ? 1 : 0);
        if (offered > 0) {
            QCOMPARE(asked[0].count, offered);
            QCOMPARE(asked[0].first, record(4).time);
            QCOMPARE(asked[0].last, record(3 + offered).time);
        }
        QCOMPARE(t.setAsideNotice().isEmpty(), aside.isEmpty());
        if (!aside.isEmpty()) {
            const QString name = QDir::toNativeSeparators(spool() + aside);
            QVERIFY2(t.setAsideNotice().endsWith(QStringLiteral("set aside as %1.").arg(name)),
                     qPrintable(t.setAsideNotice()));
            QVERIFY(QFile::exists(spool() + aside));
        }
        QCOMPARE(t.recordingRefusal(), QString());
        // Kept: pending again, numbers and times as they were recorded, after the stored ones.
        const int kept = keep ? offered : 0;
        QCOMPARE(t.pendingCount(), kept);
        if (kept > 0) {
            const QList<RecordRow> rows = t.readRows(3, kept);
            QCOMPARE(rows.first().texts[RecordRow::Time], QStringLiteral("10:00:04"));
            QCOMPARE(rows.last().texts[RecordRow::No], QString::number(3 + kept));
        }
        // Recording goes on after them, and the next Save stores each once.
        t.append(record(100));
        t.applyUpdates();
        t.close();
        QCOMPARE(storedNumbers(table()), stored + QList<int>{100});
        // Told once: the next open finds nothing left.
        asked.clear();
        open(t, true, &asked);
        QCOMPARE(asked.size(), 0);
        QCOMPARE(t.setAsideNotice(), QString());
    }

    // A run killed after a save, or after a clearing, but before its spool said so: nothing
    // is offered twice, nothing cleared comes back.
    void saveOrClearingNotNotedYet_data() {
        QTest::addColumn<bool>("clearing");
        QTest::addColumn<QList<int>>("stored");
        QTest::newRow("save") << false << range(1, 7);
        QTest::newRow("clearing") << true << QList<int>{};
    }
    void saveOrClearingNotNotedYet() {
        QFETCH(bool, clearing);
        QFETCH(QList<int>, stored);
        QList<LeftRecords> asked;
        QByteArray left;
        {
            RecordTable t;
            open(t, true, &asked);
            recordSevenSavingThree(t);
            t.securePending();
            QVERIFY(t.waitUntilSecured(5000));
            // The spool as it is when the engine commits: the clearing noted, not yet done.
            WriteBudget::atNextSync([&] { left = readAll(spool()); });
            if (clearing)
                t.empty();
            else
                t.applyUpdates();
            QVERIFY(!left.isEmpty());
            t.close();
        }
        writeFile(spool(), left);
        QCOMPARE(wholeNumbers(left), range(4, 7));
        RecordTable t;
        open(t, true, &asked);
        QCOMPARE(asked.size(), 0);
        QCOMPARE(t.setAsideNotice(), QString());
        QCOMPARE(t.pendingCount(), 0);
        QCOMPARE(shownNumbers(t), stored);
    }

    // Power cuts at any point of a run: only what each file held at its last sync lasts,
    // with any part of the spool's later writes (torn). The table holds the last save (or,
    // cut in the middle of one, the one before); the records offered are the first of those
    // pending, at least all that were pending at the spool's last sync, each once. A run that
    // kept them is cut again, and the next.
    void powerCutKeepsTheLastSaveAndTheSyncedRecords() {
        const quint32 seed = qEnvironmentVariableIsSet("QM_POWER_CUT_SEED")
                                 ? qgetenv("QM_POWER_CUT_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        QRandomGenerator rng(seed);
        const int rounds = qEnvironmentVariableIntValue("QM_POWER_CUT_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("QM_POWER_CUT_ROUNDS")
                               : 30;
        constexpr int kLives = 3;
        int offeredInAll = 0, cutInCommits = 0;
        for (int round = 0; round < rounds; ++round) {
            QString where = QStringLiteral("seed %1, round %2:").arg(seed).arg(round);
            m_dir = std::make_unique<QTemporaryDir>();
            WriteBudget::set(m_dir->path(), -1);
            QList<int> saved;    // as the table holds them after the last save
            QList<int> pending;  // since it
            QList<int> secured;  // pending at the spool's last sync since the last save
            QList<int> before;   // saved before the operation the power went in
            QList<int> inFlight; // pending then
            QList<int> securedBefore;
            bool clearingInFlight = false;
            int next = 1;
            for (int life = 0; life < kLives; ++life) {
                WriteBudget::keepSyncedImages();
                spoolIo().keepSyncedImages();
                RecordTable t;
                QList<LeftRecords> asked;
                open(t, true, &asked);
                if (life > 0) {
                    const QList<int> shown = shownNumbers(t);
                    const QList<int> stored = shown.mid(0, int(t.count() - t.pendingCount()));
                    const QList<int> offered = shown.mid(int(stored.size()));
                    where += QStringLiteral("; saved %1, before %2, stored %3, pending %4, in "
                                            "flight %5, secured %6 / %7, offered %8;")
                                 .arg(saved.size())
                                 .arg(before.size())
                                 .arg(stored.size())
                                 .arg(pending.size())
                                 .arg(inFlight.size())
                                 .arg(secured.size())
                                 .arg(securedBefore.size())
                                 .arg(offered.size());
                    QVERIFY2(t.setAsideNotice().isEmpty(), qPrintable(where + t.setAsideNotice()));
                    QVERIFY2(normal(stored) == normal(saved) || normal(stored) == normal(before),
                             qPrintable(where));
                    // Offered: the first of those pending when the power went (or, in the
                    // middle of a save or a clearing that did not take place, before it), at
                    // least those pending at the spool's last sync. A clearing under way takes
                    // them, done or not: the user asked for it.
                    const bool tookEffect = normal(stored) == normal(saved);
                    const QList<int> &mayOffer = tookEffect ? pending : inFlight;
                    QVERIFY2(normal(offered) == normal(mayOffer.mid(0, offered.size())),
                             qPrintable(where));
                    if (!clearingInFlight)
                        QVERIFY2(offered.size() >= (tookEffect ? secured : securedBefore).size(),
                                 qPrintable(where));
                    offeredInAll += int(offered.size());
                    saved = stored;
                    pending = offered;
                    secured = offered;
                }
                if (life == kLives - 1) {
                    t.applyUpdates();
                    t.close();
                    QCOMPARE(normal(storedNumbers(table())), normal(saved + pending));
                    break;
                }
                const int steps = 1 + int(rng.bounded(12));
                for (int step = 0; step < steps && !WriteBudget::powerWasCut(); ++step) {
                    const int what = int(rng.bounded(10));
                    const bool cutInside = rng.bounded(3) == 0 && step == steps - 1;
                    if (cutInside)
                        WriteBudget::cutPowerAtSync(1 + int(rng.bounded(4)),
                                                    [] { spoolIo().cutPower(); });
                    before = saved;
                    inFlight = pending;
                    securedBefore = secured;
                    clearingInFlight = what == 9;
                    where += u' ' +
                             QLatin1String(what < 5   ? "append"
                                           : what < 7 ? "sync"
                                           : what < 9 ? "save"
                                                      : "clear") +
                             QLatin1String(cutInside ? "(cut)" : "");
                    if (what < 5) {
                        for (int n = 1 + int(rng.bounded(400)); n > 0; --n) {
                            t.append(record(next));
                            pending.append(next++);
                        }
                    } else if (what < 7) {
                        t.securePending();
                        QVERIFY(t.waitUntilSecured(5000));
                        secured = pending;
                    } else if (what < 9) {
                        t.applyUpdates();
                        saved += pending;
                        pending.clear();
                        secured.clear();
                    } else {
                        t.empty();
                        saved.clear();
                        pending.clear();
                        secured.clear();
                    }
                }
                if (WriteBudget::powerWasCut()) {
                    ++cutInCommits;
                } else {
                    before = saved;
                    inFlight = pending;
                    securedBefore = secured;
                    clearingInFlight = false;
                    spoolIo().cutPower();
                }
                // The rest, which never reached the disk, goes with the process.
                WriteBudget::cutPowerAtSync(1);
                t.close();
                WriteBudget::restoreSyncedImages();
                const quint32 tornSeed = rng.generate();
                spoolIo().restoreSyncedImages([&](int, qint64 size) {
                    QRandomGenerator torn(tornSeed + quint32(size));
                    const int kind = int(torn.bounded(3));
                    return kind == 0 ? 0 : kind == 1 ? size : qint64(torn.bounded(int(size) + 1));
                });
            }
        }
        qInfo("%d rounds of %d power cuts, %d cut inside a commit, %d records offered back", rounds,
              kLives - 1, cutInCommits, offeredInAll);
    }

    // A sync that takes its time holds nothing up: appends, saves and clears go on while it
    // waits, and it is asked at most once while one is under way.
    void syncsNeverHoldTheTableUp() {
        QList<LeftRecords> asked;
        RecordTable t;
        open(t, true, &asked);
        spoolIo().holdSyncs(true);
        const int done = spoolIo().syncsDone(spool());
        for (int no = 1; no <= 2000; ++no) {
            t.append(record(no));
            if (no % 500 == 0)
                t.securePending();
        }
        t.applyUpdates();
        t.append(record(1));
        t.securePending();
        QTRY_COMPARE(spoolIo().syncsUnderWay(), 1);
        QCOMPARE(spoolIo().syncsDone(spool()), done);
        QVERIFY(!t.waitUntilSecured(50));
        spoolIo().holdSyncs(false);
        QVERIFY(t.waitUntilSecured(5000));
        // One sync under way, one more for every ask that came meanwhile.
        QCOMPARE(spoolIo().syncsDone(spool()), done + 2);
        QCOMPARE(t.count(), 2001);
    }

    // Records reach the file within a second without being asked to; a sync that fails is
    // told.
    void recordsReachTheDiskByThemselves() {
        QList<LeftRecords> asked;
        RecordTable t;
        open(t, true, &asked);
        QSignalSpy failed(&t, &RecordTable::journalFailed);
        QVERIFY(t.waitUntilSecured(5000));
        const int done = spoolIo().syncsDone(spool());
        t.append(record(1));
        QTRY_VERIFY_WITH_TIMEOUT(spoolIo().syncsDone(spool()) > done, 3000);
        QCOMPARE(wholeNumbers(readAll(spool())), QList<int>{1});
        QCOMPARE(failed.size(), 0);

        spoolIo().failSyncs = true;
        t.append(record(2));
        t.securePending();
        QVERIFY(t.waitUntilSecured(5000));
        t.append(record(3));
        QTRY_VERIFY_WITH_TIMEOUT(failed.size() == 1, 3000);
        QVERIFY2(failed[0][0].toString().startsWith(QDir::toNativeSeparators(spool())) ||
                     failed[0][0].toString().startsWith(spool()),
                 qPrintable(failed[0][0].toString()));
        QVERIFY(failed[0][0].toString().contains(u"Input/output error"));

        // A clearing whose mark the disk fails to take does not go on: after a power cut the
        // spool, as last synced, would offer records back to the table found empty.
        t.applyUpdates();
        QVERIFY_THROWS_EXCEPTION(RecordTable::WriteFailure, t.empty());
        QCOMPARE(t.count(), 3);
        spoolIo().failSyncs = false;
        t.empty();
        QCOMPARE(t.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRecoveryJournal)
#include "tst_recoveryjournal.moc"
