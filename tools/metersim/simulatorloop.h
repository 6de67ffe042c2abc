#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ByteLog;
class Meter;
class PtyDevice;
class Transmitter;

/// The emulator's single-threaded poll() loop: requests and keys from the port, commands
/// from standard input, termination signals, and the timed writes of the transmitter.
class SimulatorLoop {
public:
    SimulatorLoop(PtyDevice &pty, Meter &meter, Transmitter &transmitter, ByteLog &log,
                  std::chrono::steady_clock::time_point start, bool flood = false);

    /// Routes SIGTERM, SIGINT and SIGHUP into the loop; call once before run().
    static void installSignalHandlers();

    /// Runs until `quit` or a signal; returns the exit code.
    int run();

private:
    int64_t nowMs() const;
    void readPort();
    void handleByte(uint8_t byte);
    void readCommands();
    void handleCommand(const std::string &line);
    /// In flood mode, keeps frames queued so the port never runs dry.
    void topUpFlood();
    /// After `hangup`, brings the device back once its time has come.
    void comeBackIfDue(int64_t now);

    PtyDevice &m_pty;
    Meter &m_meter;
    Transmitter &m_transmitter;
    ByteLog &m_log;
    std::chrono::steady_clock::time_point m_start;
    bool m_flood = false;
    bool m_answering = true;
    /// `deaf`: reads nothing and keeps the line from the program full.
    bool m_deaf = false;
    /// `hangup`: the device is away until then (-1: it is there).
    int64_t m_backAtMs = -1;
    bool m_quit = false;
    bool m_stdinOpen = true;
    std::string m_commandBuffer;
    int64_t m_portQuietUntilMs = 0;
};
