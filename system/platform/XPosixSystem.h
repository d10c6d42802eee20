#pragma once

#include "core/VTypes.h"

namespace vela {

// Linux services behind VSystem.
class XPosixSystem {
public:
    XPosixSystem() = delete;

    // Nanoseconds of the monotonic clock that counts from system start-up.
    static uint64 GetMonotonicNanoseconds() noexcept;
    static size_t GetPageSize() noexcept;
    static int32 GetLogicalProcessorCount() noexcept;
    // Anonymous zero-filled pages; exactly at address when it is not null.
    static void* MapPages(size_t size, const void* address) noexcept;
    static int32 UnmapPages(void* address, size_t size) noexcept;
};

} // namespace vela
