#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

#include "logoptions.h"
#include "metersession.h"
#include "readingrecorder.h"

class ReadingSink;

/// The logger's exit codes.
namespace LogExit {
constexpr int kDone = 0;
/// The output failed, or the port with --no-reconnect.
constexpr int kFailure = 1;
/// Bad options, or an output file of the other kind.
constexpr int kUsage = 2;
/// The run ended with nothing recorded: the port never opened or the meter never answered.
constexpr int kNothingRecorded = 3;
} // namespace LogExit

/// One unattended logging run: opens the port of a MeterSession, the window's own (which asks
/// the meter for frames, reopens a lost port and decodes display frames), and offers each
/// reading to the window's recording rules, writing the recorded ones to a ReadingSink that
/// it commits every kCommitInterval. It stops at the count, the duration or a signal, and
/// then commits and reports one summary line.
///
/// --every is measured from the stored reading's time: no two stored readings are closer
/// than the interval (the window's whole-second countdown does not promise that).
///
/// Messages go to `messages` (standard error in the tool), one line each, with the time.
class LogSession : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kCommitInterval{500};
    /// A meter silent this long on an open port is reported, once.
    static constexpr std::chrono::milliseconds kSilenceReport{5000};

    LogSession(const LogOptions &options, ReadingSink &sink, FILE *messages,
               QObject *parent = nullptr);
    ~LogSession() override;

    /// Opens the port and starts the clocks; ends at once (finished(1)) when the port cannot
    /// be opened and reconnecting is off.
    void start();
    /// SIGINT, SIGTERM or SIGHUP (Windows: Ctrl+C, Ctrl+Break, the console closed; see
    /// SignalPipe): commit, report and end as a finished run.
    void stopBySignal(int signal);

    qint64 readingsSeen() const { return m_seen; }
    qint64 readingsRecorded() const { return m_recorder.RecordedCount(); }
    const MeterSession &session() const { return m_session; }

signals:
    /// The run is over; the exit code for the tool (LogExit).
    void finished(int exitCode);

private:
    void receive(const char *data, int size);
    void recordReading(const DecodedFrame &frame);
    void onAliveChanged(bool alive);
    void onSilence();
    /// Presses the --key key once, at the first answer that finds room for it.
    void pressKeyIfDue();
    void onPortLost(const QString &reason);
    void onReopenFailed(const QString &error);
    void onPortReopened();
    void armDuration();
    void commit();
    void finish(int exitCode, const QString &reason);
    /// What ended the run, as the summary line says it.
    static QString stopReason(int signal);
    /// Why nothing was recorded, for a run that ends without a record.
    QString nothingRecordedWhy() const;
    QString portText() const;
    void say(const QString &line);

    LogOptions m_options;
    ReadingSink &m_sink;
    FILE *m_messages;
    MeterSession m_session;
    QTimer m_commitTimer;
    QTimer m_durationTimer;
    QTimer m_silenceTimer;
    QElapsedTimer m_clock;
    /// Since the last stored reading; invalid before the first.
    QElapsedTimer m_sinceStored;

    /// The window's recording rules and counters, for this run.
    ReadingRecorder m_recorder;

    bool m_keySent = false;
    bool m_everOpened = false;
    bool m_everAnswered = false;
    /// The next answer is worth a line: the first one, or one after reported silence or a
    /// lost port.
    bool m_sayNextAnswer = true;
    bool m_reopenFailureSaid = false;
    bool m_finished = false;
    qint64 m_seen = 0;
};
