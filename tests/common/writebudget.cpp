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

int xClose(sqlite3_file *f) {
    return realIo(f)->xClose(self(f)->real());
}
int xRead(sqlite3_file *f, void *p, int n, sqlite3_int64 off) {
    return realIo(f)->xRead(self(f)->real(), p, n, off);
}
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
int xTruncate(sqlite3_file *f, sqlite3_int64 size) {
    return realIo(f)->xTruncate(self(f)->real(), size);
}
int xSync(sqlite3_file *f, int flags) {
    return realIo(f)->xSync(self(f)->real(), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size) {
    return realIo(f)->xFileSize(self(f)->real(), size);
}
int xLock(sqlite3_file *f, int l) {
    return realIo(f)->xLock(self(f)->real(), l);
}
int xUnlock(sqlite3_file *f, int l) {
    return realIo(f)->xUnlock(self(f)->real(), l);
}
int xCheckReservedLock(sqlite3_file *f, int *out) {
    return realIo(f)->xCheckReservedLock(self(f)->real(), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg) {
    return realIo(f)->xFileControl(self(f)->real(), op, arg);
}
int xSectorSize(sqlite3_file *f) {
    return realIo(f)->xSectorSize(self(f)->real());
}
int xDeviceCharacteristics(sqlite3_file *f) {
    return realIo(f)->xDeviceCharacteristics(self(f)->real());
}
int xShmMap(sqlite3_file *f, int pg, int sz, int extend, void volatile **pp) {
    return realIo(f)->xShmMap(self(f)->real(), pg, sz, extend, pp);
}
int xShmLock(sqlite3_file *f, int offset, int n, int flags) {
    return realIo(f)->xShmLock(self(f)->real(), offset, n, flags);
}
void xShmBarrier(sqlite3_file *f) {
    realIo(f)->xShmBarrier(self(f)->real());
}
int xShmUnmap(sqlite3_file *f, int deleteFlag) {
    return realIo(f)->xShmUnmap(self(f)->real(), deleteFlag);
}
int xFetch(sqlite3_file *f, sqlite3_int64 off, int n, void **pp) {
    return realIo(f)->xFetch(self(f)->real(), off, n, pp);
}
int xUnfetch(sqlite3_file *f, sqlite3_int64 off, void *p) {
    return realIo(f)->xUnfetch(self(f)->real(), off, p);
}

const sqlite3_io_methods kIo = {3,
                                xClose,
                                xRead,
                                xWrite,
                                xTruncate,
                                xSync,
                                xFileSize,
                                xLock,
                                xUnlock,
                                xCheckReservedLock,
                                xFileControl,
                                xSectorSize,
                                xDeviceCharacteristics,
                                xShmMap,
                                xShmLock,
                                xShmBarrier,
                                xShmUnmap,
                                xFetch,
                                xUnfetch};

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

} // namespace WriteBudget
