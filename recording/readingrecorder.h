#pragma once

#include "recordingrules.h"
#include "recordvalues.h"

#include <QString>
#include <QTime>

#include <functional>

class RecordTable;
struct DecodedFrame;

/// Decides whether a reading is recorded and appends it: the record limit, the sampling
/// interval and the repeat filter, in that order, then the running number and the time of
/// day. It owns the recording counters (the number of the next record, the limit, the count
/// since start or the last clear, the interval's countdown and the last recorded key), so
/// that the window and the logger keep them in one place each.
class ReadingRecorder {
public:
    struct Options {
        bool repeatFilter = true;   ///< skip a reading equal to the last recorded one
        bool intervalOn = false;    ///< wait for the countdown between records
        qint32 intervalSeconds = 0; ///< the sampling interval, checked when it was typed
    };

    /// NoTable: no table is open; ReadOnly: the table cannot be written.
    enum class Outcome { Stored, NoTable, ReadOnly, OverLimit, Waiting, Repeated };

    /// Stores one numbered record; throws std::runtime_error when it cannot.
    using Store = std::function<void(const RecordValues &record)>;

    /// The reading a decoded display frame gives, as recording stores it; the number and the
    /// time are the recorder's to give.
    static RecordValues readingOf(const DecodedFrame &frame);

    /// Offers one reading (its `no` and `time` are ignored). Throws std::runtime_error when
    /// the table fails to append; the counters are then as they were before the call.
    Outcome offer(const Options &options, const RecordValues &reading, RecordTable &table,
                  const QTime &now);
    /// The same rules with a store of the caller's (a text file, say) in place of the table;
    /// never NoTable or ReadOnly. A throwing `store` leaves the counters as they were.
    Outcome offer(const Options &options, const RecordValues &reading, const QTime &now,
                  const Store &store);

    /// One second passed.
    void tick(bool intervalOn);

    /// The interval text changed: the wait starts again from the new value, which is
    /// returned. Throws, leaving the countdown as it was, when the text is not a number of
    /// 0 or more.
    qint32 intervalChanged(const QString &text);

    /// After the table was cleared: numbering starts at 1 and the limit counts anew.
    void restartNumbering();

    /// The most records appended since start or the last clear. The count so far is kept, so
    /// a lower limit stops recording at once and a higher one lets it go on.
    void setRecordLimit(qint32 limit) { m_recordLimit = limit; }

    /// Number the next appended record gets.
    qint32 RecordNo() const { return m_recordNo; }
    qint32 RecordLimit() const { return m_recordLimit; }
    /// Records appended since start or the last clear.
    qint32 RecordedCount() const { return m_recordedCount; }
    /// Seconds still to wait while the sampling interval is on.
    qint32 SampleCountdown() const { return m_sampleCountdown; }
    /// Key of the last recorded reading.
    const QString &LastRecordKey() const { return m_lastRecordKey; }

private:
    qint32 m_recordNo = 1;
    qint32 m_recordLimit = RecordingRules::kStartLimit;
    qint32 m_recordedCount = 0;
    qint32 m_sampleCountdown = 0;
    QString m_lastRecordKey;
};
