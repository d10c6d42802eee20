#pragma once

#include "core/VTypes.h"

#include <atomic>

namespace vela {

// The word a spin lock lives in, owned by the protected object. Bit 31 set means held; the other bits are
// left to the owner.
using SpinLockWord = std::atomic<uint32>;

// The process-wide spin lock: how a word is acquired is chosen once at start-up (json/SpinLockSettings.h); every
// acquire and release goes through the two function pointers below, so no caller spins by itself.
namespace SpinLock {

constexpr uint32 kHeldBit = 0x80000000u;

using AcquireProc = void (*)(SpinLockWord* word) noexcept;
using ReleaseProc = void (*)(SpinLockWord* word) noexcept;

// Strategies. One try sets bit 31 and succeeds when it was clear before.
// Up to maxSpins tries (at least 1), then yield and try again until taken (the default).
void MaxSpinsThenLoopYields(SpinLockWord* word) noexcept;
// Rounds of up to maxSpins tries (re-read each round), each followed by a yield and one more try.
void LoopMaxSpinsAndYields(SpinLockWord* word) noexcept;
// One try, then sleeps of 0 ms while the retries are below max(8, logical processors), of 1 ms afterwards.
// Off a task VTask::Sleep(1) returns at once, so on foreign threads this strategy busy-loops.
void AlwaysSleep(SpinLockWord* word) noexcept;
// Clears bit 31 with release ordering: the holder is the word's only writer.
void ClearHeldBit(SpinLockWord* word) noexcept;

// The current strategy and release function.
extern std::atomic<AcquireProc> sLock;
extern std::atomic<ReleaseProc> sUnlock;
// Tries of the spinning strategies; 1 by default.
extern std::atomic<int32> sMaxSpins;
// Whether a critical section yields after losing the race to install its event; false by default.
extern std::atomic<bool> sYieldAfterCheckEvent;

// One try, as every strategy starts: true when bit 31 was clear and is now set.
inline bool TryAcquire(SpinLockWord& word) noexcept {
    return (word.fetch_or(kHeldBit, std::memory_order_acquire) & kHeldBit) == 0;
}
// Acquires word: one try inline (the uncontended case), then the current strategy.
inline void Acquire(SpinLockWord& word) noexcept {
    if (!TryAcquire(word)) sLock.load(std::memory_order_relaxed)(&word);
}
// Releases word by the current release function (the bit clear is done inline).
inline void Release(SpinLockWord& word) noexcept {
    ReleaseProc release = sUnlock.load(std::memory_order_relaxed);
    if (release == &ClearHeldBit) {
        word.store(word.load(std::memory_order_relaxed) & ~kHeldBit, std::memory_order_release);
    } else {
        release(&word);
    }
}

// Back to the defaults (maxSpinsThenLoopYields, 1 spin, no yield after the event check).
void ResetToDefaults() noexcept;

} // namespace SpinLock
} // namespace vela
