#include "commportdriver.h"

#include <QIODevice>
#include <QMetaMethod>
#include <QTimer>
#ifdef QM_WIN32_PORT
#include "win32serialport.h"
#else
#include <QSerialPort>
#endif

#include <algorithm>
#include <thread>

#ifndef QM_WIN32_PORT
#include <sys/ioctl.h>
#endif

#include "portnames.h"

namespace {

#ifdef QM_WIN32_PORT
constexpr bool isWin32Port = true;
#else
constexpr bool isWin32Port = false;
#endif

SerialPortImpl::Parity toQt(TComPortParity parity) {
    switch (parity) {
    case ptODD:
        return SerialPortImpl::OddParity;
    case ptEVEN:
        return SerialPortImpl::EvenParity;
    case ptMARK:
        return SerialPortImpl::MarkParity;
    case ptSPACE:
        return SerialPortImpl::SpaceParity;
    case ptNONE:
        break;
    }
    return SerialPortImpl::NoParity;
}

SerialPortImpl::StopBits toQt(TComPortStopBits bits) {
    switch (bits) {
    case sb1HALFBITS:
        return SerialPortImpl::OneAndHalfStop;
    case sb2BITS:
        return SerialPortImpl::TwoStop;
    case sb1BITS:
        break;
    }
    return SerialPortImpl::OneStop;
}

// While the handler runs, a modal box it opens spins a nested event loop; the next poll
// must not start inside it, or chunks would be handed over out of order.
class ReentryGuard {
public:
    explicit ReentryGuard(bool &flag) : m_flag(flag) { m_flag = true; }
    ~ReentryGuard() { m_flag = false; }

private:
    bool &m_flag;
};

} // namespace

CommPortDriver::CommPortDriver(QObject *parent)
    : QObject(parent), m_port(new SerialPortImpl(this)), m_pollTimer(new QTimer(this)) {
    m_receiveBuffer.resize(m_inBufSize);
    m_pollTimer->setInterval(m_pollingDelay);
    connect(m_pollTimer, &QTimer::timeout, this, &CommPortDriver::poll);
    // Queued: a device that hangs up makes the port report read errors in a tight loop;
    // the first one, handled from the event queue, closes the port and ends the flood.
    connect(
        m_port, &SerialPortImpl::errorOccurred, this,
        [this](SerialPortImpl::SerialPortError e) { onPortError(static_cast<int>(e)); },
        Qt::QueuedConnection);
}

CommPortDriver::~CommPortDriver() {
    ClosePort();
}

bool CommPortDriver::OpenPort() {
    if (PortIsOpen())
        return true;
    m_lastOpenPath = pathToOpen();
    m_lastOpenError.clear();
    m_port->setPortName(m_lastOpenPath);
    if (!m_port->open(QIODevice::ReadWrite)) {
        // Linux says so through its lock file; Windows refuses a held port with "Access
        // is denied.", which for a port that exists means another program has it.
        const bool lockHeld =
            m_port->error() == SerialPortImpl::PermissionError &&
            (isWin32Port || m_port->errorString().contains(QLatin1String("lock")));
        m_lastOpenError = lockHeld ? QStringLiteral("the port is in use by another program")
                                   : m_port->errorString();
        m_port->clearError();
        return false;
    }
    // The port's own buffer is bounded by the input queue: a device that sends faster than
    // the poll reads leaves the excess in the operating system, which holds it back or
    // drops it by the line's rules, instead of growing this process without end.
    m_port->setReadBufferSize(m_inBufSize);
    ApplyPortSettings();
    m_pollTimer->start(m_pollingDelay);
    return true;
}

void CommPortDriver::ClosePort() {
    if (!PortIsOpen())
        return;
    m_pollTimer->stop();
    settleOutput(kCloseDrain);
    m_port->close();
    m_port->clearError();
}

bool CommPortDriver::PortIsOpen() const {
    return m_port->isOpen();
}

bool CommPortDriver::isPolling() const {
    return m_pollTimer->isActive();
}

void CommPortDriver::ApplyPortSettings() {
    if (!PortIsOpen())
        return;
    // Failures to apply a setting are not fatal: a pseudo-terminal, for one, has no DTR line.
    m_port->setBaudRate(baudRateValue(m_speed));
    m_port->setDataBits(static_cast<SerialPortImpl::DataBits>(dataBitsValue(m_dataBits)));
    m_port->setParity(toQt(m_parity));
    m_port->setStopBits(toQt(m_stopBits));
    if (m_hw == hhRTSCTS)
        m_port->setFlowControl(SerialPortImpl::HardwareControl);
    else if (m_sw == shXONXOFF)
        m_port->setFlowControl(SerialPortImpl::SoftwareControl);
    else
        m_port->setFlowControl(SerialPortImpl::NoFlowControl);
    m_port->setDataTerminalReady(m_enableDtr);
    // Opening a device raises RTS; without RTS/CTS handshaking the line stays low, as
    // meter cables that draw their supply from DTR expect.
    if (m_hw != hhRTSCTS)
        m_port->setRequestToSend(false);
    PurgeBuffers(true, true);
    m_receiveBuffer.resize(m_inBufSize);
}

void CommPortDriver::PurgeBuffers(bool input, bool output) {
    if (!PortIsOpen())
        return;
    SerialPortImpl::Directions directions;
    if (input)
        directions |= SerialPortImpl::Input;
    if (output)
        directions |= SerialPortImpl::Output;
    if (directions)
        m_port->clear(directions);
}

quint16 CommPortDriver::OutputRoom() const {
    if (!PortIsOpen())
        return 65535;
    return static_cast<quint16>(std::max<qint64>(0, m_outBufSize - outputPending()));
}

qint64 CommPortDriver::outputPending() const {
    if (!PortIsOpen())
        return 0;
    qint64 pending = m_port->bytesToWrite();
#ifndef QM_WIN32_PORT
    // What the tty driver holds; QSerialPort counts only its own buffer, and a line that
    // stopped moving fills the driver's first (4 KB on a UART, more on a USB adapter).
    int queued = 0;
    if (::ioctl(m_port->handle(), TIOCOUTQ, &queued) == 0 && queued > 0)
        pending += queued;
#endif
    return pending;
}

int CommPortDriver::WriteBytes(const char *data, int count) {
    return writeBytesWithin(data, count, std::chrono::milliseconds(m_outputTimeout));
}

int CommPortDriver::writeBytesWithin(const char *data, int count,
                                     std::chrono::milliseconds maxWait) {
    if (!PortIsOpen() || count <= 0)
        return 0;
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    int sent = 0;
    auto deadline = Clock::now() + maxWait;
    const auto left = [&deadline] {
        return std::max<milliseconds::rep>(
            1, std::chrono::ceil<milliseconds>(deadline - Clock::now()).count());
    };
    while (sent < count) {
        const int room = OutputRoom();
        if (room > 0) {
            const int chunk = std::min(count - sent, room);
#ifdef QM_WIN32_PORT
            // A synchronous write waits for the device to take its bytes: never longer than
            // this send may still wait.
            m_port->setWriteTimeout(static_cast<int>(std::min<milliseconds::rep>(left(), 65535)));
#endif
            const qint64 written = m_port->write(data + sent, chunk);
            if (written < 0)
                return -sent;
            if (written > 0) {
                sent += static_cast<int>(written);
                deadline = Clock::now() + maxWait;
                continue;
            }
        } else {
            m_port->waitForBytesWritten(static_cast<int>(std::min<milliseconds::rep>(left(), 10)));
            if (!PortIsOpen())
                return -sent;
            if (OutputRoom() > 0)
                continue; // the line took bytes: the rest goes in at once
        }
        if (Clock::now() >= deadline)
            return -sent;
    }
    return sent;
}

void CommPortDriver::settleOutput(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + limit;
    while (outputPending() > 0 && Clock::now() < until) {
        // Hands the port's own buffer to the driver; returns at once once that is empty.
        if (!m_port->waitForBytesWritten(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (outputPending() > 0)
        PurgeBuffers(false, true);
}

QString CommPortDriver::pathToOpen() const {
    return m_devicePath.isEmpty() ? PortNames::canonicalDevicePath(m_comPort)
                                  : PortNames::canonicalPath(m_devicePath);
}

void CommPortDriver::setDevicePath(const QString &path) {
    if (!PortIsOpen())
        m_devicePath = path;
}

void CommPortDriver::setComPort(TComPortNumber port) {
    if (!PortIsOpen())
        m_comPort = port;
}

void CommPortDriver::setComPortSpeed(TComPortBaudRate speed) {
    m_speed = speed;
    ApplyPortSettings();
}

void CommPortDriver::setComPortDataBits(TComPortDataBits bits) {
    m_dataBits = bits;
    ApplyPortSettings();
}

void CommPortDriver::setComPortStopBits(TComPortStopBits bits) {
    m_stopBits = bits;
    ApplyPortSettings();
}

void CommPortDriver::setComPortParity(TComPortParity parity) {
    m_parity = parity;
    ApplyPortSettings();
}

void CommPortDriver::setComPortHwHandshaking(TComPortHwHandshaking hw) {
    m_hw = hw;
    ApplyPortSettings();
}

void CommPortDriver::setComPortSwHandshaking(TComPortSwHandshaking sw) {
    m_sw = sw;
    ApplyPortSettings();
}

void CommPortDriver::setComPortInBufSize(quint16 size) {
    if (PortIsOpen() || size == 0)
        return;
    m_inBufSize = size;
    m_receiveBuffer.resize(size);
}

void CommPortDriver::setComPortOutBufSize(quint16 size) {
    if (PortIsOpen() || size == 0)
        return;
    m_outBufSize = size;
}

void CommPortDriver::setComPortPollingDelay(quint16 ms) {
    if (ms == m_pollingDelay)
        return;
    m_pollingDelay = ms;
    if (PortIsOpen()) {
        m_pollTimer->stop();
        m_pollTimer->start(m_pollingDelay);
    }
}

void CommPortDriver::setEnableDTROnOpen(bool enable) {
    m_enableDtr = enable;
}

void CommPortDriver::setOutputTimeout(quint16 ms) {
    m_outputTimeout = ms;
}

void CommPortDriver::poll() {
    if (m_inHandler || !PortIsOpen())
        return;
    const qint64 n = m_port->read(m_receiveBuffer.data(), m_receiveBuffer.size());
    if (n <= 0)
        return;
    ReentryGuard guard(m_inHandler);
    emit OnReceiveData(this, m_receiveBuffer.constData(), static_cast<int>(n));
}

bool CommPortDriver::receiveHandlerAssigned() const {
    return isSignalConnected(QMetaMethod::fromSignal(&CommPortDriver::OnReceiveData));
}

void CommPortDriver::onPortError(int error) {
    const auto e = static_cast<SerialPortImpl::SerialPortError>(error);
    if (e != SerialPortImpl::ReadError && e != SerialPortImpl::ResourceError)
        return;
    if (!PortIsOpen())
        return;
    // The port's own text here is whatever the last failed call left (on a hang-up, an
    // ioctl's), so it would mislead the user.
    const QString reason = QStringLiteral("the device failed or went away");
    ClosePort();
    emit portLost(reason);
}
