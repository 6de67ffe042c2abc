#include "logsession.h"

#include <QDateTime>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <limits>

#include "decodedframe.h"
#include "logrecord.h"
#include "portnames.h"
#include "readingdecoder.h"
#include "readingrecorder.h"
#include "readingsink.h"
#include "remotekeys.h"

LogSession::LogSession(const LogOptions &options, ReadingSink &sink, FILE *messages,
                       QObject *parent)
    : QObject(parent), m_options(options), m_sink(sink), m_messages(messages), m_link(m_driver),
      m_recordLimit(options.count.value_or(std::numeric_limits<qint32>::max())) {
    // A path goes to the driver the way a user points a port anywhere else: through that
    // port's override, so that opening, locking and reopening work exactly as for COMn.
    if (!m_options.portPath.isEmpty())
        qputenv(qPrintable(QStringLiteral("QM_COM%1").arg(int(m_options.portNumber) + 1)),
                m_options.portPath.toLocal8Bit());
    m_driver.setComPort(m_options.portNumber);
    // The meter's line, as the window's model profile sets it.
    m_driver.setComPortSpeed(br9600);
    m_driver.setComPortDataBits(db8BITS);
    m_driver.OnReceiveData = [this](CommPortDriver *, const char *data, int size) {
        receive(data, size);
    };
    connect(&m_driver, &CommPortDriver::portLost, this, &LogSession::onPortLost);
    connect(&m_link, &MeterLink::aliveChanged, this, &LogSession::onAliveChanged);

    m_recordTick.setInterval(kRecordTick);
    connect(&m_recordTick, &QTimer::timeout, this, [this] {
        ReadingRecorder::tick(
            {m_recordNo, m_recordLimit, m_recordedCount, m_sampleCountdown, m_lastRecordKey},
            m_options.everySeconds.has_value());
    });
    m_commitTimer.setInterval(kCommitInterval);
    connect(&m_commitTimer, &QTimer::timeout, this, &LogSession::commit);
    m_reconnectTimer.setInterval(kReconnectInterval);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &LogSession::tryReopen);
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &LogSession::armDuration);
}

LogSession::~LogSession() {
    m_driver.OnReceiveData = nullptr;
    m_driver.ClosePort();
}

void LogSession::start() {
    m_clock.start();
    armDuration();
    m_recordTick.start();
    m_commitTimer.start();
    m_link.start();
    if (m_driver.OpenPort()) {
        say(QStringLiteral("reading %1 into %2").arg(portText(), m_sink.describe()));
        return;
    }
    say(QStringLiteral("cannot open %1: %2").arg(portText(), m_driver.lastOpenError()));
    if (!m_options.reconnect) {
        finish(1, QStringLiteral("port not opened"));
        return;
    }
    say(QStringLiteral("trying again every %1 s").arg(kReconnectInterval.count() / 1000));
    m_reopenFailureSaid = true;
    m_reconnectTimer.start();
}

void LogSession::armDuration() {
    if (!m_options.durationSeconds)
        return;
    const auto total = static_cast<qint64>(*m_options.durationSeconds * 1000.0);
    const qint64 left = total - m_clock.elapsed();
    if (left <= 0) {
        finish(0, QStringLiteral("duration reached"));
        return;
    }
    // A timer counts at most about 24 days; a longer run is timed in legs.
    m_durationTimer.start(
        static_cast<int>(std::min<qint64>(left, std::numeric_limits<int>::max())));
}

void LogSession::stopBySignal(int signal) {
    switch (signal) {
    case SIGINT:
        finish(0, QStringLiteral("interrupted (SIGINT)"));
        break;
    case SIGTERM:
        finish(0, QStringLiteral("terminated (SIGTERM)"));
        break;
    default:
        finish(0, QStringLiteral("stopped by signal %1").arg(signal));
        break;
    }
}

void LogSession::receive(const char *data, int size) {
    if (m_finished || size <= 0)
        return;
    try {
        m_frames.feed(data, size, FrameAssembler::Clock::now(),
                      [this](const QString &hex) { handleFrame(hex); });
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        finish(1, QStringLiteral("output failed"));
    }
}

void LogSession::handleFrame(const QString &hex) {
    if (m_finished)
        return;
    switch (frameKindOf(hex)) {
    case FrameKind::Display:
        m_link.reportAlive();
        pressKeyIfDue();
        recordReading(hex);
        break;
    case FrameKind::Secondary:
        m_link.reportAlive();
        pressKeyIfDue();
        break;
    case FrameKind::Other:
        break;
    }
}

void LogSession::recordReading(const QString &hex) {
    const DecodedFrame frame = ReadingDecoder::decode(hex, m_relState);
    ++m_seen;
    RecordValues reading;
    reading.value = frame.valueText;
    reading.nval = frame.readingNval;
    reading.dcAc = frame.acDcText;
    reading.unit = frame.unitText;
    reading.autoText = frame.autoText;
    ReadingRecorder::Options rules;
    rules.repeatFilter = m_options.changesOnly;
    rules.intervalOn = m_options.everySeconds.has_value();
    rules.intervalSeconds = m_options.everySeconds.value_or(0);
    const QDateTime now = QDateTime::currentDateTime();
    const auto outcome = ReadingRecorder::offer(
        {m_recordNo, m_recordLimit, m_recordedCount, m_sampleCountdown, m_lastRecordKey}, rules,
        reading, now.time(), [&](const RecordValues &record) {
            m_sink.write({now, record, frame.overload});
        });
    if (outcome != ReadingRecorder::Outcome::Stored)
        return;
    ++m_recorded;
    if (m_options.count && m_recorded >= *m_options.count)
        finish(0, QStringLiteral("count reached"));
}

void LogSession::onAliveChanged(bool alive) {
    if (!alive) {
        // A lost port says so itself.
        if (m_driver.PortIsOpen())
            say(QStringLiteral("no answer from the meter on %1").arg(portText()));
        return;
    }
    say(QStringLiteral("the meter answers on %1").arg(portText()));
}

void LogSession::pressKeyIfDue() {
    if (!m_options.key || m_keySent)
        return;
    const LogOptions::KeyPress &key = *m_options.key;
    // A key that finds no room in the output queue is tried again at the next answer.
    m_keySent = m_link.sendKey(key.longCode, key.longPress);
    if (!m_keySent)
        return;
    if (key.caption == QLatin1String("REL"))
        m_relState = RemoteKeys::nextRelState(m_relState);
    say(QStringLiteral("pressed %1 (%2)")
            .arg(key.caption, key.longPress ? QStringLiteral("long") : QStringLiteral("short")));
}

void LogSession::onPortLost(const QString &reason) {
    m_frames.reset();
    if (m_finished)
        return;
    if (!m_options.reconnect) {
        say(QStringLiteral("lost %1: %2").arg(portText(), reason));
        finish(1, QStringLiteral("port lost"));
        return;
    }
    say(QStringLiteral("lost %1: %2; reopening every %3 s")
            .arg(portText(), reason)
            .arg(kReconnectInterval.count() / 1000));
    m_reopenFailureSaid = false;
    m_reconnectTimer.start();
}

void LogSession::tryReopen() {
    m_frames.reset();
    if (m_driver.OpenPort()) {
        m_reconnectTimer.stop();
        say(QStringLiteral("%1 is open again").arg(portText()));
        return;
    }
    // Said once: a week of retries must not fill the log with the same line.
    if (!m_reopenFailureSaid)
        say(QStringLiteral("cannot open %1 yet: %2").arg(portText(), m_driver.lastOpenError()));
    m_reopenFailureSaid = true;
}

void LogSession::commit() {
    if (m_finished)
        return;
    try {
        m_sink.commit();
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        finish(1, QStringLiteral("output failed"));
    }
}

void LogSession::finish(int exitCode, const QString &reason) {
    if (m_finished)
        return;
    m_finished = true;
    m_link.stop();
    m_recordTick.stop();
    m_commitTimer.stop();
    m_reconnectTimer.stop();
    m_durationTimer.stop();
    try {
        m_sink.commit();
    } catch (const std::exception &error) {
        say(QString::fromStdString(error.what()));
        exitCode = 1;
    }
    // Not the receive handler: this may run inside it.
    m_driver.ClosePort();
    say(QStringLiteral("%1: %2 readings seen, %3 recorded in %4 s")
            .arg(reason)
            .arg(m_seen)
            .arg(m_recorded)
            .arg(m_clock.elapsed() / 1000.0, 0, 'f', 1));
    emit finished(exitCode);
}

QString LogSession::portText() const {
    const QString path = m_driver.lastOpenPath().isEmpty()
                             ? PortNames::canonicalDevicePath(m_options.portNumber)
                             : m_driver.lastOpenPath();
    return path == m_options.port ? path : QStringLiteral("%1 (%2)").arg(m_options.port, path);
}

void LogSession::say(const QString &line) {
    std::fprintf(m_messages, "qm-log: %s\n", qUtf8Printable(line));
    std::fflush(m_messages);
}
