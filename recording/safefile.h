#pragma once

#include <QIODevice>
#include <QString>

#include <stdexcept>

class QFile;

/// Makes the files this program puts beside a user's file (scratch files, the temporary
/// copies that replace a file once complete) without ever following or reusing what is
/// already there. The file is created only where no entry of its name exists: with
/// O_CREAT|O_EXCL on POSIX, which never follows a symbolic link, and CREATE_NEW on Windows,
/// which fails on any entry, reparse points (links, junctions) included. Folders beside a
/// user's file may be shared, unpacked from an archive or on a stick: a link planted under
/// the name would otherwise have the program truncate whatever it points to.
class SafeFile {
public:
    /// Something that is not a plain file of this user's is in the place of a file to be
    /// made, or a file is to be written where something other than a file is. Nothing was
    /// changed; the text says what is in the way and where.
    class Refused : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    /// Creates `file.fileName()` anew, empty, and opens `file` on it with `mode` (WriteOnly
    /// or ReadWrite, with any other flags but Truncate). A plain file of this user's found
    /// under the name (left by a run that crashed) is removed first; a symbolic link, a
    /// junction, a folder, a pipe, socket or device, or a file of another user or with other
    /// names (hard links) is left as it is and the call throws Refused. Returns false, with
    /// the file system's reason in `file.errorString()`, when the file cannot be made (a
    /// missing folder, no permission, a full disk).
    static bool create(QFile &file, QIODevice::OpenMode mode = QIODevice::ReadWrite);

    enum class Opened { Missing, Open, Failed };
    /// Opens the existing file `path` for reading and writing (a scratch file a run of this
    /// program left behind), never through a symbolic link: only a plain file of this user's
    /// with no other name is opened, and `file` is opened on what was checked, not on
    /// whatever the name holds a moment later. Throws Refused, having opened nothing, when
    /// anything else is there; Failed carries the file system's reason in `*error`.
    static Opened openExisting(const QString &path, QFile &file, QString *error);

    /// The longest file name that `folder` takes, in the units its file system counts:
    /// bytes of the encoded name on POSIX, UTF-16 code units on Windows.
    static int nameLimit(const QString &folder);
    /// The length of the file name `name` in those units.
    static int nameLength(const QString &name);
    /// `name` cut at a character boundary to at most `limit` of those units.
    static QString cutName(const QString &name, int limit);
};
