// Timing program for the printed list of records at the sizes recording reaches: the
// preview window opened on a record table of a million and of ten million records, paged
// through, and the report exported to a PDF file.
//
//   qm-bench-report [--preview N]... [--export N]... [--count N]... [--huge N]...
//                   [--dir FOLDER]
//
// --preview N times the preview on a table of N records, --export N the PDF export of N
// records, --count N both. --huge N times page 1 of a table whose first N records hold a
// Value of 100 MB each (a table written elsewhere), and what the grid keeps of them.
// Without sizes: preview at 1,000,000 and 10,000,000, export at 100,000, huge at 5. The
// tables are generated in FOLDER and kept there for the next run (ten million records take
// about 400 MB and half a minute to make, five huge ones 500 MB); without --dir, in a
// temporary folder that goes at the end.

#include "bandlayout.h"
#include "benchsupport.h"
#include "datareport.h"
#include "pdfexport.h"
#include "previewview.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "recordtablesource.h"
#include "reportpreview.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTime>

#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

/// Starts a new peak: freed heap goes back to the system, then the kernel sets the
/// high-water mark back to the present size.
void resetPeak() {
    malloc_trim(0);
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

double msSince(const QElapsedTimer &clock) {
    return clock.nsecsElapsed() / 1e6;
}

/// Makes a saved record table of `count` records at `path` straight through the engine,
/// which is many times quicker than recording them.
void generate(const QString &path, int count) {
    QFile::remove(path);
    sqlite3 *db = nullptr;
    auto check = [&](int rc, const char *what) {
        if (rc != SQLITE_OK && rc != SQLITE_DONE)
            raise(QStringLiteral("%1 %2: %3")
                      .arg(QLatin1String(what), path, QString::fromUtf8(sqlite3_errmsg(db))));
    };
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), "open");
    const auto close = qScopeGuard([&] { sqlite3_close(db); });
    const QString table = QFileInfo(path).completeBaseName();
    const QString create = RecordSchema::createSql(table);
    check(sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr,
                       nullptr, nullptr),
          "begin");
    check(sqlite3_exec(db, create.toUtf8().constData(), nullptr, nullptr, nullptr), "create");
    sqlite3_stmt *insert = nullptr;
    const QByteArray sql =
        QStringLiteral("INSERT INTO \"%1\" VALUES (?, ?, ?, 'DC', ?, 'mV', 'AUTO', ?)")
            .arg(table)
            .toUtf8();
    check(sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr), "prepare");
    for (int i = 0; i < count; ++i) {
        const int reading = i % 16000 - 8000;
        const QByteArray time = QTime(8, 0).addSecs(i % 86400).toString(u"hh:mm:ss").toLatin1();
        const QByteArray value = QByteArray::number(reading / 1000.0, 'f', 3);
        sqlite3_bind_int64(insert, 1, i + 1);
        sqlite3_bind_int64(insert, 2, i + 1);
        sqlite3_bind_text(insert, 3, time.constData(), int(time.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, value.constData(), int(value.size()), SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 5, reading);
        check(sqlite3_step(insert), "insert into");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
}

/// The record table of `count` records in `folder`, made the first time it is asked for.
std::unique_ptr<RecordTable> openTable(const QString &folder, int count, double *openMs) {
    const QString path = QDir(folder).filePath(QStringLiteral("records-%1.db").arg(count));
    auto table = std::make_unique<RecordTable>();
    if (QFileInfo::exists(path)) {
        try {
            table->open(path, RecordTable::OpenMode::MustExist);
        } catch (const std::exception &) {
        }
    }
    if (!table->isOpen() || table->count() != count) {
        table->close();
        std::printf("  generating %d records in %s ...\n", count, qPrintable(path));
        std::fflush(stdout);
        QElapsedTimer made;
        made.start();
        generate(path, count);
        std::printf("  generated in %.1f s\n", made.elapsed() / 1000.0);
    }
    QElapsedTimer clock;
    clock.start();
    table->open(path, RecordTable::OpenMode::MustExist);
    *openMs = msSince(clock);
    if (table->count() != count)
        raise(
            QStringLiteral("%1 holds %2 records, not %3").arg(path).arg(table->count()).arg(count));
    return table;
}

/// The record table's rows, counted as the report reads them.
class CountedRows : public ReportRowSource {
public:
    explicit CountedRows(std::shared_ptr<RecordTableSource> rows) : m_rows(std::move(rows)) {}
    qint64 count() const override { return m_rows->count(); }
    QList<RecordRow> rows(qint64 first, int n) const override {
        ++reads;
        return m_rows->rows(first, n);
    }
    mutable int reads = 0;

private:
    std::shared_ptr<RecordTableSource> m_rows;
};

struct PreviewFigures {
    double openMs = 0;
    double firstPageMs = 0;
    double nextMedianMs = 0;
    double nextMaxMs = 0;
    double lastPageMs = 0;
    double riseMiB = 0;
    qint64 pages = 0;
};

PreviewFigures preview(const QString &folder, int count) {
    PreviewFigures f;
    const auto table = openTable(folder, count, &f.openMs);

    // In the program the main window is up before Print is pressed: the window system,
    // style and fonts are loaded already, and are not the preview's.
    {
        QWidget mainWindow;
        mainWindow.resize(860, 1000);
        mainWindow.show();
        QApplication::processEvents();
    }
    resetPeak();
    const double before = BenchSupport::statusMiB("VmRSS");
    QElapsedTimer clock;
    clock.start();
    auto rows = std::make_shared<CountedRows>(std::make_shared<RecordTableSource>(*table));
    DataReport report(rows);
    QString failure;
    ReportPreview::Prompts prompts;
    prompts.error = [&](const QString &text) { failure = text; };
    ReportPreview window(report, prompts);
    window.show();
    // The first page is drawn once the window system has exposed the window and the
    // view has painted: its records are read then.
    while (rows->reads == 0 && clock.elapsed() < 10000)
        QApplication::processEvents();
    f.firstPageMs = msSince(clock);
    f.pages = report.pageCount();
    if (rows->reads == 0 || !failure.isEmpty())
        raise(QStringLiteral("the first page was not drawn %1").arg(failure));

    PreviewView *view = window.view();
    QAction *next = window.findChild<QAction *>(QStringLiteral("nextPageAction"));
    std::vector<double> steps;
    for (int i = 0; i < 50; ++i) {
        clock.restart();
        next->trigger();
        view->viewport()->repaint();
        steps.push_back(msSince(clock));
    }
    f.nextMedianMs = BenchSupport::median(steps);
    f.nextMaxMs = *std::max_element(steps.begin(), steps.end());
    clock.restart();
    window.findChild<QAction *>(QStringLiteral("lastPageAction"))->trigger();
    view->viewport()->repaint();
    f.lastPageMs = msSince(clock);
    if (view->currentPage() != f.pages - 1 || !failure.isEmpty())
        raise(QStringLiteral("the preview did not reach its last page %1").arg(failure));
    f.riseMiB = BenchSupport::statusMiB("VmHWM") - before;
    return f;
}

struct ExportFigures {
    double seconds = 0;
    double cpuSeconds = 0;
    double fileMiB = 0;
    double riseMiB = 0;
    double growthMiB = 0; // resident at the last page less at the first
    qint64 pages = 0;
};

ExportFigures exportPdf(const QString &folder, int count) {
    ExportFigures f;
    double openMs = 0;
    const auto table = openTable(folder, count, &openMs);
    const QString pdf = QDir(folder).filePath(QStringLiteral("report-%1.pdf").arg(count));
    resetPeak();
    const double before = BenchSupport::statusMiB("VmRSS");
    double atFirst = 0;
    double atLast = 0;
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = BenchSupport::threadCpuNs();
    {
        const DataReport report(std::make_shared<RecordTableSource>(*table));
        f.pages = report.pageCount();
        PdfExport::write(report, pdf, [&](qint64 done, qint64 total) {
            if (done == 1)
                atFirst = BenchSupport::statusMiB("VmRSS");
            if (done == total)
                atLast = BenchSupport::statusMiB("VmRSS");
            return true;
        });
    }
    f.seconds = clock.nsecsElapsed() / 1e9;
    f.cpuSeconds = (BenchSupport::threadCpuNs() - cpuStart) / 1e9;
    f.riseMiB = BenchSupport::statusMiB("VmHWM") - before;
    f.growthMiB = atLast - atFirst;
    f.fileMiB = QFileInfo(pdf).size() / 1048576.0;
    QFile::remove(pdf);
    return f;
}

/// The length of the huge values.
constexpr int kHugeBytes = 100 * 1000 * 1000;

/// A table of `huge` records whose Value is kHugeBytes long, then 200 ordinary ones.
void generateHuge(const QString &path, int huge) {
    QFile::remove(path);
    sqlite3 *db = nullptr;
    auto check = [&](int rc, const char *what) {
        if (rc != SQLITE_OK && rc != SQLITE_DONE)
            raise(QStringLiteral("%1 %2: %3")
                      .arg(QLatin1String(what), path, QString::fromUtf8(sqlite3_errmsg(db))));
    };
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), "open");
    const auto close = qScopeGuard([&] { sqlite3_close(db); });
    const QString table = QFileInfo(path).completeBaseName();
    check(sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr,
                       nullptr, nullptr),
          "begin");
    check(sqlite3_exec(db, RecordSchema::createSql(table).toUtf8().constData(), nullptr, nullptr,
                       nullptr),
          "create");
    sqlite3_stmt *insert = nullptr;
    const QByteArray sql =
        QStringLiteral("INSERT INTO \"%1\" VALUES (?, ?, '12:00:00', 'DC', ?, 'mV', 'AUTO', 1)")
            .arg(table)
            .toUtf8();
    check(sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr), "prepare");
    const QByteArray big(kHugeBytes, '7');
    for (int i = 0; i < huge + 200; ++i) {
        sqlite3_bind_int64(insert, 1, i + 1);
        sqlite3_bind_int64(insert, 2, i + 1);
        if (i < huge)
            sqlite3_bind_text(insert, 3, big.constData(), int(big.size()), SQLITE_STATIC);
        else
            sqlite3_bind_text(insert, 3, "01.234", 6, SQLITE_STATIC);
        check(sqlite3_step(insert), "insert into");
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
}

struct HugeFigures {
    double pageMs = 0;    // median of the runs
    double pageCpuMs = 0; // median of the runs
    double riseMiB = 0;   // the report's, the largest of the runs
    double gridRiseMiB = 0;
    qsizetype gridChars = 0; // of the first huge value, in the grid's model
    double floorMs = 0;      // the engine alone reaching the fields after the long values
};

/// The grid's model asked for the rows on screen and a few pages more of a table whose first
/// `huge` records hold 100 MB values; then page 1 of its report, painted as the preview
/// paints it (at the screen's resolution) from a report made afresh, so that its records are
/// read from the table each time.
HugeFigures hugeTexts(const QString &folder, int huge) {
    HugeFigures f;
    const QString path = QDir(folder).filePath(QStringLiteral("huge-%1.db").arg(huge));
    auto table = std::make_unique<RecordTable>();
    if (QFileInfo::exists(path)) {
        try {
            table->open(path, RecordTable::OpenMode::MustExist);
        } catch (const std::exception &) {
        }
    }
    if (!table->isOpen() || table->count() != huge + 200) {
        table->close();
        std::printf("  generating %d records of 100 MB in %s ...\n", huge, qPrintable(path));
        std::fflush(stdout);
        generateHuge(path, huge);
        table->open(path, RecordTable::OpenMode::MustExist);
    }

    // The grid first, on the table as just opened: nothing read before it holds its rows.
    {
        resetPeak();
        const double before = BenchSupport::statusMiB("VmRSS");
        RecordTableModel model(table.get());
        for (int row = 0; row < std::min<int>(model.rowCount(), 4 * RecordTableModel::kPageRows);
             ++row)
            for (int column = 0; column < RecordRow::ColumnCount; ++column)
                model.index(row, column).data();
        f.gridRiseMiB = BenchSupport::statusMiB("VmRSS") - before;
        f.gridChars = model.index(0, RecordRow::Value).data().toString().size();
    }

    std::vector<double> wall;
    std::vector<double> cpu;
    for (int run = 0; run < 5; ++run) {
        resetPeak();
        const double before = BenchSupport::statusMiB("VmRSS");
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = BenchSupport::threadCpuNs();
        {
            const DataReport report(std::make_shared<RecordTableSource>(*table));
            QImage page(BandLayout::kPaperWidth * 96 / 2540, BandLayout::kPaperHeight * 96 / 2540,
                        QImage::Format_RGB32);
            page.setDotsPerMeterX(3780);
            page.setDotsPerMeterY(3780);
            page.fill(Qt::white);
            QPainter painter(&page);
            report.paintPage(painter, 0);
        }
        wall.push_back(msSince(clock));
        cpu.push_back((BenchSupport::threadCpuNs() - cpuStart) / 1e6);
        f.riseMiB = std::max(f.riseMiB, BenchSupport::statusMiB("VmHWM") - before);
    }
    f.pageMs = BenchSupport::median(wall);
    f.pageCpuMs = BenchSupport::median(cpu);

    // The floor: the engine reading the short fields stored after the long values of page 1,
    // which makes it step through every page of each long value. Nothing cheaper shows them.
    sqlite3 *db = table->nativeHandle();
    const QByteArray sql = QStringLiteral("SELECT \"Unit\", \"AUTO\" FROM \"%1\" WHERE "
                                          "_rowid_ <= %2")
                               .arg(table->tableName())
                               .arg(std::min(huge, 37))
                               .toUtf8();
    std::vector<double> floor;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
        }
        sqlite3_finalize(statement);
        floor.push_back(msSince(clock));
    }
    f.floorMs = BenchSupport::median(floor);

    return f;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QList<int> previews;
    QList<int> exports;
    QList<int> huge;
    QString dir;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--preview" || args[i] == u"--count")
            previews << args[i + 1].toInt();
        if (args[i] == u"--export" || args[i] == u"--count")
            exports << args[i + 1].toInt();
        if (args[i] == u"--huge")
            huge << args[i + 1].toInt();
        if (args[i] == u"--dir")
            dir = args[i + 1];
    }
    if (previews.isEmpty() && exports.isEmpty() && huge.isEmpty()) {
        previews = {1000000, 10000000};
        exports = {100000};
        huge = {5};
    }
    std::optional<QTemporaryDir> scratch;
    if (dir.isEmpty()) {
        scratch.emplace();
        dir = scratch->path();
    }
    QDir().mkpath(dir);

    bool ok = true;
    try {
        for (int count : previews) {
            const PreviewFigures f = preview(dir, count);
            const bool within = f.firstPageMs < 500 && f.riseMiB < 50 && f.nextMaxMs < 50;
            ok = ok && within;
            const QByteArray n = QByteArray::number(count);
            std::printf("preview, %d records, %lld pages (table opened in %.0f ms)\n", count,
                        static_cast<long long>(f.pages), f.openMs);
            std::printf("  open to first page drawn   %.1f ms (target under 500)\n", f.firstPageMs);
            std::printf("  next page, 50 times        median %.2f ms, longest %.2f ms "
                        "(target under 50)\n",
                        f.nextMedianMs, f.nextMaxMs);
            std::printf("  to the last page           %.2f ms\n", f.lastPageMs);
            std::printf("  memory above the table     %.1f MiB (target under 50)%s\n", f.riseMiB,
                        within ? "" : "  OUTSIDE TARGET");
            BenchSupport::figure(("report preview to first page, " + n + " records").constData(),
                                 f.firstPageMs / 1000.0, "s", "<0.5");
            BenchSupport::figure(
                ("report preview next page (longest), " + n + " records").constData(), f.nextMaxMs,
                "ms", "<50");
            BenchSupport::figure(("report preview memory, " + n + " records").constData(),
                                 f.riseMiB, "MiB", "<50");
        }
        for (int count : exports) {
            const ExportFigures f = exportPdf(dir, count);
            const QByteArray n = QByteArray::number(count);
            std::printf("export PDF, %d records, %lld pages\n", count,
                        static_cast<long long>(f.pages));
            std::printf("  time                       %.2f s (%.0f pages/s), processor %.2f s\n",
                        f.seconds, f.pages / f.seconds, f.cpuSeconds);
            std::printf("  file                       %.1f MiB\n", f.fileMiB);
            std::printf("  memory                     peak %.1f MiB above the table, "
                        "%.1f MiB more at the last page than at the first\n",
                        f.riseMiB, f.growthMiB);
            BenchSupport::figure(("report export PDF, " + n + " records").constData(), f.seconds,
                                 "s");
            BenchSupport::figure(("report export PDF file, " + n + " records").constData(),
                                 f.fileMiB, "MiB");
        }
        for (int n : huge) {
            const HugeFigures f = hugeTexts(dir, n);
            const bool within = f.pageMs < 200 && f.riseMiB < 50;
            ok = ok && within;
            const QByteArray name =
                "report page 1 with " + QByteArray::number(n) + " values of 100 MB";
            std::printf("page 1 of a table whose first %d records hold 100 MB values\n", n);
            std::printf("  read and painted            median %.1f ms, processor %.1f ms "
                        "(target under 200)\n",
                        f.pageMs, f.pageCpuMs);
            std::printf("  the engine alone, its floor median %.1f ms\n", f.floorMs);
            std::printf("  memory above the open table %.1f MiB (target under 50)%s\n", f.riseMiB,
                        within ? "" : "  OUTSIDE TARGET");
            std::printf("  the grid's rows, 4 pages    %.1f MiB resident, %lld characters of the "
                        "first value\n",
                        f.gridRiseMiB, static_cast<long long>(f.gridChars));
            BenchSupport::figure(name.constData(), f.pageMs / 1000.0, "s", "<0.2",
                                 f.floorMs / 1000.0);
            BenchSupport::figure((name + ", memory").constData(), f.riseMiB, "MiB", "<50");
            BenchSupport::figure((name + ", grid resident").constData(), f.gridRiseMiB, "MiB");
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return 0;
}
