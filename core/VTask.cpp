#include "core/VTask.h"

#include "core/IFiberScheduler.h"
#include "core/IIdleable.h"
#include "core/ITaskProcess.h"
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VMessage.h"
#include "core/VMessageQueue.h"
#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixRuntime.h"
#include "core/platform/XPosixTask.h"
#include "core/platform/XPosixTaskMgr.h"
#include "intl/VIntlMgr.h"

#include <algorithm>
#include <mutex>
#include <sched.h>
#include <utility>

namespace vela {

namespace {

// A task answers as responding while its last pass through message execution is younger than this.
constexpr uint32 kRespondingMs = 1000;
// WaitAndExecuteMessages waits in rounds of at most this long.
constexpr int32 kWaitRoundMs = 1000;

} // namespace

// ---- Construction

VTask::VTask(size_t stackSize, ETaskStyle style, std::function<void()> run)
    : fStyle(style), fManager(VTaskMgr::Get()), fRunFunction(std::move(run)), fStackSize(stackSize),
      fIsFiber(style == eTaskStyleFiber), fIsPreemptive(style == eTaskStylePreemptive) {
    if (VTaskMgr::IsInited()) fPlatformTask = fManager->fPlatform.Create(this, style);
    fID = fManager->_GetNewTaskID(this);
    SetMessagingTask(fID);
}

VTask::VTask(VObject*, size_t stackSize, ETaskStyle style, int32 (*proc)(VTask*))
    : VTask(stackSize, style, proc == nullptr ? std::function<void()>() : std::function<void()>([proc] {
                VTask* current = VTask::GetCurrent();
                proc(current);
            })) {}

VTask::VTask(VTaskMgr* manager) : fManager(manager) {
    fState.store(eTaskStateRunning, std::memory_order_relaxed);
    fIsFiber = manager->fPlatform.AreFibersEnabled();
    fIsPreemptive = !fIsFiber;
    fPlatformTask = manager->fPlatform.CreateMain(this);
    fID = manager->_GetNewTaskID(this);
    SetMessagingTask(fID);
    XPosixTaskMgr::SetCurrentTask(this);
}

VTask::~VTask() {
    // First of all: the thread is joined while every field is still intact.
    fPlatformTask.reset();
    // A task that never died (abandoned at shut-down) still holds its token.
    if (fActivityToken != nullptr) fActivityToken->Release();
    _DisposeErrorContext();
    delete fName;
    if (fDeathWatchers) {
        for (VMessageQueue* queue : *fDeathWatchers)
            queue->Release();
    }
    if (VMessageQueue* queue = fMessageQueue.exchange(nullptr)) {
        queue->Close();
        queue->Release();
    }
}

// ---- Life cycle

bool VTask::Run() {
    if (!fPlatformTask) return false;
    if (fStyle == eTaskStyleFiber) {
        if (IFiberScheduler* scheduler = fManager->RetainFiberScheduler()) {
            bool continueRun = true;
            bool result = scheduler->RunFiber(this, &continueRun);
            scheduler->Release();
            if (!continueRun) return result;
        }
    }
    int32 expected = eTaskStateNotStarted;
    if (!fState.compare_exchange_strong(expected, eTaskStateStarting)) return false;
    _TakeActivityToken();
    fManager->_RegisterTask(this);
    if (fPlatformTask->Run()) return true;
    expected = eTaskStateStarting;
    fState.compare_exchange_strong(expected, eTaskStateDying);
    _SetStateDead();
    return false;
}

void VTask::_Run() {
    int32 expected = eTaskStateStarting;
    if (!fState.compare_exchange_strong(expected, eTaskStateRunning)) return;
    VString name;
    GetName(name);
    XPosixTaskMgr::SetCurrentThreadName(name, fID);
    VIntlMgr::SetCurrent(fIntlMgr.Get());
    if (fRunFunction) {
        fInRunFunction = true;
        fRunFunction();
        fInRunFunction = false;
        expected = eTaskStateRunning;
        fState.compare_exchange_strong(expected, eTaskStateDying);
    } else {
        DoInit();
        for (;;) {
            if (fIsFiber) fManager->Yield();
            if (!DoRun()) {
                Kill();
                DoDeInit();
                break;
            }
            ExecuteMessages(true);
            if (GetState() >= eTaskStateDying) {
                DoDeInit();
                break;
            }
        }
    }
    _Exit();
}

void VTask::_Exit() {
    StopMessaging();
    // Closed rather than only emptied: a message added later would never run, and its sender would wait.
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(RetainMessageQueue());
    queue->Close();
    std::vector<VRefPtr<IRefCountable>> objects;
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        objects.swap(fJSONObjects);
    }
    objects.clear();
    fManager->_DisposeData(fDataSlots);
    if (!fInRunFunction) fRunFunction = nullptr;
}

void VTask::_TakeActivityToken() {
    ITaskProcess* process = fManager->GetProcess();
    if (process == nullptr) return;
    VString reason("Running task ");
    VString name;
    GetName(name);
    reason.AppendString(name);
    IRefCountable* token = process->CreateActivityToken(reason);
    IRefCountable* previous = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        previous = std::exchange(fActivityToken, token);
    }
    if (previous != nullptr) previous->Release();
}

void VTask::_ReleaseActivityToken() {
    IRefCountable* token = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        token = std::exchange(fActivityToken, nullptr);
    }
    // Outside the lock: the token tells the process, which takes its own lock.
    if (token != nullptr) token->Release();
}

void VTask::ReleaseCurrentActivityToken() {
    if (VTask* task = GetCurrent()) task->_ReleaseActivityToken();
}

void VTask::_SetStateDead() {
    _ReleaseActivityToken();
    std::unique_ptr<std::vector<VMessageQueue*>> watchers;
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        watchers = std::move(fDeathWatchers);
        int32 expected = eTaskStateDying;
        fState.compare_exchange_strong(expected, eTaskStateDead);
        fManager->_SetHasDeadTasks();
    }
    // The task may be gone from here on: only the watchers taken out are used.
    if (!watchers) return;
    for (VMessageQueue* queue : *watchers) {
        queue->SetEvent();
        queue->Release();
    }
}

void VTask::Kill() {
    if (GetCurrent() != this) {
        while (GetState() == eTaskStateStarting)
            fManager->YieldNow();
    }
    if (GetState() < eTaskStateDead) DoPrepareToDie();
    _MarkKilled();
}

void VTask::_MarkKilled() {
    int32 expected = eTaskStateRunning;
    if (!fState.compare_exchange_strong(expected, eTaskStateDying)) return;
    fKillStamp.store(XPosixRuntime::GetTicks(), std::memory_order_release);
    // Its waits end now rather than at the end of their round.
    SetMessageQueueEvent();
    WakeUp();
}

void VTask::Exit(VTask* next) {
    VTask* task = GetCurrent();
    // The main task is never purged: it ends with the manager's DeInit.
    if (task == nullptr || task->IsMain() || !task->fPlatformTask) return;
    int32 state = task->GetState();
    if (state < eTaskStateStarting || state > eTaskStateDying) return;
    task->fState.exchange(eTaskStateDying);
    task->_Exit();
    task->fPlatformTask->Exit(next);
}

bool VTask::WaitForDeath(int32 timeoutMs) {
    VTask* caller = GetCurrent();
    if (caller == this) return false;
    // Off a task the wait uses a queue of its own, which only the death's event reaches.
    VRefPtr<VMessageQueue> queue =
        VRefPtr<VMessageQueue>::Adopt(caller != nullptr ? caller->RetainMessageQueue() : new VMessageQueue);
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        if (GetState() == eTaskStateDead) return true;
        if (!fDeathWatchers) fDeathWatchers = std::make_unique<std::vector<VMessageQueue*>>();
        queue->Retain();
        fDeathWatchers->push_back(queue.Get());
    }
    bool began = caller != nullptr && caller->_BeginWait(eTaskWaitDeath);
    uint32 start = XPosixRuntime::GetMilliseconds();
    uint32 limit = uint32(std::max(timeoutMs, 0));
    while (GetState() != eTaskStateDead) {
        uint32 elapsed = XPosixRuntime::GetMilliseconds() - start;
        if (elapsed >= limit) break;
        int32 remaining = int32(limit - elapsed);
        if (caller != nullptr) {
            caller->ExecuteMessagesWithTimeout(remaining, true);
        } else if (VMessage* message = queue->RetainMessageWithTimeout(remaining, nullptr)) {
            message->Abort();
            message->Release();
        }
    }
    if (caller != nullptr) caller->_EndWait(began);
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        if (fDeathWatchers) {
            auto it = std::find(fDeathWatchers->begin(), fDeathWatchers->end(), queue.Get());
            if (it != fDeathWatchers->end()) {
                fDeathWatchers->erase(it);
                queue->Release();
            }
        }
    }
    return GetState() == eTaskStateDead;
}

bool VTask::IsDying(int32* ticksSinceKill) const {
    bool dying = GetState() >= eTaskStateDying;
    if (ticksSinceKill != nullptr) {
        uint64 stamp = fKillStamp.load(std::memory_order_acquire);
        *ticksSinceKill = dying && stamp != 0 ? int32(XPosixRuntime::GetTicks() - stamp) : 0;
    }
    return dying;
}

void VTask::WakeUp() {
    if (fIsFiber) {
        fWakeFlag.store(1, std::memory_order_release);
        return;
    }
    if (fPlatformTask) fPlatformTask->WakeUp();
}

void VTask::Sleep(int32 ms) {
    VTask* task = GetCurrent();
    if (ms <= 0) {
        if (task != nullptr && task->IsFiber()) {
            task->fManager->YieldNow();
        } else {
            sched_yield();
        }
        return;
    }
    if (task == nullptr) return;
    bool began = task->_BeginWait(eTaskWaitSleeping);
    if (task->IsFiber()) {
        task->fWakeFlag.store(0, std::memory_order_release);
        task->fManager->CurrentFiberWaitFlagWithTimeout(&task->fWakeFlag, 0, ms);
    } else if (task->fPlatformTask) {
        task->fPlatformTask->Sleep(ms);
    }
    task->_EndWait(began);
}

bool VTask::_BeginWait(ETaskWaitReason reason) noexcept {
    int32 expected = eTaskWaitNone;
    return fWaitReason.compare_exchange_strong(expected, reason);
}

void VTask::_EndWait(bool began) noexcept {
    if (began) fWaitReason.store(eTaskWaitNone, std::memory_order_release);
}

// ---- Identity

VTask* VTask::GetCurrent() noexcept {
    return VTaskMgr::IsInited() ? XPosixTaskMgr::GetCurrentTask() : nullptr;
}

bool VTask::IsCurrentMain() noexcept {
    VTask* task = GetCurrent();
    return task != nullptr && task->IsMain();
}

bool VTask::IsMain() const noexcept {
    return fManager != nullptr && fManager->GetMainTask() == this;
}

void VTask::SetName(const VString& name) {
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        if (fName == nullptr) {
            fName = new VString(name);
        } else {
            *fName = name;
        }
    }
    if (XPosixTaskMgr::GetCurrentTask() == this) XPosixTaskMgr::SetCurrentThreadName(name, fID);
}

void VTask::GetName(VString& name) const {
    std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
    if (fName != nullptr) {
        name = *fName;
    } else {
        name.Clear();
    }
}

uintptr_t VTask::GetSystemID() const noexcept {
    return fPlatformTask ? fPlatformTask->GetThreadHandle() : 0;
}

size_t VTask::GetStackSize() {
    // The main thread's is measured when first asked for (the measure reads /proc/self/maps, a tool that quits at
    // once never asks) and kept by the manager, under its lock: nothing is written here that threads share.
    if (fStackSize == 0 && IsMain()) return fManager->GetStackSizeForMainTask();
    if (fStackSize == 0) fStackSize = fManager->GetDefaultStackSize();
    return fStackSize;
}

bool VTask::GetCPUUsage(double& usage) const {
    usage = 0;
    return fPlatformTask && fPlatformTask->GetCPUUsage(usage);
}

bool VTask::GetCPUTimes(double& user, double& system) const {
    user = system = 0;
    return fPlatformTask && fPlatformTask->GetCPUTimes(user, system);
}

// ---- International manager

VIntlMgr* VTask::GetCurrentIntlManager() noexcept {
    VTask* task = GetCurrent();
    if (task != nullptr) return task->fIntlMgr ? task->fIntlMgr.Get() : VIntlMgr::GetDefault();
    return VIntlMgr::GetCurrent();
}

void VTask::SetCurrentIntlManager(VIntlMgr* manager) {
    VTask* task = GetCurrent();
    if (manager == nullptr || task == nullptr || task->fIntlMgr.Get() == manager) return;
    // The thread's current manager is borrowed from the task, which holds the reference.
    VRefPtr<VIntlMgr> old = std::move(task->fIntlMgr);
    task->fIntlMgr = manager;
    VIntlMgr::SetCurrent(manager);
}

void VTask::SetCurrentDialectCode(uint32 dialect, uint8 options) {
    if (GetCurrent() == nullptr) return;
    VRefPtr<VIntlMgr> manager = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(dialect, dialect, options));
    if (manager) SetCurrentIntlManager(manager.Get());
}

uint32 VTask::GetDialectCode() noexcept {
    return GetCurrentIntlManager()->GetDialectCode();
}

UniChar VTask::GetWildChar() noexcept {
    return GetCurrentIntlManager()->GetWildChar();
}

// ---- Data slots

void* VTask::GetCurrentData(int32 key) {
    VTask* task = GetCurrent();
    if (task == nullptr || key < 1 || size_t(key) > task->fDataSlots.size()) return nullptr;
    int64 generation = task->fManager->_GetDataKeyGeneration(key);
    const auto& [value, slotGeneration] = task->fDataSlots[size_t(key) - 1];
    return generation >= 0 && int64(slotGeneration) == generation ? value : nullptr;
}

void VTask::SetCurrentData(int32 key, void* value) {
    VTask* task = GetCurrent();
    if (task == nullptr) return;
    int64 generation = task->fManager->_GetDataKeyGeneration(key);
    if (generation < 0) return;
    if (task->fDataSlots.size() < size_t(key)) task->fDataSlots.resize(size_t(key), {nullptr, 0});
    task->fDataSlots[size_t(key) - 1] = {value, uint32(generation)};
}

// ---- Idlers

void VTask::RegisterIdler(IIdleable* idler) {
    if (idler == nullptr) return;
    std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
    if (std::find(fIdlers.begin(), fIdlers.end(), idler) != fIdlers.end()) return;
    fIdlers.push_back(idler);
    fIdlersUnchanged.store(false, std::memory_order_release);
}

void VTask::UnregisterIdler(IIdleable* idler) {
    // From any thread: an idler destroyed elsewhere must not stay listed.
    std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
    auto it = std::find(fIdlers.begin(), fIdlers.end(), idler);
    if (it == fIdlers.end()) return;
    fIdlers.erase(it);
    fIdlersUnchanged.store(false, std::memory_order_release);
}

void VTask::CallIdlers() {
    if (GetCurrent() != this) return;
    std::vector<IIdleable*> idlers;
    {
        std::lock_guard<std::recursive_mutex> guard(fManager->fLock);
        idlers = fIdlers;
        fIdlersUnchanged.store(true, std::memory_order_release);
    }
    // An idler may unregister itself or another: the copy is left as soon as the list changes.
    for (IIdleable* idler : idlers) {
        if (!fIdlersUnchanged.load(std::memory_order_acquire)) break;
        idler->Idle();
    }
}

void VTask::_CheckIdleEvents() {
    if (fIdlingNow) return;
    uint64 now = XPosixRuntime::GetTicks();
    if (now - fLastIdleStamp <= fIdlePeriod) return;
    fIdlingNow = true;
    fLastIdleStamp = now;
    DoIdle();
    CallIdlers();
    fManager->_CheckDelayedMessages();
    fIdlingNow = false;
}

// ---- Messages

VMessageQueue* VTask::RetainMessageQueue() {
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    if (queue == nullptr) {
        auto* fresh = new VMessageQueue;
        if (fMessageQueue.compare_exchange_strong(queue, fresh, std::memory_order_acq_rel)) {
            queue = fresh;
        } else {
            fresh->Release(); // another caller made it first
        }
    }
    queue->Retain();
    return queue;
}

bool VTask::AddMessage(VMessage* message) {
    if (message == nullptr) return false;
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(RetainMessageQueue());
    return queue->AddMessage(message);
}

void VTask::CancelMessages(IMessageable* target) {
    if (VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire)) queue->CancelMessages(target);
}

bool VTask::ExecuteMessages(bool withIdle) {
    if (GetCurrent() != this) return false;
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return _ExecuteMessages(queue != nullptr ? queue->RetainMessage() : nullptr, withIdle);
}

bool VTask::ExecuteMessagesWithTimeout(int32 ms, bool withIdle) {
    if (GetCurrent() != this) return false;
    return _ExecuteMessages(_RetainMessageWithTimeout(ms, nullptr), withIdle);
}

VMessage* VTask::RetainMessageWithTimeout(int32 ms, bool* timedOut) {
    if (GetCurrent() != this) {
        if (timedOut != nullptr) *timedOut = false;
        return nullptr;
    }
    return _RetainMessageWithTimeout(ms, timedOut);
}

VMessage* VTask::_RetainMessageWithTimeout(int32 ms, bool* timedOut) {
    IFiberScheduler* scheduler = fIsFiber ? fManager->RetainFiberScheduler() : nullptr;
    if (scheduler != nullptr) scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(true);
    bool began = _BeginWait(eTaskWaitMessages);
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(RetainMessageQueue());
    VMessage* message = queue->RetainMessageWithTimeout(ms, timedOut);
    _EndWait(began);
    if (scheduler != nullptr) {
        scheduler->SetDirectUpdateAllowedEvenIfWaitingForFlag(false);
        scheduler->Release();
    }
    return message;
}

bool VTask::_ExecuteMessages(VMessage* message, bool withIdle) {
    auto stamp = [this] {
        fLastExecutionStamp.store(XPosixRuntime::GetMilliseconds(), std::memory_order_release);
        fHasExecuted.store(true, std::memory_order_release);
    };
    if (message != nullptr) {
        VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
        while (message != nullptr) {
            {
                // Each message's errors stay with it: dropped when it ends (unfiltered ones were reported).
                StErrorContextInstaller errors(false, false);
                message->Execute();
            }
            message->Release();
            message = queue->RetainMessage();
        }
        stamp();
        return true;
    }
    if (fManager->GetCallSystemMessageCheck() && fPlatformTask && fPlatformTask->CheckSystemMessages()) stamp();
    if (withIdle && !fIdlingNow) _CheckIdleEvents();
    stamp();
    return false;
}

void VTask::WaitAndExecuteMessages() {
    _WaitAndExecuteMessages(true, 0, nullptr);
}

bool VTask::WaitAndExecuteMessages(int32 timeoutMs, bool* timedOut) {
    return _WaitAndExecuteMessages(false, timeoutMs, timedOut);
}

bool VTask::_WaitAndExecuteMessages(bool forever, int32 timeoutMs, bool* timedOut) {
    bool result = false;
    if (GetCurrent() != this) {
        result = false;
    } else if (!forever && timeoutMs < 1) {
        result = true;
    } else {
        int32 stamp = GetMessageQueueStamp();
        uint32 start = XPosixRuntime::GetMilliseconds();
        for (;;) {
            if (GetState() >= eTaskStateDying || GetMessageQueueStamp() != stamp) break;
            int32 wait = kWaitRoundMs;
            if (!forever) {
                uint32 elapsed = XPosixRuntime::GetMilliseconds() - start;
                if (elapsed >= uint32(timeoutMs)) {
                    result = true;
                    break;
                }
                wait = std::min(wait, int32(uint32(timeoutMs) - elapsed));
            }
            bool waitTimedOut = false;
            VMessage* message = _RetainMessageWithTimeout(wait, &waitTimedOut);
            if (message == nullptr && !waitTimedOut) break; // interrupted
            _ExecuteMessages(message, true);
        }
    }
    if (timedOut != nullptr) *timedOut = result;
    return result;
}

void VTask::SetMessageQueueEvent() {
    fQueueEventStamp.fetch_add(1, std::memory_order_acq_rel);
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(RetainMessageQueue());
    queue->SetEvent();
}

bool VTask::IsAnyMessagePending() const {
    VMessageQueue* queue = fMessageQueue.load(std::memory_order_acquire);
    return queue != nullptr && !queue->IsEmpty();
}

bool VTask::IsResponding() const noexcept {
    if (!fHasExecuted.load(std::memory_order_acquire)) return false;
    return XPosixRuntime::GetMilliseconds() - fLastExecutionStamp.load(std::memory_order_acquire) < kRespondingMs;
}

} // namespace vela
