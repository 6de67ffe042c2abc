#pragma once

#include "recordrow.h"

#include <QList>
#include <QTemporaryFile>

#include <vector>

/// Records kept in a temporary file, for a report whose table is about to change under
/// it. Appended in order, read back in windows; in memory it keeps only the file position
/// of every kStride-th record. The file goes with the object.
class RowSpillFile {
public:
    static constexpr int kStride = 256;

    /// Throws std::runtime_error when no temporary file can be made.
    RowSpillFile();

    /// Throws std::runtime_error when the record cannot be written.
    void append(const RecordRow &row);
    qint64 count() const { return m_count; }
    /// Up to `n` records from position `first` on. Throws std::runtime_error on a read
    /// failure.
    QList<RecordRow> rows(qint64 first, int n) const;

private:
    mutable QTemporaryFile m_file;
    std::vector<qint64> m_offsets; // file position of records 0, kStride, 2 * kStride, ...
    qint64 m_count = 0;
    qint64 m_end = 0; // where the next record goes
};
