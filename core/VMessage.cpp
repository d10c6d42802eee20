#include "core/VMessage.h"

#include "core/IIdleable.h"
#include "core/VMessageQueue.h"
#include "core/VSyncEvent.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixRuntime.h"

#include <algorithm>

namespace vela {

namespace {

constexpr int32 kWaitRoundMs = 1000;
constexpr int32 kExecutingPollMs = 10;
constexpr int32 kIdleMessageDelayMs = 16;

// Drops a reference held in an atomic slot.
template <class T> void ReleaseSlot(std::atomic<T*>& slot) noexcept {
    if (T* object = slot.exchange(nullptr, std::memory_order_acq_rel)) object->Release();
}

} // namespace

VMessage::~VMessage() {
    ReleaseSlot(fContext);
    ReleaseSlot(fAnswerEvent);
    ReleaseSlot(fReplyQueue);
}

void VMessage::DoExecute() {
    if (IMessageable* target = GetExecutingTarget()) target->DoMessage(*this);
}

bool VMessage::DoCoalesce(const VMessage&) {
    return true;
}

IMessageable* VMessage::GetExecutingTarget() const noexcept {
    return fExecutingContext != nullptr ? fExecutingContext->GetTarget() : nullptr;
}

VTask* VMessage::_RetainTargetTask(VMessagingContext* context) {
    if (context == nullptr || !context->IsEnabled() || context->GetTarget() == nullptr) return nullptr;
    int32 taskID = context->GetMessagingTask();
    if (taskID == 0 || !VTaskMgr::IsInited()) return nullptr;
    return VTaskMgr::Get()->RetainTaskByID(taskID);
}

bool VMessage::_InstallContext(VMessagingContext* context) noexcept {
    VMessagingContext* expected = nullptr;
    return fContext.compare_exchange_strong(expected, context, std::memory_order_acq_rel);
}

void VMessage::_Finish(VMessagingContext* context, bool execute) {
    // Own references: the sender may drop the message's as soon as it wakes, while Set still runs here.
    VSyncEvent* event = fAnswerEvent.load(std::memory_order_acquire);
    if (event != nullptr) event->Retain();
    VMessageQueue* reply = fReplyQueue.load(std::memory_order_acquire);
    if (reply != nullptr) reply->Retain();
    if (execute) {
        fExecutingContext = context;
        DoExecute();
        fExecutingContext = nullptr;
        AnswerIt();
    } else {
        fAborted.store(true, std::memory_order_release);
    }
    if (event != nullptr) {
        event->Set();
        event->Release();
    }
    if (reply != nullptr) {
        reply->SetEvent();
        reply->Release();
    }
    context->Release();
}

void VMessage::Execute() {
    if (VMessagingContext* context = _TakeContext()) _Finish(context, true);
}

void VMessage::Abort() {
    if (VMessagingContext* context = _TakeContext()) _Finish(context, false);
}

bool VMessage::ActivateContext(IMessageable* target) {
    if (target == nullptr) return IsInFlight();
    VMessagingContext* context = target->RetainMessagingContext();
    VMessagingContext* old = fContext.load(std::memory_order_acquire);
    if (old == context) {
        context->Release();
        return true;
    }
    old = fContext.exchange(context, std::memory_order_acq_rel);
    if (old != nullptr) old->Release();
    return true;
}

// ---- Sending

bool VMessage::SendTo(IMessageable* target, int32 timeoutMs) {
    if (target == nullptr) return false;
    return _Send(target->RetainMessagingContext(), timeoutMs, false);
}

bool VMessage::SendTo(IMessageable* target) {
    if (target == nullptr) return false;
    return _Send(target->RetainMessagingContext(), 0, true);
}

VMessage::ELaunch VMessage::_Launch(VMessagingContext* context, VRefPtr<VTask>& task) {
    VRefPtr<VMessagingContext> held = VRefPtr<VMessagingContext>::Adopt(context);
    if (IsInFlight()) return ELaunch::kBusy;
    fAnswered.store(false, std::memory_order_release);
    fAborted.store(false, std::memory_order_release);
    task = VRefPtr<VTask>::Adopt(_RetainTargetTask(context));
    if (!task) return ELaunch::kNoTarget;
    if (!_InstallContext(context)) return ELaunch::kBusy; // another caller won
    held.Forget();                                        // the message holds it while in flight
    return ELaunch::kLaunched;
}

bool VMessage::_Send(VMessagingContext* context, int32 timeoutMs, bool waitForever) {
    VRefPtr<VTask> task;
    if (_Launch(context, task) != ELaunch::kLaunched) return false;

    if (task.Get() == VTask::GetCurrent()) {
        if (VMessagingContext* taken = _TakeContext()) _Finish(taken, true);
        return true;
    }
    auto* event = new VSyncEvent;
    event->Retain(); // one reference for the message's slot, one for this wait
    fAnswerEvent.store(event, std::memory_order_release);
    bool result = false;
    if (task->AddMessage(this)) {
        VTask* caller = VTask::GetCurrent();
        bool began = caller != nullptr && caller->_BeginWait(eTaskWaitAnswer);
        bool set = waitForever ? event->LockExpectingSoon() : event->LockExpectingSoon(timeoutMs);
        if (!set) {
            if (VMessagingContext* taken = _TakeContext()) {
                // Never ran: it stays queued and executes as a no-op.
                fAborted.store(true, std::memory_order_release);
                taken->Release();
            } else {
                event->Lock(); // executing (or being aborted) right now: wait for the end
            }
        }
        if (caller != nullptr) caller->_EndWait(began);
        result = !Aborted();
    } else if (VMessagingContext* taken = _TakeContext()) {
        taken->Release(); // refused by a closed queue, or absorbed by a queued message
    }
    ReleaseSlot(fAnswerEvent);
    event->Release();
    return result;
}

// ---- Posting

bool VMessage::PostTo(IMessageable* target, bool runNowIfSameTask, int32 delayMs) {
    if (target == nullptr) return false;
    VMessagingContext* context = target->RetainMessagingContext();
    if (delayMs != 0) return _PostDelayed(context, delayMs);
    return _Post(context, runNowIfSameTask);
}

bool VMessage::_Post(VMessagingContext* context, bool runNowIfSameTask) {
    VRefPtr<VTask> task;
    if (ELaunch launch = _Launch(context, task); launch != ELaunch::kLaunched) return launch == ELaunch::kBusy;
    if (runNowIfSameTask && task.Get() == VTask::GetCurrent()) {
        if (VMessagingContext* taken = _TakeContext()) _Finish(taken, true);
        return true;
    }
    if (task->AddMessage(this)) return true;
    if (VMessagingContext* taken = _TakeContext()) taken->Release();
    return false;
}

bool VMessage::_PostDelayed(VMessagingContext* context, int32 delayMs) {
    VRefPtr<VTask> task;
    if (ELaunch launch = _Launch(context, task); launch != ELaunch::kLaunched) return launch == ELaunch::kBusy;
    return VTaskMgr::Get()->RegisterDelayedMessage(this, delayMs);
}

bool VMessage::SendOrPostTo(VMessagingContext* context, int32 delayMs, bool runNowIfSameTask, bool send,
                            int32 timeoutMs) {
    if (context == nullptr) return false;
    context->Retain(); // the caller keeps its own reference
    if (delayMs != 0) return _PostDelayed(context, delayMs);
    if (send) return _Send(context, timeoutMs, false);
    return _Post(context, runNowIfSameTask);
}

void VMessage::RePost() {
    VMessagingContext* context = _TakeContext();
    if (context == nullptr) return;
    VRefPtr<VTask> task = VRefPtr<VTask>::Adopt(_RetainTargetTask(context));
    if (task && _InstallContext(context)) {
        if (task->AddMessage(this)) return;
        // Refused: out of flight again, or every later post would be taken for one in flight.
        context = _TakeContext();
        if (context == nullptr) return;
    }
    context->Release();
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target, int32 timeoutMs) {
    return _PostAndWait(target, true, timeoutMs);
}

bool VMessage::PostToAndWaitExecutingMessages(IMessageable* target) {
    return _PostAndWait(target, false, 0);
}

bool VMessage::_PostAndWait(IMessageable* target, bool withTimeout, int32 timeoutMs) {
    VTask* caller = VTask::GetCurrent();
    if (caller == nullptr || target == nullptr || IsInFlight()) return false;
    VMessageQueue* reply = caller->RetainMessageQueue();
    if (VMessageQueue* old = fReplyQueue.exchange(reply, std::memory_order_acq_rel)) old->Release();
    if (!_Post(target->RetainMessagingContext(), true)) {
        ReleaseSlot(fReplyQueue);
        return false;
    }
    bool began = caller->_BeginWait(eTaskWaitAnswer);
    uint32 start = XPosixRuntime::GetMilliseconds();
    uint32 limit = uint32(std::max(timeoutMs, 0));
    while (!Answered() && !Aborted() && caller->GetState() < eTaskStateDying) {
        int32 round = kWaitRoundMs;
        if (withTimeout) {
            uint32 elapsed = XPosixRuntime::GetMilliseconds() - start;
            if (elapsed >= limit) break;
            round = std::min(round, int32(limit - elapsed));
        }
        caller->ExecuteMessagesWithTimeout(round, true);
    }
    if (!Answered() && !Aborted()) {
        if (VMessagingContext* taken = _TakeContext()) {
            fAborted.store(true, std::memory_order_release);
            taken->Release();
        } else {
            // Executing on its task right now: its end is near.
            while (!Answered() && !Aborted())
                VTask::Sleep(kExecutingPollMs);
        }
    }
    caller->_EndWait(began);
    ReleaseSlot(fReplyQueue);
    return Answered();
}

// ---- Function messages

bool VFunctionMessage::PostFunctionTo(VTask* task, std::function<void()>&& function) {
    if (task == nullptr) return false;
    auto message = VRefPtr<VFunctionMessage>::Adopt(new VFunctionMessage(std::move(function)));
    return message->PostTo(task, false, 0);
}

bool VFunctionMessage::PostToAndWait(VTask* task, std::function<void()>&& function) {
    if (task == nullptr) return false;
    auto message = VRefPtr<VFunctionMessage>::Adopt(new VFunctionMessage(std::move(function)));
    // A caller that is not a task has no messages to execute meanwhile: it just waits.
    if (VTask::GetCurrent() == nullptr) return message->SendTo(task);
    return message->PostToAndWaitExecutingMessages(task);
}

bool VFunctionMessage::PostToMainTask(std::function<void()>&& function, bool runNow) {
    if (runNow) {
        if (function) function();
        return true;
    }
    return PostFunctionTo(VTaskMgr::Get()->GetMainTask(), std::move(function));
}

bool VFunctionMessage::PostToMainTaskAndWait(std::function<void()>&& function, bool runNow) {
    if (!runNow && !VTask::IsCurrentMain()) return PostToAndWait(VTaskMgr::Get()->GetMainTask(), std::move(function));
    if (function) function();
    return true;
}

// ---- Idle messages

void XIdleMessage::DoExecute() {
    if (fIdler == nullptr || !fIdler->IsIdling()) return;
    fIdler->Idle();
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !fIdler->IsIdling()) return;
    auto next = VRefPtr<XIdleMessage>::Adopt(new XIdleMessage(fIdler));
    next->PostTo(task, false, kIdleMessageDelayMs);
}

} // namespace vela
