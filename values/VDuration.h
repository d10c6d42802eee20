#pragma once

#include "values/VScalar.h"

namespace vela {

// Kind 9: a signed span of time in milliseconds (int64). Numbers converted into or out of a duration are seconds;
// text forms are a millisecond count (JSON), whole seconds or ISO 8601 (XML) and colon forms. All arithmetic is
// 64-bit and saturates at the int64 limits; a zero divisor leaves the count as it was. Null flags take no part in
// comparisons.
class VDuration : public VValueSingleWithoutOptions {
public:
    static constexpr uint16 kKind = 9;
    static constexpr int64 kMsPerSecond = 1000;
    static constexpr int64 kMsPerMinute = 60000;
    static constexpr int64 kMsPerHour = 3600000;
    static constexpr int64 kMsPerDay = 86400000;

    VDuration() noexcept = default;
    explicit VDuration(int64 milliseconds) noexcept : fMilliseconds(milliseconds) {}
    // Storage constructor: init gives 0, otherwise the count is read from data (host order, unaligned).
    VDuration(const int64* data, bool init) noexcept;
    // Copies the count and flags but is never null (a copy of a null duration holds its count), dirty.
    VDuration(const VDuration& other) noexcept;
    // The count, not null, dirty.
    VDuration& operator=(const VDuration& other) noexcept;

    static const VValueInfo_scalar<VDuration, kKind, int64> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    // A copy as the copy constructor makes it.
    VValue* Clone() const override { return new VDuration(*this); }
    // 0, not null, dirty.
    void Clear() override { _Set(0); }
    size_t GetSpace(size_t = 0) const override { return sizeof(int64); }
    size_t GetStreamSpace() const override { return sizeof(int64); }

    // ---- Counts (setters: not null, dirty)
    void FromNbMilliseconds(int64 n) { _Set(n); }
    void FromNbSeconds(int64 n) { _Set(_Mul(n, kMsPerSecond)); }
    void FromNbMinutes(int64 n) { _Set(_Mul(n, kMsPerMinute)); }
    void FromNbHours(int64 n) { _Set(_Mul(n, kMsPerHour)); }
    void FromNbDays(int64 n) { _Set(_Mul(n, kMsPerDay)); }
    // The count in each unit, truncated toward zero.
    int64 ConvertToMilliseconds() const noexcept { return fMilliseconds; }
    int64 ConvertToSeconds() const noexcept { return fMilliseconds / kMsPerSecond; }
    int64 ConvertToMinutes() const noexcept { return fMilliseconds / kMsPerMinute; }
    int64 ConvertToHours() const noexcept { return fMilliseconds / kMsPerHour; }

    // Parts: whole days, then the hour within the day, minute within the hour, second within the minute and
    // millisecond within the second; each takes the sign of the count.
    int32 GetDay() const noexcept { return int32(fMilliseconds / kMsPerDay); }
    int32 GetHour() const noexcept { return int32(fMilliseconds % kMsPerDay / kMsPerHour); }
    int32 GetMinute() const noexcept { return int32(fMilliseconds % kMsPerHour / kMsPerMinute); }
    int32 GetSecond() const noexcept { return int32(fMilliseconds % kMsPerMinute / kMsPerSecond); }
    int32 GetMillisecond() const noexcept { return int32(fMilliseconds % kMsPerSecond); }
    // The five parts; -1 in each for a null duration.
    void GetDuration(int32& days, int32& hours, int32& minutes, int32& seconds, int32& milliseconds) const noexcept;
    // count = (or +=) the sum of the parts; not null, dirty.
    void SetDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 milliseconds);
    void AddDuration(int32 days, int32 hours, int32 minutes, int32 seconds, int32 milliseconds);
    // count += n units; not null, dirty.
    void AddDays(int32 n) { _Set(_Add(fMilliseconds, int64(n) * kMsPerDay)); }
    void AddHours(int32 n) { _Set(_Add(fMilliseconds, int64(n) * kMsPerHour)); }
    void AddMinutes(int32 n) { _Set(_Add(fMilliseconds, int64(n) * kMsPerMinute)); }
    void AddSeconds(int32 n) { _Set(_Add(fMilliseconds, int64(n) * kMsPerSecond)); }
    void AddMilliseconds(int64 n) { _Set(_Add(fMilliseconds, n)); }
    // Replace one part, the others kept (AdjustDay keeps the time within the day); not null, dirty.
    void AdjustDay(int32 n);
    void AdjustHour(int32 n) { _Set(_Add(fMilliseconds, (int64(n) - GetHour()) * kMsPerHour)); }
    void AdjustMinute(int32 n) { _Set(_Add(fMilliseconds, (int64(n) - GetMinute()) * kMsPerMinute)); }
    void AdjustSecond(int32 n) { _Set(_Add(fMilliseconds, (int64(n) - GetSecond()) * kMsPerSecond)); }
    void AdjustMillisecond(int32 n) { _Set(_Add(fMilliseconds, int64(n) - GetMillisecond())); }

    // ---- Arithmetic (flags untouched)
    void Add(const VDuration& other) noexcept { fMilliseconds = _Add(fMilliseconds, other.fMilliseconds); }
    void Substract(const VDuration& other) noexcept;
    // count × factor (count / divisor) truncated toward zero; NaN gives 0. Divide by 0 leaves the count.
    void Multiply(double factor) noexcept;
    void Divide(double divisor) noexcept;
    // count / other's count; 0.0 when the other is 0.
    double Divide(const VDuration& other) const noexcept;
    // count = count mod other's count (sign of the count); a zero divisor leaves the count.
    void Remainder(const VDuration& other) noexcept;
    // The count in hours.
    double GetDecimalHour() const noexcept { return double(fMilliseconds) / double(kMsPerHour); }
    // count = (or +=) hours × 3,600,000 truncated; not null, dirty.
    void FromDecimalHour(double hours);
    void AddDecimalHour(double hours);
    // Appends "days:hours:minutes:seconds:milliseconds" of GetDuration (no leading zeros).
    void GetFormattedString(VString& out) const;

    // ---- Comparison of counts
    CompareResult CompareTo(const VDuration& other) const noexcept {
        return fMilliseconds == other.fMilliseconds ? CR_EQUAL
                                                    : (fMilliseconds > other.fMilliseconds ? CR_BIGGER : CR_SMALLER);
    }
    bool operator==(const VDuration& other) const noexcept { return fMilliseconds == other.fMilliseconds; }
    bool operator!=(const VDuration& other) const noexcept { return fMilliseconds != other.fMilliseconds; }
    bool operator<(const VDuration& other) const noexcept { return fMilliseconds < other.fMilliseconds; }
    bool operator<=(const VDuration& other) const noexcept { return fMilliseconds <= other.fMilliseconds; }
    bool operator>(const VDuration& other) const noexcept { return fMilliseconds > other.fMilliseconds; }
    bool operator>=(const VDuration& other) const noexcept { return fMilliseconds >= other.fMilliseconds; }

    // ---- Value model: numbers are seconds
    bool GetBoolean() const override { return fMilliseconds != 0; }
    int8 GetByte() const override { return int8(fMilliseconds / kMsPerSecond); }
    int16 GetWord() const override { return int16(fMilliseconds / kMsPerSecond); }
    int32 GetLong() const override { return int32(fMilliseconds / kMsPerSecond); }
    int64 GetLong8() const override { return fMilliseconds / kMsPerSecond; }
    int64 GetLong8OrMilliSeconds() const override { return fMilliseconds; }
    double GetReal() const override { return double(fMilliseconds) / 1000.0; }
    // Copies only the count into out (its flags stay).
    void GetDuration(VDuration& out) const override { out.fMilliseconds = fMilliseconds; }
    void GetValue(VValueSingle& out) const override { out.FromDuration(*this); }
    // Setters from seconds (1,000 for a non-zero boolean); not null, dirty.
    void FromBoolean(uint8 value) override { _Set(value != 0 ? kMsPerSecond : 0); }
    void FromByte(int8 value) override { _Set(int64(value) * kMsPerSecond); }
    void FromWord(int16 value) override { _Set(int64(value) * kMsPerSecond); }
    void FromLong(int32 value) override { _Set(int64(value) * kMsPerSecond); }
    void FromLong8(int64 value) override { _Set(_Mul(value, kMsPerSecond)); }
    void FromReal(double seconds) override;
    // The count; not null whatever the source's flag, dirty.
    void FromDuration(const VDuration& other) override { _Set(other.fMilliseconds); }
    // Through the source's GetDuration, then the source's null flag.
    void FromValue(const VValueSingle& value) override;
    // A non-zero GetLong8 of value is taken as milliseconds, else its GetDuration; then its null flag.
    void FromRESTValue(const VValueSingle& value) override;
    bool FromValueSameKind(const VValue* other) override;

    // ---- Text
    // The count in decimal; a null duration clears out.
    void GetString(VString& out) const override;
    // Seconds without ":" ("90" is 90,000 ms); otherwise hours:minutes:seconds:milliseconds, hours:minutes:seconds
    // or minutes:seconds. Not null, dirty.
    void FromString(const VString& text) override;
    // Whole seconds, or with option 1 ISO 8601 ("PT1H2M3S", "P1DT2H3M4.50000000000000S").
    void GetXMLString(VString& out, uint32 options = 0) const override;
    // ISO 8601 when the text starts with "P" (a year is 360 days, a month 30; fractions of seconds round to the
    // nearest ms), else as FromString. Always true; not null, dirty.
    bool FromXMLString(const VString& xml) override;
    // The count in decimal (also for null); VE_OK.
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // The text's integer as milliseconds; not null, dirty; VE_OK.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    // Null gives JSON null; option 4 the text "h:mm:ss", option 2 the count, otherwise seconds as a number.
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    // JSON null makes the value null; otherwise the number of seconds (truncated to ms), not null, dirty.
    VError FromJSONValue(const VJSONValue& json) override;

    // ---- Comparisons
    // With the other's GetDuration.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool = false) const override;
    bool EqualToSameKind(const VValue* other, bool = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool = false) const override;
    bool EqualToSameKindPtr(const void* data, bool = false) const override;

    // ---- Stored and stream forms: the int64 count, in host order (memory) or the stream's order
    // Loading clears null; stream reading leaves the flags alone and gives 0 on a short read. Both stream
    // operations answer the stream's error.
    const void* LoadFromPtr(const void* data, bool = false) override;
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override;
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
    void _Set(int64 milliseconds) {
        fMilliseconds = milliseconds;
        _SetValueChanged();
    }
    // Saturating at the int64 limits.
    static int64 _Add(int64 a, int64 b) noexcept;
    static int64 _Mul(int64 a, int64 b) noexcept;

    int64 fMilliseconds = 0;
};

// Reads a decimal number of seconds from text ("4.5", "-1", " 7.0895", "1e2": optional blanks, sign, digits,
// fraction, exponent) as milliseconds rounded to the nearest, half away from zero; saturates at the int64 limits.
// *consumed (may be null) receives the bytes read; 0 when the text does not start with a number (the result is
// then 0). *whole (may be null) receives the whole seconds, truncated toward zero (59.9996 is 59 s, 60,000 ms).
int64 SecondsTextToMilliseconds(const char* text, size_t length, size_t* consumed = nullptr,
                                int64* whole = nullptr) noexcept;

// A double as an int64: truncated toward zero, NaN gives 0, values beyond the range saturate.
int64 SaturatingRealToLong8(double value) noexcept;

} // namespace vela
