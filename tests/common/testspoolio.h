#pragma once

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

    bool create(QFile &file) override;
    SafeFile::Opened openExisting(const QString &path, QFile &file, QString *error) override;
    bool write(QFile &file, qint64 offset, const char *data, qint64 size, QString *error) override;
    bool sync(int descriptor, const QString &path, QString *error) override;
    bool remove(const QString &path) override;
    bool rename(const QString &from, const QString &to) override;

private:
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
