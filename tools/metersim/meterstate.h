#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// The measuring functions of the rotary switch, each with its own function code in the
/// display frame.
enum class MeterFunction {
    VoltsDc,
    VoltsAc,
    MilliVoltsDc,
    MilliVoltsAc,
    Ohms,
    Capacitance,
    Conductance,
    Diode,
    AmpsDc,
    AmpsAc,
    MilliAmpsDc,
    MilliAmpsAc,
};

/// What the Hz-% key has selected on top of the function.
enum class MeterMode { Normal, Frequency, Duty };

/// REC annunciator and the statistic it shows.
enum class RecordStat { Off, On, Max, Min, Avg };

/// One complete picture of the meter's display, as a display frame carries it, and the
/// parser of the state lines that scripts and the `state` command use.
///
/// `counts` is the magnitude of the reading in display counts, without the decimal point
/// (1.234 V in range 0 is 1234). A state may instead carry literal frames (`hex=`, `mlt=`)
/// that are sent byte for byte in place of the encoded ones.
struct MeterState {
    MeterFunction function = MeterFunction::VoltsDc;
    MeterMode mode = MeterMode::Normal;
    int range = 0;
    bool manual = false;
    bool five = false;
    int counts = 0;
    bool negative = false;
    bool overload = false;
    bool hold = false;
    bool lowBattery = false;
    bool continuity = false;
    RecordStat record = RecordStat::Off;
    std::vector<uint8_t> rawMain;
    std::vector<uint8_t> rawSecondary;

    /// Parses one state line; throws std::invalid_argument with a readable reason.
    static MeterState parse(std::string_view line);

    /// True for lines that hold nothing but blanks and a `#` comment.
    static bool isBlank(std::string_view line);

    /// Short human-readable form for the diagnostics on standard error.
    std::string describe() const;
};

/// The bytes written as pairs of hex digits in `text`; nothing when it is empty, of odd
/// length or holds any other character.
std::optional<std::vector<uint8_t>> bytesFromHex(std::string_view text);
