#pragma once

#include <QString>

#include <functional>

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

} // namespace WriteBudget
