#include "readingdecoder.h"

#include "frameassembler.h"

#include <array>
#include <cmath>

namespace {

constexpr int kFlagHexDigits = 11; // bytes 1 to 5 and the high nibble of byte 6
constexpr int kBitCount = 4 * kFlagHexDigits;

// 1-based bit positions within the bit string, most significant bit of byte 1 first.
constexpr int kPosFunction = 10; // four bits, weights 8 4 2 1
constexpr int kPosSubSelector = 16;
constexpr int kPosManual = 18;
constexpr int kPosRange = 19; // three bits, weights 4 2 1
constexpr int kPosMode = 22;  // three bits; its first bit also enters the "%" and "1 S" rules
constexpr int kPosRec = 26;
constexpr int kPosStatistics = 28; // two bits, weights 2 1
constexpr int kPosIntervalOrContinuity = 30;
constexpr int kPosBattery = 35;
constexpr int kPosMinus = 36;
constexpr int kPosOverload = 37;
constexpr int kPosFiveDigit = 38;
constexpr int kPosHold = 40;

// 1-based characters of the hex text holding D0, Da, Db, Dc, Dd (low nibbles of bytes 6-10).
constexpr std::array<int, DecodedFrame::DigitCount> kDigitChars{12, 14, 16, 18, 20};

constexpr int kModeFrequency = 4;
constexpr int kModeDuty = 5;

constexpr int kSpanEighty = 80;
constexpr int kSpanHundred = 100;
constexpr int kOffsetHundred = 100;
constexpr int kNeedleCentre = 400;

/// The 44 flag bits of a frame. A character that is not a hex digit (the frame is shorter
/// than six bytes) repeats the value of the one before it, 0 before the first.
class BitString {
public:
    explicit BitString(const QString &hex) {
        int value = 0;
        for (int i = 0; i < kFlagHexDigits; ++i) {
            const int v = i < hex.size() ? hexDigitValue(hex.at(i)) : -1;
            if (v >= 0)
                value = v;
            for (int b = 0; b < 4; ++b)
                m_bits[4 * i + b] = (value >> (3 - b)) & 1;
        }
    }

    bool at(int position) const { return m_bits[position - 1]; }

    /// `width` bits from `position` on as an unsigned number, first bit most significant.
    int number(int position, int width) const {
        int n = 0;
        for (int i = 0; i < width; ++i)
            n = 2 * n + (at(position + i) ? 1 : 0);
        return n;
    }

private:
    std::array<bool, kBitCount> m_bits{};
};

/// The signed decimal integer of the joined texts (leading zeros allowed). Only called on
/// decimal digit texts: the overload cases are settled before any digit is read as a number.
int integerOf(const QString &sign, std::initializer_list<const QString *> digits) {
    int n = 0;
    for (const QString *d : digits)
        for (QChar c : *d)
            n = 10 * n + (c.unicode() - u'0');
    return sign.isEmpty() ? n : -n;
}

void applyFunction(int function, bool sub, int range, bool continuityBit, DecodedFrame &f) {
    auto &fl = f.flags;
    auto &p = f.points;
    using P = DecodedFrame;
    switch (function) {
    case 5:
        (sub ? fl.ac : fl.dc) = true;
        fl.ampere = true;
        if (range == 0)
            p[P::P1] = true;
        else if (range == 1)
            p[P::P2] = true;
        break;
    case 6:
        (sub ? fl.ac : fl.dc) = true;
        fl.milli = fl.ampere = true;
        if (range == 0)
            p[P::P2] = true;
        else if (range == 1)
            p[P::P3] = true;
        break;
    case 11:
        fl.diode = fl.volt = true;
        p[P::P1] = true;
        fl.barHidden = true;
        break;
    case 12:
        if (!sub) {
            fl.ohm = true;
            fl.continuity = continuityBit;
            switch (range) {
            case 0:
                p[P::P3] = true;
                break;
            case 1:
                p[P::P1] = fl.kilo = true;
                break;
            case 2:
                p[P::P2] = fl.kilo = true;
                break;
            case 3:
                p[P::P3] = fl.kilo = true;
                break;
            case 4:
                p[P::P1] = fl.mega = true;
                break;
            case 5:
                p[P::P2] = fl.mega = true;
                break;
            case 6:
                p[P::P2] = fl.nano = fl.conductance = fl.barHidden = true;
                fl.ohm = false;
                break;
            default:
                break;
            }
        } else {
            fl.farad = true;
            switch (range) {
            case 0:
                p[P::P1] = fl.nano = true;
                break;
            case 1:
                p[P::P2] = fl.nano = true;
                break;
            case 2:
                p[P::P3] = fl.nano = true;
                break;
            case 3:
                p[P::P1] = fl.micro = true;
                break;
            case 4:
                p[P::P2] = fl.micro = true;
                break;
            case 5:
                p[P::P3] = fl.micro = true;
                break;
            default:
                break;
            }
        }
        break;
    case 13:
        (sub ? fl.ac : fl.dc) = true;
        fl.milli = fl.volt = true;
        if (range == 0)
            p[P::P2] = true;
        else if (range == 1)
            p[P::P3] = true;
        break;
    case 14:
        fl.dc = fl.volt = true;
        if (range >= 0 && range <= 3)
            p[P::P1 + range] = true;
        break;
    case 15:
        fl.ac = fl.volt = true;
        if (range == 0)
            p[P::P3] = fl.milli = true;
        else if (range >= 1 && range <= 4)
            p[P::P1 + range - 1] = true;
        break;
    default: // 0 to 4 and 7 to 10: no unit, no point
        break;
    }
}

void applyFrequencyRange(int range, DecodedFrame &f) {
    using P = DecodedFrame;
    auto &p = f.points;
    auto &fl = f.flags;
    switch (range) {
    case 1:
        p[P::P2] = true;
        break;
    case 2:
        p[P::P0] = fl.kilo = true;
        break;
    case 3:
        p[P::P1] = fl.kilo = true;
        break;
    case 4:
        p[P::P2] = fl.kilo = true;
        break;
    case 5:
        p[P::P0] = fl.mega = true;
        break;
    default:
        break; // 0, 6, 7: no point, no prefix
    }
}

void applyStatistics(int code, DecodedFrame::Flags &fl) {
    switch (code) {
    case 1:
        fl.max = true;
        break;
    case 2:
        fl.min = true;
        break;
    case 3:
        fl.avg = true;
        break;
    default:
        break;
    }
}

QString unitTextOf(const DecodedFrame::Flags &fl, bool frequency) {
    QString u;
    if (fl.continuity)
        u += QStringLiteral("&  ");
    if (fl.kilo)
        u += QLatin1Char('k');
    if (fl.mega)
        u += QLatin1Char('M');
    if (fl.milli)
        u += QLatin1Char('m');
    if (fl.micro)
        u += QLatin1Char('u');
    if (fl.nano)
        u += QLatin1Char('n');
    if (fl.ampere)
        u += QLatin1Char('A');
    if (fl.volt)
        u += QLatin1Char('V');
    if (fl.ohm)
        u += QLatin1Char('*');
    if (frequency)
        u += QStringLiteral("Hz");
    if (fl.farad)
        u += QLatin1Char('F');
    return u;
}

} // namespace

int ReadingDecoder::roundHalfEven(double value) {
    double r = std::round(value); // halves away from zero
    if (std::fabs(value - std::trunc(value)) == 0.5)
        r = 2.0 * std::round(value / 2.0);
    return static_cast<int>(r);
}

DecodedFrame ReadingDecoder::decode(const QString &frameHex, int relState) {
    using P = DecodedFrame;
    DecodedFrame f;
    auto &fl = f.flags;
    const BitString bits(frameHex);

    auto charAt = [&](int oneBased) {
        return oneBased <= frameHex.size() ? frameHex.at(oneBased - 1) : QChar();
    };

    // Digits, sign, overload.
    // The digit texts share static text: a frame's digits cost no allocation.
    static const std::array<QString, 10> kDigitTexts{
        QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
        QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
        QStringLiteral("8"), QStringLiteral("9")};
    f.d0Shown = charAt(kDigitChars[P::D0]) != QLatin1Char('F');
    for (int d = 0; d < P::DigitCount; ++d) {
        const QChar c = charAt(kDigitChars[d]);
        f.digits[d] = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                          ? kDigitTexts[c.unicode() - u'0']
                          : kDigitTexts[0];
    }
    if (bits.at(kPosMinus))
        f.sign = QStringLiteral("-");
    fl.battery = bits.at(kPosBattery);
    fl.hold = bits.at(kPosHold);
    f.overload = bits.at(kPosOverload);
    if (f.overload) {
        f.digits[P::D0] = QStringLiteral("(");
        f.digits[P::Da] = QString();
        f.digits[P::Db] = QStringLiteral("0");
        f.digits[P::Dc] = QStringLiteral("@");
        f.digits[P::Dd] = QString();
    }
    f.fiveDigit = bits.at(kPosFiveDigit);
    f.rangeCode = bits.number(kPosRange, 3);

    // Mode decoding.
    const int mode = bits.number(kPosMode, 3);
    if (mode == kModeFrequency) {
        f.frequency = true;
        applyFrequencyRange(f.rangeCode, f);
    } else if (mode == kModeDuty) {
        f.duty = true;
        f.points[P::P2] = true;
        f.d0Shown = false;
        fl.percent = true;
    } else {
        applyFunction(bits.number(kPosFunction, 4), bits.at(kPosSubSelector), f.rangeCode,
                      bits.at(kPosIntervalOrContinuity), f);
        if (f.fiveDigit) {
            for (int p = P::P0; p < P::P4; ++p)
                f.points[p] = f.points[p + 1];
            f.points[P::P4] = false;
        }
        fl.autoShown = !bits.at(kPosManual);
    }

    // Scale settings.
    f.hundredMode = f.frequency || f.duty;
    f.span = f.hundredMode ? kSpanHundred : kSpanEighty;
    f.offset = f.hundredMode ? kOffsetHundred : 0;

    // Recording annunciators.
    if (bits.at(kPosRec)) {
        fl.rec = true;
        const int statistics = bits.number(kPosStatistics, 2);
        if (bits.at(kPosMode) && f.fiveDigit) {
            fl.interval1s = true;
            applyStatistics(statistics, fl);
        } else if (bits.at(kPosIntervalOrContinuity)) {
            fl.interval1ms = true;
            (bits.at(kPosStatistics + 1) ? fl.min : fl.max) = true;
        } else {
            fl.interval100ms = true;
            applyStatistics(statistics, fl);
        }
    }

    // Texts of the Reading.
    if (fl.ac)
        f.acDcText = QStringLiteral("AC");
    if (fl.dc)
        f.acDcText = QStringLiteral("DC");
    f.autoText = (fl.autoShown || f.frequency) ? QStringLiteral("AUTO") : QStringLiteral("MANU");
    if (relState == 1 || relState == 2) {
        f.autoText = QStringLiteral("MANU");
        fl.rel = true;
        if (relState == 2)
            fl.percent = true;
    }
    f.unitText = unitTextOf(fl, f.frequency);
    if (bits.at(kPosMode) && !f.fiveDigit) {
        f.unitText = QStringLiteral("%");
        fl.percent = true;
    }
    if (fl.conductance)
        f.unitText = QStringLiteral("nS");
    if (fl.diode)
        f.unitText = QStringLiteral(")V");

    // ValueText, after the points are final.
    // Built in place: one allocation instead of a temporary per piece.
    const auto &d = f.digits;
    QString &v = f.valueText;
    v.reserve(16);
    auto point = [&f, &v](P::Point p) {
        if (f.points[p])
            v += QLatin1Char('.');
    };
    v += f.sign;
    if (d[P::Dc] == QLatin1String("@")) {
        point(P::P1);
        v += QLatin1Char('0');
        point(P::P2);
        v += QLatin1Char('L');
        point(P::P3);
    } else {
        v += d[P::D0];
        point(P::P0);
        v += d[P::Da];
        point(P::P1);
        v += d[P::Db];
        point(P::P2);
        v += d[P::Dc];
        point(P::P3);
        v += d[P::Dd];
    }

    // ReadingNval and the needle. An overload pins the needle to the end of the arc in
    // either mode: 80-division runs 0..800, 100-division -100..900 before its offset.
    const int fullScale = f.fullScale();
    const int rightEnd = f.span * 10 - f.offset;
    const int leftEnd = -f.offset;
    if (d[P::Dc] == QLatin1String("@")) {
        const bool negative = !f.sign.isEmpty();
        f.readingNval = static_cast<float>(negative ? -fullScale - 1 : fullScale + 1);
        f.needlePosition = negative ? leftEnd : rightEnd;
    } else if (!f.fiveDigit) {
        f.readingNval =
            static_cast<float>(integerOf(f.sign, {&d[P::Da], &d[P::Db], &d[P::Dc], &d[P::Dd]}));
        f.needlePosition =
            roundHalfEven(integerOf(f.sign, {&d[P::Da], &d[P::Db], &d[P::Dc]}) * 0.5) +
            kNeedleCentre;
    } else {
        f.readingNval = static_cast<float>(
            integerOf(f.sign, {&d[P::D0], &d[P::Da], &d[P::Db], &d[P::Dc], &d[P::Dd]}));
        f.needlePosition =
            roundHalfEven(integerOf(f.sign, {&d[P::D0], &d[P::Da], &d[P::Db]}) * 0.5) +
            kNeedleCentre;
    }
    return f;
}
