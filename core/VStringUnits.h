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

// Counted buffers, which strings share with other holders: the units, a zero, and a 32-bit share count behind
// the terminator slot on a 4-byte boundary. Sized in 64 bits: a capacity near 2^31 units overflows 32.
// Where the count sits, in units from the start of a buffer of capacity units.
constexpr int64 CountedBufferCountOffset(int32 capacity) noexcept {
    return (int64(capacity) | 1) + 1;
}
// The size of a buffer of capacity units, in units.
constexpr int64 CountedBufferUnits(int32 capacity) noexcept {
    return CountedBufferCountOffset(capacity) + 2;
}

} // namespace vela::Private
