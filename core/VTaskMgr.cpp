#include "core/VTaskMgr.h"

#include "core/IFiberScheduler.h"
#include "core/IMessageable.h"
#include "core/ITaskProcess.h"
#include "core/VMessage.h"
#include "core/VMessageQueue.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "core/platform/XPosixRuntime.h"
#include "core/platform/XPosixTask.h"
#include "intl/VIntlMgr.h"
#include "json/SpinLockSettings.h"

#include <algorithm>
#include <limits>
#include <sched.h>
#include <utility>

namespace vela {

std::atomic<bool> VTaskMgr::sInstanceInited{false};
constinit thread_local int32 VTaskMgr::sCurrentOwnerID = 0;

namespace {

constexpr size_t kFallbackMainStackSize = 65536;
constexpr size_t kMaxDefaultStackSize = 1048576;
constexpr int32 kDeInitWaitMs = 5000;

} // namespace

VTaskMgr* VTaskMgr::Get() noexcept {
    static VTaskMgr* const sInstance = new VTaskMgr;
    return sInstance;
}

int32 VTaskMgr::_InitCurrentOwnerID() noexcept {
    sCurrentOwnerID = XPosixTaskMgr::GetCurrentThreadKernelID();
    return sCurrentOwnerID;
}

int32 VTaskMgr::GetCurrentTaskID() noexcept {
    if (!IsInited()) return 0;
    VTask* task = XPosixTaskMgr::GetCurrentTask();
    return task != nullptr ? task->GetID() : XPosixTaskMgr::GetCurrentForeignTaskID();
}

// ---- Start and end

bool VTaskMgr::Init(ITaskProcess* process) {
    if (IsInited()) return false;
    bool inited = _Init(process);
    sInstanceInited.store(inited, std::memory_order_release);
    if (inited) SpinLock::Configure();
    return inited;
}

bool VTaskMgr::_Init(ITaskProcess* process) {
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        fScheduler = new VScheduler_void;
    }
    if (!fPlatform.Init(process != nullptr && process->IsFibered())) return false;
    fProcess.store(process, std::memory_order_release);
    auto* main = new VTask(this);
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        fMainTask = main;
        fTasks.push_back(main);
        fTaskListStamp.fetch_add(1);
    }
    XPosixTaskMgr::SetCurrentThreadName(VString("main"), main->GetID());
    return true;
}

void VTaskMgr::DeInit() {
    if (!IsInited()) return;
    _DeInit();
    sInstanceInited.store(false, std::memory_order_release);
}

void VTaskMgr::_DeInit() {
    VTask* main = fMainTask;
    // Tasks still running are asked to end; those that do not within the bound are left alive (never waited
    // for without limit), with the manager's reference.
    if (VTask::GetCurrent() == main) KillAllTasks(kDeInitWaitMs);
    PurgeDeadTasks();
    main->_Exit();
    // The thread's current international manager may be the main task's, which goes now.
    if (main->fIntlMgr && VIntlMgr::GetCurrent() == main->fIntlMgr.Get()) VIntlMgr::SetCurrent(nullptr);
    std::vector<DelayedMessage> delayed;
    std::vector<VTask*> remaining;
    IFiberScheduler* scheduler = nullptr;
    IRefCountable* zoTaskOwner = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        zoTaskOwner = std::exchange(fZoTaskOwner, nullptr);
        fZoTask = nullptr;
        delayed.swap(fDelayedMessages);
        remaining.swap(fTasks);
        fMainTask = nullptr;
        scheduler = std::exchange(fScheduler, nullptr);
        fDataKeys.clear();
        fFreedIDs.clear();
        fNextFiberID = 0;
        fDefaultStackSize = 0;
        fTaskListStamp.fetch_add(1);
    }
    for (DelayedMessage& entry : delayed) {
        entry.message->Abort();
        entry.message->Release();
    }
    XPosixTaskMgr::SetCurrentTask(nullptr);
    main->Release();
    for (VTask* task : remaining) {
        if (task != main && task->GetState() == eTaskStateDead) task->Release();
    }
    if (scheduler != nullptr) scheduler->Release();
    if (zoTaskOwner != nullptr) zoTaskOwner->Release();
    fPlatform.DeInit();
    fProcess.store(nullptr, std::memory_order_release);
}

void VTaskMgr::SetZoTask(VZoTask* task, IRefCountable* owner) {
    if (owner != nullptr) owner->Retain();
    IRefCountable* previous = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        fZoTask = task;
        previous = std::exchange(fZoTaskOwner, owner);
    }
    // Outside the lock: the owner's last release may run anything.
    if (previous != nullptr) previous->Release();
}

VZoTask* VTaskMgr::RetainZoTask(IRefCountable** outOwner) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (outOwner != nullptr) *outOwner = RetainRefCountable(fZoTaskOwner);
    return fZoTask;
}

// ---- The task list

void VTaskMgr::_RegisterTask(VTask* task) {
    PurgeDeadTasks();
    task->Retain();
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fTasks.push_back(task);
    fTaskListStamp.fetch_add(1);
}

int32 VTaskMgr::_GetNewTaskID(VTask* task) {
    if (task->fPlatformTask) {
        int32 id = task->fPlatformTask->GetValueForVTaskID();
        if (id != 0) return id;
    }
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (!fFreedIDs.empty()) {
        int32 id = fFreedIDs.back();
        fFreedIDs.pop_back();
        return id;
    }
    return --fNextFiberID;
}

void VTaskMgr::PurgeDeadTasks() {
    if (!fHasDeadTasks.exchange(false, std::memory_order_acq_rel)) return;
    std::vector<VTask*> dead;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        for (size_t i = 1; i < fTasks.size();) {
            VTask* task = fTasks[i];
            if (task->GetState() != eTaskStateDead) {
                ++i;
                continue;
            }
            fTasks.erase(fTasks.begin() + std::ptrdiff_t(i));
            int32 platformID = task->fPlatformTask ? task->fPlatformTask->GetValueForVTaskID() : 0;
            if (task->GetID() != platformID) fFreedIDs.push_back(task->GetID());
            dead.push_back(task);
        }
        if (!dead.empty()) fTaskListStamp.fetch_add(1);
    }
    for (VTask* task : dead)
        task->Release();
}

int32 VTaskMgr::GetTaskCount(bool notDying) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    int32 count = 0;
    for (VTask* task : fTasks) {
        int32 state = task->GetState();
        if (notDying ? state < eTaskStateDying : (state == eTaskStateRunning || state == eTaskStateDying)) ++count;
    }
    return count;
}

VTask* VTaskMgr::RetainTaskByID(int32 id) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (VTask* task : fTasks) {
        if (task->GetID() == id && task->GetState() != eTaskStateDead) {
            task->Retain();
            return task;
        }
    }
    return nullptr;
}

VRefPtr<VTask> VTaskMgr::GetTaskByID(int32 id) const {
    return VRefPtr<VTask>::Adopt(RetainTaskByID(id));
}

void VTaskMgr::GetTasks(std::vector<VRefPtr<VTask>>& tasks) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (VTask* task : fTasks)
        tasks.emplace_back(task);
}

bool VTaskMgr::KillAllTasks(int32 timeoutMs) {
    VTask* caller = VTask::GetCurrent();
    auto mainIsAlone = [this] {
        PurgeDeadTasks();
        std::lock_guard<std::recursive_mutex> guard(fLock);
        return fTasks.size() <= 1;
    };
    if (caller == nullptr || caller != fMainTask) return mainIsAlone();
    uint32 start = XPosixRuntime::GetMilliseconds();
    for (;;) {
        // Collected under the lock, killed outside it: DoPrepareToDie is user code.
        std::vector<VRefPtr<VTask>> victims;
        {
            std::lock_guard<std::recursive_mutex> guard(fLock);
            for (VTask* task : fTasks)
                if (task != caller && task->GetState() >= eTaskStateRunning) victims.emplace_back(task);
        }
        for (VRefPtr<VTask>& task : victims) {
            if (task->GetState() < eTaskStateDead) task->DoPrepareToDie();
            task->_MarkKilled();
        }
        victims.clear();
        if (mainIsAlone()) return true;
        YieldNow();
        caller->ExecuteMessagesWithTimeout(1, false);
        if (XPosixRuntime::GetMilliseconds() - start >= uint32(std::max(timeoutMs, 0))) return mainIsAlone();
    }
}

// ---- Stack sizes

size_t VTaskMgr::GetStackSizeForMainTask() {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (fMainStackSize == 0) {
        size_t size = XPosixTaskMgr::ComputeMainTaskStackSize();
        fMainStackSize = size != 0 ? size : kFallbackMainStackSize;
    }
    return fMainStackSize;
}

size_t VTaskMgr::GetDefaultStackSize() {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (fDefaultStackSize == 0) fDefaultStackSize = std::min(GetStackSizeForMainTask(), kMaxDefaultStackSize);
    return fDefaultStackSize;
}

void VTaskMgr::SetDefaultStackSize(size_t size) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fDefaultStackSize = size;
}

size_t VTaskMgr::GetCurrentFreeStackSize() const {
    return fPlatform.GetCurrentFreeStackSize();
}

// ---- Delayed messages

bool VTaskMgr::RegisterDelayedMessage(VMessage* message, int32 delayMs) {
    if (message == nullptr) return true;
    // In 64 bits: delayMs × 60 overflows 32 bits beyond about 9.9 hours.
    int64 due = int64(XPosixRuntime::GetTicks()) + int64(delayMs) * 60 / 1000;
    message->Retain();
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fDelayedMessages.push_back(DelayedMessage{message, due});
    return true;
}

void VTaskMgr::_CheckDelayedMessages() {
    int64 now = int64(XPosixRuntime::GetTicks());
    for (;;) {
        VMessage* due = nullptr;
        {
            std::lock_guard<std::recursive_mutex> guard(fLock);
            auto it = std::find_if(fDelayedMessages.begin(), fDelayedMessages.end(),
                                   [now](const DelayedMessage& entry) { return entry.dueTick < now; });
            if (it == fDelayedMessages.end()) return;
            due = it->message;
            fDelayedMessages.erase(it);
        }
        due->RePost();
        due->Release();
    }
}

void VTaskMgr::CancelMessages(IMessageable* target) {
    for (;;) {
        VMessage* cancelled = nullptr;
        {
            std::lock_guard<std::recursive_mutex> guard(fLock);
            auto it = std::find_if(fDelayedMessages.begin(), fDelayedMessages.end(), [target](const DelayedMessage& e) {
                VMessagingContext* context = e.message->GetContext();
                return context != nullptr && context->GetTarget() == target;
            });
            if (it == fDelayedMessages.end()) break;
            cancelled = it->message;
            fDelayedMessages.erase(it);
        }
        cancelled->Abort();
        cancelled->Release();
    }
    std::vector<VRefPtr<VTask>> tasks;
    GetTasks(tasks);
    for (VRefPtr<VTask>& task : tasks)
        task->CancelMessages(target);
}

// ---- Data keys

int32 VTaskMgr::CreateDataKey(void (*destructor)(void*)) {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (size_t i = 0; i < fDataKeys.size(); ++i) {
        DataKey& key = fDataKeys[i];
        if (!key.deleted) continue;
        key.deleted = false;
        key.destructor = destructor;
        ++key.generation;
        return int32(i + 1);
    }
    if (fDataKeys.size() >= size_t(std::numeric_limits<int32>::max())) return 0;
    fDataKeys.push_back(DataKey{destructor, false, 0});
    return int32(fDataKeys.size());
}

void VTaskMgr::DeleteDataKey(int32 key) {
    if (!IsInited()) return;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (key < 1 || size_t(key) > fDataKeys.size()) return;
    fDataKeys[size_t(key) - 1].deleted = true;
}

bool VTaskMgr::CheckDataKey(int32 key) const {
    return _GetDataKeyGeneration(key) >= 0;
}

int64 VTaskMgr::_GetDataKeyGeneration(int32 key) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (key < 1 || size_t(key) > fDataKeys.size()) return -1;
    const DataKey& entry = fDataKeys[size_t(key) - 1];
    return entry.deleted ? -1 : int64(entry.generation);
}

void VTaskMgr::_DisposeData(std::vector<std::pair<void*, uint32>>& slots) {
    std::vector<std::pair<void (*)(void*), void*>> calls;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        for (size_t i = 0; i < slots.size() && i < fDataKeys.size(); ++i) {
            const auto& [value, generation] = slots[i];
            const DataKey& key = fDataKeys[i];
            // Values of a deleted key, or of an older key with the same number, get no destructor.
            if (value == nullptr || key.deleted || key.generation != generation || key.destructor == nullptr) continue;
            calls.emplace_back(key.destructor, value);
        }
    }
    slots.clear();
    for (auto& [destructor, value] : calls)
        destructor(value);
}

// ---- Fibers and the scheduler

IFiberScheduler* VTaskMgr::RetainFiberScheduler() const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (fScheduler != nullptr) fScheduler->Retain();
    return fScheduler;
}

void VTaskMgr::SetFiberScheduler(IFiberScheduler* scheduler) {
    if (scheduler == nullptr) return;
    scheduler->Retain();
    IFiberScheduler* old = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(fLock);
        old = std::exchange(fScheduler, scheduler);
    }
    if (old != nullptr) old->Release();
}

namespace {

// Runs f with the scheduler (retained for the call) when there is one.
template <class F> bool WithScheduler(const VTaskMgr& manager, F f) {
    IFiberScheduler* scheduler = manager.RetainFiberScheduler();
    if (scheduler == nullptr) return false;
    f(*scheduler);
    scheduler->Release();
    return true;
}

} // namespace

void VTaskMgr::Yield() {
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !task->IsFiber()) return;
    WithScheduler(*this, [](IFiberScheduler& s) { s.Yield(); });
}

void VTaskMgr::YieldNow() {
    VTask* task = VTask::GetCurrent();
    if (task != nullptr && task->IsFiber() && WithScheduler(*this, [](IFiberScheduler& s) { s.YieldNow(); })) return;
    sched_yield();
}

void VTaskMgr::YieldToFiber(VTask* task) {
    fPlatform.YieldToFiber(task);
}

void VTaskMgr::CurrentFiberWaitFlag(std::atomic<int32>* flag, int32 value) {
    WithScheduler(*this, [&](IFiberScheduler& s) { s.WaitFlag(flag, value); });
}

void VTaskMgr::CurrentFiberWaitFlagWithTimeout(std::atomic<int32>* flag, int32 value, int32 ms) {
    WithScheduler(*this, [&](IFiberScheduler& s) { s.WaitFlagWithTimeout(flag, value, ms); });
}

void VTaskMgr::FiberStoppedBeingScheduled(VTask* task) {
    if (task == nullptr || task->GetStyle() != eTaskStyleFiber || task == VTask::GetCurrent()) return;
    // A fiber that never started or still runs becomes dying first, so that it can become dead.
    int32 state = task->GetState();
    while (state < eTaskStateDying && !task->fState.compare_exchange_weak(state, eTaskStateDying)) {
    }
    if (task->GetState() == eTaskStateDying) task->_SetStateDead();
}

void VTaskMgr::SetSystemEventPolling(bool on) {
    WithScheduler(*this, [on](IFiberScheduler& s) { s.SetSystemEventPolling(on); });
}

void VTaskMgr::WakeUpSystemEventPolling() {
    WithScheduler(*this, [](IFiberScheduler& s) { s.WakeUpSystemEventPolling(); });
}

void VTaskMgr::PollAndExecuteUpdateEvent() {
    WithScheduler(*this, [](IFiberScheduler& s) { s.PollAndExecuteUpdateEvent(); });
}

void VTaskMgr::SetDirectUpdate(bool on) {
    WithScheduler(*this, [on](IFiberScheduler& s) { s.SetDirectUpdate(on); });
}

} // namespace vela
