#include "pendingrecords.h"

#include "safefile.h"

#include <QDir>

#include <sqlite3.h>

namespace {

QString spanText(const LeftRecords &left) {
    return QStringLiteral("%1 readings (from %2 to %3)")
        .arg(left.count)
        .arg(RecordValues::storedTime(left.first), RecordValues::storedTime(left.last));
}

} // namespace

PendingRecords::PendingRecords(const QString &tableFile)
    : m_spoolPath(tableFile + QStringLiteral("-pending")) {}

PendingRecords::~PendingRecords() = default;

QString PendingRecords::takeOverLeft(const LeftSpool::StoredRows &rows,
                                     const KeepLeftRecords &keep) {
    std::unique_ptr<LeftSpool> left;
    try {
        left = LeftSpool::find(m_spoolPath);
    } catch (const SafeFile::Refused &) {
        throw;
    } catch (const std::exception &e) {
        // Unread, it may hold records: it stays, and so no spool can be made in its place.
        throw SafeFile::Refused(
            (QString::fromUtf8(e.what()) + QStringLiteral("; it was left as it is."))
                .toStdString());
    }
    if (!left)
        return QString();
    const QString name = QDir::toNativeSeparators(m_spoolPath);
    QString suffix;
    QString told;
    switch (left->judge(m_table, rows)) {
    case LeftSpool::Verdict::Offer:
        if (!keep || keep(left->records())) {
            m_spool = left->adopt();
            // The engine holds none of them: they are read from the spool, and the next save
            // writes them into the file.
            m_detached = true;
            return QString();
        }
        [[fallthrough]];
    case LeftSpool::Verdict::Empty:
    case LeftSpool::Verdict::Saved:
    case LeftSpool::Verdict::Cleared:
        left->remove();
        return QString();
    case LeftSpool::Verdict::NotThisTable:
        suffix = QStringLiteral(".not-this-table");
        told = QStringLiteral("%1 holds %2 that a run of this program left unsaved, recorded "
                              "for another file at this path, or for this table before it was "
                              "replaced or saved elsewhere. They were not added to the table.")
                   .arg(name, spanText(left->records()));
        break;
    case LeftSpool::Verdict::Unreadable:
        suffix = QStringLiteral(".unreadable");
        told = QStringLiteral("%1 is not a file of unsaved readings that this program can read "
                              "(it may be damaged). Nothing was taken from it.")
                   .arg(name);
        break;
    }
    const QString setAside = left->setAside(suffix);
    if (setAside.isEmpty())
        throw SafeFile::Refused(
            (told + QStringLiteral(" It could not be set aside, and was left as it is."))
                .toStdString());
    return told +
           QStringLiteral(" It was set aside as %1.").arg(QDir::toNativeSeparators(setAside));
}

void PendingRecords::ensureSpool() {
    if (!m_spool)
        m_spool = std::make_unique<PendingSpool>(m_spoolPath, m_table);
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

void PendingRecords::clear(const SpoolFormat::Header &table) {
    m_table = table;
    if (m_spool)
        m_spool->restart(table);
    m_detached = false;
}

QString PendingRecords::markClearing(bool clearing) {
    return m_spool ? m_spool->markClearing(clearing) : QString();
}

void PendingRecords::secure() {
    if (m_spool)
        m_spool->secure();
}

bool PendingRecords::waitUntilSecured(int timeoutMs) const {
    return !m_spool || m_spool->waitUntilSecured(timeoutMs);
}

QList<RecordValues> PendingRecords::read(qint64 first, int n) const {
    return m_spool ? m_spool->read(first, n) : QList<RecordValues>();
}
