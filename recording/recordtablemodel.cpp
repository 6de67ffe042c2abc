#include "recordtablemodel.h"

#include "recordtable.h"

#include <algorithm>

RecordTableModel::RecordTableModel(RecordTable *table, QObject *parent)
    : QAbstractTableModel(parent), m_table(table) {
    connect(table, &RecordTable::aboutToReset, this, &RecordTableModel::onAboutToReset);
    connect(table, &RecordTable::reset, this, &RecordTableModel::onReset);
    connect(table, &RecordTable::appended, this, &RecordTableModel::onAppended);
    m_rows = table->isOpen() ? static_cast<int>(table->count()) : 0;
}

int RecordTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int RecordTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : RecordRow::ColumnCount;
}

QVariant RecordTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows || index.column() >= RecordRow::ColumnCount)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(index.column()));
    if (role != Qt::DisplayRole)
        return QVariant();
    const RecordRow *row = rowAt(index.row());
    return row ? QVariant(row->texts[index.column()]) : QVariant();
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return RecordRow::fieldName(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

Qt::Alignment RecordTableModel::columnAlignment(int column) {
    switch (column) {
    case RecordRow::Time:
    case RecordRow::DcAc:
    case RecordRow::Auto:
        return Qt::AlignCenter;
    case RecordRow::Value:
    case RecordRow::Unit:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

const RecordRow *RecordTableModel::rowAt(int row) const {
    const qint64 pageIndex = row / kPageRows;
    const int offset = row % kPageRows;
    auto found = std::find_if(m_pages.begin(), m_pages.end(),
                              [pageIndex](const Page &p) { return p.index == pageIndex; });
    if (found == m_pages.end()) {
        Page page;
        page.index = pageIndex;
        page.rows = m_table->rows(pageIndex * kPageRows, kPageRows);
        if (m_pages.size() >= static_cast<std::size_t>(kCachedPages))
            m_pages.pop_back();
        m_pages.insert(m_pages.begin(), std::move(page));
    } else {
        std::rotate(m_pages.begin(), found, found + 1);
    }
    Page &page = m_pages.front();
    if (offset >= page.rows.size()) {
        // Read before the newest records were appended: only the new tail is read now.
        const qint64 have = page.rows.size();
        page.rows += m_table->rows(pageIndex * kPageRows + have, kPageRows - int(have));
    }
    return offset < page.rows.size() ? &page.rows[offset] : nullptr;
}

void RecordTableModel::onAboutToReset() {
    beginResetModel();
}

void RecordTableModel::onReset() {
    m_pages.clear();
    m_rows = m_table->isOpen() ? static_cast<int>(m_table->count()) : 0;
    endResetModel();
}

void RecordTableModel::onAppended(qint64 row) {
    beginInsertRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
    m_rows = static_cast<int>(row) + 1;
    endInsertRows();
}
