// Timing program for the whole handling of display frames in the real window, shown
// offscreen: frames arrive as the serial driver hands them over (2048-byte deliveries) and
// go through framing, decoding, the LCD, the scale, the alarm, the extremes, recording and
// the graph, with the event loop running between deliveries. Measured in a window with an
// empty table and graph and in one whose table and graph were filled, the two taken in
// turns and each reported as the median of its runs, so a burst of load from elsewhere hits
// both alike. All in CPU time of this thread, which other programs on the machine do not
// stretch. A breakdown times the steps one by one through the same calls.
//
//   qm-bench-dispatch [--frames N] [--fill N] [--runs N]

#include "benchsupport.h"
#include "decodedframe.h"
#include "graphchart.h"
#include "lcdpanel.h"
#include "lcdpicture.h"
#include "readingdecoder.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTime>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kDelivery = 2048;
constexpr double kTargetFramesPerSecond = 4000.0;
constexpr double kMostSlowdown = 1.5;

/// The real window, shown, with its table in a folder of its own so that two can be open.
class BenchWindow {
public:
    explicit BenchWindow(int &errors) {
        QDir::setCurrent(m_dir.path());
        m_prompts.onError = [&errors](const QString &text) {
            if (errors++ == 0)
                std::fprintf(stderr, "error: %s\n", qPrintable(text));
        };
        m_prompts.onInformation = [](const QString &) {};
        m_prompts.onBeep = [] {};
        w = std::make_unique<TFCOMM>(ModelFlag::QM30, &m_prompts);
        w->show();
        w->limitessClick();
        QApplication::processEvents();
    }

private:
    QTemporaryDir m_dir;
    UiPrompts m_prompts;

public:
    std::unique_ptr<TFCOMM> w;
};

struct Run {
    double framesPerSecond = 0.0; // by CPU time
    double wallFramesPerSecond = 0.0;
};

/// Feeds `frames` display frames through the receive handler in driver-sized deliveries.
Run feed(TFCOMM &w, int frames, int &serial) {
    QByteArray stream;
    for (int i = 0; i < frames; ++i)
        stream += BenchSupport::displayFrame(serial++);
    QElapsedTimer wall;
    wall.start();
    const double cpuNs = BenchSupport::cpuNsOf([&] {
        for (qsizetype at = 0; at < stream.size(); at += kDelivery) {
            const int n = int(std::min<qsizetype>(kDelivery, stream.size() - at));
            w.QM34RData(w.COMM2(), stream.constData() + at, n);
            QApplication::processEvents();
        }
        QApplication::processEvents();
    });
    return {frames / (cpuNs / 1e9), frames / (wall.nsecsElapsed() / 1e9)};
}

/// CPU microseconds per call of `step` over `n` calls, with the event loop's share.
double perCallUs(int n, const std::function<void(int)> &step) {
    return BenchSupport::cpuUsPerCall(n, step, [] { QApplication::processEvents(); });
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int frames = BenchSupport::option(args, "--frames", 20000);
    const int fill = BenchSupport::option(args, "--fill", 1000000);
    const int runs = std::max(1, BenchSupport::option(args, "--runs", 3));

    int errors = 0;
    int serial = 0;
    BenchWindow filled(errors);
    TFCOMM &w = *filled.w;
    feed(w, 2000, serial); // warm-up

    // Fill the table and the graph the quick way, through the calls recording and the
    // dispatch make for each reading.
    QElapsedTimer filling;
    filling.start();
    RecordValues record;
    record.value = QStringLiteral("01.234");
    record.dcAc = QStringLiteral("DC");
    record.unit = QStringLiteral("V");
    record.autoText = QStringLiteral("AUTO");
    record.time = QTime::currentTime();
    for (int i = 0; i < fill; ++i) {
        record.no = i;
        record.nval = float(i % 8000);
        w.recordTable()->append(record);
        w.graphAddReading(i % 8000);
    }
    QApplication::processEvents();
    std::printf("filled %d records and %lld points in %.1f s\n", fill,
                static_cast<long long>(control<GraphChart>(w, "Chtshow")->pointCount()),
                filling.elapsed() / 1e3);

    std::vector<double> emptyRates, fullRates, emptyWall, fullWall;
    for (int run = 0; run < runs; ++run) {
        {
            // A new empty window each time: the frames of earlier runs would fill it.
            BenchWindow empty(errors);
            int emptySerial = 0;
            feed(*empty.w, 2000, emptySerial); // warm-up
            const Run r = feed(*empty.w, frames, emptySerial);
            emptyRates.push_back(r.framesPerSecond);
            emptyWall.push_back(r.wallFramesPerSecond);
        }
        const Run r = feed(w, frames, serial);
        fullRates.push_back(r.framesPerSecond);
        fullWall.push_back(r.wallFramesPerSecond);
        std::printf("run %d: empty %.0f frames/s, filled %.0f frames/s (CPU; wall clock %.0f and "
                    "%.0f)\n",
                    run + 1, emptyRates.back(), fullRates.back(), emptyWall.back(),
                    fullWall.back());
    }
    using BenchSupport::median;
    const double emptyRate = median(emptyRates), fullRate = median(fullRates);
    const double ratio = emptyRate / fullRate;
    std::printf("dispatch, empty table and graph: %.0f frames/s (%.1f us CPU a frame)\n", emptyRate,
                1e6 / emptyRate);
    std::printf("dispatch, %d records and points: %.0f frames/s (%.1f us CPU a frame), "
                "%.2fx slower than empty (medians of %d runs)\n",
                fill, fullRate, 1e6 / fullRate, ratio, runs);

    // Where a frame's time goes, step by step, on the filled table and graph.
    const QString hex = QString::fromLatin1(BenchSupport::displayFrame(1234).toHex().toUpper());
    const DecodedFrame frame = ReadingDecoder::decode(hex, 0);
    const int n = std::max(1000, frames / 4);
    std::printf("step costs (us CPU a call):\n");
    const double decodeUs = perCallUs(n, [&](int) { ReadingDecoder::decode(hex, 0); });
    std::printf("  decoding alone         %.2f\n", decodeUs);
    LcdPanel *lcd = control<LcdPanel>(w, "Panel1");
    std::printf("  LCD                    %.2f\n",
                perCallUs(n, [&](int) { lcd->apply(LcdPicture::of(frame)); }));
    std::printf("  scale (setup and run)  %.2f\n", perCallUs(n, [&](int i) {
                    w.KDsetup(1);
                    w.KDrun(300 + i % 200);
                }));
    std::printf("  recording              %.2f\n", perCallUs(n, [&](int i) {
                    DecodedFrame reading = frame;
                    reading.valueText = QString::number(i);
                    w.INDataToTable(reading);
                }));
    std::printf("  graph point and page   %.2f\n", perCallUs(n, [&](int i) {
                    w.graphAddReading(i % 8000);
                    w.graphFollowLastPage();
                }));

    BenchSupport::figure("dispatch, empty table and graph", emptyRate, "frames/s", ">=4000",
                         1e6 / decodeUs);
    const QByteArray fullName = "dispatch, " + QByteArray::number(fill) + " records and points";
    const QByteArray fullTarget =
        ">=" +
        QByteArray::number(std::max(kTargetFramesPerSecond, emptyRate / kMostSlowdown), 'f', 0);
    BenchSupport::figure(fullName.constData(), fullRate, "frames/s", fullTarget.constData(),
                         emptyRate);
    const bool met = emptyRate >= kTargetFramesPerSecond && fullRate >= kTargetFramesPerSecond &&
                     ratio <= kMostSlowdown && errors == 0;
    std::printf("%s (at least %.0f frames/s in both, the second within %.1fx)\n",
                met ? "within targets" : "OUTSIDE TARGETS", kTargetFramesPerSecond, kMostSlowdown);
    return errors == 0 ? 0 : 1;
}
