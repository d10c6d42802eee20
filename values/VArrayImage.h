#pragma once

#include "values/VArrayValue.h"

namespace vela {

// Kind 111: owned single values of kind 12 (image values, which this program does not define: another module may
// register the kind). Slots may be empty. Elements have no order and sorting exchanges nothing.
class VArrayImage : public VArrayValue {
public:
    static constexpr uint16 kElemKind = 12;

    // count empty slots (negative: none).
    explicit VArrayImage(int32 count = 0) : VArrayValue(sizeof(VValueSingle*)) { SetCount(count); }
    // Copies of the other's elements (a slot whose copy cannot be made stays empty).
    VArrayImage(const VArrayImage& other);
    ~VArrayImage() override;

    static const VValueInfo_array<VArrayImage, 111, char> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    uint16 GetElemValueKind() const override { return kElemKind; }
    bool CanBeEvaluated() const override { return false; }

    // Deletes every element and empties the array.
    void DeleteAllElements() { SetCount(0); }
    // From another VArrayImage only: copies of its elements.
    bool Copy(const VArrayValue& source) override;

    // Only a value of kind 12 is taken: the slot then holds a copy of it.
    void FromValue(const VValueSingle& value, int32 index) override;
    // target takes only the null and dirty flags of a present element.
    void GetValue(VValueSingle& target, int32 index) const override;
    // A copy of the element, or null for an empty slot or outside 1..count.
    VValueSingle* CloneValue(int32 index) const override;
    CompareResult CompareTo(const VValueSingle&, bool, int32) const override { return CR_UNRELEVANT; }
    // Nothing is searched: 0.
    int32 Find(const VValueSingle&, int32, bool, int32 = 0) const { return 0; }

    void DeleteElements(int32 start, int32 n) override;
    void SwapElements(uint8*, int32, int32) override {}
    CompareResult CompareElements(uint8*, int32, int32) override { return CR_UNRELEVANT; }

    // count, then per element its stream form, or 8 zero bytes for an empty slot; never a 'VVAL' word.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // Empties the array, then reads count elements through the kind-12 descriptor. Without one, a count above 0
    // cannot be read and is refused as corrupted, the array staying empty.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;

private:
    VValueSingle** _Data() const noexcept { return reinterpret_cast<VValueSingle**>(fData); }
    // Replaces each element (pointers shared with the copy's source) by a copy of it.
    bool _DuplicateElements();
};

} // namespace vela
