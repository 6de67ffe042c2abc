#pragma once

#include "decodedframe.h"

/// The value at which a decoded reading is plotted on the graph.
///
/// A reading plots as the signed whole count the display shows (the same number as the
/// Reading's value). An overload has no digits to read: it plots at the end of the value axis
/// of its mode, plus or minus the span times 100 in four-digit mode and times 1000 in
/// five-digit mode, with the display's sign.
class GraphPoint {
public:
    static double valueOf(const DecodedFrame &frame);
};
