#include "values/VArrayImage.h"

#include "files/VStream.h"
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

VError VArrayImage::WriteToStream(VStream* stream, int32) const {
    if (stream->PutLong(fCount) != VE_OK) return stream->GetLastError();
    for (int32 i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        if (const VValueSingle* element = _Data()[i])
            element->WriteToStream(stream);
        else
            stream->PutLong8(0);
    }
    return stream->GetLastError();
}

VError VArrayImage::ReadFromStream(VStream* stream, int32) {
    DeleteAllElements();
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK || count <= 0) return stream->GetLastError();
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kElemKind);
    // Slots left standing without elements would not read back as written.
    if (info == nullptr) return SetStreamCorrupted(stream);
    if (CheckStoredCount(stream, count, 1) != VE_OK) return stream->GetLastError();
    for (int32 i = 0; i < count && stream->GetLastError() == VE_OK; ++i) {
        std::unique_ptr<VValue> value(info->Generate());
        VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (single == nullptr) return SetStreamCorrupted(stream);
        if (single->ReadFromStream(stream) != VE_OK) break;
        if (!Insert(fCount + 1, 1)) {
            stream->ResetLastError(VE_MEMORY_FULL);
            _ThrowError(VE_MEMORY_FULL);
            break;
        }
        value.release();
        _Data()[fCount - 1] = single;
    }
    return stream->GetLastError();
}

} // namespace vela
