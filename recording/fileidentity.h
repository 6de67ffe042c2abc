#pragma once

#include <QString>
#include <QtGlobal>

class QFile;

/// Which file a name stands for: the device and inode on POSIX, the volume serial number
/// and file ID on Windows. Two identities are equal exactly when they are the same file,
/// whatever names it has or had.
///
/// A file held open can lose its name (removed) or have its name given to another file
/// (a sync client or `cp --remove-destination` renames a new file over it) while the program
/// still writes into it; comparing the identity taken at open with the one the name has now
/// tells whether what is written is still where the user will look for it.
class FileIdentity {
public:
    /// What stands under a name.
    enum class Kind { Missing, File, Link, Other };

    FileIdentity() = default;
    /// An identity kept elsewhere (its numbers, as device() and file() gave them).
    FileIdentity(Kind kind, quint64 device, quint64 file)
        : m_kind(kind), m_device(device), m_file(file) {}
    /// The entry `path` names, a symbolic link (or any reparse point) not followed: a link
    /// has the link's own identity, never its target's.
    static FileIdentity of(const QString &path);
    /// The file `file` has open.
    static FileIdentity of(const QFile &file);

    Kind kind() const { return m_kind; }
    bool isValid() const { return m_kind != Kind::Missing; }
    /// Whether `path` still names this very file.
    bool isAt(const QString &path) const { return isValid() && of(path) == *this; }

    /// The numbers themselves, for a record of the identity kept elsewhere.
    quint64 device() const { return m_device; }
    quint64 file() const { return m_file; }

    bool operator==(const FileIdentity &other) const {
        return m_kind == other.m_kind && m_device == other.m_device && m_file == other.m_file;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }

private:
    Kind m_kind = Kind::Missing;
    quint64 m_device = 0;
    quint64 m_file = 0;
};
