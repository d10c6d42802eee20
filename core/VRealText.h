#pragma once

#include "core/VTypes.h"

#include <cstddef>

namespace vela {

// Room for any text FormatRealG14 writes ("-1.2345678901234E-308" and the like), with a terminating zero.
constexpr size_t kRealG14TextSize = 32;

// C's "%.14G" of value into buffer (room for kRealG14TextSize bytes), not terminated; answers its length: 14
// significant digits correctly rounded from the exact binary value (ties to even), trailing zeros dropped, the
// exponent form for decimal exponents below -4 or from 14 on ("E", sign, at least two digits), "INF" and "NAN"
// upper case, and "." whatever the locale.
int32 FormatRealG14(double value, char* buffer) noexcept;

} // namespace vela
