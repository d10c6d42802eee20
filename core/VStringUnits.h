// Internal header: unit helpers shared by the string sources; include core/VString.h.
#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <cstring>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vela::Private {

// True for the first unit of a surrogate pair.
constexpr bool IsHighSurrogate(UniChar c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}

// True for the ASCII digits 0-9.
constexpr bool IsDigit(UniChar c) noexcept {
    return c >= u'0' && c <= u'9';
}

// Copies n UTF-16 units (overlap allowed, unaligned sources too); nothing for n <= 0.
inline void CopyUnits(UniChar* destination, const void* source, int64 n) noexcept {
    if (n > 0) std::memmove(destination, source, size_t(n) * sizeof(UniChar));
}

// True when no byte of the zero-terminated text has its high bit set; length receives its byte count.
// Measured, then reduced, in two passes that the compiler turns into vector code (see WidenASCII).
inline bool IsAscii(const char* text, size_t& length) noexcept {
    length = std::strlen(text);
    uchar seen = 0;
    for (size_t i = 0; i < length; ++i)
        seen |= uchar(text[i]);
    return (seen & 0x80) == 0;
}

// Narrows count units to bytes in out (room for count bytes): ASCII as is, any other unit as 0, which stops every
// number reader as the character would. Eight units per step: the number readers spent about 5 instructions a
// unit in the one-by-one loop (callgrind, text_to_real), and byte stores read back 8 at a time by from_chars
// cannot be forwarded, where these 8-byte stores are.
inline void NarrowAsciiUnits(const UniChar* units, size_t count, char* out) noexcept {
#if defined(__SSE2__)
    if (count >= 8) {
        auto narrowEight = [&](size_t at) {
            const __m128i wide = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
            const __m128i isAscii = _mm_cmpeq_epi16(_mm_and_si128(wide, _mm_set1_epi16(short(0xFF80))), __m128i{});
            const __m128i ascii = _mm_and_si128(wide, isAscii);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + at), _mm_packus_epi16(ascii, ascii));
        };
        for (size_t at = 0; at + 8 < count; at += 8)
            narrowEight(at);
        narrowEight(count - 8); // the last eight, overlapping the step before
        return;
    }
#endif
    for (size_t i = 0; i < count; ++i)
        out[i] = units[i] < 0x80 ? char(units[i]) : 0;
}

// Widens n ASCII bytes to UTF-16 units at to. Whole blocks go through local copies, which tell the compiler that
// the units written do not overlap the bytes read, so that it uses vector code: filling a string from a
// 46-byte literal went from 375 to 252 instructions with IsAscii's two passes.
inline void WidenASCII(const char* text, size_t n, UniChar* to) noexcept {
    constexpr size_t kBlock = 16;
    size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        uchar bytes[kBlock];
        UniChar units[kBlock];
        std::memcpy(bytes, text + i, kBlock);
        for (size_t j = 0; j < kBlock; ++j)
            units[j] = UniChar(bytes[j]);
        std::memcpy(to + i, units, sizeof(units));
    }
    for (; i < n; ++i)
        to[i] = UniChar(uchar(text[i]));
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

// Adds text[from, to) to pieces by the splitting rules: trimmed of U+0020 with trim, empty only with keepEmpty.
inline void AddPiece(std::vector<VString>& pieces, const UniChar* text, int32 from, int32 to, bool keepEmpty,
                     bool trim) {
    VString piece;
    piece.FromUniString(text + from, to - from);
    if (trim) piece.TrimUniChar(u' ');
    if (!piece.IsEmpty() || keepEmpty) pieces.push_back(std::move(piece));
}

} // namespace vela::Private
