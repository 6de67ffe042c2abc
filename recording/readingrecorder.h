#pragma once

#include "recordingstate.h"
#include "recordvalues.h"

#include <QString>
#include <QTime>

#include <functional>

class RecordTable;

/// Decides whether a reading is recorded and appends it: the record limit, the sampling
/// interval and the repeat filter, in that order, then the running number and the time of
/// day.
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

    /// Offers one reading (its `no` and `time` are ignored). Throws std::runtime_error when
    /// the table fails to append; the recording state is then as it was before the call.
    static Outcome offer(const RecordingState &state, const Options &options,
                         const RecordValues &reading, RecordTable &table, const QTime &now);
    /// The same rules with a store of the caller's (a text file, say) in place of the table;
    /// never NoTable or ReadOnly. A throwing `store` leaves the recording state as it was.
    static Outcome offer(const RecordingState &state, const Options &options,
                         const RecordValues &reading, const QTime &now, const Store &store);

    /// One second passed.
    static void tick(const RecordingState &state, bool intervalOn);

    /// The interval text changed: the wait starts again from the new value, which is
    /// returned. Throws, leaving the countdown as it was, when the text is not a number of
    /// 0 or more.
    static qint32 intervalChanged(const RecordingState &state, const QString &text);

    /// After the table was cleared: numbering starts at 1 and the limit counts anew.
    static void restartNumbering(const RecordingState &state);
};
