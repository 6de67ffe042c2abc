#include "readingrecorder.h"

#include "recordingrules.h"
#include "recordtable.h"

#include <algorithm>

ReadingRecorder::Outcome ReadingRecorder::offer(const RecordingState &state, const Options &options,
                                                const RecordValues &reading, RecordTable &table,
                                                const QTime &now) {
    if (!table.isOpen())
        return Outcome::NoTable;
    if (table.isReadOnly())
        return Outcome::ReadOnly;
    return offer(state, options, reading, now,
                 [&table](const RecordValues &record) { table.append(record); });
}

ReadingRecorder::Outcome ReadingRecorder::offer(const RecordingState &state, const Options &options,
                                                const RecordValues &reading, const QTime &now,
                                                const Store &store) {
    if (state.RecordedCount >= state.RecordLimit)
        return Outcome::OverLimit;
    if (options.intervalOn && state.SampleCountdown != 0)
        return Outcome::Waiting;
    const QString key =
        RecordingRules::recordKey(reading.value, reading.dcAc, reading.unit, reading.autoText);
    if (options.repeatFilter && key == state.LastRecordKey)
        return Outcome::Repeated;
    RecordValues record = reading;
    record.no = state.RecordNo;
    record.time = now;
    // A reading that was not stored leaves everything as it was: it takes no place under the
    // limit, the next reading is no repeat of it and the interval does not restart.
    store(record);
    state.LastRecordKey = key;
    state.SampleCountdown = std::max<qint32>(0, options.intervalSeconds);
    ++state.RecordedCount;
    ++state.RecordNo;
    return Outcome::Stored;
}

void ReadingRecorder::tick(const RecordingState &state, bool intervalOn) {
    if (intervalOn && state.SampleCountdown > 0)
        --state.SampleCountdown;
}

qint32 ReadingRecorder::intervalChanged(const RecordingState &state, const QString &text) {
    state.SampleCountdown = RecordingRules::intervalFromText(text);
    return state.SampleCountdown;
}

void ReadingRecorder::restartNumbering(const RecordingState &state) {
    state.RecordNo = 1;
    state.RecordedCount = 0;
}
