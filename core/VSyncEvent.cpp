#include "core/VSyncEvent.h"

#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixRuntime.h"

#include <chrono>

namespace vela {

namespace {

bool IsOnFiber() noexcept {
    VTask* task = VTask::GetCurrent();
    return task != nullptr && task->IsFiber();
}

// Checks of the flag before a thread goes to sleep, for waits whose end is expected within microseconds (an
// answer to a message): neither side then pays a sleep and a wake-up.
constexpr int kSpinsBeforeSleeping = 300;

inline void CpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield" ::: "memory");
#endif
}

} // namespace

bool VSyncEvent::_SpinUntilSet() const noexcept {
    for (int spin = 0; spin < kSpinsBeforeSleeping; ++spin) {
        if (fIsSet.load(std::memory_order_acquire)) return true;
        CpuRelax();
    }
    return false;
}

bool VSyncEvent::Lock() {
    if (IsOnFiber()) return _FiberLock();
    std::unique_lock<std::mutex> lock(fMutex);
    fCond.wait(lock, [this] { return fIsSet.load(std::memory_order_relaxed); });
    return true;
}

bool VSyncEvent::Lock(int32 timeoutMs) {
    if (IsOnFiber()) return _FiberLock(timeoutMs);
    std::unique_lock<std::mutex> lock(fMutex);
    if (fIsSet.load(std::memory_order_relaxed) || timeoutMs < 1) return fIsSet.load(std::memory_order_relaxed);
    // Waits again after a spurious wake-up until the deadline: one wait could return early, unset.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    return fCond.wait_until(lock, deadline, [this] { return fIsSet.load(std::memory_order_relaxed); });
}

bool VSyncEvent::LockExpectingSoon() {
    if (!IsOnFiber() && _SpinUntilSet()) return true;
    return Lock();
}

bool VSyncEvent::LockExpectingSoon(int32 timeoutMs) {
    if (timeoutMs > 0 && !IsOnFiber() && _SpinUntilSet()) return true;
    return Lock(timeoutMs);
}

void VSyncEvent::Set() {
    bool fibersWait;
    {
        std::lock_guard<std::mutex> guard(fMutex);
        fIsSet.store(true, std::memory_order_release);
        fSetCount.fetch_add(1, std::memory_order_acq_rel);
        fibersWait = fFiberWaiters.load(std::memory_order_acquire) > 0;
    }
    // Notified outside the mutex, so that woken waiters do not block on it at once; the setter's own
    // reference keeps the event alive meanwhile.
    fCond.notify_all();
    if (fibersWait) VTaskMgr::Get()->WakeUpSystemEventPolling();
}

void VSyncEvent::Reset() {
    std::lock_guard<std::mutex> guard(fMutex);
    fIsSet.store(false, std::memory_order_release);
}

bool VSyncEvent::_FiberLock() {
    VTaskMgr* manager = VTaskMgr::Get();
    fFiberWaiters.fetch_add(1, std::memory_order_acq_rel);
    for (;;) {
        int32 count = fSetCount.load(std::memory_order_acquire);
        if (IsSet()) break;
        manager->CurrentFiberWaitFlag(&fSetCount, count);
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_acq_rel);
    return true;
}

bool VSyncEvent::_FiberLock(int32 timeoutMs) {
    // The count is read before the flag, so a Set between the two is seen by the next wait.
    int32 count = fSetCount.load(std::memory_order_acquire);
    if (IsSet()) return true;
    VTaskMgr* manager = VTaskMgr::Get();
    fFiberWaiters.fetch_add(1, std::memory_order_acq_rel);
    uint32 deadline = XPosixRuntime::GetMilliseconds() + uint32(timeoutMs > 0 ? timeoutMs : 0);
    int32 remaining = timeoutMs;
    bool set = false;
    for (;;) {
        manager->CurrentFiberWaitFlagWithTimeout(&fSetCount, count, remaining);
        int32 now = fSetCount.load(std::memory_order_acquire);
        if (now == count) break;
        // The flag before the deadline: an event set just before the deadline has been set in time.
        if (IsSet()) {
            set = true;
            break;
        }
        remaining = int32(deadline - XPosixRuntime::GetMilliseconds());
        if (remaining <= 0) break;
        count = now;
    }
    fFiberWaiters.fetch_sub(1, std::memory_order_acq_rel);
    return set;
}

} // namespace vela
