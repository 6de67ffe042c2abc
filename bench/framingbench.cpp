// Timing program for the receive path alone: display frames cut from the byte stream by the
// frame assembler and decoded by the reading decoder, on one core, next to a loop that only
// copies the same bytes in the same deliveries (the floor). Framing alone and decoding alone
// are timed too, to tell which half costs what.
//
//   qm-bench-framing [--frames N] [--runs R]

#include "benchsupport.h"
#include "frameassembler.h"
#include "readingdecoder.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

/// The serial driver hands over at most this many bytes a poll.
constexpr int kDelivery = 2048;
constexpr double kTargetFramesPerSecond = 1e6;

/// Keeps the compiler from dropping work whose result is otherwise unused.
template <typename T> void keep(T const &value) {
    asm volatile("" : : "g"(&value) : "memory");
}

/// CPU seconds of this thread that `pass` takes.
double cpuSeconds(const std::function<void()> &pass) {
    return BenchSupport::cpuNsOf(pass) / 1e9;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int frames = BenchSupport::option(app.arguments(), "--frames", 1000000);
    const int runs = BenchSupport::option(app.arguments(), "--runs", 5);
    if (frames < 1 || runs < 1) {
        std::fprintf(stderr, "--frames and --runs must be at least 1\n");
        return 2;
    }

    QByteArray stream;
    stream.reserve(qsizetype(frames) * 11);
    for (int i = 0; i < frames; ++i)
        stream += BenchSupport::displayFrame(i, i % 4);
    QStringList hexFrames;
    const int distinct = std::min(frames, 8000);
    for (int i = 0; i < distinct; ++i)
        hexFrames << hexOf(BenchSupport::displayFrame(i, i % 4).constData(), 11);

    std::vector<double> copy, framing, decoding, both;
    double checksum = 0.0;
    int decoded = 0;
    for (int run = 0; run < runs; ++run) {
        copy.push_back(cpuSeconds([&] {
            char buffer[kDelivery];
            for (qsizetype at = 0; at < stream.size(); at += kDelivery) {
                const auto n = std::min<qsizetype>(kDelivery, stream.size() - at);
                std::memcpy(buffer, stream.constData() + at, size_t(n));
                keep(buffer);
            }
        }));
        framing.push_back(cpuSeconds([&] {
            FrameAssembler assembler;
            int display = 0;
            for (qsizetype at = 0; at < stream.size(); at += kDelivery) {
                const int n = int(std::min<qsizetype>(kDelivery, stream.size() - at));
                assembler.feed(stream.constData() + at, n, FrameAssembler::Clock::now(),
                               [&](const QString &, FrameKind kind) {
                                   display += kind == FrameKind::Display;
                               });
            }
            keep(display);
        }));
        decoding.push_back(cpuSeconds([&] {
            for (int i = 0; i < frames; ++i)
                checksum += ReadingDecoder::decode(hexFrames.at(i % distinct), 0).readingNval;
        }));
        both.push_back(cpuSeconds([&] {
            FrameAssembler assembler;
            decoded = 0;
            for (qsizetype at = 0; at < stream.size(); at += kDelivery) {
                const int n = int(std::min<qsizetype>(kDelivery, stream.size() - at));
                assembler.feed(stream.constData() + at, n, FrameAssembler::Clock::now(),
                               [&](const QString &hex, FrameKind kind) {
                                   if (kind != FrameKind::Display)
                                       return;
                                   const DecodedFrame f = ReadingDecoder::decode(hex, 0);
                                   checksum += f.readingNval + f.needlePosition;
                                   ++decoded;
                               });
            }
        }));
    }
    keep(checksum);
    if (decoded != frames) {
        std::fprintf(stderr, "decoded %d of %d frames\n", decoded, frames);
        return 1;
    }

    const double copyFps = frames / BenchSupport::median(copy);
    const double framingFps = frames / BenchSupport::median(framing);
    const double decodingFps = frames / BenchSupport::median(decoding);
    const double bothFps = frames / BenchSupport::median(both);
    std::printf("display frames                   %d, %d runs, medians of CPU time\n", frames,
                runs);
    std::printf("framing and decoding             %.0f frames/s (%.0f ns a frame)\n", bothFps,
                1e9 / bothFps);
    std::printf("  framing alone                  %.0f frames/s (%.0f ns a frame)\n", framingFps,
                1e9 / framingFps);
    std::printf("  decoding alone                 %.0f frames/s (%.0f ns a frame)\n", decodingFps,
                1e9 / decodingFps);
    std::printf("floor: copying the bytes         %.0f frames/s (%.1f ns a frame)\n", copyFps,
                1e9 / copyFps);
    BenchSupport::figure("framing+decoding", bothFps, "frames/s", ">=1000000", copyFps);
    BenchSupport::figure("framing alone", framingFps, "frames/s", "-", copyFps);
    BenchSupport::figure("decoding alone", decodingFps, "frames/s", "-", copyFps);
    const bool met = bothFps >= kTargetFramesPerSecond;
    std::printf("%s (at least %.0f display frames a second)\n",
                met ? "within targets" : "OUTSIDE TARGETS", kTargetFramesPerSecond);
    return 0;
}
