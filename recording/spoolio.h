#pragma once

#include "safefile.h"

#include <QString>
#include <QtGlobal>

class QFile;

/// Every file operation of the spool of pending records, in one replaceable place, as a
/// SQLite VFS is for the table file: a test or a fault injector puts its own in to fail,
/// slow down or record them (a sync that takes seconds, a power cut that keeps only what
/// was synced, a disk that fills).
///
/// The base class does the real work. install() puts another in place for the spools
/// opened from then on; it must outlive them and the syncs they asked for, since sync()
/// runs on a thread of its own (SpoolSyncer) and may still be under way when its spool
/// has gone.
class SpoolIo {
public:
    virtual ~SpoolIo() = default;

    /// Makes `file.fileName()` anew and opens it for reading and writing (SafeFile::create).
    virtual bool create(QFile &file);
    /// Opens a spool left at `path` (SafeFile::openExisting).
    virtual SafeFile::Opened openExisting(const QString &path, QFile &file, QString *error);
    /// Writes `size` bytes at `offset`; false with `*error` set when not all went.
    virtual bool write(QFile &file, qint64 offset, const char *data, qint64 size, QString *error);
    /// Reads up to `size` bytes at `offset`; the count read, -1 on failure.
    virtual qint64 read(QFile &file, qint64 offset, char *data, qint64 size);
    /// Takes the disk space of bytes [from, to) of the file, so that later writes there never
    /// need space the disk may no longer have.
    virtual bool reserve(QFile &file, qint64 from, qint64 to, QString *error);
    /// Has what was written to the open file `descriptor` (named `path`) reach the disk.
    /// Called on the syncer's thread.
    virtual bool sync(int descriptor, const QString &path, QString *error);
    /// Has the entry of a file made in `folder` reach the disk. Called on the syncer's thread.
    virtual bool syncFolder(const QString &folder);
    virtual bool remove(const QString &path);
    /// Renames `from` to `to` where nothing has that name.
    virtual bool rename(const QString &from, const QString &to);

    /// The operations in use for spools opened from now on.
    static SpoolIo &current();
    /// Puts `io` in place (null: the real file system again); returns the one it replaces.
    static SpoolIo *install(SpoolIo *io);
};
