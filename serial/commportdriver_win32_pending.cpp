// UNFINISHED: the Windows build's CommPortDriver until it is built on Win32SerialPort.
// It keeps the driver's properties so the window works, but no port ever opens: OpenPort
// fails and says why. Delete this file once commportdriver.cpp takes Win32SerialPort on
// Windows.

#include "commportdriver.h"

#include <QTimer>

#include "portnames.h"

CommPortDriver::CommPortDriver(QObject *parent) : QObject(parent), m_pollTimer(new QTimer(this)) {
    m_receiveBuffer.resize(m_inBufSize);
}

CommPortDriver::~CommPortDriver() = default;

bool CommPortDriver::OpenPort() {
    m_lastOpenPath = PortNames::canonicalDevicePath(m_comPort);
    m_lastOpenError = QStringLiteral("serial ports are not supported by this Windows build yet");
    return false;
}

void CommPortDriver::ClosePort() {}

bool CommPortDriver::PortIsOpen() const {
    return false;
}

bool CommPortDriver::isPolling() const {
    return false;
}

void CommPortDriver::ApplyPortSettings() {}

void CommPortDriver::PurgeBuffers(bool, bool) {}

quint16 CommPortDriver::OutputRoom() const {
    return 65535;
}

int CommPortDriver::WriteBytes(const char *, int) {
    return 0;
}

void CommPortDriver::setComPort(TComPortNumber port) {
    m_comPort = port;
}

void CommPortDriver::setComPortSpeed(TComPortBaudRate speed) {
    m_speed = speed;
}

void CommPortDriver::setComPortDataBits(TComPortDataBits bits) {
    m_dataBits = bits;
}

void CommPortDriver::setComPortStopBits(TComPortStopBits bits) {
    m_stopBits = bits;
}

void CommPortDriver::setComPortParity(TComPortParity parity) {
    m_parity = parity;
}

void CommPortDriver::setComPortHwHandshaking(TComPortHwHandshaking hw) {
    m_hw = hw;
}

void CommPortDriver::setComPortSwHandshaking(TComPortSwHandshaking sw) {
    m_sw = sw;
}

void CommPortDriver::setComPortInBufSize(quint16 size) {
    if (size != 0)
        m_inBufSize = size;
}

void CommPortDriver::setComPortOutBufSize(quint16 size) {
    if (size != 0)
        m_outBufSize = size;
}

void CommPortDriver::setComPortPollingDelay(quint16 ms) {
    m_pollingDelay = ms;
}

void CommPortDriver::setEnableDTROnOpen(bool enable) {
    m_enableDtr = enable;
}

void CommPortDriver::setOutputTimeout(quint16 ms) {
    m_outputTimeout = ms;
}

void CommPortDriver::poll() {}

void CommPortDriver::onPortError(int) {}
