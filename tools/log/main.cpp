// qm-log: logs a meter's readings without a window, for unattended runs. Talks to the
// meter as the window does (same ports, request cycle, watchdog, framing and decoder) and
// records with the window's rules into a record table, a CSV file or standard output.

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "logoptions.h"
#include "logsession.h"
#include "signalpipe.h"
#include "tablesink.h"
#include "textsink.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::unique_ptr<ReadingSink> openOutput(const LogOptions &options) {
    switch (options.output) {
    case LogOptions::Output::Table:
        return std::make_unique<TableSink>(options.outPath);
    case LogOptions::Output::Csv:
        return std::make_unique<TextSink>(options.outPath, TextSink::Format::Csv);
    case LogOptions::Output::Lines:
        break;
    }
    return std::make_unique<TextSink>(QString(), TextSink::Format::Lines);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm-log"));

    LogOptions options;
    try {
        options = LogOptions::parse(app.arguments().mid(1));
    } catch (const std::invalid_argument &error) {
        std::fprintf(stderr, "qm-log: %s\n(try --help)\n", error.what());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(qUtf8Printable(LogOptions::helpText()), stdout);
        return 0;
    }

    // A reader of standard output that goes away is a write error, reported and ended
    // with a summary, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    SignalPipe signalPipe;
    if (!signalPipe.install({SIGINT, SIGTERM})) {
        std::perror("qm-log: cannot catch signals");
        return kExitFailure;
    }

    std::unique_ptr<ReadingSink> output;
    try {
        output = openOutput(options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qm-log: %s\n", error.what());
        return kExitFailure;
    }

    LogSession session(options, *output, stderr);
    QObject::connect(&signalPipe, &SignalPipe::received, &session, &LogSession::stopBySignal);
    QObject::connect(&session, &LogSession::finished, &app,
                     [](int exitCode) { QCoreApplication::exit(exitCode); });
    QTimer::singleShot(0, &session, &LogSession::start);
    return app.exec();
}
