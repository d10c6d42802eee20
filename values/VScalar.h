#pragma once

#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <cstring>
#include <type_traits>

namespace vela {

class VBoolean;
class VByte;
class VWord;
class VLong;
class VLong8;

// Descriptor of a fixed-size kind whose stored form is one Stored datum in host order: Generate makes a zero
// value, LoadFromPtr a value holding the stored datum as it is, comparisons order the data (unsigned for
// uint8, signed otherwise); the swap flag of LoadFromPtr is not used, ByteSwapPtr swaps in place.
template <class ValueClass, uint16 Kind, class Stored> class VValueInfo_scalar : public VValueInfo {
public:
    VValueInfo_scalar() : VValueInfo(Kind) {}
    using VValueInfo::Generate;

    VValue* Generate() const override { return new ValueClass; }
    VValue* LoadFromPtr(const void* data, bool = false) const override { return new ValueClass(Read(data)); }
    void* ByteSwapPtr(void* data, bool) const override {
        auto* bytes = static_cast<unsigned char*>(data);
        for (size_t i = 0; i < sizeof(Stored) / 2; ++i) {
            unsigned char b = bytes[i];
            bytes[i] = bytes[sizeof(Stored) - 1 - i];
            bytes[sizeof(Stored) - 1 - i] = b;
        }
        return bytes + sizeof(Stored);
    }
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool = false) const override {
        return Order(Read(a), Read(b));
    }
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical = false) const override {
        return CompareTwoPtrToData(a, b, diacritical);
    }
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions&) const override {
        return Order(Read(a), Read(b));
    }
    size_t GetSizeOfValueDataPtr(const void*) const override { return sizeof(Stored); }
    size_t GetAvgSpace() const override { return sizeof(Stored); }

    // The datum at data (unaligned, host order).
    static Stored Read(const void* data) noexcept {
        Stored value;
        std::memcpy(&value, data, sizeof(Stored));
        return value;
    }
    static CompareResult Order(Stored a, Stored b) noexcept {
        return a == b ? CR_EQUAL : (a > b ? CR_BIGGER : CR_SMALLER);
    }
};

// The integer kinds VByte (int8), VWord (int16), VLong (int32) and VLong8 (int64): one signed datum that every
// setter cuts to its width (reals truncate toward zero; NaN or out of range gives the minimum of int32, for
// VLong8 of int64, before the cut). Comparisons are signed; options and the diacritical flag are ignored.
template <class Derived, class T, uint16 Kind> class VIntegerScalar : public VValueSingleWithoutOptions {
public:
    static constexpr uint16 kKind = Kind;

    VIntegerScalar() noexcept = default;
    explicit VIntegerScalar(T value) noexcept : fValue(value) {}
    // Storage constructor: init gives 0, otherwise the datum is read from data (host order, unaligned).
    VIntegerScalar(const T* data, bool init) noexcept {
        if (!init) std::memcpy(&fValue, data, sizeof(T));
    }
    VIntegerScalar(const VIntegerScalar& other) noexcept : VValueSingleWithoutOptions(other), fValue(other.fValue) {}
    // Copies the datum and the null flag; the value becomes dirty.
    VIntegerScalar& operator=(const VIntegerScalar& other) {
        if (this != &other) _Set(other.fValue, other.IsNull());
        return *this;
    }

    // The datum.
    T Get() const noexcept { return fValue; }

    const VValueInfo* GetValueInfo() const override { return &Derived::sInfo; }
    VValue* Clone() const override {
        auto* copy = new Derived(fValue);
        copy->fFlags = fFlags | kDirtyFlag;
        return copy;
    }
    // Zero, not null, dirty.
    void Clear() override { _Set(0, false); }
    size_t GetSpace(size_t = 0) const override { return sizeof(T); }
    size_t GetStreamSpace() const override { return kStreamSize; }

    bool GetBoolean() const override { return fValue != 0; }
    int8 GetByte() const override { return int8(fValue); }
    int16 GetWord() const override { return int16(fValue); }
    int32 GetLong() const override { return int32(fValue); }
    int64 GetLong8() const override { return int64(fValue); }
    double GetReal() const override { return double(fValue); }

    void FromBoolean(uint8 value) override { _Set(T(value), false); }
    void FromByte(int8 value) override { _Set(T(value), false); }
    void FromWord(int16 value) override { _Set(T(value), false); }
    void FromLong(int32 value) override { _Set(T(value), false); }
    void FromLong8(int64 value) override { _Set(T(value), false); }
    void FromReal(double value) override;

    // Text through VString's integer reader; the null flag follows the text's (VLong8: a null text leaves the
    // datum as it was).
    void FromString(const VString& text) override;
    void FromValue(const VValueSingle& value) override;
    // The decimal text ("-12"), written by the target's own number setter.
    void GetString(VString& out) const override;
    void GetValue(VValueSingle& out) const override;
    // Durations meet numbers as seconds: the same conversions as with any other value.
    void GetDuration(VDuration& out) const override;
    void FromDuration(const VDuration& duration) override;

    CompareResult CompareTo(const VValueSingle& other, bool = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool = false) const override {
        return _Order(fValue, static_cast<const Derived*>(other)->fValue);
    }
    bool EqualToSameKind(const VValue* other, bool = false) const override {
        return fValue == static_cast<const Derived*>(other)->fValue;
    }
    CompareResult CompareToSameKindPtr(const void* data, bool = false) const override {
        return _Order(fValue, _Read(data));
    }
    bool EqualToSameKindPtr(const void* data, bool = false) const override { return fValue == _Read(data); }
    // Copies datum and null flag from a value of the same class.
    bool FromValueSameKind(const VValue* other) override {
        _Set(static_cast<const Derived*>(other)->fValue, other->IsNull());
        return true;
    }

    // Stored form: sizeof(T) bytes in host order (the swap flag is the descriptor's business).
    const void* LoadFromPtr(const void* data, bool = false) override {
        _Set(_Read(data), false);
        return static_cast<const char*>(data) + sizeof(T);
    }
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override {
        std::memcpy(data, &fValue, sizeof(T));
        return static_cast<char*>(data) + sizeof(T);
    }

    // Stream form in the stream's byte order: 16 bits for VByte (sign-extended) and VWord, 32 for VLong, 64
    // for VLong8. Reading leaves the flags alone; a short read leaves 0. Both answer the stream's error.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

    // JSON: the number rounded down, 0 unless it is exactly representable; JSON null makes the value null.
    VError FromJSONValue(const VJSONValue& json) override;
    // JSON null for a null value, else the datum as a number.
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

protected:
    static constexpr size_t kStreamSize = sizeof(T) < 2 ? 2 : sizeof(T);

    void _Set(T value, bool null) {
        fValue = value;
        SetNull(null);
        fFlags |= kDirtyFlag;
    }
    static T _Read(const void* data) noexcept {
        T value;
        std::memcpy(&value, data, sizeof(T));
        return value;
    }
    static CompareResult _Order(T a, T b) noexcept { return a == b ? CR_EQUAL : (a > b ? CR_BIGGER : CR_SMALLER); }

    T fValue = 0;
};

// Kind 2: a signed byte.
class VByte : public VIntegerScalar<VByte, int8, 2> {
public:
    using VIntegerScalar::VIntegerScalar;
    static const VValueInfo_scalar<VByte, 2, int8> sInfo;
};

// Kind 3: a signed 16-bit integer.
class VWord : public VIntegerScalar<VWord, int16, 3> {
public:
    using VIntegerScalar::VIntegerScalar;
    static const VValueInfo_scalar<VWord, 3, int16> sInfo;
};

// Kind 4: a signed 32-bit integer.
class VLong : public VIntegerScalar<VLong, int32, 4> {
public:
    using VIntegerScalar::VIntegerScalar;
    static const VValueInfo_scalar<VLong, 4, int32> sInfo;
};

// Kind 5: a signed 64-bit integer.
class VLong8 : public VIntegerScalar<VLong8, int64, 5> {
public:
    using VIntegerScalar::VIntegerScalar;
    static const VValueInfo_scalar<VLong8, 5, int64> sInfo;
};

// Kind 1: a boolean byte. Every entry normalises to 0 or 1 except FromBoolean and FromByte, which keep the
// byte as given (equality then compares raw bytes). Comparisons are unsigned.
class VBoolean : public VValueSingleWithoutOptions {
public:
    static constexpr uint16 kKind = 1;

    VBoolean() noexcept = default;
    // Keeps the byte as given.
    explicit VBoolean(uint8 value) noexcept : fValue(value) {}
    // Storage constructor: init gives 0, otherwise 1 when the stored byte is non-zero.
    VBoolean(const uint8* data, bool init) noexcept : fValue(init ? 0 : (*data != 0 ? 1 : 0)) {}
    VBoolean(const VBoolean& other) noexcept : VValueSingleWithoutOptions(other), fValue(other.fValue) {}
    // Copies the datum and the null flag; the value becomes dirty.
    VBoolean& operator=(const VBoolean& other);

    // The datum byte.
    uint8 Get() const noexcept { return fValue; }

    static const VValueInfo_scalar<VBoolean, 1, uint8> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    VValue* Clone() const override;
    void Clear() override { _Set(0, false); }
    size_t GetSpace(size_t = 0) const override { return 1; }
    size_t GetStreamSpace() const override { return 2; }

    // The datum as stored (any non-zero byte is true); the integer getters zero-extend, GetByte sign-extends.
    bool GetBoolean() const override { return fValue != 0; }
    int8 GetByte() const override { return int8(fValue); }
    int16 GetWord() const override { return int16(fValue); }
    int32 GetLong() const override { return int32(fValue); }
    int64 GetLong8() const override { return int64(fValue); }
    double GetReal() const override { return double(fValue); }

    void FromBoolean(uint8 value) override { _Set(value, false); }
    void FromByte(int8 value) override { _Set(uint8(value), false); }
    void FromWord(int16 value) override { _Set(value != 0 ? 1 : 0, false); }
    void FromLong(int32 value) override { _Set(value != 0 ? 1 : 0, false); }
    void FromLong8(int64 value) override { _Set(value != 0 ? 1 : 0, false); }
    // 1 for non-zero and for NaN.
    void FromReal(double value) override { _Set(value != 0.0 ? 1 : 0, false); }
    // Through the source's GetBoolean; the null flag follows the source's.
    void FromString(const VString& text) override;
    void FromValue(const VValueSingle& value) override;
    // Through the target's FromBoolean ("true" or "false" for a string).
    void GetString(VString& out) const override;
    void GetValue(VValueSingle& out) const override;
    void GetDuration(VDuration& out) const override;
    void FromDuration(const VDuration& duration) override;

    // "true" or "false" whatever the null flag.
    void GetXMLString(VString& out, uint32 options = 0) const override;
    // Exactly "1", "0", "true" or "false" (ASCII letters in any case); anything else answers false and
    // changes nothing.
    bool FromXMLString(const VString& xml) override;
    // "true" or "false" whatever the null flag; answers VE_OK.
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // FromXMLString, and false (not null) for any other text; answers VE_OK.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

    // Compares with the other's GetBoolean: equal bytes 0, a zero datum -1, else 1.
    CompareResult CompareTo(const VValueSingle& other, bool = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool = false) const override;
    bool EqualToSameKind(const VValue* other, bool = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool = false) const override;
    bool EqualToSameKindPtr(const void* data, bool = false) const override;
    bool FromValueSameKind(const VValue* other) override;

    // Stored form: one byte, 1 for any non-zero datum; reading makes any non-zero byte 1.
    const void* LoadFromPtr(const void* data, bool = false) override;
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override;
    // Stream form: a 16-bit integer holding the byte; reading makes non-zero 1 and leaves the flags alone.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
    void _Set(uint8 value, bool null) {
        fValue = value;
        SetNull(null);
        fFlags |= kDirtyFlag;
    }

    uint8 fValue = 0;
};

} // namespace vela
