#pragma once

#include <QString>
#include <QtGlobal>

/// The two alarm limits as the user types them into the limit edits, and the alarm test.
///
/// Each limit is kept twice: the number typed, which the alarm compares readings with, and
/// half of it rounded (halves to the even neighbour), which is the unit in which the analog
/// scale's band marks the typed number. Until the first edit the halved limits are 8002 and
/// -8002, standing for typed limits of 16004 and -16004: beyond every four-digit reading.
/// Whether a limit is in force (its check box) is the caller's and is passed to the test.
class AlarmLimits {
public:
    static constexpr float kStartMaxLimit = 8002.0f;
    static constexpr float kStartMinLimit = -8002.0f;

    /// The number in a limit edit's text: empty, "+" and "-" (the first key of a signed
    /// number) count as 0; anything else must be a decimal integer, or std::runtime_error
    /// says it is not.
    static qint32 typedFromText(const QString &text);
    /// n / 2 to the nearest integer, a half going to the even neighbour (7 -> 4, 5 -> 2,
    /// -7 -> -4, -1 -> 0), in integer arithmetic.
    static qint32 halfToEven(qint32 n);

    /// Sets the upper or lower limit from its edit's text. A text that is not a number
    /// throws (see typedFromText) and leaves the limit as it was.
    void setMaxFromText(const QString &text);
    void setMinFromText(const QString &text);

    /// The halved limits (the band's unit).
    float maxLimit() const { return m_maxLimit; }
    float minLimit() const { return m_minLimit; }
    /// The numbers typed.
    qint32 typedMax() const { return m_typedMax; }
    qint32 typedMin() const { return m_typedMin; }

    /// Whether a reading lies beyond an enabled limit: above the typed upper one while
    /// `maxOn`, or below the typed lower one while `minOn`. A reading at a limit is within.
    bool isOutOfLimits(float readingNval, bool maxOn, bool minOn) const;

private:
    float m_maxLimit = kStartMaxLimit;
    float m_minLimit = kStartMinLimit;
    qint32 m_typedMax = 2 * static_cast<qint32>(kStartMaxLimit);
    qint32 m_typedMin = 2 * static_cast<qint32>(kStartMinLimit);
};
