#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

/// A serial port on Windows, driven by plain Win32 calls, with the part of QSerialPort's
/// interface that CommPortDriver uses (same names, same enum values), so the driver can
/// take either.
///
/// Why not QSerialPort: it waits for WaitCommEvent through an I/O completion port, and
/// Wine never posts that completion, so under Wine it sends but never receives. The driver
/// polls on a timer anyway, so this port reads without waiting: the read time-outs are
/// MAXDWORD, 0, 0, and ReadFile returns at once with whatever has arrived. Writes are
/// synchronous and bounded by the write time-out; bytesToWrite() is what the system's driver
/// still holds (ClearCommError's output queue), as drivers that buffer writes report it.
///
/// A read whose ClearCommError or ReadFile fails means the device went away: the port
/// reports ResourceError through errorOccurred, as QSerialPort does for a hang-up. The modem
/// status lines are never read (GetCommModemStatus fails on Wine's ports).
///
/// The port is opened exclusively (no sharing); another program holding it gives
/// PermissionError.
class Win32SerialPort : public QObject {
    Q_OBJECT

public:
    enum DataBits { Data5 = 5, Data6 = 6, Data7 = 7, Data8 = 8 };
    Q_ENUM(DataBits)
    enum Parity { NoParity = 0, EvenParity = 2, OddParity = 3, SpaceParity = 4, MarkParity = 5 };
    Q_ENUM(Parity)
    enum StopBits { OneStop = 1, OneAndHalfStop = 3, TwoStop = 2 };
    Q_ENUM(StopBits)
    enum FlowControl { NoFlowControl, HardwareControl, SoftwareControl };
    Q_ENUM(FlowControl)
    enum Direction { Input = 1, Output = 2, AllDirections = Input | Output };
    Q_DECLARE_FLAGS(Directions, Direction)
    Q_FLAG(Directions)
    enum SerialPortError {
        NoError,
        DeviceNotFoundError,
        PermissionError,
        OpenError,
        WriteError,
        ReadError,
        ResourceError,
        UnsupportedOperationError,
        UnknownError,
        TimeoutError,
        NotOpenError
    };
    Q_ENUM(SerialPortError)

    explicit Win32SerialPort(QObject *parent = nullptr);
    ~Win32SerialPort() override;

    /// "COM1", "\\.\COM12" or any device name CreateFile takes; a bare COMn gets the
    /// "\\.\" prefix, which COM10 and above need.
    void setPortName(const QString &name);
    QString portName() const { return m_name; }

    /// Opens the port for reading and writing with the current settings; only ReadWrite
    /// is supported (the mode is taken for QSerialPort's signature).
    bool open(int mode);
    void close();
    bool isOpen() const;

    SerialPortError error() const { return m_error; }
    QString errorString() const { return m_errorString; }
    void clearError();

    bool setBaudRate(int baud);
    bool setDataBits(DataBits bits);
    bool setParity(Parity parity);
    bool setStopBits(StopBits bits);
    bool setFlowControl(FlowControl flow);
    bool setDataTerminalReady(bool on);
    bool setRequestToSend(bool on);

    /// The size the driver's receive queue is asked to have (SetupComm); applied at open
    /// and at once while open. 0 leaves the driver's default.
    void setReadBufferSize(qint64 size);
    qint64 readBufferSize() const { return m_readBufferSize; }

    /// How long one write may wait for the device to take its bytes (ms); applied to the
    /// port only when it changes, so a caller may set it before every write.
    void setWriteTimeout(int ms);
    int writeTimeout() const { return m_writeTimeoutMs; }

    /// Discards what waits in the given directions.
    bool clear(Directions directions = AllDirections);

    /// Up to `max` bytes that have arrived, without waiting: 0 when none, -1 on a failure
    /// (which closes nothing; the caller sees errorOccurred).
    qint64 read(char *data, qint64 max);
    /// Writes synchronously; returns the bytes the device took (fewer when the write
    /// time-out ran out), or -1 on a failure.
    qint64 write(const char *data, qint64 count);
    /// The bytes the system's driver has accepted but not yet sent (COMSTAT.cbOutQue); 0
    /// while closed or when the driver cannot say.
    qint64 bytesToWrite() const;
    /// Waits up to `msecs` for the driver's output queue to empty; true when it did.
    bool waitForBytesWritten(int msecs);

signals:
    void errorOccurred(Win32SerialPort::SerialPortError error);

private:
    bool applyState();
    bool applyTimeouts();
    bool failCall(SerialPortError error, const char *call);
    void setError(SerialPortError error, const QString &text);

    void *m_handle; // a HANDLE; INVALID_HANDLE_VALUE while closed
    QString m_name;
    int m_baud = 9600;
    DataBits m_dataBits = Data8;
    Parity m_parity = NoParity;
    StopBits m_stopBits = OneStop;
    FlowControl m_flow = NoFlowControl;
    bool m_dtr = true;
    bool m_rts = false;
    qint64 m_readBufferSize = 0;
    int m_writeTimeoutMs = 4000;
    SerialPortError m_error = NoError;
    QString m_errorString;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Win32SerialPort::Directions)
