#include "values/VBagArray.h"

#include "core/VRefPtr.h"
#include "files/VStream.h"
#include "values/VStoredData.h"
#include "values/VValueBag.h"

#include <algorithm>
#include <new>

namespace vela {

VBagArray::VBagArray(const VBagArray& other) : VObject(other), IRefCountable() {
    try {
        fBags.reserve(other.fBags.size());
        for (const VValueBag* bag : other.fBags)
            fBags.push_back(bag != nullptr ? new VValueBag(*bag) : nullptr); // reserved: cannot throw
    } catch (const std::bad_alloc&) {
        Destroy(); // the destructor does not run for a constructor that throws
        throw;
    }
}

VBagArray::~VBagArray() {
    Destroy();
}

VValueBag* VBagArray::GetNth(int32 n) const noexcept {
    return n >= 1 && n <= GetCount() ? fBags[size_t(n - 1)] : nullptr;
}

bool VBagArray::AddTail(VValueBag* bag) {
    return AddNth(bag, GetCount() + 1);
}

bool VBagArray::AddNth(VValueBag* bag, int32 n) {
    if (bag == nullptr) return false;
    n = std::clamp(n, 1, GetCount() + 1);
    try {
        fBags.insert(fBags.begin() + (n - 1), bag);
    } catch (const std::bad_alloc&) {
        return false;
    }
    bag->Retain();
    return true;
}

void VBagArray::SetNth(VValueBag* bag, int32 n) {
    if (bag == nullptr || n < 1 || n > GetCount()) return;
    VValueBag*& slot = fBags[size_t(n - 1)];
    if (slot == bag) return;
    bag->Retain();
    std::swap(slot, bag);
    if (bag != nullptr) bag->Release();
}

void VBagArray::DeleteNth(int32 n) {
    if (n < 1 || n > GetCount()) return;
    VValueBag* bag = fBags[size_t(n - 1)];
    fBags.erase(fBags.begin() + (n - 1));
    if (bag != nullptr) bag->Release();
}

void VBagArray::Delete(VValueBag* bag) {
    auto found = std::find(fBags.begin(), fBags.end(), bag);
    if (found != fBags.end()) fBags.erase(found);
}

int32 VBagArray::Find(const VValueBag* bag) const noexcept {
    auto found = std::find(fBags.begin(), fBags.end(), bag);
    return found != fBags.end() ? int32(found - fBags.begin()) + 1 : 0;
}

VValueBag* VBagArray::RetainNth(int32 n) const {
    VValueBag* bag = GetNth(n);
    if (bag == nullptr) return new VValueBag; // deliberately never null for the caller
    bag->Retain();
    return bag;
}

void VBagArray::Destroy() noexcept {
    std::vector<VValueBag*> bags;
    bags.swap(fBags);
    for (VValueBag* bag : bags)
        if (bag != nullptr) bag->Release();
}

VError VBagArray::WriteToStreamMinimal(VStream* stream) const {
    if (stream->PutLong(GetCount()) != VE_OK) return stream->GetLastError();
    for (const VValueBag* bag : fBags) {
        VError error = VE_OK;
        if (bag != nullptr) {
            error = bag->WriteToStreamMinimal(stream, true);
        } else {
            error = stream->PutByte(0); // an empty position is an empty bag
        }
        if (error != VE_OK) return error;
    }
    return stream->GetLastError();
}

VError VBagArray::ReadFromStreamMinimal(VStream* stream) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK) return stream->GetLastError();
    // Every bag takes at least its flags byte.
    if (CheckStoredCount(stream, count, 1) != VE_OK) return stream->GetLastError();
    VError error = VE_OK;
    try {
        fBags.reserve(fBags.size() + size_t(count));
        for (int32 i = 0; i < count && error == VE_OK; ++i) {
            VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
            error = bag->ReadFromStreamMinimal(stream);
            if (error == VE_OK) fBags.push_back(bag.Forget()); // reserved: cannot throw
        }
    } catch (const std::bad_alloc&) {
        error = VE_MEMORY_FULL;
        if (stream->GetLastError() == VE_OK) stream->ResetLastError(error);
    }
    if (error != VE_OK) Destroy();
    return error;
}

} // namespace vela
