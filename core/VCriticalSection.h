#pragma once

#include "core/SpinLock.h"
#include "core/VTaskMgr.h"
#include "core/VTypes.h"

#include <atomic>

namespace vela {

class VSyncEvent;

// A recursive lock owned by a task (by task ID, so a fiber holds it whichever thread runs it; a thread that is
// not a task is identified by its kernel thread ID). Uncontended it costs one spin acquire and release; an
// event exists only while tasks wait. Not copyable.
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
    int32 GetOwner() const noexcept { return fOwner.load(std::memory_order_relaxed); }
    // True when the calling task holds the section.
    bool IsHeldByCurrentTask() const noexcept;

    // Adapters for std::lock_guard and std::unique_lock.
    void lock() noexcept { Lock(); }
    bool try_lock() noexcept { return TryToLock(); }
    void unlock() noexcept { Unlock(); }

    // Receives misuses (foreign or unbalanced unlock, destruction while contended) in debug builds; the
    // default handler aborts. Answers the previous handler; null restores the default.
    using MisuseHandler = void (*)(const char* what);
    static MisuseHandler SetMisuseHandler(MisuseHandler handler) noexcept;

private:
    static void _ReportMisuse(const char* what) noexcept;
    // The contended and misused cases, out of line.
    bool _LockSlow(int32 me) noexcept;
    bool _UnlockSlow(int32 me) noexcept;

    VSyncEvent* fEvent = nullptr;
    std::atomic<int32> fOwner{0};
    int32 fDepth = 0;
    SpinLockWord fSpin{0};
};

// The uncontended paths are inline: one spin try, the owner check, the release.
inline bool VCriticalSection::Lock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    if (SpinLock::TryAcquire(fSpin)) {
        int32 owner = fOwner.load(std::memory_order_relaxed);
        if (owner == 0 || owner == me) {
            fOwner.store(me, std::memory_order_relaxed);
            ++fDepth;
            SpinLock::Release(fSpin);
            return true;
        }
        SpinLock::Release(fSpin);
    }
    return _LockSlow(me);
}

inline bool VCriticalSection::Unlock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    if (SpinLock::TryAcquire(fSpin)) {
        // Nobody waits (no event) or levels remain: no one to wake.
        if (fOwner.load(std::memory_order_relaxed) == me && fDepth > 0 && (fDepth > 1 || fEvent == nullptr)) {
            if (--fDepth == 0) fOwner.store(0, std::memory_order_relaxed);
            SpinLock::Release(fSpin);
            return true;
        }
        SpinLock::Release(fSpin);
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
