#include "alarmlimits.h"

#include "recordingrules.h"

qint32 AlarmLimits::typedFromText(const QString &text) {
    return RecordingRules::numberFromEditText(text);
}

qint32 AlarmLimits::halfToEven(qint32 n) {
    // Floor of n / 2 without overflow; an odd n lies halfway between it and the next one.
    const qint32 below = n >= 0 ? n / 2 : -((-(n + 1)) / 2) - 1;
    if (n % 2 == 0)
        return below;
    return below % 2 == 0 ? below : below + 1;
}

void AlarmLimits::setMaxFromText(const QString &text) {
    const qint32 typed = typedFromText(text);
    m_typedMax = typed;
    m_maxLimit = static_cast<float>(halfToEven(typed));
}

void AlarmLimits::setMinFromText(const QString &text) {
    const qint32 typed = typedFromText(text);
    m_typedMin = typed;
    m_minLimit = static_cast<float>(halfToEven(typed));
}

bool AlarmLimits::isOutOfLimits(float readingNval, bool maxOn, bool minOn) const {
    const double reading = readingNval;
    return (maxOn && reading > m_typedMax) || (minOn && reading < m_typedMin);
}
