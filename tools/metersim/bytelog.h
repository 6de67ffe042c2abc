#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

/// Appends one line per byte received from the program: milliseconds since the emulator
/// started, a blank, and the byte as two upper-case hex digits; and one line per display
/// frame sent in answer, what the display showed: milliseconds, "shows" and the frame in
/// hex, followed by "cut" and the number of bytes sent when it was cut short. Each line is
/// flushed at once, so a test may read the file while the emulator runs.
class ByteLog {
public:
    ByteLog() = default;
    ~ByteLog();
    ByteLog(const ByteLog &) = delete;
    ByteLog &operator=(const ByteLog &) = delete;

    /// Throws std::runtime_error when the file cannot be opened for appending.
    void open(const std::string &path);
    void record(int64_t ms, uint8_t byte);
    void shown(int64_t ms, const std::vector<uint8_t> &frame, size_t sent);

private:
    std::FILE *m_file = nullptr;
};
