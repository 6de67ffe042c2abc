#include "decodedframe.h"
#include "readingrecorder.h"
#include "recordingrules.h"
#include "recordtable.h"
#include "recordwalk.h"

#include "recordfixture.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>

using Outcome = ReadingRecorder::Outcome;
using RecordFixture::reading;

class TestReadingRecorder : public QObject {
    Q_OBJECT

    std::optional<ReadingRecorder> recorder;
    ReadingRecorder::Options options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordTable> m_table;
    int m_serial = 0;

    Outcome offer(const RecordValues &r) {
        return recorder->offer(options, r, *m_table, QTime(10, 20, 30));
    }
    /// A reading unlike every earlier one.
    Outcome offerNew() { return offer(reading(QString::number(++m_serial))); }

    QStringList storedNumbers() {
        QStringList out;
        for (const RecordRow &r : m_table->rows(0, int(m_table->count())))
            out.append(r.texts[RecordRow::No]);
        return out;
    }

private slots:
    void init() {
        recorder.emplace();
        options = ReadingRecorder::Options();
        options.intervalSeconds = 10;
        m_dir = std::make_unique<QTemporaryDir>();
        m_table = std::make_unique<RecordTable>();
        m_table->open(m_dir->filePath(QStringLiteral("Qm20db.db")),
                      RecordTable::OpenMode::CreateIfMissing);
    }
    void cleanup() { m_table.reset(); }

    void storesTheFieldsOfTheReading() {
        RecordValues r = reading(QStringLiteral("-0.0L"), QStringLiteral("k*"), QString(),
                                 QStringLiteral("MANU"));
        r.nval = -8001.0f;
        QCOMPARE(offer(r), Outcome::Stored);
        QCOMPARE(recorder->RecordNo(), 2);
        QCOMPARE(recorder->RecordedCount(), 1);
        QCOMPARE(recorder->LastRecordKey(), QStringLiteral("-0.0Lk*MANU"));
        const RecordRow row = m_table->rows(0, 1).value(0);
        QCOMPARE(row.texts, (std::array<QString, 6>{"1", "10:20:30", "", "-0.0L", "k*", "MANU"}));
        RecordWalk walk(*m_table);
        QVERIFY(walk.next());
        QCOMPARE(walk.value(RecordWalk::Nval).toDouble(), -8001.0);
    }

    // A fresh recorder numbers from 1 under the start limit; a frame gives its texts and
    // value, and the recorder its number and time.
    void startAndTheFramesRecord() {
        QCOMPARE(recorder->RecordNo(), 1);
        QCOMPARE(recorder->RecordLimit(), RecordingRules::kStartLimit);
        QCOMPARE(recorder->RecordedCount(), 0);
        DecodedFrame frame;
        frame.valueText = QStringLiteral("-12.34");
        frame.readingNval = -1234.0f;
        frame.acDcText = QStringLiteral("AC");
        frame.unitText = QStringLiteral("mV");
        frame.autoText = QStringLiteral("MANU");
        QCOMPARE(offer(ReadingRecorder::readingOf(frame)), Outcome::Stored);
        const RecordRow row = m_table->rows(0, 1).value(0);
        QCOMPARE(row.texts,
                 (std::array<QString, 6>{"1", "10:20:30", "AC", "-12.34", "mV", "MANU"}));
        RecordWalk walk(*m_table);
        QVERIFY(walk.next());
        QCOMPARE(walk.value(RecordWalk::Nval).toDouble(), -1234.0);
    }

    void limitStoresExactlyTheLimit() {
        recorder->setRecordLimit(1000);
        int stored = 0;
        for (int i = 0; i < 1100; ++i)
            stored += offerNew() == Outcome::Stored;
        QCOMPARE(stored, 1000);
        QCOMPARE(m_table->count(), 1000);
        QCOMPARE(recorder->RecordedCount(), 1000);
        QCOMPARE(recorder->RecordNo(), 1001);
        QCOMPARE(offerNew(), Outcome::OverLimit);

        // A higher limit lets recording go on without a gap in the numbers.
        recorder->setRecordLimit(10000);
        QCOMPARE(offerNew(), Outcome::Stored);
        QStringList numbers = storedNumbers();
        QCOMPARE(numbers.size(), 1001);
        for (int i = 0; i < numbers.size(); ++i)
            QCOMPARE(numbers[i], QString::number(i + 1));

        // Lowering the limit below what is recorded stops at once; a clear starts afresh.
        recorder->setRecordLimit(1000);
        QCOMPARE(offerNew(), Outcome::OverLimit);
        recorder->restartNumbering();
        QCOMPARE(recorder->RecordNo(), 1);
        QCOMPARE(recorder->RecordedCount(), 0);
        QCOMPARE(offerNew(), Outcome::Stored);
        QCOMPARE(storedNumbers().last(), QStringLiteral("1"));
    }

    void repeatFilter_data() {
        QTest::addColumn<bool>("repeatSet");
        QTest::addColumn<QStringList>("readings"); // value|unit|dcac|auto
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("steady reading once")
            << true << QStringList{"1|V|DC|AUTO", "1|V|DC|AUTO", "1|V|DC|AUTO"} << QStringList{"1"};
        QTest::newRow("each part counts")
            << true << QStringList{"1|V|DC|AUTO",  "2|V|DC|AUTO",  "2|mV|DC|AUTO",
                                   "2|mV|AC|AUTO", "2|mV|AC|MANU", "2|mV|AC|MANU"}
            << QStringList{"1", "2", "2", "2", "2"};
        QTest::newRow("return to an earlier value")
            << true << QStringList{"1|V|DC|AUTO", "2|V|DC|AUTO", "1|V|DC|AUTO"}
            << QStringList{"1", "2", "1"};
        QTest::newRow("case matters")
            << true << QStringList{"1|mV|DC|AUTO", "1|MV|DC|AUTO"} << QStringList{"1", "1"};
        QTest::newRow("filter off")
            << false << QStringList{"1|V|DC|AUTO", "1|V|DC|AUTO"} << QStringList{"1", "1"};
    }

    void repeatFilter() {
        QFETCH(bool, repeatSet);
        QFETCH(QStringList, readings);
        QFETCH(QStringList, stored);
        options.repeatFilter = repeatSet;
        for (const QString &r : readings) {
            const QStringList p = r.split(u'|');
            offer(reading(p[0], p[1], p[2], p[3]));
        }
        QStringList values;
        for (const RecordRow &row : m_table->rows(0, 100))
            values.append(row.texts[RecordRow::Value]);
        QCOMPARE(values, stored);
    }

    void repeatFilterSurvivesAClear() {
        QCOMPARE(offer(reading(QStringLiteral("5"))), Outcome::Stored);
        m_table->empty();
        recorder->restartNumbering();
        QCOMPARE(offer(reading(QStringLiteral("5"))), Outcome::Repeated);
        QCOMPARE(offer(reading(QStringLiteral("6"))), Outcome::Stored);
        QCOMPARE(storedNumbers(), QStringList{"1"});
    }

    void intervalCountdown() {
        options.intervalOn = true;
        options.intervalSeconds = 10;
        // The countdown starts at 0: the first reading goes in at once.
        QCOMPARE(offerNew(), Outcome::Stored);
        QCOMPARE(recorder->SampleCountdown(), 10);
        for (int tick = 1; tick < 10; ++tick) {
            recorder->tick(true);
            QCOMPARE(offerNew(), Outcome::Waiting);
        }
        recorder->tick(true);
        QCOMPARE(recorder->SampleCountdown(), 0);
        QCOMPARE(offerNew(), Outcome::Stored);
        QCOMPARE(m_table->count(), 2);

        // The countdown stands still while the interval is off, and never goes below 0.
        recorder->tick(false);
        QCOMPARE(recorder->SampleCountdown(), 10);
        for (int tick = 0; tick < 11; ++tick)
            recorder->tick(true);
        QCOMPARE(recorder->SampleCountdown(), 0);
    }

    void intervalText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << "" << 0 << true;
        QTest::newRow("plus") << "+" << 0 << true;
        QTest::newRow("minus") << "-" << 0 << true;
        QTest::newRow("number") << "10" << 10 << true;
        QTest::newRow("leading zeros") << "007" << 7 << true;
        QTest::newRow("letters") << "1a" << 0 << false;
        QTest::newRow("two minus") << "--1" << 0 << false;
        QTest::newRow("too large") << "99999999999" << 0 << false;
        QTest::newRow("blank") << " 5" << 0 << false;
        QTest::newRow("negative") << "-3" << 0 << false;
    }

    void intervalText() {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        QFETCH(bool, valid);
        recorder->intervalChanged(QStringLiteral("42"));
        try {
            QCOMPARE(recorder->intervalChanged(text), seconds);
            QVERIFY(valid);
            QCOMPARE(recorder->SampleCountdown(), seconds);
        } catch (const std::exception &e) {
            QVERIFY(!valid);
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(
                         QStringLiteral("'%1' is not a valid ").arg(text)),
                     e.what());
            QCOMPARE(recorder->SampleCountdown(), 42);
        }
    }

    // A reading that is not stored changes nothing: not the count under the limit, not the
    // number, not the repeat key, not the countdown.
    void refusalCostsNothing_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("throws");
        QTest::newRow("closed table") << "closed" << false;
        QTest::newRow("value refused by the table") << "strict" << true;
    }
    void refusalCostsNothing() {
        QFETCH(QString, table);
        QFETCH(bool, throws);
        // One reading stored before, with no wait after it.
        options.intervalSeconds = 0;
        QCOMPARE(offer(reading(QStringLiteral("before"))), Outcome::Stored);
        if (table == u"strict") {
            const QString path = m_dir->filePath(QStringLiteral("strict.db"));
            runSql(path, {"CREATE TABLE strict (\"Not\" INTEGER PRIMARY KEY, \"No\" INTEGER, "
                          "\"Time\" TEXT, \"DC/AC\" TEXT, \"Value\" TEXT CHECK (\"Value\" <> "
                          "'BAD'), \"Unit\" TEXT, \"AUTO\" TEXT, \"Nval\" REAL)"});
            m_table->open(path, RecordTable::OpenMode::MustExist);
        } else {
            m_table->close();
        }
        options.intervalOn = true;
        options.intervalSeconds = 10;
        if (throws)
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, offer(reading(QStringLiteral("BAD"))));
        else
            QCOMPARE(offer(reading(QStringLiteral("BAD"))), Outcome::NoTable);
        QCOMPARE(recorder->RecordedCount(), 1);
        QCOMPARE(recorder->RecordNo(), 2);
        QCOMPARE(recorder->LastRecordKey(), QStringLiteral("beforeDCVAUTO"));
        QCOMPARE(recorder->SampleCountdown(), 0);
        // The strict table is a new one; nothing reached it.
        QCOMPARE(m_table->isOpen() ? m_table->count() : 0, 0);
    }

    // Refusals for longer than the headroom to the limit (a disk full for hours) leave the
    // whole limit to the readings stored afterwards, and a steady reading that was refused is
    // stored once it can be.
    void refusalsLeaveTheLimitWhole() {
        recorder->setRecordLimit(20);
        QList<int> stored;
        bool full = false;
        const ReadingRecorder::Store store = [&](const RecordValues &record) {
            if (full)
                throw std::runtime_error("database or disk is full");
            stored << record.no;
        };
        auto offerTo = [&](const QString &value) {
            return recorder->offer(options, reading(value), QTime(10, 0), store);
        };
        for (int i = 1; i <= 15; ++i)
            QCOMPARE(offerTo(QString::number(i)), Outcome::Stored);
        full = true;
        for (int i = 0; i < 30; ++i)
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, offerTo(QStringLiteral("7.7")));
        full = false;
        QCOMPARE(offerTo(QStringLiteral("7.7")), Outcome::Stored);
        QCOMPARE(offerTo(QStringLiteral("7.7")), Outcome::Repeated);
        for (int i = 100; offerTo(QString::number(i)) == Outcome::Stored; ++i) {
        }
        QCOMPARE(stored, oneTo(20));
    }
};

QTEST_GUILESS_MAIN(TestReadingRecorder)
#include "tst_readingrecorder.moc"
