#pragma once

#include "reportrowsource.h"
#include "rowspillfile.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class RecordTable;

/// The records of the record table as they are at the moment the source is made: the
/// count is fixed then, and records appended later stay out of the report. Rows are read
/// from the table in windows as the report asks for them, like the grid does.
///
/// Should the table be emptied, replaced or closed while the report is still in use, the
/// source first copies its records into a temporary file and reads from there, so that a
/// report once built prints the same records to the end.
class RecordTableSource : public QObject, public ReportRowSource {
    Q_OBJECT

public:
    /// Throws std::runtime_error when the table is not open.
    explicit RecordTableSource(const RecordTable &table, QObject *parent = nullptr);
    ~RecordTableSource() override;

    qint64 count() const override { return m_count; }
    QList<RecordRow> rows(qint64 first, int n) const override;

    /// Whether the records now come from the source's own copy.
    bool isDetached() const { return m_spill != nullptr; }

private:
    void keepRecords();

    QPointer<const RecordTable> m_table;
    QString m_fileName;
    qint64 m_count = 0;
    std::unique_ptr<RowSpillFile> m_spill;
    /// Why the records can no longer be read, once they cannot.
    QString m_lost;
};
