// Internal to the memory manager: how the C library's heap grows under it.
#pragma once

#include "core/VTypes.h"

#include <atomic>
#include <cstdint>

// The C library's program break, which its sbrk reads and moves (glibc). Read here rather than through sbrk(0):
// a load, where a call on every allocation costs a third of a small allocation's time.
extern "C" void* __curbrk;

namespace vela {

// The C library's heap grows by moving the program break, and each fresh page costs a fault on its first touch:
// on a virtual machine about 20 µs, so that the first copy of a tree of 100 MB spends most of its time faulting
// (some 26,000 faults) where later copies reuse freed pages. Grown in large steps and marked for transparent huge
// pages, the heap faults once per 2 MiB instead. The break is watched on the manager's allocations: what the heap
// grew by is marked before most of it is touched.
class XPosixHeapGrowth {
public:
    // The C library's heap grows by this much beyond a request, keeps this much free at its top, and serves
    // blocks up to this size itself rather than from mappings of their own (which would fault anew each time).
    static constexpr size_t kStep = size_t(32) << 20;

    // A watch whose marked range ends at end (the current end of the heap).
    explicit XPosixHeapGrowth(uintptr_t end) noexcept : fMarkedEnd(end) {}

    // Sets the C library's heap to grow in steps of kStep and starts the process-wide watch, once per process;
    // later calls do nothing.
    static void Configure() noexcept;
    // Marks what the heap grew by since the last call, when the watch runs. Two loads when the heap did not grow.
    static void NoteGrowth() noexcept {
        XPosixHeapGrowth* watch = sWatch.load(std::memory_order_acquire);
        if (watch == nullptr) return;
        const uintptr_t end = reinterpret_cast<uintptr_t>(__atomic_load_n(&__curbrk, __ATOMIC_RELAXED));
        if (end != watch->GetMarkedEnd()) watch->Advance(end);
    }

    // Takes end as the heap's new end: the range it grew by (from the end last taken) is marked for huge pages;
    // a heap that shrank is marked from its new end when it grows again. Safe from several threads at once.
    void Advance(uintptr_t end) noexcept;
    uintptr_t GetMarkedEnd() const noexcept { return fMarkedEnd.load(std::memory_order_relaxed); }

private:
    // Null until Configure: the watch lives as long as the process (allocations go on after exit starts).
    static std::atomic<XPosixHeapGrowth*> sWatch;

    std::atomic<uintptr_t> fMarkedEnd;
};

} // namespace vela
