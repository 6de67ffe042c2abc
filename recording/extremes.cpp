#include "extremes.h"

bool Extremes::update(float readingNval, const QString &valueText, const QString &unitText,
                      qint32 rangeCode) {
    const bool reset = unitText != LastUnitText || rangeCode != LastRangeCode;
    if (reset) {
        MaxValueText = valueText;
        MinValueText = valueText;
        LastUnitText = unitText;
        MaxExtreme = kMaxSentinel;
        MinExtreme = kMinSentinel;
    } else {
        if (readingNval >= MaxExtreme) {
            MaxValueText = valueText;
            MaxExtreme = readingNval;
        }
        if (readingNval <= MinExtreme) {
            MinValueText = valueText;
            MinExtreme = readingNval;
        }
    }
    LastRangeCode = rangeCode;
    return reset;
}
