// Timing program for the analog scale at the highest frame rate the link can deliver: the
// per-frame setup()+run() with the background cached, the same with the event loop painting
// after every frame, and the naive way (the whole scale drawn anew every frame) as the
// comparison; then the paint of one frame offscreen, with the background cached and cold.
// All in CPU time of this thread, which other programs on the machine do not stretch.
//
//   qm-bench-scale [--frames N]

#include "benchsupport.h"
#include "scaleview.h"

#include <QApplication>
#include <QFrame>
#include <QTest>

#include <cstdio>
#include <functional>

namespace {

// The driver reads up to 2048 bytes per 50 ms poll, 11 bytes a display frame plus the line
// feed's share: about 3,700 frames a second at most.
constexpr double kFramesPerSecond = 3700.0;
constexpr double kFrameBudgetUs = 1e6 / kFramesPerSecond;
// The scale may take this share of a frame's time at the most.
constexpr double kScaleShareOfFrame = 0.1;
constexpr QSize kDesignPanel{318, 137};

/// Runs the event loop until what the frames asked for is painted: the needle's sync runs on
/// one pass, the paint it asks for on the next.
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

/// A needle sweeping back and forth across the arc, as a changing reading moves it.
int positionFor(int frame) {
    const int phase = frame % 1600;
    return phase < 800 ? phase : 1600 - phase;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int frames = BenchSupport::option(app.arguments(), "--frames", 20000);
    if (frames < 10) {
        std::fprintf(stderr, "--frames must be at least 10\n");
        return 2;
    }

    QFrame panel;
    panel.resize(kDesignPanel);
    auto *view = new ScaleView(&panel);
    panel.show();
    if (!QTest::qWaitForWindowExposed(&panel)) {
        std::fprintf(stderr, "the panel was not shown\n");
        return 1;
    }
    view->setBand(3000.f, -3000.f, true, true);
    view->setup();
    view->run(400);
    settle();

    auto frame = [view](int i) {
        view->setMode(false, 80, 0);
        view->setup();
        view->run(positionFor(i));
    };

    // A delivery of many frames: the event loop runs only after all of them.
    const double cachedUs = BenchSupport::cpuUsPerCall(frames, frame);
    const double burstPaintUs = BenchSupport::cpuNsOf(settle) / 1e3;

    // The event loop runs (and paints the needle's strips) after every frame.
    const double cachedPaintedUs = BenchSupport::cpuUsPerCall(frames, [&](int i) {
        frame(i);
        settle();
    });

    // A steady reading: the needle stays, nothing is painted.
    const double steadyUs = BenchSupport::cpuUsPerCall(frames, [&](int) {
        frame(300);
        settle();
    });

    // The naive way: every frame draws the whole scale (black, dots, labels, band, needle)
    // and shows it at once. A band limit that changes every frame forces the full redraw.
    const double naiveUs = BenchSupport::cpuUsPerCall(frames, [&](int i) {
        view->setBand(3000.f + static_cast<float>(i % 2), -3000.f, true, true);
        frame(i);
        view->repaint();
    });

    // One frame's paint offscreen.
    view->setBand(3000.f, -3000.f, true, true);
    frame(0);
    const int paints = std::max(10, frames / 20);
    const double grabCachedUs = BenchSupport::cpuUsPerCall(paints, [&](int i) {
        view->run(positionFor(i));
        (void)view->grab();
    });
    const double grabColdUs = BenchSupport::cpuUsPerCall(paints, [&](int i) {
        view->setBand(3000.f + static_cast<float>(i % 2), -3000.f, true, true);
        frame(i);
        (void)view->grab();
    });

    const double limitUs = kFrameBudgetUs * kScaleShareOfFrame;
    const bool ok = cachedUs < limitUs && cachedPaintedUs < kFrameBudgetUs;
    std::printf("frames                                 %d at %dx%d, needle sweeping\n", frames,
                kDesignPanel.width(), kDesignPanel.height());
    std::printf("frame budget at %.0f frames/s           %.1f us\n", kFramesPerSecond,
                kFrameBudgetUs);
    std::printf("setup+run, background cached           %.3f us per frame\n", cachedUs);
    std::printf("  the one paint after the burst        %.1f us\n", burstPaintUs);
    std::printf("setup+run+event loop after each frame  %.1f us per frame\n", cachedPaintedUs);
    std::printf("the same, needle steady                %.1f us per frame\n", steadyUs);
    std::printf("naive: full redraw every frame         %.1f us per frame (%.0fx the cached)\n",
                naiveUs, naiveUs / cachedUs);
    std::printf("paint one frame (grab), cached         %.1f us\n", grabCachedUs);
    std::printf("paint one frame (grab), cold           %.1f us\n", grabColdUs);
    const QByteArray setupTarget = "<" + QByteArray::number(limitUs, 'f', 1);
    const QByteArray frameTarget = "<" + QByteArray::number(kFrameBudgetUs, 'f', 0);
    BenchSupport::figure("scale setup+run, background cached", cachedUs, "us",
                         setupTarget.constData());
    BenchSupport::figure("scale frame with its paint", cachedPaintedUs, "us",
                         frameTarget.constData(), steadyUs);
    std::printf("%s (setup+run under %.1f us, painted frame under %.1f us)\n",
                ok ? "within targets" : "OUTSIDE TARGETS", limitUs, kFrameBudgetUs);
    return 0;
}
