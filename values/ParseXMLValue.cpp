#include "values/ParseXMLValue.h"

#include "core/VString.h"
#include "intl/VIntlMgr.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VUUID.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <limits>
#include <string>

namespace vela {

namespace {

constexpr UniChar kMinusSign = 0x2212;

bool IsDigit(UniChar c) noexcept {
    return c >= u'0' && c <= u'9';
}

int32 HexDigit(UniChar c) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsMinus(UniChar c) noexcept {
    return c == u'-' || c == kMinusSign;
}

bool Equals(const UniChar* text, int32 length, const char* word) noexcept {
    int32 i = 0;
    for (; i < length && word[i] != 0; ++i)
        if (text[i] != UniChar(uint8(word[i]))) return false;
    return i == length && word[i] == 0;
}

locale_t NumericLocale() noexcept {
    static const locale_t sLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    return sLocale;
}

// The shape of a decimal number: digits, "." and at least one digit, "e" or "E", a sign and at least one digit.
struct NumberShape {
    bool fIsNumber = false;
    bool fIsReal = false; // a fraction or an exponent
};

NumberShape ShapeOf(const UniChar* text, int32 length) noexcept {
    NumberShape shape;
    int32 i = 0;
    while (i < length && IsDigit(text[i]))
        ++i;
    if (i == 0) return shape;
    if (i < length && text[i] == u'.') {
        const int32 first = ++i;
        while (i < length && IsDigit(text[i]))
            ++i;
        if (i == first) return shape;
        shape.fIsReal = true;
    }
    if (i < length && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < length && (IsMinus(text[i]) || text[i] == u'+')) ++i;
        const int32 first = i;
        while (i < length && IsDigit(text[i]))
            ++i;
        if (i == first) return shape;
        shape.fIsReal = true;
    }
    shape.fIsNumber = i == length;
    return shape;
}

// The real of a number's text (all of it: nothing is cut), null when the conversion is out of range.
VValueSingle* NewReal(const UniChar* text, int32 length, bool negative) {
    std::string bytes;
    bytes.reserve(size_t(length) + 1);
    if (negative) bytes.push_back('-');
    for (int32 i = 0; i < length; ++i)
        bytes.push_back(text[i] == kMinusSign ? '-' : char(text[i])); // ASCII: the shape was checked
    errno = 0;
    char* end = nullptr;
    const locale_t locale = NumericLocale();
    const double value =
        locale != locale_t(0) ? strtod_l(bytes.c_str(), &end, locale) : std::strtod(bytes.c_str(), &end);
    if (errno == ERANGE) return nullptr;
    return new VReal(value);
}

// The long or 64-bit long of plain digits, null when the magnitude does not fit.
VValueSingle* NewInteger(const UniChar* text, int32 length, bool negative) {
    int32 first = 0;
    while (first < length - 1 && text[first] == u'0')
        ++first;
    constexpr int32 kMaxDigits = std::numeric_limits<int64>::digits10 + 1; // 19: up to 2^63 - 1
    if (length - first > kMaxDigits) return nullptr;
    uint64 magnitude = 0;
    for (int32 i = first; i < length; ++i)
        magnitude = magnitude * 10 + uint64(text[i] - u'0');
    if (magnitude < (uint64(1) << 31)) return new VLong(int32(negative ? -int64(magnitude) : int64(magnitude)));
    // Larger magnitudes are 64-bit longs only when written as such: no leading zeros.
    if (first > 0 || magnitude > uint64(std::numeric_limits<int64>::max())) return nullptr;
    return new VLong8(negative ? -int64(magnitude) : int64(magnitude));
}

} // namespace

bool ParseXMLUUID(const UniChar* text, int32 length, VUUIDBuffer& out) noexcept {
    if (text == nullptr || length < VUUID::kTextLength) return false;
    int32 i = 0;
    if (text[0] == u'{' && text[length - 1] == u'}') { // braces come in pairs
        i = 1;
        --length;
    }
    int32 digits = 0;
    for (; i < length; ++i) {
        const int32 value = HexDigit(text[i]);
        if (value >= 0) {
            if (digits == VUUID::kTextLength) return false;
            uint8& byte = out.fBytes[digits / 2];
            byte = (digits % 2 == 0) ? uint8(value << 4) : uint8(byte | value);
            ++digits;
        } else if (!IsMinus(text[i]) || digits == 0 || digits == VUUID::kTextLength) {
            return false;
        }
    }
    return digits == VUUID::kTextLength;
}

VValueSingle* ParseXMLValue(const VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 begin = 0;
    int32 end = text.GetLength();
    const VIntlMgr* intl = VIntlMgr::GetCurrent();
    while (begin < end && intl->IsSpace(units[begin]))
        ++begin;
    while (end > begin && intl->IsSpace(units[end - 1]))
        --end;

    bool sign = false;
    bool negative = false;
    if (begin < end && (IsMinus(units[begin]) || units[begin] == u'+')) {
        sign = true;
        negative = units[begin] != u'+';
        ++begin;
    }
    const UniChar* body = units + begin;
    const int32 length = end - begin;

    if ((!sign || negative) && Equals(body, length, "INF"))
        return new VReal(negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity());
    if (!sign) {
        if (Equals(body, length, "NaN")) return new VReal(std::numeric_limits<double>::quiet_NaN());
        if (Equals(body, length, "true")) return new VBoolean(1);
        if (Equals(body, length, "false")) return new VBoolean(0);
    }

    const NumberShape shape = ShapeOf(body, length);
    if (shape.fIsNumber) {
        VValueSingle* number = shape.fIsReal ? NewReal(body, length, negative) : NewInteger(body, length, negative);
        if (number != nullptr) return number;
    }

    // Identifiers are tried only where one may begin: a digit, "f" or "{" (not "a" to "e": words are likelier).
    if (!sign && length > 0 && (IsDigit(body[0]) || body[0] == u'f' || body[0] == u'{')) {
        VUUIDBuffer buffer;
        if (ParseXMLUUID(body, length, buffer)) return new VUUID(buffer);
    }
    return new VString(text);
}

} // namespace vela
