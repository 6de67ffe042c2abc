#pragma once

#include "recordrow.h"

#include <QAbstractTableModel>
#include <QList>

#include <vector>

class RecordTable;

/// Read-only item model over a RecordTable for the grid: six columns (No, Time, DC/AC,
/// Value, Unit, AUTO), rows fetched from the table in pages of kPageRows when a view asks
/// for them, a handful of pages kept. The row count lives in memory, so an appended record
/// costs one row insertion whatever the size of the table.
class RecordTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kPageRows = 128;
    static constexpr int kCachedPages = 8;

    explicit RecordTableModel(RecordTable *table, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    /// Alignment of a column's texts in the grid.
    static Qt::Alignment columnAlignment(int column);

private:
    struct Page {
        qint64 index = -1;
        QList<RecordRow> rows;
    };

    const RecordRow *rowAt(int row) const;
    void onAboutToReset();
    void onReset();
    void onAppended(qint64 row);

    RecordTable *m_table;
    int m_rows = 0;
    mutable std::vector<Page> m_pages; // most recently used first
};
