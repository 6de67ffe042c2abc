#pragma once

#include <QFile>

#include "readingsink.h"

/// Records as text, one reading a line. Into a file: comma-separated or tab-separated, with
/// a heading and CR LF line ends; a file is added to, and the heading goes only into an
/// empty file. Onto standard output: tab-separated lines without a heading, each flushed at
/// once so that a reader of the pipe sees it. A regular file, named or as standard output (a
/// redirection), is synced to the disk at commit(); a named pipe or a device gets each
/// reading at once, like a pipe.
class TextSink : public ReadingSink {
public:
    enum class Format { Csv, Tabs };

    /// Opens `path` for adding, or standard output when `path` is empty (always Tabs then);
    /// throws std::runtime_error when it cannot.
    TextSink(const QString &path, Format format);

    void write(const LogRecord &record) override;
    void commit() override;
    QString describe() const override;

    /// Whether commit() waits for the disk (a regular file, not a pipe, a device or a terminal).
    bool syncsToDisk() const { return m_syncs; }

private:
    void put(const QString &line);

    QFile m_file;
    Format m_format;
    bool m_isFile;
    bool m_syncs;
    bool m_pending = false;
};
