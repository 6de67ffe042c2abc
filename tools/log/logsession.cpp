#include "logsession.h"

#include <QDateTime>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <limits>

#include "commportdriver.h"
#include "consoletext.h"
#include "decodedframe.h"
#include "logrecord.h"
#include "modelprofile.h"
#include "readingrecorder.h"
#include "readingsink.h"

LogSession::LogSession(const LogOptions &options, ReadingSink &sink, FILE *messages,
                       QObject *parent)
    : QObject(parent), m_options(options), m_sink(sink), m_messages(messages) {
    m_recorder.setRecordLimit(options.count.value_or(std::numeric_limits<qint32>::max()));
    // Opening, locking and reopening a path work exactly as for COMn.
    m_session.driver().setComPort(m_options.portNumber);
    m_session.setDevicePath(m_options.portPath);
    // The meter's line, as the window's model profile sets it.
    if (const auto line = lineSettingsFor(builtModelFlags()))
        m_session.setLineSettings(*line);
    connect(&m_session.driver(), &CommPortDriver::OnReceiveData, this,
            [this](CommPortDriver *, const char *data, int size) { receive(data, size); });
    connect(&m_session, &MeterSession::meterAnswered, this, &LogSession::pressKeyIfDue);
    connect(&m_session, &MeterSession::displayFrame, this, &LogSession::recordReading);
    connect(&m_session, &MeterSession::aliveChanged, this, &LogSession::onAliveChanged);
    connect(&m_session, &MeterSession::portLost, this, &LogSession::onPortLost);
    connect(&m_session, &MeterSession::reopenFailed, this, &LogSession::onReopenFailed);
    connect(&m_session, &MeterSession::portReopened, this, &LogSession::onPortReopened);

    m_commitTimer.setInterval(kCommitInterval);
    connect(&m_commitTimer, &QTimer::timeout, this, &LogSession::commit);
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &LogSession::armDuration);
    m_silenceTimer.setSingleShot(true);
    m_silenceTimer.setInterval(kSilenceReport);
    connect(&m_silenceTimer, &QTimer::timeout, this, &LogSession::onSilence);
}

LogSession::~LogSession() {
    disconnect(&m_session.driver(), &CommPortDriver::OnReceiveData, this, nullptr);
    disconnect(&m_session, nullptr, this, nullptr);
    m_session.close();
}

void LogSession::start() {
    for (const QString &notice : m_sink.notices())
        say(notice);
    m_clock.start();
    armDuration();
    m_commitTimer.start();
    m_session.link().start();
    if (m_session.open(m_options.reconnect)) {
        m_everOpened = true;
        m_silenceTimer.start();
        say(QStringLiteral("reading %1 into %2").arg(portText(), m_sink.describe()));
        return;
    }
    say(QStringLiteral("cannot open %1: %2").arg(portText(), m_session.driver().lastOpenError()));
    if (!m_options.reconnect) {
        finish(LogExit::kFailure, QStringLiteral("port not opened"));
        return;
    }
    say(QStringLiteral("trying again every %1 s")
            .arg(m_session.link().reopenInterval().count() / 1000));
    m_reopenFailureSaid = true;
}

void LogSession::armDuration() {
    if (!m_options.durationSeconds)
        return;
    const auto total = static_cast<qint64>(*m_options.durationSeconds * 1000.0);
    const qint64 left = total - m_clock.elapsed();
    if (left <= 0) {
        finish(LogExit::kDone, QStringLiteral("duration reached"));
        return;
    }
    // A timer counts at most about 24 days; a longer run is timed in legs.
    m_durationTimer.start(
        static_cast<int>(std::min<qint64>(left, std::numeric_limits<int>::max())));
}

void LogSession::stopBySignal(int signal) {
    finish(LogExit::kDone, stopReason(signal));
}

QString LogSession::stopReason(int signal) {
    switch (signal) {
#ifdef Q_OS_WIN
    case SIGINT:
        return QStringLiteral("interrupted (Ctrl+C)");
    case SIGBREAK:
        return QStringLiteral("interrupted (Ctrl+Break)");
    case SIGTERM:
        return QStringLiteral("console closed");
#else
    case SIGINT:
        return QStringLiteral("interrupted (SIGINT)");
    case SIGTERM:
        return QStringLiteral("terminated (SIGTERM)");
    case SIGHUP:
        return QStringLiteral("hung up (SIGHUP)");
#endif
    }
    return QStringLiteral("stopped by signal %1").arg(signal);
}

void LogSession::receive(const char *data, int size) {
    if (m_finished)
        return;
    try {
        m_session.receive(data, size);
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        finish(LogExit::kFailure, QStringLiteral("output failed"));
    }
}

void LogSession::recordReading(const DecodedFrame &frame) {
    if (m_finished)
        return;
    ++m_seen;
    // Measured on the monotonic clock from the last stored reading, so that a clock set
    // back or forward neither stalls nor crowds the log.
    if (m_options.everySeconds && m_sinceStored.isValid() &&
        m_sinceStored.elapsed() < qint64(*m_options.everySeconds) * 1000)
        return;
    // The recorder's countdown stays off: --every is kept above, by time.
    ReadingRecorder::Options rules;
    rules.repeatFilter = m_options.changesOnly;
    const QDateTime now = QDateTime::currentDateTime();
    const auto outcome = m_recorder.offer(rules, ReadingRecorder::readingOf(frame), now.time(),
                                          [&](const RecordValues &record) {
                                              m_sink.write({now, record, frame.overload});
                                          });
    if (outcome != ReadingRecorder::Outcome::Stored)
        return;
    m_sinceStored.start();
    if (m_options.count && m_recorder.RecordedCount() >= *m_options.count)
        finish(LogExit::kDone, QStringLiteral("count reached"));
}

void LogSession::onAliveChanged(bool alive) {
    if (!alive) {
        // The watchdog's fall comes a few ticks after the last frame; only a silence that
        // lasts is worth a line. A lost port says so itself.
        if (m_session.driver().PortIsOpen())
            m_silenceTimer.start();
        return;
    }
    m_silenceTimer.stop();
    m_everAnswered = true;
    if (m_sayNextAnswer)
        say(QStringLiteral("the meter answers on %1").arg(portText()));
    m_sayNextAnswer = false;
}

void LogSession::onSilence() {
    if (m_finished || !m_session.driver().PortIsOpen() || m_session.link().isAlive())
        return;
    say(QStringLiteral("no answer from the meter on %1").arg(portText()));
    m_sayNextAnswer = true;
}

void LogSession::pressKeyIfDue() {
    if (m_finished || !m_options.key || m_keySent)
        return;
    const LogOptions::KeyPress &key = *m_options.key;
    // A key that finds no room in the output queue is tried again at the next answer.
    m_keySent = m_session.link().sendKey(key.longCode, key.longPress);
    if (!m_keySent)
        return;
    if (key.caption == QLatin1String("REL"))
        m_session.stepRelState();
    say(QStringLiteral("pressed %1 (%2)")
            .arg(key.caption, key.longPress ? QStringLiteral("long") : QStringLiteral("short")));
}

void LogSession::onPortLost(const QString &reason) {
    m_silenceTimer.stop();
    if (m_finished)
        return;
    if (!m_options.reconnect) {
        say(QStringLiteral("lost %1: %2").arg(portText(), reason));
        finish(LogExit::kFailure, QStringLiteral("port lost"));
        return;
    }
    say(QStringLiteral("lost %1: %2; reopening every %3 s")
            .arg(portText(), reason)
            .arg(m_session.link().reopenInterval().count() / 1000));
    m_reopenFailureSaid = false;
    m_sayNextAnswer = true;
}

void LogSession::onReopenFailed(const QString &error) {
    // Said once: a week of retries must not fill the log with the same line.
    if (!m_reopenFailureSaid)
        say(QStringLiteral("cannot open %1 yet: %2").arg(portText(), error));
    m_reopenFailureSaid = true;
}

void LogSession::onPortReopened() {
    if (m_everOpened)
        say(QStringLiteral("%1 is open again").arg(portText()));
    else
        say(QStringLiteral("%1 is open now; reading into %2").arg(portText(), m_sink.describe()));
    m_everOpened = true;
    m_silenceTimer.start();
}

void LogSession::commit() {
    if (m_finished)
        return;
    try {
        m_sink.commit();
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        finish(LogExit::kFailure, QStringLiteral("output failed"));
    }
}

void LogSession::finish(int exitCode, const QString &reason) {
    if (m_finished)
        return;
    m_finished = true;
    m_session.link().stop();
    m_commitTimer.stop();
    m_durationTimer.stop();
    m_silenceTimer.stop();
    try {
        m_sink.commit();
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        exitCode = LogExit::kFailure;
    }
    // Not the receive handler: this may run inside it.
    m_session.close();
    say(QStringLiteral("%1: %2 readings seen, %3 recorded in %4 s")
            .arg(reason)
            .arg(m_seen)
            .arg(m_recorder.RecordedCount())
            .arg(m_clock.elapsed() / 1000.0, 0, 'f', 1));
    // Readings lost to a damaged line are not lost silently.
    if (m_session.noiseCount() > 0)
        say(QStringLiteral("%1 pieces of line noise dropped (cut frames, frames of the wrong "
                           "length, junk)")
                .arg(m_session.noiseCount()));
    // A run that stops as planned but holds nothing is no success: a script must not take
    // an empty log for a good one.
    if (exitCode == LogExit::kDone && m_recorder.RecordedCount() == 0) {
        exitCode = LogExit::kNothingRecorded;
        say(QStringLiteral("no readings recorded: %1").arg(nothingRecordedWhy()));
    }
    emit finished(exitCode);
}

QString LogSession::nothingRecordedWhy() const {
    if (!m_everOpened)
        return QStringLiteral("%1 never opened (%2)")
            .arg(portText(), m_session.driver().lastOpenError());
    if (!m_everAnswered)
        return QStringLiteral("no answer from the meter on %1").arg(portText());
    return QStringLiteral("the meter sent no reading on %1").arg(portText());
}

QString LogSession::portText() const {
    const CommPortDriver &driver = m_session.driver();
    const QString path =
        driver.lastOpenPath().isEmpty() ? driver.pathToOpen() : driver.lastOpenPath();
    return path == m_options.port ? path : QStringLiteral("%1 (%2)").arg(m_options.port, path);
}

void LogSession::say(const QString &line) {
    ConsoleText::write(m_messages, QStringLiteral("qm-log: %1 %2\n")
                                       .arg(QDateTime::currentDateTime().toString(
                                                QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                            line));
}
