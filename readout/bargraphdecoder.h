#pragma once

#include <QString>

/// Decodes the bar graph carried by a secondary frame (first byte 0x8A) from its five hex
/// digits `MltText`: the bar's sign and its position on the 0..41 progress bar.
class BarGraphDecoder {
public:
    /// Position of a full bar (also the bar's maximum).
    static constexpr int kFullPosition = 41;

    struct Bar {
        QString sign;     ///< "+" or "-"
        int position = 0; ///< 1..64; anything above kFullPosition shows as a full bar
    };

    /// A short `MltText` (the frame was cut short) counts its missing digits as 0, as does
    /// any character that is not an upper-case hex digit.
    static Bar decode(const QString &mltText);
};
