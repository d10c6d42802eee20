#include "core/VConditionVariable.h"

#include "core/VCriticalSection.h"
#include "core/VSyncEvent.h"

namespace vela {

VConditionVariable::~VConditionVariable() {
    if (fEvent != nullptr) fEvent->Release();
}

bool VConditionVariable::_Wait(VCriticalSection* cs, bool withTimeout, int32 timeoutMs) {
    if (cs == nullptr) return false;
    SpinLock::Acquire(fSpin);
    if (fWaiters == 0) {
        if (fEvent != nullptr) {
            fEvent->Reset();
        } else {
            fEvent = new VSyncEvent;
        }
        fBroadcasts = 0;
        fCriticalSection = cs;
    } else if (cs != fCriticalSection) {
        SpinLock::Release(fSpin);
        return false;
    }
    ++fWaiters;
    // The event lives as long as the variable; the variable outlives its waiters.
    VSyncEvent* event = fEvent;
    SpinLock::Release(fSpin);

    cs->Unlock();
    if (withTimeout) {
        event->Lock(timeoutMs);
    } else {
        event->Lock();
    }
    cs->Lock();

    SpinLock::Acquire(fSpin);
    if (--fWaiters == 0) fCriticalSection = nullptr;
    bool broadcast = fBroadcasts >= 1;
    SpinLock::Release(fSpin);
    return broadcast;
}

bool VConditionVariable::Broadcast() {
    SpinLock::Acquire(fSpin);
    if (fEvent != nullptr) {
        ++fBroadcasts;
        fEvent->Set();
    }
    SpinLock::Release(fSpin);
    return true;
}

int32 VConditionVariable::GetWaiterCount() const noexcept {
    SpinLock::Acquire(fSpin);
    int32 waiters = fWaiters;
    SpinLock::Release(fSpin);
    return waiters;
}

} // namespace vela
