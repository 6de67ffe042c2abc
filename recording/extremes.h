#pragma once

#include <QString>
#include <QtGlobal>

/// The largest and the smallest reading since the last change of unit or range, with the
/// value texts the MIN/MAX box shows for them.
///
/// A reading in a new unit or range (and the first reading of a run, since the start unit
/// "113" matches no real one) resets both extremes instead of entering the comparisons. So
/// does a change between AC and DC or between four and five digits: DC and AC volts share
/// the unit and the range code but not the decimal point, and a five-digit reading counts
/// ten times finer, so their counts cannot be compared. After a reset both
/// texts show that reading and the next reading replaces both. The sentinels alone would not
/// do that for the five-digit meters (a first reading of 20000 is not at most 8001), so the
/// first reading after a reset replaces both whatever its value. The caller
/// clears the graph when update() reports a reset. The state keeps the names the window's
/// users know.
class Extremes {
public:
    static constexpr float kMaxSentinel = -8001.0f;
    static constexpr float kMinSentinel = 8001.0f;
    static constexpr const char *kStartUnitText = "113";

    /// Takes one reading; true when it reset the extremes. Of equal readings the latest
    /// one's text is kept.
    bool update(float readingNval, const QString &valueText, const QString &unitText,
                qint32 rangeCode, const QString &acDcText, bool fiveDigit);

    float MaxExtreme = kMaxSentinel;
    float MinExtreme = kMinSentinel;
    QString MaxValueText;
    QString MinValueText;
    QString LastUnitText = QString::fromLatin1(kStartUnitText);
    qint32 LastRangeCode = 0;
    QString LastAcDcText;
    bool LastFiveDigit = false;

private:
    bool m_replaceBoth = false;
};
