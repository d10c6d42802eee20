#pragma once

#include "core/VTypes.h"

#include <cstddef>

namespace vela {

// A thread stack of its own: the size rounded up to whole pages, with one inaccessible guard page below it.
class XPosixStack {
public:
    XPosixStack() noexcept = default;
    ~XPosixStack() { Free(); }
    XPosixStack(const XPosixStack&) = delete;
    XPosixStack& operator=(const XPosixStack&) = delete;
    XPosixStack(XPosixStack&& other) noexcept;
    XPosixStack& operator=(XPosixStack&& other) noexcept;

    // Maps the stack; on failure answers the errno value (0 on success).
    int Allocate(size_t size) noexcept;
    void Free() noexcept;

    // The usable stack (above the guard page).
    void* GetStack() const noexcept { return fMapping != nullptr ? fMapping + fPageSize : nullptr; }
    size_t GetStackSize() const noexcept { return fMappingSize > fPageSize ? fMappingSize - fPageSize : 0; }
    // The whole mapping, guard page included.
    size_t GetMappingSize() const noexcept { return fMappingSize; }

    // The usable size for a request: rounded up to a multiple of pageSize.
    static size_t RoundedSize(size_t size, size_t pageSize) noexcept;
    // The size to map for a thread that must have size bytes for itself: ThreadSanitizer keeps its per-thread
    // state at the top of every thread stack and refuses to start a thread whose stack cannot hold it.
    static size_t ThreadStackSize(size_t size) noexcept;

private:
    char* fMapping = nullptr;
    size_t fMappingSize = 0;
    size_t fPageSize = 0;
};

} // namespace vela
