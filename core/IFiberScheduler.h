#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VTypes.h"

#include <atomic>

namespace vela {

class VTask;

// Decides which fiber runs when a fiber yields or waits. The task manager holds one (a VScheduler_void until
// another is installed).
class IFiberScheduler : public IRefCountable {
public:
    // Lets other fibers run (the manager calls it only on a fiber).
    virtual void Yield() = 0;
    // Lets other fibers run now.
    virtual void YieldNow() = 0;
    // Runs other fibers until *flag differs from value.
    virtual void WaitFlag(std::atomic<int32>* flag, int32 value) = 0;
    // The same for at most ms milliseconds.
    virtual void WaitFlagWithTimeout(std::atomic<int32>* flag, int32 value, int32 ms) = 0;
    virtual void SetSystemEventPolling(bool on) = 0;
    virtual bool WithSystemEventPolling() = 0;
    virtual void PollAndExecuteUpdateEvent() = 0;
    virtual void SetDirectUpdate(bool on) = 0;
    // Called when an event that fibers wait for is set.
    virtual void WakeUpSystemEventPolling() = 0;
    virtual bool RequiresSystemEventPolling() = 0;
    // Asked by VTask::Run for a fiber: clearing *continueRun makes Run answer the result instead of starting
    // the fiber itself.
    virtual bool RunFiber(VTask* task, bool* continueRun) = 0;
    virtual void SetSystemCallCFRunloop(bool on) = 0;
    virtual void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool on) = 0;
};

// The scheduler installed by default: does nothing, so a fiber runs until it hands control over itself.
class VScheduler_void : public VObject, public IFiberScheduler {
public:
    void Yield() override {}
    void YieldNow() override {}
    void WaitFlag(std::atomic<int32>*, int32) override {}
    void WaitFlagWithTimeout(std::atomic<int32>*, int32, int32) override {}
    void SetSystemEventPolling(bool) override {}
    bool WithSystemEventPolling() override { return true; }
    void PollAndExecuteUpdateEvent() override {}
    void SetDirectUpdate(bool) override {}
    void WakeUpSystemEventPolling() override {}
    bool RequiresSystemEventPolling() override { return false; }
    bool RunFiber(VTask*, bool*) override { return false; }
    void SetSystemCallCFRunloop(bool) override {}
    void SetDirectUpdateAllowedEvenIfWaitingForFlag(bool) override {}
};

} // namespace vela
