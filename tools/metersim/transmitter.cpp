#include "transmitter.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// A receiver that stopped reading must not make the emulator grow without bound.
constexpr size_t kMaxQueuedBytes = 64 * 1024;
// One frame in so many is preceded by a short junk run, one in so many by a long one.
constexpr int kShortJunkOneIn = 8;
constexpr int kLongJunkOneIn = 25;
constexpr int kShortJunkMaxBytes = 19;
// The receiver gives up on a fragment after 64 bytes without a line feed.
constexpr int kLongJunkMinBytes = 65;
constexpr int kLongJunkMaxBytes = 100;

} // namespace

Transmitter::Transmitter(const Settings &settings)
    : m_settings(settings), m_random(settings.seed) {}

uint8_t Transmitter::junkByte(bool lineFeedToo) {
    // The bytes that open frames and the one that ends them come as often as any other.
    std::uniform_int_distribution<int> any(0, 255);
    for (;;) {
        const auto byte = static_cast<uint8_t>(any(m_random));
        if (lineFeedToo || byte != 0x0A)
            return byte;
    }
}

std::vector<uint8_t> Transmitter::junkRun() {
    std::uniform_int_distribution<int> dice(0, kShortJunkOneIn * kLongJunkOneIn - 1);
    const int roll = dice(m_random);
    std::vector<uint8_t> junk;
    if (roll < kShortJunkOneIn) {
        std::uniform_int_distribution<int> length(kLongJunkMinBytes, kLongJunkMaxBytes);
        for (int i = length(m_random); i > 0; --i)
            junk.push_back(junkByte(false));
    } else if (roll % kShortJunkOneIn == 0) {
        std::uniform_int_distribution<int> length(1, kShortJunkMaxBytes);
        for (int i = length(m_random); i > 0; --i)
            junk.push_back(junkByte(true));
        if (std::bernoulli_distribution(0.5)(m_random))
            junk.push_back(0x0A);
    }
    return junk;
}

size_t Transmitter::queueFrame(const std::vector<uint8_t> &frame) {
    if (frame.empty())
        return 0;
    if (m_queuedBytes + frame.size() > kMaxQueuedBytes) {
        if (!m_overflowReported)
            std::fprintf(stderr, "qm-meter-sim: nobody reads the port, replies dropped\n");
        m_overflowReported = true;
        return 0;
    }
    m_overflowReported = false;
    auto push = [this](std::vector<uint8_t> bytes, int gapMs) {
        m_queuedBytes += bytes.size();
        m_queue.push_back({std::move(bytes), gapMs});
    };
    if (m_settings.noise) {
        std::vector<uint8_t> junk = junkRun();
        if (!junk.empty())
            push(std::move(junk), 0);
    }
    std::vector<uint8_t> sent = frame;
    if (m_settings.truncate > 0 && frame.size() > 1 &&
        std::bernoulli_distribution(m_settings.truncate)(m_random)) {
        std::uniform_int_distribution<size_t> kept(1, frame.size() - 1);
        sent.resize(kept(m_random));
    }
    const size_t size = sent.size();
    if (m_settings.split && sent.size() > 1) {
        std::uniform_int_distribution<size_t> cut(1, sent.size() - 1);
        const auto at = static_cast<long>(cut(m_random));
        push(std::vector<uint8_t>(sent.begin(), sent.begin() + at), 0);
        push(std::vector<uint8_t>(sent.begin() + at, sent.end()), m_settings.splitMs);
    } else {
        push(std::move(sent), 0);
    }
    return size;
}

void Transmitter::queueBurst(const std::vector<std::vector<uint8_t>> &frames) {
    std::vector<uint8_t> burst;
    for (const auto &frame : frames) {
        if (m_settings.noise) {
            const std::vector<uint8_t> junk = junkRun();
            burst.insert(burst.end(), junk.begin(), junk.end());
        }
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    if (burst.empty() || m_queuedBytes + burst.size() > kMaxQueuedBytes)
        return;
    m_queuedBytes += burst.size();
    m_queue.push_back({std::move(burst), 0});
}

bool Transmitter::queueRaw(std::vector<uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxRawBytes)
        return false;
    m_queuedBytes += bytes.size();
    m_queue.push_back({std::move(bytes), 0});
    return true;
}

int64_t Transmitter::nextDueMs() const {
    return m_queue.empty() ? m_lastWriteMs : m_lastWriteMs + m_queue.front().gapMs;
}

void Transmitter::clear() {
    m_queue.clear();
    m_queuedBytes = 0;
    m_blocked = false;
}

void Transmitter::flush(int fd, int64_t nowMs) {
    m_blocked = false;
    while (!m_queue.empty() && nowMs >= nextDueMs()) {
        Chunk &head = m_queue.front();
        const ssize_t written = ::write(fd, head.bytes.data(), head.bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_blocked = true; // the pseudo-terminal's buffer is full
                return;
            }
            std::perror("qm-meter-sim: write");
            m_queuedBytes -= head.bytes.size();
            m_queue.pop_front();
            continue;
        }
        m_lastWriteMs = nowMs;
        m_queuedBytes -= static_cast<size_t>(written);
        if (static_cast<size_t>(written) < head.bytes.size()) {
            head.bytes.erase(head.bytes.begin(), head.bytes.begin() + written);
            head.gapMs = 0;
            m_blocked = true;
            return;
        }
        m_queue.pop_front();
    }
}
