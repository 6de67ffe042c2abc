#include "functiontable.h"

#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

// A slow sine: the period is long enough to read the digits, short enough to see the
// needle and the graph move within a test run.
constexpr double kSinePeriodSeconds = 20.0;

struct SignalShape {
    double resting; // what a fixed state shows
    double centre;
    double swing;
};

struct FunctionInfo {
    MeterFunction function;
    std::string_view name;
    int code;
    int sub;
    std::vector<RangeStep> ranges;
    SignalShape signal;
};

const std::array<FunctionInfo, 12> &functions() {
    // Ranges follow the decimal points and prefixes of the display: DC volts range 0 is
    // x.xxx V (one count = 1 mV), AC volts range 0 is xxx.x mV, ohms range 1 is x.xxx kohm.
    static const std::array<FunctionInfo, 12> table{{
        {MeterFunction::VoltsDc,
         "vdc",
         14,
         0,
         {{0, -3}, {1, -2}, {2, -1}, {3, 0}},
         {1.234, 0.0, 6.0}},
        {MeterFunction::VoltsAc,
         "vac",
         15,
         0,
         {{0, -4}, {1, -3}, {2, -2}, {3, -1}, {4, 0}},
         {2.3, 2.3, 0.2}},
        {MeterFunction::MilliVoltsDc, "mvdc", 13, 0, {{0, -5}, {1, -4}}, {0.01234, 0.0, 0.05}},
        {MeterFunction::MilliVoltsAc, "mvac", 13, 1, {{0, -5}, {1, -4}}, {0.03, 0.03, 0.003}},
        {MeterFunction::Ohms,
         "ohm",
         12,
         0,
         {{0, -1}, {1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}},
         {4700.0, 4700.0, 100.0}},
        {MeterFunction::Capacitance,
         "cap",
         12,
         1,
         {{0, -12}, {1, -11}, {2, -10}, {3, -9}, {4, -8}, {5, -7}},
         {100e-9, 100e-9, 2e-9}},
        {MeterFunction::Conductance, "ns", 12, 0, {{6, -11}}, {12.34e-9, 12.34e-9, 0.5e-9}},
        {MeterFunction::Diode, "diode", 11, 0, {{0, -3}}, {0.6, 0.6, 0.01}},
        {MeterFunction::AmpsDc, "adc", 5, 0, {{0, -3}, {1, -2}}, {0.5, 0.0, 1.5}},
        {MeterFunction::AmpsAc, "aac", 5, 1, {{0, -3}, {1, -2}}, {1.2, 1.2, 0.1}},
        {MeterFunction::MilliAmpsDc, "madc", 6, 0, {{0, -5}, {1, -4}}, {0.0123, 0.0, 0.05}},
        {MeterFunction::MilliAmpsAc, "maac", 6, 1, {{0, -5}, {1, -4}}, {0.03, 0.03, 0.003}},
    }};
    return table;
}

const FunctionInfo &info(MeterFunction function) {
    for (const auto &entry : functions())
        if (entry.function == function)
            return entry;
    throw std::logic_error("unknown meter function");
}

// Frequency: xxx.xx Hz, x.xxxx kHz, xx.xxx kHz, xxx.xx kHz, x.xxxx MHz (range 0, a bare
// count of Hz, is left out: it would only duplicate range 3).
const std::vector<RangeStep> kFrequencyRanges{{1, -2}, {2, -1}, {3, 0}, {4, 1}, {5, 2}};
const std::vector<RangeStep> kDutyRanges{{0, -2}}; // xx.xx %
constexpr SignalShape kFrequencySignal{50.0, 50.0, 0.5};
constexpr SignalShape kDutySignal{50.0, 50.0, 5.0};

const SignalShape &shape(MeterFunction function, MeterMode mode) {
    switch (mode) {
    case MeterMode::Frequency:
        return kFrequencySignal;
    case MeterMode::Duty:
        return kDutySignal;
    case MeterMode::Normal:
        break;
    }
    return info(function).signal;
}

long long countsFor(double magnitude, int exponent) {
    return std::llround(magnitude / std::pow(10.0, exponent));
}

} // namespace

std::string_view FunctionTable::name(MeterFunction function) {
    return info(function).name;
}

std::optional<MeterFunction> FunctionTable::byName(std::string_view name) {
    for (const auto &entry : functions())
        if (entry.name == name)
            return entry.function;
    return std::nullopt;
}

int FunctionTable::functionCode(MeterFunction function) {
    return info(function).code;
}

int FunctionTable::subSelector(MeterFunction function) {
    return info(function).sub;
}

const std::vector<RangeStep> &FunctionTable::ranges(MeterFunction function, MeterMode mode) {
    switch (mode) {
    case MeterMode::Frequency:
        return kFrequencyRanges;
    case MeterMode::Duty:
        return kDutyRanges;
    case MeterMode::Normal:
        break;
    }
    return info(function).ranges;
}

bool FunctionTable::hasRange(MeterFunction function, MeterMode mode, int code) {
    for (const auto &step : ranges(function, mode))
        if (step.code == code)
            return true;
    return false;
}

int FunctionTable::nextRange(MeterFunction function, MeterMode mode, int code) {
    const auto &list = ranges(function, mode);
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].code == code)
            return list[(i + 1) % list.size()].code;
    return list.front().code;
}

int FunctionTable::autoRange(MeterFunction function, MeterMode mode, bool five, double value) {
    const auto &list = ranges(function, mode);
    const double magnitude = std::fabs(value);
    if (std::isfinite(magnitude)) {
        for (const auto &step : list)
            if (countsFor(magnitude, exponent(function, mode, step.code, five)) <=
                maxCounts(mode, five))
                return step.code;
    }
    return list.back().code;
}

bool FunctionTable::effectiveFive(MeterMode mode, bool five) {
    switch (mode) {
    case MeterMode::Frequency:
        return true;
    case MeterMode::Duty:
        return false;
    case MeterMode::Normal:
        break;
    }
    return five;
}

int FunctionTable::exponent(MeterFunction function, MeterMode mode, int code, bool five) {
    for (const auto &step : ranges(function, mode)) {
        if (step.code != code)
            continue;
        // In the normal mode the fifth digit moves every decimal point one place left.
        return mode == MeterMode::Normal && five ? step.exponent - 1 : step.exponent;
    }
    throw std::invalid_argument("range " + std::to_string(code) + " does not exist here");
}

int FunctionTable::maxCounts(MeterMode mode, bool five) {
    const bool digits5 = effectiveFive(mode, five);
    const int capacity = digits5 ? 99999 : 9999;
    return std::min(capacity, barFullScale(mode, five));
}

int FunctionTable::barFullScale(MeterMode mode, bool five) {
    const int hundreds = mode == MeterMode::Normal ? 80 : 100;
    return hundreds * (effectiveFive(mode, five) ? 1000 : 100);
}

double FunctionTable::signal(MeterFunction function, MeterMode mode, double seconds) {
    const SignalShape &s = shape(function, mode);
    return s.centre + s.swing * std::sin(2.0 * std::numbers::pi * seconds / kSinePeriodSeconds);
}

double FunctionTable::restingValue(MeterFunction function, MeterMode mode) {
    return shape(function, mode).resting;
}
