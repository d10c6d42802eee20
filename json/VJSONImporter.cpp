#include "json/VJSONImporter.h"

#include "core/VMemoryBuffer.h"
#include "core/VStringUnits.h"
#include "files/IFileSystemObject.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VBagMarkers.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "json/VJSONArray.h"
#include "json/VJSONBinaryImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
#include "json/VStorageLocker.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <new>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vela {

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines("__symbols");
const VString VJSONImporter::sBinaryObjectPropertyName("__PRIVATE_BINARY_OBJECT");

namespace {

using namespace VBagMarkers;

const char* const kTokenNames[8] = {"", "{", "}", "[", "]", ",", ":", "\""};
const char* const kExpectedValue = "\" 0-9 null true false { [";
const char* const kExpectedElement = "\" 0-9 null true false { [ ]";
const char* const kExpectedNumber = "+- 0-9 eE";
constexpr UniChar kMinusSign = 0x2212;
// Keys up to this many units go through the key cache.
constexpr int32 kMaxCachedKey = 64;

bool IsDigit(UniChar c) noexcept {
    return c >= u'0' && c <= u'9';
}

// The ASCII units that end a bare word: blanks (consumed with the word) and the punctuation left for the next token.
struct WordEnds {
    bool fEnds[128];
    constexpr WordEnds() : fEnds() {
        for (int c = 0; c < 0x21; ++c)
            fEnds[c] = true;
        for (char c : {'"', ',', ':', '[', ']', '{', '}'})
            fEnds[int(c)] = true;
    }
};
constexpr WordEnds kWordEnds;

bool EndsWord(UniChar c) noexcept {
    return c < 0x80 && kWordEnds.fEnds[c];
}

// The first unit at or after p that ends a bare word (see WordEnds), or end. Eight units at a time with SSE2: the
// unit-by-unit loop was a tenth of json_parse_numbers_rapidjson's instructions (callgrind), numbers being words.
const UniChar* SkipWordUnits(const UniChar* p, const UniChar* end) noexcept {
#if defined(__SSE2__)
    const __m128i lastBlank = _mm_set1_epi16(0x20);
    while (end - p >= 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i stops = _mm_cmpeq_epi16(_mm_subs_epu16(units, lastBlank), _mm_setzero_si128());
        for (char16_t c : {u'"', u',', u':', u'[', u']', u'{', u'}'})
            stops = _mm_or_si128(stops, _mm_cmpeq_epi16(units, _mm_set1_epi16(short(c))));
        unsigned mask = unsigned(_mm_movemask_epi8(stops));
        if (mask != 0) return p + std::countr_zero(mask) / 2;
        p += 8;
    }
#endif
    while (p < end && !EndsWord(*p))
        ++p;
    return p;
}

// The first unit at or after p that may end a plain run inside a string: a quote, a backslash or a control unit
// (below U+0020; NUL, CR and LF among them), or end. Eight units at a time with SSE2, then four.
const UniChar* SkipPlainStringUnits(const UniChar* p, const UniChar* end) noexcept {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    const __m128i lastControl = _mm_set1_epi16(0x1F);
    while (end - p >= 8) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i controls = _mm_cmpeq_epi16(_mm_subs_epu16(units, lastControl), _mm_setzero_si128());
        __m128i stops =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, backslash)), controls);
        unsigned mask = unsigned(_mm_movemask_epi8(stops));
        if (mask != 0) return p + std::countr_zero(mask) / 2;
        p += 8;
    }
#endif
    // Four at a time: one unit per 16-bit lane. A lane's top bit marks a match; a borrow can only mark lanes above a
    // real match, so whether there is one is exact.
    constexpr uint64 kLanes = 0x0001000100010001ull;
    constexpr uint64 kTopBits = 0x8000800080008000ull;
    auto hasLess = [](uint64 v, uint64 bound) { return ((v - bound * kLanes) & ~v & kTopBits) != 0; };
    while (end - p >= 4) {
        uint64 four;
        std::memcpy(&four, p, sizeof(four));
        if (hasLess(four, 0x20) || hasLess(four ^ (u'"' * kLanes), 1) || hasLess(four ^ (u'\\' * kLanes), 1)) break;
        p += 4;
    }
    while (p < end && *p != u'"' && *p != u'\\' && *p >= 0x20)
        ++p;
    return p;
}

int HexValue(UniChar c) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool Equals(const UniChar* text, int32 length, const char* word) noexcept {
    for (int32 i = 0; i < length; ++i) {
        if (word[i] == 0 || text[i] != UniChar(word[i])) return false;
    }
    return word[length] == 0;
}

// The value whose binary JSON the Base64 text units hold. Text that is no Base64 fails with 200.
VError ReadBinaryObject(const UniChar* units, int32 length, VJSONValue& out) {
    VString text;
    text.FromUniString(units, length);
    VMemoryBuffer<1024, 2, 1048576> bytes;
    if (!text.DecodeBase64(bytes, false)) {
        _ThrowError(VE_STREAM_EOF);
        return VE_STREAM_EOF;
    }
    VJSONBinaryImporter importer(bytes.GetDataPtr(), bytes.GetDataSize(), nullptr);
    return importer.GetValue(out);
}

// Number syntax: "-"? ("0" | digit*) ("." digit+)? ([eE] [+-U+2212]? digit+)?, nothing after.
bool IsNumberWord(const UniChar* text, int32 length) noexcept {
    int32 i = 0;
    if (i < length && (text[i] == u'-' || text[i] == kMinusSign)) ++i;
    if (i < length && text[i] == u'0') {
        ++i;
    } else {
        while (i < length && IsDigit(text[i]))
            ++i;
    }
    if (i < length && text[i] == u'.') {
        ++i;
        if (i >= length || !IsDigit(text[i])) return false;
        while (i < length && IsDigit(text[i]))
            ++i;
    }
    if (i < length && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < length && (text[i] == u'+' || text[i] == u'-' || text[i] == kMinusSign)) ++i;
        if (i >= length || !IsDigit(text[i])) return false;
        while (i < length && IsDigit(text[i]))
            ++i;
    }
    return i == length;
}

locale_t CLocale() {
    static locale_t sLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    return sLocale;
}

// A word that passed IsNumberWord, read in the C locale ("-" alone reads as 0).
double ReadNumber(const UniChar* text, int32 length) {
    // Integers of up to 15 digits are exact as doubles: read directly.
    if (length <= 16) {
        int32 i = text[0] == u'-' ? 1 : 0;
        if (i < length && length - i <= 15) {
            int64 integer = 0;
            int32 j = i;
            for (; j < length && IsDigit(text[j]); ++j)
                integer = integer * 10 + (text[j] - u'0');
            if (j == length && j > i) return i == 1 ? (integer == 0 ? -0.0 : -double(integer)) : double(integer);
        }
    }
    char small[64];
    std::string large;
    char* bytes = small;
    if (length >= int32(sizeof(small))) {
        large.resize(size_t(length) + 1);
        bytes = large.data();
    }
    for (int32 i = 0; i < length; ++i)
        bytes[i] = text[i] == kMinusSign ? '-' : char(text[i]);
    bytes[length] = 0;
    double value = 0;
    std::from_chars_result result = std::from_chars(bytes, bytes + length, value);
    if (result.ec == std::errc() && result.ptr == bytes + length) return value;
    // Out of range (infinity or zero) and the forms from_chars refuses.
    return strtod_l(bytes, nullptr, CLocale());
}

// Words from this length on read faster by from_chars alone: they mostly carry 16 digits or more, too many for
// the exact product below, and collecting them first cost 40% of a number's instructions (callgrind,
// json_parse_numbers_rapidjson).
constexpr int32 kLongNumberUnits = 18;

constexpr bool IsDigitByte(char c) noexcept {
    return c >= '0' && c <= '9';
}

// A long word of the common form, narrowed to bytes in one pass and read by from_chars, after the checks of the
// syntax that from_chars does not make: a digit first, no leading zero, a digit after the point. Any other unit
// narrows to 0, where from_chars stops short of the end: false, as for any word that fails the syntax.
bool ReadLongPlainNumber(const UniChar* text, int32 length, double& value) noexcept {
    char bytes[64];
    if (length >= int32(sizeof(bytes))) return false;
    Private::NarrowAsciiUnits(text, size_t(length), bytes);
    bytes[length] = 0;
    const char* end = bytes + length;
    const char* p = bytes + (bytes[0] == '-' ? 1 : 0);
    if (p == end || !IsDigitByte(*p) || (*p == '0' && p + 1 < end && IsDigitByte(p[1]))) return false;
    const char* point = static_cast<const char*>(std::memchr(p, '.', size_t(end - p)));
    if (point != nullptr && (point + 1 == end || !IsDigitByte(point[1]))) return false;
    std::from_chars_result result = std::from_chars(bytes, end, value);
    if (result.ptr != end) return false;
    if (result.ec != std::errc()) value = strtod_l(bytes, nullptr, CLocale()); // out of range: as C reads it
    return true;
}

// A number word of the common form ("-"? digits ("." digits)? ([eE] sign? digits)?) read in one pass: exactly
// without a detour through text when at most 19 digits make a mantissa within 2^53 and the decimal exponent is
// within 22 (one multiplication or division by an exact power of ten rounds correctly), else by from_chars on
// its bytes. False for any other word (including words that fail the syntax test), which ReadNumber then reads.
bool ReadPlainNumber(const UniChar* text, int32 length, double& value) noexcept {
    if (length >= kLongNumberUnits) return ReadLongPlainNumber(text, length, value);
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = text[0] == u'-';
    int32 i = negative ? 1 : 0;
    uint64 mantissa = 0;
    int32 digits = 0;
    if (i < length && text[i] == u'0') {
        ++i;
    } else {
        for (; i < length && IsDigit(text[i]); ++i, ++digits)
            mantissa = mantissa * 10 + uint64(text[i] - u'0');
        if (digits == 0) return false;
    }
    int32 exponent = 0;
    if (i < length && text[i] == u'.') {
        const int32 first = ++i;
        for (; i < length && IsDigit(text[i]); ++i, ++digits, --exponent)
            mantissa = mantissa * 10 + uint64(text[i] - u'0');
        if (i == first) return false;
    }
    if (i < length && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < length && (text[i] == u'+' || text[i] == u'-' || text[i] == kMinusSign)) {
            negativeExponent = text[i] != u'+';
            ++i;
        }
        const int32 first = i;
        int32 power = 0;
        for (; i < length && IsDigit(text[i]); ++i) {
            if (power < 1000) power = power * 10 + (text[i] - u'0');
        }
        if (i == first) return false;
        exponent += negativeExponent ? -power : power;
    }
    if (i != length) return false;
    if (digits <= 19 && mantissa <= (uint64(1) << 53) && (mantissa == 0 || (exponent >= -22 && exponent <= 22))) {
        double magnitude = double(mantissa);
        if (mantissa != 0 && exponent != 0)
            magnitude = exponent > 0 ? magnitude * kPowers[exponent] : magnitude / kPowers[-exponent];
        value = negative ? -magnitude : magnitude;
        return true;
    }
    // The rest by from_chars, on the bytes of the word (which is ASCII but for a U+2212 in its exponent).
    char bytes[64];
    if (length >= int32(sizeof(bytes))) return false;
    for (int32 k = 0; k < length; ++k)
        bytes[k] = text[k] == kMinusSign ? '-' : char(text[k]);
    bytes[length] = 0;
    std::from_chars_result result = std::from_chars(bytes, bytes + length, value);
    if (result.ec == std::errc() && result.ptr == bytes + length) return true;
    value = strtod_l(bytes, nullptr, CLocale()); // out of range: infinity or zero, as C reads it
    return true;
}

// Shape of "dddd-dd-dd".
bool IsISODate(const UniChar* text, int32 length) noexcept {
    if (length != 10) return false;
    for (int32 i = 0; i < 10; ++i) {
        bool dash = i == 4 || i == 7;
        if (dash ? text[i] != u'-' : !IsDigit(text[i])) return false;
    }
    return true;
}

// Shape of "!!dddd-dd-dd!!".
bool IsNonAmbiguousDate(const UniChar* text, int32 length) noexcept {
    return length == 14 && text[0] == u'!' && text[1] == u'!' && text[12] == u'!' && text[13] == u'!' &&
           IsISODate(text + 2, 10);
}

// A slot from the length and three units: keys that differ elsewhere only share a slot and replace each other.
uint32 KeySlot(const UniChar* text, int32 length) noexcept {
    if (length == 0) return 0;
    uint32 hash =
        uint32(length) * 0x9E3779B1u ^ text[0] ^ (uint32(text[length - 1]) << 7) ^ (uint32(text[length / 2]) << 3);
    return hash ^ (hash >> 11);
}

bool SameUnits(const UniChar* a, const UniChar* b, int32 length) noexcept {
    for (int32 i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// "-?digits" whose value fits 64 bits, into value.
bool ReadLong8Word(const UniChar* text, int32 length, int64& value) noexcept {
    int32 i = length > 0 && text[0] == u'-' ? 1 : 0;
    if (i == length) return false;
    const uint64 limit = i == 1 ? uint64(INT64_MAX) + 1 : uint64(INT64_MAX);
    uint64 magnitude = 0;
    for (; i < length; ++i) {
        if (!IsDigit(text[i])) return false;
        uint64 digit = text[i] - u'0';
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = text[0] == u'-' ? int64(0 - magnitude) : int64(magnitude);
    return true;
}

VJSONValue LineAndOffset(int32 line, int64 offset) {
    VJSONValue record(JSON_object);
    VJSONObject* object = record.GetObjectPtr();
    object->SetProperty(VString("line"), VJSONValue(double(line)));
    object->SetProperty(VString("offset"), VJSONValue(double(offset)));
    return record;
}

} // namespace

VJSONImporter::VJSONImporter(const VString& text, uint32 options)
    : fText(text), fOptions(options), fAnyDate((options & kAnyDate) != 0) {
    fStart = fText.GetCPointer();
    fEnd = fStart + fText.GetLength();
    fCursor = fTokenStart = fLineStart = fTokenLineStart = fTokenFirst = fStart;
    if ((fOptions & kPathsAndLines) != 0) fPathsLines = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
}

VJSONImporter::~VJSONImporter() = default;

// ---- Tokens

void VJSONImporter::_CountLineBreak(const UniChar* p) noexcept {
    // A CR LF pair counts once, at its LF.
    if (*p == u'\n' || p + 1 >= fEnd || p[1] != u'\n') {
        ++fLine;
        fLineStart = p + 1;
    }
}

VJSONImporter::JsonToken VJSONImporter::_Scan(VError* err) {
    fTokenStart = fCursor;
    fToken = Token();
    const UniChar* p = fCursor;
    while (p < fEnd && *p < 0x21) {
        if (*p == u'\n' || *p == u'\r') _CountLineBreak(p);
        ++p;
    }
    fTokenFirst = p;
    fTokenLine = fLine;
    fTokenLineStart = fLineStart;
    if (p >= fEnd) {
        fCursor = fEnd;
        return jsonNone;
    }
    switch (*p) {
    case u'{':
        fCursor = p + 1;
        return jsonBeginObject;
    case u'}':
        fCursor = p + 1;
        return jsonEndObject;
    case u'[':
        fCursor = p + 1;
        return jsonBeginArray;
    case u']':
        fCursor = p + 1;
        return jsonEndArray;
    case u',':
        fCursor = p + 1;
        return jsonSeparator;
    case u':':
        fCursor = p + 1;
        return jsonAssigner;
    case u'"':
        return _ScanString(p + 1, err);
    default:
        return _ScanWord(p);
    }
}

VJSONImporter::JsonToken VJSONImporter::_ScanString(const UniChar* p, VError* err) {
    // The text stays in place until an escape or a NUL unit needs a decoded copy.
    const UniChar* run = p;
    bool decoding = false;
    for (;;) {
        p = SkipPlainStringUnits(p, fEnd);
        if (p >= fEnd) break;
        UniChar c = *p;
        if (c == u'"') {
            if (decoding) {
                fDecoded.append(run, p);
                fToken.fText = fDecoded.data();
                fToken.fLength = int32(fDecoded.size());
            } else {
                fToken.fText = run;
                fToken.fLength = int32(p - run);
            }
            fToken.fQuoted = true;
            fCursor = p + 1;
            return jsonString;
        }
        if (c == u'\r' || c == u'\n') {
            _CountLineBreak(p);
            ++p;
            continue;
        }
        if (c != u'\\' && c != 0) { // other control units are kept as they are
            ++p;
            continue;
        }
        if (!decoding) {
            fDecoded.assign(run, p);
            decoding = true;
        } else {
            fDecoded.append(run, p);
        }
        if (c == 0) { // dropped
            run = ++p;
            continue;
        }
        // A backslash.
        if (p + 1 >= fEnd) {
            p = fEnd;
            run = p;
            break;
        }
        UniChar escaped = p[1];
        p += 2;
        switch (escaped) {
        case u'b':
            fDecoded.push_back(0x08);
            break;
        case u'f':
            fDecoded.push_back(0x0C);
            break;
        case u'n':
            fDecoded.push_back(0x0A);
            break;
        case u'r':
            fDecoded.push_back(0x0D);
            break;
        case u't':
            fDecoded.push_back(0x09);
            break;
        case u'u': {
            if (fEnd - p < 4) {
                p = fEnd;
                break;
            }
            // Units that are no hexadecimal digit are skipped without shifting.
            uint32 value = 0;
            for (int i = 0; i < 4; ++i) {
                int digit = HexValue(p[i]);
                if (digit >= 0) value = value * 16 + uint32(digit);
            }
            fDecoded.push_back(UniChar(value));
            p += 4;
            break;
        }
        case 0:
            break;
        case u'\r':
        case u'\n':
            _CountLineBreak(p - 1);
            fDecoded.push_back(escaped);
            break;
        default:
            fDecoded.push_back(escaped);
            break;
        }
        run = p;
    }
    // The text ended before the closing quote.
    fCursor = fEnd;
    if ((fOptions & kStrict) != 0) {
        if (err != nullptr) {
            VString quote("\"");
            *err = _ThrowAfterSpecific(VE_JSON_UNTERMINATED_STRING, "token", quote);
        }
        return jsonNone;
    }
    if (decoding) {
        fDecoded.append(run, p);
        fToken.fText = fDecoded.data();
        fToken.fLength = int32(fDecoded.size());
    } else {
        fToken.fText = run;
        fToken.fLength = int32(p - run);
    }
    fToken.fQuoted = true;
    return jsonString;
}

VJSONImporter::JsonToken VJSONImporter::_ScanWord(const UniChar* p) {
    const UniChar* start = p;
    p = SkipWordUnits(p, fEnd);
    fToken.fText = start;
    fToken.fLength = int32(p - start);
    fToken.fQuoted = false;
    fCursor = p;
    if (p < fEnd && *p < 0x21) { // the blank that ends a word goes with it
        if (*p == u'\n' || *p == u'\r') _CountLineBreak(p);
        fCursor = p + 1;
    }
    return jsonString;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VString& token, bool* quoted, VError* err) {
    JsonToken kind = _Scan(err);
    token.FromUniString(fToken.fText != nullptr ? fToken.fText : fStart, fToken.fLength);
    if (quoted != nullptr) *quoted = fToken.fQuoted;
    return kind;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VError* err) {
    return _Scan(err);
}

VString VJSONImporter::_TokenText() const {
    VString text;
    text.FromUniString(fToken.fText != nullptr ? fToken.fText : fStart, fToken.fLength);
    return text;
}

VString VJSONImporter::_GetStartTokenFirstChar() const {
    const UniChar* p = fTokenStart;
    while (p < fEnd && *p < 0x21)
        ++p;
    VString text;
    if (p < fEnd) text.FromUniString(p, 1);
    return text;
}

// ---- Errors

VError VJSONImporter::_ThrowMalformed() {
    // Line and position come from the text itself: blanks before the token are skipped, then the line ends before
    // it are counted (whichever of LF and CR is more frequent counts the lines).
    const UniChar* at = fTokenStart;
    while (at < fEnd && *at < 0x21)
        ++at;
    int64 lineFeeds = 0;
    int64 returns = 0;
    const UniChar* afterLF = nullptr;
    const UniChar* afterCR = nullptr;
    for (const UniChar* p = fStart; p < at; ++p) {
        if (*p == u'\n') {
            ++lineFeeds;
            afterLF = p + 1;
        } else if (*p == u'\r') {
            ++returns;
            afterCR = p + 1;
        }
    }
    const UniChar* lineStart = fStart;
    if (lineFeeds >= returns && afterLF != nullptr) {
        lineStart = afterLF;
    } else if (returns > lineFeeds) {
        lineStart = afterCR;
    }
    VString source;
    if (!fSource.IsEmpty()) {
        source = fSource;
        source.AppendCString(", ");
    }
    _ThrowJSONMalformed(source, int32(1 + std::max(lineFeeds, returns)), int32(1 + (at - lineStart)));
    return VE_JSON_MALFORMED;
}

VError VJSONImporter::_ThrowInvalidToken(const VString& found, const char* expected) {
    if ((fOptions & kQuietTokens) != 0) return VE_JSON_MALFORMED;
    VString expectedText(expected);
    _ThrowJSONError(found.IsEmpty() ? VE_JSON_NO_TOKEN : VE_JSON_INVALID_TOKEN,
                    {{"found", &found}, {"expected", &expectedText}});
    return _ThrowMalformed();
}

VError VJSONImporter::_ThrowInvalidToken(JsonToken token, const char* expected) {
    VString found(uint32(token) < 8 ? kTokenNames[token] : "");
    return _ThrowInvalidToken(found, expected);
}

VError VJSONImporter::_ThrowAfterSpecific(VError code, const char* name, const VString& value) {
    if (name != nullptr) {
        _ThrowJSONError(code, {{name, &value}});
    } else {
        _ThrowJSONError(code, {});
    }
    return _ThrowMalformed();
}

// ---- Values

VError VJSONImporter::Parse(VJSONValue& out) {
    VJSONValue value;
    VError err = _ParseValue(value);
    if (err != VE_OK && (fOptions & kUndefinedOnFailure) != 0) value.SetUndefined();
    out = std::move(value);
    if (out.IsObject()) SetPathLineForEncompasingObject();
    return err;
}

VError VJSONImporter::ParseString(const VString& text, VJSONValue& out, uint32 options) {
    VJSONImporter importer(text, options);
    return importer.Parse(out);
}

VError VJSONImporter::ParseFile(const IFile* file, VJSONValue& out, uint32 options) {
    if (file == nullptr) {
        out.SetUndefined();
        return VE_OK;
    }
    VString posixPath;
    file->GetPlatformPath(posixPath, FPS_POSIX);
    VString text;
    VError err = file->GetContentAsString(text, VTC_UTF_8, eCRM_NATIVE);
    if (err != VE_OK) return err;
    VJSONImporter importer(text, options);
    importer.SetSource(posixPath);
    return importer.Parse(out);
}

void VJSONImporter::SetPathLineForEncompasingObject() {
    if (fPathsLines.Get() == nullptr) return;
    fPathsLines->SetProperty(VString("}"), LineAndOffset(fLine, int64(fCursor - fLineStart) - 1));
}

void VJSONImporter::_RecordPathLine() {
    fPathsLines->SetProperty(fCurrentPath, LineAndOffset(fTokenLine, int64(fTokenFirst - fTokenLineStart)));
}

VError VJSONImporter::_ParseValue(VJSONValue& out) {
    VError err = VE_OK;
    switch (JsonToken token = _Scan(&err)) {
    case jsonBeginObject:
        return _ParseObject(out);
    case jsonBeginArray:
        return _ParseArray(out);
    case jsonString:
        return _StringToValue(out, kExpectedValue);
    default:
        return err != VE_OK ? err : _ThrowInvalidToken(token, kExpectedValue);
    }
}

bool VJSONImporter::_EnterContainer(VError& err) {
    if (fDepth >= kJSONTextMaxDepth) {
        err = _ThrowAfterSpecific(VE_JSON_TOO_DEEP, nullptr, VString::sEmpty);
        return false;
    }
    ++fDepth;
    return true;
}

void VJSONImporter::_ShareLocker(VJSONObject* object, VJSONArray* array) {
    if ((fOptions & kSharedLocker) == 0) return;
    if (fSharedLocker.Get() == nullptr) {
        fSharedLocker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
        fSharedLocker->SetFresh(false);
    }
    if (object != nullptr) object->SetStorageLocker(fSharedLocker.Get());
    if (array != nullptr) array->SetStorageLocker(fSharedLocker.Get());
}

const VString& VJSONImporter::_KeyString() {
    // The cached names are copied by the caller (sharing their buffer) before the next key can replace them.
    const UniChar* text = fToken.fText != nullptr ? fToken.fText : fStart;
    int32 length = fToken.fLength;
    if (length > kMaxCachedKey) {
        fScratch.FromUniString(text, length);
        return fScratch;
    }
    if (fKeys == nullptr) fKeys = std::make_unique<VString[]>(kKeyCacheSize);
    VString& key = fKeys[KeySlot(text, length) & (kKeyCacheSize - 1)];
    if (key.GetLength() != length || !SameUnits(key.GetCPointer(), text, length)) key.FromUniString(text, length);
    return key;
}

VError VJSONImporter::_ParseObject(VJSONValue& out) {
    VError err = VE_OK;
    if (!_EnterContainer(err)) return err;
    VJSONValue result(JSON_object);
    bool recording = fPathsLines.Get() != nullptr;
    bool empty = true;
    bool binary = false; // a member named "__PRIVATE_BINARY_OBJECT" was read
    VString savedPath;   // once per object, as in _ParseArray
    for (;;) {
        VError scanErr = VE_OK;
        JsonToken token = _Scan(&scanErr);
        if (token == jsonEndObject) {
            if (!empty) err = _ThrowAfterSpecific(VE_JSON_EXTRA_COMMA, "token", VString("}"));
            break;
        }
        if (token != jsonString) {
            err = scanErr != VE_OK ? scanErr : _ThrowInvalidToken(token, empty ? "\" }" : "\"");
            break;
        }
        if (!fToken.fQuoted && (fOptions & kStrict) != 0) {
            err = _ThrowInvalidToken(_TokenText(), "\"");
            break;
        }
        // The name is taken now: the token's text does not outlive the next scan.
        const UniChar* units = _TokenUnits();
        const int32 length = fToken.fLength;
        const uint32 hash = VJSONPropertyMap::Hash(units, length);
        binary = binary || (length == sBinaryObjectPropertyName.GetLength() &&
                            SameUnits(units, sBinaryObjectPropertyName.GetCPointer(), length));
        VJSONPropertyName name;
        if (length <= VJSONPropertyName::kInlineUnits) {
            fScratch.FromUniString(units, length);
            VJSONPropertyName::FromString(fScratch, name);
        } else if (!VJSONPropertyName::FromString(_KeyString(), name)) {
            err = VE_MEMORY_FULL;
            break;
        }
        if (recording) {
            savedPath = fCurrentPath;
            if (!fCurrentPath.IsEmpty() && (length == 0 || units[0] != u'[')) fCurrentPath.AppendUniChar(u'.');
            fCurrentPath.AppendUniChars(units, length);
            _RecordPathLine();
        }
        token = _Scan(&scanErr);
        if (token != jsonAssigner) {
            err = scanErr != VE_OK ? scanErr : _ThrowInvalidToken(_GetStartTokenFirstChar(), ":");
            break;
        }
        VJSONValue value;
        err = _ParseValue(value);
        if (err != VE_OK) break;
        VJSONPropertyMap::Property property(std::move(name), hash, std::move(value));
        if (!result.GetObjectPtr()->_AdoptNewProperty(property, _Linker())) {
            err = VE_MEMORY_FULL;
            break;
        }
        empty = false;
        token = _Scan(&scanErr);
        if (recording) fCurrentPath = savedPath;
        if (token == jsonEndObject) break;
        if (token == jsonSeparator) continue;
        err = scanErr != VE_OK ? scanErr : _ThrowInvalidToken(token, "} ,");
        break;
    }
    --fDepth;
    if (binary && err == VE_OK) err = _ReadBinaryObject(result);
    _ShareLocker(result.GetObjectPtr(), nullptr);
    out = std::move(result);
    return err;
}

VError VJSONImporter::_ReadBinaryObject(VJSONValue& object) {
    VJSONValue text = object.GetObjectPtr()->GetOwnProperty(sBinaryObjectPropertyName);
    if (!text.IsString()) return VE_OK;
    VString units;
    text.GetString(units);
    VJSONValue decoded;
    VError err = ReadBinaryObject(units.GetCPointer(), units.GetLength(), decoded);
    if (err == VE_OK) object = std::move(decoded);
    return err;
}

VError VJSONImporter::_ParseArray(VJSONValue& out) {
    VError err = VE_OK;
    if (!_EnterContainer(err)) return err;
    bool recording = fPathsLines.Get() != nullptr;
    bool empty = true;
    size_t index = 0;
    const size_t first = fElements.size(); // this array's elements are fElements[first] onwards
    VString savedPath; // once per array: made for each element, it was 2% of parsing small arrays (callgrind)
    for (;;) {
        if (recording) {
            savedPath = fCurrentPath;
            fCurrentPath.AppendUniChar(u'[');
            fCurrentPath.AppendULong8(index++);
            fCurrentPath.AppendUniChar(u']');
        }
        VError scanErr = VE_OK;
        JsonToken token = _Scan(&scanErr);
        if (recording && (token == jsonBeginObject || token == jsonBeginArray || token == jsonString))
            _RecordPathLine();
        VJSONValue value;
        if (token == jsonEndArray) {
            if (!empty) err = _ThrowAfterSpecific(VE_JSON_EXTRA_COMMA, "token", VString("]"));
            break;
        } else if (token == jsonBeginObject) {
            err = _ParseObject(value);
        } else if (token == jsonBeginArray) {
            err = _ParseArray(value);
        } else if (token == jsonString) {
            err = _StringToValue(value, kExpectedElement);
        } else {
            err = scanErr != VE_OK ? scanErr : _ThrowInvalidToken(token, empty ? kExpectedElement : kExpectedValue);
        }
        if (err != VE_OK) break;
        try {
            fElements.push_back(std::move(value));
        } catch (const std::exception&) {
            _ThrowError(VE_MEMORY_FULL);
            err = VE_MEMORY_FULL;
            break;
        }
        empty = false;
        token = _Scan(&scanErr);
        if (recording) fCurrentPath = savedPath;
        if (token == jsonEndArray) break;
        if (token == jsonSeparator) continue;
        err = scanErr != VE_OK ? scanErr : _ThrowInvalidToken(_GetStartTokenFirstChar(), "] ,");
        break;
    }
    --fDepth;
    // Made last, the array lies next to its block of elements.
    VJSONValue result(JSON_array);
    if (!result.GetArrayPtr()->_AdoptNewElements(fElements, first, _Linker()) && err == VE_OK) err = VE_MEMORY_FULL;
    _ShareLocker(nullptr, result.GetArrayPtr());
    out = std::move(result);
    return err;
}

VError VJSONImporter::_StringToValue(VJSONValue& out, const char* expected) {
    const UniChar* text = fToken.fText;
    int32 length = fToken.fLength;
    if (fToken.fQuoted) {
        _QuotedToValue(out);
        return VE_OK;
    }
    if (length == 4 && Equals(text, length, "true")) {
        out.SetBool(true);
        return VE_OK;
    }
    if (length == 4 && Equals(text, length, "null")) {
        out.SetNull();
        return VE_OK;
    }
    if (length == 5 && Equals(text, length, "false")) {
        out.SetBool(false);
        return VE_OK;
    }
    if (IsDigit(text[0]) || text[0] == u'-') {
        double number = 0;
        if (!ReadPlainNumber(text, length, number)) {
            // Rare forms ("-" alone, "-.5", very long words) and words that are no number.
            if (!IsNumberWord(text, length)) return _ThrowInvalidToken(_TokenText(), kExpectedNumber);
            number = ReadNumber(text, length);
        }
        out.SetNumber(number);
        return VE_OK;
    }
    if ((fOptions & kStrict) != 0) return _ThrowInvalidToken(_TokenText(), expected);
    out.SetString(text, length);
    return VE_OK;
}

namespace {
// A date text read by VTime (RFC 3339, "!!" marks dropped); an unreadable one gives null.
void ReadDateText(const UniChar* text, int32 length, VJSONValue& out) {
    VString date;
    date.FromUniString(text, length);
    VTime time;
    time.FromXMLString(date);
    out.SetTime(time);
}
} // namespace

void VJSONImporter::_QuotedToValue(VJSONValue& out) {
    const UniChar* text = _TokenUnits();
    int32 length = fToken.fLength;
    bool isDate = false;
    if ((fOptions & kMarkedDates) != 0) {
        if (fAnyDate) {
            if (IsNonAmbiguousDate(text, length)) {
                ReadDateText(text, length, out);
                isDate = true;
            }
        } else if (length >= 4 && text[0] == u'!' && text[1] == u'!' && text[length - 2] == u'!' &&
                   text[length - 1] == u'!') {
            ReadDateText(text + 2, length - 4, out);
            isDate = true;
        }
    }
    if ((fOptions & kISODates) != 0 && IsISODate(text, length)) {
        ReadDateText(text, length, out);
        isDate = true;
    }
    if (isDate) return;
    out.SetString(text, length);
}

// ---- Bags

VError VJSONImporter::JSONObjectToBag(VValueBag& bag) {
    try {
        VError err = VE_OK;
        JsonToken token = _Scan(&err);
        if (token != jsonBeginObject) return err != VE_OK ? err : _ThrowInvalidToken(token, "{");
        return _ReadBagObject(bag);
    } catch (const std::bad_alloc&) {
        return VE_MEMORY_FULL;
    }
}

void VJSONImporter::_SkipSeparator() {
    // Only a comma is taken: any other token is left for the next scan.
    const UniChar* p = fCursor;
    while (p < fEnd && *p < 0x21)
        ++p;
    if (p < fEnd && *p == u',') _Scan(nullptr);
}

VError VJSONImporter::_ReadBagObject(VValueBag& bag) {
    VError err = VE_OK;
    if (!_EnterContainer(err)) return err;
    bool first = true;
    for (;; first = false) {
        JsonToken token = _Scan(&err);
        if (err != VE_OK || token == jsonNone || token == jsonEndObject) break;
        if (token != jsonString) {
            err = _ThrowInvalidToken(token, first ? "\" }" : "\"");
            break;
        }
        const UniChar* name = fToken.fText != nullptr ? fToken.fText : fStart;
        const bool isCData = Equals(name, fToken.fLength, kCDataJSONName);
        const bool isBinary = fToken.fLength == sBinaryObjectPropertyName.GetLength() &&
                              SameUnits(name, sBinaryObjectPropertyName.GetCPointer(), fToken.fLength);
        const StPackedDictionaryKey key(_KeyString());
        token = _Scan(&err);
        if (token != jsonAssigner) {
            if (err == VE_OK) err = _ThrowInvalidToken(_GetStartTokenFirstChar(), ":");
            break;
        }
        token = _Scan(&err);
        if (token == jsonBeginObject) {
            auto child = VRefPtr<VValueBag>::Adopt(new VValueBag);
            child->SetBool(kObjectUnicName, true);
            err = _ReadBagObject(*child);
            if (err != VE_OK) break;
            bag.AddElement(key, child.Get());
        } else if (token == jsonBeginArray) {
            err = _ReadBagArray(bag, key);
            if (err != VE_OK) break;
        } else if (token == jsonString && isCData) {
            fScratch.FromUniString(fToken.fText != nullptr ? fToken.fText : fStart, fToken.fLength);
            bag.SetString(VValueBag::CDataAttributeName(), fScratch);
        } else if (token == jsonString && isBinary) {
            VJSONValue decoded;
            err = ReadBinaryObject(fToken.fText != nullptr ? fToken.fText : fStart, fToken.fLength, decoded);
            if (err == VE_OK) err = bag.FromJSONValue(decoded);
            if (err != VE_OK) break;
        } else if (token == jsonString) {
            _SetBagScalar(bag, key);
        } else {
            if (err == VE_OK) err = _ThrowInvalidToken(token, kExpectedValue);
            break;
        }
        _SkipSeparator();
    }
    --fDepth;
    return err;
}

VError VJSONImporter::_ReadBagArray(VValueBag& bag, const StPackedDictionaryKey& key) {
    // Every token up to "]" is an item: arrays inside arrays are not read as such.
    for (;;) {
        VError err = VE_OK;
        JsonToken token = _Scan(&err);
        if (err != VE_OK) return err;
        if (token == jsonNone || token == jsonEndArray) return VE_OK;
        auto child = VRefPtr<VValueBag>::Adopt(new VValueBag);
        if (token == jsonBeginObject) {
            err = _ReadBagObject(*child);
            if (err != VE_OK) return err;
        } else {
            _SetBagScalar(*child, kFakeArrayElementName); // punctuation has an empty text
        }
        bag.AddElement(key, child.Get());
        _SkipSeparator();
    }
}

void VJSONImporter::_SetBagScalar(VValueBag& bag, const StPackedDictionaryKey& key) {
    const UniChar* text = fToken.fText != nullptr ? fToken.fText : fStart;
    const int32 length = fToken.fLength;
    fScratch.FromUniString(text, length);
    if (fToken.fQuoted) {
        // Dates of the form the flag selects, whatever the date options; an impossible date stays text.
        if (fAnyDate ? IsNonAmbiguousDate(text, length) : IsISODate(text, length)) {
            VTime time;
            if (time.FromXMLString(fScratch) && !time.IsNull() && !time.IsZeroDate()) {
                bag.SetAttribute(key, time);
                return;
            }
        }
        bag.SetString(key, fScratch);
        return;
    }
    if (Equals(text, length, "null")) {
        VString null;
        null.SetNull(true);
        bag.SetAttribute(key, null);
        return;
    }
    if (Equals(text, length, "true") || Equals(text, length, "false")) {
        bag.SetBool(key, length == 4);
        return;
    }
    // Only plain integers that fit are integers: "1E+21", "-0.5" and larger integers are reals.
    int64 integer = 0;
    if (ReadLong8Word(text, length, integer)) {
        bag.SetLong8(key, integer);
        return;
    }
    bag.SetReal(key, IsNumberWord(text, length) ? ReadNumber(text, length) : fScratch.GetReal());
}

} // namespace vela
