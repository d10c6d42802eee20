#pragma once

#include "values/VArrayValue.h"

namespace vela {

// CompareMethod of Find: the test made on each element e against the value v.
enum CompareMethod : int32 {
    kFindGreaterOrEqual = -2, // e >= v
    kFindGreater = -1,        // e > v
    kFindEqual = 0,           // e == v
    kFindLess = 1,            // e < v
    kFindLessOrEqual = 2,     // e <= v
};

// Sorts n plain elements in place (ascending, or descending), equal elements exchanged as they meet.
template <class T> void QSort(T* data, int32 n, bool descending);

// An array of fixed-width numbers, stamps or milliseconds. Traits gives the element type (Element), the kinds,
// and the bridges to single values: Read (a single value to an element), Give (an element to a single value),
// NewSingle, Order (element against element) and CompareToSingle (element against a single value).
template <class Derived, class Traits> class VArrayFixed : public VArrayValue {
public:
    using Element = typename Traits::Element;

    // count zero elements (negative: none; empty when the storage cannot be had).
    explicit VArrayFixed(int32 count = 0) : VArrayValue(sizeof(Element)) { SetCount(count); }
    VArrayFixed(const VArrayFixed& other) : VArrayValue(other) {}

    const VValueInfo* GetValueInfo() const override { return &Derived::sInfo; }
    uint16 GetElemValueKind() const override { return Traits::kElemKind; }
    VValue* Clone() const override { return new Derived(static_cast<const Derived&>(*this)); }

    // Element index, or zero outside 1..count.
    Element GetAt(int32 index) const noexcept { return ValidIndex(index) ? _Data()[index - 1] : Element(0); }
    // Sets element index; nothing outside 1..count.
    void SetAt(Element value, int32 index) noexcept {
        if (ValidIndex(index)) _Data()[index - 1] = value;
    }

    void FromValue(const VValueSingle& value, int32 index) override { SetAt(Traits::Read(value), index); }
    void GetValue(VValueSingle& target, int32 index) const override { Traits::Give(GetAt(index), target); }
    VValueSingle* CloneValue(int32 index) const override { return Traits::NewSingle(GetAt(index)); }
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 index) const override {
        return Traits::CompareToSingle(GetAt(index), value, diacritical);
    }

    // Position of the first element from start (towards the end when forward, else towards 1) that passes the
    // method's test against value; -1 when none, when the array is empty or start is outside 1..count. An
    // unknown method answers start.
    int32 Find(Element value, int32 start, bool forward, int32 method) const noexcept;
    int32 Find(const VValueSingle& value, int32 start, bool forward, int32 method) const {
        return Find(Traits::Read(value), start, forward, method);
    }
    // Binary search of an array kept sorted ascending: the position of some equal element, or -1.
    int32 QuickFind(Element value) const noexcept;

    void Sort(int32 from, int32 to, bool descending = false) override {
        if (from < 1 || from >= to || to > fCount) return;
        QSort(_Data() + (from - 1), to - from + 1, descending);
        UnlockData();
    }

    void SwapElements(uint8* data, int32 i, int32 j) override {
        Element* elements = reinterpret_cast<Element*>(data);
        Element t = elements[i];
        elements[i] = elements[j];
        elements[j] = t;
    }
    CompareResult CompareElements(uint8* data, int32 i, int32 j) override {
        const Element* elements = reinterpret_cast<const Element*>(data);
        return Traits::Order(elements[i], elements[j]);
    }

    // Stream form: the 'VVAL' word (param 'VVAL'), count (int32), then the elements in the stream's order.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // Reads what WriteToStream writes (without the 'VVAL' word). A negative count changes nothing and answers no
    // error; a count the stream cannot back is refused as corrupted (209), one the memory cannot take with 100.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;

protected:
    Element* _Data() const noexcept { return reinterpret_cast<Element*>(fData); }
};

template <class T> struct VArrayNumberTraits {
    using Element = T;
    static CompareResult Order(T a, T b) noexcept { return a < b ? CR_SMALLER : (b < a ? CR_BIGGER : CR_EQUAL); }
};

struct VArrayByteTraits : VArrayNumberTraits<int8> {
    static constexpr uint16 kElemKind = 2;
    static int8 Read(const VValueSingle& value) { return value.GetByte(); }
    static void Give(int8 element, VValueSingle& target) { target.FromByte(element); }
    static VValueSingle* NewSingle(int8 element);
    static CompareResult CompareToSingle(int8 element, const VValueSingle& value, bool) {
        return Order(element, value.GetByte());
    }
};
struct VArrayWordTraits : VArrayNumberTraits<int16> {
    static constexpr uint16 kElemKind = 3;
    static int16 Read(const VValueSingle& value) { return value.GetWord(); }
    static void Give(int16 element, VValueSingle& target) { target.FromWord(element); }
    static VValueSingle* NewSingle(int16 element);
    static CompareResult CompareToSingle(int16 element, const VValueSingle& value, bool) {
        return Order(element, value.GetWord());
    }
};
struct VArrayLongTraits : VArrayNumberTraits<int32> {
    static constexpr uint16 kElemKind = 4;
    static int32 Read(const VValueSingle& value) { return value.GetLong(); }
    static void Give(int32 element, VValueSingle& target) { target.FromLong(element); }
    static VValueSingle* NewSingle(int32 element);
    static CompareResult CompareToSingle(int32 element, const VValueSingle& value, bool) {
        return Order(element, value.GetLong());
    }
};
struct VArrayLong8Traits : VArrayNumberTraits<int64> {
    static constexpr uint16 kElemKind = 5;
    static int64 Read(const VValueSingle& value) { return value.GetLong8(); }
    static void Give(int64 element, VValueSingle& target) { target.FromLong8(element); }
    static VValueSingle* NewSingle(int64 element);
    static CompareResult CompareToSingle(int64 element, const VValueSingle& value, bool) {
        return Order(element, value.GetLong8());
    }
};
// A NaN compares equal to anything.
struct VArrayRealTraits : VArrayNumberTraits<double> {
    static constexpr uint16 kElemKind = 6;
    static double Read(const VValueSingle& value) { return value.GetReal(); }
    static void Give(double element, VValueSingle& target) { target.FromReal(element); }
    static VValueSingle* NewSingle(double element);
    static CompareResult CompareToSingle(double element, const VValueSingle& value, bool) {
        return Order(element, value.GetReal());
    }
};
// Times are kept as their unsigned stamps (stamp 0: the null time).
struct VArrayTimeTraits : VArrayNumberTraits<uint64> {
    static constexpr uint16 kElemKind = 8;
    static uint64 Read(const VValueSingle& value);
    static void Give(uint64 element, VValueSingle& target);
    static VValueSingle* NewSingle(uint64 element);
    static CompareResult CompareToSingle(uint64 element, const VValueSingle& value, bool diacritical);
};
// Durations are kept as signed milliseconds.
struct VArrayDurationTraits : VArrayNumberTraits<int64> {
    static constexpr uint16 kElemKind = 9;
    static int64 Read(const VValueSingle& value);
    static void Give(int64 element, VValueSingle& target);
    static VValueSingle* NewSingle(int64 element);
    static CompareResult CompareToSingle(int64 element, const VValueSingle& value, bool diacritical);
};

// Kind 101: signed bytes.
class VArrayByte : public VArrayFixed<VArrayByte, VArrayByteTraits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayByte, 101, char> sInfo;
    int8 GetByte(int32 index) const noexcept { return GetAt(index); }
    void FromByte(int8 value, int32 index) override { SetAt(value, index); }
    // Largest and smallest element; an empty array answers -128 and 127.
    int8 GetMax() const noexcept;
    int8 GetMin() const noexcept;
};

// Kind 102: signed 16-bit integers.
class VArrayWord : public VArrayFixed<VArrayWord, VArrayWordTraits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayWord, 102, short> sInfo;
    int16 GetWord(int32 index) const noexcept { return GetAt(index); }
    void FromWord(int16 value, int32 index) override { SetAt(value, index); }
    // An empty array answers -32768 and 32767.
    int16 GetMax() const noexcept;
    int16 GetMin() const noexcept;
};

// Kind 103: signed 32-bit integers.
class VArrayLong : public VArrayFixed<VArrayLong, VArrayLongTraits> {
public:
    using VArrayFixed::VArrayFixed;
    VArrayLong(const VArrayLong& other) = default;
    VArrayLong& operator=(const VArrayLong& other) {
        Copy(other);
        return *this;
    }
    static const VValueInfo_array<VArrayLong, 103, int> sInfo;
    int32 GetLong(int32 index) const noexcept { return GetAt(index); }
    void FromLong(int32 value, int32 index) override { SetAt(value, index); }
    // An empty array answers INT32_MIN and INT32_MAX.
    int32 GetMax() const noexcept;
    int32 GetMin() const noexcept;
};

// Kind 104: signed 64-bit integers.
class VArrayLong8 : public VArrayFixed<VArrayLong8, VArrayLong8Traits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayLong8, 104, long long> sInfo;
    int64 GetLong8(int32 index) const noexcept { return GetAt(index); }
    void FromLong8(int64 value, int32 index) override { SetAt(value, index); }
};

// Kind 105: doubles.
class VArrayReal : public VArrayFixed<VArrayReal, VArrayRealTraits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayReal, 105, double> sInfo;
    double GetReal(int32 index) const noexcept { return GetAt(index); }
    void FromReal(double value, int32 index) override { SetAt(value, index); }
    // All 0.0 for an empty array. GetSquareSum is the sum of squared deviations from the average, and GetStdDev
    // that sum over count: the population variance, no square root taken (callers rely on it).
    double GetSum() const noexcept;
    double GetAverage() const noexcept;
    double GetSquareSum() const noexcept;
    double GetStdDev() const noexcept;
};

// Kind 107: times.
class VArrayTime : public VArrayFixed<VArrayTime, VArrayTimeTraits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayTime, 107, unsigned long long> sInfo;
    // out takes element index; it is left as it was outside 1..count.
    void GetTime(VTime& out, int32 index) const;
    void FromTime(const VTime& value, int32 index) override;
    using VArrayFixed::Find;
    int32 Find(const VTime& value, int32 start, bool forward, int32 method) const;
};

// Kind 108: durations.
class VArrayDuration : public VArrayFixed<VArrayDuration, VArrayDurationTraits> {
public:
    using VArrayFixed::VArrayFixed;
    static const VValueInfo_array<VArrayDuration, 108, long long> sInfo;
    // out takes element index (0 ms outside 1..count).
    void GetDuration(VDuration& out, int32 index) const;
    void FromDuration(const VDuration& value, int32 index) override;
    using VArrayFixed::Find;
    int32 Find(const VDuration& value, int32 start, bool forward, int32 method) const;
};

// Kind 100: Booleans packed 8 to a byte, element i (0-based) in bit i mod 8 of byte i / 8. An array of n
// elements that has storage owns (n + 8) / 8 bytes. True orders before false.
class VArrayBoolean : public VArrayValue {
public:
    explicit VArrayBoolean(int32 count = 0) : VArrayValue(0) { SetCount(count); }
    VArrayBoolean(const VArrayBoolean& other) : VArrayValue(other) {}

    static const VValueInfo_array<VArrayBoolean, 100, unsigned char> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    uint16 GetElemValueKind() const override { return 1; }
    VValue* Clone() const override { return new VArrayBoolean(*this); }

    // False outside 1..count.
    bool GetBoolean(int32 index) const noexcept { return ValidIndex(index) && _Bit(index - 1); }
    void FromBoolean(uint8 value, int32 index) override {
        if (ValidIndex(index)) _SetBit(index - 1, value != 0);
    }

    bool SetCount(int32 n) override;
    bool Delete(int32 at, int32 n) override;
    void MoveElements(int32 from, int32 to, int32 n) override;
    void InitElements(int32 start, int32 n) override;
    // The whole array is rewritten as a block of true elements and a block of false ones (true first when
    // ascending); a part of it goes through the common sort.
    void Sort(int32 from, int32 to, bool descending = false) override;
    // Leaves the array unchanged.
    void Unsort() override {}

    void FromValue(const VValueSingle& value, int32 index) override;
    void GetValue(VValueSingle& target, int32 index) const override;
    VValueSingle* CloneValue(int32 index) const override;
    // 0 when element index equals the value's GetBoolean, else 1 when the value is true and -1 when false.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 index) const override;
    // As the typed Find with the test "equals value" whatever the method.
    int32 Find(bool value, int32 start, bool forward, int32 method = kFindEqual) const noexcept;
    int32 Find(const VValueSingle& value, int32 start, bool forward, int32 method = kFindEqual) const;

    void SwapElements(uint8* data, int32 i, int32 j) override;
    CompareResult CompareElements(uint8* data, int32 i, int32 j) override;

    // Stream form: the 'VVAL' word (param 'VVAL'), count, then the (count + 8) / 8 storage bytes as they are.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    VError ReadFromStream(VStream* stream, int32 param = 0) override;

private:
    bool _Bit(int64 i) const noexcept { return (fData[i >> 3] >> (i & 7)) & 1; }
    void _SetBit(int64 i, bool on) noexcept {
        if (on)
            fData[i >> 3] |= uint8(1u << (i & 7));
        else
            fData[i >> 3] &= uint8(~(1u << (i & 7)));
    }
    static uint64 _BytesFor(int32 n) noexcept { return (uint64(n) + 8) / 8; }
};

} // namespace vela
