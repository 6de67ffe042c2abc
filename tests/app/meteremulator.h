#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

/// The meter emulator as a separate process on a pseudo-terminal, put behind COM1 for the
/// window under test; it logs the bytes it receives. Needs QM_METER_SIM, the emulator's path.
class MeterEmulator {
public:
    explicit MeterEmulator(const QStringList &extra = {})
        : m_link(m_dir.filePath("meter")), m_log(m_dir.filePath("rx.log")) {
        m_process.setProgram(QStringLiteral(QM_METER_SIM));
        m_process.setArguments(QStringList{"--link", m_link, "--log", m_log, "--seed", "7"} +
                               extra);
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
    /// Waits for the emulator's link and makes it the device behind COM1.
    bool readyAsCom1() {
        if (!m_process.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!QFile::exists(m_link) && t.elapsed() < 5000)
            QTest::qWait(20);
        if (!QFile::exists(m_link))
            return false;
        qputenv("QM_COM1", m_link.toLocal8Bit());
        return true;
    }
    void command(const char *line) {
        m_process.write(QByteArray(line) + '\n');
        m_process.waitForBytesWritten(1000);
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

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_link;
    QString m_log;
};
