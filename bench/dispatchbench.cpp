// Timing program for the whole handling of display frames in the real window, shown
// offscreen: frames arrive as the serial driver hands them over (2048-byte deliveries) and
// go through framing, decoding, the LCD, the scale, the alarm, the extremes, recording and
// the graph, with the event loop running between deliveries. Measured with an empty table
// and graph, then again after the table and the graph were filled. A breakdown times the
// steps one by one through the same calls.
//
//   qm-bench-dispatch [--frames N] [--fill N]

#include "benchsupport.h"
#include "decodedframe.h"
#include "graphchart.h"
#include "lcdpanel.h"
#include "lcdpicture.h"
#include "readingdecoder.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "uiprompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTime>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int kDelivery = 2048;
constexpr double kTargetFramesPerSecond = 4000.0;
constexpr double kMostSlowdown = 1.5;

/// Display frame `i`: DC volts, values that change from frame to frame so that the repeat
/// filter lets each one be recorded.
QByteArray frameBytes(int i) {
    const int value = (i * 37) % 8000;
    QByteArray f = QByteArray::fromHex("89700000000F");
    f.append(char(value / 1000));
    f.append(char(value / 100 % 10));
    f.append(char(value / 10 % 10));
    f.append(char(value % 10));
    f.append('\n');
    return f;
}

struct Run {
    double framesPerSecond = 0.0;
    double cpuPerFrameUs = 0.0;
};

/// Feeds `frames` display frames through the receive handler in driver-sized deliveries.
Run feed(TFCOMM &w, int frames, int &serial) {
    QByteArray stream;
    for (int i = 0; i < frames; ++i)
        stream += frameBytes(serial++);
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = BenchSupport::threadCpuNs();
    for (qsizetype at = 0; at < stream.size(); at += kDelivery) {
        const int n = int(std::min<qsizetype>(kDelivery, stream.size() - at));
        w.QM34RData(w.COMM2, stream.constData() + at, n);
        QApplication::processEvents();
    }
    QApplication::processEvents();
    const double seconds = wall.nsecsElapsed() / 1e9;
    return {frames / seconds, (BenchSupport::threadCpuNs() - cpu0) / 1e3 / frames};
}

/// CPU microseconds per call of `step`, over `n` calls.
double perCallUs(int n, const std::function<void(int)> &step) {
    const double cpu0 = BenchSupport::threadCpuNs();
    for (int i = 0; i < n; ++i)
        step(i);
    QApplication::processEvents();
    return (BenchSupport::threadCpuNs() - cpu0) / 1e3 / n;
}

int argument(int argc, char **argv, const char *name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return fallback;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int frames = argument(argc, argv, "--frames", 20000);
    const int fill = argument(argc, argv, "--fill", 1000000);

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    UiPrompts prompts;
    int errors = 0;
    prompts.onError = [&](const QString &text) {
        if (errors++ == 0)
            std::fprintf(stderr, "error: %s\n", qPrintable(text));
    };
    prompts.onInformation = [](const QString &) {};
    prompts.onBeep = [] {};
    TFCOMM w(ModelFlag::QM30, &prompts);
    w.show();
    w.limitessClick();
    QApplication::processEvents();

    int serial = 0;
    feed(w, 2000, serial); // warm-up
    const Run empty = feed(w, frames, serial);
    std::printf("dispatch, empty table and graph: %.0f frames/s (%.1f us CPU a frame)\n",
                empty.framesPerSecond, empty.cpuPerFrameUs);

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
        w.TQM10DB->append(record);
        w.graphAddReading(i % 8000);
    }
    QApplication::processEvents();
    std::printf("filled %d records and %lld points in %.1f s\n", fill,
                static_cast<long long>(w.Chtshow->pointCount()), filling.elapsed() / 1e3);

    const Run full = feed(w, frames, serial);
    const double ratio = empty.framesPerSecond / full.framesPerSecond;
    std::printf("dispatch, %d records and points: %.0f frames/s (%.1f us CPU a frame), "
                "%.2fx slower than empty\n",
                fill, full.framesPerSecond, full.cpuPerFrameUs, ratio);

    // Where a frame's time goes, step by step, on the filled table and graph.
    const QString hex = QString::fromLatin1(frameBytes(1234).toHex().toUpper());
    const DecodedFrame frame = ReadingDecoder::decode(hex, 0);
    const int n = std::max(1000, frames / 4);
    std::printf("step costs (us CPU a call):\n");
    const double decodeUs = perCallUs(n, [&](int) { ReadingDecoder::decode(hex, 0); });
    std::printf("  framing and decoding   %.2f\n", decodeUs);
    std::printf("  LCD                    %.2f\n",
                perCallUs(n, [&](int) { w.Panel1->apply(LcdPicture::of(frame)); }));
    std::printf("  scale (setup and run)  %.2f\n", perCallUs(n, [&](int i) {
                    w.KDsetup(1);
                    w.KDrun(300 + i % 200);
                }));
    std::printf("  recording              %.2f\n", perCallUs(n, [&](int i) {
                    w.ValueText = QString::number(i);
                    w.INDataToTable();
                }));
    std::printf("  graph point and page   %.2f\n", perCallUs(n, [&](int i) {
                    w.graphAddReading(i % 8000);
                    w.graphFollowLastPage();
                }));

    BenchSupport::figure("dispatch, empty table and graph", empty.framesPerSecond, "frames/s",
                         ">=4000", 1e6 / decodeUs);
    const QByteArray fullName = "dispatch, " + QByteArray::number(fill) + " records and points";
    const QByteArray fullTarget =
        ">=" + QByteArray::number(
                   std::max(kTargetFramesPerSecond, empty.framesPerSecond / kMostSlowdown), 'f', 0);
    BenchSupport::figure(fullName.constData(), full.framesPerSecond, "frames/s",
                         fullTarget.constData(), empty.framesPerSecond);
    const bool met = empty.framesPerSecond >= kTargetFramesPerSecond &&
                     full.framesPerSecond >= kTargetFramesPerSecond && ratio <= kMostSlowdown &&
                     errors == 0;
    std::printf("%s (at least %.0f frames/s in both, the second within %.1fx)\n",
                met ? "within targets" : "OUTSIDE TARGETS", kTargetFramesPerSecond, kMostSlowdown);
    return errors == 0 ? 0 : 1;
}
