#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

/// The meter's sending side: queues frames and writes them out, optionally cut in two
/// with a pause between the halves and with line noise between frames.
///
/// Chunks leave strictly in order, so halves of different frames never interleave and
/// noise only ever lands between two frames. Noise is of two kinds: a short junk run that
/// ends with 0x0A (the receiver sees a frame of an unknown kind), and now and then a run of
/// more than 64 bytes without any 0x0A (the receiver must drop it instead of carrying it
/// for ever). Junk never contains 0x89 or 0x8A, so no part of it can pass for a frame.
class Transmitter {
public:
    struct Settings {
        bool split = false;
        int splitMs = 30;
        bool noise = false;
        uint32_t seed = 0;
    };

    explicit Transmitter(const Settings &settings);

    void queueFrame(const std::vector<uint8_t> &frame);
    /// Queues `frames` back to back as one write (with noise between them when noise is
    /// on), so a flood is not held back by one system call per frame. Never split.
    void queueBurst(const std::vector<std::vector<uint8_t>> &frames);
    /// Queues `bytes` as they are, in one chunk, past the queue's usual bound (up to
    /// kMaxRawBytes): the `burst` command's stress for the receiver. False when too large.
    bool queueRaw(std::vector<uint8_t> bytes);

    static constexpr size_t kMaxRawBytes = 1024 * 1024;

    /// Writes every chunk that is due to `fd` (non-blocking); keeps the rest.
    void flush(int fd, int64_t nowMs);
    /// Drops everything queued (the line went away).
    void clear();

    bool hasPending() const { return !m_queue.empty(); }
    size_t queuedBytes() const { return m_queuedBytes; }
    /// Time at which the head chunk may be written; only meaningful with hasPending().
    int64_t nextDueMs() const;
    /// The last write hit a full buffer: wait for the descriptor to become writable.
    bool blocked() const { return m_blocked; }

private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        int gapMs; // pause after the previous chunk
    };

    std::vector<uint8_t> junkRun();
    uint8_t junkByte();

    Settings m_settings;
    std::mt19937 m_random;
    std::deque<Chunk> m_queue;
    size_t m_queuedBytes = 0;
    int64_t m_lastWriteMs = 0;
    bool m_blocked = false;
    bool m_overflowReported = false;
};
