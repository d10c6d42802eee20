#pragma once

#include "values/VScalar.h"

namespace vela {

// Kind 6: an IEEE-754 double. Reals compare with a tolerance: equal when |a - b| < 1e-06 (or the options'
// epsilon); an exact comparison is asked for with the diacritical flag. A NaN on either side orders as smaller
// and is never equal, so these comparisons are no strict weak order: never hand them to std::sort.
class VReal : public VValueSingle {
public:
    static constexpr uint16 kKind = 6;
    // Tolerance of comparisons without options.
    static constexpr double kEpsilon = 1e-06;

    class VValueInfo_real;

    VReal() noexcept = default;
    explicit VReal(double value) noexcept : fValue(value) {}
    // Storage constructor: init gives 0.0, otherwise the datum is read from data (host order, unaligned).
    VReal(const double* data, bool init) noexcept;
    VReal(const VReal& other) noexcept : VValueSingle(other), fValue(other.fValue) {}
    // Copies the datum and the null flag; the value becomes dirty.
    VReal& operator=(const VReal& other);

    // The datum.
    double Get() const noexcept { return fValue; }

    static const VValueInfo_real sInfo;
    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override;
    void Clear() override { _Set(0.0, false); }
    size_t GetSpace(size_t = 0) const override { return sizeof(double); }

    // NaN is true. The integer getters truncate toward zero; NaN or a value outside int32 (int64 for
    // GetLong8) gives that type's minimum, GetByte and GetWord then keep the low bits.
    bool GetBoolean() const override { return fValue != 0.0; }
    int8 GetByte() const override;
    int16 GetWord() const override;
    int32 GetLong() const override;
    int64 GetLong8() const override;
    double GetReal() const override { return fValue; }

    void FromBoolean(uint8 value) override { _Set(double(value), false); }
    void FromByte(int8 value) override { _Set(double(value), false); }
    void FromWord(int16 value) override { _Set(double(value), false); }
    void FromLong(int32 value) override { _Set(double(value), false); }
    void FromLong8(int64 value) override { _Set(double(value), false); }
    void FromReal(double value) override { _Set(value, false); }
    // Through VString::GetReal; the null flag follows the text's, and a null text leaves the datum as it was.
    void FromString(const VString& text) override;
    void FromValue(const VValueSingle& value) override;
    // Through the target's FromReal ("%.14G" for a string: 0.1 -> "0.1", 1e20 -> "1E+20").
    void GetString(VString& out) const override;
    void GetValue(VValueSingle& out) const override;
    // Durations meet reals as seconds.
    void GetDuration(VDuration& out) const override;
    void FromDuration(const VDuration& duration) override;

    // Text for XML: integral values up to 2^53 - 1 as integers ("4", -0.0 as "0"), "NaN", "INF", "-INF",
    // everything else "%.14G" with "." ("2.5", "1E+300").
    static void RealToXMLString(double value, VString& out);
    // As RealToXMLString, but NaN and both infinities give "null".
    static void RealToJSONString(double value, VString& out);
    void GetXMLString(VString& out, uint32 options = 0) const override;
    // Takes the text only when the C reader consumes all of it (at most 255 characters, "," read as "."; the
    // empty text is 0.0); answers false and changes nothing otherwise.
    bool FromXMLString(const VString& xml) override;
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // FromXMLString, and 0.0 (not null) for any other text; answers VE_OK.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    // JSON null makes the value null and keeps the datum; anything else stores its number.
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

    // Against the other's GetReal with the tolerance; diacritical asks for an exact comparison.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;
    // With the options' epsilon, or exact when their diacritical flag is set.
    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool FromValueSameKind(const VValue* other) override;

    // Stored form: the 8 bytes of the double in host order.
    const void* LoadFromPtr(const void* data, bool = false) override;
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override;
    // Stream form: the 8 bytes in the stream's byte order; reading leaves the flags alone, a short read 0.0.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

    // 0 when |a - b| < epsilon (never for a NaN), else 1 when a > b, else -1; epsilon 0 is exact.
    static CompareResult CompareReals(double a, double b, double epsilon) noexcept;

private:
    void _Set(double value, bool null) {
        fValue = value;
        SetNull(null);
        fFlags |= kDirtyFlag;
    }

    double fValue = 0.0;
};

// Descriptor of kind 6. Plain comparisons: exact with diacritical, else the 1e-06 tolerance. With options: two
// NaNs are equal, a NaN alone is smaller (first) or bigger (second); then exact with the options' diacritical
// flag, else their epsilon.
class VReal::VValueInfo_real : public VValueInfo_scalar<VReal, VReal::kKind, double> {
public:
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                 const VCompareOptions& options) const override;
};

// Converts a packed decimal number to a double. Layout (host order, unaligned): int32 exponent, int8 sign (0
// zero, -1 negative, other positive), int32 digit count, then the digits two per byte (tens × 10 + units). The
// value is 0.d1d2d3... × 10^exponent. At most the first 40 digits are read (number must hold their bytes); a
// count ≤ 0 gives 0, a byte above 99 gives the digits 0 0.
double MAPM_FloatToReal(const void* number);

} // namespace vela
