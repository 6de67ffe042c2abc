// How long the window waits for the spool's syncs: the real window, shown offscreen, records
// display frames handed to its receive handler as the serial driver would (a delivery every
// 10 ms) with Save every 3 s and one Record, New, while a timer of 2 ms notes every pause of
// its event loop. Run twice: with the disk's own sync, and with a sync that takes seconds (a
// stand-in for a USB stick or a network folder, put in through the spool's file operations).
// The window must never pause more than 50 ms for a sync. Save and Record, New are timed
// apart: they wait for the table's own commit, and Record, New waits up to 40 ms for the
// spool to note the clearing.
//
//   qm-bench-journal [--seconds N] [--rate FRAMES_PER_SECOND] [--slow-sync MS]

#include "benchsupport.h"
#include "recordtable.h"
#include "spoolio.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

namespace {

constexpr int kDeliveryMs = 10;
constexpr int kHeartbeatMs = 2;
constexpr int kSaveEveryMs = 3000;
constexpr double kMostPauseMs = 50.0;

/// The disk's own operations, with syncs that take `delayMs` longer.
class SlowSync : public SpoolIo {
public:
    std::atomic<int> delayMs{0};
    std::atomic<int> syncs{0};
    bool sync(int descriptor, const QString &path, QString *error) override {
        QThread::msleep(delayMs.load());
        ++syncs;
        return SpoolIo::sync(descriptor, path, error);
    }
};

struct Pass {
    qint64 recorded = 0;
    int syncs = 0;
    double mostPauseMs = 0.0; ///< of the event loop, Save and Record, New aside
    int pausesOver10Ms = 0;
    double mostSaveMs = 0.0;
    double clearMs = 0.0;
};

Pass run(SlowSync &io, int syncDelayMs, int seconds, int rate) {
    io.delayMs = syncDelayMs;
    io.syncs = 0;
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    UiPrompts prompts;
    prompts.onError = [](const QString &text) {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    };
    prompts.onInformation = [](const QString &) {};
    prompts.onBeep = [] {};
    Pass pass;
    {
        TFCOMM w(ModelFlag::QM30, &prompts);
        w.show();
        control<QCheckBox>(w, "RepeatSet")->setChecked(false);
        w.limitessClick();
        QApplication::processEvents();

        int serial = 0;
        const int perDelivery = std::max(1, rate * kDeliveryMs / 1000);
        QTimer deliveries;
        QObject::connect(&deliveries, &QTimer::timeout, [&] {
            QByteArray bytes;
            for (int i = 0; i < perDelivery; ++i)
                bytes += BenchSupport::displayFrame(serial++);
            w.QM34RData(w.COMM2(), bytes.constData(), int(bytes.size()));
        });
        QElapsedTimer beat;
        bool commandRan = false;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const double pause = beat.nsecsElapsed() / 1e6;
            beat.restart();
            if (commandRan) {
                commandRan = false;
                return;
            }
            pass.mostPauseMs = std::max(pass.mostPauseMs, pause);
            pass.pausesOver10Ms += pause > 10.0;
        });
        int saves = 0;
        qint64 clearedRecords = 0;
        QTimer commands;
        QObject::connect(&commands, &QTimer::timeout, [&] {
            QElapsedTimer took;
            took.start();
            if (++saves == 3) {
                clearedRecords = w.recordTable()->count();
                took.restart();
                w.RecordNewClick();
                pass.clearMs = took.nsecsElapsed() / 1e6;
            } else {
                w.RecordSaveClick();
                pass.mostSaveMs = std::max(pass.mostSaveMs, took.nsecsElapsed() / 1e6);
            }
            commandRan = true;
        });
        deliveries.start(kDeliveryMs);
        commands.start(kSaveEveryMs);
        beat.start();
        heartbeat.start(kHeartbeatMs);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        heartbeat.stop();
        deliveries.stop();
        commands.stop();
        pass.recorded = clearedRecords + w.recordTable()->count();
        pass.syncs = io.syncs.load();
    }
    QDir::setCurrent(QDir::tempPath());
    return pass;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int seconds = 12;
    int rate = 500;
    int slowMs = 2000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == u"--seconds")
            seconds = args[++i].toInt();
        else if (args[i] == u"--rate")
            rate = args[++i].toInt();
        else if (args[i] == u"--slow-sync")
            slowMs = args[++i].toInt();
    }
    // Never destroyed: a slow sync may still be under way when the program ends.
    static SlowSync *const io = new SlowSync;
    SpoolIo::install(io);
    bool ok = true;
    for (const int delay : {0, slowMs}) {
        const Pass p = run(*io, delay, seconds, rate);
        const QByteArray name = delay == 0 ? QByteArray("disk's own sync")
                                           : "sync of " + QByteArray::number(delay) + " ms";
        std::printf("%s: %lld readings in %d s, %d syncs; the event loop paused at most %.1f ms "
                    "(%d pauses over 10 ms); Save at most %.1f ms, Record, New %.1f ms\n",
                    name.constData(), p.recorded, seconds, p.syncs, p.mostPauseMs, p.pausesOver10Ms,
                    p.mostSaveMs, p.clearMs);
        BenchSupport::figure(
            ("journal: longest pause of the window while recording, " + name).constData(),
            p.mostPauseMs, "ms", "<50");
        BenchSupport::figure(("journal: Record, New, " + name).constData(), p.clearMs, "ms");
        BenchSupport::figure(("journal: Save at most, " + name).constData(), p.mostSaveMs, "ms");
        ok = ok && p.mostPauseMs < kMostPauseMs && p.recorded > 0;
    }
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return 0;
}
