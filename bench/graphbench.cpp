// Timing program for the graph at the sizes a long run reaches: readings appended one at a
// time through the calls the reading dispatch makes, following the last page, with the
// window shown and the event loop running between bursts; then paging through the result.
//
//   qm-bench-graph [--count N] [--burst B]

#include "benchsupport.h"
#include "graphchart.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kWindow = 10000;
constexpr int kMemorySampleEvery = 10000;
/// Below this many points the few hundred KiB that any run allocates hide the points' share.
constexpr int kMemoryMinPoints = 100000;
constexpr int kPagesTimed = 200;

using BenchSupport::statusBytes;
using BenchSupport::threadCpuNs;

/// Readings as a meter gives them: a slow drift over most of the range, with some noise.
double readingFor(int i) {
    return std::round(6000.0 * std::sin(i / 40.0) + double((i * 7919L) % 601 - 300));
}

/// The worst case for drawing: every reading swings across zero and over the whole range.
double swingingReadingFor(int i) {
    return double((i * 7919L) % 16001 - 8000);
}

using BenchSupport::median;

struct Repaint {
    double meanMs = 0.0;   ///< CPU time
    double medianMs = 0.0; ///< CPU time
    double wallMeanMs = 0.0;
};

/// Times full repaints (layout, axes, the shown series, on to the screen) of `pages` pages,
/// turning the page with `next`.
Repaint timePages(GraphChart &chart, int pages, const std::function<void()> &next) {
    std::vector<double> ms;
    QElapsedTimer clock;
    Repaint r;
    for (int p = 0; p < pages; ++p) {
        next();
        QApplication::processEvents();
        clock.restart();
        const double cpuStart = threadCpuNs();
        chart.replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back((threadCpuNs() - cpuStart) / 1e6);
        r.wallMeanMs += clock.nsecsElapsed() / 1e6 / pages;
    }
    for (double m : ms)
        r.meanMs += m / ms.size();
    r.medianMs = median(ms);
    return r;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int count = 1000000;
    int burst = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--count" && i + 1 < args.size())
            count = args[++i].toInt();
        else if (args[i] == u"--burst" && i + 1 < args.size())
            burst = std::max(1, args[++i].toInt());
    }
    if (count < 2 * kWindow) {
        std::fprintf(stderr, "--count must be at least %d\n", 2 * kWindow);
        return 2;
    }
    // The window opens its record table in the working folder: give it a scratch one.
    QTemporaryDir temp;
    if (!temp.isValid() || !QDir::setCurrent(temp.path()))
        return 2;

    UiPrompts prompts;
    QStringList errors;
    prompts.onError = [&](const QString &t) { errors << t; };
    prompts.onInformation = [](const QString &) {};
    TFCOMM w(builtModelFlags(), &prompts);
    w.show();
    QApplication::processEvents();
    GraphChart *chart = control<GraphChart>(w, "Chtshow");
    int repaints = 0;
    QObject::connect(chart, &QCustomPlot::afterReplot, [&] { ++repaints; });

    const double rssBefore = statusBytes("VmRSS");
    const double dataBefore = statusBytes("VmData");
    double worstBytesPerPoint = 0.0, worstReservedPerPoint = 0.0;
    int worstAt = 0, worstReservedAt = 0;
    QElapsedTimer clock;
    double cpuStart = 0.0;
    qint64 firstNs = 0, lastNs = 0;
    double firstCpuNs = 0.0, lastCpuNs = 0.0;
    std::vector<double> curve;
    double windowCpuStart = threadCpuNs();
    // CPU time of each burst of the two windows, for a median that a busy machine's
    // interruptions do not move.
    std::vector<double> firstBursts, lastBursts;
    double burstStart = 0.0;
    double callsFirstNs = 0.0, callsLastNs = 0.0; // the graph calls alone, without repaints
    for (int i = 0; i < count; ++i) {
        const bool inFirst = i < kWindow;
        const bool inLast = i >= count - kWindow;
        if (i == 0 || i == count - kWindow) {
            clock.restart();
            cpuStart = threadCpuNs();
        }
        if (i % burst == 0)
            burstStart = threadCpuNs();
        w.graphAddReading(readingFor(i));
        w.graphFollowLastPage();
        if ((i + 1) % burst == 0) {
            if (inFirst || inLast)
                (inFirst ? callsFirstNs : callsLastNs) += threadCpuNs() - burstStart;
            QApplication::processEvents();
            if (inFirst || inLast)
                (inFirst ? firstBursts : lastBursts).push_back(threadCpuNs() - burstStart);
        }
        if (i == kWindow - 1) {
            firstNs = clock.nsecsElapsed();
            firstCpuNs = threadCpuNs() - cpuStart;
        }
        if (i == count - 1) {
            QApplication::processEvents();
            lastNs = clock.nsecsElapsed();
            lastCpuNs = threadCpuNs() - cpuStart;
        }
        if ((i + 1) % kWindow == 0 && count >= 10 * kWindow) {
            // The curve of the cost per append, one figure per tenth of the run.
            const double nowCpu = threadCpuNs();
            if ((i + 1) % (count / 10) == 0)
                curve.push_back((nowCpu - windowCpuStart) / kWindow / 1000.0);
            windowCpuStart = nowCpu;
        }
        if ((i + 1) % kMemorySampleEvery == 0 && i + 1 >= kMemoryMinPoints) {
            const double perPoint = (statusBytes("VmRSS") - rssBefore) / (i + 1);
            if (perPoint > worstBytesPerPoint) {
                worstBytesPerPoint = perPoint;
                worstAt = i + 1;
            }
            const double reserved = (statusBytes("VmData") - dataBefore) / (i + 1);
            if (reserved > worstReservedPerPoint) {
                worstReservedPerPoint = reserved;
                worstReservedAt = i + 1;
            }
        }
    }
    const int appendRepaints = repaints;
    const double rssAfter = statusBytes("VmRSS");
    const double dataAfter = statusBytes("VmData");
    const double bytesPerPoint = (rssAfter - rssBefore) / count;
    const qint64 points = chart->pointCount();

    const int pagesTimed = int(std::min<qint64>(kPagesTimed, points / 100 - 1));
    w.BtFirstClick();
    const Repaint pages = timePages(*chart, pagesTimed, [&] { w.BtNextClick(); });
    control<QCheckBox>(w, "BtFill")->setChecked(false); // the line view
    w.BtFillClick();
    w.BtFirstClick();
    const Repaint linePages = timePages(*chart, pagesTimed, [&] { w.BtNextClick(); });

    // The same pages of readings that swing across the whole range at every point.
    GraphChart swinging;
    swinging.resize(chart->size());
    swinging.show();
    swinging.setSeriesActive(1, false);
    swinging.fillSampleValues(1);
    for (int i = 0; i < (pagesTimed + 1) * 100; ++i)
        swinging.appendPoint(swingingReadingFor(i));
    QApplication::processEvents();
    const Repaint worstPages = timePages(
        swinging, pagesTimed, [&] { swinging.runPagingCommand(PagingModel::Command::Next); });

    const double firstMedianUs = median(firstBursts) / 1000.0 / burst;
    const double lastMedianUs = median(lastBursts) / 1000.0 / burst;
    const double firstUs = firstCpuNs / 1000.0 / kWindow;
    const double lastUs = lastCpuNs / 1000.0 / kWindow;
    const double firstWallUs = firstNs / 1000.0 / kWindow;
    const double lastWallUs = lastNs / 1000.0 / kWindow;
    std::printf("readings                         %d, event loop after every %d\n", count, burst);
    std::printf("points in the graph              %lld on %lld pages, now on page %s\n",
                static_cast<long long>(points), static_cast<long long>(chart->paging().pageCount()),
                qPrintable(control<QToolButton>(w, "Bt10")->text()));
    std::printf("append, first %d             %.2f us CPU each (%.2f us wall)\n", kWindow, firstUs,
                firstWallUs);
    std::printf("append, last %d              %.2f us CPU each (%.2f us wall), ratio %.2f "
                "(wall %.2f)\n",
                kWindow, lastUs, lastWallUs, lastUs / firstUs, lastWallUs / firstWallUs);
    std::printf("append, median of bursts         %.2f us CPU each first, %.2f last, ratio %.2f\n",
                firstMedianUs, lastMedianUs, lastMedianUs / firstMedianUs);
    std::printf("of which the calls alone         %.3f us CPU each first, %.3f last\n",
                callsFirstNs / 1000.0 / kWindow, callsLastNs / 1000.0 / kWindow);
    if (curve.size() == 10) {
        std::printf("append, %d at each tenth      ", kWindow);
        for (double us : curve)
            std::printf(" %.1f", us);
        std::printf(" us CPU each\n");
    }
    std::printf("repaints during the appends      %d for %d bursts\n", appendRepaints,
                count / burst);
    std::printf("resident memory growth           %.1f MiB, %.1f bytes per point\n",
                (rssAfter - rssBefore) / 1048576.0, bytesPerPoint);
    if (worstAt > 0)
        std::printf("worst resident bytes per point   %.1f (at %d points)\n", worstBytesPerPoint,
                    worstAt);
    std::printf("address space growth             %.1f MiB, %.1f bytes per point\n",
                (dataAfter - dataBefore) / 1048576.0, (dataAfter - dataBefore) / count);
    if (worstReservedAt > 0)
        std::printf("worst address space per point    %.1f (at %d points)\n", worstReservedPerPoint,
                    worstReservedAt);
    const auto printPages = [](const char *what, const Repaint &r) {
        std::printf("%s %.3f ms CPU mean, %.3f median (%.3f ms wall mean)\n", what, r.meanMs,
                    r.medianMs, r.wallMeanMs);
    };
    std::printf("repaints of pages of 100         %d pages each\n", pagesTimed);
    printPages("  area view                     ", pages);
    printPages("  line view                     ", linePages);
    printPages("  area, swinging readings       ", worstPages);
    if (!errors.isEmpty())
        std::printf("errors: %s\n", qPrintable(errors.join(QStringLiteral("; "))));
    // Below the sampled range the fixed costs of a run outweigh the points' share.
    const bool memoryOk =
        count < kMemoryMinPoints || (worstBytesPerPoint <= 24.0 && bytesPerPoint <= 24.0);
    const bool ok = lastMedianUs <= 1.5 * firstMedianUs && memoryOk && pages.meanMs < 2.0 &&
                    linePages.meanMs < 2.0 && worstPages.meanMs < 2.0 && errors.isEmpty();
    const QByteArray lastName = "graph append, last " + QByteArray::number(kWindow) + " of " +
                                QByteArray::number(count) + ", median burst";
    const QByteArray lastTarget = "<=" + QByteArray::number(1.5 * firstMedianUs, 'f', 2);
    BenchSupport::figure(lastName.constData(), lastMedianUs, "us", lastTarget.constData(),
                         firstMedianUs);
    if (count >= kMemoryMinPoints)
        BenchSupport::figure("graph resident memory per point", bytesPerPoint, "bytes", "<=24",
                             16.0);
    BenchSupport::figure("graph repaint of a page, area", pages.meanMs, "ms", "<2");
    BenchSupport::figure("graph repaint of a page, line", linePages.meanMs, "ms", "<2");
    BenchSupport::figure("graph repaint of a page, swinging", worstPages.meanMs, "ms", "<2");
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return 0;
}
