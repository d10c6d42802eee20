#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VTypes.h"

#include <atomic>

namespace vela {

class IMessageable;
class VMessage;

// The shared link between a receiver of messages and the messages addressed to it: which object, executed on
// which task, and whether messages are accepted. Outlives its receiver while messages hold it.
class VMessagingContext : public VObject, public IRefCountable {
public:
    VMessagingContext(IMessageable* target, int32 taskID) noexcept : fTarget(target), fTaskID(taskID) {}

    // The receiver; null once it was destroyed.
    IMessageable* GetTarget() const noexcept { return fTarget.load(std::memory_order_acquire); }
    // The task that executes the receiver's messages; 0 when the receiver is gone.
    int32 GetMessagingTask() const noexcept {
        return GetTarget() != nullptr ? fTaskID.load(std::memory_order_acquire) : 0;
    }
    bool IsEnabled() const noexcept { return fEnabled.load(std::memory_order_acquire); }

private:
    friend class IMessageable;

    std::atomic<IMessageable*> fTarget;
    std::atomic<int32> fTaskID;
    std::atomic<bool> fEnabled{true};
};

// Mix-in of objects that receive messages (VMessage). Messages for it are executed on its messaging task,
// initially the task that created it.
class IMessageable {
public:
    IMessageable();
    // Messages still queued for the object then execute as no-ops.
    virtual ~IMessageable();

    IMessageable(const IMessageable&) = delete;
    IMessageable& operator=(const IMessageable&) = delete;

    // Called on the messaging task for each message whose default execution reaches the object.
    virtual void DoMessage(VMessage& message);

    // Accept (the default) or refuse new messages.
    void StartMessaging() noexcept;
    void StopMessaging() noexcept;
    // The task that executes the messages; 0 without one.
    int32 GetMessagingTask() const noexcept;
    void SetMessagingTask(int32 taskID) noexcept;
    // The context, with a reference for the caller; null without one.
    VMessagingContext* RetainMessagingContext() const noexcept;

private:
    VMessagingContext* fContext = nullptr;
};

} // namespace vela
