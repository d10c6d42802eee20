#include "values/VBagArray.h"

#include "core/VRefPtr.h"
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

} // namespace vela
