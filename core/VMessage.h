#pragma once

#include "core/IMessageable.h"
#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VTypes.h"

#include <atomic>
#include <functional>

namespace vela {

class IIdleable;
class VMessageQueue;
class VSyncEvent;
class VTask;

// A unit of work executed on the task of its receiver (an IMessageable): sent (the sender waits for the
// execution or a time-out), posted, posted after a delay, or posted while the sender keeps executing its own
// messages. A message is in flight from a successful send or post until it is executed or aborted, and can be
// used again afterwards. Created with one reference.
class VMessage : public VObject, public IRefCountable {
public:
    VMessage() noexcept = default;
    ~VMessage() override;

    // Messages with the same non-zero signature may be merged while queued (DoCoalesce); 0: never.
    virtual uint32 GetCoalescingSignature() const { return 0; }
    // The work; by default the receiver's DoMessage (nothing when the receiver is gone).
    virtual void DoExecute();
    // Called on a queued message with the same signature as other, which is being added: false drops other.
    virtual bool DoCoalesce(const VMessage& other);

    // Executes on the receiver's task and waits at most timeoutMs (ms). True when executed; on a time-out
    // before the execution began the message is aborted and false answered. False for an unreachable
    // receiver or a message already in flight. On the receiver's own task it runs at once.
    bool SendTo(IMessageable* target, int32 timeoutMs);
    // The same without time-out.
    bool SendTo(IMessageable* target);
    // Queues the message for the receiver (delayMs > 0: after that delay, at the receiver-side granularity of
    // 1/60 s). runNowIfSameTask executes it at once when the receiver's task is the caller. False for an
    // unreachable receiver; true without effect for a message already in flight.
    bool PostTo(IMessageable* target, bool runNowIfSameTask = false, int32 delayMs = 0);
    // Posts, then executes the caller's own messages until the message was executed or timeoutMs (ms)
    // passed; answers whether it was executed. The caller must be a task (false otherwise).
    bool PostToAndWaitExecutingMessages(IMessageable* target, int32 timeoutMs);
    bool PostToAndWaitExecutingMessages(IMessageable* target);
    // One of the above on an explicit context (the caller's reference is kept).
    bool SendOrPostTo(VMessagingContext* context, int32 delayMs, bool runNowIfSameTask, bool send, int32 timeoutMs);

    // Called when a delayed message is due: queues it on its receiver's task, or drops it (out of flight,
    // neither executed nor aborted) when the receiver is gone.
    void RePost();
    // On the receiver's task: runs the message unless it was already executed or aborted, and wakes the sender.
    void Execute();
    // Drops the message unexecuted (aborted) unless it already left flight, and wakes the sender.
    void Abort();

    bool Answered() const noexcept { return fAnswered.load(std::memory_order_acquire); }
    void AnswerIt() noexcept { fAnswered.store(true, std::memory_order_release); }
    bool Aborted() const noexcept { return fAborted.load(std::memory_order_acquire); }
    // True while the message is in flight.
    bool IsInFlight() const noexcept { return fContext.load(std::memory_order_acquire) != nullptr; }
    // Installs the receiver's context when the message holds another one; true when it then has a context.
    bool ActivateContext(IMessageable* target);

    // The context while in flight (borrowed), null otherwise.
    VMessagingContext* GetContext() const noexcept { return fContext.load(std::memory_order_acquire); }
    // During DoExecute: the receiver (null when it is gone).
    IMessageable* GetExecutingTarget() const noexcept;

private:
    // Retains the receiver's task when context can take messages; null otherwise.
    static VTask* _RetainTargetTask(VMessagingContext* context);
    // Puts the message in flight to context (the caller's reference taken over): the flags reset, context
    // installed and the receiver's task in task. kBusy when it was in flight already or another caller won.
    enum class ELaunch { kLaunched, kBusy, kNoTarget };
    ELaunch _Launch(VMessagingContext* context, VRefPtr<VTask>& task);
    bool _Send(VMessagingContext* context, int32 timeoutMs, bool waitForever);
    bool _Post(VMessagingContext* context, bool runNowIfSameTask);
    bool _PostDelayed(VMessagingContext* context, int32 delayMs);
    bool _PostAndWait(IMessageable* target, bool withTimeout, int32 timeoutMs);
    // Ends the flight once: only the caller that takes the context executes, aborts or gives up.
    VMessagingContext* _TakeContext() noexcept { return fContext.exchange(nullptr, std::memory_order_acq_rel); }
    bool _InstallContext(VMessagingContext* context) noexcept;
    // Executes (or aborts) with the taken context, then wakes the sender.
    void _Finish(VMessagingContext* context, bool execute);

    std::atomic<VMessagingContext*> fContext{nullptr};
    std::atomic<VSyncEvent*> fAnswerEvent{nullptr};
    std::atomic<VMessageQueue*> fReplyQueue{nullptr};
    std::atomic<bool> fAnswered{false};
    std::atomic<bool> fAborted{false};
    // The context taken by the execution under way (only the executing task reads it).
    VMessagingContext* fExecutingContext = nullptr;
};

// A message that calls a function.
class VFunctionMessage : public VMessage {
public:
    explicit VFunctionMessage(std::function<void()>&& function) : fFunction(std::move(function)) {}

    void DoExecute() override {
        if (fFunction) fFunction();
    }

    // Queues function on task (never run inline); false when the task takes no messages.
    static bool PostFunctionTo(VTask* task, std::function<void()>&& function);
    // Queues function on task and waits for its execution, executing the caller's messages meanwhile (the
    // function runs at once when task is the caller). True when it ran.
    static bool PostToAndWait(VTask* task, std::function<void()>&& function);
    // runNow: calls function at once on the calling task, main task or not. Otherwise queues it on the main
    // task.
    static bool PostToMainTask(std::function<void()>&& function, bool runNow = false);
    // Runs function on the main task and waits; called at once when runNow is set or the caller is the main
    // task.
    static bool PostToMainTaskAndWait(std::function<void()>&& function, bool runNow = false);

private:
    std::function<void()> fFunction;
};

// Drives an idler: each execution calls its DoIdle (while it is idling) and posts a successor to the current
// task 16 ms later; an idler that stopped idling ends the chain.
class XIdleMessage : public VMessage {
public:
    explicit XIdleMessage(IIdleable* idler) noexcept : fIdler(idler) {}
    void DoExecute() override;

private:
    IIdleable* fIdler;
};

} // namespace vela
