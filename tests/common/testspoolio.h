#pragma once

#include "callfaults.h"
#include "spoolio.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

/// The spool's file operations for tests: the real ones, with syncs that can be held, slowed
/// down or made to fail, and power cuts that keep only what a sync took to the disk. Install
/// it for the whole test program (install()): a sync may still run on its thread after the
/// spool that asked for it has gone.
class TestSpoolIo : public SpoolIo {
public:
    /// Puts this in place of the real operations for every spool opened from now on.
    void install() { SpoolIo::install(this); }

    /// Every sync waits this long first.
    std::atomic<int> syncDelayMs{0};
    /// Every sync fails.
    std::atomic<bool> failSyncs{false};
    /// Syncs report success without reaching the disk (power cuts still keep what each one
    /// would have).
    std::atomic<bool> skipRealSyncs{false};
    /// Syncs wait until released (or until `holdSyncs(false)`).
    void holdSyncs(bool hold);
    /// Syncs of `path` done (failed ones too), and syncs waiting or under way now.
    int syncsDone(const QString &path);
    int syncsUnderWay() const { return m_underWay.load(); }

    /// Power cuts. From now on, what each spool file held at its last sync is kept, and the
    /// writes after it are noted.
    void keepSyncedImages();
    /// The power goes now: nothing written or synced from now on lasts.
    void cutPower();
    /// After the spools were closed: each file is put back as its last sync left it, then
    /// `lasting` decides for each write after that sync (in order; index, size) how many of
    /// its bytes reached the disk all the same (from 0 to all: a torn write). A file never
    /// synced is removed. Stops keeping.
    using Lasting = std::function<qint64(int index, qint64 size)>;
    void restoreSyncedImages(const Lasting &lasting = {});

    /// Faults: the kinds of operation that can fail, as CallFaults counts them. A failing
    /// one says the disk is full, or (`full` false) that it met an I/O error.
    enum class Call { Create, Open, Write, Read, Reserve, Sync, SyncFolder, Remove, Rename, Count };
    static const char *callName(Call kind);
    /// From now on the `k`-th operation of `kind` fails, once or, `lasting`, until
    /// faults.heal(); operations are counted anew. `kind` Count only counts.
    void failCall(Call kind, int k, bool full, bool lasting);
    CallFaults faults;

    bool create(QFile &file) override;
    SafeFile::Opened openExisting(const QString &path, QFile &file, QString *error) override;
    bool write(QFile &file, qint64 offset, const char *data, qint64 size, QString *error) override;
    qint64 read(QFile &file, qint64 offset, char *data, qint64 size) override;
    bool reserve(QFile &file, qint64 from, qint64 to, QString *error) override;
    bool sync(int descriptor, const QString &path, QString *error) override;
    bool syncFolder(const QString &folder) override;
    bool remove(const QString &path) override;
    bool rename(const QString &from, const QString &to) override;

private:
    /// Whether this operation of `kind` is one to fail; `*error` then says why.
    bool faulted(Call kind, QString *error = nullptr);

    std::atomic<bool> m_full{true};
    struct Write {
        qint64 offset;
        QByteArray bytes;
    };
    struct Image {
        bool synced = false;
        QByteArray content;
        QList<Write> after;
    };

    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_hold = false;
    QHash<QString, int> m_done;
    std::atomic<int> m_underWay{0};
    bool m_keeping = false;
    bool m_cut = false;
    QHash<const QFile *, QString> m_names; ///< a file opened on a descriptor has no name
    QHash<QString, Image> m_images;
};
