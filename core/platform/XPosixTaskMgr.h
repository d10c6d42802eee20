#pragma once

#include "core/VTypes.h"

#include <memory>

namespace vela {

class VString;
class VTask;
class XPosixTask;
enum ETaskStyle : int32;

// The Linux layer under the task manager: the calling thread's current task, platform tasks for new tasks,
// stack sizes and thread names.
class XPosixTaskMgr {
public:
    // fibered: the calling (main) thread becomes a fiber, and fiber tasks can be made.
    bool Init(bool fibered);
    void DeInit();
    bool AreFibersEnabled() const noexcept { return fFibersEnabled; }

    // The platform task of a new task: a thread waiting to be started (preemptive), or a fiber made at Run
    // (fiber style, only when fibers are enabled). Null on failure (the error is raised).
    std::unique_ptr<XPosixTask> Create(VTask* task, ETaskStyle style);
    // Wraps the calling thread for the main task.
    std::unique_ptr<XPosixTask> CreateMain(VTask* task);
    // Hands control to task's fiber when it belongs to the caller's fiber group.
    void YieldToFiber(VTask* task);

    // The calling thread's task (the thread key); null when it is not a task.
    static VTask* GetCurrentTask() noexcept;
    // Makes task the calling thread's task and its ID the owner of the thread's locks (null: the thread's own).
    static void SetCurrentTask(VTask* task) noexcept;

    // The kernel ID of the calling thread (gettid), cached.
    static int32 GetCurrentThreadKernelID() noexcept;
    // The ID of a thread that is not a task: its kernel ID.
    static int32 GetCurrentForeignTaskID() noexcept { return GetCurrentThreadKernelID(); }

    // Stack size of the calling thread in bytes (0 when unknown).
    static size_t ComputeMainTaskStackSize() noexcept;
    // Bytes left on the calling thread's stack.
    size_t GetCurrentFreeStackSize() const noexcept;
    // The soft stack limit, or 1,048,576 when it cannot be read.
    static size_t GetCurrentFreeStackSizeStatic() noexcept;

    // Names the calling thread "<name> (id = <taskID>)", cut to the 15 bytes Linux keeps (never inside a
    // UTF-8 sequence).
    static void SetCurrentThreadName(const VString& name, int32 taskID);
    // The bytes Linux would keep of name: at most 15, cut before an incomplete UTF-8 sequence.
    static size_t CutThreadName(const char* name, size_t length) noexcept;

private:
    bool fFibersEnabled = false;
};

} // namespace vela
