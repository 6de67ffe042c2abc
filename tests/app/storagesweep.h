#pragma once

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "callfaults.h"
#include "datareport.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "storageinvariants.h"
#include "testspoolio.h"
#include "windowcontrols.h"
#include "windowharness.h"
#include "writebudget.h"

#include <sqlite3.h>

#include <memory>

/// One run of the storage sweep: the k-th call of one kind failing, of the table file's
/// layer (with SQLITE_FULL or SQLITE_IOERR) or of the spool's, once or until room returns
/// two steps later; or the power cut at the k-th sync of the table's files.
struct StoragePoint {
    enum Target { Table, Spool, PowerCut };
    Target target = Table;
    int kind = 0;
    int k = 1;
    bool full = true;
    bool lasting = false;
    /// And the power cut at the end of the step the call failed in.
    bool cut = false;

    QString name() const {
        if (target == PowerCut)
            return QStringLiteral("power cut at sync k=%1").arg(k);
        return QString::fromLatin1(cut ? "%1 %2 k=%3 %4 %5, power cut after it"
                                       : "%1 %2 k=%3 %4 %5")
            .arg(target == Table ? "table" : "spool",
                 target == Table ? WriteBudget::callName(WriteBudget::Call(kind))
                                 : TestSpoolIo::callName(TestSpoolIo::Call(kind)))
            .arg(k)
            .arg(full ? (target == Table ? "SQLITE_FULL" : "ENOSPC")
                      : (target == Table ? "SQLITE_IOERR" : "EIO"),
                 lasting ? "lasting" : "once");
    }
};

/// The storage sweep's scenario through the real window (TFCOMM): a flood of readings through
/// INDataToTable into a table of small pages and a small page cache, so that pending pages
/// spill, the grid read at its top and bottom, the spool synced, Record Save, more readings,
/// Clear, readings, Save data files as a table copy and as text, a report page, readings,
/// Record Save, Open old data files on the copy and back, readings; then room returns, the table is
/// opened again where it is not, readings, the final Save, and the file is checked from a
/// connection of its own. A power cut restores what the table's files and the spool held at their
/// last kept syncs, starts the window again and checks what it holds and offers.
class StorageSweep {
public:
    /// Readings of each flood: the first (and the one after Clear), the others.
    struct Sizes {
        int flood = 120;
        int more = 15;
    };

    StorageSweep(TestSpoolIo &spool, Sizes sizes) : m_spool(spool), m_sizes(sizes) {
        WriteBudget::skipRealSyncs(true);
        m_spool.skipRealSyncs = true;
    }
    ~StorageSweep() {
        WriteBudget::skipRealSyncs(false);
        m_spool.skipRealSyncs = false;
    }
    StorageSweep(const StorageSweep &) = delete;
    StorageSweep &operator=(const StorageSweep &) = delete;

    /// Runs the scenario at `p`; false when no call of the kind (or no sync) was left at k.
    bool run(const StoragePoint &p) {
        QTemporaryDir dir;
        m_dir = dir.path();
        m_table = dir.filePath(QStringLiteral("Qm20db.db"));
        m_copy = dir.filePath(QStringLiteral("copy.db"));
        WriteBudget::set(m_dir, -1);
        makeTable();
        m_inv.point = p.name();
        m_inv.saved.clear();
        m_inv.savedOr.clear();
        m_inv.pending.clear();
        m_inv.nextNo = 1;
        m_secured.clear();
        m_cutAt.reset();
        m_healed = false;
        m_lasting = p.lasting;
        m_firedAtStep = -1;
        m_steps = 0;
        m_value = 0;
        m_keepLeft = false;

        if (p.target == StoragePoint::PowerCut) {
            WriteBudget::keepSyncedImages();
            m_spool.keepSyncedImages();
            WriteBudget::cutPowerAtSync(p.k, [this] {
                m_spool.cutPower();
                m_cutAt = Snapshot{m_inv.saved,   m_inv.pending, m_secured,
                                   m_inv.savedOr, m_inv.step,    true};
            });
        } else if (p.cut) {
            WriteBudget::keepSyncedImages();
            m_spool.keepSyncedImages();
        }
        if (p.target == StoragePoint::PowerCut || p.cut)
            WriteBudget::keepAsFound(m_table);
        m_cutAfterFault = p.cut;
        WriteBudget::failCall(p.target == StoragePoint::Table ? WriteBudget::Call(p.kind)
                                                              : WriteBudget::Call::Count,
                              p.k, p.full ? SQLITE_FULL : SQLITE_IOERR, p.lasting);
        m_spool.failCall(p.target == StoragePoint::Spool ? TestSpoolIo::Call(p.kind)
                                                         : TestSpoolIo::Call::Count,
                         p.k, p.full, p.lasting);
        scenario();
        const bool hit = p.target == StoragePoint::PowerCut ? WriteBudget::powerWasCut()
                         : p.target == StoragePoint::Table  ? WriteBudget::faults().fired() > 0
                                                            : m_spool.faults.fired() > 0;
        if (p.target == StoragePoint::PowerCut || p.cut) {
            WriteBudget::cutPowerAtSync(1);
            WriteBudget::restoreSyncedImages();
            m_spool.restoreSyncedImages();
            if (m_cutAt)
                afterPowerCut();
        }
        WriteBudget::failCall(WriteBudget::Call::Count, 0, SQLITE_OK, false);
        m_spool.failCall(TestSpoolIo::Call::Count, 0, true, false);
        ++m_runs;
        return hit;
    }

    /// k = 1, 2, ... at `p` until no call is left to fail; the points run.
    int sweep(StoragePoint p) {
        int points = 0;
        for (p.k = 1; run(p); ++p.k)
            ++points;
        return points + 1;
    }

    const StorageInvariants &invariants() const { return m_inv; }
    int runs() const { return m_runs; }

private:
    struct Snapshot {
        StorageInvariants::Records saved, pending, secured;
        QList<StorageInvariants::Records> savedOr;
        QString step;
        bool inFlight = false; ///< cut in the middle of the step
    };

    void makeTable() {
        // Pages of 512 bytes and a cache of 2 of them: pending records spill after a few dozen.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "sweep");
            db.setDatabaseName(m_table);
            db.open();
            QSqlQuery q(db);
            q.exec(QStringLiteral("PRAGMA page_size=512"));
            q.exec(RecordSchema::createSql(QStringLiteral("Qm20db")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("sweep"));
    }

    /// The table's or the copy's file, read by a connection of its own.
    std::pair<QString, StorageInvariants::Records> readFile(const QString &path,
                                                            const QString &table = "Qm20db") {
        StorageInvariants::Records rows;
        QString integrity = QStringLiteral("<cannot open>");
        WriteBudget::faults().pause(true);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "sweep");
            db.setDatabaseName(path);
            if (QFile::exists(path) && db.open()) {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                    integrity = q.value(0).toString();
                if (q.exec(QStringLiteral("SELECT \"No\", \"Value\" FROM \"%1\" ORDER BY rowid")
                               .arg(table)))
                    while (q.next())
                        rows.append({q.value(0).toInt(), q.value(1).toString()});
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("sweep"));
        WriteBudget::faults().pause(false);
        return {integrity, rows};
    }

    bool tableIsOurs() const {
        RecordTable *t = m_h->w->recordTable();
        return t->isOpen() && t->fileName() == m_table && !t->isReadOnly();
    }
    void smallCache() {
        if (m_h->w->recordTable()->isOpen())
            sqlite3_exec(m_h->w->recordTable()->nativeHandle(), "PRAGMA cache_size=2", nullptr,
                         nullptr, nullptr);
    }
    void settle() {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    bool anyFired() const { return WriteBudget::faults().fired() + m_spool.faults.fired() > 0; }

    /// Runs one step of the user's; checks what it told. `succeeded` says, after it, whether
    /// what `success` claims holds; `done` runs when the success was claimed.
    void step(const QString &name, const std::function<void()> &work, const QString &success = {},
              const std::function<bool()> &succeeded = {}, const std::function<void()> &done = {}) {
        m_inv.step = name;
        const qsizetype errors = m_h ? m_h->errors.size() : 0, infos = m_h ? m_h->infos.size() : 0;
        work();
        settle();
        const QStringList newErrors = m_h->errors.mid(errors), newInfos = m_h->infos.mid(infos);
        const bool claimed = !success.isEmpty() && newInfos.contains(success);
        if (m_h->w->recordTable()->fileName() == m_table)
            for (const QString &error : newErrors) {
                if (error.contains(u"may be in the file already"))
                    m_inv.maybeSaved();
                else if (error.contains(u"may be deleted already"))
                    m_inv.maybeCleared();
            }
        m_inv.told(newErrors, newInfos, success, !claimed || !succeeded || succeeded());
        if (claimed && done)
            done();
        if (qEnvironmentVariableIsSet("QM_SWEEP_TRACE"))
            qInfo("%s: %s%s| pending %lld of %lld", qPrintable(name),
                  qPrintable(newErrors.join(u" | ")), qPrintable(newInfos.join(u" | ")),
                  m_h->w->recordTable()->pendingCount(),
                  m_h->w->recordTable()->isOpen() ? m_h->w->recordTable()->count() : -1);
        // A lasting fault: room returns two steps after the one it first failed in.
        ++m_steps;
        if (m_firedAtStep < 0 && anyFired()) {
            m_firedAtStep = m_steps;
            if (m_cutAfterFault) {
                WriteBudget::cutPowerNow();
                m_spool.cutPower();
                m_cutAt = Snapshot{m_inv.saved, m_inv.pending, m_secured, m_inv.savedOr, name};
            }
        }
        if (m_lasting && m_firedAtStep >= 0 && m_steps >= m_firedAtStep + 2)
            heal();
    }
    void heal() {
        WriteBudget::faults().heal();
        m_spool.faults.heal();
    }

    void flood(int n) {
        step(QStringLiteral("readings %1..%2").arg(m_value + 1).arg(m_value + n), [&] {
            TFCOMM &w = *m_h->w;
            for (int i = 0; i < n; ++i) {
                const QString value = QString::number(++m_value);
                const bool ours = tableIsOurs();
                const qint64 before = ours ? w.recordTable()->count() : -1;
                const int no = w.RecordNo();
                const DecodedFrame reading =
                    readingFrame(value, float(m_value), QStringLiteral("DC"), QStringLiteral("V"),
                                 QStringLiteral("AUTO"));
                m_h->prompts.guard([&] { w.INDataToTable(reading); });
                const bool stored =
                    ours && w.recordTable()->isOpen() && w.recordTable()->count() == before + 1;
                if (ours)
                    m_inv.offered(value, stored, no, w.RecordNo(), m_healed);
            }
        });
    }
    void gridReads() {
        step(QStringLiteral("grid"), [&] {
            RecordTableModel *m = m_h->w->recordModel();
            for (int row : {0, m->rowCount() - 1})
                for (int c = 0; c < m->columnCount(); ++c)
                    m->index(row, c).data();
        });
    }
    StorageInvariants::Records gridRecords() const {
        StorageInvariants::Records rows;
        RecordTableModel *m = m_h->w->recordModel();
        for (int r = 0; r < m->rowCount(); ++r)
            rows.append({m->index(r, RecordRow::No).data().toInt(),
                         m->index(r, RecordRow::Value).data().toString()});
        return rows;
    }
    void openFile(const QString &name, const QString &path) {
        step(name, [&] {
            m_h->nextFile = path;
            m_h->w->OpenDataFilesClick();
            if (m_h->w->recordTable()->fileName() == path) {
                m_inv.reopened();
                m_secured.clear();
            }
            smallCache();
        });
    }
    void save(const QString &name) {
        const bool ours = tableIsOurs();
        step(
            name, [&] { m_h->w->RecordSaveClick(); },
            QStringLiteral("Record has saved, it will be there when you enter the application "
                           "next time."),
            [&] {
                return m_h->w->recordTable()->isOpen() &&
                       m_h->w->recordTable()->pendingCount() == 0;
            },
            [&] {
                if (ours) {
                    m_inv.savedAll();
                    m_secured.clear();
                }
            });
    }

    void scenario() {
        WindowHarness::Setup setup;
        setup.folder = m_dir;
        setup.answerFor = [this](const QString &q) {
            if (q.contains(u"Keep them as unsaved records?"))
                return m_keepLeft;
            return !q.contains(u"Save the table with Save data files now?");
        };
        TFCOMM *w = nullptr;
        step(QStringLiteral("start"), [&] {
            m_h = std::make_unique<WindowHarness>(setup);
            w = m_h->w.get();
            smallCache();
        });
        control<QCheckBox>(*w, "RepeatSet")->setChecked(false);
        w->limitessClick();
        w->setPreviewHook([](DataReport &report) {
            QImage page(400, 560, QImage::Format_RGB32);
            QPainter painter(&page);
            report.paintPage(painter, 0);
            report.paintPage(painter, report.pageCount() - 1);
        });
        flood(m_sizes.flood);
        gridReads();
        step(QStringLiteral("spool synced"), [&] {
            w->recordTable()->securePending();
            if (w->recordTable()->waitUntilSecured(5000) && !anyFired())
                m_secured = m_inv.pending;
        });
        save(QStringLiteral("Record, Save"));
        flood(m_sizes.more);
        step(
            QStringLiteral("Record, New"), [&] { w->RecordNewClick(); },
            QStringLiteral(" Record deleted "),
            [&] { return w->recordTable()->isOpen() && w->recordTable()->count() == 0; },
            [&] {
                if (m_h->w->recordTable()->fileName() == m_table)
                    m_inv.cleared();
                m_secured.clear();
            });
        flood(m_sizes.flood);
        gridReads();
        const bool ours = tableIsOurs();
        const StorageInvariants::Records shown = m_inv.saved + m_inv.pending;
        step(QStringLiteral("save as a table"), [&] {
            m_h->nextFile = m_copy;
            const qsizetype errors = m_h->errors.size();
            w->saveasClick();
            // No message says a copy was made: one that was not made must say so.
            if (ours && m_h->errors.size() == errors) {
                const auto [integrity, rows] = readFile(m_copy, QStringLiteral("copy"));
                m_inv.check(integrity == u"ok" && rows == shown, 3,
                            QStringLiteral("copy without an error holds %1 (%2)")
                                .arg(StorageInvariants::describe(rows), integrity));
            }
        });
        const QString text = QDir(m_dir).filePath(QStringLiteral("export.txt"));
        step(
            QStringLiteral("save as text"),
            [&] {
                m_h->nextFile = text;
                w->saveasClick();
            },
            QStringLiteral("save table to specified file: %1 Scuss!").arg(text),
            [&] {
                QFile f(text);
                return f.open(QIODevice::ReadOnly) && f.readAll().count("\r\n") == shown.size() + 1;
            });
        step(QStringLiteral("report"), [&] { w->BtPrintClick(); });
        flood(m_sizes.more);
        save(QStringLiteral("Record, Save before opening"));
        openFile(QStringLiteral("open the copy"), m_copy);
        openFile(QStringLiteral("open the table again"), m_table);
        flood(m_sizes.more);

        heal();
        m_healed = true;
        if (!tableIsOurs())
            openFile(QStringLiteral("open the table after room returned"), m_table);
        flood(m_sizes.more);
        const qsizetype infos = m_h->infos.size();
        save(QStringLiteral("final save"));
        m_inv.check(m_h->infos.size() > infos, 5, QStringLiteral("final save not done"));
        const StorageInvariants::Records shownAtEnd = gridRecords();
        m_h.reset();
        m_inv.step = QStringLiteral("file after the final save");
        const auto [integrity, rows] = readFile(m_table);
        m_inv.storedAre(integrity, rows, m_inv.saved);
        m_inv.check(shownAtEnd == rows, 2,
                    QStringLiteral("grid showed %1").arg(StorageInvariants::describe(shownAtEnd)));
    }

    /// After a power cut: the window starts again on what lasted and is offered the rest.
    void afterPowerCut() {
        const Snapshot &at = *m_cutAt;
        m_inv.step = QStringLiteral("restart after the power cut in \"%1\"").arg(at.step);
        m_keepLeft = true;
        WindowHarness::Setup setup;
        setup.folder = m_dir;
        setup.answerFor = [](const QString &q) {
            return !q.contains(u"Save the table with Save data files now?");
        };
        m_h = std::make_unique<WindowHarness>(setup);
        RecordTable *t = m_h->w->recordTable();
        if (!m_inv.check(t->isOpen(), 6,
                         QStringLiteral("table does not open: %1").arg(m_h->errors.join(u" | ")))) {
            m_h.reset();
            return;
        }
        const StorageInvariants::Records shown = gridRecords();
        const StorageInvariants::Records stored = shown.mid(0, t->count() - t->pendingCount());
        const StorageInvariants::Records offered = shown.mid(stored.size());
        const bool saving = at.inFlight && at.step.contains(u"Save");
        const bool clearing = at.inFlight && at.step.contains(u"New");
        const bool before = stored == at.saved || at.savedOr.contains(stored);
        const bool afterSave = saving && stored == at.saved + at.pending;
        const bool afterClear = clearing && stored.isEmpty();
        const QString seen =
            QStringLiteral("holds %1 and offers %2; saved %3, pending %4")
                .arg(StorageInvariants::describe(stored), StorageInvariants::describe(offered),
                     StorageInvariants::describe(at.saved),
                     StorageInvariants::describe(at.pending));
        m_inv.check(before || afterSave || afterClear, 6,
                    QStringLiteral("not the last Save: ") + seen);
        // Offered: the first of those pending that the file does not hold, at least those
        // pending at the spool's last sync, unless a clearing or an opening dropped them.
        StorageInvariants::Records mayOffer;
        for (const StorageInvariants::Record &r : at.pending)
            if (!stored.contains(r))
                mayOffer.append(r);
        m_inv.check(offered == mayOffer.mid(0, offered.size()), 6,
                    QStringLiteral("offered what was not pending: ") + seen);
        if (stored == at.saved && !clearing && !at.step.startsWith(u"open"))
            m_inv.check(
                offered.size() >= at.secured.size(), 6,
                QStringLiteral("%1 synced to the spool not offered: ").arg(at.secured.size()) +
                    seen);
        save(QStringLiteral("save after the power cut"));
        m_h.reset();
        const auto [integrity, rows] = readFile(m_table);
        m_inv.storedAre(integrity, rows, stored + offered, 6);
    }

    TestSpoolIo &m_spool;
    Sizes m_sizes;
    StorageInvariants m_inv;
    std::unique_ptr<WindowHarness> m_h;
    QString m_dir, m_table, m_copy;
    StorageInvariants::Records m_secured;
    std::optional<Snapshot> m_cutAt;
    bool m_healed = false;
    bool m_lasting = false;
    bool m_cutAfterFault = false;
    bool m_keepLeft = false;
    int m_firedAtStep = -1;
    int m_steps = 0;
    int m_value = 0;
    int m_runs = 0;
};
