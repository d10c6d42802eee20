#include "core/VUnicodeConverters.h"

#include "core/VString.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vela {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
constexpr uint64 kHighBitOfBytes = 0x8080808080808080ULL;
constexpr uint64 kNonAsciiOfUnits = 0xFF80FF80FF80FF80ULL;

template <class T> inline void Report(T* out, T value) noexcept {
    if (out != nullptr) *out = value;
}

inline uint64 Load64(const void* at) noexcept {
    uint64 word;
    std::memcpy(&word, at, sizeof(word));
    return word;
}

inline uint32 Load32(const uchar* at, bool swap) noexcept {
    uint32 value;
    std::memcpy(&value, at, sizeof(value));
    return swap ? __builtin_bswap32(value) : value;
}

inline void Store32(uchar* at, uint32 value, bool swap) noexcept {
    if (swap) value = __builtin_bswap32(value);
    std::memcpy(at, &value, sizeof(value));
}

// Index of the first lane whose mask bits are set, in memory order; lanes of laneBits bits.
template <int laneBits> inline int FirstLane(uint64 mask) noexcept {
    return kLittleEndian ? std::countr_zero(mask) / laneBits : std::countl_zero(mask) / laneBits;
}

// Copies whole UTF-16 units, exchanging their bytes when swap is set.
size_t CopyUnits(const void* source, size_t units, void* destination, bool swap) noexcept {
    if (!swap) {
        std::memcpy(destination, source, units * sizeof(UniChar));
        return units;
    }
    const auto* in = static_cast<const uchar*>(source);
    auto* out = static_cast<uchar*>(destination);
    for (size_t i = 0; i < units; ++i) {
        out[2 * i] = in[2 * i + 1];
        out[2 * i + 1] = in[2 * i];
    }
    return units;
}

// Appends the whole units of source to text, swapped or not; the shared ConvertString of Null and Swap.
bool AppendUnits(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& text, bool swap) {
    Report(bytesConsumed, size_t(0));
    size_t units = sourceBytes / sizeof(UniChar);
    if (units == 0) return true;
    int64 length = text.GetLength();
    if (units > size_t(VString::kMaxLength - length)) return false;
    int32 newLength = int32(length + int64(units));
    UniChar* buffer = text.GetCPointerForWrite(newLength);
    if (buffer == nullptr) return false;
    CopyUnits(source, units, buffer + length, swap);
    text.Validate(newLength);
    Report(bytesConsumed, units * sizeof(UniChar));
    return true;
}

bool ConvertUnits(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                  int32 destinationUnits, int32* unitsProduced, bool swap) noexcept {
    size_t units = std::min(sourceBytes / sizeof(UniChar), size_t(std::max(destinationUnits, 0)));
    if (destination == nullptr) units = 0;
    if (units > 0) CopyUnits(source, units, destination, swap);
    Report(bytesConsumed, units * sizeof(UniChar));
    Report(unitsProduced, int32(units));
    return true;
}

bool ConvertFromUnits(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                      size_t destinationBytes, size_t* bytesProduced, bool swap) noexcept {
    size_t units = std::min(size_t(std::max(sourceUnits, 0)), destinationBytes / sizeof(UniChar));
    if (destination != nullptr && units > 0) CopyUnits(source, units, destination, swap);
    Report(unitsConsumed, int32(units));
    Report(bytesProduced, units * sizeof(UniChar));
    return true;
}

// ---- UTF-8 tables

// Trailing bytes announced by a byte of 0x80-0xFF; a continuation byte announces none.
constexpr auto kTrailingBytes = [] {
    struct Table {
        uint8 count[128];
    } table{};
    for (int b = 0x80; b <= 0xFF; ++b)
        table.count[b - 0x80] = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
    return table;
}();

// Removes the lead-byte marks and continuation marks summed by the accumulation below.
constexpr uint32 kOffsets[6] = {0x00000000U, 0x00003080U, 0x000E2080U, 0x03C82080U, 0xFA082080U, 0x82082080U};

// Widens the ASCII run at in. The sixteen-byte step writes all sixteen units into the output room and keeps
// only those of the ASCII prefix, which spares a branch per byte.
inline void CopyAsciiRun(const uchar*& in, const uchar* end, UniChar*& out, const UniChar* outEnd) noexcept {
    while (end - in >= 16 && outEnd - out >= 16) {
        uint64 low = Load64(in);
        uint64 high = Load64(in + 8);
        for (int i = 0; i < 16; ++i)
            out[i] = in[i];
        if (((low | high) & kHighBitOfBytes) != 0) {
            uint64 mask = low & kHighBitOfBytes;
            int run = mask != 0 ? FirstLane<8>(mask) : 8 + FirstLane<8>(high & kHighBitOfBytes);
            in += run;
            out += run;
            return;
        }
        in += 16;
        out += 16;
    }
    while (in < end && out < outEnd && *in < 0x80)
        *out++ = *in++;
}

// One sequence by the general rules; false when it must stay unconsumed (cut by the end of the source, or
// without room for its units). Needs a byte of source and a unit of room.
inline bool DecodeSequence(const uchar*& in, const uchar* end, UniChar*& out, const UniChar* outEnd,
                           bool& ok) noexcept {
    uint32 lead = *in;
    int trailing = lead < 0x80 ? 0 : kTrailingBytes.count[lead - 0x80];
    if (trailing >= end - in) return false;
    uint32 value = 0;
    for (int k = 0; k <= trailing; ++k)
        value = (value << 6) + in[k];
    value -= kOffsets[trailing];
    if (value <= 0xFFFF) {
        *out++ = UniChar(value);
    } else if (value <= 0x10FFFF) {
        if (outEnd - out < 2) return false;
        value -= 0x10000;
        out[0] = UniChar(0xD800 + (value >> 10));
        out[1] = UniChar(0xDC00 + (value & 0x3FF));
        out += 2;
    } else {
        *out++ = u'?';
        ok = false;
    }
    in += trailing + 1;
    return true;
}

// The four bytes at `at` as a number whose low byte is the first byte.
inline uint32 LoadBytes(const uchar* at) noexcept {
    uint32 word;
    std::memcpy(&word, at, sizeof(word));
    return kLittleEndian ? word : __builtin_bswap32(word);
}

// Decodes well-formed sequences while the source holds the longest one and the output has room for a pair,
// testing lead and trailing bytes of a sequence with one mask; stops before anything irregular, which
// DecodeSequence then takes by the general rules. For well-formed sequences both give the same units.
inline void DecodeWellFormed(const uchar*& in, const uchar* end, UniChar*& out, const UniChar* outEnd) noexcept {
    while (end - in >= 4 && outEnd - out >= 2) {
        uint32 word = LoadBytes(in);
        if ((word & 0x80) == 0) {
            if ((word & 0x8000) == 0) {
                CopyAsciiRun(in, end, out, outEnd);
                continue;
            }
            *out++ = UniChar(word & 0x7F);
            ++in;
        } else if ((word & 0xC0C0F0) == 0x8080E0) {
            *out++ = UniChar(((word & 0x0F) << 12) | ((word & 0x3F00) >> 2) | ((word >> 16) & 0x3F));
            in += 3;
        } else if ((word & 0xC0E0) == 0x80C0) {
            *out++ = UniChar(((word & 0x1F) << 6) | ((word >> 8) & 0x3F));
            in += 2;
        } else if ((word & 0xC0C0C0F8) == 0x808080F0) {
            uint32 value =
                ((word & 0x07) << 18) | ((word & 0x3F00) << 4) | ((word >> 10) & 0xFC0) | ((word >> 24) & 0x3F);
            value -= 0x10000;
            if (value >= 0x100000) return; // not a supplementary character
            out[0] = UniChar(0xD800 + (value >> 10));
            out[1] = UniChar(0xDC00 + (value & 0x3FF));
            out += 2;
            in += 4;
        } else {
            return;
        }
    }
}

// Narrows the ASCII run at ioIn, which ends by stop at the latest; the output has room for all of it.
inline void NarrowAsciiRun(const UniChar*& ioIn, const UniChar* stop, uchar*& ioAt) noexcept {
    // Locals, not the references: the byte stores could otherwise alias them.
    const UniChar* in = ioIn;
    uchar* at = ioAt;
    while (stop - in >= 16) {
        uint64 w0 = Load64(in), w1 = Load64(in + 4), w2 = Load64(in + 8), w3 = Load64(in + 12);
        for (int i = 0; i < 16; ++i)
            at[i] = uchar(in[i]);
        if (((w0 | w1 | w2 | w3) & kNonAsciiOfUnits) == 0) {
            in += 16;
            at += 16;
            continue;
        }
        int run = 0;
        for (uint64 word : {w0, w1, w2, w3}) {
            uint64 mask = word & kNonAsciiOfUnits;
            if (mask != 0) {
                run += FirstLane<16>(mask);
                break;
            }
            run += 4;
        }
        ioIn = in + run;
        ioAt = at + run;
        return;
    }
    while (in < stop && *in < 0x80)
        *at++ = uchar(*in++);
    ioIn = in;
    ioAt = at;
}

// Stores a number as four bytes, its low byte first.
inline void PutWord(uchar* at, uint32 word) noexcept {
    if (!kLittleEndian) word = __builtin_bswap32(word);
    std::memcpy(at, &word, sizeof(word));
}

// Encodes blocks of units that fit for sure: a unit takes at most three bytes (a pair four for two units), so
// the units of a block need no bound checks of their own, and the unit after a block is there to be read.
// Rare sequences are stored as whole words, whose unused byte falls on the two spare bytes of the block or is
// overwritten by what follows.
inline void EncodeWithRoom(const UniChar*& ioIn, const UniChar* end, uchar* out, size_t room, size_t& n) noexcept {
    const UniChar* in = ioIn;
    uchar* at = out + n;
    for (;;) {
        size_t units = size_t(end - in);
        size_t free = size_t(out + room - at);
        size_t count = std::min(units > 0 ? units - 1 : 0, free > 2 ? (free - 2) / 3 : 0);
        if (count < 16) break; // the general loop takes the rest
        const UniChar* const stop = in + count;
        while (in < stop) {
            uint32 c = *in;
            if (c < 0x80) {
                // Spaces and punctuation between words of other scripts go unit by unit, long runs by blocks.
                const UniChar* run = in;
                do {
                    *at++ = uchar(c);
                    c = *++in;
                } while (in < stop && c < 0x80 && in - run < 8);
                if (in < stop && c < 0x80) NarrowAsciiRun(in, stop, at);
            } else if (c < 0x800) {
                do {
                    at[0] = uchar(0xC0 | (c >> 6));
                    at[1] = uchar(0x80 | (c & 0x3F));
                    at += 2;
                    c = *++in;
                } while (in < stop && c >= 0x80 && c < 0x800);
            } else {
                // Runs of 3- and 4-byte sequences (CJK text with emoji) skip the tests for shorter ones.
                do {
                    if ((c & 0xF800) != 0xD800) {
                        at[0] = uchar(0xE0 | (c >> 12));
                        at[1] = uchar(0x80 | ((c >> 6) & 0x3F));
                        at[2] = uchar(0x80 | (c & 0x3F));
                        at += 3;
                        ++in;
                    } else if (c < 0xDC00 && (in[1] & 0xFC00) == 0xDC00) {
                        uint32 value = (c << 10) + in[1] - 0x35FDC00;
                        PutWord(at, (0xF0 | (value >> 18)) | ((0x80 | ((value >> 12) & 0x3F)) << 8) |
                                        ((0x80 | ((value >> 6) & 0x3F)) << 16) | ((0x80 | (value & 0x3F)) << 24));
                        at += 4;
                        in += 2;
                    } else {
                        // A lone surrogate takes three bytes like any other unit.
                        PutWord(at,
                                (0xE0 | (c >> 12)) | ((0x80 | ((c >> 6) & 0x3F)) << 8) | ((0x80 | (c & 0x3F)) << 16));
                        at += 3;
                        ++in;
                    }
                } while (in < stop && (c = *in) >= 0x800); // a pair may have taken the unit at stop
            }
        }
    }
    ioIn = in;
    n = size_t(at - out);
}

template <bool kWrite>
void EncodeUTF8(const UniChar*& in, const UniChar* end, uchar* out, size_t room, size_t& n) noexcept {
    if constexpr (kWrite) EncodeWithRoom(in, end, out, room, n);
    while (in < end) {
        uint32 c = *in;
        uint32 value = c;
        size_t length = 1;
        int32 taken = 1;
        if (c < 0x80) {
            length = 1;
        } else if (c < 0x800) {
            length = 2;
        } else if ((c & 0xFC00) == 0xD800) {
            // A high surrogate without its low half goes alone, the last unit too: a text is always converted
            // whole, so holding it back would only lose it. The next unit stays for the next character.
            length = 3;
            if (end - in >= 2 && (in[1] & 0xFC00) == 0xDC00) {
                const uint32 next = in[1];
                value = (c << 10) + next - 0x35FDC00;
                length = 4;
                taken = 2;
            }
        } else {
            length = 3;
        }
        if (room - n < length) return;
        if constexpr (kWrite) {
            uchar* at = out + n;
            switch (length) {
            case 1:
                at[0] = uchar(value);
                break;
            case 2:
                at[0] = uchar(0xC0 | (value >> 6));
                at[1] = uchar(0x80 | (value & 0x3F));
                break;
            case 3:
                at[0] = uchar(0xE0 | (value >> 12));
                at[1] = uchar(0x80 | ((value >> 6) & 0x3F));
                at[2] = uchar(0x80 | (value & 0x3F));
                break;
            default:
                at[0] = uchar(0xF0 | (value >> 18));
                at[1] = uchar(0x80 | ((value >> 12) & 0x3F));
                at[2] = uchar(0x80 | ((value >> 6) & 0x3F));
                at[3] = uchar(0x80 | (value & 0x3F));
                break;
            }
        }
        n += length;
        in += taken;
    }
}

} // namespace

// ---- Null and Swap

bool VToUnicodeConverter_Null::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    return ConvertUnits(source, sourceBytes, bytesConsumed, destination, destinationUnits, unitsProduced, false);
}

bool VToUnicodeConverter_Null::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                             VString& text) {
    return AppendUnits(source, sourceBytes, bytesConsumed, text, false);
}

bool VFromUnicodeConverter_Null::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                         void* destination, size_t destinationBytes, size_t* bytesProduced) {
    return ConvertFromUnits(source, sourceUnits, unitsConsumed, destination, destinationBytes, bytesProduced, false);
}

bool VToUnicodeConverter_Swap::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    return ConvertUnits(source, sourceBytes, bytesConsumed, destination, destinationUnits, unitsProduced, true);
}

bool VToUnicodeConverter_Swap::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                             VString& text) {
    return AppendUnits(source, sourceBytes, bytesConsumed, text, true);
}

bool VFromUnicodeConverter_Swap::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                         void* destination, size_t destinationBytes, size_t* bytesProduced) {
    return ConvertFromUnits(source, sourceUnits, unitsConsumed, destination, destinationBytes, bytesProduced, true);
}

// ---- UCS-4

bool VToUnicodeConverter_UTF32::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                        UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    const auto* in = static_cast<const uchar*>(source);
    size_t units = sourceBytes / 4;
    int32 room = destination != nullptr ? std::max(destinationUnits, 0) : 0;
    int32 produced = 0;
    bool ok = true;
    size_t i = 0;
    for (; i < units; ++i) {
        uint32 value = Load32(in + 4 * i, fSwap);
        if (value < 0x10000) {
            if (value >= 0xD800 && value <= 0xDFFF) {
                ok = false;
                break;
            }
            if (produced >= room) break;
            destination[produced++] = UniChar(value);
        } else if (value <= 0x10FFFF) {
            if (room - produced < 2) {
                ok = false;
                break;
            }
            value -= 0x10000;
            destination[produced++] = UniChar(0xD800 + (value >> 10));
            destination[produced++] = UniChar(0xDC00 + (value & 0x3FF));
        } else {
            ok = false; // not a character: skipped
        }
    }
    Report(bytesConsumed, 4 * i);
    Report(unitsProduced, produced);
    return ok;
}

bool VFromUnicodeConverter_UTF32::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                          void* destination, size_t destinationBytes, size_t* bytesProduced) {
    auto* out = static_cast<uchar*>(destination);
    int32 i = 0;
    size_t n = 0;
    bool ok = true;
    while (i < sourceUnits) {
        if (destinationBytes - n < 4) {
            ok = false;
            break;
        }
        uint32 c = source[i];
        int32 taken = 1;
        if ((c & 0xF800) == 0xD800) {
            bool paired = c < 0xDC00 && i + 1 < sourceUnits && (source[i + 1] & 0xFC00) == 0xDC00;
            if (!paired) {
                ok = false;
                break;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (source[i + 1] - 0xDC00u);
            taken = 2;
        }
        if (out != nullptr) Store32(out + n, c, fSwap);
        n += 4;
        i += taken;
    }
    Report(unitsConsumed, i);
    Report(bytesProduced, n);
    return ok;
}

// ---- Raw 32-bit units

bool VToUnicodeConverter_UTF32_Raw::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                            UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    const auto* in = static_cast<const uchar*>(source);
    size_t room = destination != nullptr ? size_t(std::max(destinationUnits, 0)) : 0;
    size_t units = std::min(sourceBytes / 4, room);
    for (size_t i = 0; i < units; ++i)
        destination[i] = UniChar(Load32(in + 4 * i, fSwap));
    Report(bytesConsumed, 4 * units);
    Report(unitsProduced, int32(units));
    return true;
}

bool VFromUnicodeConverter_UTF32_Raw::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                              void* destination, size_t destinationBytes, size_t* bytesProduced) {
    auto* out = static_cast<uchar*>(destination);
    size_t units = std::min(size_t(std::max(sourceUnits, 0)), destinationBytes / 4);
    if (out != nullptr) {
        // Backwards, so that a conversion in place does not overwrite units it has yet to read.
        for (size_t i = units; i-- > 0;)
            Store32(out + 4 * i, source[i], fSwap);
    }
    Report(unitsConsumed, int32(units));
    Report(bytesProduced, 4 * units);
    return true;
}

// ---- UTF-8

bool VToUnicodeConverter_UTF8::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                       UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    const auto* const begin = static_cast<const uchar*>(source);
    const uchar* in = begin;
    const uchar* const end = sourceBytes > 0 ? begin + sourceBytes : begin;
    UniChar* out = destination;
    const UniChar* const outEnd =
        destination != nullptr && destinationUnits > 0 ? destination + destinationUnits : destination;
    bool ok = true;
    while (in < end && out < outEnd) {
        DecodeWellFormed(in, end, out, outEnd);
        if (in >= end || out >= outEnd || !DecodeSequence(in, end, out, outEnd, ok)) break;
    }
    Report(bytesConsumed, size_t(in - begin));
    Report(unitsProduced, int32(out - destination));
    return ok;
}

bool VFromUnicodeConverter_UTF8::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                         void* destination, size_t destinationBytes, size_t* bytesProduced) {
    const UniChar* in = source;
    const UniChar* end = sourceUnits > 0 ? source + sourceUnits : source;
    size_t n = 0;
    if (destination != nullptr)
        EncodeUTF8<true>(in, end, static_cast<uchar*>(destination), destinationBytes, n);
    else
        EncodeUTF8<false>(in, end, nullptr, destinationBytes, n);
    Report(unitsConsumed, int32(in - source));
    Report(bytesProduced, n);
    return true;
}

// ---- Void

bool VToUnicodeConverter_Void::Convert(const void*, size_t, size_t* bytesConsumed, UniChar*, int32,
                                       int32* unitsProduced) {
    Report(bytesConsumed, size_t(0));
    Report(unitsProduced, 0);
    return false;
}

bool VFromUnicodeConverter_Void::Convert(const UniChar*, int32, int32* unitsConsumed, void*, size_t,
                                         size_t* bytesProduced) {
    Report(unitsConsumed, 0);
    Report(bytesProduced, size_t(0));
    return false;
}

} // namespace vela
