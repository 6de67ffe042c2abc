#pragma once

#include "decodedframe.h"

#include <QString>

#include <exception>
#include <optional>
#include <utility>

/// The order in which one main display frame is handed on: the link is marked alive, the
/// frame is decoded and the graph's value axis set for it, the analog scale is set up, the
/// LCD shows the frame, the needle moves, the alarm and the extremes see the reading,
/// recording is offered it, and the graph gets its point and keeps its last page in view.
///
/// The steps themselves belong to the window and the parts it owns; this class only fixes
/// their order and the values handed to each, so the order can be checked without a window.
/// Every step runs even when an earlier one failed (the graph plots every reading whether or
/// not it was stored, the LCD shows a reading whose alarm check failed); the first failure
/// then goes on to the caller. The scale is only a picture of the reading: a fault in it is
/// told once for a run of frames on which it fails, and does not go on to the caller.
class ReadingDispatch {
public:
    /// What the window does at each step of a frame.
    class Steps {
    public:
        virtual ~Steps() = default;
        virtual void linkAlive() = 0;
        /// Range of the graph's value axis for this frame.
        virtual void valueAxis(double minimum, double maximum) = 0;
        virtual void scaleMode(bool hundredMode, int span, int offset) = 0;
        /// Sets up the analog scale for the mode just given (no needle yet).
        virtual void scaleSetup() = 0;
        /// The LCD, the bar graph's visibility and the Reading's AC/DC, AUTO and unit texts.
        virtual void showOnLcd(const DecodedFrame &frame) = 0;
        /// The Reading's value text and number.
        virtual void takeReading(const DecodedFrame &frame) = 0;
        virtual void needle(int position) = 0;
        virtual void alarmCheck(const DecodedFrame &frame) = 0;
        /// May clear the graph (a change of unit or range).
        virtual void extremesUpdate(const DecodedFrame &frame) = 0;
        virtual void record(const DecodedFrame &frame) = 0;
        virtual void graphPoint(double value) = 0;
        virtual void lastPage() = 0;
        /// The scale failed to draw; comes after the frame's other steps, and only for the
        /// first of consecutive frames on which it fails.
        virtual void scaleFault(std::exception_ptr fault) = 0;
    };

    /// Decodes `frameHex` and runs every step for it; returns the decoded frame. A frame of
    /// any other length than a display frame's is line damage: no step runs for it, it
    /// marks nothing alive and resets nothing, and nothing is returned.
    std::optional<DecodedFrame> run(const QString &frameHex, int relState, Steps &steps);
    /// Runs every step for a frame already decoded (from a display frame of its length).
    void run(const DecodedFrame &frame, Steps &steps);

    /// The graph's value axis for a frame: plus and minus the span times 100, or times 1000
    /// for a five-digit reading, in the function modes (the frame's own span, 80, also for
    /// the first function frame after a frequency or duty frame); 100000 in frequency mode
    /// and 10000 in duty mode.
    static std::pair<double, double> valueAxisOf(const DecodedFrame &frame);

private:
    /// The scale failed on the last frame (and that was told).
    bool m_scaleFailing = false;
};
