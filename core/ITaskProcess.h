#pragma once

#include "core/IRefCountable.h"
#include "core/VString.h"

namespace vela {

// What the task manager needs of the process object, which lives above the core: how tasks run, the token that
// marks the process busy while a task runs, and where its start-up settings files are. The process object implements it
// and hands itself to VTaskMgr::Init.
class ITaskProcess {
public:
    // The process runs its tasks as fibers (the main task becomes one).
    virtual bool IsFibered() const noexcept = 0;
    // A new activity token named reason, with a reference for the caller; null when none can be made. Called from
    // any task.
    virtual IRefCountable* CreateActivityToken(const VString& reason) = 0;
    // The POSIX path of the file name in the process folder of folderKind (a four-character kind) when it exists
    // there; empty otherwise. Start-up settings files are looked up through it.
    virtual VString GetExistingFilePath(uint32 folderKind, const VString& name) const;

protected:
    ~ITaskProcess() = default;
};

inline VString ITaskProcess::GetExistingFilePath(uint32, const VString&) const {
    return VString();
}

} // namespace vela
