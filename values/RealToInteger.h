#pragma once

#include "core/VTypes.h"

#include <cmath>
#include <limits>
#include <type_traits>

namespace vela {

// The one way a real becomes an integer: truncated toward zero; NaN, infinities and values whose truncation
// does not fit in Int give Int's minimum (INT32_MIN, INT64_MIN, 0 for unsigned types). A plain cast of such a
// double is undefined behaviour.
template <class Int> inline Int RealToInteger(double x) noexcept {
    static_assert(std::is_integral_v<Int>);
    constexpr Int kMin = std::numeric_limits<Int>::min();
    if (!(x == x)) return kMin; // NaN
    // Bounds are powers of two, exact in a double: [min, max + 1).
    constexpr double kUpper = 2.0 * double(std::numeric_limits<Int>::max() / 2 + 1);
    constexpr double kLower = double(kMin);
    double t = std::trunc(x);
    if (t < kLower || t >= kUpper) return kMin;
    return Int(t);
}

// RealToInteger for the 32-bit datum of VLong (and of VByte and VWord before they keep their low bits).
inline int32 RealToLong(double x) noexcept {
    return RealToInteger<int32>(x);
}

// RealToInteger for 64-bit data (VLong8, durations).
inline int64 RealToLong8(double x) noexcept {
    return RealToInteger<int64>(x);
}

} // namespace vela
