#include "meterlink.h"

#include <QTimer>

#include "commportdriver.h"
#include "linkwatchdog.h"
#include "remotekeys.h"
#include "requestcycle.h"

MeterLink::MeterLink(CommPortDriver &driver, QObject *parent) : QObject(parent), m_driver(driver) {
    connect(&m_driver, &CommPortDriver::portLost, this, [this] {
        m_idleTicks = 0;
        setAlive(false);
    });
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
    // An adapter that stopped draining would make the send wait for the output time-out,
    // tick after tick, on the thread that also reads the meter. A request or key byte is
    // worthless once late: with no room it is skipped, and the watchdog shows that the
    // meter went quiet.
    if (!m_driver.PortIsOpen() || m_driver.OutputRoom() == 0)
        return false;
    const char c = static_cast<char>(byte);
    return m_driver.WriteBytes(&c, 1) == 1;
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
