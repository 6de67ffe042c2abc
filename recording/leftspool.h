#pragma once

#include "leftrecords.h"
#include "pendingspool.h"
#include "recordrow.h"
#include "recordvalues.h"
#include "spoolformat.h"

#include <QFile>
#include <QList>
#include <QString>

#include <deque>
#include <functional>
#include <memory>

/// A spool found beside a table as the table opens: left by a run that ended without closing
/// the table (a crash, a power cut, a killed process), with the records it had not saved.
///
/// It is opened only when it is a plain file of this user's with no other name, never through
/// a link (SafeFile::openExisting), and read to its last whole record: a torn or damaged tail
/// is cut there. judge() says what it is to the table as it is now: records to offer, records
/// the table holds already (a save or a clear that the run did not live to note in the
/// spool), or records that began at another state of the table, or of another table, which
/// are never applied.
class LeftSpool {
public:
    enum class Verdict {
        Empty,        ///< no record in it
        Offer,        ///< records the table has not saved, made at its state now
        Saved,        ///< the table holds them already: a save the spool did not live to note
        Cleared,      ///< a clearing under way when the run ended took them (or the user's
                      ///< asking for it: a clearing of a table without stored records)
        NotThisTable, ///< made for another file at that path, or another state of the table
        Unreadable,   ///< not a spool of this program's, or its header is damaged
    };

    /// The spool at `path`, read; null when nothing is there. Throws SafeFile::Refused when
    /// something else than a plain file of this user's is there (a link, a folder, ...), and
    /// std::runtime_error when it cannot be opened or read.
    static std::unique_ptr<LeftSpool> find(const QString &path);

    /// Reads stored rows of the table, from `first`, up to `n`; throws when it cannot.
    using StoredRows = std::function<QList<RecordRow>(qint64 first, int n)>;
    /// What the spool is to the table whose identity and stored state are in `table` (the
    /// header this run would write for it), whose stored rows `rows` reads.
    Verdict judge(const SpoolFormat::Header &table, const StoredRows &rows) const;

    LeftRecords records() const;
    const PendingSpool::Content &content() const { return m_content; }
    QString path() const { return m_path; }

    /// Hands the file with its records over, to be appended to (this is done with it).
    std::unique_ptr<PendingSpool> adopt();
    /// Removes the file; false when it could not be.
    bool remove();
    /// Renames the file to `path` + `suffix` (or with "-2", "-3", ... after it, where that
    /// is taken); the new name, or empty when it could not be renamed.
    QString setAside(const QString &suffix);

private:
    explicit LeftSpool(const QString &path);
    void scan();
    bool matchesStored(qint64 first, const QList<RecordValues> &records,
                       const StoredRows &rows) const;

    static constexpr int kCompared = 64;

    QString m_path;
    std::unique_ptr<QFile> m_file;
    SpoolFormat::Header::Read m_read = SpoolFormat::Header::Read::Blank;
    PendingSpool::Content m_content;
    QList<RecordValues> m_firstRecords;     ///< the first kCompared records
    std::deque<RecordValues> m_lastRecords; ///< the last kCompared records
};
