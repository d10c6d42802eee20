#include "core/platform/XPosixTask.h"

#include "core/VError.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixFiber.h"
#include "core/platform/XPosixRuntime.h"
#include "core/platform/XPosixTaskMgr.h"

#include <cstdio>
#include <unistd.h>

namespace vela {

namespace {

// User and system CPU seconds of a thread from /proc (fields 14 and 15 of its stat line, in clock ticks).
bool ReadThreadTimes(int32 kernelID, double& user, double& system) {
    user = system = 0;
    if (kernelID <= 0) return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", kernelID);
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    char line[1024];
    bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) return false;
    // The command name (field 2) may hold spaces and parentheses: fields are counted from its last ')'.
    const char* rest = nullptr;
    for (const char* p = line; *p != 0; ++p)
        if (*p == ')') rest = p + 1;
    if (rest == nullptr) return false;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(rest, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) return false;
    long ticks = sysconf(_SC_CLK_TCK);
    if (ticks <= 0) return false;
    user = double(utime) / double(ticks);
    system = double(stime) / double(ticks);
    return true;
}

} // namespace

XPosixTask::~XPosixTask() {
    if (fFiber == nullptr) return;
    // A fiber task's fiber is aborted and joined; a thread made into a fiber just forgets it.
    DeleteFiber(fFiber);
    fFiber = nullptr;
}

void XPosixTask::_RecordThread(char* stackTop) noexcept {
    fThread = pthread_self();
    fHasThread = true;
    fKernelID.store(XPosixTaskMgr::GetCurrentThreadKernelID(), std::memory_order_release);
    fStackTop = stackTop;
    fStartNs = XPosixRuntime::GetMonotonicNanoseconds();
}

bool XPosixTask::GetCPUTimes(double& user, double& system) const {
    return ReadThreadTimes(fKernelID.load(std::memory_order_acquire), user, system);
}

bool XPosixTask::GetCPUUsage(double& usage) const {
    usage = 0;
    double user = 0, system = 0;
    if (fStartNs == 0 || !GetCPUTimes(user, system)) return false;
    double elapsed = double(XPosixRuntime::GetMonotonicNanoseconds() - fStartNs) / 1e9;
    if (elapsed > 0) usage = (user + system) / elapsed;
    return true;
}

// ---- Threads

std::unique_ptr<XPosixTask_preemptive> XPosixTask_preemptive::Create(VTask* task, bool fibered) {
    std::unique_ptr<XPosixTask_preemptive> platform(new XPosixTask_preemptive(task));
    if (!platform->_CreateThread(fibered)) return nullptr;
    return platform;
}

XPosixTask_preemptive::XPosixTask_preemptive(VTask* task, bool fibered) : XPosixTask(task) {
    char here = 0;
    fIsMain = true;
    fFiberOwner = true;
    fFibered = fibered;
    _RecordThread(&here);
    // The stack size stays unknown here: measuring the main thread's reads /proc/self/maps, a tenth of what
    // start-up adds to a process (callgrind, startup_shutdown); VTask::GetStackSize asks the manager for it.
    if (fibered) {
        fFiber = GetCurrentFiber();
        if (fFiber == nullptr) fFiber = ConvertThreadToFiber(task);
        fFiber->SetData(task);
    }
}

bool XPosixTask_preemptive::_CreateThread(bool fibered) {
    fFibered = fibered;
    fStackSize = fTask->GetStackSize();
    int error = fStack.Allocate(XPosixStack::ThreadStackSize(fStackSize));
    pthread_attr_t attributes;
    if (error == 0) error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstack(&attributes, fStack.GetStack(), fStack.GetStackSize());
        pthread_t thread{};
        if (error == 0) error = pthread_create(&thread, &attributes, &_ThreadProc, this);
        pthread_attr_destroy(&attributes);
        if (error == 0) {
            fThread = thread;
            fHasThread = true;
        }
    }
    if (error != 0) {
        fStack.Free();
        _ThrowError(MakeVError(kComponentPosix, error));
        return false;
    }
    fStackSize = fStack.GetStackSize() - XPosixStack::ThreadStackSize(0);
    // The task's ID is the kernel ID of its thread, which only the thread can tell.
    fReady.Wait();
    return true;
}

void* XPosixTask_preemptive::_ThreadProc(void* arg) {
    auto* self = static_cast<XPosixTask_preemptive*>(arg);
    char top = 0;
    self->fKernelID.store(XPosixTaskMgr::GetCurrentThreadKernelID(), std::memory_order_release);
    self->fReady.Signal();
    self->fStart.Wait();
    VTask* task = self->fTask;
    // Released by the destructor of a task that never started.
    if (task->GetState() != eTaskStateStarting) return nullptr;
    self->_RecordThread(&top);
    if (self->fFibered) self->fFiber = ConvertThreadToFiber(task);
    XPosixTaskMgr::SetCurrentTask(task);
    task->_Run();
    XPosixTaskMgr::SetCurrentTask(nullptr);
    // From here on the task may be destroyed on another thread at any moment; its destructor joins this one.
    task->_SetStateDead();
    return nullptr;
}

bool XPosixTask_preemptive::Run() {
    if (!fHasThread || fIsMain) return false;
    fStart.Signal();
    return true;
}

void XPosixTask_preemptive::Exit(VTask*) {
    XPosixTaskMgr::SetCurrentTask(nullptr);
    fTask->_SetStateDead();
    pthread_exit(nullptr);
}

XPosixTask_preemptive::~XPosixTask_preemptive() {
    if (fIsMain || !fHasThread) return;
    if (pthread_equal(fThread, pthread_self())) {
        // Released on its own thread: it cannot be joined from here, and still runs on the stack.
        if (fFiber != nullptr) {
            DeleteFiber(fFiber);
            fFiber = nullptr;
        }
        XPosixThreadReaper::Add(fThread, std::move(fStack));
        return;
    }
    fStart.Signal(); // a thread that never started returns at once
    pthread_join(fThread, nullptr);
    // The thread's own fiber (fibered processes) ended with it.
    if (fFiber != nullptr) {
        DeleteFiber(fFiber);
        fFiber = nullptr;
    }
}

// ---- Fibers

XPosixTask_fiber::~XPosixTask_fiber() = default;

bool XPosixTask_fiber::Run() {
    fStackSize = fTask->GetStackSize();
    XPosixFiber* fiber = CreateFiberEx(0, fStackSize, 1, &_FiberProc, this);
    if (fiber == nullptr) return false;
    fFiber = fiber;
    VTask* current = VTask::GetCurrent();
    XPosixTask* caller = current != nullptr ? current->fPlatformTask.get() : nullptr;
    fReturnTask = caller != nullptr && caller->GetReturnTask() != nullptr ? caller->GetReturnTask() : current;
    SwitchToFiber(fiber);
    return true;
}

void XPosixTask_fiber::_FiberProc(void* data) {
    auto* self = static_cast<XPosixTask_fiber*>(data);
    char top = 0;
    VTask* task = self->fTask;
    self->_RecordThread(&top);
    XPosixTaskMgr::SetCurrentTask(task);
    task->_Run();
    self->Exit(self->fReturnTask != task ? self->fReturnTask : nullptr);
}

void XPosixTask_fiber::Exit(VTask* next) {
    // Without a fiber named, control goes back to the one that started this one.
    if (next == nullptr && fReturnTask != fTask) next = fReturnTask;
    // Read before the death: the task may be destroyed as soon as it is dead.
    XPosixFiber* nextFiber = next != nullptr && next->fPlatformTask ? next->fPlatformTask->GetFiber() : nullptr;
    XPosixTaskMgr::SetCurrentTask(nullptr);
    fTask->_SetStateDead();
    SwitchToFiber(nextFiber);
    // A dead fiber waits for its deletion, which aborts it.
    XPosixFiber::Park();
}

void XPosixTask_fiber::WakeUp() {
    fWakeCounter.fetch_add(1, std::memory_order_acq_rel);
    VTaskMgr::Get()->YieldNow();
}

void XPosixTask_fiber::Freeze() {
    VTaskMgr::Get()->CurrentFiberWaitFlag(&fWakeCounter, fWakeCounter.load(std::memory_order_acquire));
}

void XPosixTask_fiber::Sleep(int32 ms) {
    VTaskMgr::Get()->CurrentFiberWaitFlagWithTimeout(&fWakeCounter, fWakeCounter.load(std::memory_order_acquire), ms);
}

} // namespace vela
