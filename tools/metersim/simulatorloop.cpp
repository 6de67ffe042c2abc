#include "simulatorloop.h"

#include "bytelog.h"
#include "frameencoder.h"
#include "meter.h"
#include "meterstate.h"
#include "ptydevice.h"
#include "transmitter.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace {

constexpr uint8_t kDisplayRequest = 0x89;
constexpr uint8_t kSecondaryRequest = 0x8A;
// Script steps and the MAX-MIN statistics need the loop to wake up now and then even
// when nothing arrives.
constexpr int kTickMs = 20;
constexpr size_t kMaxCommandBytes = 4096;
// Flood mode refills the send queue below this many bytes: enough to fill the
// pseudo-terminal's buffer in one go, far below the transmitter's own bound.
constexpr size_t kFloodLowWater = 8 * 1024;
// Bytes of frames a flood writes with one system call (about a thousand pairs of ordinary
// frames); counted in bytes, so that long literal frames still fit the send queue.
constexpr size_t kFloodBurstBytes = 18 * 1024;
// What `deaf` fills the line from the program with: no request and no key code.
constexpr uint8_t kDeafFiller = 0x00;
// The longest `hangup` stays away.
constexpr int64_t kMaxHangupMs = 3600 * 1000;

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

std::string trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

/// The bytes of `burst N HEX`: HEX's bytes N times over; empty when the line is malformed.
std::vector<uint8_t> burstBytes(const std::string &arguments) {
    const auto blank = arguments.find_first_of(" \t");
    if (blank == std::string::npos)
        return {};
    const std::string count = arguments.substr(0, blank);
    const std::string hex = trimmed(arguments.substr(blank + 1));
    const std::optional<std::vector<uint8_t>> pattern = bytesFromHex(hex);
    if (!pattern || count.empty() || count.size() > 7 ||
        count.find_first_not_of("0123456789") != std::string::npos)
        return {};
    const size_t times = std::stoul(count);
    if (times == 0 || times > Transmitter::kMaxRawBytes / pattern->size())
        return {};
    std::vector<uint8_t> bytes;
    bytes.reserve(times * pattern->size());
    for (size_t i = 0; i < times; ++i)
        bytes.insert(bytes.end(), pattern->begin(), pattern->end());
    return bytes;
}

} // namespace

SimulatorLoop::SimulatorLoop(PtyDevice &pty, Meter &meter, Transmitter &transmitter, ByteLog &log,
                             std::chrono::steady_clock::time_point start, bool flood)
    : m_pty(pty), m_meter(meter), m_transmitter(transmitter), m_log(log), m_start(start),
      m_flood(flood) {}

void SimulatorLoop::installSignalHandlers() {
    if (::pipe(g_signalPipe) != 0)
        throw std::runtime_error("cannot create the signal pipe");
    for (int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    // A parent that stopped reading our output must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
}

int64_t SimulatorLoop::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_start)
        .count();
}

int SimulatorLoop::run() {
    if (::fcntl(STDIN_FILENO, F_GETFL) < 0)
        m_stdinOpen = false;

    while (!m_quit) {
        int64_t now = nowMs();
        comeBackIfDue(now);
        m_meter.advance(now);
        const bool up = m_pty.isOpen();
        if (up) {
            topUpFlood();
            // The program's purge on opening the port empties the line: fill it again.
            if (m_deaf)
                m_pty.fillLine(kDeafFiller);
            m_transmitter.flush(m_pty.masterFd(), now);
        }

        int timeoutMs = kTickMs;
        if (up && m_transmitter.hasPending() && !m_transmitter.blocked())
            timeoutMs =
                static_cast<int>(std::clamp<int64_t>(m_transmitter.nextDueMs() - now, 0, kTickMs));

        pollfd fds[3] = {};
        fds[0] = {g_signalPipe[0], POLLIN, 0};
        fds[1] = {m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0};
        const bool portListening = up && !m_deaf && now >= m_portQuietUntilMs;
        short portEvents = portListening ? POLLIN : 0;
        if (up && m_transmitter.blocked())
            portEvents |= POLLOUT;
        fds[2] = {portEvents != 0 ? m_pty.masterFd() : -1, portEvents, 0};

        if (::poll(fds, 3, timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("qm-meter-sim: poll");
            return 1;
        }
        if (fds[0].revents != 0)
            return 0;
        // Commands first: a test that sends "state ..." and then a request over the port
        // must get the new state. poll() looks at the descriptors one after the other, so
        // a command written just before the request can be missed by the same scan that
        // sees the request: look at standard input once more before reading the port.
        if (fds[1].revents == 0 && (fds[2].revents & POLLIN) != 0 && m_stdinOpen) {
            pollfd again = {STDIN_FILENO, POLLIN, 0};
            if (::poll(&again, 1, 0) > 0)
                fds[1].revents = again.revents;
        }
        if (fds[1].revents != 0)
            readCommands();
        if ((fds[2].revents & POLLIN) != 0) {
            readPort();
        } else if ((fds[2].revents & (POLLHUP | POLLERR)) != 0) {
            // Should not happen while we hold the slave open; do not spin if it does.
            m_portQuietUntilMs = nowMs() + kTickMs;
        }
        now = nowMs();
        if (m_pty.isOpen())
            m_transmitter.flush(m_pty.masterFd(), now);
    }
    return 0;
}

void SimulatorLoop::comeBackIfDue(int64_t now) {
    if (m_backAtMs < 0 || now < m_backAtMs)
        return;
    m_backAtMs = -1;
    try {
        m_pty.reopen();
    } catch (const std::runtime_error &error) {
        std::fprintf(stderr, "qm-meter-sim: cannot come back: %s\n", error.what());
        m_quit = true;
        return;
    }
    // The new device path, as at the start.
    std::printf("%s\n", m_pty.slavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "qm-meter-sim: back on %s\n", m_pty.slavePath().c_str());
}

void SimulatorLoop::topUpFlood() {
    if (!m_flood || !m_answering)
        return;
    if (m_transmitter.queuedBytes() >= kFloodLowWater)
        return;
    const MeterState state = m_meter.display(nowMs());
    const std::vector<uint8_t> display = FrameEncoder::mainFrame(state);
    const std::vector<uint8_t> secondary = FrameEncoder::secondaryFrame(state);
    std::vector<std::vector<uint8_t>> burst;
    for (size_t bytes = 0; bytes < kFloodBurstBytes; bytes += display.size() + secondary.size()) {
        burst.push_back(display);
        burst.push_back(secondary);
    }
    m_transmitter.queueBurst(burst);
}

void SimulatorLoop::readPort() {
    uint8_t buffer[256];
    const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_portQuietUntilMs = nowMs() + kTickMs;
        return;
    }
    for (ssize_t i = 0; i < n; ++i)
        handleByte(buffer[i]);
}

void SimulatorLoop::handleByte(uint8_t byte) {
    const int64_t now = nowMs();
    m_log.record(now, byte);
    if (byte == kDisplayRequest || byte == kSecondaryRequest) {
        if (!m_answering)
            return;
        const MeterState state = m_meter.display(now);
        if (byte == kSecondaryRequest) {
            m_transmitter.queueFrame(FrameEncoder::secondaryFrame(state));
            return;
        }
        const std::vector<uint8_t> frame = FrameEncoder::mainFrame(state);
        if (const size_t sent = m_transmitter.queueFrame(frame); sent > 0)
            m_log.shown(now, frame, sent);
        return;
    }
    const std::string what = m_meter.pressKey(byte, now);
    if (what.empty())
        std::fprintf(stderr, "qm-meter-sim: ignored byte %02X\n", byte);
    else
        std::fprintf(stderr, "qm-meter-sim: key %02X %s -> %s\n", byte, what.c_str(),
                     m_meter.display(now).describe().c_str());
}

void SimulatorLoop::readCommands() {
    // One read per wake-up: poll() said there is something, so it cannot block, and
    // standard input stays blocking (it may be a terminal shared with the shell).
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0) {
        if (errno != EINTR && errno != EAGAIN)
            m_stdinOpen = false;
        return;
    }
    if (n == 0) {
        // The demo runs us with standard input from /dev/null: keep going.
        m_stdinOpen = false;
        if (!m_commandBuffer.empty())
            handleCommand(std::exchange(m_commandBuffer, {}));
        return;
    }
    m_commandBuffer.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while (!m_quit && (newline = m_commandBuffer.find('\n')) != std::string::npos) {
        const std::string line = m_commandBuffer.substr(0, newline);
        m_commandBuffer.erase(0, newline + 1);
        handleCommand(line);
    }
    if (m_commandBuffer.size() > kMaxCommandBytes) {
        std::fprintf(stderr, "qm-meter-sim: command line too long, dropped\n");
        m_commandBuffer.clear();
    }
}

void SimulatorLoop::handleCommand(const std::string &rawLine) {
    const std::string line = trimmed(rawLine);
    if (line.empty())
        return;
    if (line == "quit") {
        m_quit = true;
    } else if (line == "silent") {
        m_answering = false;
    } else if (line == "answer") {
        m_answering = true;
    } else if (line == "deaf") {
        m_deaf = true;
        const size_t filled = m_pty.fillLine(kDeafFiller);
        std::fprintf(stderr, "qm-meter-sim: deaf, the line from the program full (%zu bytes)\n",
                     filled);
    } else if (line == "hear") {
        m_deaf = false;
        m_pty.discardInput();
        std::fprintf(stderr, "qm-meter-sim: hearing again\n");
    } else if (line.starts_with("hangup ") || line.starts_with("hangup\t")) {
        const std::string ms = trimmed(line.substr(7));
        if (ms.empty() || ms.size() > 7 ||
            ms.find_first_not_of("0123456789") != std::string::npos ||
            std::stoll(ms) > kMaxHangupMs) {
            std::fprintf(stderr, "qm-meter-sim: bad hangup line (hangup MS, at most %lld)\n",
                         static_cast<long long>(kMaxHangupMs));
            return;
        }
        m_transmitter.clear();
        m_pty.close();
        m_backAtMs = nowMs() + std::stoll(ms);
        std::fprintf(stderr, "qm-meter-sim: hung up for %s ms\n", ms.c_str());
    } else if (line.starts_with("state ") || line.starts_with("state\t")) {
        try {
            const MeterState state = MeterState::parse(line.substr(6));
            m_meter.setState(state, nowMs());
            std::fprintf(stderr, "qm-meter-sim: state %s\n", state.describe().c_str());
        } catch (const std::invalid_argument &error) {
            std::fprintf(stderr, "qm-meter-sim: bad state line: %s\n", error.what());
        }
    } else if (line.starts_with("burst ") || line.starts_with("burst\t")) {
        std::vector<uint8_t> bytes = burstBytes(trimmed(line.substr(6)));
        const size_t size = bytes.size();
        if (size == 0 || !m_transmitter.queueRaw(std::move(bytes)))
            std::fprintf(stderr, "qm-meter-sim: bad burst line (burst N HEX, at most %zu bytes)\n",
                         Transmitter::kMaxRawBytes);
        else
            std::fprintf(stderr, "qm-meter-sim: burst of %zu bytes\n", size);
    } else {
        std::fprintf(stderr, "qm-meter-sim: unknown command '%s'\n", line.c_str());
    }
}
