#include "core/IIdleable.h"

#include "core/VTask.h"

namespace vela {

IIdleable::~IIdleable() {
    StopIdling();
}

void IIdleable::StartIdling(VTask* task) {
    if (task == nullptr) return;
    fIdling = true;
    if (fTask.Get() != task) {
        if (fTask) fTask->UnregisterIdler(this);
        fTask = task;
    }
    task->RegisterIdler(this);
}

void IIdleable::StartIdling() {
    StartIdling(VTask::GetCurrent());
}

void IIdleable::StopIdling() {
    fIdling = false;
    if (!fTask) return;
    fTask->UnregisterIdler(this);
    fTask.Clear();
}

} // namespace vela
