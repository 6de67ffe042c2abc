#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

/// The meter emulator as a separate process on a pseudo-terminal; it logs the bytes it
/// receives and the display frames it answers with. Needs QM_METER_SIM, the emulator's path. The
/// link is its own unless the caller names one, so that a new emulator can take the place of one
/// that went.
class MeterEmulator {
public:
    explicit MeterEmulator(const QStringList &extra = {}, const QString &link = {}, int seed = 7)
        : m_link(link.isEmpty() ? m_dir.filePath("meter") : link), m_log(m_dir.filePath("rx.log")) {
        m_process.setProgram(QStringLiteral(QM_METER_SIM));
        m_process.setArguments(
            QStringList{"--link", m_link, "--log", m_log, "--seed", QString::number(seed)} + extra);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
    }
    ~MeterEmulator() {
        if (m_process.state() != QProcess::NotRunning) {
            command("quit");
            if (!m_process.waitForFinished(2000))
                m_process.kill();
            m_process.waitForFinished(1000);
        }
    }
    MeterEmulator(const MeterEmulator &) = delete;
    MeterEmulator &operator=(const MeterEmulator &) = delete;

    QString link() const { return m_link; }

    /// True once the emulator's device is there and the link points at it. It says so by
    /// printing the device's path; the link alone is no sign, as one that was killed leaves
    /// its stale link behind.
    bool ready() {
        if (m_ready)
            return true;
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine() && t.elapsed() < 5000 &&
               m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(100);
        m_ready = m_process.canReadLine() && m_process.readLine().trimmed().startsWith("/dev/");
        return m_ready;
    }
    /// Waits for the emulator and makes it the device behind COM1.
    bool readyAsCom1() {
        if (!ready())
            return false;
        qputenv("QM_COM1", m_link.toLocal8Bit());
        return true;
    }
    void command(const QByteArray &line) {
        m_process.write(line + '\n');
        m_process.waitForBytesWritten(1000);
    }
    /// The meter goes away: the emulator ends, the hard way (SIGKILL, its link stays) or the
    /// polite one (SIGTERM), and its pseudo-terminal with it. False when it did not end in time.
    bool stop(bool hard = false) {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        if (hard)
            m_process.kill();
        else
            m_process.terminate();
        if (m_process.waitForFinished(3000))
            return true;
        m_process.kill();
        m_process.waitForFinished(1000);
        return false;
    }
    /// Bytes the emulator received, with the milliseconds at which they came.
    QList<QPair<qint64, int>> received() const {
        QList<QPair<qint64, int>> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.size() == 2)
                out.append({parts[0].toLongLong(), parts[1].toInt(nullptr, 16)});
        }
        return out;
    }

    /// The display frames the emulator answered with, in order, each with the number of its
    /// bytes that went out (fewer than all when it was cut short).
    QList<QPair<QByteArray, int>> shown() const {
        QList<QPair<QByteArray, int>> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.value(1) != "shows")
                continue;
            const QByteArray frame = QByteArray::fromHex(parts.value(2));
            out.append(
                {frame, parts.value(3) == "cut" ? parts.value(4).toInt() : int(frame.size())});
        }
        return out;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_link;
    QString m_log;
    bool m_ready = false;
};
