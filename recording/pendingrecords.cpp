#include "pendingrecords.h"

#include <sqlite3.h>

PendingRecords::PendingRecords(const QString &tableFile)
    : m_spoolPath(tableFile + QStringLiteral("-pending")) {}

PendingRecords::~PendingRecords() = default;

void PendingRecords::ensureSpool() {
    if (!m_spool)
        m_spool = std::make_unique<PendingSpool>(m_spoolPath);
}

void PendingRecords::keep(const RecordValues &record) {
    ensureSpool();
    m_spool->append(record);
}

void PendingRecords::takeBackLast() {
    if (m_spool)
        m_spool->dropLast();
}

void PendingRecords::detach() {
    m_detached = true;
}

bool PendingRecords::followEngine(sqlite3 *engine) {
    // Cheap: the engine answers from its connection's state without touching the file.
    if (m_detached || count() == 0 || !engine || sqlite3_get_autocommit(engine) == 0)
        return false;
    m_detached = true;
    return true;
}

void PendingRecords::clear() {
    if (m_spool)
        m_spool->clear();
    m_detached = false;
}

QList<RecordValues> PendingRecords::read(qint64 first, int n) const {
    return m_spool ? m_spool->read(first, n) : QList<RecordValues>();
}
