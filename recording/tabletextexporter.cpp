#include "tabletextexporter.h"

#include "recordtable.h"
#include "recordwalk.h"
#include "replacetarget.h"
#include "replacingfile.h"

#include <QFile>

#include <sqlite3.h>

namespace {

constexpr qsizetype kFlushBytes = 1 << 20;

/// Rows must stay rows: a tab or line break inside a text becomes a space.
void flattenFrom(QByteArray &out, qsizetype from) {
    char *data = out.data();
    for (qsizetype i = from; i < out.size(); ++i)
        if (data[i] == '\t' || data[i] == '\r' || data[i] == '\n')
            data[i] = ' ';
}

void appendField(QByteArray &out, const QString &text) {
    const qsizetype from = out.size();
    out += text.toUtf8();
    flattenFrom(out, from);
}

/// The display text of one field of the walk's current record, as the grid shows it, but
/// byte for byte: only a tab, CR or LF, which would break the file's rows and fields,
/// becomes a blank (the grid blanks the other line separators too). Text as this program
/// stores it is copied as it is; anything else goes the grid's way.
void appendWalkField(QByteArray &out, const RecordWalk &walk, int column) {
    sqlite3_stmt *statement = walk.statement();
    const int type = sqlite3_column_type(statement, column);
    if (column == RecordWalk::No && type == SQLITE_INTEGER) {
        out += QByteArray::number(sqlite3_column_int64(statement, column));
        return;
    }
    if (type == SQLITE_TEXT) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
        const int size = sqlite3_column_bytes(statement, column);
        const bool displayForm =
            column != RecordWalk::No &&
            (column != RecordWalk::Time || (size == 8 && text[2] == ':' && text[5] == ':'));
        if (displayForm) {
            const qsizetype from = out.size();
            out.append(text, size);
            flattenFrom(out, from);
            return;
        }
    }
    const QVariant value = walk.value(column);
    if (column == RecordWalk::No)
        appendField(out, RecordRow::numberText(value));
    else if (column == RecordWalk::Time)
        appendField(out, RecordRow::timeText(value));
    else
        appendField(out, value.toString());
}

} // namespace

QByteArray TableTextExporter::headingLine() {
    QByteArray line;
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        if (c > 0)
            line += '\t';
        line += RecordRow::fieldName(c).toUtf8();
    }
    return line + "\r\n";
}

void TableTextExporter::appendLine(QByteArray &out, const RecordRow &row) {
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        if (c > 0)
            out += '\t';
        appendField(out, row.texts[c]);
    }
    out += "\r\n";
}

bool TableTextExporter::write(const RecordTable &table, const QString &path) {
    ReplaceTarget::ensureFree(table, path);
    // A pipe, socket or device is refused before anything is read: opening a pipe that has
    // no reader would wait for ever.
    ReplacingFile::checkTarget(path);
    RecordWalk walk(table);

    ReplacingFile file(path);
    if (!file.open())
        return false;
    QFile &out = file.file();
    QByteArray buffer = headingLine();
    buffer.reserve(kFlushBytes + 4096);
    bool ok = true;
    while (ok && walk.next()) {
        for (int c = RecordWalk::No; c <= RecordWalk::Auto; ++c) {
            if (c > RecordWalk::No)
                buffer += '\t';
            appendWalkField(buffer, walk, c);
        }
        buffer += "\r\n";
        if (buffer.size() >= kFlushBytes) {
            ok = out.write(buffer) == buffer.size();
            buffer.clear();
        }
    }
    if (ok && !buffer.isEmpty())
        ok = out.write(buffer) == buffer.size();
    // Not committed, the file goes with its temporary copy; the target stays as it was.
    return ok && file.commit();
}
