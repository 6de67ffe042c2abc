#include "bargraphdecoder.h"

#include <algorithm>

#include "frameassembler.h"

namespace {
constexpr int kDigits = 5;
constexpr int kPosValue = 3; // six bits, most significant first
constexpr int kValueBits = 6;
constexpr int kPosSign = 12;
constexpr int kPosFull = 13;

} // namespace

BarGraphDecoder::Bar BarGraphDecoder::decode(const QString &mltText) {
    // The 20 bits of the five digits, position 1 = the top bit of the first digit.
    quint32 bits = 0;
    for (int i = 0; i < kDigits; ++i)
        bits = (bits << 4) | static_cast<quint32>(i < mltText.size() ? std::max(0, hexDigitValue(mltText.at(i))) : 0);
    auto bitAt = [bits](int position) { return (bits >> (4 * kDigits - position)) & 1u; };

    Bar bar;
    bar.sign = bitAt(kPosSign) ? QStringLiteral("-") : QStringLiteral("+");
    if (bitAt(kPosFull)) {
        bar.position = kFullPosition;
    } else {
        int v = 0;
        for (int i = 0; i < kValueBits; ++i)
            v = 2 * v + static_cast<int>(bitAt(kPosValue + i));
        bar.position = v + 1;
    }
    return bar;
}
