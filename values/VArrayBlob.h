#pragma once

#include "values/VArrayValue.h"

namespace vela {

class VBlob;
class VBlobWithPtr;

// Kind 110: blobs, each element an owned VBlobWithPtr or null. A null element reads, compares and streams as an
// empty blob; copies duplicate the blobs, deletion frees them. Blobs have no order: sorting only puts nulls first.
class VArrayBlob : public VArrayValue {
public:
    static constexpr uint16 kElemKind = 11;

    explicit VArrayBlob(int32 count = 0) : VArrayValue(sizeof(VBlobWithPtr*)) { SetCount(count); }
    VArrayBlob(const VArrayBlob& other);
    ~VArrayBlob() override;

    static const VValueInfo_array<VArrayBlob, 110, char> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    uint16 GetElemValueKind() const override { return kElemKind; }
    VValue* Clone() const override { return new VArrayBlob(*this); }
    bool Copy(const VArrayValue& source) override;

    // The element itself (null for a null element or outside 1..count); valid until the array changes.
    const VBlobWithPtr* GetBlobPtr(int32 index) const noexcept {
        return ValidIndex(index) ? _Data()[index - 1] : nullptr;
    }

    // Only a blob is taken: the element becomes a copy of its bytes and null flag; nothing outside 1..count.
    void FromValue(const VValueSingle& value, int32 index) override;
    // A blob target takes the element's bytes and null flag (a null element clears it, as does a bad index);
    // a target of another kind is left alone.
    void GetValue(VValueSingle& target, int32 index) const override;
    VValueSingle* CloneValue(int32 index) const override;
    // -1 outside 1..count, else the element's CompareToSameKind with the value.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 index) const override;

    void DeleteElements(int32 start, int32 n) override;
    void SwapElements(uint8* data, int32 i, int32 j) override;
    // Null before non-null, two nulls equal, else the blobs' CompareToSameKind.
    CompareResult CompareElements(uint8* data, int32 i, int32 j) override;

    // Stream form: the 'VVAL' word (param 'VVAL'), count, then per element the blob's stream form (a null element
    // as length 0), with no marker between them.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // Every element is read, null ones being made empty blobs first.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;

private:
    VBlobWithPtr** _Data() const noexcept { return reinterpret_cast<VBlobWithPtr**>(fData); }
    // Makes every element an owned copy of the one it shares with the source after a byte copy.
    bool _DuplicateElements();
};

} // namespace vela
