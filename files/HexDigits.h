#pragma once
// Internal to files/: the hexadecimal digits of percent escapes.

#include "core/VTypes.h"

namespace vela::Private {

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// The values of the hexadecimal digits (either case) among the ASCII units; -1 for any other.
inline constexpr auto kHexDigitValues = [] {
    struct Table {
        int8 values[128];
    } table{};
    for (int c = 0; c < 128; ++c)
        table.values[c] = int8(c >= '0' && c <= '9'   ? c - '0'
                               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                      : -1);
    return table;
}();

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(UniChar c) noexcept {
    const int value = kHexDigitValues.values[c & 0x7F];
    return c < 128 ? value : -1;
}

// The byte of the escape '%' and two hexadecimal digits at units[i] (length units in all), or -1 when there is
// none; "%00" is not an escape, so that decoding never makes a NUL.
constexpr int EscapedByteAt(const UniChar* units, int32 i, int32 length) noexcept {
    if (units[i] != '%' || i + 2 >= length) return -1;
    const int high = HexDigitValue(units[i + 1]);
    const int low = HexDigitValue(units[i + 2]);
    if (high < 0 || low < 0 || (high | low) == 0) return -1;
    return high * 16 + low;
}

} // namespace vela::Private
