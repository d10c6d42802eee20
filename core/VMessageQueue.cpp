#include "core/VMessageQueue.h"

#include "core/VMessage.h"
#include "core/VSyncEvent.h"
#include "core/platform/XPosixRuntime.h"

#include <vector>

namespace vela {

VMessageQueue::VMessageQueue() : fEvent(new VSyncEvent) {}

VMessageQueue::~VMessageQueue() {
    for (VMessage* message : fMessages) {
        message->Abort();
        message->Release();
    }
    fEvent->Release();
}

bool VMessageQueue::AddMessage(VMessage* message) {
    if (message == nullptr) return false;
    uint32 signature = message->GetCoalescingSignature();
    bool wasEmpty = false;
    {
        StLocker<VCriticalSection> locker(fLock);
        if (fClosed) return false;
        if (signature != 0) {
            for (VMessage* queued : fMessages) {
                if (queued->GetCoalescingSignature() != signature) continue;
                if (!queued->DoCoalesce(*message)) return false;
                break;
            }
        }
        wasEmpty = fMessages.empty();
        fStamp.fetch_add(1, std::memory_order_acq_rel);
        message->Retain();
        fMessages.push_back(message);
    }
    // Set once the lock is free, so that the woken task does not find it held. The event may then be set
    // after the message was taken already: waiters take such a set for no message (RetainMessageWithTimeout).
    if (wasEmpty) fEvent->Set();
    return true;
}

VMessage* VMessageQueue::_RetainMessage() {
    if (fMessages.empty()) return nullptr;
    VMessage* message = fMessages.front();
    fMessages.pop_front();
    if (fMessages.empty()) fEvent->Reset();
    return message;
}

VMessage* VMessageQueue::RetainMessage() {
    StLocker<VCriticalSection> locker(fLock);
    return _RetainMessage();
}

VMessage* VMessageQueue::RetainMessageWithTimeout(int32 ms, bool* timedOut) {
    uint32 start = XPosixRuntime::GetMilliseconds();
    int32 remaining = ms;
    for (;;) {
        {
            StLocker<VCriticalSection> locker(fLock);
            ++fWaiters;
        }
        bool set = fEvent->LockExpectingSoon(remaining);
        StLocker<VCriticalSection> locker(fLock);
        --fWaiters;
        if (fInterrupted) {
            if (timedOut != nullptr) *timedOut = false;
            fInterrupted = false;
            if (fMessages.empty()) fEvent->Reset();
            return nullptr;
        }
        if (!set) {
            if (timedOut != nullptr) *timedOut = true;
            return nullptr;
        }
        if (VMessage* message = _RetainMessage()) {
            if (timedOut != nullptr) *timedOut = false;
            return message;
        }
        // Set for a message another waiter took already: wait on for the rest of the time.
        fEvent->Reset();
        remaining = ms - int32(XPosixRuntime::GetMilliseconds() - start);
        if (remaining <= 0) {
            if (timedOut != nullptr) *timedOut = true;
            return nullptr;
        }
    }
}

template <class Pred> void VMessageQueue::_CancelIf(Pred shouldCancel) {
    std::vector<VMessage*> cancelled;
    {
        StLocker<VCriticalSection> locker(fLock);
        std::deque<VMessage*> kept;
        for (VMessage* message : fMessages) {
            if (shouldCancel(message)) {
                cancelled.push_back(message);
            } else {
                kept.push_back(message);
            }
        }
        fMessages.swap(kept);
        if (fMessages.empty() && !fInterrupted) fEvent->Reset();
    }
    // Aborted outside the lock: an abort wakes senders, which may add messages here again.
    for (VMessage* message : cancelled) {
        message->Abort();
        message->Release();
    }
}

void VMessageQueue::CancelMessages(IMessageable* target) {
    _CancelIf([target](VMessage* message) {
        VMessagingContext* context = message->GetContext();
        return target == nullptr ? context == nullptr : context != nullptr && context->GetTarget() == target;
    });
}

void VMessageQueue::CancelMessages() {
    _CancelIf([](VMessage*) { return true; });
}

bool VMessageQueue::RemoveMessage(VMessage* message) {
    VMessage* removed = nullptr;
    {
        StLocker<VCriticalSection> locker(fLock);
        for (auto it = fMessages.begin(); it != fMessages.end(); ++it) {
            if (*it != message) continue;
            removed = *it;
            fMessages.erase(it);
            break;
        }
        if (removed != nullptr && fMessages.empty() && !fInterrupted) fEvent->Reset();
    }
    if (removed == nullptr) return false;
    removed->Release();
    return true;
}

int32 VMessageQueue::CountMessages() const {
    StLocker<VCriticalSection> locker(fLock);
    return int32(fMessages.size());
}

void VMessageQueue::SetEvent() {
    StLocker<VCriticalSection> locker(fLock);
    fStamp.fetch_add(1, std::memory_order_acq_rel);
    fInterrupted = true;
    fEvent->Set();
}

void VMessageQueue::Close() {
    {
        StLocker<VCriticalSection> locker(fLock);
        fClosed = true;
    }
    CancelMessages();
}

bool VMessageQueue::IsClosed() const {
    StLocker<VCriticalSection> locker(fLock);
    return fClosed;
}

} // namespace vela
