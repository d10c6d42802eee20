#pragma once

#include "core/IRefCountable.h"

namespace vela {

class VString;

// What the task manager needs of the process object, which lives above the core: how tasks run, and the token
// that marks the process busy while a task runs. The process object implements it and hands itself to
// VTaskMgr::Init.
class ITaskProcess {
public:
    // The process runs its tasks as fibers (the main task becomes one).
    virtual bool IsFibered() const noexcept = 0;
    // A new activity token named reason, with a reference for the caller; null when none can be made. Called from
    // any task.
    virtual IRefCountable* CreateActivityToken(const VString& reason) = 0;

protected:
    ~ITaskProcess() = default;
};

} // namespace vela
