#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VTypes.h"

#include <deque>

namespace vela {

class IMessageable;
class VMessage;
class VSyncEvent;

// The messages waiting for one task, in arrival order, with an event that is set while messages wait (or
// after SetEvent, to interrupt a waiter). Closed when its task exits: it then refuses messages.
class VMessageQueue : public VObject, public IRefCountable {
public:
    VMessageQueue();
    ~VMessageQueue() override;

    // Appends message (retained) and answers true; false when the queue is closed, or when a queued message
    // with the same non-zero coalescing signature absorbed it (DoCoalesce answered false).
    bool AddMessage(VMessage* message);
    // The front message, with its reference for the caller; null when empty. Never waits.
    VMessage* RetainMessage();
    // Waits at most ms (ms) for a message and answers it with its reference, or null. *timedOut (if given) is
    // true when the time ran out; a SetEvent ends the wait with null and *timedOut false.
    VMessage* RetainMessageWithTimeout(int32 ms, bool* timedOut);
    // Removes and aborts the messages for target (null: those without receiver), keeping the others' order.
    void CancelMessages(IMessageable* target);
    // Removes and aborts every message.
    void CancelMessages();
    // Removes message when queued (its reference is released); answers whether it was.
    bool RemoveMessage(VMessage* message);
    int32 CountMessages() const;
    bool IsEmpty() const { return CountMessages() == 0; }
    // Interrupts the next wait (or the current one) without a message.
    void SetEvent();
    // Bumped by every AddMessage and SetEvent.
    int32 GetStamp() const noexcept { return fStamp.load(std::memory_order_acquire); }

    // Refuses later messages and aborts the queued ones (the task is exiting). Cannot be undone.
    void Close();
    bool IsClosed() const;

private:
    VMessage* _RetainMessage();
    // Takes the messages matching keep == false out (under the lock), then aborts them outside it.
    template <class Pred> void _CancelIf(Pred shouldCancel);

    std::deque<VMessage*> fMessages;
    mutable VCriticalSection fLock;
    VSyncEvent* fEvent;
    std::atomic<int32> fStamp{0};
    int32 fWaiters = 0;
    bool fInterrupted = false;
    bool fClosed = false;
};

} // namespace vela
