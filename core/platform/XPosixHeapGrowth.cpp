#include "core/platform/XPosixHeapGrowth.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace vela {

std::atomic<XPosixHeapGrowth*> XPosixHeapGrowth::sWatch{nullptr};

void XPosixHeapGrowth::Configure() noexcept {
    // A function-local static: set up once, thread-safely; the watch is never destroyed.
    static XPosixHeapGrowth* const sStarted = [] {
        mallopt(M_TOP_PAD, int(kStep));
        mallopt(M_TRIM_THRESHOLD, int(2 * kStep));
        mallopt(M_MMAP_THRESHOLD, int(kStep));
        static XPosixHeapGrowth watch(reinterpret_cast<uintptr_t>(sbrk(0)));
        sWatch.store(&watch, std::memory_order_release);
        return &watch;
    }();
    (void)sStarted;
}

void XPosixHeapGrowth::Advance(uintptr_t end) noexcept {
    uintptr_t marked = fMarkedEnd.load(std::memory_order_relaxed);
    // One thread marks each growth; a failed exchange means another one took this end (or a later one).
    if (marked == end || !fMarkedEnd.compare_exchange_strong(marked, end, std::memory_order_relaxed)) return;
    if (end < marked) return; // trimmed: the next growth starts at end
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (marked + page - 1) & ~(page - 1);
    const uintptr_t stop = end & ~(page - 1);
    // Refused where huge pages are not available: the heap then grows as before.
    if (start < stop) madvise(reinterpret_cast<void*>(start), stop - start, MADV_HUGEPAGE);
}

} // namespace vela
