// The JSON objects a task keeps alive until it ends.

#include "core/VTask.h"

#include "core/VTaskMgr.h"
#include "json/VJSONObject.h"

#include <algorithm>
#include <mutex>

namespace vela {

void VTask::RegisterJSONObject(VJSONObject* object) {
    VTask* task = GetCurrent();
    if (task == nullptr || object == nullptr) return;
    IRefCountable* counted = object;
    std::lock_guard<std::recursive_mutex> guard(task->fManager->fLock);
    for (const VRefPtr<IRefCountable>& held : task->fJSONObjects)
        if (held.Get() == counted) return;
    task->fJSONObjects.emplace_back(counted);
}

void VTask::UnregisterJSONObject(VJSONObject* object) {
    VTask* task = GetCurrent();
    if (task == nullptr || object == nullptr) return;
    IRefCountable* counted = object;
    VRefPtr<IRefCountable> released;
    std::lock_guard<std::recursive_mutex> guard(task->fManager->fLock);
    auto& objects = task->fJSONObjects;
    auto it = std::find_if(objects.begin(), objects.end(),
                           [counted](const VRefPtr<IRefCountable>& held) { return held.Get() == counted; });
    if (it == objects.end()) return;
    released = std::move(*it);
    objects.erase(it);
}

} // namespace vela
