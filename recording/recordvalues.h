#pragma once

#include <QString>
#include <QTime>

/// The fields of one record as recording writes them. `Not`, the key, is not here: the
/// table fills it itself.
struct RecordValues {
    qint32 no = 0;
    QTime time;
    QString dcAc;
    QString value;
    QString unit;
    QString autoText;
    float nval = 0.0f;

    /// Stored form of `time`: the time of day only, to the second.
    static QString storedTime(const QTime &time) {
        return time.toString(QStringLiteral("hh:mm:ss"));
    }
};
