#include "printspooler.h"

#include <QPrintEngine>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>

#include <stdexcept>

namespace {

/// Where Qt's CUPS engine keeps the settings chosen in the printer's properties, as name,
/// value, name, value...
constexpr auto kCupsOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

QString PrintSpooler::program() {
#ifdef Q_OS_WIN
    return QString();
#else
    return QStandardPaths::findExecutable(QStringLiteral("lp"));
#endif
}

PrintSpooler::Job PrintSpooler::jobFor(const QPrinter &printer) {
    Job job;
    job.printer = printer.printerName();
    job.title = printer.docName();
    // Copies the print system does not make are painted into the file.
    job.copies = printer.supportsMultipleCopies() ? std::max(1, printer.copyCount()) : 1;
    job.collate = printer.collateCopies();
    if (QPrintEngine *engine = printer.printEngine()) {
        const QStringList pairs = engine->property(kCupsOptions).toStringList();
        for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
            job.options << pairs[i] + u'=' + pairs[i + 1];
    }
    if (printer.duplex() == QPrinter::DuplexLongSide)
        job.options << QStringLiteral("sides=two-sided-long-edge");
    else if (printer.duplex() == QPrinter::DuplexShortSide)
        job.options << QStringLiteral("sides=two-sided-short-edge");
    return job;
}

void PrintSpooler::submit(const QString &pdf, const Job &job) {
    const QString lp = program();
    if (lp.isEmpty())
        raise(QStringLiteral("The report could not be printed: no print system was found"));
    QStringList args;
    if (!job.printer.isEmpty())
        args << QStringLiteral("-d") << job.printer;
    if (!job.title.isEmpty())
        args << QStringLiteral("-t") << job.title;
    args << QStringLiteral("-n") << QString::number(job.copies);
    args << QStringLiteral("-o")
         << (job.collate ? QStringLiteral("collate=true") : QStringLiteral("collate=false"));
    for (const QString &option : job.options)
        args << QStringLiteral("-o") << option;
    args << QStringLiteral("--") << pdf;

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(lp, args);
    const bool answered = process.waitForFinished(kAnswerMs);
    const QString said = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.error() == QProcess::FailedToStart)
        raise(QStringLiteral("The report could not be printed on %1: %2")
                  .arg(job.printer, process.errorString()));
    if (!answered) {
        process.kill();
        process.waitForFinished(1000);
        raise(QStringLiteral("The report could not be printed on %1: the print system did not "
                             "answer")
                  .arg(job.printer));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        raise(QStringLiteral("The report could not be printed on %1: %2")
                  .arg(job.printer, said.isEmpty() ? process.errorString() : said));
}
