#include "readingrecorder.h"

#include "recordingrules.h"
#include "recordtable.h"

ReadingRecorder::Outcome ReadingRecorder::offer(const RecordingState &state, const Options &options,
                                                const RecordValues &reading, RecordTable &table,
                                                const QTime &now) {
    if (!table.isOpen())
        return Outcome::NoTable;
    if (state.RecordedCount >= state.RecordLimit)
        return Outcome::OverLimit;
    if (options.intervalOn && state.SampleCountdown != 0)
        return Outcome::Waiting;
    const QString key =
        RecordingRules::recordKey(reading.value, reading.dcAc, reading.unit, reading.autoText);
    if (options.repeatFilter && key == state.LastRecordKey)
        return Outcome::Repeated;
    state.LastRecordKey = key;
    state.SampleCountdown = RecordingRules::intervalFromText(options.intervalText);
    ++state.RecordedCount;
    RecordValues record = reading;
    record.no = state.RecordNo;
    record.time = now;
    table.append(record);
    ++state.RecordNo;
    return Outcome::Stored;
}

void ReadingRecorder::tick(const RecordingState &state, bool intervalOn) {
    if (intervalOn && state.SampleCountdown > 0)
        --state.SampleCountdown;
}

void ReadingRecorder::intervalChanged(const RecordingState &state, const QString &text) {
    state.SampleCountdown = RecordingRules::intervalFromText(text);
}

void ReadingRecorder::restartNumbering(const RecordingState &state) {
    state.RecordNo = 1;
    state.RecordedCount = 0;
}
