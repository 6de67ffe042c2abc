#include "win32serialport.h"

#include <QRegularExpression>

#include <windows.h>

#include <algorithm>
#include <limits>

namespace {

HANDLE handleOf(void *h) {
    return static_cast<HANDLE>(h);
}

QString systemMessage(DWORD code) {
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString message = n ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                        : QStringLiteral("system error %1").arg(code);
    if (text)
        LocalFree(text);
    return message;
}

BYTE parityCode(Win32SerialPort::Parity parity) {
    switch (parity) {
    case Win32SerialPort::EvenParity:
        return EVENPARITY;
    case Win32SerialPort::OddParity:
        return ODDPARITY;
    case Win32SerialPort::SpaceParity:
        return SPACEPARITY;
    case Win32SerialPort::MarkParity:
        return MARKPARITY;
    case Win32SerialPort::NoParity:
        break;
    }
    return NOPARITY;
}

BYTE stopBitsCode(Win32SerialPort::StopBits bits) {
    switch (bits) {
    case Win32SerialPort::OneAndHalfStop:
        return ONE5STOPBITS;
    case Win32SerialPort::TwoStop:
        return TWOSTOPBITS;
    case Win32SerialPort::OneStop:
        break;
    }
    return ONESTOPBIT;
}

DWORD clampedDword(qint64 n) {
    return static_cast<DWORD>(std::clamp<qint64>(n, 0, std::numeric_limits<DWORD>::max()));
}

} // namespace

Win32SerialPort::Win32SerialPort(QObject *parent)
    : QObject(parent), m_handle(INVALID_HANDLE_VALUE) {}

Win32SerialPort::~Win32SerialPort() {
    close();
}

void Win32SerialPort::setPortName(const QString &name) {
    // COM10 and above exist only in the device namespace; the prefix does no harm below.
    static const QRegularExpression bareCom(QStringLiteral("^COM[0-9]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
    m_name = bareCom.match(name).hasMatch() ? QStringLiteral("\\\\.\\") + name : name;
}

bool Win32SerialPort::open(int /*mode*/) {
    if (isOpen())
        return true;
    clearError();
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t *>(m_name.utf16()), GENERIC_READ | GENERIC_WRITE,
                    0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        SerialPortError e = OpenError;
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            e = DeviceNotFoundError;
        else if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
            e = PermissionError;
        setError(e, systemMessage(code));
        return false;
    }
    m_handle = h;
    if (m_readBufferSize > 0)
        SetupComm(h, clampedDword(m_readBufferSize), 0); // advisory: a driver may ignore it
    // A device that has no line state (a plain file, a printer) is no serial port.
    if (!applyState() || !applyTimeouts()) {
        close();
        return false;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return true;
}

void Win32SerialPort::close() {
    if (!isOpen())
        return;
    CloseHandle(handleOf(m_handle));
    m_handle = INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::isOpen() const {
    return m_handle != INVALID_HANDLE_VALUE;
}

void Win32SerialPort::clearError() {
    m_error = NoError;
    m_errorString.clear();
}

void Win32SerialPort::setError(SerialPortError error, const QString &text) {
    m_error = error;
    m_errorString = text;
    if (error != NoError)
        emit errorOccurred(error);
}

bool Win32SerialPort::failCall(SerialPortError error, const char *call) {
    const DWORD code = GetLastError();
    setError(error, QStringLiteral("%1: %2").arg(QLatin1String(call), systemMessage(code)));
    return false;
}

bool Win32SerialPort::applyState() {
    if (!isOpen())
        return true;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(m_handle), &dcb))
        return failCall(UnsupportedOperationError, "GetCommState");
    dcb.BaudRate = static_cast<DWORD>(m_baud);
    dcb.ByteSize = static_cast<BYTE>(m_dataBits);
    dcb.Parity = parityCode(m_parity);
    dcb.fParity = m_parity != NoParity;
    dcb.StopBits = stopBitsCode(m_stopBits);
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = m_flow == HardwareControl;
    dcb.fRtsControl = m_flow == HardwareControl ? RTS_CONTROL_HANDSHAKE
                      : m_rts                   ? RTS_CONTROL_ENABLE
                                                : RTS_CONTROL_DISABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = m_dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fOutX = m_flow == SoftwareControl;
    dcb.fInX = m_flow == SoftwareControl;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // Otherwise a single framing error would stop every read until ClearCommError.
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handleOf(m_handle), &dcb))
        return failCall(UnsupportedOperationError, "SetCommState");
    return true;
}

bool Win32SerialPort::applyTimeouts() {
    if (!isOpen())
        return true;
    // Reads return at once with what has arrived; a write waits at most the write time-out.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(1, m_writeTimeoutMs));
    if (!SetCommTimeouts(handleOf(m_handle), &t))
        return failCall(UnsupportedOperationError, "SetCommTimeouts");
    return true;
}

bool Win32SerialPort::setBaudRate(int baud) {
    if (baud <= 0)
        return false;
    m_baud = baud;
    return applyState();
}

bool Win32SerialPort::setDataBits(DataBits bits) {
    m_dataBits = bits;
    return applyState();
}

bool Win32SerialPort::setParity(Parity parity) {
    m_parity = parity;
    return applyState();
}

bool Win32SerialPort::setStopBits(StopBits bits) {
    m_stopBits = bits;
    return applyState();
}

bool Win32SerialPort::setFlowControl(FlowControl flow) {
    m_flow = flow;
    return applyState();
}

bool Win32SerialPort::setDataTerminalReady(bool on) {
    m_dtr = on;
    if (!isOpen())
        return false; // as QSerialPort: the line exists only on an open port
    // A port without modem lines (Wine's pseudo-terminal, some adapters) refuses; like
    // QSerialPort, that is an error the caller may ignore.
    if (!EscapeCommFunction(handleOf(m_handle), on ? SETDTR : CLRDTR))
        return failCall(UnsupportedOperationError, "EscapeCommFunction");
    return true;
}

bool Win32SerialPort::setRequestToSend(bool on) {
    m_rts = on;
    if (!isOpen())
        return false;
    if (m_flow == HardwareControl) {
        setError(UnsupportedOperationError,
                 QStringLiteral("RTS is driven by the hardware handshake"));
        return false;
    }
    if (!EscapeCommFunction(handleOf(m_handle), on ? SETRTS : CLRRTS))
        return failCall(UnsupportedOperationError, "EscapeCommFunction");
    return true;
}

void Win32SerialPort::setReadBufferSize(qint64 size) {
    m_readBufferSize = std::max<qint64>(0, size);
    if (isOpen() && m_readBufferSize > 0)
        SetupComm(handleOf(m_handle), clampedDword(m_readBufferSize), 0);
}

void Win32SerialPort::setWriteTimeout(int ms) {
    ms = std::max(1, ms);
    if (ms == m_writeTimeoutMs)
        return;
    m_writeTimeoutMs = ms;
    applyTimeouts();
}

bool Win32SerialPort::clear(Directions directions) {
    if (!isOpen()) {
        setError(NotOpenError, QStringLiteral("The port is not open"));
        return false;
    }
    DWORD flags = 0;
    if (directions & Input)
        flags |= PURGE_RXCLEAR | PURGE_RXABORT;
    if (directions & Output)
        flags |= PURGE_TXCLEAR | PURGE_TXABORT;
    if (flags && !PurgeComm(handleOf(m_handle), flags))
        return failCall(UnknownError, "PurgeComm");
    return true;
}

qint64 Win32SerialPort::read(char *data, qint64 max) {
    if (!isOpen()) {
        setError(NotOpenError, QStringLiteral("The port is not open"));
        return -1;
    }
    if (max <= 0)
        return 0;
    // ClearCommError also says how much is waiting, so an idle poll costs no ReadFile; it
    // fails once the device is gone (Wine: ERROR_NOT_READY after the far end hangs up).
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handleOf(m_handle), &errors, &status)) {
        failCall(ResourceError, "ClearCommError");
        return -1;
    }
    if (status.cbInQue == 0)
        return 0;
    DWORD got = 0;
    if (!ReadFile(handleOf(m_handle), data, std::min(clampedDword(max), status.cbInQue), &got,
                  nullptr)) {
        failCall(ResourceError, "ReadFile");
        return -1;
    }
    return static_cast<qint64>(got);
}

qint64 Win32SerialPort::write(const char *data, qint64 count) {
    if (!isOpen()) {
        setError(NotOpenError, QStringLiteral("The port is not open"));
        return -1;
    }
    if (count <= 0)
        return 0;
    DWORD written = 0;
    if (!WriteFile(handleOf(m_handle), data, clampedDword(count), &written, nullptr)) {
        failCall(WriteError, "WriteFile");
        return -1;
    }
    // Fewer bytes than asked: the write time-out ran out with the device not taking them.
    if (written < count)
        setError(TimeoutError, QStringLiteral("The device did not take the bytes in time"));
    return static_cast<qint64>(written);
}

qint64 Win32SerialPort::bytesToWrite() const {
    if (!isOpen())
        return 0;
    DWORD errors = 0;
    COMSTAT status{};
    // A device that is gone fails here; the next read reports that, so nothing is said here.
    if (!ClearCommError(handleOf(m_handle), &errors, &status))
        return 0;
    return static_cast<qint64>(status.cbOutQue);
}

bool Win32SerialPort::waitForBytesWritten(int msecs) {
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(std::max(0, msecs));
    while (bytesToWrite() > 0) {
        if (GetTickCount64() >= until)
            return false;
        Sleep(1);
    }
    return true;
}
