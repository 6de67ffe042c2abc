#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

/// Appends one line per byte received from the program: milliseconds since the emulator
/// started, a blank, and the byte as two upper-case hex digits. Each line is flushed at
/// once, so a test may read the file while the emulator runs.
class ByteLog {
public:
    ByteLog() = default;
    ~ByteLog();
    ByteLog(const ByteLog &) = delete;
    ByteLog &operator=(const ByteLog &) = delete;

    /// Throws std::runtime_error when the file cannot be opened for appending.
    void open(const std::string &path);
    void record(int64_t ms, uint8_t byte);

private:
    std::FILE *m_file = nullptr;
};
