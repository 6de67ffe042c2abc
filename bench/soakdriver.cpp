// Long run of the real window against the meter emulator in its flood mode: frames arrive as
// fast as the driver reads them, every reading is recorded (repeat filter off, limit
// "limitess"), and the graph grows with every reading. At the end the link is stopped, the
// table saved, and the saved file reopened and compared record by record with what recording
// accepted. Resident memory is sampled throughout.
//
//   qm-soak [--minutes M | --seconds S] [--warmup S] [--sample S] [--sim PATH] [--dir FOLDER]
//
// The exit code is 0 only when the saved file holds exactly the accepted records and no error
// was shown; the memory figures are reported and judged in the output.

#include "benchsupport.h"
#include "frameassembler.h"
#include "graphchart.h"
#include "recordrow.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

/// Bytes of one graph point (two doubles), which the graph keeps for every reading by design.
constexpr double kBytesPerGraphPoint = 16.0;
/// Memory after warm-up may move by this share, the graph's points aside.
constexpr double kFlatShare = 0.10;

/// FNV-1a over the texts of the accepted records, in order: the same sum over the saved
/// file's records proves both hold the same records in the same order.
class RecordDigest {
public:
    void add(const QString &no, const QString &dcAc, const QString &value, const QString &unit,
             const QString &autoText) {
        for (const QString *text : {&no, &dcAc, &value, &unit, &autoText}) {
            for (QChar c : *text)
                mix(c.unicode());
            mix(0xFFFF); // field separator
        }
        ++m_count;
    }
    quint64 value() const { return m_hash; }
    qint64 count() const { return m_count; }

private:
    void mix(quint16 unit) {
        m_hash ^= unit;
        m_hash *= 1099511628211ULL;
    }
    quint64 m_hash = 14695981039346656037ULL;
    qint64 m_count = 0;
};

struct Sample {
    double seconds = 0.0;
    double residentMiB = 0.0;
    qint64 displayFrames = 0;
    qint64 records = 0;
    qint64 points = 0;
};

using BenchSupport::option;

void printSample(const char *label, const Sample &s) {
    std::printf("%-9s %8.0f s  resident %7.1f MiB  display frames %10lld  records %10lld  "
                "graph points %10lld\n",
                label, s.seconds, s.residentMiB, static_cast<long long>(s.displayFrames),
                static_cast<long long>(s.records), static_cast<long long>(s.points));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    double seconds = option(args, "--minutes", QStringLiteral("10")).toDouble() * 60.0;
    if (args.contains(QLatin1String("--seconds")))
        seconds = option(args, "--seconds", QString()).toDouble();
    const double warmup =
        option(args, "--warmup", QString::number(std::min(120.0, seconds / 5.0))).toDouble();
    const double sampleEvery =
        option(args, "--sample", QString::number(std::clamp(seconds / 60.0, 1.0, 30.0))).toDouble();
    const QString simPath = option(args, "--sim", QStringLiteral(QM_METER_SIM));
    const QString base = option(args, "--dir", QDir::tempPath());
    if (seconds <= 0 || warmup < 0 || warmup >= seconds || sampleEvery <= 0) {
        std::fprintf(stderr, "qm-soak: the run must be longer than its warm-up\n");
        return 2;
    }
    QTemporaryDir dir(base + QStringLiteral("/qm-soak-XXXXXX"));
    if (!dir.isValid())
        return 2;
    QDir::setCurrent(dir.path());

    // The emulator floods a link in the working folder; COM1 points at it.
    const QString link = dir.filePath(QStringLiteral("meter"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(simPath, {QStringLiteral("--flood"), QStringLiteral("--link"), link});
    QElapsedTimer wait;
    wait.start();
    while (sim.waitForStarted(100) && !QFile::exists(link) && wait.elapsed() < 5000)
        QThread::msleep(20);
    if (!QFile::exists(link)) {
        std::fprintf(stderr, "qm-soak: the emulator %s did not start\n", qPrintable(simPath));
        return 1;
    }
    qputenv("QM_COM1", link.toLocal8Bit());

    UiPrompts prompts;
    QStringList errors, infos;
    prompts.onError = [&](const QString &text) {
        errors << text;
        std::fprintf(stderr, "error shown: %s\n", qPrintable(text));
    };
    prompts.onInformation = [&](const QString &text) { infos << text; };
    prompts.onBeep = [] {};
    prompts.onQuestion = [](const QString &, UiPrompts::DefaultAnswer) { return false; };
    auto window = std::make_unique<TFCOMM>(builtModelFlags(), &prompts);
    TFCOMM &w = *window;
    w.setTerminateHook([] {});
    w.show();
    const QString tablePath = w.recordTable()->fileName();

    // Every reading is recorded, with no limit that a run of days could reach.
    control<QCheckBox>(w, "RepeatSet")->setChecked(false);
    w.limitessClick();

    // Frames decoded: the window's own receive handler gets every byte as before; a second
    // assembler beside it counts the display frames in the same deliveries.
    FrameAssembler counter;
    qint64 displayFrames = 0, otherFrames = 0, bytes = 0;
    QObject::connect(w.COMM2(), &CommPortDriver::OnReceiveData,
                     [&](CommPortDriver *, const char *data, int size) {
                         bytes += size;
                         counter.feed(data, size, FrameAssembler::Clock::now(),
                                      [&](const QString &, FrameKind kind) {
                                          (kind == FrameKind::Display ? displayFrames
                                                                      : otherFrames) += 1;
                                      });
                     });
    // What recording accepted, in order, as it went into the table.
    RecordDigest accepted;
    QObject::connect(w.recordTable(), &RecordTable::appended, [&](qint64) {
        accepted.add(QString::number(w.RecordNo()), w.AcDcText(), w.ValueText(), w.UnitText(),
                     w.AutoText());
    });

    const GraphChart *chart = control<GraphChart>(w, "Chtshow");
    QElapsedTimer clock;
    clock.start();
    auto sampleNow = [&] {
        return Sample{clock.elapsed() / 1e3, BenchSupport::residentMiB(), displayFrames,
                      accepted.count(), chart->pointCount()};
    };
    const Sample start = sampleNow();
    w.BTCon1Click();
    if (!w.COMM2()->PortIsOpen()) {
        std::fprintf(stderr, "qm-soak: the port did not open\n");
        return 1;
    }
    std::printf("soak: %.0f s against the emulator's flood, warm-up %.0f s, table %s\n", seconds,
                warmup, qPrintable(tablePath));
    printSample("start", start);

    std::optional<Sample> warm;
    Sample peakAfterWarm;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const Sample s = sampleNow();
        printSample("running", s);
        if (warm && s.residentMiB > peakAfterWarm.residentMiB)
            peakAfterWarm = s;
    });
    sampler.start(int(sampleEvery * 1000));
    QTimer::singleShot(int(warmup * 1000), [&] {
        warm = sampleNow();
        peakAfterWarm = *warm;
        printSample("warm", *warm);
    });
    // A loop of its own: quitting the application would close the window, and its table.
    QEventLoop run;
    QTimer::singleShot(int(seconds * 1000), &run, &QEventLoop::quit);
    run.exec();
    sampler.stop();
    if (!warm)
        warm = sampleNow();

    const Sample end = sampleNow();
    printSample("end", end);
    w.BtDiscon1Click();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const qint64 recordedCount = w.RecordedCount();
    const qint64 points = chart->pointCount();
    QElapsedTimer saving;
    saving.start();
    w.RecordSaveClick();
    const double saveSeconds = saving.elapsed() / 1e3;
    const bool saved =
        infos.size() == 1 && infos.first().startsWith(QLatin1String("Record has saved"));
    window.reset(); // closes the table: only what was saved stays
    sim.write("quit\n");
    if (!sim.waitForFinished(3000))
        sim.kill();

    // The saved file, read back record by record.
    RecordDigest inFile;
    qint64 fileCount = -1;
    bool numbersRun = true;
    QElapsedTimer reading;
    reading.start();
    try {
        RecordTable table;
        table.open(tablePath, RecordTable::OpenMode::MustExist);
        fileCount = table.count();
        constexpr int kBatch = 8192;
        for (qint64 first = 0; first < fileCount; first += kBatch) {
            const QList<RecordRow> rows = table.rows(first, kBatch);
            if (rows.isEmpty())
                break;
            for (const RecordRow &r : rows) {
                numbersRun &= r.texts[RecordRow::No] == QString::number(inFile.count() + 1);
                inFile.add(r.texts[RecordRow::No], r.texts[RecordRow::DcAc],
                           r.texts[RecordRow::Value], r.texts[RecordRow::Unit],
                           r.texts[RecordRow::Auto]);
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qm-soak: reading the saved table failed: %s\n", e.what());
    }

    const double ran = end.seconds;
    const double graphGrowthMiB = (end.points - warm->points) * kBytesPerGraphPoint / 1048576.0;
    const double growthMiB = end.residentMiB - warm->residentMiB;
    const double restMiB = growthMiB - graphGrowthMiB;
    const bool flat = std::abs(restMiB) <= kFlatShare * warm->residentMiB;
    const bool complete = saved && fileCount == recordedCount &&
                          accepted.count() == recordedCount && inFile.count() == fileCount &&
                          inFile.value() == accepted.value() && numbersRun && errors.isEmpty();

    std::printf("ran %.0f s; %lld bytes received, %lld display frames decoded (%.0f a second), "
                "%lld other frames\n",
                ran, static_cast<long long>(bytes), static_cast<long long>(displayFrames),
                displayFrames / ran, static_cast<long long>(otherFrames));
    std::printf("records accepted by recording     %lld\n", static_cast<long long>(recordedCount));
    std::printf("records in the saved file         %lld (saved in %.2f s, read back in %.1f s)\n",
                static_cast<long long>(fileCount), saveSeconds, reading.elapsed() / 1e3);
    std::printf("saved records match the accepted  %s\n",
                complete ? "yes, every one, in order" : "NO");
    std::printf("graph points                      %lld\n", static_cast<long long>(points));
    std::printf("resident memory                   start %.1f MiB, after warm-up %.1f MiB, end "
                "%.1f MiB, highest after warm-up %.1f MiB\n",
                start.residentMiB, warm->residentMiB, end.residentMiB, peakAfterWarm.residentMiB);
    std::printf("growth after warm-up              %.1f MiB: graph points %.1f MiB (%lld points x "
                "16 bytes), the rest %+.1f MiB (%+.1f%% of the warm size)\n",
                growthMiB, graphGrowthMiB, static_cast<long long>(end.points - warm->points),
                restMiB, 100.0 * restMiB / warm->residentMiB);
    std::printf("memory apart from the graph       %s (within %.0f%% after warm-up)\n",
                flat ? "flat" : "NOT FLAT", 100 * kFlatShare);
    if (!errors.isEmpty())
        std::printf("errors shown: %lld\n", static_cast<long long>(errors.size()));
    return complete ? 0 : 1;
}
