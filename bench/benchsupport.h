#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ctime>

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

} // namespace BenchSupport
