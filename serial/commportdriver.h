#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

#include "comporttypes.h"

// Under Wine, QSerialPort never receives (it waits for a comm event that Wine never
// completes); the driver polls anyway, so on Windows it takes a plain Win32 port of ours.
// QM_WIN32_PORT alone picks the port class, so that a Linux build can compile the driver
// against the Win32 port's interface too (it is checked there, never linked).
#if defined(Q_OS_WIN) && !defined(QM_WIN32_PORT)
#define QM_WIN32_PORT
#endif
#ifdef QM_WIN32_PORT
class Win32SerialPort;
using SerialPortImpl = Win32SerialPort;
#else
class QSerialPort;
using SerialPortImpl = QSerialPort;
#endif
class QTimer;

/// The program's serial port component: opens one of COM1..COM4 exclusively, applies the
/// line settings, polls the port every ComPortPollingDelay ms on the thread that owns it and
/// hands each chunk of received bytes on through OnReceiveData, in order and one call at a time,
/// and sends blocks of bytes with an output time-out.
///
/// Queue sizes: ComPortInBufSize and ComPortOutBufSize both take new values only while the
/// port is closed, and both are applied when the port opens. The output "queue" is the
/// bytes handed to the port that have not gone down the line: those the port object holds
/// and those the system's driver reports queued; OutputRoom reports what is left of
/// ComPortOutBufSize, and WriteBytes never queues beyond it.
///
/// Closing gives queued output a moment to go out and then discards it: a line that stopped
/// moving would otherwise hold the close (Linux waits up to 30 s for a tty to drain).
///
/// A device that goes away while open (a USB adapter pulled out, the far end of a
/// pseudo-terminal closed) is closed on its first read or resource error and portLost() is
/// emitted; polling stops and the port can be opened again later.
class CommPortDriver : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultPollingDelay{50};
    /// How long closing waits for queued output to go out before discarding it.
    static constexpr std::chrono::milliseconds kCloseDrain{50};

    explicit CommPortDriver(QObject *parent = nullptr);
    ~CommPortDriver() override;

    bool OpenPort();
    void ClosePort();
    bool PortIsOpen() const;
    void ApplyPortSettings();
    void PurgeBuffers(bool input, bool output);
    quint16 OutputRoom() const;
    /// Bytes handed to the port that have not gone down the line yet (see the class
    /// comment); 0 while closed. A pseudo-terminal's own buffer is not counted: Linux does
    /// not report it.
    qint64 outputPending() const;
    /// Sends `count` bytes. Returns `count` when all were queued, 0 when the port is closed,
    /// and the negated number of bytes queued when the send gave up: no byte was taken for
    /// longer than OutputTimeout ms, or the port failed.
    int WriteBytes(const char *data, int count);
    /// WriteBytes with another bound on the wait without progress, for a caller that must
    /// not be held up for OutputTimeout.
    int writeBytesWithin(const char *data, int count, std::chrono::milliseconds maxWait);

    TComPortNumber ComPort() const { return m_comPort; }
    void setComPort(TComPortNumber port);
    /// A device path to open in place of ComPort's device (empty: none). Looked up afresh at
    /// every open, as ComPort's QM_COMn is, so a symbolic link may point elsewhere by then.
    void setDevicePath(const QString &path);
    /// The device the next open takes, its symbolic links resolved.
    QString pathToOpen() const;
    TComPortBaudRate ComPortSpeed() const { return m_speed; }
    void setComPortSpeed(TComPortBaudRate speed);
    TComPortDataBits ComPortDataBits() const { return m_dataBits; }
    void setComPortDataBits(TComPortDataBits bits);
    TComPortStopBits ComPortStopBits() const { return m_stopBits; }
    void setComPortStopBits(TComPortStopBits bits);
    TComPortParity ComPortParity() const { return m_parity; }
    void setComPortParity(TComPortParity parity);
    TComPortHwHandshaking ComPortHwHandshaking() const { return m_hw; }
    void setComPortHwHandshaking(TComPortHwHandshaking hw);
    TComPortSwHandshaking ComPortSwHandshaking() const { return m_sw; }
    void setComPortSwHandshaking(TComPortSwHandshaking sw);
    quint16 ComPortInBufSize() const { return m_inBufSize; }
    void setComPortInBufSize(quint16 size);
    quint16 ComPortOutBufSize() const { return m_outBufSize; }
    void setComPortOutBufSize(quint16 size);
    quint16 ComPortPollingDelay() const { return m_pollingDelay; }
    void setComPortPollingDelay(quint16 ms);
    bool EnableDTROnOpen() const { return m_enableDtr; }
    void setEnableDTROnOpen(bool enable);
    quint16 OutputTimeout() const { return m_outputTimeout; }
    void setOutputTimeout(quint16 ms);

    /// Whether anything takes OnReceiveData; the bytes of a poll are dropped when nothing does.
    bool receiveHandlerAssigned() const;

    /// Device path of the last open attempt and the system's reason it failed (empty after
    /// a successful open). The driver itself shows nothing.
    QString lastOpenPath() const { return m_lastOpenPath; }
    QString lastOpenError() const { return m_lastOpenError; }

    /// True while the poll timer runs (only while the port is open).
    bool isPolling() const;

signals:
    /// One chunk of received bytes. They are valid only during the call, so only a direct
    /// connection may take them; the next chunk waits until every receiver has returned.
    void OnReceiveData(CommPortDriver *Sender, const char *DataPtr, int DataSize);
    /// The open port failed underneath (device gone); the driver has closed it.
    void portLost(const QString &reason);

private:
    void poll();
    void onPortError(int error);
    /// Waits up to `limit` for queued output to go out, then discards what is left.
    void settleOutput(std::chrono::milliseconds limit);

    SerialPortImpl *m_port = nullptr;
    QTimer *m_pollTimer = nullptr;
    QByteArray m_receiveBuffer;
    bool m_inHandler = false;

    TComPortNumber m_comPort = pnCOM2;
    QString m_devicePath;
    TComPortBaudRate m_speed = br9600;
    TComPortDataBits m_dataBits = db8BITS;
    TComPortStopBits m_stopBits = sb1BITS;
    TComPortParity m_parity = ptNONE;
    TComPortHwHandshaking m_hw = hhNONE;
    TComPortSwHandshaking m_sw = shNONE;
    quint16 m_inBufSize = 2048;
    quint16 m_outBufSize = 2048;
    quint16 m_pollingDelay = 50;
    bool m_enableDtr = true;
    quint16 m_outputTimeout = 4000;

    QString m_lastOpenPath;
    QString m_lastOpenError;
};
