// Internal header: unit helpers shared by the string sources; include core/VString.h.
#pragma once

#include "core/VTypes.h"

#include <cstring>

namespace vela::Private {

// Copies n UTF-16 units (overlap allowed, unaligned sources too); nothing for n <= 0.
inline void CopyUnits(UniChar* destination, const void* source, int64 n) noexcept {
    if (n > 0) std::memmove(destination, source, size_t(n) * sizeof(UniChar));
}

// True when no byte of the zero-terminated text has its high bit set; length receives its byte count.
inline bool IsAscii(const char* text, size_t& length) noexcept {
    uchar seen = 0;
    const char* p = text;
    for (; *p != 0; ++p)
        seen |= uchar(*p);
    length = size_t(p - text);
    return (seen & 0x80) == 0;
}

} // namespace vela::Private
