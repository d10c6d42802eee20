#pragma once

#include "core/VTypes.h"

#include <atomic>

namespace vela {

// A minimal counted byte block taken with malloc (not through the memory manager): an 8-byte size, a 4-byte
// count and the data at offset 12 (4-byte aligned only), followed by 3 spare bytes.
class SharedBuffer {
public:
    // A block for size bytes of uninitialised data with count 1; null when it cannot be had.
    static SharedBuffer* Create(size_t size) noexcept;
    // The same with the bytes copied in.
    static SharedBuffer* Create(const void* data, size_t size) noexcept;

    void Retain() const noexcept;
    // Frees the block when the count drops to 0.
    void Release() const noexcept;

    size_t GetSize() const noexcept;
    uint32 GetRefCount() const noexcept;
    void* GetData() noexcept;
    const void* GetData() const noexcept;

    SharedBuffer() = delete;
    SharedBuffer(const SharedBuffer&) = delete;
    SharedBuffer& operator=(const SharedBuffer&) = delete;

private:
    static constexpr size_t kDataOffset = 12;
    static constexpr size_t kSpare = 3;
    std::atomic<uint32>* Count() const noexcept;
};

} // namespace vela
