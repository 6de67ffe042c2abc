#pragma once

#include <QString>
#include <QTime>

#include "recordvalues.h"

/// Readings and records as the recording tests append them.
namespace RecordFixture {

/// A reading as the decoder leaves it; its count is the value read as a number.
inline RecordValues reading(const QString &value, const QString &unit = QStringLiteral("V"),
                            const QString &dcAc = QStringLiteral("DC"),
                            const QString &autoText = QStringLiteral("AUTO")) {
    RecordValues v;
    v.value = value;
    v.unit = unit;
    v.dcAc = dcAc;
    v.autoText = autoText;
    v.nval = value.toFloat();
    return v;
}

/// A numbered record appended at `time`.
inline RecordValues record(int no, const QString &value, const QString &unit,
                           const QString &dcAc, const QString &autoText, QTime time) {
    RecordValues v = reading(value, unit, dcAc, autoText);
    v.no = no;
    v.time = time;
    return v;
}

} // namespace RecordFixture
