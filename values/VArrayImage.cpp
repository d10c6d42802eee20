#include "values/VArrayImage.h"

#include "values/VOwnedElements.h"
#include "values/VStoredData.h"

#include <memory>

namespace vela {

const VValueInfo_array<VArrayImage, 111, char> VArrayImage::sInfo;

namespace {

// A copy of an element, or null when it cannot be made.
VValueSingle* NewCopy(const VValueSingle& element) {
    std::unique_ptr<VValue> copy(element.Clone());
    VValueSingle* single = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (single != nullptr) copy.release();
    return single;
}

} // namespace

VArrayImage::VArrayImage(const VArrayImage& other) : VArrayValue(other) {
    _DuplicateElements();
}

VArrayImage::~VArrayImage() {
    DeleteElements(0, fCount);
}

bool VArrayImage::_DuplicateElements() {
    return owned_elements::Duplicate(_Data(), fCount, NewCopy);
}

bool VArrayImage::Copy(const VArrayValue& source) {
    if (&source == this) return true;
    if (dynamic_cast<const VArrayImage*>(&source) == nullptr) return false;
    return VArrayValue::Copy(source) && _DuplicateElements();
}

void VArrayImage::DeleteElements(int32 start, int32 n) {
    owned_elements::Delete(_Data(), fCount, start, n);
}

void VArrayImage::FromValue(const VValueSingle& value, int32 index) {
    if (!ValidIndex(index) || value.GetTrueValueKind() != kElemKind) return;
    VValueSingle* single = NewCopy(value);
    if (single == nullptr) return;
    delete _Data()[index - 1];
    _Data()[index - 1] = single;
}

void VArrayImage::GetValue(VValueSingle& target, int32 index) const {
    const VValueSingle* element = ValidIndex(index) ? _Data()[index - 1] : nullptr;
    if (element == nullptr) return;
    target.SetNull(element->IsNull());
    target.SetDirty(element->IsDirty());
}

VValueSingle* VArrayImage::CloneValue(int32 index) const {
    const VValueSingle* element = ValidIndex(index) ? _Data()[index - 1] : nullptr;
    return element != nullptr ? NewCopy(*element) : nullptr;
}

} // namespace vela
