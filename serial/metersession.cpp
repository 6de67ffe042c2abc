#include "metersession.h"

#include "commportdriver.h"
#include "readingdecoder.h"
#include "remotekeys.h"

MeterSession::MeterSession(QObject *parent)
    : QObject(parent), m_driver(new CommPortDriver(this)), m_link(new MeterLink(*m_driver, this)) {
    // Connected before anyone can connect to the session's own signals: a lost or reopened
    // port starts its framing afresh before an owner hears of it.
    connect(m_link, &MeterLink::portLost, this, [this](const QString &reason) {
        m_frames.reset();
        emit portLost(reason);
    });
    connect(m_link, &MeterLink::portReopened, this, [this] {
        m_frames.reset();
        emit portReopened();
    });
    connect(m_link, &MeterLink::aliveChanged, this, &MeterSession::aliveChanged);
    connect(m_link, &MeterLink::reopenFailed, this, &MeterSession::reopenFailed);
    connect(m_link, &MeterLink::portStateChanged, this, &MeterSession::portStateChanged);
}

MeterSession::~MeterSession() {
    m_link->closePort();
}

void MeterSession::setLineSettings(const LineSettings &line) {
    m_driver->setComPortSpeed(line.speed);
    m_driver->setComPortDataBits(line.dataBits);
}

LineSettings MeterSession::lineSettings() const {
    return {m_driver->ComPortSpeed(), m_driver->ComPortDataBits()};
}

void MeterSession::setDevicePath(const QString &path) {
    m_driver->setDevicePath(path);
}

bool MeterSession::open(bool keepTrying) {
    m_frames.reset();
    return m_link->openPort(keepTrying);
}

void MeterSession::close() {
    m_link->closePort();
    m_frames.reset();
}

void MeterSession::receive(const char *data, int size) {
    if (size <= 0)
        return;
    m_frames.feed(data, size, m_clock(),
                  [this](const QString &hex, FrameKind kind) { handOn(hex, kind); });
}

void MeterSession::setReceiveClock(ReceiveClock clock) {
    m_clock = clock ? std::move(clock) : ReceiveClock(&Clock::now);
}

void MeterSession::stepRelState() {
    m_relState = RemoteKeys::nextRelState(m_relState);
}

void MeterSession::handOn(const QString &hex, FrameKind kind) {
    if (kind != FrameKind::Noise)
        m_lastFrameText = hex;
    emit frameText(hex, kind);
    switch (kind) {
    case FrameKind::Display:
        m_link->reportAlive();
        emit meterAnswered();
        emit displayFrame(ReadingDecoder::decode(hex, m_relState));
        break;
    case FrameKind::Secondary:
        m_link->reportAlive();
        emit meterAnswered();
        m_lastBarText = mltTextOf(hex);
        emit barFrame(m_lastBarText);
        break;
    case FrameKind::Other:
    case FrameKind::Noise:
        break;
    }
}
