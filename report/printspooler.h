#pragma once

#include <QString>
#include <QStringList>

class QPrinter;

/// Hands a finished print job, a PDF file, to the print system's queue of a printer: CUPS's
/// `lp`. A report painted into a file first and handed over whole reaches the printer
/// entirely or not at all, which painting straight to the printer cannot promise: Qt's
/// print engines cannot abort, and end a cancelled job by printing what was painted.
class PrintSpooler {
public:
    struct Job {
        QString printer; ///< the queue; empty: the print system's default
        QString title;
        int copies = 1;
        bool collate = true;
        QStringList options; ///< name=value settings for the queue (duplex, tray, ...)
    };

    /// The print system's command for submitting jobs; empty where there is none (Windows,
    /// or a machine without CUPS's client).
    static QString program();
    static bool available() { return !program().isEmpty(); }
    /// The job the print dialog left on `printer`: its queue, copies and settings.
    static Job jobFor(const QPrinter &printer);
    /// Submits `pdf` and returns once the print system has taken it. Throws
    /// std::runtime_error with the print system's answer when it refuses the job or does not
    /// answer within kAnswerMs.
    static void submit(const QString &pdf, const Job &job);

    static constexpr int kAnswerMs = 30000;
};
