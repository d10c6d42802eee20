// Internal to the own allocator: AddressSanitizer's view of the blocks it keeps.
#pragma once

#include <cstddef>
#include <cstring>
#include <sanitizer/asan_interface.h>

namespace vela {

// Free blocks are poisoned, so that a use after free or an overrun into them is reported as with malloc. Huge
// ranges stay unpoisoned: poisoning writes the sanitizer's shadow byte by byte, while unpoisoning is cheap at any
// size and is always done before bytes are handed out.
inline constexpr size_t kMemPoisonLimit = size_t(4) << 20;

inline void MemPoison(const void* begin, size_t size) noexcept {
    if (size <= kMemPoisonLimit) ASAN_POISON_MEMORY_REGION(begin, size);
    (void)begin;
}

inline void MemUnpoison(const void* begin, size_t size) noexcept {
    ASAN_UNPOISON_MEMORY_REGION(begin, size);
    (void)begin;
    (void)size;
}

// The links of free lists live in poisoned bytes: the allocator reads and writes them through these.
__attribute__((no_sanitize("address"))) inline void* MemLoadLink(const void* at) noexcept {
    void* link;
    std::memcpy(&link, at, sizeof(link));
    return link;
}

__attribute__((no_sanitize("address"))) inline void MemStoreLink(void* at, const void* link) noexcept {
    std::memcpy(at, &link, sizeof(link));
}

} // namespace vela
