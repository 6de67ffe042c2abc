#include "frameencoder.h"

#include "functiontable.h"

#include <algorithm>

namespace {

constexpr uint8_t kDisplayOpen = 0x89;
constexpr uint8_t kSecondaryOpen = 0x8A;
constexpr uint8_t kLineFeed = 0x0A;
constexpr uint8_t kDarkDigit = 0x0F;
constexpr int kBarLength = 40;

uint8_t modeCode(MeterMode mode) {
    switch (mode) {
    case MeterMode::Frequency:
        return 4;
    case MeterMode::Duty:
        return 5;
    case MeterMode::Normal:
        break;
    }
    return 0;
}

uint8_t recordBits(RecordStat record) {
    switch (record) {
    case RecordStat::Off:
        return 0x00;
    case RecordStat::On:
        return 0x40;
    case RecordStat::Max:
        return 0x40 | 0x08;
    case RecordStat::Min:
        return 0x40 | 0x10;
    case RecordStat::Avg:
        return 0x40 | 0x18;
    }
    return 0x00;
}

} // namespace

std::vector<uint8_t> FrameEncoder::mainFrame(const MeterState &s) {
    if (!s.rawMain.empty())
        return s.rawMain;

    const bool five = FunctionTable::effectiveFive(s.mode, s.five);
    const auto byte2 = static_cast<uint8_t>((FunctionTable::functionCode(s.function) & 0x0F) << 3 |
                                            (FunctionTable::subSelector(s.function) & 0x01));
    const auto byte3 =
        static_cast<uint8_t>((s.manual ? 0x40 : 0x00) | (s.range & 0x07) << 3 | modeCode(s.mode));
    // Bit 0x04 of byte 4 means "1 mS" while REC is on, so continuity is only sent without it.
    const bool continuity = s.continuity && s.record == RecordStat::Off &&
                            s.function == MeterFunction::Ohms && s.mode == MeterMode::Normal;
    const auto byte4 = static_cast<uint8_t>(recordBits(s.record) | (continuity ? 0x04 : 0x00));
    const auto byte5 = static_cast<uint8_t>(
        (s.lowBattery ? 0x20 : 0x00) | (s.negative ? 0x10 : 0x00) | (s.overload ? 0x08 : 0x00) |
        (five ? 0x04 : 0x00) | (s.hold ? 0x01 : 0x00));

    uint8_t digits[5] = {kDarkDigit, 0, 0, 0, 0};
    if (!s.overload) {
        int rest = s.counts;
        for (int i = 4; i >= 1; --i) {
            digits[i] = static_cast<uint8_t>(rest % 10);
            rest /= 10;
        }
        if (five)
            digits[0] = static_cast<uint8_t>(rest % 10);
    }
    return {kDisplayOpen, byte2,     byte3,     byte4,     byte5,    digits[0],
            digits[1],    digits[2], digits[3], digits[4], kLineFeed};
}

int FrameEncoder::barValue(const MeterState &s) {
    if (s.overload)
        return kBarLength;
    const long long scale = FunctionTable::barFullScale(s.mode, s.five);
    const long long bar = (static_cast<long long>(s.counts) * kBarLength * 2 + scale) / (2 * scale);
    return static_cast<int>(std::min<long long>(bar, kBarLength));
}

std::vector<uint8_t> FrameEncoder::secondaryFrame(const MeterState &s) {
    if (!s.rawSecondary.empty())
        return s.rawSecondary;
    const auto byte5 =
        static_cast<uint8_t>((s.negative ? 0x10 : 0x00) | (s.overload ? 0x08 : 0x00));
    auto byte6 = static_cast<uint8_t>(barValue(s));
    if (byte6 == kLineFeed)
        byte6 |= 0x40;
    return {kSecondaryOpen, 0x00, 0x00, 0x00, byte5, byte6, kLineFeed};
}
