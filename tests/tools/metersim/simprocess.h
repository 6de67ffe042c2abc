#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

/// Runs qm-meter-sim as a separate process and talks to it the way the program does:
/// requests and keys through the pseudo-terminal it prints, commands through its
/// standard input. The port is opened with plain POSIX calls in raw mode.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    static QString binaryPath();
    /// Runs the emulator once with `arguments`, as from a command line, until it ends; false
    /// when it has not ended within `timeoutMs`.
    static bool runToEnd(QProcess &process, const QStringList &arguments, int timeoutMs = 3000);

    /// Starts the emulator with `arguments`, waits for the device path and opens it.
    bool start(const QStringList &arguments = {});
    QProcess &process() { return m_process; }
    QString devicePath() const { return m_devicePath; }

    bool openPort(const QString &path);
    void closePort();
    /// The descriptor of the open port, -1 when closed.
    int portFd() const { return m_fd; }

    bool send(const QByteArray &bytes);
    bool sendByte(unsigned char byte) { return send(QByteArray(1, static_cast<char>(byte))); }
    /// Bytes up to and including the next 0x0A, or what arrived until the timeout.
    QByteArray readFrame(int timeoutMs = 500);
    /// The first bytes that arrive within `timeoutMs`, as soon as there are any.
    QByteArray readSome(int timeoutMs);
    /// Everything that arrives within `ms`.
    QByteArray readFor(int ms);
    /// Sends a request or key byte and returns the frame that answers it.
    QByteArray ask(unsigned char byte, int timeoutMs = 500);
    /// Discards whatever is waiting on the port.
    void drain();

    /// Writes one command line to standard input and waits until it is in the pipe, so the
    /// emulator sees it before anything sent over the port afterwards.
    void command(const QByteArray &line);
    /// Ends the process with `quit`; true when it exited normally with code 0.
    bool quit(int timeoutMs = 2000);
    /// Stops the process without asking (test clean-up).
    void kill();

private:
    QProcess m_process;
    QString m_devicePath;
    int m_fd = -1;
    QByteArray m_pending;
};
