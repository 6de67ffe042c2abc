#pragma once

#include <QString>

/// File names of the data-file commands: the dialogs' filters and the rules that pick the
/// kind of file "save as" writes.
class DataFileNames {
public:
    static QString openFilter();
    static QString saveFilter();
    /// Given to a name typed without an extension.
    static QString defaultExtension();

    /// The extension of the file name (not of its folders): from its last dot, dot included.
    /// Empty when the name has no dot.
    static QString extensionOf(const QString &path);
    /// `path` with ".xls" added when its file name has no extension.
    static QString withDefaultExtension(const QString &path);
    /// Whether save as writes a table copy: the extension is exactly ".db", lower case. Any
    /// other name, ".DB" included, gets text.
    static bool isTableCopy(const QString &path);
};
