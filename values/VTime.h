#pragma once

#include "values/VDuration.h"
#include "values/VScalar.h"

namespace vela {

// Construction choice of VTime: the current UTC time, or the zero stamp.
enum VTimeInitParam : int32 {
    eInitWithZero = 0,
    eInitWithCurrentTime = 1,
};

// Kind 8: a Gregorian date and a time of day in milliseconds, always held in UTC. Fields: year (computed as
// signed 16-bit), month 1-12, day 1-31, milliseconds since UTC midnight 0-86,399,999. The zero date (year, month
// and day 0) means "no date": a bare time of day, or nothing. A null time has all fields 0.
// Stamp: year in bits 48-63, month 40-47, day 32-39, milliseconds 0-31. Arithmetic counts milliseconds on a
// Julian-day scale (2000-01-01 is day 2,451,544); local time goes through VSystem's time-zone services.
class VTime : public VValueSingleWithoutOptions {
public:
    static constexpr uint16 kKind = 8;
    static constexpr int64 kMsPerDay = 86400000;

    // RFC 3339 writer options.
    static constexpr uint32 kRfc3339UTC = 1;      // UTC fields with "Z"
    static constexpr uint32 kRfc3339Local = 2;    // local fields without zone
    static constexpr uint32 kRfc3339TimeOnly = 4; // takes precedence over date only
    static constexpr uint32 kRfc3339DateOnly = 8;
    static constexpr uint32 kRfc3339ZeroDate = 16; // full form with the date written as zeros
    static constexpr uint32 kRfc3339NoMillis = 32;

    // The zero stamp, not null.
    VTime() noexcept = default;
    // eInitWithCurrentTime: now (UTC); any other value the zero stamp.
    explicit VTime(VTimeInitParam init);
    explicit VTime(uint64 stamp) noexcept { _SplitStamp(stamp); }
    // Storage constructor: init gives the zero stamp, otherwise the stamp at data (host order, unaligned).
    VTime(const uint64* data, bool init) noexcept;
    // Fields and null flag; dirty.
    VTime(const VTime& other) noexcept;
    VTime& operator=(const VTime& other) noexcept;

    static const VValueInfo_scalar<VTime, kKind, uint64> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    // Fields and null flag; dirty.
    VValue* Clone() const override { return new VTime(*this); }
    // All fields 0, not null, dirty.
    void Clear() override;
    // A zero-date value becomes null.
    void NullIfZero();
    size_t GetSpace(size_t = 0) const override { return sizeof(uint64); }
    size_t GetStreamSpace() const override { return sizeof(uint64); }

    uint64 GetStamp() const noexcept;
    // The fields of stamp, not null, dirty.
    void FromStamp(uint64 stamp);
    bool IsZeroDate() const noexcept { return fYear == 0 && fMonth == 0 && fDay == 0; }

    // ---- Components (int16 parts; hours 0-23 and so on)
    // Valid fields set the value (not null, dirty); invalid ones (a bad date unless all three date parts are 0,
    // or a part out of range) clear it and make it null.
    void FromUTCTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms);
    // The UTC parts; all 0 for a null time.
    void GetUTCTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second,
                    int16& ms) const noexcept;
    // The same in the system's default time zone (the zone's rule at that date).
    void FromLocalTime(int16 year, int16 month, int16 day, int16 hour, int16 minute, int16 second, int16 ms);
    void GetLocalTime(int16& year, int16& month, int16& day, int16& hour, int16& minute, int16& second,
                      int16& ms) const noexcept;
    int16 GetLocalYear() const noexcept;
    int16 GetLocalMonth() const noexcept;
    int16 GetLocalDay() const noexcept;
    int16 GetLocalHour() const noexcept;
    int16 GetLocalMinute() const noexcept;
    int16 GetLocalSecond() const noexcept;
    int16 GetLocalMillisecond() const noexcept;
    // Local hour, minute, second and millisecond as a duration.
    VDuration GetLocalDurationSinceMidnight() const;
    // Replace one local part and convert back (year and month: an invalid result is null). SetLocalDay moves by
    // days, so days beyond the month carry on; the time parts carry into the higher parts.
    void SetLocalYear(int16 year);
    void SetLocalMonth(int16 month);
    void SetLocalDay(int16 day);
    void SetLocalHour(int16 hour);
    void SetLocalMinute(int16 minute);
    void SetLocalSecond(int16 second);
    void SetLocalMillisecond(int16 ms);
    // The current UTC time stored as the clock gives it (no validation).
    void FromSystemTime();
    // The current UTC time into now.
    static void Now(VTime& now);
    // Today's local midnight plus ms.
    void FromToday(int32 ms);
    // Seconds since 1970 of the local parts through the C library's mktime (× 1,000 + ms when asked).
    int64 GetLocalUnixTime(bool withMilliseconds) const;

    // ---- Calendar
    // d ≥ 1, y ≥ 0, 1 ≤ m ≤ 12, d within the month (29 February in leap years only).
    static bool CheckDate(int16 year, int16 month, int16 day) noexcept;
    static bool IsLeapYear(int16 year) noexcept;
    static int64 ComputeJulianDay(int16 year, int16 month, int16 day) noexcept;
    // 0 Sunday .. 6 Saturday.
    static int32 ComputeWeekDay(int16 year, int16 month, int16 day) noexcept;
    // 1 for the first of January.
    static int32 ComputeYearDay(int16 year, int16 month, int16 day) noexcept;
    int64 GetJulianDay() const noexcept {
        return ComputeJulianDay(int16(fYear), int16(int8(fMonth)), int16(int8(fDay)));
    }
    // The date of Julian day jd at midnight, not null, dirty.
    void FromJulianDay(int64 jd);
    // -1 for a null time.
    int32 GetWeekDay() const noexcept;
    int32 GetYearDay() const noexcept;
    // The date in the Julian calendar (zeros for a null time).
    void GetJulianDate(int16& year, int16& month, int16& day) const noexcept;
    // The Gregorian date of a Julian-calendar date at midnight (29 February in every fourth year); a bad date
    // makes the value null.
    void FromJulianDate(int16 year, int16 month, int16 day);

    // ---- Arithmetic through the millisecond count
    // Julian day × 86,400,000 + milliseconds; -1 for a null time, 0 for the zero date.
    int64 GetMilliseconds() const noexcept;
    // 0 gives the zero stamp, -1 a null time, anything else the date and time of that count (days rounded
    // down, so the time of day stays in range). Dirty.
    void FromMilliseconds(int64 milliseconds);
    // Counts from GetMilliseconds (a null time counts -1, the zero date 0); the duration's null flag is ignored.
    void Add(const VDuration& duration);
    void Substract(const VDuration& duration);
    // out = this count minus other's count; not null, dirty.
    void Substract(const VTime& other, VDuration& out) const;
    // The year field moves by n (16-bit wrap, no validation).
    void AddYears(int16 n) noexcept { fYear = uint16(fYear + uint16(n)); }
    // The month moves by n within 1-12, carrying into the year; the day stays (31 January + 1 is 31 February).
    void AddMonths(int32 n) noexcept;
    void AddDays(int32 n) { _AddCount(int64(n) * kMsPerDay); }
    void AddHours(int32 n) { _AddCount(int64(n) * 3600000); }
    void AddMinutes(int32 n) { _AddCount(int64(n) * 60000); }
    void AddSeconds(int32 n) { _AddCount(int64(n) * 1000); }
    void AddMilliseconds(int64 n) { _AddCount(n); }

    // ---- Text
    // FormatByOS(out, true).
    void GetString(VString& out) const override;
    // The current international manager's short date and time joined by a space; utc or local time. A null
    // time clears the texts.
    void FormatByOS(VString& out, bool utc) const;
    void FormatByOS(VString& date, VString& time, bool utc) const;
    // "YYYY-MM-DD hh:mm:ss:mmm" in local time; empty for a null time.
    void GetStringLocalTime(VString& out) const;
    // "d!m!y" without leading zeros; null makes out null.
    void toSimpleDateString(VString& out) const;
    // Up to 7 numbers (year, month, day, hour, minute, second, ms; runs of digits, anything else separates)
    // through FromUTCTime. "d!m!y" is the short form: a date at midnight (a bad date makes the value null).
    void FromString(const VString& text) override;
    // RFC 3339 with the kRfc3339... options; a null time writes "0000-00-00T00:00:00Z". Without kRfc3339UTC and
    // kRfc3339Local the local fields are followed by the offset in force at that instant ("+01:00").
    void GetRfc3339String(VString& out, uint32 options) const;
    // Reads RFC 3339 (full form, date, time of day, or whole seconds); fractions of seconds round to the nearest
    // ms; "Z" means UTC, an offset is applied, neither means local time. False (value null) for unreadable text;
    // true with a null value for the all-zero full form and for an impossible date or time.
    bool FromRfc3339String(const VString& text);
    // "Wed, 04 Mar 2020 05:06:07 GMT"; a null time gives ", 00  0000 00:00:00 GMT".
    void GetRfc822String(VString& out) const;
    // Day, month name, year, hour, minute, second in that order (zones ignored); a missing part is 0.
    void FromRfc822String(const VString& text);
    // The compiler's __DATE__ and __TIME__ texts, taken as local time.
    void FromCompilerDateTime(const char* date, const char* time);
    // GetRfc3339String.
    void GetXMLString(VString& out, uint32 options = 0) const override;
    // RFC 3339, also between "!!" marks; a text with "!" inside goes through FromString (true). False and null
    // for unreadable text.
    bool FromXMLString(const VString& xml) override;
    // RFC 3339 in UTC with ms (options 512: the date alone when the time of day is 0); option 1 in double
    // quotes, option 4096 between "!!" marks (inside the quotes). VE_OK.
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // FromXMLString; VE_OK.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    // Null gives JSON null; option 1 a JSON time (the UTC date), otherwise the string of GetJSONString(0).
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    // JSON null makes the value null; anything else is read as text through FromXMLString. VE_OK.
    VError FromJSONValue(const VJSONValue& json) override;

    // ---- Value model
    int64 GetLong8OrMilliSeconds() const override { return GetMilliseconds(); }
    // The stamp as a double.
    double GetReal() const override { return double(GetStamp()); }
    void GetTime(VTime& out) const override { out.FromTime(*this); }
    void GetValue(VValueSingle& out) const override { out.FromTime(*this); }
    // Fields and null flag of other; dirty.
    void FromTime(const VTime& other) override;
    // Through the source's GetTime, then its null flag.
    void FromValue(const VValueSingle& value) override;
    bool FromValueSameKind(const VValue* other) override;

    // ---- Comparison: year, month, day, then milliseconds, each signed; null flags are not consulted
    CompareResult CompareTo(const VTime& other) const noexcept;
    bool operator==(const VTime& other) const noexcept { return CompareTo(other) == CR_EQUAL; }
    bool operator!=(const VTime& other) const noexcept { return CompareTo(other) != CR_EQUAL; }
    bool operator<(const VTime& other) const noexcept { return CompareTo(other) == CR_SMALLER; }
    bool operator<=(const VTime& other) const noexcept { return CompareTo(other) != CR_BIGGER; }
    bool operator>(const VTime& other) const noexcept { return CompareTo(other) == CR_BIGGER; }
    bool operator>=(const VTime& other) const noexcept { return CompareTo(other) != CR_SMALLER; }
    // With the other's GetTime.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool = false) const override;
    bool EqualToSameKind(const VValue* other, bool = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool = false) const override;
    bool EqualToSameKindPtr(const void* data, bool = false) const override;

    // ---- Stored form: the stamp in host order (loading clears null). Stream form: year (16 bits), month,
    // day (bytes), milliseconds (32 bits) in the stream's byte order; reading leaves the flags alone.
    const void* LoadFromPtr(const void* data, bool = false) override;
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override;
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
    void _SplitStamp(uint64 stamp) noexcept;
    void _SetFields(int64 year, int64 month, int64 day, int64 milliseconds) noexcept;
    void _AddCount(int64 milliseconds);
    // The seven local parts (all 0 for a null time).
    void _GetLocalParts(int16* parts) const noexcept;
    // Local parts from a millisecond count on the Julian-day scale, then back to UTC.
    void _FromLocalCount(int64 count);
    // Replaces one local time part (3 hour .. 6 millisecond) and converts back to UTC.
    void _SetLocalTimePart(int index, int64 value);
    // Where the characters that tell an RFC 3339 text's shape and zone stand.
    struct _Rfc3339Marks;
    bool _ReadRfc3339(const char* text, size_t length, const _Rfc3339Marks& marks);

    uint16 fYear = 0;
    uint8 fMonth = 0;
    uint8 fDay = 0;
    uint32 fMilliseconds = 0;
};

} // namespace vela
