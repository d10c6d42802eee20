#pragma once

#include "core/VTypes.h"

#include <cstddef>

namespace vela {

class VString;

// The Linux services the core needs for itself (clocks, processors, memory pages, symbol names); VSystem hands
// the same to callers.
class XPosixRuntime {
public:
    XPosixRuntime() = delete;

    // Nanoseconds of the monotonic clock that counts from system start-up.
    static uint64 GetMonotonicNanoseconds() noexcept;
    // Milliseconds since system start-up; wraps at 2^32, so callers compare with unsigned differences.
    static uint32 GetMilliseconds() noexcept;
    // Ticks of 1/60 second since system start-up.
    static uint64 GetTicks() noexcept;

    // Logical processors, computed once; at least 1.
    static int32 GetLogicalProcessorCount() noexcept;
    // Virtual-memory page size, read once.
    static size_t GetPageSize() noexcept;
    // size rounded up to a whole number of pages (0 stays 0, and so does a size too large to round).
    static size_t RoundUpToPages(size_t size) noexcept;
    // Anonymous zero-filled pages for size rounded up to the page size, anywhere when address is null, else
    // exactly there; null on failure.
    static void* MapPages(size_t size, const void* address) noexcept;
    // Gives back the pages of a MapPages region (size rounded up likewise); 0 or the system's errno. A null
    // address gives back nothing and answers 0.
    static int32 UnmapPages(void* address, size_t size) noexcept;

    // The demangled name of a C++ symbol, or the symbol itself when it cannot be demangled.
    static void DemangleSymbol(const char* symbol, VString& out);
};

} // namespace vela
