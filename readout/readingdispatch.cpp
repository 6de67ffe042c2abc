#include "readingdispatch.h"

#include "graphpoint.h"
#include "readingdecoder.h"

#include <exception>

namespace {
constexpr double kFrequencyAxis = 100000.0;
constexpr double kDutyAxis = 10000.0;
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

DecodedFrame ReadingDispatch::run(const QString &frameHex, int relState, Steps &steps) {
    steps.linkAlive();
    const DecodedFrame frame = ReadingDecoder::decode(frameHex, relState);
    const auto [minimum, maximum] = valueAxisOf(frame);
    steps.valueAxis(minimum, maximum);
    steps.scaleMode(frame.hundredMode, frame.span, frame.offset);
    steps.scaleSetup();
    steps.showOnLcd(frame);
    steps.takeReading(frame);
    steps.needle(frame.needlePosition);
    steps.alarmCheck(frame);
    steps.extremesUpdate(frame);

    // A reading that recording refused or failed on still reaches the graph.
    std::exception_ptr recordingFailure;
    try {
        steps.record();
    } catch (...) {
        recordingFailure = std::current_exception();
    }
    steps.graphPoint(GraphPoint::valueOf(frame));
    steps.lastPage();
    if (recordingFailure)
        std::rethrow_exception(recordingFailure);
    return frame;
}
