#include "readingdispatch.h"

#include "frameassembler.h"
#include "graphpoint.h"
#include "readingdecoder.h"

#include <exception>

namespace {
constexpr double kFrequencyAxis = 100000.0;
constexpr double kDutyAxis = 10000.0;

/// Runs `step` and hands back what it threw, if anything.
template <typename Step> std::exception_ptr attempt(Step step) {
    try {
        step();
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}
} // namespace

std::pair<double, double> ReadingDispatch::valueAxisOf(const DecodedFrame &frame) {
    double end = 0.0;
    if (frame.frequency)
        end = kFrequencyAxis;
    else if (frame.duty)
        end = kDutyAxis;
    else
        end = frame.fullScale();
    return {-end, end};
}

std::optional<DecodedFrame> ReadingDispatch::run(const QString &frameHex, int relState,
                                                 Steps &steps) {
    if (frameHex.size() != 2 * FrameAssembler::kDisplayFrameBytes)
        return std::nullopt;
    steps.linkAlive();
    const DecodedFrame frame = ReadingDecoder::decode(frameHex, relState);
    const auto [minimum, maximum] = valueAxisOf(frame);
    steps.valueAxis(minimum, maximum);
    steps.scaleMode(frame.hundredMode, frame.span, frame.offset);
    // Each scale call on its own: the LCD and the Reading's texts come between them, and
    // recording must not store the texts of the frame before.
    const std::exception_ptr setupFailure = attempt([&] { steps.scaleSetup(); });
    steps.showOnLcd(frame);
    steps.takeReading(frame);
    const std::exception_ptr needleFailure = attempt([&] { steps.needle(frame.needlePosition); });
    steps.alarmCheck(frame);
    steps.extremesUpdate(frame);

    // A reading that recording refused or failed on still reaches the graph.
    const std::exception_ptr recordingFailure = attempt([&] { steps.record(); });
    steps.graphPoint(GraphPoint::valueOf(frame));
    steps.lastPage();

    // A scale that fails on every frame is told once, not ten times a second. The flag is
    // set first: telling may show a modal box, under which more frames can arrive.
    const std::exception_ptr scaleFailure = setupFailure ? setupFailure : needleFailure;
    const bool tell = scaleFailure && !m_scaleFailing;
    m_scaleFailing = scaleFailure != nullptr;
    if (tell)
        steps.scaleFault(scaleFailure);
    if (recordingFailure)
        std::rethrow_exception(recordingFailure);
    return frame;
}
