#include "core/IMessageable.h"

#include "core/VTaskMgr.h"

namespace vela {

IMessageable::IMessageable() : fContext(new VMessagingContext(this, VTaskMgr::GetCurrentTaskID())) {}

IMessageable::~IMessageable() {
    fContext->fTarget.store(nullptr, std::memory_order_release);
    fContext->Release();
}

void IMessageable::DoMessage(VMessage&) {}

void IMessageable::StartMessaging() noexcept {
    fContext->fEnabled.store(true, std::memory_order_release);
}

void IMessageable::StopMessaging() noexcept {
    fContext->fEnabled.store(false, std::memory_order_release);
}

int32 IMessageable::GetMessagingTask() const noexcept {
    return fContext != nullptr ? fContext->GetMessagingTask() : 0;
}

void IMessageable::SetMessagingTask(int32 taskID) noexcept {
    fContext->fTaskID.store(taskID, std::memory_order_release);
}

VMessagingContext* IMessageable::RetainMessagingContext() const noexcept {
    if (fContext != nullptr) fContext->Retain();
    return fContext;
}

} // namespace vela
