#include "simprocess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimProcess::~SimProcess() {
    closePort();
    kill();
}

QString SimProcess::binaryPath() {
    const QString built = QStringLiteral(QM_METER_SIM);
    if (QFileInfo::exists(built))
        return built;
    const QString root = qEnvironmentVariable("QM_BUILD_DIR");
    return root + QStringLiteral("/tools/metersim/qm-meter-sim");
}

bool SimProcess::runToEnd(QProcess &process, const QStringList &arguments, int timeoutMs) {
    process.start(binaryPath(), arguments);
    return process.waitForFinished(timeoutMs);
}

bool SimProcess::start(const QStringList &arguments) {
    m_process.setProgram(binaryPath());
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(3000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!m_process.canReadLine() && timer.elapsed() < 3000)
        if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
            return false;
    if (!m_process.canReadLine())
        return false;
    m_devicePath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    return openPort(m_devicePath);
}

bool SimProcess::openPort(const QString &path) {
    closePort();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    termios raw{};
    ::tcgetattr(m_fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_fd, TCSANOW, &raw);
    m_pending.clear();
    return true;
}

void SimProcess::closePort() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool SimProcess::send(const QByteArray &bytes) {
    return m_fd >= 0 && ::write(m_fd, bytes.constData(), bytes.size()) == bytes.size();
}

QByteArray SimProcess::readFrame(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int end = m_pending.indexOf('\n');
        if (end >= 0) {
            const QByteArray frame = m_pending.left(end + 1);
            m_pending.remove(0, end + 1);
            return frame;
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || m_fd < 0)
            return std::exchange(m_pending, {});
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) > 0) {
            char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                m_pending.append(buffer, static_cast<int>(n));
        }
    }
}

QByteArray SimProcess::readSome(int timeoutMs) {
    if (!m_pending.isEmpty() || m_fd < 0)
        return std::exchange(m_pending, {});
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return {};
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, static_cast<int>(n)) : QByteArray();
}

QByteArray SimProcess::readFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    QByteArray out = std::exchange(m_pending, {});
    while (m_fd >= 0 && timer.elapsed() < ms) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(ms - timer.elapsed())) > 0) {
            char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                out.append(buffer, static_cast<int>(n));
        }
    }
    return out;
}

QByteArray SimProcess::ask(unsigned char byte, int timeoutMs) {
    drain();
    if (!sendByte(byte))
        return {};
    return readFrame(timeoutMs);
}

void SimProcess::drain() {
    m_pending.clear();
    char buffer[512];
    while (m_fd >= 0 && ::read(m_fd, buffer, sizeof buffer) > 0) {
    }
}

void SimProcess::command(const QByteArray &line) {
    m_process.write(line + '\n');
    m_process.waitForBytesWritten(1000);
}

bool SimProcess::quit(int timeoutMs) {
    command("quit");
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void SimProcess::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(2000);
}
