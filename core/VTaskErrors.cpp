#include "core/VDebugMgr.h"
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"

#include <vector>

namespace vela {

VError VTask::GetLastError() noexcept {
    VErrorTaskContext* context = GetErrorContext(false);
    return context != nullptr ? context->GetLastError() : VE_OK;
}

bool VTask::FailedForMemory() noexcept {
    VErrorTaskContext* context = GetErrorContext(false);
    return context != nullptr && context->FailedForMemory();
}

VErrorTaskContext* VTask::GetErrorContext(bool create) {
    VTask* task = GetCurrent();
    if (task == nullptr) return nullptr;
    if (task->fErrorContext == nullptr && create) task->fErrorContext = new VErrorTaskContext;
    return task->fErrorContext;
}

bool VTask::PushError(VErrorBase* error) {
    if (error == nullptr) return false;
    VErrorTaskContext* context = GetErrorContext(true);
    if (context == nullptr) return false;
    bool filtered = false;
    if (!context->PushError(error, &filtered)) return false;
    if (!filtered) VDebugMgr::Get()->ErrorThrown(error);
    return true;
}

bool VTask::PushRetainedError(VErrorBase* error) {
    if (error == nullptr) return false;
    bool pushed = PushError(error);
    // The creator's reference is given up on a task or not.
    error->Release();
    return pushed;
}

void VTask::PushErrors(const VErrorContext* context) {
    if (context == nullptr || GetCurrent() == nullptr) return;
    // A copy of the list: context may be one of the task's own.
    std::vector<VRefPtr<VErrorBase>> errors = context->GetErrors();
    for (const VRefPtr<VErrorBase>& error : errors)
        PushError(error.Get());
}

void VTask::FlushErrors() noexcept {
    VErrorTaskContext* context = GetErrorContext(false);
    if (context != nullptr) context->Flush();
}

void VTask::_DisposeErrorContext() {
    ReleaseRefCountable(&fErrorContext);
}

} // namespace vela
