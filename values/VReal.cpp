#include "values/VReal.h"

#include "core/VString.h"
#include "values/RealToInteger.h"
#include "values/VCompareOptions.h"
#include "values/VDuration.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace vela {

const VReal::VValueInfo_real VReal::sInfo;

namespace {

// Largest integer below which every integral double is written as an integer: 2^53 - 1.
constexpr double kLargestExactInteger = 9007199254740991.0;

double ReadReal(const void* data) noexcept {
    double value;
    std::memcpy(&value, data, sizeof(value));
    return value;
}

// POSIX number conventions for strtod, whatever the process locale; (locale_t)0 when it cannot be made.
locale_t NumericLocale() noexcept {
    static const locale_t sLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    return sLocale;
}

// Writes the integral, NaN and infinite forms; false for values left to "%.14G".
bool SpecialRealText(double value, VString& out, const char* notANumber, const char* plusInf, const char* minusInf) {
    if (std::isnan(value)) {
        out.FromCString(notANumber);
        return true;
    }
    if (std::isinf(value)) {
        out.FromCString(value > 0 ? plusInf : minusInf);
        return true;
    }
    if (value == std::trunc(value) && std::fabs(value) <= kLargestExactInteger) {
        out.FromLong8(int64(value)); // in range, so the cast is exact; -0.0 gives "0"
        return true;
    }
    return false;
}

} // namespace

VReal::VReal(const double* data, bool init) noexcept {
    if (!init) fValue = ReadReal(data);
}

VReal& VReal::operator=(const VReal& other) {
    if (this != &other) _Set(other.fValue, other.IsNull());
    return *this;
}

const VValueInfo* VReal::GetValueInfo() const {
    return &sInfo;
}

VValue* VReal::Clone() const {
    auto* copy = new VReal(fValue);
    copy->fFlags = fFlags | kDirtyFlag;
    return copy;
}

int8 VReal::GetByte() const {
    return int8(RealToLong(fValue));
}
int16 VReal::GetWord() const {
    return int16(RealToLong(fValue));
}
int32 VReal::GetLong() const {
    return RealToLong(fValue);
}
int64 VReal::GetLong8() const {
    return RealToLong8(fValue);
}

void VReal::FromString(const VString& text) {
    SetNull(text.IsNull());
    if (!text.IsNull()) fValue = text.GetReal();
    fFlags |= kDirtyFlag;
}

void VReal::FromValue(const VValueSingle& value) {
    _Set(value.GetReal(), value.IsNull());
}

void VReal::GetString(VString& out) const {
    out.FromReal(fValue);
}

void VReal::GetValue(VValueSingle& out) const {
    out.FromReal(fValue);
}

void VReal::GetDuration(VDuration& out) const {
    GetValue(out);
}

void VReal::FromDuration(const VDuration& duration) {
    FromValue(duration);
}

void VReal::RealToXMLString(double value, VString& out) {
    if (!SpecialRealText(value, out, "NaN", "INF", "-INF")) out.FromReal(value);
}

void VReal::RealToJSONString(double value, VString& out) {
    if (!SpecialRealText(value, out, "null", "null", "null")) out.FromReal(value);
}

void VReal::GetXMLString(VString& out, uint32) const {
    RealToXMLString(fValue, out);
}

bool VReal::FromXMLString(const VString& xml) {
    // Only ASCII can make a real, so a text with any other unit (or longer than the 255-byte buffer) cannot be
    // consumed whole: refused without converting it.
    constexpr int32 kMaxBytes = 255;
    int32 length = xml.GetLength();
    if (length > kMaxBytes) return false;
    char bytes[kMaxBytes + 1];
    const UniChar* units = xml.GetCPointer();
    for (int32 i = 0; i < length; ++i) {
        if (units[i] == 0 || units[i] > 0x7F) return false;
        bytes[i] = units[i] == u',' ? '.' : char(units[i]);
    }
    bytes[length] = 0;

    char* end = nullptr;
    locale_t locale = NumericLocale();
    double value = locale != locale_t(0) ? strtod_l(bytes, &end, locale) : std::strtod(bytes, &end);
    if (end != bytes + length) return false;
    _Set(value, false);
    return true;
}

VError VReal::GetJSONString(VString& json, uint32) const {
    RealToJSONString(fValue, json);
    return VE_OK;
}

VError VReal::FromJSONString(const VString& json, uint32) {
    if (!FromXMLString(json)) _Set(0.0, false);
    return VE_OK;
}

CompareResult VReal::CompareReals(double a, double b, double epsilon) noexcept {
    if (epsilon > 0 ? std::fabs(a - b) < epsilon : a == b) return CR_EQUAL;
    return a > b ? CR_BIGGER : CR_SMALLER;
}

namespace {
double PlainEpsilon(bool diacritical) noexcept {
    return diacritical ? 0.0 : VReal::kEpsilon;
}
double OptionsEpsilon(const VCompareOptions& options) noexcept {
    return options.IsDiacritical() ? 0.0 : options.GetEpsilon();
}
} // namespace

CompareResult VReal::CompareTo(const VValueSingle& other, bool diacritical) const {
    return CompareReals(fValue, other.GetReal(), PlainEpsilon(diacritical));
}
CompareResult VReal::CompareToSameKind(const VValue* other, bool diacritical) const {
    return CompareReals(fValue, static_cast<const VReal*>(other)->fValue, PlainEpsilon(diacritical));
}
bool VReal::EqualToSameKind(const VValue* other, bool diacritical) const {
    return CompareToSameKind(other, diacritical) == CR_EQUAL;
}
CompareResult VReal::CompareToSameKindPtr(const void* data, bool diacritical) const {
    return CompareReals(fValue, ReadReal(data), PlainEpsilon(diacritical));
}
bool VReal::EqualToSameKindPtr(const void* data, bool diacritical) const {
    return CompareToSameKindPtr(data, diacritical) == CR_EQUAL;
}
CompareResult VReal::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const {
    return CompareReals(fValue, static_cast<const VReal*>(other)->fValue, OptionsEpsilon(options));
}
bool VReal::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const {
    return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}
CompareResult VReal::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    return CompareReals(fValue, ReadReal(data), OptionsEpsilon(options));
}
bool VReal::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    return CompareToSameKindPtrWithOptions(data, options) == CR_EQUAL;
}

bool VReal::FromValueSameKind(const VValue* other) {
    _Set(static_cast<const VReal*>(other)->fValue, other->IsNull());
    return true;
}

const void* VReal::LoadFromPtr(const void* data, bool) {
    _Set(ReadReal(data), false);
    return static_cast<const char*>(data) + sizeof(double);
}

void* VReal::WriteToPtr(void* data, bool, size_t) const {
    std::memcpy(data, &fValue, sizeof(double));
    return static_cast<char*>(data) + sizeof(double);
}

// ---- Descriptor

CompareResult VReal::VValueInfo_real::CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const {
    return CompareReals(ReadReal(a), ReadReal(b), PlainEpsilon(diacritical));
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                                     const VCompareOptions& options) const {
    double x = ReadReal(a);
    double y = ReadReal(b);
    if (std::isnan(x)) return std::isnan(y) ? CR_EQUAL : CR_SMALLER;
    if (std::isnan(y)) return CR_BIGGER;
    return CompareReals(x, y, OptionsEpsilon(options));
}

// ---- Packed decimal numbers

double MAPM_FloatToReal(const void* number) {
    // Digits beyond what a double can tell apart change nothing; the cap keeps the text small and bounded.
    constexpr int32 kMaxDigits = 40;
    const auto* bytes = static_cast<const uint8*>(number);
    int32 exponent = 0;
    int8 sign = 0;
    int32 count = 0;
    std::memcpy(&exponent, bytes, sizeof(exponent));
    std::memcpy(&sign, bytes + 4, sizeof(sign));
    std::memcpy(&count, bytes + 5, sizeof(count));
    if (sign == 0 || count <= 0) return 0.0;

    const uint8* digits = bytes + 9;
    int32 n = count < kMaxDigits ? count : kMaxDigits;
    auto digitAt = [digits](int32 i) -> char {
        uint8 pair = digits[i / 2];
        if (pair > 99) return '0';
        return char('0' + (i % 2 == 0 ? pair / 10 : pair % 10));
    };

    // '-', d1, '.', up to 39 digits, 'E', sign and up to 11 exponent digits, NUL.
    char text[kMaxDigits + 20];
    int32 at = 0;
    if (sign == -1) text[at++] = '-';
    text[at++] = digitAt(0);
    text[at++] = '.';
    for (int32 i = 1; i < n; ++i)
        text[at++] = digitAt(i);
    text[at] = 0;
    VString parsed(text);
    parsed.AppendCString("E");
    int64 power = int64(exponent) - 1;
    if (power >= 0) parsed.AppendCString("+");
    parsed.AppendLong8(power);
    return parsed.GetReal();
}

} // namespace vela
