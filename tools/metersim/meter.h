#pragma once

#include "meterstate.h"

#include <cstdint>
#include <string>
#include <vector>

/// The meter itself: where its readings come from, what its keys do, and the display
/// state it reports when asked.
///
/// Readings come from one of three sources. The built-in generator runs a slow sine in
/// whatever function the keys select and ranges automatically unless RANGE made it manual.
/// A fixed state shows one state line; keys change it for good. A script applies its lines
/// one after another, each a complete state, so function and range keys only last until
/// the next line, while HOLD, REL and MAX-MIN work on top of the lines (REL and the
/// statistics restart when the function changes).
///
/// Times are milliseconds since the emulator started.
class Meter {
public:
    /// With no lines: the generator, or with `fixed` the default state (DC volts, 1.234).
    /// With lines: the script, or with `fixed` its first line only.
    Meter(std::vector<MeterState> script, bool fixed, int64_t stepMs);

    /// Shows `state` from now on, without the generator or script, and with HOLD, REL and
    /// MAX-MIN released.
    void setState(const MeterState &state, int64_t nowMs);

    /// Moves the script on and samples the statistics; call it often (every few tens of ms).
    void advance(int64_t nowMs);

    /// Acts on a key code 0xA0..0xAD (even: long press, odd: short press). Returns what the
    /// key did, for the diagnostics; empty when `code` is not a key.
    std::string pressKey(uint8_t code, int64_t nowMs);

    /// The display as it stands at `nowMs`.
    MeterState display(int64_t nowMs);

private:
    enum class Source { Generator, Script, Fixed };

    void applyLine(const MeterState &line);
    double input(int64_t nowMs) const;
    double measured(int64_t nowMs) const;
    MeterState live(int64_t nowMs);
    void sample(int64_t nowMs);
    void startRecord(int64_t nowMs);
    void resetLayersOnNewQuantity();
    void changeQuantity(MeterFunction function, MeterMode mode, int64_t nowMs);
    bool autoRanges() const;

    Source m_source = Source::Generator;
    std::vector<MeterState> m_script;
    int64_t m_stepMs = 1000;
    int64_t m_scriptStartMs = 0;
    int64_t m_stepIndex = -1;

    MeterState m_base;
    // The value a fixed or script state was written with, for its own function and mode.
    double m_fixedInput = 0.0;
    MeterFunction m_fixedFunction = MeterFunction::VoltsDc;
    MeterMode m_fixedMode = MeterMode::Normal;

    bool m_hold = false;
    MeterState m_frozen;
    bool m_rel = false;
    double m_relReference = 0.0;
    RecordStat m_record = RecordStat::Off;
    double m_max = 0.0;
    double m_min = 0.0;
    double m_sum = 0.0;
    long long m_samples = 0;
    // Function and mode that REL's reference and the statistics belong to.
    MeterFunction m_layerFunction = MeterFunction::VoltsDc;
    MeterMode m_layerMode = MeterMode::Normal;
};
