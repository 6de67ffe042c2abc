#include "recordtablesource.h"

#include "recordtable.h"

#include <stdexcept>

namespace {

constexpr int kCopyWindow = 1024;

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

RecordTableSource::RecordTableSource(const RecordTable &table, QObject *parent)
    : QObject(parent), m_table(&table), m_fileName(table.fileName()), m_count(table.count()) {
    connect(&table, &RecordTable::aboutToReset, this, &RecordTableSource::keepRecords);
}

RecordTableSource::~RecordTableSource() = default;

QList<RecordRow> RecordTableSource::rows(qint64 first, int n) const {
    if (first < 0 || first >= m_count || n <= 0)
        return {};
    n = int(std::min<qint64>(n, m_count - first));
    if (m_spill)
        return m_spill->rows(first, n);
    if (!m_lost.isEmpty())
        raise(m_lost);
    if (!m_table || !m_table->isOpen())
        raise(QStringLiteral("Table is not open: %1").arg(m_fileName));
    return m_table->readRows(first, n);
}

// Runs before the table's content changes as a whole; the table can still be read here.
// It runs inside the table's own operation, so it must not throw.
void RecordTableSource::keepRecords() {
    if (m_spill || !m_lost.isEmpty() || !m_table)
        return;
    try {
        auto spill = std::make_unique<RowSpillFile>();
        for (qint64 first = 0; first < m_count; first += kCopyWindow) {
            const QList<RecordRow> window = rows(first, kCopyWindow);
            for (const RecordRow &row : window)
                spill->append(row);
        }
        m_spill = std::move(spill);
    } catch (const std::exception &e) {
        m_lost = QStringLiteral("The records to print are no longer in the table: %1")
                     .arg(QString::fromUtf8(e.what()));
    }
    disconnect(m_table, nullptr, this, nullptr);
    m_table = nullptr;
}
