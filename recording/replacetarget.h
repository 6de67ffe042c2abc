#pragma once

#include <QString>

class RecordTable;

/// Checks made before a save-as replaces a file: the open record table and a table file
/// that another program (or a second copy of this one) holds exclusively must never be
/// overwritten, whichever format the new file is written in.
class ReplaceTarget {
public:
    /// Throws std::runtime_error "Table in use: <path>" when `path` is `source`'s own file
    /// or a table file held exclusively elsewhere; returns otherwise.
    static void ensureFree(const RecordTable &source, const QString &path);

    /// True when `path` is a table file whose exclusive lock another connection holds.
    static bool isHeldElsewhere(const QString &path);
};
