#include "meterstate.h"

#include "functiontable.h"

#include <optional>
#include <stdexcept>

namespace {

std::string_view withoutComment(std::string_view line) {
    const auto hash = line.find('#');
    return hash == std::string_view::npos ? line : line.substr(0, hash);
}

std::vector<std::string_view> tokens(std::string_view text) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
            ++i;
        size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r')
            ++end;
        if (end > i)
            out.push_back(text.substr(i, end - i));
        i = end;
    }
    return out;
}

int parseSmallInt(std::string_view key, std::string_view text) {
    if (text.empty() || text.size() > 6)
        throw std::invalid_argument(std::string(key) + "= needs a number, got '" +
                                    std::string(text) + "'");
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            throw std::invalid_argument(std::string(key) + "= needs a number, got '" +
                                        std::string(text) + "'");
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<uint8_t> parseHex(std::string_view key, std::string_view text) {
    constexpr size_t kMaxFrameBytes = 64;
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > kMaxFrameBytes)
        throw std::invalid_argument(std::string(key) +
                                    "= needs 1 to 64 bytes as pairs of hex digits");
    std::optional<std::vector<uint8_t>> bytes = bytesFromHex(text);
    if (!bytes)
        throw std::invalid_argument(std::string(key) + "= holds a character that is not hex");
    return std::move(*bytes);
}

RecordStat parseRecord(std::string_view text) {
    if (text == "on")
        return RecordStat::On;
    if (text == "max")
        return RecordStat::Max;
    if (text == "min")
        return RecordStat::Min;
    if (text == "avg")
        return RecordStat::Avg;
    if (text == "off")
        return RecordStat::Off;
    throw std::invalid_argument("rec= takes on, max, min, avg or off, got '" + std::string(text) +
                                "'");
}

} // namespace

bool MeterState::isBlank(std::string_view line) {
    return tokens(withoutComment(line)).empty();
}

MeterState MeterState::parse(std::string_view line) {
    MeterState s;
    std::optional<MeterMode> mode;
    std::optional<MeterMode> modeFromFunction;
    std::optional<int> range;
    std::optional<std::string_view> valueText;

    for (std::string_view token : tokens(withoutComment(line))) {
        const auto eq = token.find('=');
        if (eq == std::string_view::npos) {
            if (token == "five")
                s.five = true;
            else if (token == "manual")
                s.manual = true;
            else if (token == "hold")
                s.hold = true;
            else if (token == "ol")
                s.overload = true;
            else if (token == "lowbat")
                s.lowBattery = true;
            else if (token == "cont")
                s.continuity = true;
            else
                throw std::invalid_argument("unknown word '" + std::string(token) + "'");
            continue;
        }
        const std::string_view key = token.substr(0, eq);
        const std::string_view value = token.substr(eq + 1);
        if (key == "func") {
            // "hz" and "duty" stand for AC volts with the Hz-% key pressed once or twice.
            if (value == "hz" || value == "duty") {
                s.function = MeterFunction::VoltsAc;
                modeFromFunction = value == "hz" ? MeterMode::Frequency : MeterMode::Duty;
            } else if (const auto function = FunctionTable::byName(value)) {
                s.function = *function;
                modeFromFunction.reset();
            } else {
                throw std::invalid_argument("unknown function '" + std::string(value) + "'");
            }
        } else if (key == "mode") {
            if (value == "normal")
                mode = MeterMode::Normal;
            else if (value == "hz")
                mode = MeterMode::Frequency;
            else if (value == "duty")
                mode = MeterMode::Duty;
            else
                throw std::invalid_argument("mode= takes normal, hz or duty, got '" +
                                            std::string(value) + "'");
        } else if (key == "range") {
            range = parseSmallInt(key, value);
        } else if (key == "value") {
            valueText = value;
        } else if (key == "rec") {
            s.record = parseRecord(value);
        } else if (key == "hex") {
            s.rawMain = parseHex(key, value);
        } else if (key == "mlt") {
            s.rawSecondary = parseHex(key, value);
        } else {
            throw std::invalid_argument("unknown setting '" + std::string(key) + "='");
        }
    }

    s.mode = mode.value_or(modeFromFunction.value_or(MeterMode::Normal));
    const auto &ranges = FunctionTable::ranges(s.function, s.mode);
    s.range = range.value_or(ranges.front().code);
    if (!FunctionTable::hasRange(s.function, s.mode, s.range)) {
        std::string list;
        for (const auto &step : ranges)
            list += (list.empty() ? "" : ",") + std::to_string(step.code);
        throw std::invalid_argument("range " + std::to_string(s.range) +
                                    " is not available here (ranges: " + list + ")");
    }
    if (s.continuity && (s.function != MeterFunction::Ohms || s.mode != MeterMode::Normal))
        throw std::invalid_argument("cont only goes with func=ohm");

    if (valueText) {
        std::string_view digits = *valueText;
        if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
            s.negative = digits.front() == '-';
            digits.remove_prefix(1);
        }
        s.counts = parseSmallInt("value", digits);
        const bool five = FunctionTable::effectiveFive(s.mode, s.five);
        if (s.counts > (five ? 99999 : 9999))
            throw std::invalid_argument("value " + std::string(digits) +
                                        " needs more digits than " +
                                        (five ? "five" : "four (add 'five')"));
        // Past full scale the meter shows an overload, not the digits.
        if (s.counts > FunctionTable::maxCounts(s.mode, s.five))
            s.overload = true;
    }
    if (s.overload)
        s.counts = 0;
    return s;
}

std::string MeterState::describe() const {
    std::string text(FunctionTable::name(function));
    if (mode == MeterMode::Frequency)
        text += " hz";
    else if (mode == MeterMode::Duty)
        text += " duty";
    text += " range=" + std::to_string(range) + (manual ? " manual" : " auto");
    text += overload ? (negative ? " -OL" : " OL")
                     : std::string(" ") + (negative ? "-" : "") + std::to_string(counts);
    if (FunctionTable::effectiveFive(mode, five))
        text += " five";
    if (hold)
        text += " hold";
    static constexpr const char *kRecordNames[] = {"", " rec=on", " rec=max", " rec=min",
                                                   " rec=avg"};
    text += kRecordNames[static_cast<int>(record)];
    if (continuity)
        text += " cont";
    if (lowBattery)
        text += " lowbat";
    if (!rawMain.empty() || !rawSecondary.empty())
        text += " (literal frames)";
    return text;
}

std::optional<std::vector<uint8_t>> bytesFromHex(std::string_view text) {
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (text.empty() || text.size() % 2 != 0)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}
