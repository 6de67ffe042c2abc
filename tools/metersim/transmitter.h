#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

/// The meter's sending side: queues frames and writes them out, optionally cut short, cut
/// in two with a pause between the halves, and with line noise between frames.
///
/// Chunks leave strictly in order, so halves of different frames never interleave and
/// noise only ever lands between two frames. Noise is of two kinds: a short junk run of
/// any bytes (0x89, 0x8A and 0x0A among them), often ended by 0x0A, and now and then a run
/// of more than 64 bytes without any 0x0A (the receiver must drop it instead of carrying it
/// for ever). A frame cut short (truncate) loses its tail, line feed included, for good:
/// what a loose plug or a meter switched off mid-frame does.
class Transmitter {
public:
    struct Settings {
        bool split = false;
        int splitMs = 30;
        bool noise = false;
        /// Share of frames cut short, 0 to 1.
        double truncate = 0.0;
        uint32_t seed = 0;
    };

    explicit Transmitter(const Settings &settings);

    /// Queues an answer; returns how many of its bytes will go out (all of them, fewer when
    /// it is cut short, none when the queue is full).
    size_t queueFrame(const std::vector<uint8_t> &frame);
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
    uint8_t junkByte(bool lineFeedToo);

    Settings m_settings;
    std::mt19937 m_random;
    std::deque<Chunk> m_queue;
    size_t m_queuedBytes = 0;
    int64_t m_lastWriteMs = 0;
    bool m_blocked = false;
    bool m_overflowReported = false;
};
