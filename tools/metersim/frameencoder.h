#pragma once

#include "meterstate.h"

#include <cstdint>
#include <vector>

/// Turns a display state into the two frames the meter sends.
///
/// Main display frame, 11 bytes: 0x89, then
///   byte 2: function code F in bits 0x78, sub-selector S in bit 0x01;
///   byte 3: manual 0x40, range code R in bits 0x38, mode code in bits 0x07 (0, 4 or 5);
///   byte 4: REC 0x40, statistics code in bits 0x18 (1 MAX, 2 MIN, 3 AVG), continuity 0x04;
///   byte 5: battery 0x20, minus 0x10, overload 0x08, five digits 0x04, HOLD 0x01;
///   bytes 6 to 10: digits D0, Da, Db, Dc, Dd in the low nibbles, D0 = 0xF when dark;
///   byte 11: 0x0A.
/// Secondary frame, 7 bytes: 0x8A 00 00 00, byte 5 with minus 0x10 and full 0x08, byte 6
/// with the bar value 0 to 40 in bits 0x3F, then 0x0A.
///
/// No byte but the last may be 0x0A, or the receiver would cut the frame short. 0x0A has
/// bit 0x02 set, and in bytes 2, 4 and 5 that bit is never used here, nor in byte 3, whose
/// mode code is only ever 0, 4 or 5; digits stay 0..9 or 0xF. The one value that could
/// collide is a bar of exactly 10 in byte 6: it is sent as 0x4A, since the receiver reads
/// only the low six bits of that byte.
class FrameEncoder {
public:
    static std::vector<uint8_t> mainFrame(const MeterState &state);
    static std::vector<uint8_t> secondaryFrame(const MeterState &state);
    /// Bar length 0 to 40 for a reading: its share of full scale, full on overload.
    static int barValue(const MeterState &state);
};
