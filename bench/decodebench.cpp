// Timing program for qm-decode on a large capture: N frames, display and secondary frames
// taking turns as the emulator's flood sends them, written as hex lines (the tool's default
// input) and as the raw byte stream (--stream). Each is decoded by the real tool, a separate
// process, with its JSON going to /dev/null; the floor is `cat` of the same file.
//
//   qm-bench-decode [--frames N] [--runs R] [--decoder PATH] [--dir FOLDER]

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr double kTargetSeconds = 2.0;

struct Timing {
    double wall = 0.0;
    double cpu = 0.0;
};

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Runs `program` with `args`, its output to /dev/null; false when it fails.
bool timed(const QString &program, const QStringList &args, Timing *t) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double cpu0 = childrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return false;
    }
    t->wall = clock.nsecsElapsed() / 1e9;
    t->cpu = childrenCpuSeconds() - cpu0;
    return true;
}

/// Frame `i` of the capture: even ones display frames (DC volts, ohms, AC volts, changing
/// digits, now and then negative), odd ones secondary frames with the bar.
QByteArray frameBytes(int i) {
    if (i % 2 == 0)
        return BenchSupport::displayFrame(i, i / 2);
    const int bar = (i * 37) % 8000 * 40 / 8000;
    QByteArray f = QByteArray::fromHex("8A000000");
    f.append(char((i / 2) % 4 == 1 ? 0x10 : 0x00));
    f.append(char(bar == 10 ? 0x4A : bar));
    f.append('\n');
    return f;
}

using BenchSupport::option;

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int frames = option(args, "--frames", QStringLiteral("1000000")).toInt();
    const int runs = option(args, "--runs", QStringLiteral("3")).toInt();
    const QString decoder = option(args, "--decoder", QStringLiteral(QM_DECODE));
    const QString base = option(args, "--dir", QDir::tempPath());
    QTemporaryDir dir(base + QStringLiteral("/qm-bench-decode-XXXXXX"));
    if (!dir.isValid() || frames < 1 || runs < 1)
        return 2;

    const QString hexPath = dir.filePath(QStringLiteral("capture.txt"));
    const QString rawPath = dir.filePath(QStringLiteral("capture.bin"));
    {
        QFile hex(hexPath), raw(rawPath);
        if (!hex.open(QIODevice::WriteOnly) || !raw.open(QIODevice::WriteOnly))
            return 1;
        QByteArray hexChunk, rawChunk;
        for (int i = 0; i < frames; ++i) {
            const QByteArray f = frameBytes(i);
            rawChunk += f;
            hexChunk += f.toHex(' ').toUpper() + '\n';
            if (hexChunk.size() > (1 << 20) || i == frames - 1) {
                hex.write(hexChunk);
                raw.write(rawChunk);
                hexChunk.clear();
                rawChunk.clear();
            }
        }
    }

    // Each kind once untimed, so the files and the tool are in the system's cache.
    Timing t;
    if (!timed(QStringLiteral("cat"), {hexPath}, &t) || !timed(decoder, {hexPath}, &t))
        return 1;
    std::vector<double> hexWall, hexCpu, rawWall, catHex, catRaw;
    for (int run = 0; run < runs; ++run) {
        if (!timed(decoder, {hexPath}, &t))
            return 1;
        hexWall.push_back(t.wall);
        hexCpu.push_back(t.cpu);
        if (!timed(decoder, {QStringLiteral("--stream"), rawPath}, &t))
            return 1;
        rawWall.push_back(t.wall);
        if (!timed(QStringLiteral("cat"), {hexPath}, &t))
            return 1;
        catHex.push_back(t.wall);
        if (!timed(QStringLiteral("cat"), {rawPath}, &t))
            return 1;
        catRaw.push_back(t.wall);
    }
    using BenchSupport::median;
    const double hex = median(hexWall), raw = median(rawWall);
    std::printf("capture of %d frames (%.1f MiB of hex lines, %.1f MiB raw), medians of %d runs\n",
                frames, QFileInfo(hexPath).size() / 1048576.0,
                QFileInfo(rawPath).size() / 1048576.0, runs);
    std::printf("qm-decode, hex lines         %.3f s (CPU %.3f s, %.0f frames/s)\n", hex,
                median(hexCpu), frames / hex);
    std::printf("qm-decode --stream, raw      %.3f s (%.0f frames/s)\n", raw, frames / raw);
    std::printf("floor: cat of the hex file   %.4f s; of the raw file %.4f s\n", median(catHex),
                median(catRaw));
    const QByteArray name = "qm-decode, " + QByteArray::number(frames) + " frames";
    BenchSupport::figure(name.constData(), hex, "s", "<2", median(catHex));
    BenchSupport::figure((name + " --stream").constData(), raw, "s", "<2", median(catRaw));
    const bool met = hex < kTargetSeconds;
    std::printf("%s (under %.0f s for the hex lines)\n", met ? "within targets" : "OUTSIDE TARGETS",
                kTargetSeconds);
    return 0;
}
