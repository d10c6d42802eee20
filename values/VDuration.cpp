#include "values/VDuration.h"

#include "core/VString.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace vela {

const VValueInfo_scalar<VDuration, VDuration::kKind, int64> VDuration::sInfo;

// The value base's duration slot clears the target; it lives here, beside the kind it needs.
void VValueSingle::GetDuration(VDuration& out) const {
    out.Clear();
}

namespace {

constexpr int64 kMax = std::numeric_limits<int64>::max();
constexpr int64 kMin = std::numeric_limits<int64>::min();

bool IsBlank(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// ASCII bytes of a text for the number readers; other units become '?', which no reader takes.
std::string ToASCII(const VString& text) {
    std::string out(size_t(text.GetLength()), '?');
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < text.GetLength(); ++i)
        if (units[i] < 0x80) out[size_t(i)] = char(units[i]);
    return out;
}

} // namespace

int64 SaturatingRealToLong8(double value) noexcept {
    if (std::isnan(value)) return 0;
    // 2^63 is exact in a double; everything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) return kMax;
    if (value <= -kLimit) return kMin;
    return int64(std::trunc(value));
}

int64 SecondsTextToMilliseconds(const char* text, size_t length, size_t* consumed, int64* whole) noexcept {
    size_t i = 0;
    if (consumed != nullptr) *consumed = 0;
    if (whole != nullptr) *whole = 0;
    while (i < length && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    size_t mantissaStart = i;
    // Whole seconds saturate well before they could overflow the millisecond product.
    constexpr uint64 kWholeLimit = uint64(kMax) / 1000;
    uint64 seconds = 0;
    bool digits = false;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        digits = true;
        seconds = seconds > kWholeLimit ? seconds : seconds * 10 + uint64(text[i] - '0');
    }
    uint64 fraction = 0; // the first three digits, in ms
    int fractionDigits = 0;
    bool roundUp = false;
    if (i < length && text[i] == '.') {
        for (++i; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            digits = true;
            if (fractionDigits < 3) fraction = fraction * 10 + uint64(text[i] - '0');
            if (fractionDigits == 3) roundUp = text[i] >= '5';
            ++fractionDigits;
        }
        for (; fractionDigits < 3; ++fractionDigits)
            fraction *= 10;
    }
    if (!digits) return 0;
    // An exponent: the exact digit arithmetic above no longer applies, a double does.
    if (i + 1 < length && (text[i] == 'e' || text[i] == 'E')) {
        size_t e = i + 1;
        if (e < length && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < length && text[e] >= '0' && text[e] <= '9') {
            double value = 0.0;
            auto [end, error] = std::from_chars(text + mantissaStart, text + length, value);
            if (error == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
            if (negative) value = -value;
            if (consumed != nullptr) *consumed = size_t(end - text);
            // Whole seconds stay within what a millisecond count can hold.
            if (whole != nullptr) *whole = SaturatingRealToLong8(std::fmax(std::fmin(value, 9.2e15), -9.2e15));
            return SaturatingRealToLong8(std::round(value * 1000.0));
        }
    }
    if (consumed != nullptr) *consumed = i;
    if (seconds > kWholeLimit) {
        if (whole != nullptr) *whole = negative ? kMin / 1000 : kMax / 1000;
        return negative ? kMin : kMax;
    }
    if (whole != nullptr) *whole = negative ? -int64(seconds) : int64(seconds);
    int64 ms = int64(seconds * 1000 + fraction + (roundUp ? 1 : 0));
    return negative ? -ms : ms;
}

// ---- VDuration

VDuration::VDuration(const int64* data, bool init) noexcept {
    if (!init) std::memcpy(&fMilliseconds, data, sizeof(int64));
}

VDuration::VDuration(const VDuration& other) noexcept
    : VValueSingleWithoutOptions(), fMilliseconds(other.fMilliseconds) {
    // Flags as the source's, but never null: a deliberate trait of durations that callers rely on.
    fFlags = uint8((other.fFlags & ~kNullFlag) | kDirtyFlag);
}

VDuration& VDuration::operator=(const VDuration& other) noexcept {
    if (this != &other) _Set(other.fMilliseconds);
    return *this;
}

int64 VDuration::_Add(int64 a, int64 b) noexcept {
    int64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? kMax : kMin;
    return sum;
}

int64 VDuration::_Mul(int64 a, int64 b) noexcept {
    int64 product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return (a < 0) != (b < 0) ? kMin : kMax;
    return product;
}

void VDuration::GetDuration(int32& days, int32& hours, int32& minutes, int32& seconds,
                            int32& milliseconds) const noexcept {
    if (IsNull()) {
        days = hours = minutes = seconds = milliseconds = -1;
        return;
    }
    days = GetDay();
    hours = GetHour();
    minutes = GetMinute();
    seconds = GetSecond();
    milliseconds = GetMillisecond();
}

namespace {
// Five int32 parts never overflow an int64 sum.
int64 PartsToMilliseconds(int32 days, int32 hours, int32 minutes, int32 seconds, int32 milliseconds) noexcept {
    return int64(days) * VDuration::kMsPerDay + int64(hours) * VDuration::kMsPerHour +
           int64(minutes) * VDuration::kMsPerMinute + int64(seconds) * VDuration::kMsPerSecond + milliseconds;
}
} // namespace

void VDuration::SetDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 milliseconds) {
    _Set(PartsToMilliseconds(days, hours, minutes, seconds, milliseconds));
}

void VDuration::AddDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 milliseconds) {
    _Set(_Add(fMilliseconds, PartsToMilliseconds(days, hours, minutes, seconds, milliseconds)));
}

void VDuration::AdjustDay(int32 n) {
    _Set(int64(n) * kMsPerDay + fMilliseconds % kMsPerDay);
}

void VDuration::Substract(const VDuration& other) noexcept {
    int64 difference = 0;
    if (__builtin_sub_overflow(fMilliseconds, other.fMilliseconds, &difference))
        difference = other.fMilliseconds < 0 ? kMax : kMin;
    fMilliseconds = difference;
}

void VDuration::Multiply(double factor) noexcept {
    fMilliseconds = SaturatingRealToLong8(double(fMilliseconds) * factor);
}

void VDuration::Divide(double divisor) noexcept {
    if (divisor == 0.0) return;
    fMilliseconds = SaturatingRealToLong8(double(fMilliseconds) / divisor);
}

double VDuration::Divide(const VDuration& other) const noexcept {
    if (other.fMilliseconds == 0) return 0.0;
    return double(fMilliseconds) / double(other.fMilliseconds);
}

void VDuration::Remainder(const VDuration& other) noexcept {
    if (other.fMilliseconds == 0) return;
    // INT64_MIN % -1 traps on common processors although its result is 0.
    fMilliseconds = other.fMilliseconds == -1 ? 0 : fMilliseconds % other.fMilliseconds;
}

void VDuration::FromDecimalHour(double hours) {
    _Set(SaturatingRealToLong8(hours * double(kMsPerHour)));
}

void VDuration::AddDecimalHour(double hours) {
    _Set(_Add(fMilliseconds, SaturatingRealToLong8(hours * double(kMsPerHour))));
}

void VDuration::GetFormattedString(VString& out) const {
    int32 parts[5];
    GetDuration(parts[0], parts[1], parts[2], parts[3], parts[4]);
    for (int i = 0; i < 5; ++i) {
        if (i > 0) out.AppendUniChar(u':');
        out.AppendLong(parts[i]);
    }
}

// ---- Value model

void VDuration::FromReal(double seconds) {
    _Set(SaturatingRealToLong8(seconds * 1000.0));
}

void VDuration::FromValue(const VValueSingle& value) {
    value.GetDuration(*this);
    SetNull(value.IsNull());
    fFlags |= kDirtyFlag;
}

void VDuration::FromRESTValue(const VValueSingle& value) {
    int64 milliseconds = value.GetLong8();
    if (milliseconds != 0)
        fMilliseconds = milliseconds;
    else
        value.GetDuration(*this);
    SetNull(value.IsNull());
    fFlags |= kDirtyFlag;
}

bool VDuration::FromValueSameKind(const VValue* other) {
    FromDuration(*static_cast<const VDuration*>(other));
    SetNull(other->IsNull());
    fFlags |= kDirtyFlag;
    return true;
}

// ---- Text

void VDuration::GetString(VString& out) const {
    out.Clear();
    if (!IsNull()) out.FromLong8(fMilliseconds);
}

void VDuration::FromString(const VString& text) {
    if (text.FindUniChar(u':') == 0) {
        _Set(_Mul(text.GetLong8(), kMsPerSecond));
        return;
    }
    std::vector<VString> pieces;
    text.GetSubStrings(u':', pieces, true, true);
    int64 parts[4] = {0, 0, 0, 0}; // hours, minutes, seconds, milliseconds
    size_t count = pieces.size();
    if (count >= 4) {
        for (size_t i = 0; i < 4; ++i)
            parts[i] = pieces[i].GetLong8();
    } else if (count == 3) {
        for (size_t i = 0; i < 3; ++i)
            parts[i] = pieces[i].GetLong8();
    } else if (count == 2) {
        parts[1] = pieces[0].GetLong8();
        parts[2] = pieces[1].GetLong8();
    } else if (count == 1) {
        parts[2] = pieces[0].GetLong8();
    }
    int64 total = _Add(_Add(_Mul(parts[0], kMsPerHour), _Mul(parts[1], kMsPerMinute)),
                       _Add(_Mul(parts[2], kMsPerSecond), parts[3]));
    _Set(total);
}

void VDuration::GetXMLString(VString& out, uint32 options) const {
    if ((options & 1) == 0) {
        out.FromLong8(fMilliseconds / kMsPerSecond);
        return;
    }
    int32 days, hours, minutes, seconds, milliseconds;
    GetDuration(days, hours, minutes, seconds, milliseconds);
    out.Clear();
    out.AppendUniChar(u'P');
    if (days != 0) {
        out.AppendLong(days);
        out.AppendUniChar(u'D');
    }
    out.AppendUniChar(u'T');
    out.AppendLong(hours);
    out.AppendUniChar(u'H');
    out.AppendLong(minutes);
    out.AppendUniChar(u'M');
    if (milliseconds == 0) {
        out.AppendLong(seconds);
    } else {
        // The written form keeps its single-precision digits (7.123 s reads 7.12300014495850); readers round
        // to the nearest millisecond, so every written text reads back to the same count.
        double value = double(float(seconds) + float(milliseconds) / 1000.0f);
        char digits[64];
        auto result = std::to_chars(digits, digits + sizeof(digits) - 1, value, std::chars_format::fixed, 14);
        *result.ptr = '\0';
        out.AppendCString(digits);
    }
    out.AppendUniChar(u'S');
}

bool VDuration::FromXMLString(const VString& xml) {
    int32 length = xml.GetLength();
    const UniChar* units = xml.GetCPointer();
    if (length == 0 || units[0] != u'P') {
        if (xml.FindUniChar(u':') == 0)
            _Set(_Mul(xml.GetLong8(), kMsPerSecond));
        else
            FromString(xml);
        return true;
    }
    int64 dateParts[3] = {0, 0, 0}; // years, months, days
    int64 timeParts[3] = {0, 0, 0}; // hours, minutes, seconds in ms
    bool timePart = false;
    VString collected;
    for (int32 i = 1; i < length; ++i) {
        UniChar c = units[i];
        int64* target = nullptr;
        if (c == u'T') {
            timePart = true;
            collected.Clear();
            continue;
        }
        if (!timePart) {
            target = c == u'Y' ? &dateParts[0] : c == u'M' ? &dateParts[1] : c == u'D' ? &dateParts[2] : nullptr;
        } else if (c == u'S') {
            std::string text = ToASCII(collected);
            timeParts[2] = SecondsTextToMilliseconds(text.data(), text.size());
            collected.Clear();
            continue;
        } else {
            target = c == u'H' ? &timeParts[0] : c == u'M' ? &timeParts[1] : nullptr;
        }
        if (target == nullptr) {
            collected.AppendUniChar(c);
            continue;
        }
        *target = collected.GetLong8();
        collected.Clear();
    }
    // A year counts 360 days and a month 30.
    int64 days = _Add(_Add(_Mul(dateParts[0], 360), _Mul(dateParts[1], 30)), dateParts[2]);
    int64 total = _Add(_Mul(days, kMsPerDay), _Add(_Mul(timeParts[0], kMsPerHour), _Mul(timeParts[1], kMsPerMinute)));
    _Set(_Add(total, timeParts[2]));
    return true;
}

VError VDuration::GetJSONString(VString& json, uint32) const {
    json.FromLong8(fMilliseconds);
    return VE_OK;
}

VError VDuration::FromJSONString(const VString& json, uint32) {
    _Set(json.GetLong8());
    return VE_OK;
}

// ---- Comparisons

CompareResult VDuration::CompareTo(const VValueSingle& other, bool) const {
    VDuration read;
    other.GetDuration(read);
    return CompareTo(read);
}

CompareResult VDuration::CompareToSameKind(const VValue* other, bool) const {
    return CompareTo(*static_cast<const VDuration*>(other));
}

bool VDuration::EqualToSameKind(const VValue* other, bool) const {
    return fMilliseconds == static_cast<const VDuration*>(other)->fMilliseconds;
}

CompareResult VDuration::CompareToSameKindPtr(const void* data, bool) const {
    return CompareTo(VDuration(sInfo.Read(data)));
}

bool VDuration::EqualToSameKindPtr(const void* data, bool) const {
    return fMilliseconds == sInfo.Read(data);
}

// ---- Stored and stream forms

const void* VDuration::LoadFromPtr(const void* data, bool) {
    _Set(sInfo.Read(data));
    return static_cast<const char*>(data) + sizeof(int64);
}

void* VDuration::WriteToPtr(void* data, bool, size_t) const {
    std::memcpy(data, &fMilliseconds, sizeof(int64));
    return static_cast<char*>(data) + sizeof(int64);
}

} // namespace vela
