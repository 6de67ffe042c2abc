#pragma once

#include <QString>

#include <functional>

class CallFaults;

/// A disk that fills up, for tests, without root: a SQLite VFS, installed as the default, that
/// hands every call to the VFS it replaced and fails writes with SQLITE_FULL once a budget of
/// bytes is spent. As on a real disk, only bytes that grow a file count. The budget covers files
/// under one folder only, so a file elsewhere (on "another drive") is written as usual; it can be
/// raised again at any time.
namespace WriteBudget {

/// Installs the VFS (once) as the default for connections opened from now on.
void install();
/// Lets `bytes` more bytes be written under `folder`; a negative budget lifts the limit.
void set(const QString &folder, qint64 bytes);
/// No limit anywhere.
inline void lift() {
    set(QString(), -1);
}
/// Writes refused since install().
int refusals();
/// Runs `hook` once, at the next sync of a file under the folder given to set(), before the
/// sync itself: in the middle of the engine's commit.
void atNextSync(std::function<void()> hook);

/// Faults. The kinds of call a file under the folder given to set() can fail at.
enum class Call { Open, Read, Write, Truncate, Sync, FileSize, Lock, Delete, Count };
const char *callName(Call kind);
/// From now on the `k`-th call of `kind` under the folder fails with `rc` (SQLITE_FULL,
/// SQLITE_IOERR, ...), once or, `lasting`, until faults().heal(); calls are counted anew.
/// `kind` Count fails nothing and only counts.
void failCall(Call kind, int k, int rc, bool lasting);
/// The counts and failures of failCall().
CallFaults &faults();
/// Syncs under the folder report success without reaching the disk (power cuts still keep
/// what each one would have): a sweep of thousands of runs then waits for no disk.
void skipRealSyncs(bool skip);

/// Power cuts. From now on, what every file under the folder held at its last sync is kept
/// (a file never synced has none); files opened before are not followed.
void keepSyncedImages();
/// The file at `path` lasts as it is now, until a sync of it says otherwise, even when the
/// engine first opens it after the power went.
void keepAsFound(const QString &path);
/// The power goes at the `n`-th sync from now (1: the next one): that sync and every later
/// one are not kept, and `atCut` runs (once) at that moment. 0 cuts no power.
void cutPowerAtSync(int n, std::function<void()> atCut = {});
/// Syncs of files under the folder since keepSyncedImages(), kept or not.
int syncsSeen();
/// The power goes now: no sync from now on is kept.
void cutPowerNow();
/// Whether the power went.
bool powerWasCut();
/// After the files were closed: every file under the folder that the engine opened is put
/// back as its last kept sync left it, and removed where no sync was kept. Stops keeping.
void restoreSyncedImages();

} // namespace WriteBudget
