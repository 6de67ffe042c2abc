#include "tablesink.h"

#include "logrecord.h"

#include <stdexcept>

TableSink::TableSink(const QString &path) {
    m_table.open(path, RecordTable::OpenMode::CreateIfMissing, [this](const LeftRecords &left) {
        m_notices << QStringLiteral("%1 readings that an earlier run left unsaved (from %2 to "
                                    "%3) are kept and committed with this run's")
                         .arg(left.count)
                         .arg(RecordValues::storedTime(left.first),
                              RecordValues::storedTime(left.last));
        m_pending = true;
        return true;
    });
    if (const QString setAside = m_table.setAsideNotice(); !setAside.isEmpty())
        m_notices << setAside;
    // A run that could record nothing ends at once rather than after its first reading.
    if (const QString refusal = m_table.recordingRefusal(); !refusal.isEmpty())
        throw std::runtime_error(refusal.toStdString());
}

void TableSink::write(const LogRecord &record) {
    m_table.append(record.values);
    m_pending = true;
}

void TableSink::commit() {
    // Also with nothing new: records committed before into a file that has since been
    // removed or replaced are not in the file the run names.
    if (!m_pending) {
        m_table.requireAtPath();
        return;
    }
    m_table.applyUpdates();
    m_pending = false;
}

QString TableSink::describe() const {
    return m_table.fileName();
}
