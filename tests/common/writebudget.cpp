#include "writebudget.h"

#include "callfaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex s_mutex;
std::string s_folder; // with a trailing slash; empty: every file
qint64 s_left = -1;
std::atomic<int> s_refusals{0};
sqlite3_vfs *s_real = nullptr;
std::function<void()> s_syncHook;
CallFaults s_faults;
std::atomic<int> s_faultRc{0};
int s_syncsSeen = 0;
std::atomic<bool> s_skipSyncs{false};

// Power cuts: per file name, its content at its last kept sync; every name opened.
bool s_keeping = false;
int s_syncsToCut = 0;
bool s_cut = false;
std::function<void()> s_atCut;
std::map<std::string, QByteArray> s_images;
QSet<QString> s_opened;

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

/// Whether this call of `kind` on a file under the folder is one to fail.
bool faulted(bool limited, WriteBudget::Call kind) {
    return limited && s_faults.fails(int(kind));
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

/// The call `M` of the file's own methods, on the file underneath; a `Kind` of call that the
/// fault injector may fail.
template <auto M, WriteBudget::Call Kind = WriteBudget::Call::Count> struct Pass;
template <typename R, typename... A, R (*sqlite3_io_methods::*M)(sqlite3_file *, A...),
          WriteBudget::Call Kind>
struct Pass<M, Kind> {
    static R call(sqlite3_file *f, A... args) {
        if constexpr (Kind != WriteBudget::Call::Count)
            if (faulted(self(f)->limited(), Kind))
                return s_faultRc.load();
        return (realIo(f)->*M)(self(f)->real(), args...);
    }
};

// Like a full disk, only a write that grows the file takes space: pages rewritten in place
// (a rollback restoring them) always go through.
int xWrite(sqlite3_file *f, const void *p, int n, sqlite3_int64 off) {
    if (faulted(self(f)->limited(), WriteBudget::Call::Write))
        return s_faultRc.load();
    sqlite3_int64 size = 0;
    if (realIo(f)->xFileSize(self(f)->real(), &size) != SQLITE_OK)
        size = 0;
    if (!spend(self(f), off + n - size))
        return SQLITE_FULL;
    return realIo(f)->xWrite(self(f)->real(), p, n, off);
}

/// At a sync of a file under the folder: keeps its content, unless the power went.
void keepImage(sqlite3_file *f) {
    std::function<void()> atCut;
    {
        std::lock_guard lock(s_mutex);
        if (!s_keeping || s_cut || !self(f)->limited() || !self(f)->name)
            return;
        ++s_syncsSeen;
        if (s_syncsToCut > 0 && --s_syncsToCut == 0) {
            s_cut = true;
            atCut.swap(s_atCut);
        }
    }
    if (atCut) {
        atCut();
        return;
    }
    sqlite3_int64 size = 0;
    realIo(f)->xFileSize(self(f)->real(), &size);
    QByteArray content(qsizetype(size), '\0');
    if (size > 0)
        realIo(f)->xRead(self(f)->real(), content.data(), int(size), 0);
    std::lock_guard lock(s_mutex);
    s_images[self(f)->name] = content;
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
    if (faulted(self(f)->limited(), WriteBudget::Call::Sync))
        return s_faultRc.load();
    const int rc =
        s_skipSyncs && self(f)->limited() ? SQLITE_OK : realIo(f)->xSync(self(f)->real(), flags);
    if (rc == SQLITE_OK)
        keepImage(f);
    return rc;
}

using Io = sqlite3_io_methods;
const Io kIo = {3,
                Pass<&Io::xClose>::call,
                Pass<&Io::xRead, WriteBudget::Call::Read>::call,
                xWrite,
                Pass<&Io::xTruncate, WriteBudget::Call::Truncate>::call,
                xSync,
                Pass<&Io::xFileSize, WriteBudget::Call::FileSize>::call,
                Pass<&Io::xLock, WriteBudget::Call::Lock>::call,
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
    file->name = name;
    if (faulted(file->limited(), WriteBudget::Call::Open))
        return s_faultRc.load();
    const int rc = s_real->xOpen(s_real, name, file->real(), flags, outFlags);
    if (file->real()->pMethods == nullptr)
        return rc;
    file->name = name;
    file->base.pMethods = &kIo;
    std::lock_guard lock(s_mutex);
    if (s_keeping && !s_cut && name && file->limited()) {
        s_opened.insert(QString::fromUtf8(name));
        // A file found on the disk lasts as it was found, until a sync says otherwise.
        if (s_images.find(name) == s_images.end()) {
            sqlite3_int64 size = 0;
            file->real()->pMethods->xFileSize(file->real(), &size);
            QByteArray content(qsizetype(size), '\0');
            if (size > 0)
                file->real()->pMethods->xRead(file->real(), content.data(), int(size), 0);
            s_images[name] = content;
        }
    }
    return rc;
}

int xDelete(sqlite3_vfs *, const char *name, int syncDir) {
    BudgetFile named{};
    named.name = name;
    if (faulted(named.limited(), WriteBudget::Call::Delete))
        return s_faultRc.load() == SQLITE_FULL ? SQLITE_FULL : SQLITE_IOERR_DELETE;
    {
        // Taken as lasting: the engine syncs the folder when a deletion commits.
        std::lock_guard lock(s_mutex);
        if (!s_cut)
            s_images.erase(name);
    }
    return s_real->xDelete(s_real, name, syncDir);
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
    s_vfs.xDelete = xDelete;
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

const char *callName(Call kind) {
    static const char *const kNames[] = {"open", "read",      "write", "truncate",
                                         "sync", "file size", "lock",  "delete"};
    return kind < Call::Count ? kNames[int(kind)] : "none";
}

void failCall(Call kind, int k, int rc, bool lasting) {
    s_faultRc = rc;
    s_faults.arm(kind == Call::Count ? -1 : int(kind), k, lasting);
}

CallFaults &faults() {
    return s_faults;
}

void skipRealSyncs(bool skip) {
    s_skipSyncs = skip;
}

int syncsSeen() {
    std::lock_guard lock(s_mutex);
    return s_syncsSeen;
}

void keepSyncedImages() {
    std::lock_guard lock(s_mutex);
    s_syncsSeen = 0;
    s_keeping = true;
    s_cut = false;
    s_syncsToCut = 0;
    s_atCut = {};
    s_images.clear();
    s_opened.clear();
}

void cutPowerAtSync(int n, std::function<void()> atCut) {
    std::lock_guard lock(s_mutex);
    s_syncsToCut = n;
    s_atCut = std::move(atCut);
}

void keepAsFound(const QString &path) {
    QFile file(path);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QString name = QDir::toNativeSeparators(QFileInfo(path).canonicalFilePath());
    std::lock_guard lock(s_mutex);
    s_opened.insert(name);
    s_images[name.toStdString()] = content;
}

void cutPowerNow() {
    std::lock_guard lock(s_mutex);
    s_cut = true;
    s_syncsToCut = 0;
}

bool powerWasCut() {
    std::lock_guard lock(s_mutex);
    return s_cut;
}

void restoreSyncedImages() {
    std::lock_guard lock(s_mutex);
    for (const QString &name : std::as_const(s_opened)) {
        const auto image = s_images.find(name.toStdString());
        if (image == s_images.end()) {
            QFile::remove(name);
            continue;
        }
        QFile file(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(image->second);
    }
    s_keeping = false;
    s_cut = false;
    s_syncsToCut = 0;
    s_images.clear();
    s_opened.clear();
}

} // namespace WriteBudget
