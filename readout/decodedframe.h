#pragma once

#include <QString>

#include <array>

/// Everything one main display frame decodes to: what the LCD shows (digit texts, sign,
/// decimal points, annunciators), the Reading handed on to recording and the graph, the
/// analog scale settings and the needle position.
///
/// A value type with no behaviour: the decoder fills it, the panel, the window and the
/// decode tool read it. Every field starts cleared, so a default DecodedFrame is a frame
/// that lit nothing.
struct DecodedFrame {
    /// Which digit text sits where; D0 is the leading (fifth) digit.
    enum Digit { D0, Da, Db, Dc, Dd, DigitCount };
    /// Decimal points: P0 between D0 and Da ... P3 between Dc and Dd. P4 only becomes
    /// visible through the five-digit shift, which moves every point one place left.
    enum Point { P0, P1, P2, P3, P4, PointCount };

    /// The annunciators of the LCD, one flag each.
    struct Flags {
        bool ac = false;
        bool dc = false;
        bool autoShown = false;
        bool rel = false;
        bool hold = false;
        bool battery = false;
        bool volt = false;
        bool ampere = false;
        bool milli = false;
        bool kilo = false;
        bool mega = false;
        bool micro = false;
        bool nano = false;
        bool ohm = false;
        bool farad = false;
        bool continuity = false;
        bool diode = false;
        bool conductance = false;
        bool percent = false;
        bool max = false;
        bool min = false;
        bool avg = false;
        bool rec = false;
        bool interval100ms = false;
        bool interval1ms = false;
        bool interval1s = false;
        bool barHidden = false;
    };

    // ---- what the LCD shows ----
    /// One character each, or empty (the dark positions of an overload).
    std::array<QString, DigitCount> digits;
    bool d0Shown = false;
    /// "-" or empty.
    QString sign;
    std::array<bool, PointCount> points{};
    Flags flags;

    // ---- frame properties the later steps of a reading need ----
    bool frequency = false; ///< mode code 4
    bool duty = false;      ///< mode code 5
    bool fiveDigit = false;
    bool overload = false;
    int rangeCode = 0;

    // ---- the Reading ----
    QString valueText;
    float readingNval = 0.0f;
    QString acDcText;
    QString unitText;
    QString autoText;

    // ---- analog scale ----
    bool hundredMode = false;
    int span = 80; ///< also the full-scale factor of the overload values
    int offset = 0;
    int needlePosition = 400;

    /// The mode's full scale in counts: the overload value's size, the value axis's end.
    int fullScale() const { return span * (fiveDigit ? 1000 : 100); }
};
