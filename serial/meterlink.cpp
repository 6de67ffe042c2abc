#include "meterlink.h"

#include <QTimer>

#include "commportdriver.h"
#include "linkwatchdog.h"
#include "remotekeys.h"
#include "requestcycle.h"

MeterLink::MeterLink(CommPortDriver &driver, QObject *parent)
    : QObject(parent), m_driver(driver), m_reopenTimer(new QTimer(this)) {
    m_reopenTimer->setInterval(kReopenInterval);
    connect(m_reopenTimer, &QTimer::timeout, this, &MeterLink::tryReopen);
    connect(&m_driver, &CommPortDriver::portLost, this, &MeterLink::onDriverLostPort);
}

void MeterLink::start() {
    if (!m_requestTimer) {
        m_requestTimer = new QTimer(this);
        m_requestTimer->setTimerType(Qt::PreciseTimer);
        m_requestTimer->setInterval(kTickInterval);
        connect(m_requestTimer, &QTimer::timeout, this, &MeterLink::requestTick);
        m_watchdogTimer = new QTimer(this);
        m_watchdogTimer->setTimerType(Qt::PreciseTimer);
        m_watchdogTimer->setInterval(kTickInterval);
        connect(m_watchdogTimer, &QTimer::timeout, this, &MeterLink::watchdogTick);
    }
    m_requestTimer->start();
    m_watchdogTimer->start();
}

void MeterLink::stop() {
    if (!m_requestTimer)
        return;
    m_requestTimer->stop();
    m_watchdogTimer->stop();
}

bool MeterLink::isRunning() const {
    return m_requestTimer && m_requestTimer->isActive();
}

bool MeterLink::openPort(bool keepTrying) {
    if (m_driver.OpenPort()) {
        m_reopenTimer->stop();
        setPortState(PortState::Open);
        return true;
    }
    if (!keepTrying) {
        closePort();
        return false;
    }
    m_wasLost = false;
    m_reopenTimer->start();
    setPortState(PortState::Reopening);
    return false;
}

void MeterLink::closePort() {
    m_reopenTimer->stop();
    m_driver.ClosePort();
    setPortState(PortState::Closed);
}

void MeterLink::setReopenInterval(std::chrono::milliseconds interval) {
    m_reopenTimer->setInterval(interval);
}

std::chrono::milliseconds MeterLink::reopenInterval() const {
    return m_reopenTimer->intervalAsDuration();
}

QString MeterLink::noLinkReason() const {
    switch (m_portState) {
    case PortState::Closed:
        break;
    case PortState::Open:
        return QStringLiteral("no answer from the meter");
    case PortState::Reopening:
        return QStringLiteral("%1; it is tried again every %2 s")
            .arg(m_wasLost ? QStringLiteral("the port went away")
                           : QStringLiteral("the port does not open"))
            .arg(double(reopenInterval().count()) / 1000.0);
    }
    return QStringLiteral("not connected");
}

void MeterLink::onDriverLostPort(const QString &reason) {
    m_idleTicks = 0;
    setAlive(false);
    // Only a port the owner opened through the link is kept open; one opened on the driver
    // directly stays closed.
    if (m_portState == PortState::Open) {
        m_wasLost = true;
        m_reopenTimer->start();
        setPortState(PortState::Reopening);
    }
    emit portLost(reason);
}

void MeterLink::tryReopen() {
    // The port's name is resolved again by the open: a QM_COMn link that now points at
    // another device (an adapter back under a new name) is followed.
    if (!m_driver.OpenPort()) {
        emit reopenFailed(m_driver.lastOpenError());
        return;
    }
    m_reopenTimer->stop();
    setPortState(PortState::Open);
    emit portReopened();
}

void MeterLink::requestTick() {
    if (const auto byte = RequestCycle::byteAt(m_requestStep))
        send(*byte);
    m_requestStep = RequestCycle::next(m_requestStep);
}

bool MeterLink::watchdogTick() {
    if (!LinkWatchdog::tick(m_idleTicks))
        return false;
    setAlive(false);
    return true;
}

void MeterLink::reportAlive() {
    m_idleTicks = 0;
    setAlive(true);
}

bool MeterLink::send(std::uint8_t byte) {
    // An adapter that stopped draining would make a send wait for the output time-out, tick
    // after tick, on the thread that also reads the meter, and queue requests and key presses
    // that reach the meter in a burst, minutes late, when the line moves again. A request or
    // key byte is worthless once late: while the line holds more than a few, they are
    // dropped, and the watchdog shows that the meter went quiet.
    if (!m_driver.PortIsOpen())
        return false;
    if (m_driver.outputPending() > kMaxPendingBytes) {
        m_driver.PurgeBuffers(false, true);
        return false;
    }
    const char c = static_cast<char>(byte);
    return m_driver.writeBytesWithin(&c, 1, kSendWait) == 1;
}

bool MeterLink::sendKey(std::uint8_t longCode, bool longPress) {
    return send(RemoteKeys::codeFor(longCode, !longPress));
}

void MeterLink::setAlive(bool alive) {
    if (alive == m_alive)
        return;
    m_alive = alive;
    emit aliveChanged(alive);
}

void MeterLink::setPortState(PortState state) {
    if (state == m_portState)
        return;
    m_portState = state;
    emit portStateChanged(state);
}
