#pragma once

#include <QString>

/// The window-wide recording counters, by reference: the window owns them (its handlers and
/// start-up set them), recording reads and moves them.
struct RecordingState {
    qint32 &RecordNo;        ///< number the next appended record gets
    qint32 &RecordLimit;     ///< most records appended since start or the last clear
    qint32 &RecordedCount;   ///< records appended since start or the last clear
    qint32 &SampleCountdown; ///< seconds still to wait while the sampling interval is on
    QString &LastRecordKey;  ///< key of the last recorded reading
};
