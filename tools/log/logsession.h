#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

#include "commportdriver.h"
#include "frameassembler.h"
#include "logoptions.h"
#include "meterlink.h"

class ReadingSink;

/// One unattended logging run: opens the port, asks the meter for frames through the shared
/// MeterLink, decodes display frames as the window does and offers each reading to the
/// window's recording rules, writing the recorded ones to a ReadingSink that it commits at
/// least once a second. It reopens a lost port every kReconnectInterval, stops at the
/// count, the duration or a signal, and then commits and reports one summary line.
///
/// Messages go to `messages` (standard error in the tool), one line each.
class LogSession : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kCommitInterval{500};
    static constexpr std::chrono::milliseconds kReconnectInterval{2000};
    static constexpr std::chrono::milliseconds kRecordTick{1000};

    LogSession(const LogOptions &options, ReadingSink &sink, FILE *messages,
               QObject *parent = nullptr);
    ~LogSession() override;

    /// Opens the port and starts the clocks; ends at once (finished(1)) when the port cannot
    /// be opened and reconnecting is off.
    void start();
    /// SIGINT or SIGTERM: commit, report and end with 0.
    void stopBySignal(int signal);

    qint64 readingsSeen() const { return m_seen; }
    qint64 readingsRecorded() const { return m_recorded; }

signals:
    /// The run is over; the exit code for the tool.
    void finished(int exitCode);

private:
    void receive(const char *data, int size);
    void handleFrame(const QString &hex);
    void recordReading(const QString &hex);
    void onAliveChanged(bool alive);
    /// Presses the --key key once, at the first answer that finds room for it.
    void pressKeyIfDue();
    void onPortLost(const QString &reason);
    void tryReopen();
    void armDuration();
    void commit();
    void finish(int exitCode, const QString &reason);
    QString portText() const;
    void say(const QString &line);

    LogOptions m_options;
    ReadingSink &m_sink;
    FILE *m_messages;
    CommPortDriver m_driver;
    MeterLink m_link;
    FrameAssembler m_frames;
    QTimer m_recordTick;
    QTimer m_commitTimer;
    QTimer m_reconnectTimer;
    QTimer m_durationTimer;
    QElapsedTimer m_clock;

    // The window's recording counters, for this run.
    qint32 m_recordNo = 1;
    qint32 m_recordLimit;
    qint32 m_recordedCount = 0;
    qint32 m_sampleCountdown = 0;
    QString m_lastRecordKey;

    int m_relState = 0;
    bool m_keySent = false;
    bool m_reopenFailureSaid = false;
    bool m_finished = false;
    qint64 m_seen = 0;
    qint64 m_recorded = 0;
};
