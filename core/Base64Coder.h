#pragma once

#include "core/VMemoryBuffer.h"
#include "core/VTypes.h"

namespace vela {

class VString;

// Base64 of bytes, in the standard alphabet (optional CR LF line breaks, "=" padding) and in the URL-safe
// alphabet (no padding, no line breaks), into memory buffers (blocks tagged 'memb').
class Base64Coder {
public:
    Base64Coder() = delete;

    static constexpr char sBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static constexpr char sBase64URLAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    // Each character's 6-bit value; 255 outside the alphabet ("=" included).
    static const uchar sBase64Inverse[256];
    static const uchar sBase64URLInverse[256];

    // Replaces out's content with the encoding of size bytes. lineLength > 0 puts CR LF after every lineLength
    // groups of 4 characters but the last (standard alphabet only). False for null data with a size, or when
    // the output cannot be allocated.
    static bool _Encode(const void* data, size_t size, VMemoryBuffer<>& out, int32 lineLength, bool url);

    // Replaces out's content with the decoded bytes. The standard decoder skips spaces, tabs, CR and LF. On
    // failure out is emptied, unless keepPartial keeps what was decoded before the fault; the result is false.
    static bool Decode(const void* data, size_t size, VMemoryBuffer<>& out, bool url, bool keepPartial);
    static bool _DecodeBase64(const uchar* data, size_t size, VMemoryBuffer<>& out);
    static bool _DecodeBase64URL(const uchar* data, size_t size, VMemoryBuffer<>& out);

    // Decodes up to quads groups of 4 characters from src + srcPos into dst + dstPos, advancing both; stops at
    // the first character outside the alphabet. True when all groups were decoded.
    static bool _DecodeQuads(const uchar* inverse, const uchar* src, size_t quads, uchar* dst, size_t& srcPos,
                             size_t& dstPos) noexcept;

    // out becomes the standard Base64 of the bytes (empty when the encoding fails).
    static void DO_EncodeChecksumBase64(const uchar* bytes, size_t n, VString& out);
    // out becomes 2 × n lowercase hexadecimal digits, high nibble first; cleared when it cannot hold them.
    static void DO_EncodeChecksumHexa(const uchar* bytes, size_t n, VString& out);
};

} // namespace vela
