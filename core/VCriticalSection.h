#pragma once

#include "core/SpinLock.h"
#include "core/VTaskMgr.h"
#include "core/VTypes.h"

#include <atomic>

namespace vela {

class VSyncEvent;

// A recursive lock owned by a task (by task ID, so a fiber holds it whichever thread runs it; a thread that is
// not a task is identified by its kernel thread ID). Uncontended, a lock and an unlock cost one atomic
// exchange each; an event exists only while tasks wait, and a release wakes every task of that contention.
// Not copyable.
class VCriticalSection {
public:
    VCriticalSection() noexcept = default;
    // Releases all levels the owner still holds. Destroying a section other tasks wait for is a misuse
    // (they would wake on freed memory): reported in debug builds.
    ~VCriticalSection();

    VCriticalSection(const VCriticalSection&) = delete;
    VCriticalSection& operator=(const VCriticalSection&) = delete;

    // Waits until the calling task holds the section (one more level); answers true.
    bool Lock() noexcept;
    // Takes one more level when free or held by the caller; false at once when another task holds it.
    bool TryToLock() noexcept;
    // Releases one level. A caller that does not hold the section changes nothing: false, and a misuse
    // report in debug builds.
    bool Unlock() noexcept;

    // The holder's task ID, 0 when free; a snapshot for diagnostics.
    int32 GetOwner() const noexcept { return int32(uint32(fWord.load(std::memory_order_relaxed))); }
    // True when the calling task holds the section.
    bool IsHeldByCurrentTask() const noexcept { return GetOwner() == VTaskMgr::GetCurrentOwnerID(); }

    // Adapters for std::lock_guard and std::unique_lock.
    void lock() noexcept { Lock(); }
    bool try_lock() noexcept { return TryToLock(); }
    void unlock() noexcept { Unlock(); }

    // Receives misuses (foreign or unbalanced unlock, destruction while contended) in debug builds; the
    // default handler aborts. Answers the previous handler; null restores the default.
    using MisuseHandler = void (*)(const char* what);
    static MisuseHandler SetMisuseHandler(MisuseHandler handler) noexcept;

private:
    // The word: the owner's ID in the low 32 bits (0: free) and, while tasks wait, kWaitersBit.
    static constexpr uint64 kWaitersBit = uint64(1) << 63;
    static constexpr uint64 _OwnerWord(int32 id) noexcept { return uint64(uint32(id)); }

    static void _ReportMisuse(const char* what) noexcept;
    // The contended and misused cases, out of line.
    bool _LockSlow(int32 me) noexcept;
    bool _UnlockSlow(int32 me) noexcept;

    std::atomic<uint64> fWord{0};
    // Levels beyond the first; only the owner touches it.
    int32 fExtraDepth = 0;
    // The event of the current contention, guarded by fSpin; installed before kWaitersBit is set.
    VSyncEvent* fEvent = nullptr;
    SpinLockWord fSpin{0};
};

inline bool VCriticalSection::Lock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    uint64 word = 0;
    if (fWord.compare_exchange_strong(word, _OwnerWord(me), std::memory_order_acquire, std::memory_order_relaxed))
        return true;
    if (uint32(word) == uint32(me)) {
        ++fExtraDepth;
        return true;
    }
    return _LockSlow(me);
}

inline bool VCriticalSection::TryToLock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    uint64 word = 0;
    if (fWord.compare_exchange_strong(word, _OwnerWord(me), std::memory_order_acquire, std::memory_order_relaxed))
        return true;
    if (uint32(word) != uint32(me)) return false;
    ++fExtraDepth;
    return true;
}

inline bool VCriticalSection::Unlock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    uint64 word = fWord.load(std::memory_order_relaxed);
    // Only the owner may go on: the owner's ID in the word cannot change under its feet.
    if (uint32(word) == uint32(me)) {
        if (fExtraDepth > 0) {
            --fExtraDepth;
            return true;
        }
        if (word == _OwnerWord(me) &&
            fWord.compare_exchange_strong(word, 0, std::memory_order_release, std::memory_order_relaxed))
            return true;
    }
    return _UnlockSlow(me);
}

// Holds a lock (anything with Lock and Unlock) for the life of the scope.
template <class T> class StLocker {
public:
    explicit StLocker(T& lock) noexcept : fLock(lock) { fLock.Lock(); }
    ~StLocker() { fLock.Unlock(); }
    StLocker(const StLocker&) = delete;
    StLocker& operator=(const StLocker&) = delete;

private:
    T& fLock;
};

} // namespace vela
