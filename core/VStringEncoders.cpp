// XML, JSON and Base64 forms of a string, line-end conversion and the UTF-8 byte string.
#include "core/Base64Coder.h"
#include "core/StStringConverter.h"
#include "core/VCppMemMgr.h"
#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace vela {

namespace {

constexpr uint32 kJSONQuoted = 1;
constexpr uint32 kJSONRaw = 16;
constexpr uint32 kJSONEscapeAmpersandApostrophe = 1024;

constexpr int32 kBufferTag = FourCCTag("memb");
constexpr UniChar kCR = 0x0D;
constexpr UniChar kLF = 0x0A;
constexpr char kUpperHex[] = "0123456789ABCDEF";

void CopyUnits(UniChar* destination, const UniChar* source, size_t n) noexcept {
    if (n > 0) std::memmove(destination, source, n * sizeof(UniChar));
}

// Lengths built from a text's own length are refused from the largest string length on.
bool FitsString(int64 length) noexcept {
    return length < int64(VString::kMaxLength);
}

int32 HexValue(UniChar c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// ---- XML

// The entity of a character that XML text always escapes, or null.
const char* XMLEntity(UniChar c) noexcept {
    switch (c) {
    case '"':
        return "&quot;";
    case '&':
        return "&amp;";
    case '\'':
        return "&apos;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    default:
        return nullptr;
    }
}

bool IsEscapedControl(UniChar c) noexcept {
    return (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0x7F;
}

// Units the escaped form of c adds to the text (0 when c stays).
int32 XMLGrowth(UniChar c, bool escapeControls) noexcept {
    if (c > '>') return c == 0x7F && escapeControls ? 5 : 0;
    if (const char* entity = XMLEntity(c)) return int32(std::strlen(entity)) - 1;
    return escapeControls && IsEscapedControl(c) ? 5 : 0; // "&#xHH;"
}

// Writes the escaped form of c (XMLGrowth(c) > 0); answers the units written.
int32 PutXMLEscape(UniChar c, UniChar* out) noexcept {
    if (const char* entity = XMLEntity(c)) {
        int32 n = 0;
        for (; entity[n] != 0; ++n)
            out[n] = UniChar(entity[n]);
        return n;
    }
    const UniChar escape[] = {'&', '#', 'x', UniChar(kUpperHex[c >> 4]), UniChar(kUpperHex[c & 0xF]), ';'};
    std::memcpy(out, escape, sizeof(escape));
    return 6;
}

bool MatchesASCII(const UniChar* p, const UniChar* end, const char* word) noexcept {
    for (; *word != 0; ++p, ++word) {
        if (p >= end || *p != UniChar(uchar(*word))) return false;
    }
    return true;
}

// Decodes the reference at p (which holds "&") into out; answers the units it spans, or 0 when it stays text.
int32 DecodeXMLReference(const UniChar* p, const UniChar* end, UniChar out[2], int32& produced) noexcept {
    static constexpr struct {
        const char* text;
        UniChar c;
    } kEntities[] = {{"&amp;", '&'}, {"&gt;", '>'}, {"&lt;", '<'}, {"&quot;", '"'}, {"&apos;", '\''}};
    produced = 1;
    for (const auto& entity : kEntities) {
        if (MatchesASCII(p, end, entity.text)) {
            out[0] = entity.c;
            return int32(std::strlen(entity.text));
        }
    }
    if (!MatchesASCII(p, end, "&#x")) return 0;
    const UniChar* q = p + 3;
    uint32 value = 0;
    for (int32 digit; q < end && (digit = HexValue(*q)) >= 0; ++q) {
        // Beyond U+10FFFF the value only has to stay out of range: no overflow however many digits follow.
        value = std::min<uint32>(value * 16 + uint32(digit), 0x110000);
    }
    if (q == p + 3 || q >= end || *q != ';') return 0;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    if (value < 0x10000) {
        out[0] = UniChar(value);
    } else {
        value -= 0x10000;
        out[0] = UniChar(0xD800 + (value >> 10));
        out[1] = UniChar(0xDC00 + (value & 0x3FF));
        produced = 2;
    }
    return int32(q + 1 - p);
}

// ---- JSON

// Units the JSON form of c takes.
int32 JSONWidth(UniChar c, bool escapeAmpersandApostrophe) noexcept {
    if (c >= 0x80) return 1;
    switch (c) {
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0C:
    case 0x0D:
    case '"':
    case '\\':
        return 2;
    case '&':
    case '\'':
        return escapeAmpersandApostrophe ? 6 : 1;
    default:
        return c < 0x20 || c == 0x7F ? 6 : 1;
    }
}

// Writes the JSON form of c (width as JSONWidth gives it); answers the units written.
int32 PutJSONUnit(UniChar c, int32 width, UniChar* out) noexcept {
    if (width == 1) {
        out[0] = c;
        return 1;
    }
    if (width == 6) {
        const UniChar escape[] = {'\\', 'u', '0', '0', UniChar(kUpperHex[c >> 4]), UniChar(kUpperHex[c & 0xF])};
        std::memcpy(out, escape, sizeof(escape));
        return 6;
    }
    out[0] = '\\';
    switch (c) {
    case 0x08:
        out[1] = 'b';
        break;
    case 0x09:
        out[1] = 't';
        break;
    case 0x0A:
        out[1] = 'n';
        break;
    case 0x0C:
        out[1] = 'f';
        break;
    case 0x0D:
        out[1] = 'r';
        break;
    default:
        out[1] = c; // the quote and the backslash
        break;
    }
    return 2;
}

bool IsJSNameUnit(UniChar c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// ---- Line ends

template <class Unit> constexpr Unit SwapUnit(Unit unit) noexcept {
    if constexpr (sizeof(Unit) == 2) {
        return Unit(__builtin_bswap16(uint16(unit)));
    } else if constexpr (sizeof(Unit) == 4) {
        return Unit(__builtin_bswap32(uint32(unit)));
    } else {
        return unit;
    }
}

// CR and LF as the text holds them.
template <class Unit> struct LineEndUnits {
    Unit cr, lf;
    explicit LineEndUnits(bool swapped) noexcept
        : cr(swapped ? SwapUnit(Unit(kCR)) : Unit(kCR)), lf(swapped ? SwapUnit(Unit(kLF)) : Unit(kLF)) {}
};

// Line ends that are not CR LF already: LFs not behind a CR and CRs not before an LF.
template <class Unit> size_t CountLoneLineEnds(const Unit* text, size_t length, LineEndUnits<Unit> units) noexcept {
    size_t lone = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == units.lf) {
            lone += i == 0 || text[i - 1] != units.cr;
        } else if (text[i] == units.cr) {
            lone += i + 1 == length || text[i + 1] != units.lf;
        }
    }
    return lone;
}

bool IsConvertingMode(ECarriageReturnMode mode) noexcept {
    return mode == eCRM_CRLF || mode == eCRM_CR || mode == eCRM_LF;
}

// True when converting to mode would change the text.
template <class Unit>
bool LineEndsChange(const Unit* text, size_t length, ECarriageReturnMode mode, LineEndUnits<Unit> units) noexcept {
    if (mode == eCRM_CRLF) return CountLoneLineEnds(text, length, units) > 0;
    Unit removed = mode == eCRM_LF ? units.cr : units.lf; // CR LF pairs lose a unit either way
    return IsConvertingMode(mode) && std::find(text, text + length, removed) != text + length;
}

// Unit size and byte order of the line ends of encoded text: 16 or 32 bits for the UTF-16 and UTF-32 sets.
struct EncodedUnits {
    size_t size;
    bool swapped;
};

EncodedUnits UnitsOfCharSet(CharSet charSet) noexcept {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    switch (charSet) {
    case VTC_UTF_16_BigEndian:
        return {2, kLittle};
    case VTC_UTF_16_LittleEndian:
        return {2, !kLittle};
    case VTC_UTF_32_BigEndian:
    case VTC_UTF_32_Raw_BigEndian:
        return {4, kLittle};
    case VTC_UTF_32_LittleEndian:
    case VTC_UTF_32_Raw_LittleEndian:
        return {4, !kLittle};
    default:
        return {1, false};
    }
}

template <class Unit>
bool ConvertEncodedLineEnds(VMemoryBuffer<>& buffer, ECarriageReturnMode mode, bool swapped) noexcept {
    const LineEndUnits<Unit> units(swapped);
    size_t length = buffer.GetDataSize() / sizeof(Unit);
    size_t tail = buffer.GetDataSize() % sizeof(Unit); // a cut unit at the end stays behind the text
    if (length == 0 || !LineEndsChange(static_cast<const Unit*>(buffer.GetDataPtr()), length, mode, units)) return true;

    size_t needed = length;
    if (mode == eCRM_CRLF) needed += CountLoneLineEnds(static_cast<const Unit*>(buffer.GetDataPtr()), length, units);
    size_t neededBytes = 0;
    if (__builtin_mul_overflow(needed, sizeof(Unit), &neededBytes) ||
        __builtin_add_overflow(neededBytes, tail, &neededBytes))
        return false;
    if (neededBytes > buffer.GetAllocatedSize() && !buffer.SetCapacity(neededBytes)) return false;

    auto* bytes = static_cast<uchar*>(buffer.GetDataPtr());
    uchar cut[sizeof(Unit)] = {};
    if (tail > 0) std::memcpy(cut, bytes + length * sizeof(Unit), tail);
    size_t capacity = (buffer.GetAllocatedSize() - tail) / sizeof(Unit);
    size_t result =
        VString::_ConvertCarriageReturns(reinterpret_cast<Unit*>(bytes), length, capacity, mode, nullptr, swapped);
    if (tail > 0) std::memcpy(bytes + result * sizeof(Unit), cut, tail);
    buffer.SetDataSizeUnchecked(result * sizeof(Unit) + tail);
    return true;
}

struct DisposeBlock {
    void operator()(void* block) const noexcept { VMemory::DisposePtr(block); }
};

} // namespace

// ---- XML

void VString::TranscodeToXML(bool escapeControls) {
    int64 growth = 0;
    int32 first = -1;
    for (int32 i = 0; i < fLength; ++i) {
        int32 more = XMLGrowth(fString[i], escapeControls);
        if (more > 0 && first < 0) first = i;
        growth += more;
    }
    if (growth == 0) return;
    int64 total = int64(fLength) + growth;
    if (!FitsString(total)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }

    VString result;
    UniChar* out = result.GetCPointerForWrite(int32(total));
    if (out == nullptr) return;
    CopyUnits(out, fString, size_t(first));
    out += first;
    int32 run = first; // start of the units copied as they are
    for (int32 i = first; i < fLength; ++i) {
        UniChar c = fString[i];
        if (XMLGrowth(c, escapeControls) == 0) continue;
        CopyUnits(out, fString + run, size_t(i - run));
        out += i - run;
        out += PutXMLEscape(c, out);
        run = i + 1;
    }
    CopyUnits(out, fString + run, size_t(fLength - run));
    result.Validate(int32(total));
    FromString(result);
}

void VString::TranscodeFromXML() {
    UniChar decoded[2];
    int32 produced = 0;
    int32 first = 0;
    for (;; ++first) {
        const UniChar* found = std::find(fString + first, fString + fLength, UniChar('&'));
        first = int32(found - fString);
        if (first >= fLength) return; // nothing to resolve: the text stays as it is
        if (DecodeXMLReference(found, fString + fLength, decoded, produced) > 0) break;
    }
    if (!_MakeWritable(fLength)) return;

    // Every reference is longer than what it stands for, so the text shrinks in place.
    UniChar* text = fString;
    const UniChar* end = text + fLength;
    int32 write = first;
    for (int32 read = first; read < fLength;) {
        int32 span = text[read] == '&' ? DecodeXMLReference(text + read, end, decoded, produced) : 0;
        if (span == 0) {
            text[write++] = text[read++];
            continue;
        }
        for (int32 k = 0; k < produced; ++k)
            text[write++] = decoded[k];
        read += span;
    }
    fLength = write;
    _Modified();
}

void VString::GetXMLString(VString& out, uint32) const {
    out.FromString(*this);
    out.TranscodeToXML(false);
}

bool VString::FromXMLString(const VString& xml) {
    FromString(xml);
    TranscodeFromXML();
    return true;
}

// ---- JSON

VError VString::GetJSONString(VString& out, uint32 options) const {
    bool quoted = (options & kJSONQuoted) != 0;
    if ((options & kJSONRaw) != 0 && !quoted) {
        out.FromString(*this);
        return VE_OK;
    }
    bool escapeMore = (options & kJSONEscapeAmpersandApostrophe) != 0;
    bool raw = (options & kJSONRaw) != 0;
    int64 total = quoted ? 2 : 0;
    for (int32 i = 0; i < fLength; ++i)
        total += raw ? 1 : JSONWidth(fString[i], escapeMore);
    if (!FitsString(total)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return VE_STRING_ALLOC_FAILED;
    }

    // Built apart: out may be this very string.
    VString result;
    UniChar* p = result.GetCPointerForWrite(int32(total));
    if (p == nullptr) return VE_STRING_ALLOC_FAILED;
    if (quoted) *p++ = '"';
    if (raw) {
        CopyUnits(p, fString, size_t(fLength));
        p += fLength;
    } else {
        for (int32 i = 0; i < fLength; ++i) {
            UniChar c = fString[i];
            p += PutJSONUnit(c, JSONWidth(c, escapeMore), p);
        }
    }
    if (quoted) *p++ = '"';
    result.Validate(int32(total));
    out.FromString(result);
    return VE_OK;
}

VError VString::FromJSONString(const VString& json, uint32 options) {
    if ((options & kJSONRaw) != 0) {
        FromString(json);
        return VE_OK;
    }
    const UniChar* in = json.fString;
    const int32 n = json.fLength;
    if (n == 0) {
        Clear();
        return VE_OK;
    }
    if (std::find(in, in + n, UniChar('\\')) == in + n) {
        FromString(json);
        return VE_OK;
    }

    // Built apart: json may be this very string. Escapes never lengthen the text.
    VString result;
    UniChar* out = result.GetCPointerForWrite(n);
    if (out == nullptr) return VE_STRING_ALLOC_FAILED;
    int32 w = 0;
    for (int32 i = 0; i < n;) {
        UniChar c = in[i++];
        if (c != '\\') {
            out[w++] = c;
            continue;
        }
        if (i >= n) break; // a backslash at the very end is dropped
        UniChar e = in[i++];
        switch (e) {
        case 'b':
            out[w++] = 0x08;
            break;
        case 'f':
            out[w++] = 0x0C;
            break;
        case 'n':
            out[w++] = 0x0A;
            break;
        case 'r':
            out[w++] = 0x0D;
            break;
        case 't':
            out[w++] = 0x09;
            break;
        case 'u': {
            if (n - i < 4) { // too short: a plain "u" ends the text
                out[w++] = 'u';
                i = n;
                break;
            }
            uint32 value = 0;
            for (int32 k = 0; k < 4; ++k) {
                int32 digit = HexValue(in[i + k]);
                if (digit >= 0) value = value * 16 + uint32(digit); // other units are skipped
            }
            out[w++] = UniChar(value);
            i += 4;
            break;
        }
        default:
            out[w++] = e;
            break;
        }
    }
    result.Validate(w);
    FromString(result);
    return VE_OK;
}

void VString::GetCleanJSName(VString& out) const {
    VString result;
    UniChar* p = result.GetCPointerForWrite(fLength + 1);
    if (p == nullptr) {
        out.Clear();
        return;
    }
    int32 w = 0;
    if (fLength > 0 && fString[0] >= '0' && fString[0] <= '9') p[w++] = '_';
    for (int32 i = 0; i < fLength; ++i) {
        if (IsJSNameUnit(fString[i])) p[w++] = fString[i];
    }
    result.Validate(w);
    out.FromString(result);
}

// ---- Base64

bool VString::EncodeBase64(const void* data, size_t size, bool url) {
    VMemoryBuffer<> encoded;
    if (!Base64Coder::_Encode(data, size, encoded, 0, url)) return false;
    size_t n = encoded.GetDataSize();
    if (n >= size_t(kMaxLength)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (!_IsWritableFor(int32(n)) && !_ReallocBuffer(int32(n), false)) return false;
    const auto* bytes = static_cast<const uchar*>(encoded.GetDataPtr());
    for (size_t i = 0; i < n; ++i)
        fString[i] = UniChar(bytes[i]);
    fLength = int32(n);
    _Modified();
    return true;
}

bool VString::EncodeBase64(CharSet charSet, bool url) {
    if (IsNull() || fLength == 0) return true;
    StStringConverter<char> bytes(*this, charSet, eCRM_NATIVE);
    if (!bytes.IsOK()) return false;
    return EncodeBase64(bytes.GetData(), bytes.GetSize(), url);
}

bool VString::DecodeBase64(VMemoryBuffer<>& out, bool url) const {
    if (fLength == 0) return Base64Coder::Decode(nullptr, 0, out, url, false);
    for (int32 i = 0; i < fLength; ++i) {
        if (fString[i] >= 0x80) {
            _ThrowError(VE_STREAM_TEXT_CONVERSION_FAILURE);
            return false;
        }
    }
    std::unique_ptr<uchar, DisposeBlock> bytes(static_cast<uchar*>(VMemory::NewPtr(size_t(fLength), kBufferTag)));
    if (bytes == nullptr) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    for (int32 i = 0; i < fLength; ++i)
        bytes.get()[i] = uchar(fString[i]);
    return Base64Coder::Decode(bytes.get(), size_t(fLength), out, url, false);
}

bool VString::DecodeBase64(CharSet charSet, bool url) {
    if (IsNull() || fLength == 0) return true;
    VMemoryBuffer<> decoded;
    if (!DecodeBase64(decoded, url)) return false;
    FromBlock(decoded.GetDataPtr(), decoded.GetDataSize(), charSet);
    return true;
}

// ---- Line ends

ECarriageReturnMode VString::GetCarriageReturnMode(ECarriageReturnMode fallback) const noexcept {
    for (int32 i = 0; i < fLength; ++i) {
        if (fString[i] == kLF) return eCRM_LF;
        if (fString[i] == kCR) return i + 1 < fLength && fString[i + 1] == kLF ? eCRM_CRLF : eCRM_CR;
    }
    return fallback;
}

template <class Unit>
size_t VString::_ConvertCarriageReturns(Unit* text, size_t length, size_t capacity, ECarriageReturnMode mode,
                                        size_t* needed, bool swapped) noexcept {
    const LineEndUnits<Unit> units(swapped);
    if (needed != nullptr) *needed = length;
    if (length == 0 || text == nullptr) return 0;

    if (mode == eCRM_CR || mode == eCRM_LF) {
        const Unit target = mode == eCRM_CR ? units.cr : units.lf;
        size_t w = 0;
        for (size_t r = 0; r < length; ++r) {
            Unit c = text[r];
            if (c == units.cr) {
                if (r + 1 < length && text[r + 1] == units.lf) ++r;
                c = target;
            } else if (c == units.lf) {
                c = target;
            }
            text[w++] = c;
        }
        return w;
    }
    if (mode != eCRM_CRLF) return length;

    size_t lone = CountLoneLineEnds(text, length, units);
    if (needed != nullptr) *needed = length + lone;
    size_t room = capacity > length ? capacity - length : 0;
    size_t grow = std::min(lone, room);
    if (grow == 0) return length;

    // With too little room only the first line ends are done: find where the grow-th lone one ends.
    size_t stop = length;
    if (grow < lone) {
        size_t seen = 0;
        for (stop = 0; seen < grow; ++stop) {
            Unit c = text[stop];
            if (c == units.lf) {
                seen += stop == 0 || text[stop - 1] != units.cr;
            } else if (c == units.cr) {
                seen += stop + 1 == length || text[stop + 1] != units.lf;
            }
        }
    }
    // From the end towards the start, so that no unit is overwritten before it is read; next is the unit that
    // followed the one read in the original text.
    Unit next = stop < length ? text[stop] : Unit(0);
    if (stop < length) std::memmove(text + stop + grow, text + stop, (length - stop) * sizeof(Unit));
    size_t w = stop + grow;
    for (size_t r = stop; r-- > 0 && w > r + 1;) {
        Unit c = text[r];
        bool loneEnd = (c == units.lf && (r == 0 || text[r - 1] != units.cr)) ||
                       (c == units.cr && (r + 1 == length || next != units.lf));
        if (loneEnd) {
            text[--w] = units.lf;
            text[--w] = units.cr;
        } else {
            text[--w] = c;
        }
        next = c;
    }
    return length + grow;
}

template size_t VString::_ConvertCarriageReturns<uchar>(uchar*, size_t, size_t, ECarriageReturnMode, size_t*,
                                                        bool) noexcept;
template size_t VString::_ConvertCarriageReturns<UniChar>(UniChar*, size_t, size_t, ECarriageReturnMode, size_t*,
                                                          bool) noexcept;
template size_t VString::_ConvertCarriageReturns<uint32>(uint32*, size_t, size_t, ECarriageReturnMode, size_t*,
                                                         bool) noexcept;

bool VString::ConvertCarriageReturns(ECarriageReturnMode mode) {
    const LineEndUnits<UniChar> units(false);
    if (!IsConvertingMode(mode) || !LineEndsChange(fString, size_t(fLength), mode, units)) return true;
    int64 needed = fLength;
    if (mode == eCRM_CRLF) needed += int64(CountLoneLineEnds(fString, size_t(fLength), units));
    if (!FitsString(needed)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    // Room for the whole conversion first: a failure then leaves the text as it was.
    if (!_MakeWritable(int32(needed))) return false;
    fLength = int32(_ConvertCarriageReturns(fString, size_t(fLength), size_t(fMaxLength), mode));
    _Modified();
    return true;
}

bool VString::ConvertCarriageReturns(VMemoryBuffer<>& buffer, CharSet charSet, ECarriageReturnMode mode) {
    if (charSet == VTC_Unknown || !IsConvertingMode(mode)) return true;
    EncodedUnits units = UnitsOfCharSet(charSet);
    switch (units.size) {
    case 2:
        return ConvertEncodedLineEnds<UniChar>(buffer, mode, units.swapped);
    case 4:
        return ConvertEncodedLineEnds<uint32>(buffer, mode, units.swapped);
    default:
        return ConvertEncodedLineEnds<uchar>(buffer, mode, false);
    }
}

// ---- Byte strings

std::string to_string(const VString& text) {
    const int32 n = text.GetLength();
    if (n == 0) return {};
    VFromUnicodeConverter* converter = VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    int32 consumed = 0;
    size_t produced = 0;
    if (n < 256) {
        char local[512];
        converter->Convert(text.GetCPointer(), n, &consumed, local, sizeof(local), &produced);
        if (consumed == n && produced > 0) return std::string(local, produced);
    }
    size_t needed = 0;
    converter->Convert(text.GetCPointer(), n, &consumed, nullptr, size_t(VString::kMaxLength), &needed);
    std::string bytes(needed, '\0');
    converter->Convert(text.GetCPointer(), n, &consumed, bytes.data(), needed, &produced);
    bytes.resize(std::min(produced, needed));
    return bytes;
}

} // namespace vela
