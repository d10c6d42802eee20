#include "values/VArrayBlob.h"

#include "values/VBlob.h"
#include "values/VOwnedElements.h"
#include "values/VStoredData.h"

#include <new>

namespace vela {

const VValueInfo_array<VArrayBlob, 110, char> VArrayBlob::sInfo;

namespace {

// A copy of blob (an empty blob for null), or null when memory runs out (the element then stays null).
VBlobWithPtr* NewCopy(const VBlob* blob) noexcept {
    try {
        return blob != nullptr ? new VBlobWithPtr(*blob) : new VBlobWithPtr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

VArrayBlob::VArrayBlob(const VArrayBlob& other) : VArrayValue(other) {
    _DuplicateElements();
}

VArrayBlob::~VArrayBlob() {
    DeleteElements(0, fCount);
}

bool VArrayBlob::_DuplicateElements() {
    return owned_elements::Duplicate(_Data(), fCount, [](const VBlobWithPtr& element) { return NewCopy(&element); });
}

bool VArrayBlob::Copy(const VArrayValue& source) {
    if (&source == this) return true;
    if (dynamic_cast<const VArrayBlob*>(&source) == nullptr) return false;
    return VArrayValue::Copy(source) && _DuplicateElements();
}

void VArrayBlob::FromValue(const VValueSingle& value, int32 index) {
    const auto* blob = dynamic_cast<const VBlob*>(&value);
    if (!ValidIndex(index) || blob == nullptr) return;
    VBlobWithPtr*& element = _Data()[index - 1];
    if (element == blob) return;
    delete element;
    element = NewCopy(blob);
}

void VArrayBlob::GetValue(VValueSingle& target, int32 index) const {
    // Another kind's same-kind copy would read the blob as its own layout.
    auto* blob = dynamic_cast<VBlob*>(&target);
    if (blob == nullptr) return;
    const VBlobWithPtr* element = ValidIndex(index) ? _Data()[index - 1] : nullptr;
    if (element == nullptr) {
        blob->Clear();
        return;
    }
    blob->FromData(element->GetDataPtr(), element->GetSize());
    blob->SetNull(element->IsNull());
}

VValueSingle* VArrayBlob::CloneValue(int32 index) const {
    auto* value = new VBlobWithPtr;
    GetValue(*value, index);
    return value;
}

CompareResult VArrayBlob::CompareTo(const VValueSingle& value, bool diacritical, int32 index) const {
    if (!ValidIndex(index)) return CR_SMALLER;
    if (const VBlobWithPtr* element = _Data()[index - 1]) return element->CompareToSameKind(&value, diacritical);
    return VBlobWithPtr().CompareToSameKind(&value, diacritical);
}

void VArrayBlob::DeleteElements(int32 start, int32 n) {
    owned_elements::Delete(_Data(), fCount, start, n);
}

void VArrayBlob::SwapElements(uint8* data, int32 i, int32 j) {
    owned_elements::Swap<VBlobWithPtr>(data, i, j);
}

CompareResult VArrayBlob::CompareElements(uint8* data, int32 i, int32 j) {
    return owned_elements::Compare<VBlobWithPtr>(
        data, i, j, [](const VBlobWithPtr& a, const VBlobWithPtr& b) { return a.CompareToSameKind(&b); });
}

} // namespace vela
