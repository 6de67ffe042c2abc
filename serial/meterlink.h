#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>

class CommPortDriver;
class QTimer;

/// The program's side of the conversation with the meter, shared by the window and the
/// headless logger: the five-tick request cycle, the link watchdog, the one-byte send that
/// never holds up the thread (a byte waits kSendWait at most, and is skipped while more than
/// kMaxPendingBytes wait in the line), the key codes of the remote keys,
/// and keeping the port open: once opened through the link, a port that goes away is tried
/// again every reopenInterval() until closePort().
///
/// The ticks are public so that an owner with timers of its own (the window's designed
/// timers) drives them; start() runs them on the link's own timers instead. The link is
/// alive from a reported frame until the watchdog's no-link tick, and also falls when the
/// driver loses its port.
class MeterLink : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kTickInterval{100};
    static constexpr std::chrono::milliseconds kReopenInterval{2000};
    /// The longest a request or key byte waits for the port to take it.
    static constexpr std::chrono::milliseconds kSendWait{5};
    /// Two request cycles' worth: more than this unsent means the line stopped moving.
    static constexpr int kMaxPendingBytes = 8;

    /// Closed: the owner has not opened the port, or closed it. Open: the driver's port is
    /// open. Reopening: the port went away (or did not open) and is tried again.
    enum class PortState { Closed, Open, Reopening };
    Q_ENUM(PortState)

    explicit MeterLink(CommPortDriver &driver, QObject *parent = nullptr);

    CommPortDriver &driver() const { return m_driver; }

    /// Runs requestTick() and watchdogTick() every kTickInterval on the link's own timers.
    void start();
    void stop();
    bool isRunning() const;

    /// Opens the driver's port; true when it is open. When it does not open, `keepTrying`
    /// makes the link try it again every reopenInterval(); otherwise it stays closed.
    bool openPort(bool keepTrying = false);
    /// Closes the port and ends any reopening at once.
    void closePort();
    PortState portState() const { return m_portState; }
    /// How often a port that went away is tried again; kReopenInterval unless changed.
    void setReopenInterval(std::chrono::milliseconds interval);
    std::chrono::milliseconds reopenInterval() const;
    /// Why the link is down, in the user's words (for the no-link image's hint).
    QString noLinkReason() const;

    /// One step of the request cycle: sends the step's request byte, if any, and moves on.
    /// The cycle runs whether or not the port is open and never restarts.
    void requestTick();
    /// One step of the watchdog; true when this tick shows "no link" (the third tick after
    /// the last frame, and every third tick after that).
    bool watchdogTick();
    /// A frame was decoded: the link is alive and the idle count starts again.
    void reportAlive();

    /// Sends one byte if the port is open and the line is moving; true when the port took
    /// it. While more than kMaxPendingBytes are unsent, the byte is skipped and what waits is
    /// discarded, so that no request or key press reaches the meter long after it was made.
    bool send(std::uint8_t byte);
    /// Sends a remote key's code: its even code for a long press, the odd one for a short.
    bool sendKey(std::uint8_t longCode, bool longPress);

    int requestStep() const { return m_requestStep; }
    int idleTicks() const { return m_idleTicks; }
    bool isAlive() const { return m_alive; }

signals:
    /// The link came alive (a frame after silence) or fell (watchdog or lost port).
    void aliveChanged(bool alive);
    /// The open port went away underneath; the link already tries it again (Reopening).
    void portLost(const QString &reason);
    /// An attempt to reopen the port failed; `error` is the system's reason.
    void reopenFailed(const QString &error);
    /// The port is open again after a loss or a first open that failed.
    void portReopened();
    void portStateChanged(MeterLink::PortState state);

private:
    void setAlive(bool alive);
    void setPortState(PortState state);
    void onDriverLostPort(const QString &reason);
    void tryReopen();

    CommPortDriver &m_driver;
    QTimer *m_requestTimer = nullptr;
    QTimer *m_watchdogTimer = nullptr;
    QTimer *m_reopenTimer = nullptr;
    PortState m_portState = PortState::Closed;
    bool m_wasLost = false;
    int m_requestStep = 0;
    int m_idleTicks = 0;
    bool m_alive = false;
};
