#pragma once

#include "core/VRefPtr.h"

namespace vela {

class VTask;

// A client of a task's idle processing: while idling, its DoIdle runs whenever the task is idle.
class IIdleable {
public:
    IIdleable() noexcept = default;
    // Stops idling.
    virtual ~IIdleable();

    IIdleable(const IIdleable&) = delete;
    IIdleable& operator=(const IIdleable&) = delete;

    // Starts idling on task (registered with it, retained); moves the registration from an earlier task.
    void StartIdling(VTask* task);
    // The same on the calling task (nothing off-task).
    void StartIdling();
    // Unregisters from the task and releases it.
    void StopIdling();
    bool IsIdling() const noexcept { return fIdling; }

    // Called by the task's idle processing: DoIdle while idling.
    void Idle() {
        if (fIdling) DoIdle();
    }

protected:
    virtual void DoIdle() {}

private:
    VRefPtr<VTask> fTask;
    bool fIdling = false;
};

} // namespace vela
