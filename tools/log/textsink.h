#pragma once

#include <QFile>

#include "readingsink.h"

/// Records as text, one reading a line: comma-separated with a heading into a file, or
/// tab-separated onto standard output, flushed line by line so a reader of the pipe sees
/// each reading at once. A file is added to; the heading goes only into an empty file.
class TextSink : public ReadingSink {
public:
    enum class Format { Csv, Lines };

    /// Opens `path` for adding, or standard output when `path` is empty; throws
    /// std::runtime_error when it cannot.
    TextSink(const QString &path, Format format);

    void write(const LogRecord &record) override;
    void commit() override;
    QString describe() const override;

private:
    void put(const QString &line);

    QFile m_file;
    Format m_format;
    bool m_isFile;
    bool m_pending = false;
};
