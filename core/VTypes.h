#pragma once

#include <cstddef>
#include <cstdint>

namespace vela {

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using uchar = unsigned char;

// One UTF-16 code unit; char16_t so that ICU's UChar text is used without copies.
using UniChar = char16_t;

// A four-character code ("vela", "memb") as a big-endian 32-bit number: the first character in the top byte.
constexpr uint32 FourCC(const char (&code)[5]) noexcept {
    return (uint32(uchar(code[0])) << 24) | (uint32(uchar(code[1])) << 16) | (uint32(uchar(code[2])) << 8) |
           uint32(uchar(code[3]));
}

// The same code as the signed tag that memory requests carry.
constexpr int32 FourCCTag(const char (&code)[5]) noexcept {
    return int32(FourCC(code));
}

// -1 smaller, 0 equal, 1 bigger, -1000 no order.
using CompareResult = int32;
constexpr CompareResult CR_SMALLER = -1;
constexpr CompareResult CR_EQUAL = 0;
constexpr CompareResult CR_BIGGER = 1;
constexpr CompareResult CR_UNRELEVANT = -1000;

} // namespace vela
