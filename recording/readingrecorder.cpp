#include "readingrecorder.h"

#include "decodedframe.h"
#include "recordtable.h"

#include <algorithm>

RecordValues ReadingRecorder::readingOf(const DecodedFrame &frame) {
    RecordValues reading;
    reading.value = frame.valueText;
    reading.nval = frame.readingNval;
    reading.dcAc = frame.acDcText;
    reading.unit = frame.unitText;
    reading.autoText = frame.autoText;
    return reading;
}

ReadingRecorder::Outcome ReadingRecorder::offer(const Options &options, const RecordValues &reading,
                                                RecordTable &table, const QTime &now) {
    if (!table.isOpen())
        return Outcome::NoTable;
    if (table.isReadOnly())
        return Outcome::ReadOnly;
    return offer(options, reading, now,
                 [&table](const RecordValues &record) { table.append(record); });
}

ReadingRecorder::Outcome ReadingRecorder::offer(const Options &options, const RecordValues &reading,
                                                const QTime &now, const Store &store) {
    if (m_recordedCount >= m_recordLimit)
        return Outcome::OverLimit;
    if (options.intervalOn && m_sampleCountdown != 0)
        return Outcome::Waiting;
    const QString key =
        RecordingRules::recordKey(reading.value, reading.dcAc, reading.unit, reading.autoText);
    if (options.repeatFilter && key == m_lastRecordKey)
        return Outcome::Repeated;
    RecordValues record = reading;
    record.no = m_recordNo;
    record.time = now;
    // A reading that was not stored leaves everything as it was: it takes no place under the
    // limit, the next reading is no repeat of it and the interval does not restart.
    store(record);
    m_lastRecordKey = key;
    m_sampleCountdown = std::max<qint32>(0, options.intervalSeconds);
    ++m_recordedCount;
    ++m_recordNo;
    return Outcome::Stored;
}

void ReadingRecorder::tick(bool intervalOn) {
    if (intervalOn && m_sampleCountdown > 0)
        --m_sampleCountdown;
}

qint32 ReadingRecorder::intervalChanged(const QString &text) {
    m_sampleCountdown = RecordingRules::intervalFromText(text);
    return m_sampleCountdown;
}

void ReadingRecorder::restartNumbering() {
    m_recordNo = 1;
    m_recordedCount = 0;
}
