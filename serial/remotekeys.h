#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

/// The meter's front-panel keys as the window offers them: each key sends its even code on
/// a long press (held for kLongPress or more) and the next odd code on a short press.
class RemoteKeys {
public:
    struct Key {
        std::string_view panel; ///< objectName of the key panel
        std::string_view caption;
        std::uint8_t longCode;
        bool visible;
    };

    static constexpr int kLongPressMs = 1000;

    /// In the order a pressed panel is looked up.
    static constexpr std::array<Key, 8> kKeys{{
        {"BtRange", "RANGE", 0xA0, true},
        {"BtHz", "Hz-%", 0xA2, true},
        {"BtHold", "Hold", 0xA4, true},
        {"BtRel", "REL", 0xA6, true},
        {"BtRecord", "MAX-MIN", 0xA8, true},
        {"BtPeak", "Peak-Buzzer", 0xAA, true},
        {"BtBuzzer", "Buzzer", 0xAA, false},
        {"BtSel", "AC-DC-Cap", 0xAC, true},
    }};

    static std::optional<Key> find(std::string_view panel) {
        for (const Key &k : kKeys)
            if (k.panel == panel)
                return k;
        return std::nullopt;
    }

    /// The visible key whose caption is `caption`, with letters compared without regard to
    /// case ("range" finds RANGE), for keys named on a command line.
    static std::optional<Key> findByCaption(std::string_view caption) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        for (const Key &k : kKeys) {
            if (!k.visible || k.caption.size() != caption.size())
                continue;
            bool same = true;
            for (std::size_t i = 0; same && i < caption.size(); ++i)
                same = lower(k.caption[i]) == lower(caption[i]);
            if (same)
                return k;
        }
        return std::nullopt;
    }

    /// The code sent on release: the long-press code itself, or with its lowest bit set.
    static std::uint8_t codeFor(std::uint8_t longCode, bool shortPress) {
        return shortPress ? static_cast<std::uint8_t>(longCode | 1) : longCode;
    }

    /// REL steps 0 -> 1 -> 2 -> 0; any other value returns to 0.
    static int nextRelState(int relState) {
        return (relState == 0 || relState == 1) ? relState + 1 : 0;
    }
};
