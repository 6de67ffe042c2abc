#pragma once

#include <cstdint>

// The serial component's property types, in the ordinal order that stored settings use.

enum TComPortNumber : std::uint8_t { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };

enum TComPortBaudRate : std::uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600,
    br14400, br19200, br38400, br56000, br57600, br115200
};

enum TComPortDataBits : std::uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };

enum TComPortStopBits : std::uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };

enum TComPortParity : std::uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };

enum TComPortHwHandshaking : std::uint8_t { hhNONE, hhRTSCTS };

enum TComPortSwHandshaking : std::uint8_t { shNONE, shXONXOFF };

/// Bits per second of each TComPortBaudRate, indexed by its ordinal.
inline constexpr int kBaudRateTable[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                         14400, 19200, 38400, 56000, 57600, 115200};

inline constexpr int baudRateValue(TComPortBaudRate rate) { return kBaudRateTable[rate]; }
inline constexpr int dataBitsValue(TComPortDataBits bits) { return static_cast<int>(bits) + 5; }

/// What a meter's model profile sets of the line; the rest stays as the driver's defaults
/// (1 stop bit, no parity, no flow control).
struct LineSettings {
    TComPortBaudRate speed = br9600;
    TComPortDataBits dataBits = db8BITS;
    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
