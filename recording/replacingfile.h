#pragma once

#include <QFile>
#include <QString>

/// A file that takes the place of another only once it is complete: it is written under a
/// temporary name in the same folder, made with SafeFile, and renamed over the target by
/// commit(). Until then the target stays as it was; a file never committed is removed.
///
/// A symbolic link as the target is followed, so the file it names is replaced and the link
/// stays, whatever kind of file is written. A target that exists and is neither a file nor a
/// folder (a pipe, a socket, a device) is refused: opening it could wait for ever for a
/// reader, and a rename would put a file in its place.
///
/// The temporary name is the target's, hidden and marked with the process, cut so that it
/// fits the file system's limit whatever the target's length.
class ReplacingFile {
public:
    explicit ReplacingFile(const QString &target);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    /// The file that replacing `target` reaches: `target` with symbolic links followed.
    static QString resolve(const QString &target);
    /// The temporary name that replaces `target` (links followed) goes by.
    static QString temporaryFor(const QString &target);
    /// Throws SafeFile::Refused when `target` (links followed) exists and is neither a file
    /// nor a folder, or when its name is longer than its folder takes.
    static void checkTarget(const QString &target);

    /// Makes the temporary file and opens it with `mode`. Returns false, with the reason in
    /// errorString(), when the file system refuses or the target is a folder; throws
    /// SafeFile::Refused as checkTarget() and SafeFile::create() do.
    bool open(QIODevice::OpenMode mode = QIODevice::WriteOnly);
    /// The temporary file, to be written.
    QFile &file() { return m_file; }
    /// Where the temporary file is; for writers that open it by name themselves (after
    /// closeTemporary()).
    QString temporaryName() const { return m_file.fileName(); }
    /// Closes the temporary file and keeps it, for a writer that opens it by name.
    void closeTemporary() { m_file.close(); }
    /// The file that commit() replaces.
    QString targetName() const { return m_target; }

    /// Writes the temporary file through to the disk and renames it over the target, with
    /// the target's permissions (a new file gets those of any new file). Returns false with
    /// errorString() when that fails; the temporary file is removed then.
    bool commit();
    /// Removes the temporary file; the target stays as it was.
    void cancel();
    QString errorString() const { return m_error; }

private:
    QString m_target;
    QFile m_file;
    QString m_error;
    bool m_made = false;
};
