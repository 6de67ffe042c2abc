#include "datareport.h"
#include "pdfexport.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "rowspillfile.h"

#include <QTemporaryDir>
#include <QTest>

#include "recordfixture.h"
#include "reportfixture.h"

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

RecordValues recordFor(int i) {
    return RecordFixture::record(i + 1, QString::number(i * 0.5, 'f', 3), QStringLiteral("mV"),
                                 i % 2 ? QStringLiteral("AC") : QStringLiteral("DC"),
                                 QStringLiteral("AUTO"), QTime(9, 0).addSecs(i));
}

QList<RecordRow> allRows(const ReportRowSource &source) {
    return source.rows(0, int(source.count()));
}

bool sameRows(const QList<RecordRow> &a, const QList<RecordRow> &b) {
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (a[i].texts != b[i].texts)
            return false;
    return true;
}

} // namespace

class TestRecordTableSource : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordTable> m_table;

    void fill(int from, int to) {
        for (int i = from; i < to; ++i)
            m_table->append(recordFor(i));
    }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_table = std::make_unique<RecordTable>();
        m_table->open(m_dir->filePath(QStringLiteral("Qm20db.db")),
                      RecordTable::OpenMode::CreateIfMissing);
    }
    void cleanup() {
        m_table.reset();
        m_dir.reset();
    }

    /// What happens to the table after the report was built, and the report's pages after it.
    void reportKeepsItsRecords_data() {
        QTest::addColumn<std::function<void(RecordTable &, const QString &)>>("change");
        QTest::addColumn<bool>("detaches");
        using Change = std::function<void(RecordTable &, const QString &)>;
        QTest::newRow("readings appended") << Change([](RecordTable &t, const QString &) {
            for (int i = 0; i < 50; ++i)
                t.append(recordFor(1000 + i));
        }) << false;
        QTest::newRow("saved") << Change([](RecordTable &t, const QString &) { t.applyUpdates(); })
                               << false;
        QTest::newRow("emptied") << Change([](RecordTable &t, const QString &) { t.empty(); })
                                 << true;
        QTest::newRow("another file opened") << Change([](RecordTable &t, const QString &dir) {
            t.open(dir + QStringLiteral("/other.db"), RecordTable::OpenMode::CreateIfMissing);
        }) << true;
        QTest::newRow("closed") << Change([](RecordTable &t, const QString &) { t.close(); })
                                << true;
    }
    void reportKeepsItsRecords() {
        QFETCH(std::function<void(RecordTable &, const QString &)>, change);
        QFETCH(bool, detaches);
        fill(0, 600);
        auto source = std::make_shared<RecordTableSource>(*m_table);
        const DataReport report(source);
        const QString before = m_dir->filePath(QStringLiteral("before.pdf"));
        PdfExport::write(report, before);
        const QList<RecordRow> rows = allRows(*source);

        change(*m_table, m_dir->path());

        QCOMPARE(source->isDetached(), detaches);
        QCOMPARE(source->count(), 600);
        QCOMPARE(report.pageCount(), 17);
        QVERIFY(sameRows(allRows(*source), rows));
        const QString after = m_dir->filePath(QStringLiteral("after.pdf"));
        PdfExport::write(report, after);
        bool missing = false;
        const QStringList pagesBefore = ReportFixture::pdfPages(before, &missing);
        if (missing)
            QSKIP("pdftotext (poppler-utils) is not installed; ./qm.sh test installs it");
        QCOMPARE(pagesBefore.size(), 17);
        QCOMPARE(ReportFixture::pdfPages(after), pagesBefore);
    }

    void closedTableCannotBeReported() {
        m_table->close();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, RecordTableSource source(*m_table));
    }

    /// The copy kept on disk gives back any window, across its index's strides.
    void spillFileWindows_data() {
        QTest::addColumn<qint64>("first");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("expected");
        QTest::newRow("start") << qint64(0) << 37 << 37;
        QTest::newRow("across a stride") << qint64(RowSpillFile::kStride - 5) << 37 << 37;
        QTest::newRow("on a stride") << qint64(2 * RowSpillFile::kStride) << 300 << 300;
        QTest::newRow("tail") << qint64(990) << 37 << 10;
        QTest::newRow("past the end") << qint64(1000) << 1 << 0;
    }
    void spillFileWindows() {
        QFETCH(qint64, first);
        QFETCH(int, n);
        QFETCH(int, expected);
        RowSpillFile spill;
        for (int i = 0; i < 1000; ++i)
            spill.append(ReportFixture::row(i));
        QCOMPARE(spill.count(), 1000);
        const QList<RecordRow> rows = spill.rows(first, n);
        QCOMPARE(rows.size(), expected);
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i].texts, ReportFixture::row(first + i).texts);
        // Records appended after a read still go to the end.
        for (int i = 1000; i < 1010; ++i)
            spill.append(ReportFixture::row(i));
        const QList<RecordRow> tail = spill.rows(995, 20);
        QCOMPARE(tail.size(), 15);
        for (int i = 0; i < tail.size(); ++i)
            QCOMPARE(tail[i].texts, ReportFixture::row(995 + i).texts);
    }
};

QTEST_MAIN(TestRecordTableSource)
#include "tst_recordtablesource.moc"
