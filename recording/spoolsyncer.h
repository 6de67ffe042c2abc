#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class SpoolIo;

/// Syncs a spool's file to the disk on a thread of its own, so that a disk that takes long
/// to sync (a USB stick, a network folder, a disk busy with other work) never holds up the
/// window: asking costs a lock and a wake-up.
///
/// Asks that come while a sync is under way make one more sync after it, not one each. The
/// thread works on a duplicate of the file's descriptor made for each sync, so the spool may
/// close and remove its file at any time: the syncer never makes its owner wait, and its
/// thread ends by itself once the sync under way (if any) is done.
class SpoolSyncer {
public:
    /// For the open file `descriptor` (open for as long as the syncer), named `path`; `newFile`:
    /// the file was just made, so the folder's entry of it is synced once as well.
    SpoolSyncer(int descriptor, const QString &path, bool newFile, SpoolIo &io);
    ~SpoolSyncer();
    SpoolSyncer(const SpoolSyncer &) = delete;
    SpoolSyncer &operator=(const SpoolSyncer &) = delete;

    /// Has everything written so far synced, as soon as the thread is free. Returns the
    /// number of this ask (from 1), 0 when it could not be made.
    quint64 request();
    /// The highest ask that a finished sync covers.
    quint64 completed() const;
    /// Waits until every sync asked for before the call has completed; false after
    /// `timeoutMs`.
    bool waitUntilDone(int timeoutMs) const;
    /// Why the last failed sync failed, once; empty when none failed since the last call.
    QString takeError();

private:
    struct State;
    int m_descriptor;
    std::shared_ptr<State> m_state;
};
