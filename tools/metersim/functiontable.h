#pragma once

#include "meterstate.h"

#include <optional>
#include <string_view>
#include <vector>

/// One range of a function: its range code and the power of ten that one display count
/// stands for, in the function's base unit (V, A, ohm, F, S, Hz, %).
struct RangeStep {
    int code;
    int exponent;
};

/// Everything the meter knows about its functions: frame codes, ranges with their decimal
/// points, full scale, and the signal the built-in generator feeds into each of them.
///
/// The exponents follow where the decoder puts the decimal point for each range code. In
/// the normal mode they are given for four digits; five digits add one digit to the right,
/// so one count is worth a tenth. Frequency readings always travel as five digits and duty
/// readings as four, because the decoder turns a mode 4 or 5 frame without the five-digit
/// bit into a "%" reading.
class FunctionTable {
public:
    static std::string_view name(MeterFunction function);
    static std::optional<MeterFunction> byName(std::string_view name);

    /// Function code F and sub-selector S of byte 2.
    static int functionCode(MeterFunction function);
    static int subSelector(MeterFunction function);

    /// Ranges in ascending order of their count value; never empty.
    static const std::vector<RangeStep> &ranges(MeterFunction function, MeterMode mode);
    static bool hasRange(MeterFunction function, MeterMode mode, int code);
    /// Range after `code` in stepping order (wraps); the first range for an unknown code.
    static int nextRange(MeterFunction function, MeterMode mode, int code);
    /// Finest range that shows `value` without overload; the coarsest when none does.
    static int autoRange(MeterFunction function, MeterMode mode, bool five, double value);

    /// The five-digit flag as it travels for this mode.
    static bool effectiveFive(MeterMode mode, bool five);
    /// Power of ten of one count; the range must exist.
    static int exponent(MeterFunction function, MeterMode mode, int code, bool five);
    /// Largest count shown before the reading turns into an overload.
    static int maxCounts(MeterMode mode, bool five);
    /// Count that fills the bar graph: the decoder's full scale (80 or 100 hundreds, or
    /// thousands with five digits).
    static int barFullScale(MeterMode mode, bool five);

    /// Built-in generator: a slow sine around each function's typical value.
    static double signal(MeterFunction function, MeterMode mode, double seconds);
    /// Steady value a fixed state shows in a function it was not written for.
    static double restingValue(MeterFunction function, MeterMode mode);
};
