#include "tablesink.h"

#include "logrecord.h"

TableSink::TableSink(const QString &path) {
    m_table.open(path, RecordTable::OpenMode::CreateIfMissing);
}

void TableSink::write(const LogRecord &record) {
    m_table.append(record.values);
    m_pending = true;
}

void TableSink::commit() {
    if (!m_pending)
        return;
    m_table.applyUpdates();
    m_pending = false;
}

QString TableSink::describe() const {
    return m_table.fileName();
}
