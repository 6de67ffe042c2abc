#pragma once

#include <QString>

class RecordTable;

/// Copies a record table, pending records included, into a new SQLite table file: the same
/// fields, `Not` as its primary key, every record in table order. The copy is built under a
/// temporary name in the destination's folder and renamed over the destination only when it
/// is complete, so a failed copy leaves an existing file as it was. A symbolic link as the
/// destination is followed, as the text export follows it: the file it names is replaced.
class TableDbCopier {
public:
    /// Throws std::runtime_error with the engine's or the file system's message on failure.
    static void copy(const RecordTable &source, const QString &path);
};
