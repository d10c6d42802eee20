#include "values/VTime.h"

#include "core/VString.h"
#include "intl/VIntlMgr.h"
#include "system/VSystem.h"
#include "values/TimeParts.h"

#include <array>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

namespace vela {

const VValueInfo_scalar<VTime, VTime::kKind, uint64> VTime::sInfo;

// The value base's time slot clears the target; it lives here, beside the kind it needs.
void VValueSingle::GetTime(VTime& out) const {
    out.Clear();
}

namespace {

// Day 0 of the Julian-day scale of VTime's arithmetic lies this many days before 1 March of year 0.
constexpr int64 kGregorianEpoch = 1721118;
constexpr int64 kJulianCalendarEpoch = 1721116;
// March-based day offsets of the months (index 1-12).
constexpr int64 kMonthOffset[13] = {0, 306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};
constexpr int32 kDaysPerMonth[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr const char* kWeekDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr int64 FloorDiv(int64 a, int64 b) noexcept {
    int64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr int64 FloorMod(int64 a, int64 b) noexcept {
    return a - FloorDiv(a, b) * b;
}

int64 AddSaturating(int64 a, int64 b) noexcept {
    int64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<int64>::max() : std::numeric_limits<int64>::min();
    return sum;
}

// An int16 part, or -1 (which no validation accepts) for numbers beyond int16.
int16 ToPart(int64 value) noexcept {
    return value < std::numeric_limits<int16>::min() || value > std::numeric_limits<int16>::max() ? int16(-1)
                                                                                                  : int16(value);
}

struct CivilDate {
    int64 year;
    int64 month;
    int64 day;
};

// Month and day from the March-based day r of a year (month may come out 13 or 14: January, February of the next
// year).
CivilDate MonthAndDay(int64 year, int64 r) noexcept {
    int64 month = FloorDiv(5 * r + 456, 153);
    int64 day = r - FloorDiv(153 * month - 457, 5);
    if (month >= 13) {
        month -= 12;
        year += 1;
    }
    return {year, month, day};
}

CivilDate GregorianFromJulianDay(int64 jd) noexcept {
    int64 z = jd - kGregorianEpoch;
    int64 g = FloorDiv(100 * z - 25, 3652425);
    int64 a = g - FloorDiv(g, 4);
    int64 year = FloorDiv(100 * (z + a) - 25, 36525);
    int64 r = z + a - 365 * year - FloorDiv(year, 4);
    return MonthAndDay(year, r);
}

bool IsLeap(int64 year) noexcept {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Day and month within the calendar (29 February only in a leap year of leap's rule).
bool IsDayOfMonth(int64 month, int64 day, bool leap) noexcept {
    if (month < 1 || month > 12 || day < 1 || day > kDaysPerMonth[month]) return false;
    return month != 2 || day != 29 || leap;
}

// ---- Digit writers: exactly printf's "%0*d" (a sign counts in the width), without its cost.

char* PutDigits(char* p, uint64 value, int width) noexcept {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < width; ++i)
        *p++ = '0';
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

char* PutPadded(char* p, int64 value, int width) noexcept {
    if (value >= 0 && value < 100 && width == 2) {
        p[0] = char('0' + value / 10);
        p[1] = char('0' + value % 10);
        return p + 2;
    }
    if (value < 0) {
        *p++ = '-';
        return PutDigits(p, uint64(0) - uint64(value), width - 1);
    }
    return PutDigits(p, uint64(value), width);
}

char* PutText(char* p, const char* text) noexcept {
    while (*text != '\0')
        *p++ = *text++;
    return p;
}

// Replaces out's text with n ASCII bytes.
void StoreASCII(VString& out, const char* bytes, int32 n) {
    UniChar* units = out.GetCPointerForWrite(n);
    if (units == nullptr) {
        std::string copy(bytes, size_t(n));
        out.FromCString(copy.c_str());
        return;
    }
    for (int32 i = 0; i < n; ++i)
        units[i] = UniChar(uchar(bytes[i]));
    out.Validate(n);
}

// ---- sscanf's conversions, by hand: the text forms are defined by them.

bool IsBlank(char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct Scanner {
    const char* text;
    size_t length;
    size_t pos = 0;

    // "%d" with a width (0: none): blanks skipped, then a sign and digits within the width; at least one digit.
    bool Int(int width, int64& value) noexcept {
        // The usual case first: width digits in a row are exactly what the conversion reads.
        if (width > 0 && length - pos >= size_t(width)) {
            int64 digits = 0;
            int i = 0;
            for (; i < width && text[pos + size_t(i)] >= '0' && text[pos + size_t(i)] <= '9'; ++i)
                digits = digits * 10 + (text[pos + size_t(i)] - '0');
            if (i == width) {
                value = digits;
                pos += size_t(width);
                return true;
            }
        }
        while (pos < length && IsBlank(text[pos]))
            ++pos;
        size_t end = width > 0 && length - pos > size_t(width) ? pos + size_t(width) : length;
        size_t i = pos;
        bool negative = false;
        if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        size_t digitsStart = i;
        int64 result = 0;
        for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i)
            result = result > std::numeric_limits<int32>::max() ? result : result * 10 + (text[i] - '0');
        if (i == digitsStart) return false;
        // Beyond int32 the C library gives no defined result; ours clamps.
        if (result > std::numeric_limits<int32>::max()) result = std::numeric_limits<int32>::max();
        value = negative ? -result : result;
        pos = i;
        return true;
    }
    bool Literal(char c) noexcept {
        if (pos >= length || text[pos] != c) return false;
        ++pos;
        return true;
    }
    // "%lf" for seconds: the whole seconds as read and the milliseconds of the fraction, rounded to the nearest.
    bool Seconds(int64& whole, int64& milliseconds) noexcept {
        size_t consumed = 0;
        int64 total = SecondsTextToMilliseconds(text + pos, length - pos, &consumed, &whole);
        if (consumed == 0) return false;
        // Whole seconds are those written before the point: 59.9996 is 59 s and 1,000 ms, 60 is 60 s. Beyond
        // int32 they are clamped, like the other fields, and no field can be valid anyway.
        constexpr int64 kLimit = std::numeric_limits<int32>::max();
        if (whole > kLimit || whole < -kLimit) {
            whole = whole > 0 ? kLimit : -kLimit;
            total = whole * 1000;
        }
        milliseconds = total - whole * 1000;
        pos += consumed;
        return true;
    }
};

} // namespace

// ---- Construction and fields

VTime::VTime(VTimeInitParam init) {
    if (init == eInitWithCurrentTime) Now(*this);
}

VTime::VTime(const uint64* data, bool init) noexcept {
    if (!init) _SplitStamp(sInfo.Read(data));
}

VTime::VTime(const VTime& other) noexcept
    : VValueSingleWithoutOptions(other), fYear(other.fYear), fMonth(other.fMonth), fDay(other.fDay),
      fMilliseconds(other.fMilliseconds) {
    fFlags |= kDirtyFlag;
}

VTime& VTime::operator=(const VTime& other) noexcept {
    if (this != &other) FromTime(other);
    return *this;
}

void VTime::_SplitStamp(uint64 stamp) noexcept {
    fYear = uint16(stamp >> 48);
    fMonth = uint8(stamp >> 40);
    fDay = uint8(stamp >> 32);
    fMilliseconds = uint32(stamp);
}

void VTime::_SetFields(int64 year, int64 month, int64 day, int64 milliseconds) noexcept {
    fYear = uint16(year);
    fMonth = uint8(month);
    fDay = uint8(day);
    fMilliseconds = uint32(milliseconds);
}

uint64 VTime::GetStamp() const noexcept {
    return uint64(fYear) << 48 | uint64(fMonth) << 40 | uint64(fDay) << 32 | fMilliseconds;
}

void VTime::FromStamp(uint64 stamp) {
    _SplitStamp(stamp);
    _SetValueChanged();
}

void VTime::Clear() {
    _SetFields(0, 0, 0, 0);
    _SetValueChanged();
}

void VTime::NullIfZero() {
    if (IsZeroDate()) SetNull(true);
}

// ---- Components

void VTime::FromUTCTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms) {
    bool valid = (year == 0 && month == 0 && day == 0) || CheckDate(year, month, day);
    // Compared unsigned, so negative parts fail.
    valid = valid && uint16(ms) <= 999 && uint16(second) <= 59 && uint16(minute) <= 59 && uint16(hour) <= 23;
    if (!valid) {
        Clear();
        SetNull(true);
        return;
    }
    _SetFields(year, month, day, int64(hour) * 3600000 + int64(minute) * 60000 + int64(second) * 1000 + ms);
    _SetValueChanged();
}

void VTime::GetUTCTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second,
                       int16& ms) const noexcept {
    if (IsNull()) {
        year = month = day = hour = minute = second = ms = 0;
        return;
    }
    year = int16(fYear);
    month = int16(int8(fMonth));
    day = int16(int8(fDay));
    int64 rest = int32(fMilliseconds);
    hour = int16(rest / 3600000);
    minute = int16(rest % 3600000 / 60000);
    second = int16(rest % 60000 / 1000);
    ms = int16(rest % 1000);
}

void VTime::_GetLocalParts(int16* parts) const noexcept {
    GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    VSystem::UTCToLocalTime(parts);
}

void VTime::FromLocalTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms) {
    int16 parts[7] = {year, month, day, hour, minute, second, 0};
    VSystem::LocalToUTCTime(parts);
    FromUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], ms);
}

void VTime::GetLocalTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second,
                         int16& ms) const noexcept {
    int16 parts[7];
    _GetLocalParts(parts);
    year = parts[0];
    month = parts[1];
    day = parts[2];
    hour = parts[3];
    minute = parts[4];
    second = parts[5];
    ms = parts[6];
}

#define VELA_LOCAL_PART(Name, index)                                                                                   \
    int16 VTime::GetLocal##Name() const noexcept {                                                                     \
        int16 parts[7];                                                                                                \
        _GetLocalParts(parts);                                                                                         \
        return parts[index];                                                                                           \
    }
VELA_LOCAL_PART(Year, 0)
VELA_LOCAL_PART(Month, 1)
VELA_LOCAL_PART(Day, 2)
VELA_LOCAL_PART(Hour, 3)
VELA_LOCAL_PART(Minute, 4)
VELA_LOCAL_PART(Second, 5)
VELA_LOCAL_PART(Millisecond, 6)
#undef VELA_LOCAL_PART

VDuration VTime::GetLocalDurationSinceMidnight() const {
    int16 parts[7];
    _GetLocalParts(parts);
    VDuration duration;
    duration.SetDuration(0, parts[3], parts[4], parts[5], parts[6]);
    return duration;
}

void VTime::SetLocalYear(int16 year) {
    int16 parts[7];
    _GetLocalParts(parts);
    FromLocalTime(year, parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
}

void VTime::SetLocalMonth(int16 month) {
    int16 parts[7];
    _GetLocalParts(parts);
    FromLocalTime(parts[0], month, parts[2], parts[3], parts[4], parts[5], parts[6]);
}

void VTime::_FromLocalCount(int64 count) {
    int64 jd = FloorDiv(count, kMsPerDay);
    int64 rest = count - jd * kMsPerDay;
    int16 hour = int16(rest / 3600000), minute = int16(rest % 3600000 / 60000);
    int16 second = int16(rest % 60000 / 1000), ms = int16(rest % 1000);
    if (IsZeroDate()) {
        // No date to carry into: the time of day wraps.
        FromUTCTime(0, 0, 0, hour, minute, second, ms);
        return;
    }
    CivilDate date = GregorianFromJulianDay(jd);
    FromLocalTime(ToPart(date.year), ToPart(date.month), ToPart(date.day), hour, minute, second, ms);
}

void VTime::SetLocalDay(int16 day) {
    int16 parts[7];
    _GetLocalParts(parts);
    int64 jd = ComputeJulianDay(parts[0], parts[1], parts[2]) + (int64(day) - parts[2]);
    _FromLocalCount(jd * kMsPerDay + int64(parts[3]) * 3600000 + parts[4] * 60000 + parts[5] * 1000 + parts[6]);
}

void VTime::_SetLocalTimePart(int index, int64 value) {
    static constexpr int64 kUnits[7] = {0, 0, 0, 3600000, 60000, 1000, 1};
    int16 parts[7];
    _GetLocalParts(parts);
    // The other parts stay; the new one may carry into the higher parts.
    int64 count = ComputeJulianDay(parts[0], parts[1], parts[2]) * kMsPerDay;
    for (int i = 3; i < 7; ++i)
        count += (i == index ? value : parts[i]) * kUnits[i];
    _FromLocalCount(count);
}

void VTime::SetLocalHour(int16 hour) {
    _SetLocalTimePart(3, hour);
}

void VTime::SetLocalMinute(int16 minute) {
    _SetLocalTimePart(4, minute);
}

void VTime::SetLocalSecond(int16 second) {
    _SetLocalTimePart(5, second);
}

void VTime::SetLocalMillisecond(int16 ms) {
    _SetLocalTimePart(6, ms);
}

void VTime::FromSystemTime() {
    int16 parts[7];
    VSystem::GetSystemUTCTime(parts);
    _SetFields(parts[0], parts[1], parts[2],
               int64(parts[3]) * 3600000 + int64(parts[4]) * 60000 + int64(parts[5]) * 1000 + parts[6]);
    _SetValueChanged();
}

void VTime::Now(VTime& now) {
    int16 parts[7];
    VSystem::GetSystemUTCTime(parts);
    now.FromUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
}

void VTime::FromToday(int32 ms) {
    int16 parts[7];
    VSystem::GetSystemLocalTime(parts);
    parts[3] = parts[4] = parts[5] = parts[6] = 0;
    VSystem::LocalToUTCTime(parts);
    FromUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], 0);
    AddMilliseconds(ms);
}

int64 VTime::GetLocalUnixTime(bool withMilliseconds) const {
    int16 parts[7];
    _GetLocalParts(parts);
    std::tm fields;
    PartsToFields(parts, fields);
    fields.tm_isdst = -1;
    int64 seconds = int64(mktime(&fields));
    return withMilliseconds ? seconds * 1000 + parts[6] : seconds;
}

// ---- Calendar

bool VTime::CheckDate(int16 year, int16 month, int16 day) noexcept {
    return year >= 0 && IsDayOfMonth(month, day, IsLeap(year));
}

bool VTime::IsLeapYear(int16 year) noexcept {
    return IsLeap(year);
}

int64 VTime::ComputeJulianDay(int16 year, int16 month, int16 day) noexcept {
    int64 y = month < 3 ? int64(year) - 1 : year;
    // Months outside 1-12 (stamps nobody validated) count no offset rather than read past the table.
    int64 offset = month >= 0 && month <= 12 ? kMonthOffset[month] : 0;
    return FloorDiv(y, 400) + FloorDiv(y, 4) - FloorDiv(y, 100) + 365 * y + offset + day + kGregorianEpoch;
}

int32 VTime::ComputeWeekDay(int16 year, int16 month, int16 day) noexcept {
    return int32(FloorMod(ComputeJulianDay(year, month, day) + 2, 7));
}

int32 VTime::ComputeYearDay(int16 year, int16 month, int16 day) noexcept {
    return int32(ComputeJulianDay(year, month, day) - ComputeJulianDay(year, 1, 1) + 1);
}

void VTime::FromJulianDay(int64 jd) {
    CivilDate date = GregorianFromJulianDay(jd);
    _SetFields(date.year, date.month, date.day, 0);
    _SetValueChanged();
}

int32 VTime::GetWeekDay() const noexcept {
    return IsNull() ? -1 : int32(FloorMod(GetJulianDay() + 2, 7));
}

int32 VTime::GetYearDay() const noexcept {
    return IsNull() ? -1 : ComputeYearDay(int16(fYear), int16(int8(fMonth)), int16(int8(fDay)));
}

void VTime::GetJulianDate(int16& year, int16& month, int16& day) const noexcept {
    if (IsNull()) {
        year = month = day = 0;
        return;
    }
    int64 z = GetJulianDay() - kJulianCalendarEpoch;
    int64 y = FloorDiv(100 * z - 25, 36525);
    CivilDate date = MonthAndDay(y, z - 365 * y - FloorDiv(y, 4));
    year = int16(date.year);
    month = int16(date.month);
    day = int16(date.day);
}

void VTime::FromJulianDate(int16 year, int16 month, int16 day) {
    // The Julian calendar has a 29 February in every fourth year.
    if (!IsDayOfMonth(month, day, FloorMod(year, 4) == 0)) {
        Clear();
        SetNull(true);
        return;
    }
    int64 y = month < 3 ? int64(year) - 1 : year;
    FromJulianDay(365 * y + FloorDiv(y, 4) + kMonthOffset[month] + day + kJulianCalendarEpoch);
}

// ---- Arithmetic

int64 VTime::GetMilliseconds() const noexcept {
    if (IsNull()) return -1;
    if (IsZeroDate()) return 0;
    return GetJulianDay() * kMsPerDay + int32(fMilliseconds);
}

void VTime::FromMilliseconds(int64 milliseconds) {
    if (milliseconds == -1) {
        _SetFields(0, 0, 0, 0);
        SetNull(true);
        fFlags |= kDirtyFlag;
        return;
    }
    if (milliseconds == 0) {
        Clear();
        return;
    }
    // Days rounded down: the time of day of a count before day 0 stays within 0-86,399,999.
    int64 jd = FloorDiv(milliseconds, kMsPerDay);
    CivilDate date = GregorianFromJulianDay(jd);
    _SetFields(date.year, date.month, date.day, milliseconds - jd * kMsPerDay);
    _SetValueChanged();
}

void VTime::_AddCount(int64 milliseconds) {
    // Within the day of a valid date the count's round trip would give back the same date: skip it.
    int64 withinDay =
        milliseconds >= -kMsPerDay && milliseconds <= kMsPerDay ? int64(int32(fMilliseconds)) + milliseconds : -1;
    if (!IsNull() && withinDay >= 0 && withinDay < kMsPerDay &&
        CheckDate(int16(fYear), int16(int8(fMonth)), int16(int8(fDay)))) {
        fMilliseconds = uint32(withinDay);
        _SetValueChanged();
        return;
    }
    FromMilliseconds(AddSaturating(GetMilliseconds(), milliseconds));
}

void VTime::Add(const VDuration& duration) {
    _AddCount(duration.ConvertToMilliseconds());
}

void VTime::Substract(const VDuration& duration) {
    int64 amount = duration.ConvertToMilliseconds();
    _AddCount(amount == std::numeric_limits<int64>::min() ? std::numeric_limits<int64>::max() : -amount);
}

void VTime::Substract(const VTime& other, VDuration& out) const {
    int64 theirs = other.GetMilliseconds();
    out.FromNbMilliseconds(AddSaturating(
        GetMilliseconds(), theirs == std::numeric_limits<int64>::min() ? std::numeric_limits<int64>::max() : -theirs));
}

void VTime::AddMonths(int32 n) noexcept {
    int64 k = int64(int8(fMonth)) - 1 + n;
    fMonth = uint8(FloorMod(k, 12) + 1);
    fYear = uint16(int64(fYear) + FloorDiv(k, 12));
}

// ---- Text

void VTime::GetString(VString& out) const {
    FormatByOS(out, true);
}

void VTime::FormatByOS(VString& out, bool utc) const {
    if (IsNull()) {
        out.Clear();
        return;
    }
    VString date;
    VString time;
    FormatByOS(date, time, utc);
    out.FromString(date);
    out.AppendUniChar(u' ');
    out.AppendString(time);
}

void VTime::FormatByOS(VString& date, VString& time, bool utc) const {
    date.Clear();
    time.Clear();
    if (IsNull()) return;
    VIntlMgr* manager = VIntlMgr::GetCurrent();
    manager->FormatDate(*this, date, eOS_SHORT_FORMAT, utc);
    manager->FormatTime(*this, time, eOS_SHORT_FORMAT, utc);
}

void VTime::GetStringLocalTime(VString& out) const {
    out.Clear();
    if (IsNull()) return;
    int16 parts[7];
    _GetLocalParts(parts);
    char text[64];
    char* p = text;
    static constexpr int kWidths[7] = {4, 2, 2, 2, 2, 2, 3};
    static constexpr char kSeparators[7] = {'-', '-', ' ', ':', ':', ':', '\0'};
    for (int i = 0; i < 7; ++i) {
        p = PutPadded(p, parts[i], kWidths[i]);
        if (kSeparators[i] != '\0') *p++ = kSeparators[i];
    }
    StoreASCII(out, text, int32(p - text));
}

void VTime::toSimpleDateString(VString& out) const {
    if (IsNull()) {
        out.SetNull(true);
        return;
    }
    out.Clear();
    out.AppendLong(int8(fDay));
    out.AppendUniChar(u'!');
    out.AppendLong(int8(fMonth));
    out.AppendUniChar(u'!');
    out.AppendLong(int16(fYear));
}

void VTime::FromString(const VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    int64 numbers[7] = {0, 0, 0, 0, 0, 0, 0};
    int count = 0;
    int64 current = 0;
    bool inNumber = false;
    bool shortForm = false;
    for (int32 i = 0; i < length && count < 7; ++i) {
        UniChar c = units[i];
        if (c >= u'0' && c <= u'9') {
            current = current > 99999 ? current : current * 10 + (c - u'0');
            inNumber = true;
            continue;
        }
        if (c == u'!') {
            if (count == 0 && inNumber) {
                shortForm = true;
            } else if (!shortForm) {
                inNumber = false; // the pending number is dropped
                break;
            }
        }
        if (inNumber) numbers[count++] = current;
        current = 0;
        inNumber = false;
    }
    if (inNumber && count < 7) numbers[count++] = current;
    if (!shortForm) {
        FromUTCTime(ToPart(numbers[0]), ToPart(numbers[1]), ToPart(numbers[2]), ToPart(numbers[3]), ToPart(numbers[4]),
                    ToPart(numbers[5]), ToPart(numbers[6]));
        return;
    }
    int16 day = ToPart(numbers[0]), month = ToPart(numbers[1]), year = ToPart(numbers[2]);
    if (!(day == 0 && month == 0 && year == 0) && !CheckDate(year, month, day)) {
        Clear();
        SetNull(true);
        return;
    }
    _SetFields(year, month, day, 0);
    _SetValueChanged();
}

namespace {

// Writes the RFC 3339 form of a time's fields; answers the end. offset: seconds east, written when withOffset.
struct Rfc3339Fields {
    int64 year, month, day, hour, minute, second, ms;
    int64 offset;
};

char* PutOffset(char* p, int64 offset) noexcept {
    *p++ = offset >= 0 ? '+' : '-';
    int64 magnitude = offset >= 0 ? offset : -offset;
    p = PutPadded(p, magnitude / 3600, 2);
    *p++ = ':';
    return PutPadded(p, magnitude % 3600 / 60, 2);
}

char* PutTimeOfDay(char* p, const Rfc3339Fields& f) noexcept {
    p = PutPadded(p, f.hour, 2);
    *p++ = ':';
    p = PutPadded(p, f.minute, 2);
    *p++ = ':';
    return PutPadded(p, f.second, 2);
}

char* PutDate(char* p, const Rfc3339Fields& f) noexcept {
    p = PutPadded(p, f.year, 4);
    *p++ = '-';
    p = PutPadded(p, f.month, 2);
    *p++ = '-';
    return PutPadded(p, f.day, 2);
}

// Builds the RFC 3339 text into text (at least 96 bytes) and answers its length.
int32 WriteRfc3339(const VTime& time, uint32 options, char* text) {
    char* p = text;
    if (time.IsNull()) {
        p = PutText(p, "0000-00-00T00:00:00Z");
        return int32(p - text);
    }
    int16 utc[7];
    time.GetUTCTime(utc[0], utc[1], utc[2], utc[3], utc[4], utc[5], utc[6]);
    int mode = (options & VTime::kRfc3339UTC) != 0 ? 1 : ((options & VTime::kRfc3339Local) != 0 ? 2 : 0);
    int16 parts[7] = {utc[0], utc[1], utc[2], utc[3], utc[4], utc[5], utc[6]};
    int64 offset = 0;
    if (mode != 1) {
        VSystem::UTCToLocalTime(parts);
        // The offset in force at this instant: local wall time minus UTC (0 when nothing was converted).
        auto seconds = [](const int16* q) {
            return VTime::ComputeJulianDay(q[0], q[1], q[2]) * 86400 + int64(q[3]) * 3600 + q[4] * 60 + q[5];
        };
        offset = seconds(parts) - seconds(utc);
    }
    Rfc3339Fields f{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6], offset};
    if ((options & VTime::kRfc3339TimeOnly) != 0) {
        p = PutTimeOfDay(p, f);
        if (mode == 1) *p++ = 'Z';
    } else if ((options & VTime::kRfc3339DateOnly) != 0) {
        p = PutDate(p, f);
    } else {
        if ((options & VTime::kRfc3339ZeroDate) != 0) f.year = f.month = f.day = 0;
        p = PutDate(p, f);
        *p++ = 'T';
        p = PutTimeOfDay(p, f);
        if (mode != 0 && (options & VTime::kRfc3339NoMillis) == 0) {
            *p++ = '.';
            p = PutPadded(p, f.ms, 3);
        }
        if (mode == 1) *p++ = 'Z';
    }
    if (mode == 0) p = PutOffset(p, offset);
    return int32(p - text);
}

} // namespace

void VTime::GetRfc3339String(VString& out, uint32 options) const {
    char text[96];
    StoreASCII(out, text, WriteRfc3339(*this, options, text));
}

// The bytes whose places tell the shape and zone of an RFC 3339 text.
constexpr std::array<bool, 256> kRfc3339Markers = [] {
    std::array<bool, 256> markers{};
    for (uchar c : {'T', ':', '-', '+', 'Z'})
        markers[c] = true;
    return markers;
}();

struct VTime::_Rfc3339Marks {
    int64 firstT = -1, firstColon = -1, firstDash = -1, lastPlus = -1, lastDash = -1;
    bool hasZ = false;

    void Note(char c, int64 at) noexcept {
        switch (c) {
        case 'T':
            if (firstT < 0) firstT = at;
            break;
        case ':':
            if (firstColon < 0) firstColon = at;
            break;
        case '-':
            if (firstDash < 0) firstDash = at;
            lastDash = at;
            break;
        case '+':
            lastPlus = at;
            break;
        default: // 'Z'
            hasZ = true;
            break;
        }
    }
};

bool VTime::FromRfc3339String(const VString& text) {
    int32 length = text.GetLength();
    if (text.IsNull() || length == 0) {
        Clear();
        SetNull(true);
        return false;
    }
    // The text as UTF-8, up to 255 bytes: positions count bytes. Other characters never match a digit or a
    // marker, so only their byte counts are kept.
    char bytes[256];
    size_t n = 0;
    _Rfc3339Marks marks;
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < length; ++i) {
        UniChar c = units[i];
        if (c - 1u < 0x7Fu) { // 1..0x7F; most are digits, which one table test lets pass
            if (n + 1 > sizeof(bytes) - 1) break;
            if (kRfc3339Markers[c]) marks.Note(char(c), int64(n));
            bytes[n++] = char(c);
            continue;
        }
        size_t width = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            width = 4;
            ++i;
        }
        if (c == 0 || n + width > sizeof(bytes) - 1) break;
        std::memset(bytes + n, 0x80, width);
        n += width;
    }
    return _ReadRfc3339(bytes, n, marks);
}

bool VTime::_ReadRfc3339(const char* s, size_t n, const _Rfc3339Marks& marks) {
    auto fail = [this]() {
        Clear();
        SetNull(true);
        return false;
    };
    if (n == 0) return fail();
    // The shape is told by where certain characters first stand.
    const int64 firstT = marks.firstT, firstColon = marks.firstColon, firstDash = marks.firstDash;
    const int64 lastPlus = marks.lastPlus, lastDash = marks.lastDash;
    const bool hasZ = marks.hasZ;
    enum Shape { kFull, kTimeOfDay, kDateOnly, kSeconds } shape;
    if (firstT == 10)
        shape = kFull;
    else if (firstColon >= 2 && firstColon <= 4)
        shape = kTimeOfDay;
    else if (firstDash == 4)
        shape = kDateOnly;
    else
        shape = kSeconds;

    int64 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    int fields = 0;
    Scanner scan{s, n};
    // Counts each field read, as sscanf does; the chains stop at the first failure.
    auto read = [&fields](bool ok) {
        fields += ok ? 1 : 0;
        return ok;
    };
    switch (shape) {
    case kFull: // "%4d-%2d-%2dT%2d:%2d:%lf"
        (void)(read(scan.Int(4, year)) && scan.Literal('-') && read(scan.Int(2, month)) && scan.Literal('-') &&
               read(scan.Int(2, day)) && scan.Literal('T') && read(scan.Int(2, hour)) && scan.Literal(':') &&
               read(scan.Int(2, minute)) && scan.Literal(':') && read(scan.Seconds(second, ms)));
        break;
    case kTimeOfDay: // "%d:%2d:%lf"
        (void)(read(scan.Int(0, hour)) && scan.Literal(':') && read(scan.Int(2, minute)) && scan.Literal(':') &&
               read(scan.Seconds(second, ms)));
        break;
    case kDateOnly: // "%4d-%2d-%2d"
        (void)(read(scan.Int(4, year)) && scan.Literal('-') && read(scan.Int(2, month)) && scan.Literal('-') &&
               read(scan.Int(2, day)));
        break;
    case kSeconds: { // "%d", whole seconds of a time of day, counted as three fields
        int64 total = 0;
        if (scan.Int(0, total)) {
            hour = total / 3600;
            minute = total % 3600 / 60;
            fields = 3;
        }
        break;
    }
    }

    bool utc = n < 11 || hasZ;
    // The last "+" is an offset sign; failing that the last "-", when it follows the date of a dated form.
    int64 sign = lastPlus;
    if (sign < 0 && lastDash >= 0 && (!(shape == kFull || shape == kDateOnly) || lastDash >= 10)) sign = lastDash;

    bool zeroDate = year == 0 && month == 0 && day == 0;
    if (!zeroDate && !(year <= 22000 && IsDayOfMonth(month, day, IsLeap(year))))
        year = month = day = hour = minute = second = ms = 0;

    bool fieldsFit = shape == kFull ? fields == 6 : shape == kDateOnly ? fields == 3 : fields == 2 || fields == 3;
    if (!fieldsFit) return fail();
    zeroDate = year == 0 && month == 0 && day == 0;
    if (shape == kFull && zeroDate && hour == 0 && minute == 0 && second == 0 && ms == 0) {
        // Deliberately null although read: the form a null time is written in.
        Clear();
        SetNull(true);
        return true;
    }
    if (zeroDate) {
        int64 timeOfDay = hour * 3600000 + minute * 60000 + second * 1000 + ms;
        // A time of day outside the day cannot be held in the field.
        if (timeOfDay < 0 || timeOfDay >= kMsPerDay) return fail();
        _SetFields(0, 0, 0, timeOfDay);
        _SetValueChanged();
        return true;
    }
    if (utc) {
        FromUTCTime(ToPart(year), ToPart(month), ToPart(day), ToPart(hour), ToPart(minute), ToPart(second), 0);
    } else if (sign < 0) {
        FromLocalTime(ToPart(year), ToPart(month), ToPart(day), ToPart(hour), ToPart(minute), ToPart(second), 0);
    } else {
        if (shape == kDateOnly) return fail();
        Scanner zone{s, n, size_t(sign) + 1};
        int64 offsetHours = 0, offsetMinutes = 0;
        if (!(zone.Int(2, offsetHours) && zone.Literal(':') && zone.Int(2, offsetMinutes))) return fail();
        int64 offset = (offsetHours * 60 + offsetMinutes) * 60 * (s[sign] == '-' ? -1 : 1);
        // The fields are the wall time at that offset, whatever the local zone says.
        FromUTCTime(ToPart(year), ToPart(month), ToPart(day), ToPart(hour), ToPart(minute), ToPart(second), 0);
        if (!IsNull()) _AddCount(-offset * 1000);
    }
    // A time that did not validate stays null: adding to it would invent an instant.
    if (ms != 0 && !IsNull()) _AddCount(ms);
    return true;
}

void VTime::GetRfc822String(VString& out) const {
    char text[64];
    char* p = text;
    bool known = !IsNull();
    int32 weekDay = known ? GetWeekDay() : -1;
    int32 month = known ? int8(fMonth) : 0;
    if (weekDay >= 0 && weekDay < 7) p = PutText(p, kWeekDayNames[weekDay]);
    p = PutText(p, ", ");
    p = PutPadded(p, known ? int8(fDay) : 0, 2);
    *p++ = ' ';
    if (month >= 1 && month <= 12) p = PutText(p, kMonthNames[month - 1]);
    *p++ = ' ';
    int16 parts[7] = {};
    GetUTCTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5], parts[6]);
    p = PutPadded(p, parts[0], 4);
    *p++ = ' ';
    Rfc3339Fields f{0, 0, 0, parts[3], parts[4], parts[5], 0, 0};
    p = PutTimeOfDay(p, f);
    p = PutText(p, " GMT");
    StoreASCII(out, text, int32(p - text));
}

void VTime::FromRfc822String(const VString& text) {
    VIntlMgr* manager = VIntlMgr::GetCurrent();
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    // day, then year, hour, minute, second
    int64 numbers[5] = {0, 0, 0, 0, 0};
    int count = 0;
    int16 month = 0;
    bool haveMonth = false;
    for (int32 i = 0; i < length && count < 5;) {
        UniChar c = units[i];
        if (manager->IsDigit(c)) {
            int64 value = 0;
            for (; i < length && manager->IsDigit(units[i]); ++i)
                if (value <= 99999) value = value * 10 + (units[i] >= u'0' && units[i] <= u'9' ? units[i] - u'0' : 0);
            // Digits between the day and the month name are not a part.
            if (count == 0 || haveMonth) numbers[count++] = value;
            continue;
        }
        if (manager->IsAlpha(c) && count == 1 && !haveMonth) {
            int32 start = i;
            while (i < length && manager->IsAlpha(units[i]))
                ++i;
            VString name;
            name.FromUniString(units + start, i - start);
            for (int m = 0; m < 12; ++m)
                if (name.EqualToString(VString(kMonthNames[m]), false)) month = int16(m + 1);
            haveMonth = true;
            continue;
        }
        ++i;
    }
    FromUTCTime(ToPart(numbers[1]), month, ToPart(numbers[0]), ToPart(numbers[2]), ToPart(numbers[3]),
                ToPart(numbers[4]), 0);
}

void VTime::FromCompilerDateTime(const char* date, const char* time) {
    std::string joined = std::string(date != nullptr ? date : "") + " " + (time != nullptr ? time : "");
    static constexpr const char* kLowerMonths[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                     "jul", "aug", "sep", "oct", "nov", "dec"};
    int64 parts[6] = {0, 0, 0, 0, 0, 0}; // month, day, year, hour, minute, second
    char* state = nullptr;
    int index = 0;
    for (char* token = strtok_r(joined.data(), " ,:", &state); token != nullptr && index < 6;
         token = strtok_r(nullptr, " ,:", &state), ++index) {
        if (index > 0) {
            parts[index] = std::strtol(token, nullptr, 10);
            continue;
        }
        for (int m = 0; m < 12; ++m)
            if (std::strcmp(token, kLowerMonths[m]) == 0 || std::strcmp(token, kMonthNames[m]) == 0) parts[0] = m + 1;
    }
    int16 local[7] = {
        ToPart(parts[2]), ToPart(parts[0]), ToPart(parts[1]), ToPart(parts[3]), ToPart(parts[4]), ToPart(parts[5]), 0};
    VSystem::LocalToUTCTime(local);
    FromUTCTime(local[0], local[1], local[2], local[3], local[4], local[5], 0);
}

void VTime::GetXMLString(VString& out, uint32 options) const {
    GetRfc3339String(out, options);
}

bool VTime::FromXMLString(const VString& xml) {
    int32 length = xml.GetLength();
    const UniChar* units = xml.GetCPointer();
    if (length >= 2 && units[0] == u'!' && units[1] == u'!') {
        // Between "!!" marks: both marks must be there.
        if (length < 4 || units[length - 1] != u'!' || units[length - 2] != u'!') {
            Clear();
            SetNull(true);
            return false;
        }
        VString inner;
        inner.FromUniString(units + 2, length - 4);
        return FromRfc3339String(inner);
    }
    if (xml.FindUniChar(u'!') == 0) return FromRfc3339String(xml);
    FromString(xml);
    return true;
}

VError VTime::GetJSONString(VString& json, uint32 options) const {
    uint32 rfcOptions = (options & 512) != 0 && fMilliseconds == 0 ? kRfc3339UTC | kRfc3339DateOnly : kRfc3339UTC;
    char text[104];
    char* p = text;
    if ((options & 1) != 0) *p++ = '"';
    if ((options & 4096) != 0) p = PutText(p, "!!");
    p += WriteRfc3339(*this, rfcOptions, p);
    if ((options & 4096) != 0) p = PutText(p, "!!");
    if ((options & 1) != 0) *p++ = '"';
    StoreASCII(json, text, int32(p - text));
    return VE_OK;
}

VError VTime::FromJSONString(const VString& json, uint32) {
    FromXMLString(json);
    return VE_OK;
}

// ---- Value model

void VTime::FromTime(const VTime& other) {
    fYear = other.fYear;
    fMonth = other.fMonth;
    fDay = other.fDay;
    fMilliseconds = other.fMilliseconds;
    SetNull(other.IsNull());
    fFlags |= kDirtyFlag;
}

void VTime::FromValue(const VValueSingle& value) {
    value.GetTime(*this);
    SetNull(value.IsNull());
    fFlags |= kDirtyFlag;
}

bool VTime::FromValueSameKind(const VValue* other) {
    FromTime(*static_cast<const VTime*>(other));
    return true;
}

// ---- Comparison

CompareResult VTime::CompareTo(const VTime& other) const noexcept {
    auto order = [](int64 a, int64 b) { return a == b ? CR_EQUAL : (a > b ? CR_BIGGER : CR_SMALLER); };
    if (fYear != other.fYear) return order(int16(fYear), int16(other.fYear));
    if (fMonth != other.fMonth) return order(int8(fMonth), int8(other.fMonth));
    if (fDay != other.fDay) return order(int8(fDay), int8(other.fDay));
    return order(int32(fMilliseconds), int32(other.fMilliseconds));
}

CompareResult VTime::CompareTo(const VValueSingle& other, bool) const {
    VTime read;
    other.GetTime(read);
    return CompareTo(read);
}

CompareResult VTime::CompareToSameKind(const VValue* other, bool) const {
    return CompareTo(*static_cast<const VTime*>(other));
}

bool VTime::EqualToSameKind(const VValue* other, bool) const {
    return CompareTo(*static_cast<const VTime*>(other)) == CR_EQUAL;
}

CompareResult VTime::CompareToSameKindPtr(const void* data, bool) const {
    return CompareTo(VTime(sInfo.Read(data)));
}

bool VTime::EqualToSameKindPtr(const void* data, bool) const {
    return GetStamp() == sInfo.Read(data);
}

// ---- Stored and stream forms

const void* VTime::LoadFromPtr(const void* data, bool) {
    _SplitStamp(sInfo.Read(data));
    _SetValueChanged();
    return static_cast<const char*>(data) + sizeof(uint64);
}

void* VTime::WriteToPtr(void* data, bool, size_t) const {
    uint64 stamp = GetStamp();
    std::memcpy(data, &stamp, sizeof(uint64));
    return static_cast<char*>(data) + sizeof(uint64);
}

} // namespace vela
