#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

/// A pseudo-terminal for driver tests: the driver opens the slave by path, the test talks
/// through the master as the meter would.
class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_path = QString::fromLocal8Bit(name);
    }
    ~PtyPair() {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString path() const { return m_path; }
    int slaveFd() const { return m_slave; }

    /// Puts this terminal behind the port that `variable` (QM_COM1 ... QM_COM4) names, as a
    /// user points the program at an adapter; false when no terminal could be made.
    bool exportAs(const char *variable) const {
        if (!isValid())
            return false;
        qputenv(variable, m_path.toLocal8Bit());
        return true;
    }

    bool write(const QByteArray &bytes) {
        return ::write(m_master, bytes.constData(), bytes.size()) == bytes.size();
    }

    /// Reads what the driver sent until `count` bytes arrived or `timeoutMs` passed, while
    /// the event loop runs (the driver writes from it).
    QByteArray read(int count, int timeoutMs = 2000) {
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (out.size() < count && timer.elapsed() < timeoutMs) {
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                out.append(buf, static_cast<int>(n));
            else
                QTest::qWait(5);
        }
        return out;
    }

    /// Fills the line towards the far end up to what the terminal holds, as a device that
    /// stopped reading leaves it (the far end, not reading, does nothing). Returns the bytes
    /// it took.
    qsizetype fillLine(char filler = '\0') {
        fcntl(m_slave, F_SETFL, fcntl(m_slave, F_GETFL) | O_NONBLOCK);
        const QByteArray block(256, filler);
        qsizetype total = 0;
        ssize_t n;
        while ((n = ::write(m_slave, block.constData(), block.size())) > 0)
            total += n;
        return total;
    }

    /// The far end goes away, as a pulled USB adapter does.
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    /// Keeps only the master, so closing it hangs the line up for the driver alone.
    void closeSlave() {
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};
