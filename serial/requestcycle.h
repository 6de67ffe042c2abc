#pragma once

#include <cstdint>
#include <optional>

/// The five-tick request cycle that asks the meter for frames: three secondary requests
/// (0x8A), one display request (0x89), then one silent tick.
class RequestCycle {
public:
    static constexpr std::uint8_t kSecondaryRequest = 0x8A;
    static constexpr std::uint8_t kDisplayRequest = 0x89;
    static constexpr int kSteps = 5;

    /// The byte to send at `step` (0..4), if any.
    static std::optional<std::uint8_t> byteAt(int step) {
        if (step < 3)
            return kSecondaryRequest;
        if (step == 3)
            return kDisplayRequest;
        return std::nullopt;
    }

    /// The step that follows `step`.
    static int next(int step) { return (step + 1) % kSteps; }
};
