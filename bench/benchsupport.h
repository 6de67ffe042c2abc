#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
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

inline double residentMiB() {
    return statusBytes("VmRSS") / (1024.0 * 1024.0);
}

/// CPU time of this thread in nanoseconds: unlike the wall clock, not stretched by other
/// programs that share the machine.
inline double threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
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
