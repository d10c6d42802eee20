#include "values/VArrayImage.h"

#include "values/VOwnedElements.h"
#include "values/VStoredData.h"

#include <memory>

namespace vela {

const VValueInfo_array<VArrayImage, 111, char> VArrayImage::sInfo;

VArrayImage::~VArrayImage() {
    DeleteElements(0, fCount);
}

void VArrayImage::DeleteElements(int32 start, int32 n) {
    owned_elements::Delete(_Data(), fCount, start, n);
}

void VArrayImage::FromValue(const VValueSingle& value, int32 index) {
    if (!ValidIndex(index) || value.GetTrueValueKind() != kElemKind) return;
    std::unique_ptr<VValue> copy(value.Clone());
    VValueSingle* single = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (single == nullptr) return;
    copy.release();
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
    if (element == nullptr) return nullptr;
    std::unique_ptr<VValue> copy(element->Clone());
    VValueSingle* single = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (single != nullptr) copy.release();
    return single;
}

} // namespace vela
