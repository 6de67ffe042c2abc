#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "recordvalues.h"

/// One recorded reading as the logger hands it to an output: the record as the window's
/// table stores it, the full local date and time it was taken, and whether the meter showed
/// an overload. It also knows its fields as the text outputs write them.
struct LogRecord {
    QDateTime at;
    RecordValues values;
    bool overload = false;

    /// The names of textFields(), for a heading.
    static const QStringList &fieldNames();
    /// No, Time ("yyyy-MM-dd HH:mm:ss.zzz"), Value, Number, Unit, AC/DC, AUTO, Overload.
    QStringList textFields() const;

    /// The value text as a plain decimal number ("-01.234" gives "-1.234"), with as many
    /// decimals as the meter shows; empty for an overload or a text that is no number.
    static QString numberText(const QString &valueText);
    /// The unit in plain letters: the LCD codes for ohm, continuity and diode ("k*",
    /// "&  *", ")V") become "kohm", "ohm", "V".
    static QString unitName(const QString &unitText);
    /// One comma-separated line, fields quoted where they need it (RFC 4180), without the
    /// line end.
    static QString csvLine(const QStringList &fields);
};
