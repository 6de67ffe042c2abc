#include "recordtable.h"
#include "recordtablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "recordfixture.h"

namespace {

RecordValues reading(int no) {
    return RecordFixture::record(no, QString::number(no), QStringLiteral("mV"),
                                 QStringLiteral("AC"), QStringLiteral("MANU"), QTime(8, 0, 1));
}

} // namespace

class TestRecordTableModel : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_table = std::make_unique<RecordTable>();
        m_table->open(m_dir->filePath(QStringLiteral("Qm20db.db")),
                      RecordTable::OpenMode::CreateIfMissing);
        m_model = std::make_unique<RecordTableModel>(m_table.get());
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    void cleanup() {
        m_tester.reset();
        m_model.reset();
        m_table.reset();
    }

    void appendedRowsAppearAtOnceAcrossPages() {
        QSignalSpy inserted(m_model.get(), &QAbstractItemModel::rowsInserted);
        const int n = 3 * RecordTableModel::kPageRows + 5;
        for (int i = 1; i <= n; ++i) {
            m_table->append(reading(i));
            // The newest row is readable right away, although its page was read before.
            QCOMPARE(m_model->rowCount(), i);
            QCOMPARE(m_model->index(i - 1, 0).data().toString(), QString::number(i));
        }
        QCOMPARE(inserted.count(), n);
        QCOMPARE(inserted.last().at(1).toInt(), n - 1);
        QCOMPARE(inserted.last().at(2).toInt(), n - 1);
        // Rows far apart, so pages are evicted and read again.
        for (int row : {0, n - 1, RecordTableModel::kPageRows, 1, n / 2, 0})
            QCOMPARE(m_model->index(row, RecordRow::Value).data().toString(),
                     QString::number(row + 1));
        const QModelIndex cell = m_model->index(4, 0);
        QCOMPARE(m_model->index(4, RecordRow::Time).data().toString(), QStringLiteral("08:00:01"));
        QCOMPARE(m_model->index(4, RecordRow::DcAc).data().toString(), QStringLiteral("AC"));
        QCOMPARE(m_model->index(4, RecordRow::Unit).data().toString(), QStringLiteral("mV"));
        QCOMPARE(m_model->index(4, RecordRow::Auto).data().toString(), QStringLiteral("MANU"));
        QVERIFY(!(m_model->flags(cell) & Qt::ItemIsEditable));
    }

    void titlesAndAlignments() {
        const QStringList titles{"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
        QCOMPARE(m_model->columnCount(), titles.size());
        for (int c = 0; c < titles.size(); ++c)
            QCOMPARE(m_model->headerData(c, Qt::Horizontal).toString(), titles[c]);
        m_table->append(reading(1));
        auto align = [&](int c) {
            return m_model->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                   Qt::AlignHorizontal_Mask;
        };
        QCOMPARE(align(RecordRow::No), Qt::AlignLeft);
        QCOMPARE(align(RecordRow::Time), Qt::AlignHCenter);
        QCOMPARE(align(RecordRow::DcAc), Qt::AlignHCenter);
        QCOMPARE(align(RecordRow::Value), Qt::AlignRight);
        QCOMPARE(align(RecordRow::Unit), Qt::AlignRight);
        QCOMPARE(align(RecordRow::Auto), Qt::AlignHCenter);
    }

    void resetsFollowEmptyCloseAndOpen() {
        for (int i = 1; i <= 10; ++i)
            m_table->append(reading(i));
        m_table->applyUpdates();
        m_table->append(reading(11));
        QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
        QCOMPARE(m_model->index(10, 0).data().toString(), QStringLiteral("11"));

        m_table->close();
        QCOMPARE(resets.count(), 1);
        QCOMPARE(m_model->rowCount(), 0);

        m_table->open(m_dir->filePath(QStringLiteral("Qm20db.db")),
                      RecordTable::OpenMode::CreateIfMissing);
        QCOMPARE(resets.count(), 2);
        QCOMPARE(m_model->rowCount(), 10);
        QCOMPARE(m_model->index(9, 0).data().toString(), QStringLiteral("10"));

        m_table->empty();
        QCOMPARE(resets.count(), 3);
        QCOMPARE(m_model->rowCount(), 0);
        m_table->append(reading(1));
        QCOMPARE(m_model->index(0, 0).data().toString(), QStringLiteral("1"));
    }

    void failedOpenLeavesAnEmptyModel() {
        m_table->append(reading(1));
        try {
            m_table->open(m_dir->filePath(QStringLiteral("nothing.db")),
                          RecordTable::OpenMode::MustExist);
            QFAIL("a missing file must not open");
        } catch (const std::exception &) {
        }
        QCOMPARE(m_model->rowCount(), 0);
        QVERIFY(!m_model->index(0, 0).isValid());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordTable> m_table;
    std::unique_ptr<RecordTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

QTEST_GUILESS_MAIN(TestRecordTableModel)
#include "tst_recordtablemodel.moc"
