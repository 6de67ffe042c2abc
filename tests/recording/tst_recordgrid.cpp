#include "keycharfilter.h"
#include "recordgrid.h"
#include "recordingrules.h"
#include "recordtable.h"
#include "recordtablemodel.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

/// The No shown in the inner view's current row, checking that row is fully in view.
QString shownNumber(const RecordGrid &grid) {
    const QModelIndex current = grid.view()->currentIndex();
    if (!current.isValid() || !grid.view()->selectionModel()->isRowSelected(current.row(), {}))
        return QStringLiteral("<no current row>");
    const QRect cell = grid.view()->visualRect(current);
    if (!grid.view()->viewport()->rect().contains(cell))
        return QStringLiteral("<current row out of view>");
    return grid.view()->model()->index(current.row(), 0).data().toString();
}

} // namespace

class TestRecordGrid : public QObject {
    Q_OBJECT

private slots:
    void columnsAndCurrentRow() {
        QTemporaryDir dir;
        RecordTable table;
        table.open(dir.filePath(QStringLiteral("Qm20db.db")),
                   RecordTable::OpenMode::CreateIfMissing);
        RecordTableModel model(&table);
        RecordGrid grid;
        grid.setRecordModel(&model);
        grid.resize(299, 145);
        grid.show();
        QTableView *view = grid.view();

        const int widths[] = {42, 53, 37, 52, 39, 36};
        for (int c = 0; c < 6; ++c)
            QCOMPARE(view->columnWidth(c), widths[c]);
        QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(view->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Value"));
        for (int c : {RecordRow::No, RecordRow::Time, RecordRow::DcAc, RecordRow::Value})
            QCOMPARE(RecordGrid::columnFont(c).family(), QStringLiteral("Arial"));
        for (int c : {RecordRow::Unit, RecordRow::Auto})
            QCOMPARE(RecordGrid::columnFont(c).family(), QStringLiteral("LCDSEG-7"));
        QCOMPARE(RecordGrid::columnFont(0).pixelSize(), 12);
        QCOMPARE(view->horizontalHeader()->font().pixelSize(), 11);
        QVERIFY(grid.visibleRows() >= 4);

        // A column the user widened keeps its width while records arrive.
        view->setColumnWidth(RecordRow::Value, 70);
        // Each appended record becomes the current row and is in view, also past the rows
        // that fit.
        for (int i = 1; i <= 40; ++i) {
            RecordValues v;
            v.no = i;
            v.value = QString::number(i);
            table.append(v);
            QCOMPARE(grid.currentRow(), i - 1);
            QCOMPARE(shownNumber(grid), QString::number(i));
        }
        QCOMPARE(view->columnWidth(RecordRow::Value), 70);
        QVERIFY(view->model()->rowCount() <= grid.visibleRows());
        QCOMPARE(grid.scrollBar()->maximum(), 40 - grid.visibleRows());
        QCOMPARE(grid.scrollBar()->value(), grid.scrollBar()->maximum());

        // Keys move the current row through the whole table, scrolling as needed.
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(grid.currentRow(), 0);
        QCOMPARE(grid.topRow(), 0);
        QCOMPARE(shownNumber(grid), QStringLiteral("1"));
        QTest::keyClick(view, Qt::Key_PageDown);
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(grid.currentRow(), grid.visibleRows());
        QCOMPARE(shownNumber(grid), QString::number(grid.visibleRows() + 1));
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(grid.currentRow(), grid.visibleRows() - 1);

        // Scrolling away keeps the current record; a click picks the row under the mouse.
        grid.scrollBar()->setValue(20);
        QCOMPARE(grid.topRow(), 20);
        QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("21"));
        QCOMPARE(grid.currentRow(), grid.visibleRows() - 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(1, 0)).center());
        QCOMPARE(grid.currentRow(), 21);

        grid.showLastRecord();
        QCOMPARE(grid.currentRow(), 39);
        QCOMPARE(shownNumber(grid), QStringLiteral("40"));

        // Emptying the table empties the grid.
        table.empty();
        QCOMPARE(view->model()->rowCount(), 0);
        QCOMPARE(grid.currentRow(), -1);
        QCOMPARE(grid.scrollBar()->maximum(), 0);
    }

    void keyFilterKeepsDigitsAndBackspace() {
        QLineEdit edit;
        edit.installEventFilter(new KeyCharFilter(
            [](QObject *, QChar &key) {
                if (!RecordingRules::isIntervalKey(key))
                    key = QChar();
            },
            &edit));
        edit.show();
        QTest::keyClicks(&edit, QStringLiteral("1a-2 +.3"));
        QCOMPARE(edit.text(), QStringLiteral("123"));
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("12"));
        QTest::keyClick(&edit, Qt::Key_Left);
        QTest::keyClick(&edit, Qt::Key_Delete);
        QCOMPARE(edit.text(), QStringLiteral("1"));
    }
};

QTEST_MAIN(TestRecordGrid)
#include "tst_recordgrid.moc"
