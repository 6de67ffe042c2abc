// Timing program for the program's start: from the launch of a process to the first shown
// and painted main window, with a record table Qm20db.db of N records in the working folder,
// next to the same start with an empty table (the floor).
//
// The program itself offers no signal that its window is on screen, so the measured process
// is this program started again with --child: it starts exactly as the program's main() does
// (the application object, the window with its default model, centred, shown) and notes the
// machine-wide monotonic clock when the window's first expose event has been handled, which
// is when the window has been painted. The parent notes the same clock just before the launch.
//
//   qm-bench-startup [--records N] [--runs R] [--dir FOLDER]

#include "benchsupport.h"
#include "recordtable.h"
#include "tfcomm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr double kTargetSeconds = 1.0;

/// Prints the clock at the main window's first painted expose, then ends the event loop.
class ExposeWatch : public QObject {
public:
    using QObject::QObject;
    QWindow *window = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == window && event->type() == QEvent::Expose && window->isExposed() &&
            !m_seen) {
            m_seen = true;
            std::printf("EXPOSE %.0f\n", BenchSupport::monotonicNs());
            // Runs once the expose, and the paint it makes, are handled.
            QTimer::singleShot(0, [] {
                std::printf("PAINTED %.0f\n", BenchSupport::monotonicNs());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

int runChild(int argc, char **argv) {
    const double entered = BenchSupport::monotonicNs();
    QApplication app(argc, argv);
    TFCOMM window;
    std::printf("BUILT %.0f\n", BenchSupport::monotonicNs());
    std::printf("MAIN %.0f\n", entered);
    if (const QScreen *screen = window.screen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center() - window.rect().center());
    }
    ExposeWatch watch;
    window.winId(); // the native window, so its events can be watched before it shows
    watch.window = window.windowHandle();
    app.installEventFilter(&watch);
    window.show();
    QTimer::singleShot(30000, [] { QCoreApplication::exit(3); });
    return app.exec();
}

/// A record table of `count` records as recording writes them, made through SQLite's own
/// interface (much quicker than recording them one by one).
bool makeTable(const QString &path, int count) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok =
        sqlite3_exec(db, RecordSchema::createSql(QStringLiteral("Qm20db")).toUtf8().constData(),
                     nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "INSERT INTO Qm20db (\"value\", \"Nval\", \"time\", \"no\", "
                                  "\"DC/AC\", \"unit\", \"Auto\") VALUES (?, ?, ?, ?, ?, ?, ?)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < count; ++i) {
        const int v = (i * 37) % 8000;
        char value[16];
        std::snprintf(value, sizeof value, "%d.%03d", v / 1000, v % 1000);
        sqlite3_bind_text(insert, 1, value, -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 2, v);
        sqlite3_bind_text(insert, 3, "12:34:56", 8, SQLITE_STATIC);
        sqlite3_bind_int(insert, 4, i + 1);
        sqlite3_bind_text(insert, 5, "DC", 2, SQLITE_STATIC);
        sqlite3_bind_text(insert, 6, "V", 1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 7, "AUTO", 4, SQLITE_STATIC);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

struct Start {
    double toMain = 0.0;    ///< launch to main()
    double toBuilt = 0.0;   ///< launch to the window built (table opened)
    double toPainted = 0.0; ///< launch to the first painted expose
};

/// Launches the child in `folder` and reads its clock marks; seconds from the launch.
bool launch(const QString &folder, Start *start) {
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({QStringLiteral("--child")});
    child.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    // Qt's warnings (no runtime folder, size hints offscreen) go with the marks and are
    // shown only when the start fails.
    child.setProcessChannelMode(QProcess::MergedChannels);
    const double launched = BenchSupport::monotonicNs();
    child.start();
    const bool finished = child.waitForFinished(60000);
    const QByteArray output = child.readAll();
    if (!finished || child.exitCode() != 0) {
        std::fprintf(stderr, "the start in %s failed:\n%s\n", qPrintable(folder),
                     output.constData());
        return false;
    }
    const QList<QByteArray> lines = output.split('\n');
    auto mark = [&](const char *name) {
        for (const QByteArray &line : lines)
            if (line.startsWith(QByteArray(name) + ' '))
                return (line.mid(int(std::strlen(name)) + 1).toDouble() - launched) / 1e9;
        return -1.0;
    };
    *start = {mark("MAIN"), mark("BUILT"), mark("PAINTED")};
    return start->toMain >= 0 && start->toBuilt >= 0 && start->toPainted >= 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int records = BenchSupport::option(args, "--records", 1000000);
    const int runs = BenchSupport::option(args, "--runs", 5);
    const QString base = BenchSupport::option(args, "--dir", QDir::tempPath());
    QTemporaryDir emptyDir(base + QStringLiteral("/qm-start-empty-XXXXXX"));
    QTemporaryDir fullDir(base + QStringLiteral("/qm-start-full-XXXXXX"));
    if (!emptyDir.isValid() || !fullDir.isValid() || runs < 1 || records < 0)
        return 2;

    QElapsedTimer making;
    making.start();
    if (!makeTable(fullDir.filePath(QStringLiteral("Qm20db.db")), records)) {
        std::fprintf(stderr, "could not make the table\n");
        return 1;
    }
    std::printf("table of %d records made in %.1f s (%.1f MiB)\n", records, making.elapsed() / 1e3,
                QFileInfo(fullDir.filePath(QStringLiteral("Qm20db.db"))).size() / 1048576.0);

    // One start of each, not timed, so both find the program's files in the system's cache.
    Start start;
    if (!launch(emptyDir.path(), &start) || !launch(fullDir.path(), &start))
        return 1;
    std::vector<double> emptyPainted, fullPainted, fullMain, fullBuilt, emptyBuilt;
    for (int run = 0; run < runs; ++run) {
        // Alternating, so a burst of load from elsewhere on the machine hits both alike.
        if (!launch(emptyDir.path(), &start))
            return 1;
        emptyPainted.push_back(start.toPainted);
        emptyBuilt.push_back(start.toBuilt);
        if (!launch(fullDir.path(), &start))
            return 1;
        fullPainted.push_back(start.toPainted);
        fullBuilt.push_back(start.toBuilt);
        fullMain.push_back(start.toMain);
    }
    using BenchSupport::median;
    const double full = median(fullPainted), empty = median(emptyPainted);
    std::printf("start to the first painted window, medians of %d starts:\n", runs);
    std::printf("  %d records   %.3f s (main() after %.3f s, window built after %.3f s)\n", records,
                full, median(fullMain), median(fullBuilt));
    std::printf("  empty table  %.3f s (window built after %.3f s)\n", empty, median(emptyBuilt));
    std::printf("  ratio        %.2f\n", full / empty);
    const QByteArray name = "start-up, " + QByteArray::number(records) + " records";
    BenchSupport::figure(name.constData(), full, "s", "<1", empty);
    const bool met = full < kTargetSeconds;
    std::printf("%s (under %.0f s with the table)\n", met ? "within targets" : "OUTSIDE TARGETS",
                kTargetSeconds);
    return 0;
}
