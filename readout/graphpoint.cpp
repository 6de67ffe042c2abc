#include "graphpoint.h"

double GraphPoint::valueOf(const DecodedFrame &frame) {
    if (frame.digits[DecodedFrame::Dc] == QLatin1String("@")) {
        return frame.sign.isEmpty() ? frame.fullScale() : -frame.fullScale();
    }
    return frame.readingNval;
}
