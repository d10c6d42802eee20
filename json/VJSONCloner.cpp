#include "json/VJSONCloner.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VStorageLocker.h"

#include <algorithm>
#include <new>

namespace vela {

namespace {

constexpr size_t kFirstChunk = 64;
constexpr size_t kLargestChunk = 8192;

size_t SlotOf(const void* key, uint32 mask) noexcept {
    uint64 bits = uint64(reinterpret_cast<uintptr_t>(key)) >> 4; // the low bits of node addresses do not vary
    return size_t((bits * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

} // namespace

VJSONCloner::~VJSONCloner() = default;

VJSONCloner::Entry* VJSONCloner::_FindOrAdd(const void* key, const IRefCountable* source, bool& added) {
    added = false;
    if (fSlots != nullptr) {
        for (size_t slot = SlotOf(key, fSlotMask);; slot = (slot + 1) & fSlotMask) {
            if (fSlots[slot].fKey == key) return fSlots[slot].fEntry;
            if (fSlots[slot].fKey == nullptr) break;
        }
    }
    if ((fCount + 1) * 2 > size_t(fSlotMask) + 1 || fSlots == nullptr) _Grow();
    if (fChunks.empty() || fChunks.back().size() == fChunks.back().capacity()) {
        std::vector<Entry> chunk;
        chunk.reserve(fChunks.empty() ? kFirstChunk : std::min(fChunks.back().capacity() * 2, kLargestChunk));
        fChunks.push_back(std::move(chunk));
    }
    Entry& entry = fChunks.back().emplace_back(); // room reserved: cannot throw
    entry.fSource = source;
    source->Retain();
    size_t slot = SlotOf(key, fSlotMask);
    while (fSlots[slot].fKey != nullptr)
        slot = (slot + 1) & fSlotMask;
    fSlots[slot] = Slot{key, &entry};
    ++fCount;
    added = true;
    return &entry;
}

void VJSONCloner::_Grow() {
    size_t size = fSlots == nullptr ? 64 : (size_t(fSlotMask) + 1) * 2;
    auto slots = std::make_unique<Slot[]>(size); // zero-filled: every slot free
    uint32 mask = uint32(size - 1);
    for (size_t i = 0; fSlots != nullptr && i <= fSlotMask; ++i) {
        if (fSlots[i].fKey == nullptr) continue;
        size_t slot = SlotOf(fSlots[i].fKey, mask);
        while (slots[slot].fKey != nullptr)
            slot = (slot + 1) & mask;
        slots[slot] = fSlots[i];
    }
    fSlots = std::move(slots);
    fSlotMask = mask;
}

VError VJSONCloner::CloneValue(VJSONValue& value) {
    if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) return CloneObject(object, value);
    if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) return CloneArray(array, value);
    return VE_OK;
}

VError VJSONCloner::CloneArray(const VJSONArray* array, VJSONValue& out) {
    if (array == nullptr) {
        out.SetUndefined();
        return VE_OK;
    }
    Entry* entry = nullptr;
    bool added = false;
    try {
        entry = _FindOrAdd(array, array, added);
    } catch (const std::bad_alloc&) {
        out.SetUndefined();
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    VError error = added ? array->_Clone(entry->fCopy, *this, false) : VE_OK;
    out = entry->fCopy; // out may have held the source: the entry keeps it alive
    return error;
}

VError VJSONCloner::CloneObject(const VJSONObject* object, VJSONValue& out) {
    if (object == nullptr) {
        out.SetUndefined();
        return VE_OK;
    }
    Entry* entry = nullptr;
    bool added = false;
    try {
        entry = _FindOrAdd(object, object, added);
    } catch (const std::bad_alloc&) {
        out.SetUndefined();
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    VError error = added ? object->_Clone(entry->fCopy, *this, false) : VE_OK;
    out = entry->fCopy;
    return error;
}

VStorageLocker* VJSONCloner::GetStorageLockerAndAssignIfNecessary() {
    if (fLocker) {
        fLocker->SetFresh(false);
    } else {
        fLocker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    }
    return fLocker.Get();
}

VStorageLocker* VJSONCloner::_LockerForCopies() {
    return LocksCopies() ? GetStorageLockerAndAssignIfNecessary() : fLocker.Get();
}

void VJSONCloner::_Remember(const void* key, const IRefCountable* source, const VJSONValue& copy) {
    bool added = false;
    Entry* entry = _FindOrAdd(key, source, added);
    if (added) entry->fCopy = copy;
}

bool VJSONCloner::_IsUnshared(const VJSONValue& held) const noexcept {
    if (fLocker || LocksCopies()) return false;
    if (const VJSONObject* object = held.GetObjectPtr(); object != nullptr)
        return object->GetRefCount() == 1 && object->fImplementation == nullptr && object->fLocker == nullptr;
    if (const VJSONArray* array = held.GetArrayPtr(); array != nullptr)
        return array->GetRefCount() == 1 && array->fLocker == nullptr;
    return false;
}

VJSONValue VJSONCloner::_MakeEmptyCopy(const VJSONValue& source) {
    return VJSONValue(source.IsObject() ? JSON_object : JSON_array);
}

VError VJSONCloner::_FillNow(const Pending& pending) {
    if (const VJSONObject* source = pending.fSource.GetObjectPtr(); source != nullptr) {
        VJSONObject* copy = pending.fCopy.GetObjectPtr();
        if (source->fLocker == nullptr && copy->fLocker == nullptr && !copy->IsSharedGraph() &&
            copy->fProperties.IsEmpty())
            return source->_ClonePropertiesIntoPlain(*this, copy);
        return source->CloneProperties(*this, copy);
    }
    return pending.fSource.GetArrayPtr()->_CloneElementsInto(pending.fCopy.GetArrayPtr(), *this);
}

VError VJSONCloner::_Fill(const Pending& pending) {
    if (fDepth > 0) {
        // Inside a copy: shallow nodes are filled at once, while what they hold is still in the cache; deeper
        // ones wait for the outermost call, so that the stack stays shallow whatever the depth of the graph.
        if (fDepth >= kEagerDepth) {
            fPending.push_back(pending);
            return VE_OK;
        }
        ++fDepth;
        VError error = _FillNow(pending);
        --fDepth;
        return error;
    }
    VError error = VE_OK;
    try {
        fDepth = 1;
        error = _FillNow(pending);
        while (!fPending.empty() && error == VE_OK) {
            Pending next = std::move(fPending.back());
            fPending.pop_back();
            fDepth = 1;
            error = _FillNow(next);
        }
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        error = VE_MEMORY_FULL;
    }
    // After a failure the copies not yet filled stay empty.
    fPending.clear();
    fDepth = 0;
    return error;
}

} // namespace vela
