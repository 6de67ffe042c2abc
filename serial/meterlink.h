#pragma once

#include <QObject>

#include <chrono>
#include <cstdint>

class CommPortDriver;
class QTimer;

/// The program's side of the conversation with the meter, shared by the window and the
/// headless logger: the five-tick request cycle, the link watchdog, the one-byte send that
/// skips a byte rather than wait on a full output queue, and the key codes of the remote
/// keys. It drives a CommPortDriver that its owner opens and closes.
///
/// The ticks are public so that an owner with timers of its own (the window's designed
/// timers) drives them; start() runs them on the link's own timers instead. The link is
/// alive from a reported frame until the watchdog's no-link tick, and also falls when the
/// driver loses its port.
class MeterLink : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kTickInterval{100};

    explicit MeterLink(CommPortDriver &driver, QObject *parent = nullptr);

    CommPortDriver &driver() const { return m_driver; }

    /// Runs requestTick() and watchdogTick() every kTickInterval on the link's own timers.
    void start();
    void stop();
    bool isRunning() const;

    /// One step of the request cycle: sends the step's request byte, if any, and moves on.
    /// The cycle runs whether or not the port is open and never restarts.
    void requestTick();
    /// One step of the watchdog; true when this tick shows "no link" (the third tick after
    /// the last frame, and every third tick after that).
    bool watchdogTick();
    /// A frame was decoded: the link is alive and the idle count starts again.
    void reportAlive();

    /// Sends one byte if the port is open and its output queue has room; true when sent.
    bool send(std::uint8_t byte);
    /// Sends a remote key's code: its even code for a long press, the odd one for a short.
    bool sendKey(std::uint8_t longCode, bool longPress);

    int requestStep() const { return m_requestStep; }
    int idleTicks() const { return m_idleTicks; }
    bool isAlive() const { return m_alive; }

signals:
    /// The link came alive (a frame after silence) or fell (watchdog or lost port).
    void aliveChanged(bool alive);

private:
    void setAlive(bool alive);

    CommPortDriver &m_driver;
    QTimer *m_requestTimer = nullptr;
    QTimer *m_watchdogTimer = nullptr;
    int m_requestStep = 0;
    int m_idleTicks = 0;
    bool m_alive = false;
};
