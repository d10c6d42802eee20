#include "core/VCriticalSection.h"

#include "core/VSyncEvent.h"
#include "core/VTaskMgr.h"

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
    fDepth = 0;
    fOwner.store(0, std::memory_order_relaxed);
    SpinLock::Release(fSpin);
    if (event == nullptr) return;
    // An event exists only while tasks wait: they would take the spin word of a freed section on waking.
    _ReportMisuse("destroyed while other tasks wait for it");
    event->Set();
    event->Release();
}

bool VCriticalSection::_LockSlow(int32 me) noexcept {
    SpinLock::Acquire(fSpin);
    for (;;) {
        int32 owner = fOwner.load(std::memory_order_relaxed);
        if (owner == 0 || owner == me) break;
        if (fEvent != nullptr) {
            // Retained before the spin word goes: Unlock may detach and release it meanwhile.
            VSyncEvent* event = fEvent;
            event->Retain();
            SpinLock::Release(fSpin);
            event->Lock();
            event->Release();
            SpinLock::Acquire(fSpin);
            continue;
        }
        SpinLock::Release(fSpin);
        auto* fresh = new VSyncEvent;
        SpinLock::Acquire(fSpin);
        owner = fOwner.load(std::memory_order_relaxed);
        if (owner == 0 || owner == me) {
            fresh->Release();
            break;
        }
        if (fEvent == nullptr) {
            fEvent = fresh; // the section owns it now
            continue;
        }
        SpinLock::Release(fSpin);
        fresh->Release();
        if (SpinLock::sYieldAfterCheckEvent.load(std::memory_order_relaxed)) sched_yield();
        SpinLock::Acquire(fSpin);
    }
    fOwner.store(me, std::memory_order_relaxed);
    ++fDepth;
    SpinLock::Release(fSpin);
    return true;
}

bool VCriticalSection::TryToLock() noexcept {
    const int32 me = VTaskMgr::GetCurrentOwnerID();
    SpinLock::Acquire(fSpin);
    int32 owner = fOwner.load(std::memory_order_relaxed);
    bool taken = owner == 0 || owner == me;
    if (taken) {
        fOwner.store(me, std::memory_order_relaxed);
        ++fDepth;
    }
    SpinLock::Release(fSpin);
    return taken;
}

bool VCriticalSection::_UnlockSlow(int32 me) noexcept {
    SpinLock::Acquire(fSpin);
    if (fOwner.load(std::memory_order_relaxed) != me || fDepth <= 0) {
        SpinLock::Release(fSpin);
        _ReportMisuse("unlocked by a task that does not hold it");
        return false;
    }
    if (--fDepth > 0) {
        SpinLock::Release(fSpin);
        return true;
    }
    VSyncEvent* event = fEvent;
    fEvent = nullptr;
    fOwner.store(0, std::memory_order_relaxed);
    SpinLock::Release(fSpin);
    if (event != nullptr) {
        // Wakes every task of this contention episode; the next contender makes a fresh event.
        event->Set();
        event->Release();
    }
    return true;
}

bool VCriticalSection::IsHeldByCurrentTask() const noexcept {
    return fOwner.load(std::memory_order_relaxed) == VTaskMgr::GetCurrentOwnerID();
}

} // namespace vela
