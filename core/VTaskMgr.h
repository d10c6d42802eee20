#pragma once

#include "core/VRefPtr.h"
#include "core/VTypes.h"
#include "core/platform/XPosixTaskMgr.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

namespace vela {

class IFiberScheduler;
class IMessageable;
class IRefCountable;
class ITaskProcess;
class VMessage;
class VTask;
// The application's task object; the core only keeps it for the application.
class VZoTask;

// The process-wide registry of tasks: the main task (the thread that called Init), task IDs, the current-task
// lookup, delayed messages, data keys and the fiber scheduler. Its lock (recursive) guards the task list, names,
// IDs, data keys, idlers, delayed messages and death watchers; user callbacks never run under it.
class VTaskMgr {
public:
    // The one manager; never destroyed, so threads still running at exit find it.
    static VTaskMgr* Get() noexcept;
    // Whether Init succeeded (and DeInit did not follow).
    static bool IsInited() noexcept { return sInstanceInited.load(std::memory_order_acquire); }

    // Makes the calling thread the main task. process (null: none; borrowed until DeInit) says whether tasks run
    // as fibers (the main task then becomes one) and makes the activity token each started task holds while it
    // runs; without it tasks are threads and hold no token. False when the manager cannot start (or was started
    // already).
    bool Init(ITaskProcess* process = nullptr);
    // Releases the main task, delayed messages and the scheduler; other tasks should be dead by then.
    void DeInit();
    // The process given to Init; null before Init, after DeInit or when none was given.
    ITaskProcess* GetProcess() const noexcept { return fProcess.load(std::memory_order_acquire); }

    // The application task: task (not owned, may be null) and its owner, retained (the previous one released).
    void SetZoTask(VZoTask* task, IRefCountable* owner);
    // The application task (null when none); its owner, with a reference for the caller, into outOwner.
    VZoTask* RetainZoTask(IRefCountable** outOwner) const;

    // The calling task's ID: 0 before Init; off-task, the kernel ID of the calling thread.
    static int32 GetCurrentTaskID() noexcept;
    // The ID that owns the locks the caller takes: the current task's ID, else the kernel thread ID. Never 0,
    // also before Init (so locks exclude each other before the manager exists).
    static int32 GetCurrentOwnerID() noexcept {
        int32 id = sCurrentOwnerID;
        return id != 0 ? id : _InitCurrentOwnerID();
    }

    VTask* GetMainTask() const noexcept { return fMainTask; }
    // The number of listed tasks: running or dying (notDying false), or not yet dying (true).
    int32 GetTaskCount(bool notDying) const;
    // The listed task with that ID unless dead, with a reference for the caller; null otherwise.
    VTask* RetainTaskByID(int32 id) const;
    VRefPtr<VTask> GetTaskByID(int32 id) const;
    // Appends every listed task, retained.
    void GetTasks(std::vector<VRefPtr<VTask>>& tasks) const;
    // Bumped by every registration and purge.
    uint32 GetTaskListStamp() const noexcept { return fTaskListStamp.load(std::memory_order_acquire); }

    // Unlinks dead tasks and releases them (outside the lock).
    void PurgeDeadTasks();
    // Kills every other task and waits at most timeoutMs (ms) for them to die, executing the caller's messages.
    // Only on the main task; answers whether the main task is alone.
    bool KillAllTasks(int32 timeoutMs);

    // Stack sizes in bytes: the main thread's (65,536 when the system reports none), the default for new tasks
    // (min(main, 1 MiB) until set), and what is left on the calling thread's stack.
    size_t GetStackSizeForMainTask();
    size_t GetDefaultStackSize();
    void SetDefaultStackSize(size_t size);
    size_t GetCurrentFreeStackSize() const;

    // Queues message (retained) for RePost once delayMs (ms) passed, counted in ticks of 1/60 s; due tasks are
    // reposted during the idle processing of any task. Answers true (also for null, which is ignored).
    bool RegisterDelayedMessage(VMessage* message, int32 delayMs);
    // Aborts the delayed and queued messages for target in every task.
    void CancelMessages(IMessageable* target);

    // Data keys: each task has one slot per key, null until set. Keys are 1-based; a deleted key's number is
    // reused, and the new key reads null in every task. destructor (may be null) is called at task exit with
    // each non-null value.
    int32 CreateDataKey(void (*destructor)(void*));
    void DeleteDataKey(int32 key);
    bool CheckDataKey(int32 key) const;

    // Fibers: forward to the scheduler (Yield only on a fiber; YieldNow falls back to sched_yield).
    void Yield();
    void YieldNow();
    void YieldToFiber(VTask* task);
    void CurrentFiberWaitFlag(std::atomic<int32>* flag, int32 value);
    void CurrentFiberWaitFlagWithTimeout(std::atomic<int32>* flag, int32 value, int32 ms);
    // Installs scheduler (retained; null is ignored).
    void SetFiberScheduler(IFiberScheduler* scheduler);
    // The scheduler, with a reference for the caller; null before Init.
    IFiberScheduler* RetainFiberScheduler() const;
    // A fiber task that will never be scheduled again dies.
    void FiberStoppedBeingScheduled(VTask* task);
    void SetSystemEventPolling(bool on);
    void WakeUpSystemEventPolling();
    void PollAndExecuteUpdateEvent();
    void SetDirectUpdate(bool on);
    // When set, message execution asks the platform task to check system messages.
    void SetCallSystemMessageCheck(bool on) noexcept { fCallSystemMessageCheck.store(on); }
    bool GetCallSystemMessageCheck() const noexcept { return fCallSystemMessageCheck.load(); }

    XPosixTaskMgr& GetPlatform() noexcept { return fPlatform; }

private:
    friend class VTask;
    friend class XPosixTaskMgr;

    struct DataKey {
        void (*destructor)(void*) = nullptr;
        bool deleted = false;
        // Bumped when a deleted key is reused: slots written under an older generation read null.
        uint32 generation = 0;
    };
    struct DelayedMessage {
        VMessage* message;
        int64 dueTick;
    };

    VTaskMgr() = default;
    static int32 _InitCurrentOwnerID() noexcept;

    bool _Init(ITaskProcess* process);
    void _DeInit();
    // The ID of a new task: the platform's value (kernel thread ID), else a recycled or new negative ID.
    int32 _GetNewTaskID(VTask* task);
    void _RegisterTask(VTask* task);
    void _CheckDelayedMessages();
    // The current generation of key, or -1 for a key that is not valid.
    int64 _GetDataKeyGeneration(int32 key) const;
    // Calls the destructors of the values in slots (outside the lock) and clears them.
    void _DisposeData(std::vector<std::pair<void*, uint32>>& slots);
    void _SetHasDeadTasks() noexcept { fHasDeadTasks.store(true, std::memory_order_release); }

    static std::atomic<bool> sInstanceInited;
    // The calling thread's lock owner ID (0 until first asked).
    static constinit thread_local int32 sCurrentOwnerID;

    mutable std::recursive_mutex fLock;
    VTask* fMainTask = nullptr;
    // Listed tasks, each retained; the main task first.
    std::vector<VTask*> fTasks;
    size_t fMainStackSize = 0;
    size_t fDefaultStackSize = 0;
    XPosixTaskMgr fPlatform;
    std::vector<DelayedMessage> fDelayedMessages;
    int32 fNextFiberID = 0;
    std::deque<int32> fFreedIDs;
    std::vector<DataKey> fDataKeys;
    IFiberScheduler* fScheduler = nullptr;
    std::atomic<bool> fCallSystemMessageCheck{false};
    std::atomic<bool> fHasDeadTasks{false};
    std::atomic<uint32> fTaskListStamp{0};
    std::atomic<ITaskProcess*> fProcess{nullptr};
    // Under fLock.
    VZoTask* fZoTask = nullptr;
    IRefCountable* fZoTaskOwner = nullptr;
};

} // namespace vela
