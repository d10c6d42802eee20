#include "core/SpinLock.h"

#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixRuntime.h"

#include <algorithm>

namespace vela::SpinLock {

std::atomic<AcquireProc> sLock{&MaxSpinsThenLoopYields};
std::atomic<ReleaseProc> sUnlock{&ClearHeldBit};
std::atomic<int32> sMaxSpins{1};
std::atomic<bool> sYieldAfterCheckEvent{false};

namespace {

inline bool TryOnce(SpinLockWord* word) noexcept {
    return (word->fetch_or(kHeldBit, std::memory_order_acquire) & kHeldBit) == 0;
}

// Spins of a round: at least one. While the word is held, reads wait without writing (no cache-line ping-pong).
inline bool SpinRound(SpinLockWord* word) noexcept {
    int32 spins = std::max<int32>(1, sMaxSpins.load(std::memory_order_relaxed));
    for (int32 i = 0; i < spins; ++i) {
        if ((word->load(std::memory_order_relaxed) & kHeldBit) == 0 && TryOnce(word)) return true;
    }
    return false;
}

inline void YieldNow() noexcept {
    VTaskMgr::Get()->YieldNow();
}

} // namespace

void MaxSpinsThenLoopYields(SpinLockWord* word) noexcept {
    if (SpinRound(word)) return;
    do {
        YieldNow();
    } while (!TryOnce(word));
}

void LoopMaxSpinsAndYields(SpinLockWord* word) noexcept {
    while (!SpinRound(word)) {
        YieldNow();
        if (TryOnce(word)) return;
    }
}

void AlwaysSleep(SpinLockWord* word) noexcept {
    if (TryOnce(word)) return;
    int32 limit = std::max<int32>(8, XPosixRuntime::GetLogicalProcessorCount());
    for (int32 retry = 1;; ++retry) {
        VTask::Sleep(retry < limit ? 0 : 1);
        if (TryOnce(word)) return;
    }
}

void ClearHeldBit(SpinLockWord* word) noexcept {
    word->store(word->load(std::memory_order_relaxed) & ~kHeldBit, std::memory_order_release);
}

void ResetToDefaults() noexcept {
    sLock.store(&MaxSpinsThenLoopYields, std::memory_order_relaxed);
    sUnlock.store(&ClearHeldBit, std::memory_order_relaxed);
    sMaxSpins.store(1, std::memory_order_relaxed);
    sYieldAfterCheckEvent.store(false, std::memory_order_relaxed);
}

} // namespace vela::SpinLock
