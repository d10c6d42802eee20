#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <atomic>
#include <optional>

namespace vela {

// The word a spin lock lives in, owned by the protected object. Bit 31 set means held; the other bits are
// left to the owner.
using SpinLockWord = std::atomic<uint32>;

// The process-wide spin lock: how a word is acquired is chosen once at start-up; every acquire and release
// goes through the two function pointers below, so no caller spins by itself.
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

// What the parameter file "spinlock.prm" may set; absent members change nothing.
struct Settings {
    // "alwaysSleep", "loopMaxSpinsAndYields" or "maxSpinsThenLoopYields"; other names change nothing.
    std::optional<VString> mode;
    // Truncated to a signed 32-bit count (saturating; NaN is ignored).
    std::optional<double> maxSpins;
    std::optional<bool> yieldAfterCheckEvent;
};

// Applies settings at once. Only for start-up and tests: nothing else may be locking meanwhile.
void Apply(const Settings& settings);

// Start-up configuration, called by the task manager's Init: reads "spinlock.prm" in the executable's folder
// as Configure(path) does.
void Configure();
// Only while the task manager counts exactly one task: reads the UTF-8 JSON file at posixPath and applies its
// "mode" when it is a string, "maxSpins" when it is a number and "yieldAfterCheckEvent" when it is true or false.
// An absent file changes nothing silently; text that is no JSON (its errors raised) or whose root is no object
// changes nothing either.
void Configure(const VString& posixPath);

// Back to the defaults (maxSpinsThenLoopYields, 1 spin, no yield after the event check).
void ResetToDefaults() noexcept;

} // namespace SpinLock
} // namespace vela
