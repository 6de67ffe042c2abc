// How far apart the two halves of a frame arrive when the meter's answer is cut in two
// writes (the emulator's --split, through a pseudo-terminal), next to how far apart the
// answers themselves arrive. The receive framing carries an unfinished frame over to the
// next delivery only for a short while: long enough for the rest of a split frame, well
// short of the next answer. This program gives the figures that window is chosen from.
//
// Two views of the same line:
// - raw: the port read with poll() as soon as anything arrives, so the gap is that of the
//   two writes themselves;
// - driver: the program's own serial driver, which reads every 50 ms, with the request
//   cycle of the link; the gap is that between the two deliveries the framing sees.
//
//   qm-bench-splitgap [--seconds S] [--split-ms N] [--sim PATH]

#include "benchsupport.h"
#include "commportdriver.h"
#include "meterlink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kLineFeed = 0x0A;

struct Spread {
    double min = 0, median = 0, p99 = 0, max = 0;
    size_t count = 0;
};

Spread spreadOf(std::vector<double> values) {
    Spread s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.min = values.front();
    s.max = values.back();
    s.median = BenchSupport::median(values);
    s.p99 = values[std::min(values.size() - 1, size_t(double(values.size()) * 0.99))];
    return s;
}

void print(const char *what, const Spread &s) {
    std::printf("%-44s %5zu  min %6.1f  median %6.1f  p99 %6.1f  max %6.1f ms\n", what, s.count,
                s.min, s.median, s.p99, s.max);
}

/// Milliseconds on a clock shared by both views.
double nowMs(const QElapsedTimer &clock) {
    return double(clock.nsecsElapsed()) / 1e6;
}

/// Follows deliveries: the gap from a delivery that leaves a frame unfinished to the one
/// that finishes it, and the gap between the first deliveries of successive answers.
class GapTracker {
public:
    void delivery(double ms, const char *data, qsizetype size) {
        if (!m_inFrame) {
            if (m_lastAnswerMs >= 0)
                answerGaps.push_back(ms - m_lastAnswerMs);
            m_lastAnswerMs = ms;
        } else {
            splitGaps.push_back(ms - m_fragmentMs);
        }
        const qsizetype lastFeed = QByteArrayView(data, size).lastIndexOf(kLineFeed);
        m_inFrame = lastFeed != size - 1;
        if (m_inFrame)
            m_fragmentMs = ms;
    }

    std::vector<double> splitGaps;
    std::vector<double> answerGaps;

private:
    bool m_inFrame = false;
    double m_fragmentMs = 0;
    double m_lastAnswerMs = -1;
};

/// The emulator on a link of its own; empty when it does not come up.
QString startEmulator(QProcess &sim, const QString &program, const QString &link, int splitMs) {
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(program,
              {QStringLiteral("--fixed"), QStringLiteral("--split"), QStringLiteral("--split-ms"),
               QString::number(splitMs), QStringLiteral("--link"), link});
    QElapsedTimer wait;
    wait.start();
    while (sim.waitForStarted(100) && !QFile::exists(link) && wait.elapsed() < 5000)
        QThread::msleep(20);
    return QFile::exists(link) ? link : QString();
}

/// The raw view: requests every 100 ms in the link's pattern, reads as soon as bytes come.
GapTracker rawView(const QString &link, double seconds) {
    GapTracker tracker;
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return tracker;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    QElapsedTimer clock;
    clock.start();
    static const char kCycle[] = {'\x8A', '\x8A', '\x8A', '\x89', 0};
    double nextRequestMs = 0;
    for (int tick = 0; nowMs(clock) < seconds * 1000.0;) {
        const double now = nowMs(clock);
        if (now >= nextRequestMs) {
            if (const char request = kCycle[tick++ % 5]) [[maybe_unused]]
                const ssize_t n = ::write(fd, &request, 1);
            nextRequestMs += 100.0;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, std::max(1, int(nextRequestMs - nowMs(clock)))) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            tracker.delivery(nowMs(clock), buffer, n);
    }
    ::close(fd);
    return tracker;
}

/// The driver's view: the program's serial driver and request cycle.
GapTracker driverView(const QString &link, double seconds) {
    GapTracker tracker;
    qputenv("QM_COM1", QFile::encodeName(link));
    CommPortDriver driver;
    driver.setComPort(pnCOM1);
    driver.setComPortSpeed(br9600);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&driver, &CommPortDriver::OnReceiveData,
                     [&](CommPortDriver *, const char *data, int size) {
                         tracker.delivery(nowMs(clock), data, size);
                     });
    MeterLink meterLink(driver);
    if (!meterLink.openPort())
        return tracker;
    meterLink.start();
    QTimer::singleShot(int(seconds * 1000.0), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    meterLink.stop();
    meterLink.closePort();
    return tracker;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const double seconds = BenchSupport::option(args, "--seconds", QStringLiteral("20")).toDouble();
    const int splitMs = BenchSupport::option(args, "--split-ms", 30);
    const QString program = BenchSupport::option(args, "--sim", QStringLiteral(QM_METER_SIM));
    if (seconds <= 0 || splitMs < 0) {
        std::fprintf(stderr, "--seconds must be above 0 and --split-ms at least 0\n");
        return 2;
    }
    QTemporaryDir dir;
    QProcess sim;
    const QString link =
        startEmulator(sim, program, dir.filePath(QStringLiteral("meter")), splitMs);
    if (link.isEmpty()) {
        std::fprintf(stderr, "the emulator %s did not start\n", qPrintable(program));
        return 1;
    }

    const GapTracker raw = rawView(link, seconds / 2);
    const GapTracker delivered = driverView(link, seconds / 2);
    sim.terminate();
    sim.waitForFinished(3000);

    std::printf("emulator --split --split-ms %d, %.1f s in each view\n", splitMs, seconds / 2);
    print("raw: the two writes of a split frame", spreadOf(raw.splitGaps));
    print("raw: successive answers", spreadOf(raw.answerGaps));
    print("driver: the two deliveries of a split frame", spreadOf(delivered.splitGaps));
    print("driver: successive answers", spreadOf(delivered.answerGaps));
    const Spread split = spreadOf(delivered.splitGaps);
    const Spread answers = spreadOf(delivered.answerGaps);
    BenchSupport::figure("split frame, deliveries apart (max)", split.max, "ms");
    BenchSupport::figure("answers apart (min)", answers.min, "ms");
    // Whether a split frame straddles a poll depends on where the polls fall: a short run may
    // see none through the driver. No answer at all is a fault.
    if (raw.answerGaps.empty() || answers.count == 0) {
        std::fprintf(stderr, "no answers seen\n");
        return 1;
    }
    if (split.count == 0)
        std::printf("no frame straddled two polls; run longer\n");
    return 0;
}
