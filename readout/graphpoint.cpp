#include "graphpoint.h"

double GraphPoint::valueOf(const DecodedFrame &frame) {
    if (frame.digits[DecodedFrame::Dc] == QLatin1String("@")) {
        const int fullScale = frame.span * (frame.fiveDigit ? 1000 : 100);
        return frame.sign.isEmpty() ? fullScale : -fullScale;
    }
    return frame.readingNval;
}
