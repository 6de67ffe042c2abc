#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "comporttypes.h"
#include "decodedframe.h"
#include "frameassembler.h"
#include "meterlink.h"

class CommPortDriver;

/// One meter on one serial line, as the window and the headless logger both drive it: the
/// port driver, the link (request cycle, watchdog, reopening a lost port), the framing of the
/// received bytes, the REL state that display frames are decoded with, and the line settings.
///
/// The owner hands each chunk the driver receives to receive(), from a slot of its own that
/// keeps its own error policy: a receiver of the frame signals that throws ends the delivery
/// (its rest and any carried fragment are dropped) and the exception goes on to receive()'s
/// caller, so the owner must catch it before it reaches the driver.
///
/// Each frame is handed on as its text first (frameText), damage included. A display or a
/// secondary frame then marks the link alive (meterAnswered) and is handed on decoded
/// (displayFrame) or as the bar's digits (barFrame); damage and other lines mark nothing.
/// Framing starts afresh whenever the port opens, closes, goes away or comes back.
class MeterSession : public QObject {
    Q_OBJECT

public:
    using Clock = FrameAssembler::Clock;
    using ReceiveClock = std::function<Clock::time_point()>;

    explicit MeterSession(QObject *parent = nullptr);
    ~MeterSession() override;

    CommPortDriver &driver() const { return *m_driver; }
    MeterLink &link() const { return *m_link; }

    /// Writes the speed and data bits to the driver (at once while the port is open).
    void setLineSettings(const LineSettings &line);
    LineSettings lineSettings() const;
    /// A device to open in place of the chosen COMn's (empty: none).
    void setDevicePath(const QString &path);

    /// Opens the port through the link; see MeterLink::openPort.
    bool open(bool keepTrying = false);
    /// Closes the port and ends any reopening.
    void close();

    /// One chunk of received bytes; frames complete in it are handed on in order.
    void receive(const char *data, int size);
    /// When a delivery came, for the framing's carry window. Replaceable so tests can play a
    /// line's rhythm in simulated time; the steady clock by default.
    void setReceiveClock(ReceiveClock clock);

    /// Where the REL key's cycle stands (0 off); display frames are decoded with it.
    int relState() const { return m_relState; }
    /// The REL key was pressed: its cycle moves on.
    void stepRelState();

    /// The text of the last frame handed on that was no damage; empty before the first.
    const QString &lastFrameText() const { return m_lastFrameText; }
    /// The bar's five hex digits of the last secondary frame; empty before the first.
    const QString &lastBarText() const { return m_lastBarText; }
    /// Pieces of line damage dropped since the session was made.
    qint64 noiseCount() const { return m_frames.noiseCount(); }

signals:
    void frameText(const QString &hex, FrameKind kind);
    /// A display or secondary frame came; the link is alive. Before the frame is handed on,
    /// so a key pressed from here acts on the frame's decoding (REL).
    void meterAnswered();
    void displayFrame(const DecodedFrame &frame);
    void barFrame(const QString &barText);

    // The link's own signals, passed on.
    void aliveChanged(bool alive);
    void portLost(const QString &reason);
    void reopenFailed(const QString &error);
    void portReopened();
    void portStateChanged(MeterLink::PortState state);

private:
    void handOn(const QString &hex, FrameKind kind);

    CommPortDriver *m_driver;
    MeterLink *m_link;
    FrameAssembler m_frames;
    ReceiveClock m_clock = &Clock::now;
    int m_relState = 0;
    QString m_lastFrameText;
    QString m_lastBarText;
};
