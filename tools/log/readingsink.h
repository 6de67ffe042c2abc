#pragma once

#include <QString>
#include <QStringList>

struct LogRecord;

/// Where the logger puts recorded readings. write() may keep a record back; commit() makes
/// everything written so far durable. Both throw std::runtime_error on failure.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void write(const LogRecord &record) = 0;
    virtual void commit() = 0;
    /// What the output is, for messages.
    virtual QString describe() const = 0;
    /// What opening the output found that the user is to hear of, a line each.
    virtual QStringList notices() const { return {}; }
};
