#include "readingdispatch.h"

#include "frameassembler.h"
#include "graphpoint.h"
#include "readingdecoder.h"

#include <exception>

namespace {
constexpr double kFrequencyAxis = 100000.0;
constexpr double kDutyAxis = 10000.0;

/// Runs the steps of one frame, each on its own: a step that throws costs only itself, and
/// the first fault of each kind is kept for the end of the frame.
class StepGuard {
public:
    enum class Kind { Picture, Other };

    template <typename Step> void operator()(Kind kind, Step step) {
        try {
            step();
        } catch (...) {
            std::exception_ptr &first = kind == Kind::Picture ? m_pictureFault : m_fault;
            if (!first)
                first = std::current_exception();
        }
    }
    std::exception_ptr pictureFault() const { return m_pictureFault; }
    std::exception_ptr fault() const { return m_fault; }

private:
    std::exception_ptr m_pictureFault;
    std::exception_ptr m_fault;
};
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
    DecodedFrame frame = ReadingDecoder::decode(frameHex, relState);
    run(frame, steps);
    return frame;
}

void ReadingDispatch::run(const DecodedFrame &frame, Steps &steps) {
    // Every step goes through the guard, so a reading that one part fails on still reaches
    // the others (one that recording refused still reaches the graph, say).
    StepGuard step;
    using Kind = StepGuard::Kind;
    step(Kind::Other, [&] { steps.linkAlive(); });
    const auto [minimum, maximum] = valueAxisOf(frame);
    step(Kind::Other, [&] { steps.valueAxis(minimum, maximum); });
    step(Kind::Other, [&] { steps.scaleMode(frame.hundredMode, frame.span, frame.offset); });
    // The LCD and the Reading's texts come between the two scale calls, and recording must
    // not store the texts of the frame before.
    step(Kind::Picture, [&] { steps.scaleSetup(); });
    step(Kind::Other, [&] { steps.showOnLcd(frame); });
    step(Kind::Other, [&] { steps.takeReading(frame); });
    step(Kind::Picture, [&] { steps.needle(frame.needlePosition); });
    step(Kind::Other, [&] { steps.alarmCheck(frame); });
    step(Kind::Other, [&] { steps.extremesUpdate(frame); });
    step(Kind::Other, [&] { steps.record(frame); });
    step(Kind::Other, [&] { steps.graphPoint(GraphPoint::valueOf(frame)); });
    step(Kind::Other, [&] { steps.lastPage(); });

    // A scale that fails on every frame is told once, not ten times a second. The flag is
    // set first: telling may show a modal box, under which more frames can arrive.
    const std::exception_ptr scaleFailure = step.pictureFault();
    const bool tell = scaleFailure && !m_scaleFailing;
    m_scaleFailing = scaleFailure != nullptr;
    if (tell)
        steps.scaleFault(scaleFailure);
    if (step.fault())
        std::rethrow_exception(step.fault());
}
