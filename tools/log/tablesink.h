#pragma once

#include "readingsink.h"
#include "recordtable.h"

/// Records into a record table file, as the window does; the file opens in the window with
/// "Open old data files". The table holds the file exclusively while the logger runs; its
/// records stay pending until commit(), which also fails once the path no longer names the
/// file opened (removed or replaced under the run). Readings that a run before left unsaved
/// beside the file (it was killed, or the machine lost power) are kept, as the window's
/// default answer keeps them, and committed with this run's.
class TableSink : public ReadingSink {
public:
    /// Opens (or creates) the table; throws std::runtime_error when it cannot, or when
    /// readings cannot be recorded into it (read-only, triggers, the spool's name taken).
    explicit TableSink(const QString &path);

    void write(const LogRecord &record) override;
    void commit() override;
    QString describe() const override;
    QStringList notices() const override { return m_notices; }

private:
    RecordTable m_table;
    bool m_pending = false;
    QStringList m_notices;
};
