#pragma once

#include "recordrow.h"

#include <QList>

/// Where a report takes its records from: a fixed number of rows, read in windows in table
/// order, so that a report never holds more than a window of them.
class ReportRowSource {
public:
    virtual ~ReportRowSource() = default;

    /// Records in the report; fixed for the source's life.
    virtual qint64 count() const = 0;
    /// The `n` records from position `first` on (clipped to count()). Throws
    /// std::runtime_error when they cannot be read: a report must not print blank lines
    /// in place of records.
    virtual QList<RecordRow> rows(qint64 first, int n) const = 0;
};
