#pragma once

#include "core/VObject.h"
#include "core/VTypes.h"
#include "core/platform/XPosixSemaphore.h"
#include "core/platform/XPosixStack.h"

#include <atomic>
#include <memory>
#include <pthread.h>

namespace vela {

class VTask;
class XPosixFiber;

// What runs a task: a thread, or a fiber. Made by XPosixTaskMgr, owned by the task.
class XPosixTask : public VObject {
public:
    explicit XPosixTask(VTask* task) noexcept : fTask(task) {}
    ~XPosixTask() override;

    // Starts the task; false when there is nothing to run it.
    virtual bool Run() = 0;
    // Ends a Sleep early.
    virtual void WakeUp() = 0;
    // Waits for a WakeUp without limit.
    virtual void Freeze() = 0;
    // Waits ms (ms) or until WakeUp.
    virtual void Sleep(int32 ms) = 0;
    virtual bool CheckSystemMessages() { return false; }
    // Ends the calling task's thread or fiber (on the task itself); next is the fiber to hand control to.
    [[noreturn]] virtual void Exit(VTask* next) = 0;
    // The task's ID as the system knows it (the kernel thread ID); 0 when the manager numbers it.
    virtual int32 GetValueForVTaskID() const noexcept { return 0; }

    // CPU time of the thread since it started: the fraction of one processor, and user and system seconds.
    bool GetCPUUsage(double& usage) const;
    bool GetCPUTimes(double& user, double& system) const;

    uintptr_t GetThreadHandle() const noexcept { return fHasThread ? uintptr_t(fThread) : 0; }
    char* GetStackTop() const noexcept { return fStackTop; }
    size_t GetStackSize() const noexcept { return fStackSize; }
    XPosixFiber* GetFiber() const noexcept { return fFiber; }
    VTask* GetReturnTask() const noexcept { return fReturnTask; }

protected:
    // Records the calling thread as the task's: handle, kernel ID, stack top, start time.
    void _RecordThread(char* stackTop) noexcept;

    VTask* fTask;
    pthread_t fThread{};
    bool fHasThread = false;
    std::atomic<int32> fKernelID{0};
    XPosixFiber* fFiber = nullptr;
    VTask* fReturnTask = nullptr;
    size_t fStackSize = 0;
    char* fStackTop = nullptr;
    uint64 fStartNs = 0;
    // The main task's: destruction also deletes the thread's own fiber.
    bool fFiberOwner = false;
};

// A task on a joinable thread of its own, on a stack with a guard page; the thread waits for Run.
class XPosixTask_preemptive : public XPosixTask {
public:
    // A task with its thread waiting to start; null when the thread cannot be made ('POSX' error raised).
    static std::unique_ptr<XPosixTask_preemptive> Create(VTask* task, bool fibered);
    // Wraps the calling thread (the main task).
    XPosixTask_preemptive(VTask* task, bool fibered);
    // Releases a thread that never started, and joins the thread before its stack goes.
    ~XPosixTask_preemptive() override;

    bool Run() override;
    void WakeUp() override { fSleep.Signal(); }
    void Freeze() override { fSleep.Wait(); }
    void Sleep(int32 ms) override { fSleep.Wait(ms); }
    [[noreturn]] void Exit(VTask* next) override;
    int32 GetValueForVTaskID() const noexcept override { return fKernelID.load(std::memory_order_acquire); }

private:
    explicit XPosixTask_preemptive(VTask* task) noexcept : XPosixTask(task) {}
    bool _CreateThread(bool fibered);
    static void* _ThreadProc(void* arg);

    XPosixStack fStack;
    XPosixSemaphore fStart;
    XPosixSemaphore fReady;
    XPosixSemaphore fSleep;
    bool fFibered = false;
    bool fIsMain = false;
};

// A task run as a fiber of the caller's group, made at Run.
class XPosixTask_fiber : public XPosixTask {
public:
    explicit XPosixTask_fiber(VTask* task) noexcept : XPosixTask(task) {}
    ~XPosixTask_fiber() override;

    // Makes the fiber and switches to it; the caller continues when control comes back.
    bool Run() override;
    void WakeUp() override;
    void Freeze() override;
    void Sleep(int32 ms) override;
    [[noreturn]] void Exit(VTask* next) override;

private:
    static void _FiberProc(void* data);

    std::atomic<int32> fWakeCounter{0};
};

} // namespace vela
