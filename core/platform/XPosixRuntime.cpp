#include "core/platform/XPosixRuntime.h"

#include "core/VString.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cxxabi.h>
#include <sys/mman.h>
#include <unistd.h>

namespace vela {

uint64 XPosixRuntime::GetMonotonicNanoseconds() noexcept {
    timespec now{};
    // CLOCK_BOOTTIME keeps counting while the machine sleeps, like the system clock it replaces.
    clock_gettime(CLOCK_BOOTTIME, &now);
    return uint64(now.tv_sec) * 1000000000u + uint64(now.tv_nsec);
}

uint32 XPosixRuntime::GetMilliseconds() noexcept {
    return uint32(GetMonotonicNanoseconds() / 1000000u);
}

uint64 XPosixRuntime::GetTicks() noexcept {
    // 60 ticks a second: nanoseconds × 60 / 10^9 = nanoseconds × 3 / 5 × 10^7, kept inside 64 bits.
    uint64 ns = GetMonotonicNanoseconds();
    return ns / 50000000u * 3u + ns % 50000000u * 3u / 50000000u;
}

int32 XPosixRuntime::GetLogicalProcessorCount() noexcept {
    static const int32 sCount = [] {
        long count = sysconf(_SC_NPROCESSORS_CONF);
        return count < 2 ? 1 : int32(count);
    }();
    return sCount;
}

size_t XPosixRuntime::GetPageSize() noexcept {
    static const size_t sPageSize = [] {
        long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? size_t(size) : size_t(4096);
    }();
    return sPageSize;
}

size_t XPosixRuntime::RoundUpToPages(size_t size) noexcept {
    size_t page = GetPageSize();
    if (size > SIZE_MAX - (page - 1)) return 0;
    return (size + page - 1) / page * page;
}

void* XPosixRuntime::MapPages(size_t size, const void* address) noexcept {
    size_t rounded = RoundUpToPages(size);
    if (rounded == 0) return nullptr;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (address != nullptr) flags |= MAP_FIXED_NOREPLACE;
    void* pages = mmap(const_cast<void*>(address), rounded, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (pages == MAP_FAILED) return nullptr;
    if (address != nullptr && pages != address) { // kernels before 4.17 treat the flag as a hint
        munmap(pages, rounded);
        return nullptr;
    }
    return pages;
}

int32 XPosixRuntime::UnmapPages(void* address, size_t size) noexcept {
    if (address == nullptr) return 0;
    return munmap(address, RoundUpToPages(size)) == 0 ? 0 : errno;
}

void XPosixRuntime::DemangleSymbol(const char* symbol, VString& out) {
    int status = 0;
    char* demangled = symbol != nullptr ? abi::__cxa_demangle(symbol, nullptr, nullptr, &status) : nullptr;
    if (demangled != nullptr && status == 0) {
        out.FromCString(demangled);
    } else {
        out.FromCString(symbol != nullptr ? symbol : "");
    }
    std::free(demangled);
}

} // namespace vela
