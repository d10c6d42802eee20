#pragma once

#include "core/IMessageable.h"
#include "core/IRefCountable.h"
#include "core/VDebugContext.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vela {

class IIdleable;
class VErrorBase;
class VErrorContext;
class VErrorTaskContext;
class VIntlMgr;
class VJSONObject;
class VMessage;
class VMessageQueue;
class VString;
class VTaskMgr;
class XPosixTask;

// How a task runs: on a thread of its own, or as a fiber that hands control over explicitly.
enum ETaskStyle : int32 { eTaskStylePreemptive = 1, eTaskStyleFiber = 3 };

// The life of a task; states only grow.
enum ETaskState : int32 {
    eTaskStateNotStarted = 0,
    eTaskStateStarting = 1,
    eTaskStateRunning = 2,
    eTaskStateDying = 3,
    eTaskStateDead = 4,
};

// Why a task waits.
enum ETaskWaitReason : int32 {
    eTaskWaitNone = 0,
    eTaskWaitSleeping = 1,
    eTaskWaitMessages = 4,
    eTaskWaitAnswer = 5,
    eTaskWaitDeath = 8,
};

// A thread or fiber with its message queue, error contexts and data slots. Created with one reference; while it
// runs, the task manager holds another until it is dead and purged.
class VTask : public VObject, public IMessageable, public IRefCountable {
public:
    // ---- Tasks, threads and fibers (VTask.cpp, tasks engineer)

    // A task that calls run on its thread (or fiber) and ends; without run, the DoInit/DoRun/DoDeInit cycle.
    // stackSize in bytes, 0 for the default. The thread exists from here on but starts only with Run.
    explicit VTask(size_t stackSize = 0, ETaskStyle style = eTaskStylePreemptive, std::function<void()> run = {});
    // A task that calls proc with itself (its result is ignored). creator is not used.
    VTask(VObject* creator, size_t stackSize, ETaskStyle style, int32 (*proc)(VTask*));

    // Starts the task; false without a thread, or when it was started before.
    bool Run();
    // Asks the task to stop: DoPrepareToDie, then running becomes dying (the kill stamp is taken) and the
    // task's waits for messages and sleeps are interrupted. The task ends when its loop sees it.
    void Kill();
    // Ends the calling task at once (its thread or fiber does not return); next is the fiber to switch to.
    static void Exit(VTask* next = nullptr);
    // Waits at most timeoutMs (ms) for the task to die, executing the caller's messages; answers whether it is
    // dead. False at once on the task itself.
    bool WaitForDeath(int32 timeoutMs);
    // Dying or dead; ticksSinceKill (if given) receives the ticks since the kill, 0 when not dying.
    bool IsDying(int32* ticksSinceKill = nullptr) const;
    ETaskState GetState() const noexcept { return ETaskState(fState.load(std::memory_order_acquire)); }
    ETaskWaitReason GetWaitReason() const noexcept {
        return ETaskWaitReason(fWaitReason.load(std::memory_order_acquire));
    }
    // Ends a Sleep of the task early.
    void WakeUp();
    // Sleeps the calling task ms (ms); ms <= 0 yields. Off a task a positive ms returns at once.
    static void Sleep(int32 ms);

    // The task running the calling thread or fiber; null when the caller is not a task (or before the task
    // manager's Init). No reference.
    static VTask* GetCurrent() noexcept;
    static bool IsCurrentMain() noexcept;

    // The task's ID: positive for threads (the kernel thread ID), negative for fibers.
    int32 GetID() const noexcept { return fID; }
    ETaskStyle GetStyle() const noexcept { return fStyle; }
    bool IsFiber() const noexcept { return fIsFiber; }
    bool IsPreemptive() const noexcept { return fIsPreemptive; }
    bool IsMain() const noexcept;

    // The name (empty until set). Renames the thread (its first 15 bytes) when set on the task itself.
    void SetName(const VString& name);
    void GetName(VString& name) const;
    // The thread handle; 0 without a thread.
    uintptr_t GetSystemID() const noexcept;
    // Stack size in bytes: the task's own, else the main thread's for the main task, the default for others.
    size_t GetStackSize();
    // Forwarded to the thread: CPU usage (fraction of one processor since the task started), and the user and
    // system CPU times in seconds. False without a thread.
    bool GetCPUUsage(double& usage) const;
    bool GetCPUTimes(double& user, double& system) const;

    // The calling task's international manager (else the thread's current one, else the process default):
    // strings' locale-aware operations follow it. A task shares the process's manager until it changes it
    // (VIntlMgr::SetWildChar, Reset), which gives the task a clone of its own.
    static VIntlMgr* GetCurrentIntlManager() noexcept;
    // Installs manager on the calling task (retained) and its thread; null or the current one change nothing.
    static void SetCurrentIntlManager(VIntlMgr* manager);
    // Gives the calling task a manager of dialect (texts and collation; 0: the system's) made with options;
    // nothing changes off a task or when the manager cannot be made.
    static void SetCurrentDialectCode(uint32 dialect, uint8 options = 1);
    // The dialect of the calling task's manager.
    static uint32 GetDialectCode() noexcept;
    // The wildcard character of the calling task's manager.
    static UniChar GetWildChar() noexcept;

    // The calling task's value for key (null for a key never set, deleted or invalid, and off-task).
    static void* GetCurrentData(int32 key);
    // Sets the calling task's value for key; invalid keys (0, never created, deleted) and off-task callers
    // change nothing.
    static void SetCurrentData(int32 key, void* value);

    // Keeps object (retained) alive as long as the calling task runs; a second registration changes nothing.
    static void RegisterJSONObject(VJSONObject* object);
    static void UnregisterJSONObject(VJSONObject* object);

    // Idlers (not owned) called by the task's idle processing; CallIdlers works only on the task itself.
    // Destroy an idler on its task: a call already under way elsewhere is not waited for.
    void RegisterIdler(IIdleable* idler);
    void UnregisterIdler(IIdleable* idler);
    void CallIdlers();

    // Messages. AddMessage queues message (retained) for this task; false when the task no longer takes
    // messages or a queued message absorbed it.
    bool AddMessage(VMessage* message);
    // The task's queue (made on first use), with a reference for the caller.
    VMessageQueue* RetainMessageQueue();
    // Aborts the queued messages for target (null: those without receiver).
    void CancelMessages(IMessageable* target);
    // The following run on the task itself. Executes the pending messages without waiting (and idle processing
    // when withIdle and none was pending); true when one ran.
    bool ExecuteMessages(bool withIdle);
    // The same, first waiting at most ms (ms) for a message.
    bool ExecuteMessagesWithTimeout(int32 ms, bool withIdle);
    // Waits at most ms (ms) for a message and answers it with its reference (null when none came).
    VMessage* RetainMessageWithTimeout(int32 ms, bool* timedOut = nullptr);
    // Executes messages (with idle processing) until the task is dying or SetMessageQueueEvent is called.
    void WaitAndExecuteMessages();
    // The same, for at most timeoutMs (ms): true (also in *timedOut) only when the time ran out.
    bool WaitAndExecuteMessages(int32 timeoutMs, bool* timedOut = nullptr);
    // Ends the task's current or next wait for messages, with or without a message.
    void SetMessageQueueEvent();
    int32 GetMessageQueueStamp() const noexcept { return fQueueEventStamp.load(std::memory_order_acquire); }
    bool IsAnyMessagePending() const;
    // True when the task executed messages less than 1000 ms ago.
    bool IsResponding() const noexcept;

    // Two counters that the bag XML loader raises on the calling task for the duration of a load (StBagXMLLoad):
    // the XML parses and the bag loads under way on the task. Any task may read them; only the task changes them.
    int32 GetXMLParseDepth() const noexcept { return fXMLParseDepth.load(std::memory_order_acquire); }
    int32 GetBagLoadDepth() const noexcept { return fBagLoadDepth.load(std::memory_order_acquire); }

    // Drops the calling task's activity token: a task that only waits in the background (a logger's flusher, say)
    // must not keep the process busy. Nothing off a task or without a token.
    static void ReleaseCurrentActivityToken();

protected:
    // Hooks of the task cycle (without run function), on the task's thread. DoRun answers false to end.
    virtual void DoInit() {}
    virtual void DoDeInit() {}
    virtual bool DoRun() { return true; }
    // Called by idle processing.
    virtual void DoIdle() {}
    // Called by Kill, on the killer's thread, before the task becomes dying.
    virtual void DoPrepareToDie() {}

public:
    // ---- Errors of the task (VTaskErrors.cpp, errors engineer)
    // Each works on the calling thread's task and does nothing off a task (answering 0, false or null).

    // The code of the newest error of the task's top error context; 0 when it has none.
    static VError GetLastError() noexcept;
    // Whether the top error context received a memory-full error ('vela' 100).
    static bool FailedForMemory() noexcept;
    // The task's error-context stack, made when create is set and it does not exist yet; borrowed.
    static VErrorTaskContext* GetErrorContext(bool create);
    // Pushes error (retained) on the top context; an error that no context filters goes to the debug manager.
    // False for null.
    static bool PushError(VErrorBase* error);
    // PushError, then releases the caller's reference (off a task too).
    static bool PushRetainedError(VErrorBase* error);
    // Pushes each error of context (null: none), oldest first.
    static void PushErrors(const VErrorContext* context);
    // Releases the errors of the top context.
    static void FlushErrors() noexcept;

    // The debug manager's state for this task (low-level mode, re-entrance).
    VDebugContext& GetDebugContext() noexcept { return fDebugContext; }

private:
    VDebugContext fDebugContext;

    // ---- Private part of the task (tasks engineer)
protected:
    ~VTask() override;

private:
    friend class VMessage;
    friend class VTaskMgr;
    friend class XPosixTask;
    friend class XPosixTask_preemptive;
    friend class XPosixTask_fiber;
    friend class XPosixTaskMgr;

    // The main task: the calling thread.
    explicit VTask(VTaskMgr* manager);

    // The body, on the task's own thread or fiber; returns when the task is done (dying).
    void _Run();
    // Stops messaging and releases what the task holds for its run (queue, data, JSON objects, run function).
    void _Exit();
    // Dying to dead; wakes the tasks waiting for the death.
    void _SetStateDead();
    // The activity token of the run, from the manager's process (none without one).
    void _TakeActivityToken();
    void _ReleaseActivityToken();
    // One pass of idle processing when its period has passed.
    void _CheckIdleEvents();
    bool _ExecuteMessages(VMessage* message, bool withIdle);
    VMessage* _RetainMessageWithTimeout(int32 ms, bool* timedOut);
    bool _WaitAndExecuteMessages(bool forever, int32 timeoutMs, bool* timedOut);
    void _MarkKilled();
    // Sets the wait reason when the task had none; answers whether it did.
    bool _BeginWait(ETaskWaitReason reason) noexcept;
    void _EndWait(bool began) noexcept;
    // Deletes the error context; defined with the errors of the task.
    void _DisposeErrorContext();

    std::unique_ptr<XPosixTask> fPlatformTask;
    int32 fID = 0;
    ETaskStyle fStyle = eTaskStylePreemptive;
    VTaskMgr* fManager = nullptr;
    std::atomic<int32> fState{eTaskStateNotStarted};
    std::atomic<int32> fWaitReason{eTaskWaitNone};
    std::atomic<uint64> fKillStamp{0};
    uint64 fLastIdleStamp = 0;
    uint64 fIdlePeriod = 0;
    std::function<void()> fRunFunction;
    VString* fName = nullptr;
    std::atomic<VMessageQueue*> fMessageQueue{nullptr};
    std::atomic<int32> fQueueEventStamp{0};
    size_t fStackSize = 0;
    bool fIsFiber = false;
    bool fIsPreemptive = true;
    VErrorTaskContext* fErrorContext = nullptr;
    std::vector<IIdleable*> fIdlers;
    std::atomic<bool> fIdlersUnchanged{true};
    bool fIdlingNow = false;
    friend class StBagXMLLoad;
    std::atomic<int32> fXMLParseDepth{0};
    std::atomic<int32> fBagLoadDepth{0};
    // Value and key generation per data key (index key - 1).
    std::vector<std::pair<void*, uint32>> fDataSlots;
    // Queues of the tasks waiting for this one to die (retained); made on first need.
    std::unique_ptr<std::vector<VMessageQueue*>> fDeathWatchers;
    // Unset while the task uses the default manager, which is made on first use: a tool that quits at once need
    // not make it (a third of its start-up's instructions, callgrind startup_shutdown).
    VRefPtr<VIntlMgr> fIntlMgr;
    std::atomic<uint32> fLastExecutionStamp{0};
    std::atomic<bool> fHasExecuted{false};
    std::atomic<int32> fWakeFlag{0};
    // Set while the run function executes: Exit must not destroy it under its own feet.
    bool fInRunFunction = false;
    std::vector<VRefPtr<IRefCountable>> fJSONObjects;
    // Made by the process when the task starts ("Running task <name>"), released when it dies or drops it. Under
    // the manager's lock.
    IRefCountable* fActivityToken = nullptr;
};

// Raises both load counters of the calling task for the guard's life (nothing off a task): the bag XML loader
// holds one around each load.
class StBagXMLLoad {
public:
    StBagXMLLoad() noexcept : fTask(VTask::GetCurrent()) { Add(1); }
    ~StBagXMLLoad() { Add(-1); }
    StBagXMLLoad(const StBagXMLLoad&) = delete;
    StBagXMLLoad& operator=(const StBagXMLLoad&) = delete;

private:
    void Add(int32 step) noexcept {
        if (fTask == nullptr) return;
        fTask->fXMLParseDepth.fetch_add(step, std::memory_order_acq_rel);
        fTask->fBagLoadDepth.fetch_add(step, std::memory_order_acq_rel);
    }
    VTask* fTask;
};

} // namespace vela
