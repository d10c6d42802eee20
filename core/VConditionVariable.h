#pragma once

#include "core/SpinLock.h"
#include "core/VTypes.h"

namespace vela {

class VCriticalSection;
class VSyncEvent;

// Waves of waiters released together by Broadcast. All waiters of a wave use the same critical section,
// which each holds (at depth 1) when it starts waiting and holds again when the wait ends.
class VConditionVariable {
public:
    VConditionVariable() noexcept = default;
    ~VConditionVariable();

    VConditionVariable(const VConditionVariable&) = delete;
    VConditionVariable& operator=(const VConditionVariable&) = delete;

    // Releases cs, waits for a Broadcast, takes cs again. True when a Broadcast came; false at once when cs is
    // not the section of the current wave.
    bool Wait(VCriticalSection& cs) { return _Wait(&cs, false, 0); }
    // The same, waiting at most timeoutMs (ms); false when the time ran out without a Broadcast.
    bool Wait(VCriticalSection& cs, int32 timeoutMs) { return _Wait(&cs, true, timeoutMs); }
    bool _Wait(VCriticalSection* cs, bool withTimeout, int32 timeoutMs);

    // Wakes every waiter of the current wave; answers true.
    bool Broadcast();

    // The tasks waiting in the current wave; a snapshot for diagnostics.
    int32 GetWaiterCount() const noexcept;

private:
    VSyncEvent* fEvent = nullptr;
    VCriticalSection* fCriticalSection = nullptr;
    mutable SpinLockWord fSpin{0};
    // The counts of the current wave; 16 bits are plenty for tasks waiting at once.
    uint16 fWaiters = 0;
    uint16 fBroadcasts = 0;
};

} // namespace vela
