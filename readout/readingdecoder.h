#pragma once

#include "decodedframe.h"

#include <QString>

/// Decodes the meter's main display frame (first byte 0x89) from its hex text.
///
/// Stateless: every flag, digit and point starts cleared at each frame, and the result
/// carries the new scale settings for the caller to keep. The decoder never fails: a
/// short or garbled frame decodes to something the LCD can show (missing flag nibbles
/// repeat the nibble before them, missing or non-decimal digits read "0").
class ReadingDecoder {
public:
    /// `frameHex` is the frame as two upper-case hex digits per byte; `relState` is the
    /// state of the remote REL key (0, 1 or 2).
    static DecodedFrame decode(const QString &frameHex, int relState);

    /// Nearest integer, a half going to the even neighbour (0.5 -> 0, 1.5 -> 2,
    /// -61.5 -> -62), whatever the floating-point rounding mode is.
    static int roundHalfEven(double value);
};
