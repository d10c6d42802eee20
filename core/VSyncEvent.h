#pragma once

#include "core/IRefCountable.h"
#include "core/VTypes.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace vela {

// A reference-counted one-shot event: waiters block until it is set; it stays set until reset. A waiter on a
// fiber hands control to the fiber scheduler instead of blocking its thread. Created not set, with one
// reference.
class VSyncEvent : public IRefCountable {
public:
    VSyncEvent() noexcept = default;
    ~VSyncEvent() override = default;

    VSyncEvent(const VSyncEvent&) = delete;
    VSyncEvent& operator=(const VSyncEvent&) = delete;

    // Waits until the event is set; answers true.
    bool Lock();
    // Waits at most timeoutMs (ms; below 1: no wait) and answers whether the event is set.
    bool Lock(int32 timeoutMs);
    // The same, first checking the flag for a few microseconds before sleeping: for waits that usually end
    // at once (answers, queues being fed). Locks' waits do not spin: spinners slow the holder down.
    bool LockExpectingSoon();
    bool LockExpectingSoon(int32 timeoutMs);

    // Sets the event and wakes every waiter. The caller holds a reference until Set returns: a woken waiter
    // may release its own at once.
    void Set();
    // Clears the event; later waiters block again.
    void Reset();
    bool IsSet() const noexcept { return fIsSet.load(std::memory_order_acquire); }

private:
    bool _SpinUntilSet() const noexcept;
    bool _FiberLock();
    bool _FiberLock(int32 timeoutMs);

    std::atomic<int32> fFiberWaiters{0};
    std::mutex fMutex;
    std::condition_variable fCond;
    std::atomic<bool> fIsSet{false};
    // Bumped at every Set; fibers wait for it to change.
    std::atomic<int32> fSetCount{0};
};

} // namespace vela
