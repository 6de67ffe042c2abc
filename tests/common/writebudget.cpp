#include "writebudget.h"

#include <QDir>

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex s_mutex;
std::string s_folder; // with a trailing slash; empty: every file
qint64 s_left = -1;
std::atomic<int> s_refusals{0};
sqlite3_vfs *s_real = nullptr;
std::function<void()> s_syncHook;

struct BudgetFile {
    sqlite3_file base;
    const char *name; // valid until the file closes
    bool limited() const;
    sqlite3_file *real() { return reinterpret_cast<sqlite3_file *>(this + 1); }
};

BudgetFile *self(sqlite3_file *f) {
    return reinterpret_cast<BudgetFile *>(f);
}
const sqlite3_io_methods *realIo(sqlite3_file *f) {
    return self(f)->real()->pMethods;
}

bool BudgetFile::limited() const {
    if (s_folder.empty())
        return true;
#ifdef Q_OS_WIN
    // The engine names files as Windows does: backslashes, any case.
    return name && _strnicmp(name, s_folder.c_str(), s_folder.size()) == 0;
#else
    return name && std::strncmp(name, s_folder.c_str(), s_folder.size()) == 0;
#endif
}

bool spend(const BudgetFile *file, qint64 amount) {
    std::lock_guard lock(s_mutex);
    if (amount <= 0 || s_left < 0 || !file->limited())
        return true;
    if (amount > s_left) {
        s_left = 0;
        ++s_refusals;
        return false;
    }
    s_left -= amount;
    return true;
}

/// The call `M` of the file's own methods, on the file underneath.
template <auto M> struct Pass;
template <typename R, typename... A, R (*sqlite3_io_methods::*M)(sqlite3_file *, A...)>
struct Pass<M> {
    static R call(sqlite3_file *f, A... args) { return (realIo(f)->*M)(self(f)->real(), args...); }
};

// Like a full disk, only a write that grows the file takes space: pages rewritten in place
// (a rollback restoring them) always go through.
int xWrite(sqlite3_file *f, const void *p, int n, sqlite3_int64 off) {
    sqlite3_int64 size = 0;
    if (realIo(f)->xFileSize(self(f)->real(), &size) != SQLITE_OK)
        size = 0;
    if (!spend(self(f), off + n - size))
        return SQLITE_FULL;
    return realIo(f)->xWrite(self(f)->real(), p, n, off);
}

int xSync(sqlite3_file *f, int flags) {
    std::function<void()> hook;
    {
        std::lock_guard lock(s_mutex);
        if (self(f)->limited())
            hook.swap(s_syncHook);
    }
    if (hook)
        hook();
    return realIo(f)->xSync(self(f)->real(), flags);
}

using Io = sqlite3_io_methods;
const Io kIo = {3,
                Pass<&Io::xClose>::call,
                Pass<&Io::xRead>::call,
                xWrite,
                Pass<&Io::xTruncate>::call,
                xSync,
                Pass<&Io::xFileSize>::call,
                Pass<&Io::xLock>::call,
                Pass<&Io::xUnlock>::call,
                Pass<&Io::xCheckReservedLock>::call,
                Pass<&Io::xFileControl>::call,
                Pass<&Io::xSectorSize>::call,
                Pass<&Io::xDeviceCharacteristics>::call,
                Pass<&Io::xShmMap>::call,
                Pass<&Io::xShmLock>::call,
                Pass<&Io::xShmBarrier>::call,
                Pass<&Io::xShmUnmap>::call,
                Pass<&Io::xFetch>::call,
                Pass<&Io::xUnfetch>::call};

int xOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags) {
    BudgetFile *file = self(f);
    file->base.pMethods = nullptr;
    const int rc = s_real->xOpen(s_real, name, file->real(), flags, outFlags);
    if (file->real()->pMethods == nullptr)
        return rc;
    file->name = name;
    file->base.pMethods = &kIo;
    return rc;
}

sqlite3_vfs s_vfs;

} // namespace

namespace WriteBudget {

void install() {
    if (s_real)
        return;
    sqlite3_initialize();
    s_real = sqlite3_vfs_find(nullptr);
    s_vfs = *s_real;
    s_vfs.iVersion = std::min(s_real->iVersion, 3);
    s_vfs.zName = "qm-write-budget";
    s_vfs.szOsFile = int(sizeof(BudgetFile)) + s_real->szOsFile;
    s_vfs.xOpen = xOpen;
    s_vfs.pAppData = nullptr;
    sqlite3_vfs_register(&s_vfs, 1);
}

void set(const QString &folder, qint64 bytes) {
    std::lock_guard lock(s_mutex);
    s_folder = folder.isEmpty()
                   ? std::string()
                   : QDir::toNativeSeparators(QDir(folder).canonicalPath() + u'/').toStdString();
    s_left = bytes;
}

int refusals() {
    return s_refusals.load();
}

void atNextSync(std::function<void()> hook) {
    std::lock_guard lock(s_mutex);
    s_syncHook = std::move(hook);
}

} // namespace WriteBudget
