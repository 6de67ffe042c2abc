#pragma once

#include <cstdint>
#include <optional>
#include <string>

/// Command line of the emulator.
struct SimOptions {
    std::string linkPath;
    std::string scriptPath;
    std::string logPath;
    int64_t stepMs = 1000;
    bool fixed = false;
    bool split = false;
    int splitMs = 30;
    bool noise = false;
    /// Share of answers cut short, 0 to 1.
    double truncate = 0.0;
    bool flood = false;
    std::optional<uint32_t> seed;
    bool help = false;

    /// Throws std::invalid_argument for unknown options or bad values.
    static SimOptions parse(int argc, const char *const *argv);
    static const char *helpText();
};
