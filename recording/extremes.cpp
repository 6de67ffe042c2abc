#include "extremes.h"

#include <utility>

bool Extremes::update(float readingNval, const QString &valueText, const QString &unitText,
                      qint32 rangeCode, const QString &acDcText, bool fiveDigit) {
    const bool reset = unitText != LastUnitText || rangeCode != LastRangeCode ||
                       acDcText != LastAcDcText || fiveDigit != LastFiveDigit;
    if (reset) {
        MaxValueText = valueText;
        MinValueText = valueText;
        LastUnitText = unitText;
        m_replaceBoth = true;
        MaxExtreme = kMaxSentinel;
        MinExtreme = kMinSentinel;
    } else {
        const bool replaceBoth = std::exchange(m_replaceBoth, false);
        if (replaceBoth || readingNval >= MaxExtreme) {
            MaxValueText = valueText;
            MaxExtreme = readingNval;
        }
        if (replaceBoth || readingNval <= MinExtreme) {
            MinValueText = valueText;
            MinExtreme = readingNval;
        }
    }
    LastRangeCode = rangeCode;
    LastAcDcText = acDcText;
    LastFiveDigit = fiveDigit;
    return reset;
}
