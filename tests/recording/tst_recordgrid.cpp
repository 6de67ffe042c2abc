#include "recordgrid.h"
#include "recordtable.h"
#include "recordtablemodel.h"

#include <QHeaderView>
#include <QImage>
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
            QCOMPARE(grid.indicatorRow(), i - 1);
        }
        // The indicator is drawn in the left column beside the current row, and only there.
        {
            QHeaderView *left = view->verticalHeader();
            const QImage column = left->grab().toImage();
            const int marked = grid.currentRow() - grid.topRow();
            auto darkPixels = [&](int section) {
                const int top = std::max(0, left->sectionViewportPosition(section));
                const int bottom =
                    std::min(column.height(),
                             left->sectionViewportPosition(section) + left->sectionSize(section));
                int dark = 0;
                for (int y = top; y < bottom; ++y)
                    for (int x = 0; x < column.width(); ++x)
                        dark += qGray(column.pixel(x, y)) < 80;
                return dark;
            };
            QVERIFY2(darkPixels(marked) >= 6, qPrintable(QString::number(darkPixels(marked))));
            for (int other = 0; other < marked; ++other)
                QCOMPARE(darkPixels(other), 0);
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
        QCOMPARE(grid.indicatorRow(), 21);

        grid.showLastRecord();
        QCOMPARE(grid.currentRow(), 39);
        QCOMPARE(shownNumber(grid), QStringLiteral("40"));

        // Emptying the table empties the grid.
        table.empty();
        QCOMPARE(view->model()->rowCount(), 0);
        QCOMPARE(grid.currentRow(), -1);
        QCOMPARE(grid.indicatorRow(), -1);
        QCOMPARE(grid.scrollBar()->maximum(), 0);
    }
};

QTEST_MAIN(TestRecordGrid)
#include "tst_recordgrid.moc"
