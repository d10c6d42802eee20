#include "json/VStorageLocker.h"

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONTaskID.h"

namespace vela {

std::atomic<int32> VStorageLocker::sNextID{1};

VStorageLocker::VStorageLocker() noexcept : fID(sNextID.fetch_add(1, std::memory_order_relaxed)) {}

bool VStorageLocker::TryToUse() {
    if (!fSection.try_lock()) return false;
    uint32 caller = GetCurrentJSONTaskID();
    bool taken = fOwner == 0 || fOwner == caller;
    if (taken) {
        fOwner = caller;
        ++fUseCount;
    }
    fSection.unlock();
    return taken;
}

void VStorageLocker::EndUse() {
    std::lock_guard<std::recursive_mutex> guard(fSection);
    if (fOwner != GetCurrentJSONTaskID() || fUseCount <= 0) return;
    if (--fUseCount == 0) fOwner = 0;
}

bool VStorageLocker::IsUsedByCurrentTask() const {
    std::lock_guard<std::recursive_mutex> guard(fSection);
    return fUseCount > 0 && fOwner == GetCurrentJSONTaskID();
}

uint32 VStorageLocker::GetOwner() const {
    std::lock_guard<std::recursive_mutex> guard(fSection);
    return fOwner;
}

int32 VStorageLocker::GetUseCount() const {
    std::lock_guard<std::recursive_mutex> guard(fSection);
    return fUseCount;
}

namespace {

void SetLocker(const VJSONNodeVariant& node, VStorageLocker* locker) {
    if (auto* const* object = std::get_if<VJSONObject*>(&node)) {
        (*object)->_SetStorageLocker(locker);
    } else {
        std::get<VJSONArray*>(node)->_SetStorageLocker(locker);
    }
}

bool IsObject(const VJSONNodeVariant& node) noexcept {
    return std::holds_alternative<VJSONObject*>(node);
}

} // namespace

bool VStorageLocker::Assign(const VJSONNodeVariant& parent, VStorageLocker* parentLocker,
                            const VJSONNodeVariant& child, VStorageLocker* childLocker) {
    if (parentLocker == nullptr) return true;
    if (childLocker != nullptr) {
        if (parentLocker->IsRestricted()) return true;
        if (childLocker->IsFresh()) {
            uint32 owner = childLocker->GetOwner();
            if (owner != 0 && owner != GetCurrentJSONTaskID()) {
                _ThrowError(VE_JSON_LOCKER_BUSY);
                return false;
            }
            parentLocker->SetFresh(false);
            SetLocker(child, parentLocker);
            return true;
        }
        if (childLocker == parentLocker) return true;
        if (parentLocker->IsFresh()) {
            SetLocker(parent, childLocker);
            return true;
        }
        VError error = IsObject(child) ? VE_JSON_OBJECT_OF_OTHER_LOCKER : VE_JSON_ARRAY_OF_OTHER_LOCKER;
        _ThrowError(error);
        return false;
    }
    if (auto* const* object = std::get_if<VJSONObject*>(&child)) {
        IJSONObject* implementation = (*object)->GetImplementation();
        if (implementation != nullptr && implementation->IsSharable(*object)) return true;
    }
    _ThrowError(VE_JSON_NOT_SHAREABLE);
    return false;
}

bool VStorageLocker::Assign(const VJSONNodeVariant& parent, VStorageLocker* parentLocker, const VJSONValue& child) {
    if (VJSONObject* object = child.GetObjectPtr(); object != nullptr)
        return Assign(parent, parentLocker, VJSONNodeVariant(object), object->GetStorageLocker().Get());
    if (VJSONArray* array = child.GetArrayPtr(); array != nullptr)
        return Assign(parent, parentLocker, VJSONNodeVariant(array), array->GetStorageLocker().Get());
    return true;
}

} // namespace vela
