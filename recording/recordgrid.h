#pragma once

#include <QWidget>

class QHeaderView;
class QScrollBar;
class QTableView;
class RecordTableModel;

/// The read-only grid over the record table: the six columns with their widths, alignments
/// and fonts, whole-row selection that stays visible without focus, the record indicator
/// beside the current row, and the newest record made the current row as soon as it is
/// appended.
///
/// The table view inside holds only the rows that fit on screen; the grid's own scroll bar
/// moves that window over the whole table. A view given every row keeps per-row layout
/// that it recomputes on each insertion, so an append would cost more the longer the table
/// grew; here it costs the same at a million records as at none.
class RecordGrid : public QWidget {
    Q_OBJECT

public:
    static constexpr int kColumnWidths[] = {42, 53, 37, 52, 39, 36};
    static constexpr int kRowHeight = 18;

    explicit RecordGrid(QWidget *parent = nullptr);
    ~RecordGrid() override;

    void setRecordModel(RecordTableModel *model);
    RecordTableModel *recordModel() const { return m_source; }

    /// Table row of the current record, -1 when there is none.
    int currentRow() const { return m_current; }
    /// Makes `row` current and scrolls it into view.
    void setCurrentRow(int row);
    /// Makes the last record the current row (after an export walked the table).
    void showLastRecord();
    /// Table row that the record indicator in the left column marks, -1 when none shows.
    int indicatorRow() const;
    /// Table row shown at the top.
    int topRow() const { return m_top; }
    /// Rows that fit on screen.
    int visibleRows() const { return m_visibleRows; }

    QTableView *view() const { return m_view; }
    QScrollBar *scrollBar() const { return m_scrollBar; }

    /// The font a column's cells are drawn in: Arial, or the LCD symbol font for the unit
    /// and the ranging because their texts are that font's letter codes.
    static QFont columnFont(int column);
    static QFont titleFont();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class WindowModel;

    void layoutChildren();
    void setTop(int top);
    void syncWindow();
    void onSourceReset();
    void onSourceRowsInserted(const QModelIndex &parent, int first, int last);
    void onViewCurrentChanged(const QModelIndex &current);

    RecordTableModel *m_source = nullptr;
    WindowModel *m_window = nullptr;
    QTableView *m_view = nullptr;
    QScrollBar *m_scrollBar = nullptr;
    QHeaderView *m_indicator = nullptr;
    int m_top = 0;
    int m_current = -1;
    int m_visibleRows = 1;
    bool m_syncing = false;
};
