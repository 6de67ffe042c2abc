#include "meter.h"

#include "functiontable.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr uint8_t kFirstKey = 0xA0;
constexpr uint8_t kLastKey = 0xAD;

enum class Key { Range, HzPercent, Hold, Rel, MaxMin, PeakBuzzer, AcDcCap };

// The order in which the AC-DC-Cap key walks through the functions.
constexpr MeterFunction kSelectorCycle[] = {MeterFunction::VoltsDc, MeterFunction::VoltsAc,
                                            MeterFunction::Ohms, MeterFunction::Capacitance};

double physicalValue(const MeterState &s) {
    if (s.overload)
        return s.negative ? -std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::infinity();
    const double magnitude =
        s.counts * std::pow(10.0, FunctionTable::exponent(s.function, s.mode, s.range, s.five));
    // value=-0 keeps its sign through the negative zero.
    return s.negative ? -magnitude : magnitude;
}

// Sets counts, sign and overload of `s` for `value` shown in the range `s` stands in.
void showValue(MeterState &s, double value) {
    s.counts = 0;
    s.overload = false;
    s.negative = false;
    if (!std::isfinite(value)) {
        s.overload = true;
        s.negative = value < 0;
        return;
    }
    const double unit =
        std::pow(10.0, FunctionTable::exponent(s.function, s.mode, s.range, s.five));
    const long long counts = std::llround(std::fabs(value) / unit);
    if (counts > FunctionTable::maxCounts(s.mode, s.five)) {
        s.overload = true;
        s.negative = value < 0;
        return;
    }
    s.counts = static_cast<int>(counts);
    // A value that rounds to zero shows no minus sign, unless it was written as -0.
    s.negative = counts > 0 ? value < 0 : (value == 0.0 && std::signbit(value));
}

RecordStat nextStat(RecordStat stat) {
    switch (stat) {
    case RecordStat::Max:
        return RecordStat::Min;
    case RecordStat::Min:
        return RecordStat::Avg;
    case RecordStat::Off:
    case RecordStat::On:
    case RecordStat::Avg:
        break;
    }
    return RecordStat::Max;
}

const char *statName(RecordStat stat) {
    switch (stat) {
    case RecordStat::Max:
        return "MAX";
    case RecordStat::Min:
        return "MIN";
    case RecordStat::Avg:
        return "AVG";
    case RecordStat::On:
        return "REC";
    case RecordStat::Off:
        break;
    }
    return "off";
}

} // namespace

Meter::Meter(std::vector<MeterState> script, bool fixed, int64_t stepMs)
    : m_script(std::move(script)), m_stepMs(std::max<int64_t>(1, stepMs)) {
    if (m_script.empty()) {
        if (fixed) {
            MeterState defaultState;
            defaultState.counts = 1234;
            applyLine(defaultState);
            m_source = Source::Fixed;
        } else {
            m_source = Source::Generator;
        }
    } else {
        applyLine(m_script.front());
        m_source = fixed ? Source::Fixed : Source::Script;
        m_stepIndex = 0;
    }
    m_layerFunction = m_base.function;
    m_layerMode = m_base.mode;
}

void Meter::setState(const MeterState &state, int64_t nowMs) {
    m_source = Source::Fixed;
    applyLine(state);
    m_hold = false;
    m_rel = false;
    m_record = RecordStat::Off;
    m_layerFunction = m_base.function;
    m_layerMode = m_base.mode;
    advance(nowMs);
}

void Meter::applyLine(const MeterState &line) {
    m_base = line;
    m_fixedInput = physicalValue(line);
    m_fixedFunction = line.function;
    m_fixedMode = line.mode;
}

void Meter::advance(int64_t nowMs) {
    if (m_source == Source::Script) {
        const int64_t index = std::max<int64_t>(0, nowMs - m_scriptStartMs) / m_stepMs;
        if (index != m_stepIndex) {
            m_stepIndex = index;
            applyLine(m_script[static_cast<size_t>(index % static_cast<int64_t>(m_script.size()))]);
            resetLayersOnNewQuantity();
        }
    }
    if (m_record != RecordStat::Off)
        sample(nowMs);
}

void Meter::resetLayersOnNewQuantity() {
    if (m_base.function == m_layerFunction && m_base.mode == m_layerMode)
        return;
    m_rel = false;
    m_record = RecordStat::Off;
    m_layerFunction = m_base.function;
    m_layerMode = m_base.mode;
}

bool Meter::autoRanges() const {
    return m_source == Source::Generator && !m_base.manual;
}

double Meter::input(int64_t nowMs) const {
    if (m_source == Source::Generator)
        return FunctionTable::signal(m_base.function, m_base.mode, nowMs / 1000.0);
    if (m_base.function == m_fixedFunction && m_base.mode == m_fixedMode)
        return m_fixedInput;
    return FunctionTable::restingValue(m_base.function, m_base.mode);
}

double Meter::measured(int64_t nowMs) const {
    const double value = input(nowMs);
    return m_rel ? value - m_relReference : value;
}

void Meter::startRecord(int64_t nowMs) {
    m_samples = 0;
    m_sum = 0.0;
    m_layerFunction = m_base.function;
    m_layerMode = m_base.mode;
    sample(nowMs);
}

void Meter::sample(int64_t nowMs) {
    const double value = measured(nowMs);
    if (m_samples == 0) {
        m_max = value;
        m_min = value;
    } else {
        m_max = std::max(m_max, value);
        m_min = std::min(m_min, value);
    }
    m_sum += value;
    ++m_samples;
}

MeterState Meter::live(int64_t nowMs) {
    MeterState s = m_base;
    double value = measured(nowMs);
    if (m_record != RecordStat::Off && m_samples > 0) {
        value = m_record == RecordStat::Max   ? m_max
                : m_record == RecordStat::Min ? m_min
                                              : m_sum / static_cast<double>(m_samples);
        s.record = m_record;
    }
    s.five = FunctionTable::effectiveFive(s.mode, s.five);
    if (autoRanges())
        s.range = FunctionTable::autoRange(s.function, s.mode, s.five, value);
    showValue(s, value);
    return s;
}

MeterState Meter::display(int64_t nowMs) {
    advance(nowMs);
    return m_hold ? m_frozen : live(nowMs);
}

void Meter::changeQuantity(MeterFunction function, MeterMode mode, int64_t nowMs) {
    m_base.function = function;
    m_base.mode = mode;
    m_base.manual = false;
    m_base.continuity = false;
    m_base.hold = false;
    m_base.record = RecordStat::Off;
    // Literal frames belonged to what was measured before.
    m_base.rawMain.clear();
    m_base.rawSecondary.clear();
    m_hold = false;
    m_rel = false;
    m_record = RecordStat::Off;
    m_layerFunction = function;
    m_layerMode = mode;
    m_base.range = FunctionTable::autoRange(
        function, mode, FunctionTable::effectiveFive(mode, m_base.five), input(nowMs));
}

std::string Meter::pressKey(uint8_t code, int64_t nowMs) {
    if (code < kFirstKey || code > kLastKey)
        return {};
    advance(nowMs);
    const bool longPress = (code & 0x01) == 0;
    const auto key = static_cast<Key>((code - kFirstKey) / 2);
    const std::string press = longPress ? " (long)" : " (short)";

    switch (key) {
    case Key::Range: {
        if (m_base.mode != MeterMode::Normal)
            return "RANGE" + press + ": ignored, Hz and % range themselves";
        if (longPress) {
            m_base.manual = false;
            m_base.range = FunctionTable::autoRange(
                m_base.function, m_base.mode,
                FunctionTable::effectiveFive(m_base.mode, m_base.five), measured(nowMs));
            return "RANGE" + press + ": AUTO, range " + std::to_string(m_base.range);
        }
        m_base.manual = true;
        m_base.range = FunctionTable::nextRange(m_base.function, m_base.mode, m_base.range);
        return "RANGE" + press + ": manual range " + std::to_string(m_base.range);
    }
    case Key::HzPercent: {
        const MeterMode next = m_base.mode == MeterMode::Normal      ? MeterMode::Frequency
                               : m_base.mode == MeterMode::Frequency ? MeterMode::Duty
                                                                     : MeterMode::Normal;
        changeQuantity(m_base.function, next, nowMs);
        return "Hz-%" + press;
    }
    case Key::Hold:
        if (m_hold || m_base.hold) {
            m_hold = false;
            m_base.hold = false;
            return "Hold" + press + ": HOLD off";
        }
        m_frozen = live(nowMs);
        m_frozen.hold = true;
        m_hold = true;
        return "Hold" + press + ": HOLD on";
    case Key::Rel: {
        if (m_rel) {
            m_rel = false;
            if (m_record != RecordStat::Off)
                startRecord(nowMs);
            return "REL" + press + ": off";
        }
        const double reference = input(nowMs);
        if (!std::isfinite(reference))
            return "REL" + press + ": ignored on an overload";
        m_rel = true;
        m_relReference = reference;
        m_layerFunction = m_base.function;
        m_layerMode = m_base.mode;
        if (m_record != RecordStat::Off)
            startRecord(nowMs);
        return "REL" + press + ": on";
    }
    case Key::MaxMin: {
        if (longPress) {
            m_record = RecordStat::Off;
            m_base.record = RecordStat::Off;
            return "MAX-MIN" + press + ": REC off";
        }
        const RecordStat shown = m_record != RecordStat::Off ? m_record : m_base.record;
        m_base.record = RecordStat::Off;
        const bool starting = m_record == RecordStat::Off;
        m_record = nextStat(shown);
        if (starting)
            startRecord(nowMs);
        return "MAX-MIN" + press + ": REC " + statName(m_record);
    }
    case Key::PeakBuzzer:
        if (m_base.function != MeterFunction::Ohms || m_base.mode != MeterMode::Normal)
            return "Peak-Buzzer" + press + ": ignored outside ohms";
        m_base.continuity = !m_base.continuity;
        return "Peak-Buzzer" + press + ": continuity " + (m_base.continuity ? "on" : "off");
    case Key::AcDcCap: {
        MeterFunction next = kSelectorCycle[0];
        for (size_t i = 0; i < std::size(kSelectorCycle); ++i)
            if (kSelectorCycle[i] == m_base.function && m_base.mode == MeterMode::Normal)
                next = kSelectorCycle[(i + 1) % std::size(kSelectorCycle)];
        changeQuantity(next, MeterMode::Normal, nowMs);
        return "AC-DC-Cap" + press;
    }
    }
    return {};
}
