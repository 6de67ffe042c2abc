// qm-log: logs a meter's readings without a window, for unattended runs. Talks to the
// meter as the window does (same ports, request cycle, watchdog, reopening, framing and
// decoder) and records with the window's rules (--every kept by time) into a record table,
// a text file or standard output.

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "consoletext.h"
#include "logoptions.h"
#include "logsession.h"
#include "signalpipe.h"
#include "tablesink.h"
#include "textsink.h"

namespace {

std::unique_ptr<ReadingSink> openOutput(const LogOptions &options) {
    switch (options.output) {
    case LogOptions::Output::Table:
        return std::make_unique<TableSink>(options.outPath);
    case LogOptions::Output::Csv:
        return std::make_unique<TextSink>(options.outPath, TextSink::Format::Csv);
    case LogOptions::Output::Tabs:
        return std::make_unique<TextSink>(options.outPath, TextSink::Format::Tabs);
    case LogOptions::Output::Lines:
        break;
    }
    return std::make_unique<TextSink>(QString(), TextSink::Format::Tabs);
}

#ifdef Q_OS_WIN
/// Ctrl+C, Ctrl+Break and closing the console window.
bool catchStopRequests(SignalPipe &pipe) {
    return pipe.install({SIGINT, SIGBREAK, SIGTERM});
}
#else
/// A dropped SSH session hangs the logger up: it ends like SIGTERM. Under nohup, which set
/// SIGHUP to be ignored, it is left ignored, so the run goes on as its user asked.
bool hangupIsIgnored() {
    struct sigaction current = {};
    return ::sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

bool catchStopRequests(SignalPipe &pipe) {
    // A reader of standard output that goes away is a write error, reported and ended
    // with a summary, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    const bool catchHangup = !hangupIsIgnored();
    return pipe.install({SIGINT, SIGTERM}) && (!catchHangup || pipe.install({SIGHUP}));
}
#endif

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm-log"));

    LogOptions options;
    try {
        options = LogOptions::parse(app.arguments().mid(1));
    } catch (const std::invalid_argument &error) {
        ConsoleText::write(
            stderr,
            QStringLiteral("qm-log: %1\n(try --help)\n").arg(QString::fromUtf8(error.what())));
        return LogExit::kUsage;
    }
    if (options.help) {
        ConsoleText::write(stdout, LogOptions::helpText());
        return LogExit::kDone;
    }
    try {
        options.checkExistingOutput();
    } catch (const std::invalid_argument &error) {
        ConsoleText::write(stderr,
                           QStringLiteral("qm-log: %1\n").arg(QString::fromUtf8(error.what())));
        return LogExit::kUsage;
    }

    // Declared before the run, so destroyed after it: on Windows a console being closed
    // waits for that.
    SignalPipe signalPipe;
    if (!catchStopRequests(signalPipe)) {
        std::perror("qm-log: cannot catch signals");
        return LogExit::kFailure;
    }

    std::unique_ptr<ReadingSink> output;
    try {
        output = openOutput(options);
    } catch (const std::exception &error) {
        ConsoleText::write(stderr,
                           QStringLiteral("qm-log: %1\n").arg(QString::fromUtf8(error.what())));
        return LogExit::kFailure;
    }

    LogSession session(options, *output, stderr);
    QObject::connect(&signalPipe, &SignalPipe::received, &session, &LogSession::stopBySignal);
    QObject::connect(&session, &LogSession::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &session, &LogSession::start);
    return app.exec();
}
