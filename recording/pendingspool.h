#pragma once

#include "fileidentity.h"
#include "recordvalues.h"
#include "spoolformat.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class SpoolIo;
class SpoolSyncer;

/// A second copy of the records appended since the last save, in a file of its own beside the
/// table file (see SpoolFormat for its layout). It serves twice:
///
/// - as a reserve: the records outlive a write of the table engine that fails and takes its
///   open transaction with it (a full disk, an I/O error);
/// - as a recovery journal: the records outlive the program (a crash, a power cut, a killed
///   process), and the next open of the table offers them back (LeftSpool).
///
/// The copy must never need disk space at the moment the disk fills, so the file is reserved
/// ahead in blocks, and the newest records wait in a small buffer in memory until a reserved
/// block takes them or secure() writes them out. An append that finds no room left is
/// refused whole; what was appended before stays readable, from the file and the buffer.
///
/// secure() writes the buffer and has the file synced on a thread of its own (SpoolSyncer);
/// its owner calls it at most once a second while records come. What was secured survives a
/// power cut; what was written survives a killed process. The header names the table and the
/// state of it at which the records begin; a save or a clear rewrites it (restart()), which
/// ends the records before it, however many bytes of them the file still holds.
///
/// It holds about 23 bytes a record, and keeps the space of the most records pending at once.
/// It is made only where nothing is (SafeFile), or takes over the file a run left behind; all
/// its file operations go through SpoolIo; and at the end only the file it made is removed.
class PendingSpool {
public:
    static constexpr qint64 kBlockBytes = 1 << 20;
    static constexpr qsizetype kBufferBytes = 16 * 1024;
    static constexpr int kAnchorStride = 1024;

    /// What a spool holds, read to its last whole record.
    struct Content {
        SpoolFormat::Header header;
        qint64 count = 0;
        /// The slot that holds the header.
        int slot = 0;
        /// Where the frame after the last whole record begins.
        qint64 end = SpoolFormat::kRecordsStart;
        /// The check of the last whole record (the header's salt when there is none).
        quint32 chain = 0;
        /// Where records 0, kAnchorStride, 2 * kAnchorStride, ... begin.
        std::vector<qint64> anchors;
    };

    /// Creates the file at `path`, headed by `header`, and reserves its first block. Throws
    /// SafeFile::Refused when something that is not a leftover file of ours is under that
    /// name, and std::runtime_error with the file system's message when the file cannot be
    /// made.
    PendingSpool(const QString &path, const SpoolFormat::Header &header);
    /// Takes over the spool `file` at `path` that a run left behind, holding `content`: its
    /// records are the first ones, and the next append follows the last of them.
    PendingSpool(std::unique_ptr<QFile> file, const QString &path, const Content &content);
    ~PendingSpool();
    PendingSpool(const PendingSpool &) = delete;
    PendingSpool &operator=(const PendingSpool &) = delete;

    QString fileName() const { return m_path; }
    qint64 count() const { return m_count; }

    /// Keeps one more record. Throws std::runtime_error, keeping nothing of it, when the buffer
    /// is full and no further block can be reserved.
    void append(const RecordValues &record);
    /// Takes back the record of the last append (its table refused it), from the file too.
    void dropLast();
    /// Forgets every record (they were saved, or cleared): the file says from now on that
    /// the records begin at the table's state in `header`. The space reserved stays reserved.
    void restart(const SpoolFormat::Header &header);
    /// Says in the file that the table is being cleared (true), or no longer (false). A mark
    /// that the disk failed to take returns why (the clearing is not to go on: a power cut
    /// would offer records cleared back); a slow disk does not hold the clearing up.
    QString markClearing(bool clearing);

    /// Writes what waits in memory to the file and has the file synced, off this thread.
    void secure();
    /// Whether anything changed since the last secure().
    bool hasUnsecured() const { return m_unsecured; }
    /// Waits until the syncs asked for so far are done; false after `timeoutMs`.
    bool waitUntilSecured(int timeoutMs) const;
    /// Why securing the records failed (a write or a sync), once; empty when it did not.
    QString takeFailure();

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
    void writeHeader();
    /// Bytes [from, from + n) of the spool, wherever they are, clipped at its end.
    QByteArray bytes(qint64 from, qint64 n) const;
    void startSyncer(bool newFile);
    void removeFile();

    SpoolIo &m_io;
    QString m_path;
    std::unique_ptr<QFile> m_file;
    FileIdentity m_identity; ///< the file made, so that nothing else is removed in its name
    std::unique_ptr<SpoolSyncer> m_syncer;
    SpoolFormat::Header m_header;
    qint64 m_reserved = 0;  ///< bytes of the file whose space is taken
    qint64 m_fileBytes = 0; ///< header and records' bytes written to the file
    QByteArray m_buffer;    ///< records' bytes after m_fileBytes
    qint64 m_count = 0;
    quint32 m_chain = 0;     ///< the check the next record is chained to
    qint64 m_lastStart = -1; ///< where the last record begins; -1 when it cannot be taken back
    quint32 m_lastChain = 0; ///< m_chain before the last record
    std::vector<qint64> m_anchors; ///< where records 0, kAnchorStride, ... begin
    bool m_unsecured = false;
    /// The header's slot last synced (-1: none yet), and the one last written; a rewrite goes
    /// to the slot that does not hold the header last synced.
    int m_syncedSlot = -1;
    int m_writtenSlot = -1;
    /// The syncer's ask that covers the header last written; 0: not asked yet.
    quint64 m_headerAsk = 0;
    QString m_error;   ///< why the last reserve or write failed
    QString m_failure; ///< a failure to secure the records not yet told
};
