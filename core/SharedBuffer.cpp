#include "core/SharedBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vela {

static_assert(sizeof(std::atomic<uint32>) == 4 && alignof(std::atomic<uint32>) <= 4);

SharedBuffer* SharedBuffer::Create(size_t size) noexcept {
    if (size > SIZE_MAX - (kDataOffset + kSpare)) return nullptr;
    char* block = static_cast<char*>(std::malloc(size + kDataOffset + kSpare));
    if (block == nullptr) return nullptr;
    uint64 size64 = size;
    std::memcpy(block, &size64, sizeof(size64));
    new (block + 8) std::atomic<uint32>(1);
    return reinterpret_cast<SharedBuffer*>(block);
}

SharedBuffer* SharedBuffer::Create(const void* data, size_t size) noexcept {
    SharedBuffer* buffer = Create(size);
    if (buffer != nullptr && size > 0) std::memcpy(buffer->GetData(), data, size);
    return buffer;
}

std::atomic<uint32>* SharedBuffer::Count() const noexcept {
    return std::launder(
        reinterpret_cast<std::atomic<uint32>*>(const_cast<char*>(reinterpret_cast<const char*>(this)) + 8));
}

void SharedBuffer::Retain() const noexcept {
    Count()->fetch_add(1);
}

void SharedBuffer::Release() const noexcept {
    if (Count()->fetch_sub(1) == 1) std::free(const_cast<SharedBuffer*>(this));
}

size_t SharedBuffer::GetSize() const noexcept {
    uint64 size;
    std::memcpy(&size, this, sizeof(size));
    return size_t(size);
}

uint32 SharedBuffer::GetRefCount() const noexcept {
    return Count()->load();
}

void* SharedBuffer::GetData() noexcept {
    return reinterpret_cast<char*>(this) + kDataOffset;
}

const void* SharedBuffer::GetData() const noexcept {
    return reinterpret_cast<const char*>(this) + kDataOffset;
}

} // namespace vela
