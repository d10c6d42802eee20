#include "core/Base64Coder.h"

#include "core/VError.h"
#include "core/VString.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace vela {

// clang-format off
const uchar Base64Coder::sBase64Inverse[256] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,  62, 255, 255, 255,  63,
     52,  53,  54,  55,  56,  57,  58,  59,  60,  61, 255, 255, 255, 255, 255, 255,
    255,   0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,
     15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25, 255, 255, 255, 255, 255,
    255,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
     41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};

const uchar Base64Coder::sBase64URLInverse[256] = {
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,  62, 255, 255,
     52,  53,  54,  55,  56,  57,  58,  59,  60,  61, 255, 255, 255, 255, 255, 255,
    255,   0,   1,   2,   3,   4,   5,   6,   7,   8,   9,  10,  11,  12,  13,  14,
     15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25, 255, 255, 255, 255,  63,
    255,  26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
     41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
    255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
};

// clang-format on

namespace {

constexpr int32 kBufferTag = FourCCTag("memb");
constexpr uchar kInvalid = 255;

// The two characters of every 12-bit value: a group of 3 bytes takes two look-ups instead of four.
struct PairTable {
    char pairs[4096][2];
};

constexpr PairTable MakePairTable(const char (&alphabet)[65]) {
    PairTable table{};
    for (int v = 0; v < 4096; ++v) {
        table.pairs[v][0] = alphabet[v >> 6];
        table.pairs[v][1] = alphabet[v & 63];
    }
    return table;
}

constexpr PairTable kPairs = MakePairTable(Base64Coder::sBase64Alphabet);
constexpr PairTable kURLPairs = MakePairTable(Base64Coder::sBase64URLAlphabet);

// The inverse tables again, each value already in its place of the 24 bits of a quad; a character outside the
// alphabet sets the top byte, so one test per quad finds it.
struct QuadTables {
    uint32 shifted[4][256];
};

constexpr uint32 kBadQuad = 0xFF000000;

constexpr QuadTables MakeQuadTables(const char (&alphabet)[65]) {
    QuadTables tables{};
    for (auto& table : tables.shifted) {
        for (uint32& value : table)
            value = kBadQuad;
    }
    for (uint32 i = 0; i < 64; ++i) {
        uchar c = uchar(alphabet[i]);
        tables.shifted[0][c] = i << 18;
        tables.shifted[1][c] = i << 12;
        tables.shifted[2][c] = i << 6;
        tables.shifted[3][c] = i;
    }
    return tables;
}

constexpr QuadTables kQuads = MakeQuadTables(Base64Coder::sBase64Alphabet);
constexpr QuadTables kURLQuads = MakeQuadTables(Base64Coder::sBase64URLAlphabet);

inline uint32 QuadValue(const QuadTables& tables, const uchar* in) noexcept {
    return tables.shifted[0][in[0]] | tables.shifted[1][in[1]] | tables.shifted[2][in[2]] | tables.shifted[3][in[3]];
}

// Stores the 3 bytes of a quad as one 4-byte word; the fourth byte is overwritten by the next quad.
inline void PutGroupWide(uint32 v, uchar* dst) noexcept {
    uint32 word = std::endian::native == std::endian::little ? __builtin_bswap32(v << 8) : v << 8;
    std::memcpy(dst, &word, sizeof(word));
}

struct DisposeBlock {
    void operator()(void* block) const noexcept { VMemory::DisposePtr(block); }
};

// Encodes complete groups of 3 bytes, 4 characters each.
void EncodeGroups(const PairTable& table, const uchar* src, size_t groups, uchar* dst) noexcept {
    for (; groups >= 2; groups -= 2, src += 6, dst += 8) {
        uint32 v0 = (uint32(src[0]) << 16) | (uint32(src[1]) << 8) | src[2];
        uint32 v1 = (uint32(src[3]) << 16) | (uint32(src[4]) << 8) | src[5];
        std::memcpy(dst, table.pairs[v0 >> 12], 2);
        std::memcpy(dst + 2, table.pairs[v0 & 0xFFF], 2);
        std::memcpy(dst + 4, table.pairs[v1 >> 12], 2);
        std::memcpy(dst + 6, table.pairs[v1 & 0xFFF], 2);
    }
    if (groups == 1) {
        uint32 v = (uint32(src[0]) << 16) | (uint32(src[1]) << 8) | src[2];
        std::memcpy(dst, table.pairs[v >> 12], 2);
        std::memcpy(dst + 2, table.pairs[v & 0xFFF], 2);
    }
}

// The last 1 or 2 bytes; answers the characters written.
size_t EncodeTail(const char* alphabet, const uchar* src, size_t count, uchar* dst, bool pad) noexcept {
    uint32 v = uint32(src[0]) << 16;
    if (count == 2) v |= uint32(src[1]) << 8;
    dst[0] = uchar(alphabet[v >> 18]);
    dst[1] = uchar(alphabet[(v >> 12) & 63]);
    size_t written = 2;
    if (count == 2) dst[written++] = uchar(alphabet[(v >> 6) & 63]);
    if (!pad) return written;
    while (written < 4)
        dst[written++] = '=';
    return written;
}

bool IsSkipped(uchar c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A quick pass without early exit (it vectorises): any byte up to the space may be one the decoder skips.
bool MayHoldSkipped(const uchar* data, size_t size) noexcept {
    uchar low = 0;
    for (size_t i = 0; i < size; ++i)
        low |= uchar(data[i] <= ' ');
    return low != 0;
}

void PutGroup(uint32 v, uchar* dst) noexcept {
    dst[0] = uchar(v >> 16);
    dst[1] = uchar(v >> 8);
    dst[2] = uchar(v);
}

} // namespace

// ---- Encoding

bool Base64Coder::_Encode(const void* data, size_t size, VMemoryBuffer<>& out, int32 lineLength, bool url) {
    out.Clear();
    if (size == 0) return true;
    if (data == nullptr) return false;
    if (url || lineLength < 0) lineLength = 0;

    size_t groups = size / 3 + (size % 3 != 0 ? 1 : 0);
    size_t total = 0;
    if (__builtin_mul_overflow(groups, size_t(4), &total)) return false;
    size_t lineGroups = lineLength > 0 ? size_t(lineLength) : groups;
    size_t breaks = (groups - 1) / lineGroups; // never one behind the last group
    if (__builtin_add_overflow(total, 2 * breaks, &total) || !out.SetCapacity(total)) return false;

    const PairTable& table = url ? kURLPairs : kPairs;
    const auto* src = static_cast<const uchar*>(data);
    auto* dst = static_cast<uchar*>(out.GetDataPtr());
    size_t fullGroups = size / 3;
    size_t done = 0;
    while (done < fullGroups) {
        size_t chunk = std::min(fullGroups - done, lineGroups - done % lineGroups);
        EncodeGroups(table, src, chunk, dst);
        src += chunk * 3;
        dst += chunk * 4;
        done += chunk;
        if (breaks > 0 && done % lineGroups == 0 && done < groups) {
            *dst++ = '\r';
            *dst++ = '\n';
        }
    }
    if (size % 3 != 0) dst += EncodeTail(url ? sBase64URLAlphabet : sBase64Alphabet, src, size % 3, dst, !url);
    out.SetDataSizeUnchecked(size_t(dst - static_cast<uchar*>(out.GetDataPtr())));
    return true;
}

// ---- Decoding

bool Base64Coder::Decode(const void* data, size_t size, VMemoryBuffer<>& out, bool url, bool keepPartial) {
    out.Clear();
    if (size == 0) return true;
    if (data == nullptr) return false;
    const auto* bytes = static_cast<const uchar*>(data);
    bool ok = url ? _DecodeBase64URL(bytes, size, out) : _DecodeBase64(bytes, size, out);
    if (!ok && !keepPartial) out.Clear();
    return ok;
}

bool Base64Coder::_DecodeQuads(const uchar* inverse, const uchar* src, size_t quads, uchar* dst, size_t& srcPos,
                               size_t& dstPos) noexcept {
    const uchar* in = src + srcPos;
    uchar* out = dst + dstPos;
    size_t done = 0;
    const QuadTables* tables =
        inverse == sBase64Inverse ? &kQuads : (inverse == sBase64URLInverse ? &kURLQuads : nullptr);
    if (tables != nullptr) {
        // Two quads per step, stored as whole words while another quad follows to take the spare byte.
        for (; done + 2 < quads; done += 2, in += 8, out += 6) {
            uint32 v0 = QuadValue(*tables, in), v1 = QuadValue(*tables, in + 4);
            if (((v0 | v1) & kBadQuad) != 0) break;
            PutGroupWide(v0, out);
            PutGroupWide(v1, out + 3);
        }
    }
    // One test per quad: every valid value is below 64, so an invalid one shows in the OR of the four.
    for (; done < quads; ++done, in += 4, out += 3) {
        uint32 a = inverse[in[0]], b = inverse[in[1]], c = inverse[in[2]], d = inverse[in[3]];
        if (((a | b | c | d) & 0x80) != 0) break;
        PutGroup((a << 18) | (b << 12) | (c << 6) | d, out);
    }
    srcPos += done * 4;
    dstPos += done * 3;
    return done == quads;
}

bool Base64Coder::_DecodeBase64(const uchar* data, size_t size, VMemoryBuffer<>& out) {
    std::unique_ptr<uchar, DisposeBlock> stripped;
    if (MayHoldSkipped(data, size)) {
        stripped.reset(static_cast<uchar*>(VMemory::NewPtr(size, kBufferTag)));
        if (stripped == nullptr) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        size_t kept = 0;
        for (size_t i = 0; i < size; ++i) {
            if (!IsSkipped(data[i])) stripped.get()[kept++] = data[i];
        }
        data = stripped.get();
        size = kept;
    }
    if (size % 4 != 0) return false;
    if (size == 0) return true;

    size_t quads = size / 4;
    if (!out.SetCapacity(quads * 3 + 1)) return false;
    auto* dst = static_cast<uchar*>(out.GetDataPtr());
    size_t srcPos = 0, dstPos = 0;
    bool ok = _DecodeQuads(sBase64Inverse, data, quads - 1, dst, srcPos, dstPos);
    if (ok) {
        const uchar* last = data + srcPos;
        uint32 a = sBase64Inverse[last[0]], b = sBase64Inverse[last[1]];
        uint32 c = sBase64Inverse[last[2]], d = sBase64Inverse[last[3]];
        ok = false;
        if (a != kInvalid && b != kInvalid) {
            uint32 v = (a << 18) | (b << 12) | (c << 6) | d;
            if (c != kInvalid && d != kInvalid) {
                PutGroup(v, dst + dstPos);
                dstPos += 3;
                ok = true;
            } else if (last[2] == '=' && last[3] == '=' && (b & 0xF) == 0) {
                dst[dstPos++] = uchar(v >> 16);
                ok = true;
            } else if (c != kInvalid && last[3] == '=' && (c & 0x3) == 0) {
                v = (a << 18) | (b << 12) | (c << 6);
                dst[dstPos++] = uchar(v >> 16);
                dst[dstPos++] = uchar(v >> 8);
                ok = true;
            }
        }
    }
    out.SetDataSizeUnchecked(dstPos);
    return ok;
}

bool Base64Coder::_DecodeBase64URL(const uchar* data, size_t size, VMemoryBuffer<>& out) {
    size_t quads = size / 4;
    size_t tail = size % 4;
    if (!out.SetCapacity(quads * 3 + 4)) return false;
    auto* dst = static_cast<uchar*>(out.GetDataPtr());
    size_t srcPos = 0, dstPos = 0;
    bool ok = _DecodeQuads(sBase64URLInverse, data, quads, dst, srcPos, dstPos);
    if (ok && tail != 0) {
        const uchar* last = data + srcPos;
        uint32 a = sBase64URLInverse[last[0]];
        uint32 b = tail >= 2 ? sBase64URLInverse[last[1]] : kInvalid;
        uint32 c = tail == 3 ? sBase64URLInverse[last[2]] : 0;
        ok = false;
        if (a != kInvalid && b != kInvalid && c != kInvalid) {
            uint32 v = (a << 18) | (b << 12) | (c << 6);
            if (tail == 2 && (b & 0xF) == 0) {
                dst[dstPos++] = uchar(v >> 16);
                ok = true;
            } else if (tail == 3 && (c & 0x3) == 0) {
                dst[dstPos++] = uchar(v >> 16);
                dst[dstPos++] = uchar(v >> 8);
                ok = true;
            }
        }
    }
    out.SetDataSizeUnchecked(dstPos);
    return ok;
}

// ---- Checksums

void Base64Coder::DO_EncodeChecksumBase64(const uchar* bytes, size_t n, VString& out) {
    out.Clear();
    VMemoryBuffer<> encoded;
    if (n == 0 || !_Encode(bytes, n, encoded, 0, false)) return;
    out.FromBlock(encoded.GetDataPtr(), encoded.GetDataSize(), VTC_UTF_8);
}

void Base64Coder::DO_EncodeChecksumHexa(const uchar* bytes, size_t n, VString& out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    if (n > size_t(VString::kMaxLength) / 2 || (n > 0 && bytes == nullptr)) {
        out.Clear();
        return;
    }
    int32 length = int32(n * 2);
    UniChar* dst = out.GetCPointerForWrite(length);
    if (dst == nullptr) {
        out.Clear();
        return;
    }
    size_t i = 0;
    // Four bytes per step: the nibbles of a 32-bit word, spread into eight units at once.
    for (; i + 4 <= n; i += 4, dst += 8) {
        uint32 word = (uint32(bytes[i]) << 24) | (uint32(bytes[i + 1]) << 16) | (uint32(bytes[i + 2]) << 8) |
                      uint32(bytes[i + 3]);
        for (int k = 0; k < 8; ++k)
            dst[k] = UniChar(kDigits[(word >> (28 - 4 * k)) & 0xF]);
    }
    for (; i < n; ++i, dst += 2) {
        dst[0] = UniChar(kDigits[bytes[i] >> 4]);
        dst[1] = UniChar(kDigits[bytes[i] & 0xF]);
    }
    out.Validate(length);
}

} // namespace vela
