#include "json/VStorageLocker.h"

#include "core/VRefPtr.h"
#include "core/VSyncEvent.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

namespace vela {

std::atomic<int32> VStorageLocker::sNextID{1};

namespace {

// The owner ID of the caller: its task's ID, else its thread's own.
uint32 CurrentOwner() noexcept {
    return uint32(VTaskMgr::GetCurrentOwnerID());
}

} // namespace

VStorageLocker::VStorageLocker() noexcept : fID(sNextID.fetch_add(1, std::memory_order_relaxed)) {}

VStorageLocker::~VStorageLocker() = default;

bool VStorageLocker::_TryTake(uint32 caller) noexcept {
    if (fOwner != 0 && fOwner != caller) return false;
    fOwner = caller;
    ++fUseCount;
    return true;
}

bool VStorageLocker::Use() {
    const uint32 caller = CurrentOwner();
    VTask* task = VTask::GetCurrent();
    for (;;) {
        VRefPtr<VSyncEvent> event;
        fSection.Lock();
        if (_TryTake(caller)) {
            fSection.Unlock();
            return true;
        }
        if (task == nullptr) event = VRefPtr<VSyncEvent>::Adopt(new VSyncEvent);
        const Waiter waiter{task, event.Get()};
        fWaiters.push_back(waiter);
        // Read before the section is left, so that a wake-up in between is not missed.
        int32 stamp = task != nullptr ? task->GetMessageQueueStamp() : 0;
        fSection.Unlock();
        if (task != nullptr) {
            while (task->GetMessageQueueStamp() == stamp && !task->IsDying())
                task->WaitAndExecuteMessages();
        } else {
            event->Lock();
        }
        fSection.Lock();
        for (auto it = fWaiters.begin(); it != fWaiters.end(); ++it) {
            if (it->task == waiter.task && it->event == waiter.event) {
                fWaiters.erase(it);
                break;
            }
        }
        fSection.Unlock();
        if (task != nullptr && task->IsDying()) return false;
    }
}

bool VStorageLocker::TryToUse() {
    if (!fSection.TryToLock()) return false;
    bool taken = _TryTake(CurrentOwner());
    fSection.Unlock();
    return taken;
}

void VStorageLocker::EndUse() {
    StLocker<VCriticalSection> locker(fSection);
    if (fOwner != CurrentOwner() || fUseCount <= 0) return;
    if (--fUseCount > 0) return;
    fOwner = 0;
    // Every waiter tries again; those that lose wait for the next end.
    for (const Waiter& waiter : fWaiters) {
        if (waiter.task != nullptr) {
            waiter.task->SetMessageQueueEvent();
        } else {
            waiter.event->Set();
        }
    }
}

bool VStorageLocker::IsUsedByCurrentTask() const {
    StLocker<VCriticalSection> locker(fSection);
    return fUseCount > 0 && fOwner == CurrentOwner();
}

uint32 VStorageLocker::GetOwner() const {
    StLocker<VCriticalSection> locker(fSection);
    return fOwner;
}

int32 VStorageLocker::GetUseCount() const {
    StLocker<VCriticalSection> locker(fSection);
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

bool VStorageLocker::Assign(const VJSONNodeVariant& parent, VStorageLocker* parentLocker, const VJSONNodeVariant& child,
                            VStorageLocker* childLocker) {
    if (parentLocker == nullptr) return true;
    if (childLocker != nullptr) {
        if (parentLocker->IsRestricted()) return true;
        if (childLocker->IsFresh()) {
            uint32 owner = childLocker->GetOwner();
            if (owner != 0 && owner != CurrentOwner()) {
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
