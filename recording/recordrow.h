#pragma once

#include "recordschema.h"

#include <QString>
#include <QVariant>

#include <array>

struct RecordValues;

/// One record as the grid and the report show it: the display texts of the six visible
/// fields, in the order the views list them. A display text is one line: a table written
/// elsewhere may hold tabs and line breaks in its texts, and the views show each of them as
/// a blank so that a record never spreads over more than its own row. It is also short: a
/// view shows a few dozen characters of a text, and a table written elsewhere may hold
/// texts of any length, so a row holds at most kMaxChars of each (the text export and the
/// table copy read the whole values, not rows).
struct RecordRow {
    /// A row is indexed by the schema's fields, of which it holds the shown ones.
    using Column = RecordSchema::Field;
    using enum RecordSchema::Field;
    static constexpr int ColumnCount = RecordSchema::kShownFields;
    /// The most characters (UTF-16 code units) a row holds of one text.
    static constexpr qsizetype kMaxChars = 1024;

    std::array<QString, ColumnCount> texts;

    /// Field name of a visible column, as the views title it.
    static QString fieldName(int column);

    /// The row of the six stored fields, in column order, as the table engine gives them
    /// (integer, real, text, bytes or null).
    static RecordRow fromFields(const std::array<QVariant, ColumnCount> &fields);
    /// The row of a record as recording writes it, shown as it will read once stored.
    static RecordRow fromValues(const RecordValues &values);

    /// `text` cut to kMaxChars, never inside a character.
    static QString capped(QString text);

    /// `text` with every tab and every character that starts a new line (CR, LF, vertical
    /// tab, form feed, NEL, line and paragraph separator) replaced by a blank.
    static QString oneLine(QString text);

    /// Display text of a stored `No`: a plain decimal integer.
    static QString numberText(const QVariant &value);
    /// Display text of a stored `Time`: hh:mm:ss. Tables written elsewhere may hold the
    /// time with fractions, with a date, or as a fraction of a day; what cannot be read as a
    /// time is shown as stored.
    static QString timeText(const QVariant &value);
};
