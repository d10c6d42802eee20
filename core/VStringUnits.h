#pragma once

#include "core/VTypes.h"

#include <cstring>

// Unit helpers shared by the string sources (not part of the public interface).
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
