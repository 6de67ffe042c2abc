#pragma once

#include "recordrow.h"

#include <QByteArray>
#include <QString>

class RecordTable;

/// Writes a record table as tab-separated text: a heading line, then one line per record in
/// table order with the display texts of No, Time, DC/AC, Value, Unit and AUTO; every line
/// ends with CR LF. Texts are written in UTF-8; a tab or line break inside a text (only a
/// table written elsewhere can hold one) is written as a space so that rows stay rows.
class TableTextExporter {
public:
    /// Writes `table` to `path`. The file is replaced only when everything was written: on
    /// a write failure the old file, if any, stays as it was and the result is false. A
    /// table that cannot be read, a target that is a table in use (the open one or one held
    /// by another program), a pipe, socket or device, or a name too long for its folder
    /// throws std::runtime_error, also leaving the file alone. A symbolic link is followed:
    /// the file it names is replaced.
    static bool write(const RecordTable &table, const QString &path);

    static QByteArray headingLine();
    static void appendLine(QByteArray &out, const RecordRow &row);
};
