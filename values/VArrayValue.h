#pragma once

#include "values/VValueInfo.h"
#include "values/VValueMultiple.h"

namespace vela {

class VValueSingle;

// Anything whose elements can be compared and exchanged by 0-based position in the storage LockAndGetData
// hands out, with the one sorting routine that sorts several of them in step.
class ISortable {
public:
    virtual ~ISortable() = default;

    virtual void* LockAndGetData() const { return nullptr; }
    virtual void UnlockData() const {}
    virtual void SwapElements(uint8* data, int32 i, int32 j) = 0;
    // -1 when i orders before j, 0 equal, 1 after; -1000 for elements without order.
    virtual CompareResult CompareElements(uint8* data, int32 i, int32 j) = 0;

    // Sorts the inclusive 0-based range first..last of every sortable of the null-terminated list, keyed on the
    // first criteria sortables in priority order (one descending byte per criterion); every sortable gets the
    // same exchanges. Not stable; does nothing when its scratch list cannot be had.
    static void MultiCriteriaQSort(ISortable** sortables, const uint8* descending, int32 criteria, int32 first,
                                   int32 last);
    // The combined comparison of positions i and j: the first criterion that does not tie decides; -1, 0 or 1.
    static CompareResult MultiCriteriaCompare(ISortable** sortables, uint8** data, const uint8* descending,
                                              int32 criteria, int32 i, int32 j);
    // Exchanges i and j in every sortable of the list, in list order.
    static void MultiCriteriaSwap(ISortable** sortables, uint8** data, int32 i, int32 j);
};

// Common base of the typed arrays: fixed-size elements in one zero-filled block ('varr'). Public positions are
// 1-based; the storage-level operations (MoveElements, DeleteElements, InitElements, Swap/CompareElements) are
// 0-based. Sizes are computed in 64 bits and a block above INT32_MAX bytes is refused. A failed resize leaves
// count and storage as they were.
class VArrayValue : public VValueMultiple, public ISortable {
public:
    // At most this many arrays take part in one SynchronizedSort.
    static constexpr int32 kMaxSynchronized = 15;

    ~VArrayValue() override;

    int32 GetCount() const override { return fCount; }
    virtual uint16 GetElemValueKind() const = 0;
    // Typed arrays can be evaluated (image arrays cannot).
    bool CanBeEvaluated() const override { return true; }

    // Count n (negative: 0): shrinking releases the elements cut (owned objects included), growing adds zeroed
    // ones. False, nothing changed, when the storage cannot be had or would pass INT32_MAX bytes.
    virtual bool SetCount(int32 n);
    // n zeroed elements before position at (count + 1 appends). False for at outside 1..count + 1, a negative n,
    // or a count the storage cannot take.
    virtual bool Insert(int32 at, int32 n);
    // Removes n elements from position at. False, nothing changed, unless 1 <= at, n >= 1 and at + n - 1 <= count.
    virtual bool Delete(int32 at, int32 n);
    // Sorts positions from..to (1 <= from < to <= count), else nothing.
    virtual void Sort(int32 from, int32 to, bool descending = false);
    // A fixed scramble (not random) of the whole array.
    virtual void Unsort();
    // The array becomes a copy of source; false, nothing changed, when source is of another class; false, and
    // empty, when storage cannot be had.
    virtual bool Copy(const VArrayValue& source);

    virtual void FromValue(const VValueSingle& value, int32 index) = 0;
    // target receives element index.
    virtual void GetValue(VValueSingle& target, int32 index) const = 0;
    // A new single value holding element index, owned by the caller.
    virtual VValueSingle* CloneValue(int32 index) const = 0;

    void* LockAndGetData() const override { return fData; }
    void UnlockData() const override {}

    // 0-based storage operations. MoveElements moves n elements from from to to (overlap-safe) and refuses ranges
    // outside 0..count; DeleteElements releases what n elements own; InitElements zero-fills n elements.
    virtual void MoveElements(int32 from, int32 to, int32 n);
    virtual void DeleteElements(int32, int32) {}
    virtual void InitElements(int32 start, int32 n);

    // Resizes the block to bytes (zero-filling growth) without changing count.
    bool SetDataSize(int32 bytes);
    bool ValidIndex(int32 index) const noexcept { return index >= 1 && index <= fCount; }
    void Destroy() { SetCount(0); }
    void Clear() override { SetCount(0); }

    // Each appends one element through the matching setter and answers the count (unchanged when the array
    // cannot grow). A type the array does not take leaves the new element zero or null.
    int32 AppendBoolean(uint8 value);
    int32 AppendByte(int8 value);
    int32 AppendWord(int16 value);
    int32 AppendLong(int32 value);
    int32 AppendLong8(int64 value);
    int32 AppendReal(double value);
    int32 AppendDuration(const VDuration& value);
    int32 AppendTime(const VTime& value);
    int32 AppendString(const VString& value);

    // Sorts first and the arrays after it (a null-terminated list; at most kMaxSynchronized in all) by first's
    // elements alone. False, nothing sorted, when an array has fewer elements than first.
    static bool SynchronizedSort(bool descending, VArrayValue* first, ...);

protected:
    // elementSize bytes per element (0: the subclass counts its bytes itself). Not null, dirty, empty.
    explicit VArrayValue(uint32 elementSize) noexcept : fElementSize(elementSize) {}
    // Copies the elements byte for byte (owned objects are the subclass's business).
    VArrayValue(const VArrayValue& other);
    VArrayValue& operator=(const VArrayValue&) = delete;

    // Resizes the block to bytes, zero-filling growth; false when it cannot be had or passes INT32_MAX.
    bool _ResizeStorage(uint64 bytes);
    // Reads a count for elements taking at least minBytes bytes each in the stream (a negative count answers
    // false with no error, the array unchanged), then sets it: a count the stream cannot back is refused as
    // corrupted, one the storage cannot take as memory full (100). True when the elements may be read.
    bool _ReadCount(VStream* stream, uint64 minBytes, int32& count);
    // Inserts one element at the end and lets set(position) fill it; answers the count.
    template <class Set> int32 _Append(Set set);
    // Writes the 'VVAL' word (when param asks for it) and count; false when the stream failed.
    bool _WriteHeader(VStream* stream, int32 param) const;

    uint32 fElementSize;
    int32 fCount = 0;
    uint8* fData = nullptr;
    int32 fDataSize = 0;

private:
    size_t fCapacity = 0;
};

// Descriptor of an array kind: makes empty arrays; arrays have no stored pointer form, so nothing is read.
template <class ArrayClass, uint16 Kind, class Element> class VValueInfo_array : public VValueInfo {
public:
    VValueInfo_array() : VValueInfo(Kind) {}
    VValue* Generate() const override { return new ArrayClass; }
    VValue* LoadFromPtr(const void*, bool = false) const override { return new ArrayClass; }
    void* ByteSwapPtr(void* data, bool) const override { return data; }
};

} // namespace vela
