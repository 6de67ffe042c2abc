#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

/// Small measuring aids shared by the benchmark programs.
namespace BenchSupport {

/// A figure of /proc/self/status in bytes: "VmRSS" (resident), "VmHWM" (peak resident),
/// "VmData" (address space). 0 where the file is missing.
inline double statusBytes(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() * 1024.0;
    return 0.0;
}

inline double statusMiB(const char *field) {
    return statusBytes(field) / (1024.0 * 1024.0);
}

inline double residentMiB() {
    return statusMiB("VmRSS");
}

/// CPU time of this thread in nanoseconds: unlike the wall clock, not stretched by other
/// programs that share the machine.
inline double threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

/// CPU time of this process in nanoseconds, all its threads.
inline double processCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

/// CPU nanoseconds of this thread that `pass` takes.
inline double cpuNsOf(const std::function<void()> &pass) {
    const double start = threadCpuNs();
    pass();
    return threadCpuNs() - start;
}

/// CPU microseconds of this thread per call of `step` (given the call's index) over `count`
/// calls; `after` runs once after the calls, inside the timing, for work they leave queued.
inline double cpuUsPerCall(int count, const std::function<void(int)> &step,
                           const std::function<void()> &after = {}) {
    return cpuNsOf([&] {
               for (int i = 0; i < count; ++i)
                   step(i);
               if (after)
                   after();
           }) /
           1e3 / count;
}

/// The machine-wide monotonic clock in nanoseconds: comparable between processes, so a
/// parent can time a child from its launch.
inline double monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

/// The value after `name` on the command line, or `fallback`.
inline QString option(const QStringList &args, const char *name, const QString &fallback) {
    const qsizetype at = args.indexOf(QLatin1String(name));
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

inline int option(const QStringList &args, const char *name, int fallback) {
    const QString text = option(args, name, QString());
    return text.isEmpty() ? fallback : text.toInt();
}

/// Display frame `i` as the meter sends it, 11 bytes with the line feed: a reading that
/// changes from frame to frame (so no repeat filter drops it), under one of four heads:
/// 0 DC volts, 1 DC volts negative, 2 kilo-ohms, 3 AC volts.
inline QByteArray displayFrame(int i, int head = 0) {
    static const unsigned char kHeads[][4] = {
        {0x70, 0x00, 0x00, 0x00},
        {0x70, 0x00, 0x00, 0x10},
        {0x60, 0x08, 0x00, 0x00},
        {0x78, 0x08, 0x00, 0x00},
    };
    const int value = (i * 37) % 8000;
    QByteArray f;
    f.reserve(11);
    f.append(char(0x89));
    f.append(reinterpret_cast<const char *>(kHeads[head % 4]), 4);
    f.append(char(0x0F));
    f.append(char(value / 1000));
    f.append(char(value / 100 % 10));
    f.append(char(value / 10 % 10));
    f.append(char(value % 10));
    f.append('\n');
    return f;
}

/// One figure for bench/run.sh, which gathers these lines of every program and run:
/// "FIGURE <tab> name <tab> value <tab> unit <tab> target <tab> floor". `target` is a
/// comparison with a number ("<1", ">=1000000") or "-"; `floor` is the cost of the least
/// that could do the same work, measured in the same run in the same unit, or NaN.
inline void figure(const char *name, double value, const char *unit, const char *target = "-",
                   double floor = std::nan("")) {
    char floorText[32] = "-";
    if (!std::isnan(floor))
        std::snprintf(floorText, sizeof floorText, "%.6g", floor);
    std::printf("FIGURE\t%s\t%.6g\t%s\t%s\t%s\n", name, value, unit, target, floorText);
    std::fflush(stdout);
}

} // namespace BenchSupport
