#pragma once

#include "fileidentity.h"
#include "recordvalues.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <vector>

/// A second copy of the records appended since the last save, in a file of its own beside the
/// table file, so that they outlive a write of the table engine that fails and takes its open
/// transaction with it (a full disk, an I/O error).
///
/// The copy must never need disk space at the moment the disk fills, so the file is reserved
/// ahead in blocks, and the newest records wait in a small buffer in memory until a reserved
/// block takes them. An append that finds no room left is refused whole; what was appended
/// before stays readable, from the file and the buffer.
///
/// The file is scratch: it is made anew when the spool starts and removed when it goes, and
/// nothing in it is ever read by the next run (a crash drops pending records by design). It
/// holds about 30 bytes a record, and keeps the space of the most records pending at once.
/// It is made only where nothing is (SafeFile): a file of ours left by a crash is replaced,
/// anything else under its name (a link, a folder, another user's file) refuses the spool
/// and is left as it is; and at the end only the file it made is removed.
class PendingSpool {
public:
    static constexpr qint64 kBlockBytes = 1 << 20;
    static constexpr qsizetype kBufferBytes = 16 * 1024;
    static constexpr int kAnchorStride = 1024;

    /// Creates the file at `path` and reserves its first block. Throws SafeFile::Refused
    /// when something that is not a leftover file of ours is under that name, and
    /// std::runtime_error with the file system's message when the file cannot be made.
    explicit PendingSpool(const QString &path);
    ~PendingSpool();
    PendingSpool(const PendingSpool &) = delete;
    PendingSpool &operator=(const PendingSpool &) = delete;

    QString fileName() const { return m_file.fileName(); }
    qint64 count() const { return m_count; }

    /// Keeps one more record. Throws std::runtime_error, keeping nothing of it, when the buffer
    /// is full and no further block can be reserved.
    void append(const RecordValues &record);
    /// Takes back the record of the last append (its table refused it).
    void dropLast();
    /// Forgets every record (they were saved); the space reserved stays reserved.
    void clear();

    /// Up to `n` records from position `first` on.
    QList<RecordValues> read(qint64 first, int n) const;

    /// A forward walk from a position on; valid while the spool is not appended to.
    class Cursor {
    public:
        Cursor(const PendingSpool &spool, qint64 first);
        /// The next record, or false at the end. Throws when the file cannot be read.
        bool next(RecordValues *record);

    private:
        bool fill();

        const PendingSpool &m_spool;
        qint64 m_offset = 0; ///< where m_chunk starts in the spool's logical bytes
        qint64 m_left = 0;   ///< records still to come
        QByteArray m_chunk;
        qsizetype m_at = 0;
    };

private:
    qint64 logicalEnd() const { return m_fileBytes + m_buffer.size(); }
    /// Moves the buffer into the file, reserving blocks as needed; false when there is no room.
    bool flush();
    bool reserve(qint64 upTo);
    /// Bytes [from, from + n) of the spool, wherever they are, clipped at its end.
    QByteArray bytes(qint64 from, qint64 n) const;
    void removeFile();

    mutable QFile m_file;
    FileIdentity m_identity; ///< the file made, so that nothing else is removed in its name
    qint64 m_reserved = 0;   ///< bytes of the file whose space is taken
    qint64 m_fileBytes = 0;  ///< records' bytes written to the file
    QByteArray m_buffer;     ///< records' bytes after m_fileBytes
    qint64 m_count = 0;
    qint64 m_lastStart = -1; ///< where the last record begins; -1 when it cannot be taken back
    std::vector<qint64> m_anchors; ///< where records 0, kAnchorStride, ... begin
    QString m_error;               ///< why the last reserve or write failed
};
