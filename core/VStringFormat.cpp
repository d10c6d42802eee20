#include "core/VStringFormat.h"

#include "core/VCppMemMgr.h"
#include "core/VRealText.h"
#include "core/VStringUnits.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <locale.h>
#include <memory>
#include <string>
#include <type_traits>

namespace vela {

using Private::IsDigit;

namespace {

// Own buffers at least this large are given up when a string is emptied before formatting.
constexpr int32 kKeptCapacity = 33;
// The formatted text is staged here first, so that an argument may be the string being formatted.
constexpr int32 kStagedUnits = 255;
// A UTF-16 unit never takes more than 3 bytes of UTF-8: more bytes cannot fit any string.
constexpr size_t kMaxFormattedBytes = size_t(VString::kMaxLength) * 3;
// Precision beyond which the fast real conversions hand over to the C library.
constexpr int64 kFastPrecisionLimit = 1000;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The locale of every C library call here: POSIX numbers, UTF-8 characters for %lc and %ls when the
// system has them. Made once; (locale_t)0 when it cannot be made (the calls then use the thread's locale).
locale_t FormatLocale() noexcept {
    static const locale_t sLocale = [] {
        locale_t base = newlocale(LC_ALL_MASK, "C", locale_t(0));
        if (base == locale_t(0)) return base;
        locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
        return utf8 != locale_t(0) ? utf8 : base;
    }();
    return sLocale;
}

// The number of decimal digits of value (1 for 0).
int32 CountDigits(uint64 value) noexcept {
    static constexpr auto kPowers = [] {
        std::array<uint64, 20> powers{};
        uint64 power = 1;
        for (uint64& entry : powers) {
            entry = power;
            power *= 10;
        }
        return powers;
    }();
    // log10 from the bit width (1233 / 4096 ~ log10(2)), corrected by one comparison.
    int32 guess = int32(((64 - __builtin_clzll(value | 1)) * 1233) >> 12);
    return guess + ((value | 1) >= kPowers[size_t(guess)] ? 1 : 0);
}

// Two UTF-16 digits per entry, as one 32-bit store (the tens digit at the lower address).
constexpr auto kUnitPairs = [] {
    std::array<uint32, 100> pairs{};
    for (uint32 i = 0; i < 100; ++i)
        pairs[i] = (uint32('0' + i / 10)) | (uint32('0' + i % 10) << 16);
    return pairs;
}();

inline void PutPair(UniChar* at, uint32 value) noexcept {
    std::memcpy(at, &kUnitPairs[value], sizeof(uint32));
}

// Writes the decimal digits of value just before end: four per division while the value is wide, then in
// 32-bit arithmetic, which is cheaper. Inlined: the call was a sixth of int_to_text's instructions (callgrind).
[[gnu::always_inline]] inline void WriteDigitsBackwards(UniChar* end, uint64 value) noexcept {
    while (value >= 0x100000000ull) {
        uint64 quotient = value / 10000;
        uint32 rest = uint32(value - quotient * 10000);
        end -= 4;
        PutPair(end, rest / 100);
        PutPair(end + 2, rest % 100);
        value = quotient;
    }
    uint32 small = uint32(value);
    while (small >= 10000) {
        uint32 quotient = small / 10000;
        uint32 rest = small - quotient * 10000;
        end -= 4;
        PutPair(end, rest / 100);
        PutPair(end + 2, rest % 100);
        small = quotient;
    }
    if (small >= 100) {
        end -= 2;
        PutPair(end, small % 100);
        small /= 100;
    }
    if (small >= 10) {
        PutPair(end - 2, small);
    } else {
        end[-1] = UniChar('0' + small);
    }
}

// Appends count units written in place by fill(out); error 107 and no change when the text would be too long
// or no buffer can be had.
template <class Fill> void AppendFilled(VString& text, int32 count, Fill fill) {
    int64 newLength = int64(text.GetLength()) + count;
    if (newLength > VString::kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    int32 length = text.GetLength();
    UniChar* out = text.GetCPointerForWrite(int32(newLength));
    if (out == nullptr) return;
    fill(out + length);
    text.Validate(int32(newLength));
}

uint64 Magnitude(int64 value) noexcept {
    return value < 0 ? 0 - uint64(value) : uint64(value);
}

// Empties a string before it is written from scratch: a shared or large buffer goes back to the inline area,
// a small own one stays.
void ResetForWriting(VString& text) {
    if (text.GetLength() == 0) return;
    if (text.GetSharedBufferRefCount() >= 2 || text.GetCapacity() >= kKeptCapacity) text.EnsureSize(0, false);
    text.Truncate(0);
}

// Appends bytes as UTF-8 (ASCII without a converter); false when memory runs out.
bool AppendUTF8(VString& text, const char* bytes, size_t count) {
    uchar seen = 0;
    for (size_t i = 0; i < count; ++i)
        seen |= uchar(bytes[i]);
    if ((seen & 0x80) != 0) {
        text.AppendBlock(bytes, count, VTC_UTF_8);
        return true;
    }
    if (count > size_t(VString::kMaxLength)) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    int64 expected = int64(text.GetLength()) + int64(count);
    AppendFilled(text, int32(count), [&](UniChar* out) {
        for (size_t i = 0; i < count; ++i)
            out[i] = UniChar(uchar(bytes[i]));
    });
    return text.GetLength() == expected;
}

// A growing byte buffer that starts on the stack.
class ByteSink {
public:
    ByteSink() noexcept = default;
    ~ByteSink() {
        if (fData != fLocal) std::free(fData);
    }
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    // Room for count more bytes behind the data; null (error 107 raised) when it cannot be had.
    char* Reserve(size_t count) {
        if (count <= fCapacity - fSize) return fData + fSize;
        char* grown = nullptr;
        size_t capacity = 0;
        if (count <= kMaxFormattedBytes && fSize + count <= kMaxFormattedBytes) {
            capacity = fCapacity * 2 > fSize + count ? fCapacity * 2 : fSize + count;
            grown = static_cast<char*>(fData == fLocal ? std::malloc(capacity) : std::realloc(fData, capacity));
        }
        if (grown == nullptr) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return nullptr;
        }
        if (fData == fLocal) std::memcpy(grown, fLocal, fSize);
        fData = grown;
        fCapacity = capacity;
        return fData + fSize;
    }
    size_t Room() const noexcept { return fCapacity - fSize; }
    void Commit(size_t count) noexcept { fSize += count; }
    bool Append(const char* bytes, size_t count) {
        char* out = Reserve(count);
        if (out == nullptr) return false;
        std::memcpy(out, bytes, count);
        fSize += count;
        return true;
    }
    bool Append(char c) { return Append(&c, 1); }
    const char* Data() const noexcept { return fData; }
    size_t Size() const noexcept { return fSize; }
    void Reset() noexcept { fSize = 0; }

private:
    char fLocal[256];
    char* fData = fLocal;
    size_t fSize = 0;
    size_t fCapacity = sizeof(fLocal);
};

enum class ELength { kNone, kChar, kShort, kLong, kLongLong, kIntMax, kSize, kPtrDiff, kLongDouble };

// One parsed conversion: "%" flags width "." precision length conversion.
struct Conversion {
    bool fMinus = false, fPlus = false, fSpace = false, fHash = false, fZero = false;
    bool fWidthStar = false, fPrecisionStar = false, fHasPrecision = false;
    int64 fWidth = -1; // -1: none
    int64 fPrecision = 0;
    ELength fLength = ELength::kNone;
    char fConversion = 0;
    bool fValid = true; // false when a width or precision does not fit an int

    bool IsPlain() const noexcept { return !fMinus && !fPlus && !fSpace && !fHash && !fZero && fWidth < 0; }
};

int64 ParseCount(const char*& p) noexcept {
    int64 value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= INT_MAX) value = value * 10 + (*p - '0');
        ++p;
    }
    return value;
}

// Parses behind the "%"; p ends on the conversion character (or the terminating zero).
Conversion ParseConversion(const char*& p) noexcept {
    Conversion c;
    for (;; ++p) {
        switch (*p) {
        case '-':
            c.fMinus = true;
            continue;
        case '+':
            c.fPlus = true;
            continue;
        case ' ':
            c.fSpace = true;
            continue;
        case '#':
            c.fHash = true;
            continue;
        case '0':
            c.fZero = true;
            continue;
        case '\'':
            continue; // grouping: nothing to group in the POSIX locale
        case 'I':
            continue; // locale digits: the POSIX locale has none
        default:
            break;
        }
        break;
    }
    if (*p == '*') {
        c.fWidthStar = true;
        ++p;
    } else if (*p >= '1' && *p <= '9') {
        c.fWidth = ParseCount(p);
        c.fValid = c.fWidth <= INT_MAX;
    }
    if (*p == '.') {
        ++p;
        c.fHasPrecision = true;
        if (*p == '*') {
            c.fPrecisionStar = true;
            ++p;
        } else {
            c.fPrecision = ParseCount(p);
            c.fValid = c.fValid && c.fPrecision <= INT_MAX;
        }
    }
    static constexpr struct {
        const char* fText;
        ELength fLength;
    } kLengths[] = {{"hh", ELength::kChar},     {"h", ELength::kShort},    {"ll", ELength::kLongLong},
                    {"l", ELength::kLong},      {"q", ELength::kLongLong}, {"j", ELength::kIntMax},
                    {"z", ELength::kSize},      {"Z", ELength::kSize},     {"t", ELength::kPtrDiff},
                    {"L", ELength::kLongDouble}};
    for (const auto& length : kLengths) {
        if (*p != length.fText[0]) continue;
        size_t size = std::strlen(length.fText);
        if (std::strncmp(p, length.fText, size) == 0) {
            c.fLength = length.fLength;
            p += size;
            break;
        }
    }
    c.fConversion = *p;
    return c;
}

bool IsKnownConversion(char c) noexcept {
    return c != 0 && std::strchr("diouxXcspneEfFgGaSAV%", c) != nullptr;
}

int64 ReadSigned(va_list& args, ELength length) {
    switch (length) {
    case ELength::kChar:
        return static_cast<signed char>(va_arg(args, int));
    case ELength::kShort:
        return static_cast<short>(va_arg(args, int));
    case ELength::kLong:
        return va_arg(args, long);
    case ELength::kLongLong:
    case ELength::kLongDouble:
        return va_arg(args, long long);
    case ELength::kIntMax:
        return va_arg(args, intmax_t);
    case ELength::kSize:
        return va_arg(args, std::make_signed_t<size_t>);
    case ELength::kPtrDiff:
        return va_arg(args, ptrdiff_t);
    default:
        return va_arg(args, int);
    }
}

uint64 ReadUnsigned(va_list& args, ELength length) {
    switch (length) {
    case ELength::kChar:
        return static_cast<unsigned char>(va_arg(args, unsigned int));
    case ELength::kShort:
        return static_cast<unsigned short>(va_arg(args, unsigned int));
    case ELength::kLong:
        return va_arg(args, unsigned long);
    case ELength::kLongLong:
    case ELength::kLongDouble:
        return va_arg(args, unsigned long long);
    case ELength::kIntMax:
        return va_arg(args, uintmax_t);
    case ELength::kSize:
        return va_arg(args, size_t);
    case ELength::kPtrDiff:
        return va_arg(args, std::make_unsigned_t<ptrdiff_t>);
    default:
        return va_arg(args, unsigned int);
    }
}

// The engine's state for one run: the bytes not yet decoded, and the C locale switched on demand.
class Formatter {
public:
    explicit Formatter(VString& out) noexcept : fOut(out) {}
    ~Formatter() {
        if (fSwitched) uselocale(fPrevious);
    }
    Formatter(const Formatter&) = delete;
    Formatter& operator=(const Formatter&) = delete;

    bool Run(const char* format, va_list args);

private:
    bool _Convert(Conversion& c, va_list& args);
    bool _ConvertInteger(const Conversion& c, va_list& args);
    bool _ConvertReal(const Conversion& c, va_list& args);
    bool _ConvertString(const Conversion& c, va_list& args);
    bool _ConvertObject(const Conversion& c, va_list& args);
    bool _Flush();
    void _BuildCFormat(const Conversion& c, const char* length, char* cFormat) const noexcept;
    template <class T> bool _FormatWithC(const Conversion& c, const char* length, T value);

    VString& fOut;
    ByteSink fBytes;
    bool fSwitched = false;
    locale_t fPrevious = locale_t(0);
};

bool Formatter::Run(const char* format, va_list args) {
    va_list walk;
    va_copy(walk, args);
    bool done = true;
    const char* p = format;
    while (done && *p != 0) {
        const char* percent = std::strchr(p, '%');
        size_t plain = percent != nullptr ? size_t(percent - p) : std::strlen(p);
        done = fBytes.Append(p, plain);
        if (percent == nullptr || !done) break;
        p = percent + 1;
        Conversion c = ParseConversion(p);
        if (!IsKnownConversion(c.fConversion)) {
            // Not a conversion we know: written as it stands, no argument taken.
            const char* end = *p != 0 ? p + 1 : p;
            done = fBytes.Append(percent, size_t(end - percent));
            p = end;
            continue;
        }
        ++p;
        done = _Convert(c, walk);
    }
    va_end(walk);
    return done && _Flush();
}

bool Formatter::_Flush() {
    bool done = AppendUTF8(fOut, fBytes.Data(), fBytes.Size());
    fBytes.Reset();
    return done;
}

bool Formatter::_Convert(Conversion& c, va_list& args) {
    if (c.fConversion == '%') return fBytes.Append('%');
    // Arguments are taken in order: the '*' width, the '*' precision, then the value.
    if (c.fWidthStar) {
        int width = va_arg(args, int);
        if (width == INT_MIN) c.fValid = false;
        if (width < 0) c.fMinus = true;
        c.fWidth = width < 0 ? -int64(width) : int64(width);
    }
    if (c.fPrecisionStar) {
        int precision = va_arg(args, int);
        c.fHasPrecision = precision >= 0;
        c.fPrecision = precision < 0 ? 0 : precision;
    }
    switch (c.fConversion) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        return _ConvertInteger(c, args);
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
        return _ConvertReal(c, args);
    case 'c':
    case 's':
        return _ConvertString(c, args);
    case 'p': {
        void* pointer = va_arg(args, void*);
        return !c.fValid || _FormatWithC(c, "", pointer);
    }
    case 'n':
        // Writing through an argument is refused: the pointer is taken and nothing is stored.
        (void)va_arg(args, void*);
        return true;
    default:
        return _ConvertObject(c, args);
    }
}

bool Formatter::_ConvertInteger(const Conversion& c, va_list& args) {
    bool isSigned = c.fConversion == 'd' || c.fConversion == 'i';
    int64 signedValue = isSigned ? ReadSigned(args, c.fLength) : 0;
    uint64 unsignedValue = isSigned ? 0 : ReadUnsigned(args, c.fLength);
    if (!c.fValid) return true;
    if (!c.IsPlain() || c.fHasPrecision) {
        return isSigned ? _FormatWithC(c, "ll", static_cast<long long>(signedValue))
                        : _FormatWithC(c, "ll", static_cast<unsigned long long>(unsignedValue));
    }
    char* out = fBytes.Reserve(24);
    if (out == nullptr) return false;
    int base = c.fConversion == 'o' ? 8 : (c.fConversion == 'x' || c.fConversion == 'X' ? 16 : 10);
    std::to_chars_result result =
        isSigned ? std::to_chars(out, out + 24, signedValue) : std::to_chars(out, out + 24, unsignedValue, base);
    if (c.fConversion == 'X') {
        for (char* q = out; q < result.ptr; ++q)
            if (*q >= 'a' && *q <= 'f') *q = char(*q - 'a' + 'A');
    }
    fBytes.Commit(size_t(result.ptr - out));
    return true;
}

bool Formatter::_ConvertReal(const Conversion& c, va_list& args) {
    if (c.fLength == ELength::kLongDouble) {
        long double value = va_arg(args, long double);
        return !c.fValid || _FormatWithC(c, "L", value);
    }
    double value = va_arg(args, double);
    if (!c.fValid) return true;
    int64 precision = c.fHasPrecision ? c.fPrecision : 6;
    bool fast = c.IsPlain() && c.fConversion != 'a' && std::isfinite(value) && precision <= kFastPrecisionLimit;
    if (!fast) return _FormatWithC(c, "", value);

    // With a precision, to_chars and the C library both round the exact binary value half to even: same text.
    std::chars_format form = std::chars_format::general;
    switch (c.fConversion) {
    case 'f':
    case 'F':
        form = std::chars_format::fixed;
        break;
    case 'e':
    case 'E':
        form = std::chars_format::scientific;
        break;
    default:
        break;
    }
    size_t room = size_t(precision) + 330; // the 309 integer digits of the largest double, sign, point, exponent
    char* out = fBytes.Reserve(room);
    if (out == nullptr) return false;
    std::to_chars_result result = std::to_chars(out, out + room, value, form, int(precision));
    if (result.ec != std::errc()) return _FormatWithC(c, "", value);
    if (c.fConversion == 'E' || c.fConversion == 'G') {
        for (char* q = out; q < result.ptr; ++q)
            if (*q == 'e') *q = 'E';
    }
    fBytes.Commit(size_t(result.ptr - out));
    return true;
}

bool Formatter::_ConvertString(const Conversion& c, va_list& args) {
    if (c.fConversion == 'c') {
        if (c.fLength == ELength::kLong) {
            wint_t wide = va_arg(args, wint_t);
            return !c.fValid || _FormatWithC(c, "l", wide);
        }
        int value = va_arg(args, int);
        if (!c.fValid) return true;
        if (c.IsPlain()) return fBytes.Append(char(uchar(value)));
        return _FormatWithC(c, "", value);
    }
    if (c.fLength == ELength::kLong) {
        const wchar_t* wide = va_arg(args, const wchar_t*);
        return !c.fValid || _FormatWithC(c, "l", wide);
    }
    const char* text = va_arg(args, const char*);
    if (!c.fValid) return true;
    if (c.IsPlain() && !c.fHasPrecision) {
        if (text == nullptr) text = "(null)";
        return fBytes.Append(text, std::strlen(text));
    }
    return _FormatWithC(c, "", text);
}

bool Formatter::_ConvertObject(const Conversion& c, va_list& args) {
    const void* argument = va_arg(args, const void*);
    if (!_Flush()) return false;
    const auto* object = static_cast<const VObject*>(VCppMemMgr::CheckVObject(argument));
    VString& out = fOut;
    if (object == nullptr) {
        out.AppendCString("@@invalid VObject@@");
    } else if (c.fConversion == 'S') {
        const auto* text = dynamic_cast<const VString*>(object);
        if (text != nullptr) {
            out.AppendString(*text);
        } else {
            out.AppendCString("@@invalid VString@@");
        }
    } else if (c.fConversion == 'A') {
        const auto* value = dynamic_cast<const VValueSingle*>(object);
        if (value != nullptr) {
            out.AppendValue(*value);
        } else {
            out.AppendCString("@@invalid VValueSingle@@");
        }
    } else {
        VString dump;
        object->DebugDump(dump);
        out.AppendString(dump);
    }
    return true;
}

void Formatter::_BuildCFormat(const Conversion& c, const char* length, char* cFormat) const noexcept {
    char* p = cFormat;
    *p++ = '%';
    if (c.fMinus) *p++ = '-';
    if (c.fPlus) *p++ = '+';
    if (c.fSpace) *p++ = ' ';
    if (c.fHash) *p++ = '#';
    if (c.fZero) *p++ = '0';
    if (c.fWidth >= 0) p = std::to_chars(p, p + 12, c.fWidth).ptr;
    if (c.fHasPrecision) {
        *p++ = '.';
        p = std::to_chars(p, p + 12, c.fPrecision).ptr;
    }
    while (*length != 0)
        *p++ = *length++;
    *p++ = c.fConversion;
    *p = 0;
}

// One conversion by the C library, into the bytes: measured when the room is short, so nothing is cut.
template <class T> bool Formatter::_FormatWithC(const Conversion& c, const char* length, T value) {
    char cFormat[48];
    _BuildCFormat(c, length, cFormat);
    if (!fSwitched && FormatLocale() != locale_t(0)) {
        fPrevious = uselocale(FormatLocale());
        fSwitched = true;
    }
    if (fBytes.Reserve(64) == nullptr) return false;
    size_t room = fBytes.Room();
    int written = std::snprintf(fBytes.Reserve(0), room, cFormat, value);
    if (written < 0) return true; // not representable (a wide character without UTF-8): nothing written
    if (size_t(written) >= room) {
        char* out = fBytes.Reserve(size_t(written) + 1);
        if (out == nullptr) return false;
        std::snprintf(out, size_t(written) + 1, cFormat, value);
    }
    fBytes.Commit(size_t(written));
    return true;
}

// Hexadecimal digits of value; with prefix, zero-padded to the width class of its type and led by "0x".
template <class T> void WriteHex(VString& text, T value, bool prefix) {
    static_assert(std::is_unsigned_v<T>);
    UniChar buffer[2 + 2 * sizeof(T)];
    UniChar* end = buffer + sizeof(buffer) / sizeof(UniChar);
    UniChar* p = end;
    do {
        *--p = UniChar(kHexDigits[value & 0xF]);
        value = T(value >> 4);
    } while (value != 0);
    if (prefix) {
        int64 digits = end - p;
        int64 padded = 2;
        if constexpr (sizeof(T) == 8) {
            padded = digits <= 4 ? 4 : (digits <= 8 ? 8 : 16);
        } else if constexpr (sizeof(T) == 4) {
            padded = digits <= 4 ? 4 : 8;
        }
        while (end - p < padded)
            *--p = u'0';
        *--p = u'x';
        *--p = u'0';
    }
    ResetForWriting(text);
    if (!text.EnsureSize(int32(sizeof(buffer) / sizeof(UniChar)), false)) {
        text.Clear();
        return;
    }
    text.AppendUniChars(p, int32(end - p));
}

// Texts shorter than this are read from a stack buffer of this size.
constexpr int32 kShortRealUnits = 64;

// C's white space, which a real's text may start with.
constexpr bool IsCSpace(UniChar c) noexcept {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// The text of a C real as bytes, behind its leading white space. Units outside ASCII become 0: no real
// contains one, so every reading stops there as it would on the UTF-8 form.
class RealText {
public:
    RealText(const UniChar* text, int32 length) {
        int32 start = 0;
        while (start < length && IsCSpace(text[start]))
            ++start;
        const UniChar* units = text + start;
        size_t count = size_t(length - start);
        char* out = fLocal;
        if (count >= sizeof(fLocal)) {
            // A long text: only its leading run of characters that may belong to a real is copied.
            size_t run = 0;
            while (run < count && IsRealChar(units[run]))
                ++run;
            count = run;
            if (count >= sizeof(fLocal)) {
                fHeap = std::make_unique_for_overwrite<char[]>(count + 1);
                out = fHeap.get();
            }
        }
        Private::NarrowAsciiUnits(units, count, out);
        out[count] = 0;
        fData = out;
        fSize = count;
    }
    const char* Begin() const noexcept { return fData; }
    const char* End() const noexcept { return fData + fSize; }

private:
    static bool IsRealChar(UniChar c) noexcept {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'.' ||
               c == u'+' || c == u'-' || c == u'(' || c == u')' || c == u'_';
    }

    char fLocal[128];
    std::unique_ptr<char[]> fHeap; // only for texts longer than the local buffer
    const char* fData = fLocal;
    size_t fSize = 0;
};

// The C library's reading, for the rare texts the fast reader leaves to it (hexadecimal, out of range).
double ParseRealWithC(const char* text, bool* overflow) {
    errno = 0;
    locale_t locale = FormatLocale();
    double value = locale != locale_t(0) ? strtod_l(text, nullptr, locale) : std::strtod(text, nullptr);
    if (overflow != nullptr) *overflow = errno == ERANGE && (value == 0 || std::isinf(value));
    return value;
}

// Where a real's text leaves its sign, read on its units or on its bytes alike: the offset of what from_chars
// reads, or kNoReal (the value is 0) or kHexReal (C reads it).
constexpr int32 kNoReal = -1;
constexpr int32 kHexReal = -2;
template <class Char> int32 ReadRealStart(const Char* p, const Char* end, bool& negative) noexcept {
    const Char* start = p;
    negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end || *p == '+' || *p == '-') return kNoReal;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return kHexReal;
    return int32(p - start);
}

// The real of the bytes begin..end, whose start ReadRealStart found.
[[gnu::always_inline]] inline double ReadReal(const char* begin, const char* end, int32 start, bool negative,
                                              bool* overflow) {
    if (start == kNoReal) return 0;
    if (start == kHexReal) return ParseRealWithC(begin, overflow);
    double value = 0;
    std::from_chars_result result = std::from_chars(begin + start, end, value);
    if (result.ec == std::errc::result_out_of_range) return ParseRealWithC(begin, overflow);
    if (result.ec != std::errc()) return 0;
    return negative ? -value : value;
}

// The inverse of an odd number modulo 2^32 (Newton's iteration, each step doubling the bits that are right).
constexpr uint32 InverseModulo32(uint32 odd) noexcept {
    uint32 inverse = odd;
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - odd * inverse;
    return inverse;
}

// Appends the run of decimal digits at p to significand, digits counting them; the end of the run, or nullptr
// past 19 digits (where the significand could overflow). Eight units a step: one by one, the digits of a
// 17-digit text cost more than from_chars saved on the short ones (callgrind, text_to_real).
[[gnu::always_inline]] inline const UniChar* ReadDigitRun(const UniChar* p, const UniChar* end, uint64& significand,
                                                          int32& digits) noexcept {
#if defined(__SSE2__)
    while (end - p >= 8) {
        const __m128i values =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi16(u'0'));
        const __m128i isDigit = _mm_cmpeq_epi16(_mm_subs_epu16(values, _mm_set1_epi16(9)), __m128i{});
        const int run = std::countr_one(unsigned(_mm_movemask_epi8(isDigit))) / 2;
        if (run == 0) return p;
        if (digits + run > 19) return nullptr;
        // The run's digits as one number, the lanes past it zero: the run times 10^(8 - run).
        const __m128i kept =
            _mm_and_si128(values, _mm_cmplt_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(short(run))));
        const __m128i pairs = _mm_madd_epi16(kept, _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1));
        const __m128i quads = _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), _mm_setr_epi16(100, 1, 100, 1, 0, 0, 0, 0));
        const uint32 eight =
            uint32(_mm_cvtsi128_si32(quads)) * 10000 + uint32(_mm_cvtsi128_si32(_mm_srli_si128(quads, 4)));
        static constexpr uint32 kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        if (run == 8) {
            significand = significand * kPowers[8] + eight;
            digits += 8;
            p += 8;
            continue;
        }
        // An exact division by 10^k: a shift by k and a product with the inverse of 5^k.
        static constexpr uint32 kFifthInverses[] = {
            InverseModulo32(1),     InverseModulo32(5),     InverseModulo32(25),
            InverseModulo32(125),   InverseModulo32(625),   InverseModulo32(3125),
            InverseModulo32(15625), InverseModulo32(78125), InverseModulo32(390625)};
        const int zeros = 8 - run;
        significand = significand * kPowers[run] + ((eight >> zeros) * kFifthInverses[zeros]);
        digits += run;
        return p + run;
    }
#endif
    for (; p < end && IsDigit(*p); ++p) {
        if (++digits > 19) return nullptr;
        significand = significand * 10 + uint64(*p - u'0');
    }
    return p;
}

// What the 64-bit significand of long double reads exactly: the powers of ten it holds computed in few enough
// roundings that a result within kExtendedMargin units of its last place can be told on which side of every midpoint
// between two doubles the exact value lies.
constexpr int32 kExtendedLowest = -300;
constexpr int32 kExtendedHighest = 280;
constexpr uint64 kExtendedMargin = 32;

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
// False where long double arithmetic keeps 53 bits only (under an emulator such as a memory checker), which closes
// the long double way; set when the library loads, so that the check costs no guard on each reading.
const bool gLongDoubleHas64Bits = [] {
    volatile long double big = 9223372036854775808.0L; // 2^63
    volatile long double one = 1;
    return big + one - big == one;
}();
#endif

// A significand of up to 19 digits times a power of ten, read through long double: the result rounds once to 64
// bits, the power of ten carries at most a dozen roundings (exact up to 10^27, then products by 10^27), so it is
// within 16 units of the 64-bit last place of the exact value. Rounding it to 53 bits then gives the correctly
// rounded double unless it lies within the margin of a midpoint, which is left to from_chars. The 17-digit texts
// of shortest output take this way (half the values of text_to_real, which the exact short path alone left to
// from_chars).
bool ReadExtendedReal(uint64 significand, int32 exponent, bool negative, double& value) noexcept {
#if defined(__x86_64__) && LDBL_MANT_DIG == 64
    if (!gLongDoubleHas64Bits || exponent < kExtendedLowest || exponent > kExtendedHighest) return false;
    static constexpr auto kPowers = [] {
        constexpr size_t kCount = size_t(kExtendedHighest - kExtendedLowest + 1);
        std::array<long double, kCount> powers{};
        long double positive[std::max(-kExtendedLowest, kExtendedHighest) + 1] = {};
        for (int32 k = 0; k <= std::max(-kExtendedLowest, kExtendedHighest); ++k)
            positive[k] = k == 0 ? 1.0L : k <= 27 ? positive[k - 1] * 10 : positive[k - 27] * positive[27];
        for (int32 e = kExtendedLowest; e <= kExtendedHighest; ++e)
            powers[size_t(e - kExtendedLowest)] = e >= 0 ? positive[e] : 1.0L / positive[-e];
        return powers;
    }();
    const long double wide = (long double)significand * kPowers[size_t(exponent - kExtendedLowest)];
    uint64 bits = 0; // the x87 format's explicit 64-bit significand comes first
    std::memcpy(&bits, &wide, sizeof(bits));
    if ((bits & 0x7FF) - (0x400 - kExtendedMargin) <= 2 * kExtendedMargin) return false;
    const double magnitude = double(wide);
    value = negative ? -magnitude : magnitude;
    return true;
#else
    (void)significand, (void)exponent, (void)negative, (void)value;
    return false;
#endif
}

// The exact short path, read straight from the units: a significand of at most 19 digits within 2^53 and a
// decimal exponent within 22 make two exact doubles whose one product or quotient rounds once, so the value is
// from_chars's (Clinger); a larger exponent up to 37 moves into the significand while it stays within 2^53.
// from_chars alone was 283 of the peer's 286 instructions a conversion, so narrowing and from_chars could not
// match it; with this path and the extended one, text_to_real went from 397 to 263 (callgrind). False for what
// it leaves to from_chars: no digit, more digits, larger exponents, inf, nan. What follows the number is ignored,
// as from_chars leaves it.
bool ReadExactShortReal(const UniChar* p, const UniChar* end, bool negative, double& value) noexcept {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64 kExactLimit = uint64(1) << 53;
    uint64 significand = 0;
    int32 digits = 0;
    p = ReadDigitRun(p, end, significand, digits);
    if (p == nullptr) return false;
    int32 exponent = 0;
    if (p < end && *p == u'.') {
        const UniChar* fraction = ++p;
        p = ReadDigitRun(p, end, significand, digits);
        if (p == nullptr) return false;
        exponent = -int32(p - fraction);
    }
    if (digits == 0) return false;
    if (significand == 0) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    // An exponent without a digit is not part of the number, as for from_chars.
    if (p < end && (*p == u'e' || *p == u'E')) {
        const UniChar* q = p + 1;
        bool negativeExponent = false;
        if (q < end && (*q == u'+' || *q == u'-')) negativeExponent = *q++ == u'-';
        if (q < end && IsDigit(*q)) {
            int32 power = 0;
            for (; q < end && IsDigit(*q); ++q) {
                if (power < 10000) power = power * 10 + (*q - u'0');
            }
            exponent += negativeExponent ? -power : power;
        }
    }
    if (significand > kExactLimit || exponent < -22 || exponent > 22 + 15)
        return ReadExtendedReal(significand, exponent, negative, value);
    if (exponent > 22) {
        const uint64 scale = uint64(kPowers[exponent - 22]);
        if (significand > kExactLimit / scale) return ReadExtendedReal(significand, exponent, negative, value);
        significand *= scale;
        exponent = 22;
    }
    const double magnitude =
        exponent >= 0 ? double(significand) * kPowers[exponent] : double(significand) / kPowers[-exponent];
    value = negative ? -magnitude : magnitude;
    return true;
#else
    (void)p, (void)end, (void)negative, (void)value;
    return false; // products rounded twice through a wider type would not be exact
#endif
}

// A text of kShortRealUnits units or more, read through RealText (apart from the common short texts).
[[gnu::noinline]] double ParseLongReal(const UniChar* text, int32 length, bool* overflow) {
    RealText bytes(text, length);
    bool negative = false;
    int32 start = ReadRealStart(bytes.Begin(), bytes.End(), negative);
    return ReadReal(bytes.Begin(), bytes.End(), start, negative, overflow);
}

// 0-15, or -1 for a character that is not a hexadecimal digit.
int HexDigitValue(UniChar c) noexcept {
    if (IsDigit(c)) return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// True when text starts with "dddd-dd-dd".
bool HasDateShape(const UniChar* text) noexcept {
    for (int32 i = 0; i < 10; ++i) {
        bool dash = i == 4 || i == 7;
        if (dash ? text[i] != u'-' : !IsDigit(text[i])) return false;
    }
    return true;
}

} // namespace

// ---- printf family

void VString::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrintf(format, args);
    va_end(args);
}

void VString::VPrintf(const char* format, va_list args) {
    VStr<kStagedUnits> staged;
    Formatter formatter(staged);
    if (format != nullptr && !formatter.Run(format, args)) return;
    if (staged.IsSharedBuffer()) {
        FromString(staged); // takes the block over: nothing to allocate, nothing to fail
        return;
    }
    // The reset rule and the copy, with the buffer found first so that a failure leaves the old text.
    int32 count = staged.GetLength();
    int32 oldLength = fLength;
    bool giveUp = oldLength > 0 && (GetSharedBufferRefCount() >= 2 || fMaxLength >= kKeptCapacity);
    if (giveUp || !_IsWritableFor(count)) {
        fLength = 0; // a block is sized as for a string filled from empty
        if (!_ReallocBuffer(count, false)) {
            fLength = oldLength;
            return;
        }
    }
    std::memcpy(fString, staged.GetCPointer(), size_t(count) * sizeof(UniChar));
    fLength = count;
    _Modified();
}

void VString::AppendPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    _Printf(format, args);
    va_end(args);
}

void VString::_Printf(const char* format, va_list args) {
    if (format == nullptr) return;
    VStr<kStagedUnits> staged;
    Formatter formatter(staged);
    if (!formatter.Run(format, args)) return;
    AppendString(staged);
}

VString Printf(const char* format, ...) {
    VString text;
    va_list args;
    va_start(args, format);
    text._Printf(format, args);
    va_end(args);
    return text;
}

// ---- Number writers

void VString::AppendLong(int32 value) {
    AppendLong8(value);
}

// The digits go straight into the buffer: a staging copy would be read back before its stores land. The buffer
// is made writable once and the length set directly (AppendFilled's checks twice cost a quarter of the call).
void VString::AppendLong8(int64 value) {
    uint64 magnitude = Magnitude(value);
    int32 sign = value < 0 ? 1 : 0;
    int32 count = CountDigits(magnitude) + sign;
    int32 length = fLength;
    if (int64(length) + count > kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    if (!_MakeWritable(length + count)) return;
    UniChar* out = fString + length;
    WriteDigitsBackwards(out + count, magnitude);
    if (sign != 0) out[0] = u'-';
    fLength = length + count;
    _Modified();
}

void VString::AppendULong8(uint64 value) {
    int32 count = CountDigits(value);
    AppendFilled(*this, count, [&](UniChar* out) { WriteDigitsBackwards(out + count, value); });
}

void VString::FromULong8(uint64 value) {
    ResetForWriting(*this);
    AppendULong8(value);
}

VString VString::ToString(int value) {
    VString text;
    text.AppendLong8(value);
    return text;
}

VString VString::ToString(long value) {
    VString text;
    text.AppendLong8(value);
    return text;
}

VString VString::ToString(long long value) {
    VString text;
    text.AppendLong8(value);
    return text;
}

VString VString::ToString(unsigned long value) {
    VString text;
    text.AppendULong8(value);
    return text;
}

VString VString::ToString(unsigned long long value) {
    VString text;
    text.AppendULong8(value);
    return text;
}

void VString::AppendReal(double value) {
    char bytes[kRealG14TextSize];
    int32 count = FormatRealG14(value, bytes);
    AppendFilled(*this, count, [&](UniChar* out) {
        for (int32 i = 0; i < count; ++i)
            out[i] = UniChar(uchar(bytes[i]));
    });
}

void VString::FromReal(double value) {
    ResetForWriting(*this);
    AppendReal(value);
}

void VString::AppendOsType(uint32 code) {
    const char bytes[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    AppendUTF8(*this, bytes, sizeof(bytes));
}

void VString::FromOsType(uint32 code) {
    ResetForWriting(*this);
    AppendOsType(code);
}

void VString::FromHexLong(int64 value, bool prefix) {
    WriteHex(*this, uint64(value), prefix);
}

void VString::FromHexLong(int32 value, bool prefix) {
    WriteHex(*this, uint32(value), prefix);
}

void VString::FromHexLong(uchar value, bool prefix) {
    WriteHex(*this, value, prefix);
}

void VString::FromHexLong(char value, bool prefix) {
    WriteHex(*this, uchar(value), prefix);
}

void VString::AppendValue(const VValueSingle& value) {
    VStr255 text;
    value.GetString(text);
    AppendString(text);
}

void VString::FromBoolean(uint8 value) {
    ResetForWriting(*this);
    AppendCString(value != 0 ? "true" : "false");
}

void VString::FromByte(int8 value) {
    FromLong8(value);
}

void VString::FromWord(int16 value) {
    FromLong8(value);
}

void VString::FromLong(int32 value) {
    FromLong8(value);
}

void VString::FromLong8(int64 value) {
    ResetForWriting(*this);
    AppendLong8(value);
}

// ---- Number readers

int32 VString::GetLong() const {
    int64 value = GetLong8();
    return value >= INT32_MIN && value <= INT32_MAX ? int32(value) : 0;
}

int16 VString::GetWord() const {
    int64 value = GetLong8();
    return value >= INT16_MIN && value <= INT16_MAX ? int16(value) : 0;
}

int8 VString::GetByte() const {
    int64 value = GetLong8();
    return value >= INT8_MIN && value <= INT8_MAX ? int8(value) : 0;
}

double VString::GetReal() const {
    return GetRealCheckOverflow(nullptr);
}

double VString::GetRealCheckOverflow(bool* overflow) const {
    if (overflow != nullptr) *overflow = false;
    if (fLength >= kShortRealUnits) return ParseLongReal(fString, fLength, overflow);
    // The common short text straight into a stack buffer: RealText's set-up was a fifth of text_to_real's
    // instructions (callgrind).
    int32 start = 0;
    while (start < fLength && IsCSpace(fString[start]))
        ++start;
    const UniChar* units = fString + start;
    int32 count = fLength - start;
    // The sign is read on the units: on the bytes, the reading waited for the narrowing's stores (perf).
    bool negative = false;
    int32 realStart = ReadRealStart(units, units + count, negative);
    if (realStart == kNoReal) return 0;
    double value = 0;
    if (realStart != kHexReal && ReadExactShortReal(units + realStart, units + count, negative, value)) return value;
    char bytes[kShortRealUnits];
    Private::NarrowAsciiUnits(units, size_t(count), bytes);
    bytes[count] = 0;
    return ReadReal(bytes, bytes + count, realStart, negative, overflow);
}

int64 VString::GetHexLong() const noexcept {
    uint64 value = 0;
    for (int32 i = 0; i < fLength; ++i) {
        int digit = HexDigitValue(fString[i]);
        if (digit >= 0) value = value * 16 + uint64(digit);
    }
    return int64(value);
}

uint32 VString::GetOsType() const {
    if (fLength == 0) return 0;
    // Every unit takes at least one byte of UTF-8.
    if (fLength > 4) return 0;
    char bytes[16];
    size_t produced = ToBlock(bytes, sizeof(bytes), VTC_UTF_8, false, false);
    if (produced > 4) return 0;
    uint32 code = 0;
    for (size_t i = 0; i < 4; ++i)
        code = (code << 8) | (i < produced ? uchar(bytes[i]) : uchar(' '));
    return code;
}

bool VString::IsISODate() const noexcept {
    return fLength == 10 && HasDateShape(fString);
}

bool VString::IsNonAmbigousDate() const noexcept {
    return fLength == 14 && fString[0] == u'!' && fString[1] == u'!' && HasDateShape(fString + 2) &&
           fString[12] == u'!' && fString[13] == u'!';
}

} // namespace vela
