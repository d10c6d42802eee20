#pragma once

#include "core/VTypes.h"
#include "core/platform/XPosixSemaphore.h"
#include "core/platform/XPosixStack.h"

#include <atomic>
#include <pthread.h>

namespace vela {

// A fiber: a thread of its own that runs only while the other fibers of its group wait, control being handed
// from one to the next through semaphores. Being real threads, fibers keep their own thread-local state.
class XPosixFiber {
public:
    using Proc = void (*)(void* data);

    // A fiber that will run proc(data) on a new stack of stackSize bytes once switched to; null on failure
    // (a 'POSX' error is raised).
    static XPosixFiber* Create(size_t stackSize, Proc proc, void* data);
    // The calling thread as a fiber (no proc, no stack of its own).
    static XPosixFiber* FromCurrentThread(void* data);

    // The calling thread's fiber; null when it is not one.
    static XPosixFiber* GetCurrent() noexcept;

    // Switches to this fiber: wakes it and waits until control comes back to the caller's fiber.
    void Run() { SwitchTo(this); }
    // Ends the fiber's thread (waiting for it) without running it further.
    void Abort();

    void* GetData() const noexcept { return fData; }
    void SetData(void* data) noexcept { fData = data; }
    bool HasProc() const noexcept { return fProc != nullptr; }

    // Switches from the calling thread's fiber to target (nothing when target is that fiber). An aborted fiber
    // ends its thread here.
    static void SwitchTo(XPosixFiber* target);
    // Waits on the calling fiber until it is aborted, then ends its thread.
    [[noreturn]] static void Park();
    // Deletes a fiber: one with a proc is aborted and joined first; the calling fiber itself is deleted once
    // its proc has returned (its thread then ends).
    static void Delete(XPosixFiber* fiber);

private:
    XPosixFiber(Proc proc, void* data) noexcept : fProc(proc), fData(data) {}
    ~XPosixFiber() = default;
    static void* _ThreadProc(void* arg);
    void _AbortAndJoin();

    Proc fProc;
    void* fData;
    XPosixSemaphore fSemaphore;
    XPosixStack fStack;
    pthread_t fThread{};
    bool fHasThread = false;
    std::atomic<bool> fAbort{false};
    std::atomic<bool> fDeleteWhenDone{false};
};

// The fiber functions under the names the task layer uses.
XPosixFiber* ConvertThreadToFiber(void* data);
// commitSize and flags are not used.
XPosixFiber* CreateFiberEx(size_t commitSize, size_t stackSize, unsigned flags, void (*proc)(void*), void* data);
XPosixFiber* GetCurrentFiber() noexcept;
void* GetFiberData() noexcept;
void SwitchToFiber(XPosixFiber* fiber);
void DeleteFiber(XPosixFiber* fiber);

// Threads whose owner was destroyed on the thread itself: joined, and their stacks freed, once they ended.
class XPosixThreadReaper {
public:
    static void Add(pthread_t thread, XPosixStack&& stack);
    // Joins the threads that have ended.
    static void Reap();
};

} // namespace vela
