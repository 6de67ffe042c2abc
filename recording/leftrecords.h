#pragma once

#include <QTime>
#include <QtGlobal>

#include <functional>

/// The records a run of the program left unsaved when it ended without closing its table (a
/// crash, a power cut, a killed process), as the next open of the table finds them.
struct LeftRecords {
    qint64 count = 0;
    /// When the first and the last of them were recorded (the time of day).
    QTime first;
    QTime last;
};

/// Asked when a table opens and such records are found: true keeps them as pending records.
using KeepLeftRecords = std::function<bool(const LeftRecords &)>;
