#include "system/platform/XPosixSystem.h"

#include <cerrno>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

namespace vela {

uint64 XPosixSystem::GetMonotonicNanoseconds() noexcept {
    timespec now{};
    // CLOCK_BOOTTIME keeps counting while the machine sleeps, like the system clock it replaces.
    clock_gettime(CLOCK_BOOTTIME, &now);
    return uint64(now.tv_sec) * 1000000000u + uint64(now.tv_nsec);
}

size_t XPosixSystem::GetPageSize() noexcept {
    long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? size_t(size) : 4096;
}

int32 XPosixSystem::GetLogicalProcessorCount() noexcept {
    long count = sysconf(_SC_NPROCESSORS_CONF);
    return count < 2 ? 1 : int32(count);
}

void* XPosixSystem::MapPages(size_t size, const void* address) noexcept {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (address != nullptr) flags |= MAP_FIXED_NOREPLACE;
    void* pages = mmap(const_cast<void*>(address), size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    if (address != nullptr && pages != address) { // kernels before 4.17 treat the flag as a hint
        munmap(pages, size);
        return nullptr;
    }
    return pages;
}

int32 XPosixSystem::UnmapPages(void* address, size_t size) noexcept {
    return munmap(address, size) == 0 ? 0 : errno;
}

} // namespace vela
