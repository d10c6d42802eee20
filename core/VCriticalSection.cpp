#include "core/VCriticalSection.h"

#include "core/VSyncEvent.h"

#include <cstdio>
#include <cstdlib>
#include <sched.h>

namespace vela {

namespace {

void AbortOnMisuse(const char* what) {
    std::fprintf(stderr, "VCriticalSection misuse: %s\n", what);
    std::abort();
}

std::atomic<VCriticalSection::MisuseHandler> sMisuseHandler{&AbortOnMisuse};

} // namespace

VCriticalSection::MisuseHandler VCriticalSection::SetMisuseHandler(MisuseHandler handler) noexcept {
    return sMisuseHandler.exchange(handler != nullptr ? handler : &AbortOnMisuse);
}

void VCriticalSection::_ReportMisuse([[maybe_unused]] const char* what) noexcept {
#ifndef NDEBUG
    sMisuseHandler.load()(what);
#endif
}

VCriticalSection::~VCriticalSection() {
    SpinLock::Acquire(fSpin);
    VSyncEvent* event = fEvent;
    fEvent = nullptr;
    uint64 word = fWord.exchange(0, std::memory_order_acq_rel);
    fExtraDepth = 0;
    SpinLock::Release(fSpin);
    // Waiters would take the word of a freed section on waking.
    if ((word & kWaitersBit) != 0) _ReportMisuse("destroyed while other tasks wait for it");
    if (event == nullptr) return;
    event->Set();
    event->Release();
}

bool VCriticalSection::_LockSlow(int32 me) noexcept {
    // No spinning on the word: spinners would slow the holder down; waiters sleep on the event.
    for (;;) {
        uint64 word = fWord.load(std::memory_order_relaxed);
        if (uint32(word) == 0) {
            if (fWord.compare_exchange_weak(word, _OwnerWord(me), std::memory_order_acquire, std::memory_order_relaxed))
                return true;
            continue;
        }
        if (uint32(word) == uint32(me)) {
            ++fExtraDepth;
            return true;
        }
        // Another task holds it: wait on the event of this contention, made by the first waiter.
        SpinLock::Acquire(fSpin);
        if (fEvent == nullptr) {
            SpinLock::Release(fSpin);
            auto* fresh = new VSyncEvent;
            SpinLock::Acquire(fSpin);
            if (fEvent != nullptr) {
                // Another task installed one first.
                SpinLock::Release(fSpin);
                fresh->Release();
                if (SpinLock::sYieldAfterCheckEvent.load(std::memory_order_relaxed)) sched_yield();
                continue;
            }
            fEvent = fresh; // the section owns it now
        }
        // The waiters bit is set under the spin word, the event being in place: the releasing task then
        // takes the slow path and finds the event.
        word = fWord.load(std::memory_order_relaxed);
        bool waiting = false;
        while (uint32(word) != 0 && uint32(word) != uint32(me)) {
            if ((word & kWaitersBit) != 0 ||
                fWord.compare_exchange_weak(word, word | kWaitersBit, std::memory_order_relaxed)) {
                waiting = true;
                break;
            }
        }
        if (!waiting) {
            SpinLock::Release(fSpin);
            continue; // freed meanwhile (the event stays for the next contention)
        }
        // Retained before the spin word goes: the release detaches and releases it.
        VSyncEvent* event = fEvent;
        event->Retain();
        SpinLock::Release(fSpin);
        event->Lock();
        event->Release();
    }
}

bool VCriticalSection::_UnlockSlow(int32 me) noexcept {
    uint64 word = fWord.load(std::memory_order_relaxed);
    if (uint32(word) != uint32(me)) {
        _ReportMisuse("unlocked by a task that does not hold it");
        return false;
    }
    // The last level, with tasks waiting.
    SpinLock::Acquire(fSpin);
    VSyncEvent* event = fEvent;
    fEvent = nullptr;
    fWord.store(0, std::memory_order_release);
    SpinLock::Release(fSpin);
    if (event != nullptr) {
        // Wakes every task of this contention; the next contender makes a fresh event.
        event->Set();
        event->Release();
    }
    return true;
}

} // namespace vela
