// Timing program for the record table at the sizes recording can reach: appends one at a
// time through the recorder (as readings arrive), the save of everything pending, the text
// export and the table copy, next to a bare SQLite insert loop of the same rows as the floor.
//
//   qm-bench-recording [--count N] [--grid] [--dir FOLDER]

#include "benchsupport.h"
#include "readingrecorder.h"
#include "recordgrid.h"
#include "recordingrules.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "tabledbcopier.h"
#include "tabletextexporter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kWindow = 10000;

using BenchSupport::residentMiB;

RecordValues readingFor(int i) {
    RecordValues v;
    v.value = QString::number(i % 16000 - 8000);
    v.nval = static_cast<float>(i % 16000 - 8000);
    v.dcAc = QStringLiteral("DC");
    v.unit = QStringLiteral("mV");
    v.autoText = QStringLiteral("AUTO");
    return v;
}

/// The floor: the same rows through SQLite's own API, one prepared insert, one transaction.
double bareInsertSeconds(const QString &path, int count, double *commitSeconds) {
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, RecordSchema::createSql(QStringLiteral("floor")).toUtf8().constData(), nullptr,
                 nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO floor (\"value\", \"Nval\", \"time\", \"no\", \"DC/AC\", "
                       "\"unit\", \"Auto\") VALUES (?, ?, ?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        const QByteArray value = QByteArray::number(i % 16000 - 8000);
        sqlite3_bind_text(insert, 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 2, i % 16000 - 8000);
        sqlite3_bind_text(insert, 3, "12:34:56", 8, SQLITE_STATIC);
        sqlite3_bind_int(insert, 4, i + 1);
        sqlite3_bind_text(insert, 5, "DC", 2, SQLITE_STATIC);
        sqlite3_bind_text(insert, 6, "mV", 2, SQLITE_STATIC);
        sqlite3_bind_text(insert, 7, "AUTO", 4, SQLITE_STATIC);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    sqlite3_finalize(insert);
    clock.restart();
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    *commitSeconds = clock.nsecsElapsed() / 1e9;
    sqlite3_close(db);
    return seconds;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int count = 1000000;
    bool withGrid = false;
    QString folder;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--count" && i + 1 < args.size())
            count = args[++i].toInt();
        else if (args[i] == u"--grid")
            withGrid = true;
        else if (args[i] == u"--dir" && i + 1 < args.size())
            folder = args[++i];
    }
    if (count < 2 * kWindow) {
        std::fprintf(stderr, "--count must be at least %d\n", 2 * kWindow);
        return 2;
    }
    QTemporaryDir temp(folder.isEmpty() ? QDir::tempPath() + QStringLiteral("/qm-bench-XXXXXX")
                                        : folder + QStringLiteral("/qm-bench-XXXXXX"));
    if (!temp.isValid())
        return 2;

    try {
        RecordTable table;
        table.open(temp.filePath(QStringLiteral("Qm20db.db")),
                   RecordTable::OpenMode::CreateIfMissing);
        RecordTableModel model(&table);
        std::unique_ptr<RecordGrid> grid;
        if (withGrid) {
            grid = std::make_unique<RecordGrid>();
            grid->setRecordModel(&model);
            grid->resize(299, 145);
            grid->show();
            QApplication::processEvents();
        }

        ReadingRecorder recorder;
        recorder.setRecordLimit(10000000);
        ReadingRecorder::Options options;
        options.intervalSeconds = 10;

        const double rssBefore = residentMiB();
        QElapsedTimer clock;
        qint64 firstNs = 0, lastNs = 0;
        const QTime now = QTime::currentTime();
        // The windows' wall time moves with the machine's load; CPU time of the whole loop
        // is the steadier figure for comparing two builds.
        const double cpuBefore = BenchSupport::threadCpuNs();
        const double processCpuBefore = BenchSupport::processCpuNs();
        for (int i = 0; i < count; ++i) {
            if (i == 0 || i == count - kWindow)
                clock.restart();
            recorder.offer(options, readingFor(i), table, now);
            if (withGrid && (i < kWindow || i >= count - kWindow))
                QApplication::processEvents(); // let the grid repaint as the event loop would
            else if (i % 1000 == 999)
                QApplication::processEvents(); // timers of the table, as the event loop runs them
            if (i == kWindow - 1)
                firstNs = clock.nsecsElapsed();
            if (i == count - 1)
                lastNs = clock.nsecsElapsed();
        }
        const double appendCpuUs = (BenchSupport::threadCpuNs() - cpuBefore) / 1000.0 / count;
        const double appendProcessCpuUs =
            (BenchSupport::processCpuNs() - processCpuBefore) / 1000.0 / count;
        const double rssAfter = residentMiB();
        // The spool keeps the room of the records pending, reserved in blocks of 1 MiB.
        const double spoolBytes =
            QFileInfo(temp.filePath(QStringLiteral("Qm20db.db-pending"))).size() / double(count);
        if (table.count() != count)
            throw std::runtime_error("not every reading was stored");

        clock.restart();
        table.applyUpdates();
        const double saveSeconds = clock.nsecsElapsed() / 1e9;

        clock.restart();
        if (!TableTextExporter::write(table, temp.filePath(QStringLiteral("export.xls"))))
            throw std::runtime_error("text export failed");
        const double exportSeconds = clock.nsecsElapsed() / 1e9;
        const double rssAfterExport = residentMiB();

        clock.restart();
        TableDbCopier::copy(table, temp.filePath(QStringLiteral("copy.db")));
        const double copySeconds = clock.nsecsElapsed() / 1e9;
        table.close();

        double floorCommit = 0.0;
        const double floorInsert =
            bareInsertSeconds(temp.filePath(QStringLiteral("floor.db")), count, &floorCommit);

        const double firstUs = firstNs / 1000.0 / kWindow;
        const double lastUs = lastNs / 1000.0 / kWindow;
        std::printf("records                          %d%s\n", count,
                    withGrid ? " (grid shown)" : "");
        std::printf("append, first %d             %.2f us each\n", kWindow, firstUs);
        std::printf("append, last %d              %.2f us each (ratio %.2f)\n", kWindow, lastUs,
                    lastUs / firstUs);
        std::printf("append, all, CPU                 %.2f us each (%.2f us, all threads)\n",
                    appendCpuUs, appendProcessCpuUs);
        std::printf("spool file                       %.1f bytes a pending record\n", spoolBytes);
        std::printf("resident memory growth           %.1f MiB (%.1f -> %.1f)\n",
                    rssAfter - rssBefore, rssBefore, rssAfter);
        std::printf("save (commit) of all pending     %.3f s\n", saveSeconds);
        std::printf("text export                      %.3f s (%.1f MiB file, resident %.1f MiB)\n",
                    exportSeconds,
                    QFileInfo(temp.filePath(QStringLiteral("export.xls"))).size() / 1048576.0,
                    rssAfterExport);
        std::printf(".db copy                         %.3f s\n", copySeconds);
        std::printf("floor: bare prepared insert      %.3f s (%.2f us each), commit %.3f s\n",
                    floorInsert, floorInsert * 1e6 / count, floorCommit);
        const bool ok = lastUs <= 1.5 * firstUs && rssAfter - rssBefore < 64.0 &&
                        saveSeconds < 3.0 && exportSeconds < 3.0;
        const QByteArray n = QByteArray::number(count);
        BenchSupport::figure(
            ("recording append, last " + QByteArray::number(kWindow) + " of " + n).constData(),
            lastUs, "us", ("<=" + QByteArray::number(1.5 * firstUs, 'f', 2)).constData(),
            floorInsert * 1e6 / count);
        BenchSupport::figure(("recording append CPU, all " + n).constData(), appendCpuUs, "us");
        BenchSupport::figure(("recording append CPU of all threads, all " + n).constData(),
                             appendProcessCpuUs, "us");
        BenchSupport::figure(("recording spool bytes a record, " + n).constData(), spoolBytes, "B");
        BenchSupport::figure(("recording resident growth, " + n + " appends").constData(),
                             rssAfter - rssBefore, "MiB", "<64");
        BenchSupport::figure(("recording save of " + n + " pending").constData(), saveSeconds, "s",
                             "<3", floorCommit);
        BenchSupport::figure(("recording text export of " + n).constData(), exportSeconds, "s",
                             "<3");
        BenchSupport::figure(("recording .db copy of " + n).constData(), copySeconds, "s", "-",
                             floorInsert + floorCommit);
        std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
}
