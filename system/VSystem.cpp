#include "system/VSystem.h"

#include "core/VString.h"
#include "system/platform/XPosixSystem.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <cxxabi.h>

namespace vela {

uint32 VSystem::GetCurrentTime() noexcept {
    return uint32(XPosixSystem::GetMonotonicNanoseconds() / 1000000u);
}

uint64 VSystem::GetCurrentTicks() noexcept {
    // 60 ticks a second: nanoseconds × 60 / 10^9 = nanoseconds × 3 / 5 × 10^7, kept inside 64 bits.
    uint64 ns = XPosixSystem::GetMonotonicNanoseconds();
    return ns / 50000000u * 3u + ns % 50000000u * 3u / 50000000u;
}

uint32 VSystem::GetCurrentDeltaTicks(uint32 then) noexcept {
    uint32 now = uint32(GetCurrentTicks());
    return now >= then ? now - then : then - now;
}

uint64 VSystem::GetProfilingFrequency() noexcept {
    return 1000000000u;
}

int64 VSystem::GetProfilingCounter(int64& counter) noexcept {
    counter = int64(XPosixSystem::GetMonotonicNanoseconds());
    return counter;
}

uint64 VSystem::GetMicrosecFromProfilingCounter() noexcept {
    return XPosixSystem::GetMonotonicNanoseconds() / 1000u;
}

int32 VSystem::GetNumberOfLogicalProcessors() noexcept {
    static const int32 sCount = XPosixSystem::GetLogicalProcessorCount();
    return sCount;
}

size_t VSystem::GetVMPageSize() noexcept {
    static const size_t sPageSize = XPosixSystem::GetPageSize();
    return sPageSize;
}

size_t VSystem::RoundUpVMPageSize(size_t size) noexcept {
    size_t page = GetVMPageSize();
    if (size > SIZE_MAX - (page - 1)) return 0;
    return (size + page - 1) / page * page;
}

void* VSystem::VirtualAlloc(size_t size, const void* address) noexcept {
    size_t rounded = RoundUpVMPageSize(size);
    if (rounded == 0) return nullptr;
    return XPosixSystem::MapPages(rounded, address);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* physical) noexcept {
    void* pages = VirtualAlloc(size, address);
    if (physical != nullptr) *physical = pages != nullptr;
    if (pages == nullptr) pages = VirtualAlloc(size, address);
    return pages;
}

int32 VSystem::VirtualFree(void* address, size_t size, bool) noexcept {
    if (address == nullptr) return 0;
    return XPosixSystem::UnmapPages(address, RoundUpVMPageSize(size));
}

void VSystem::Delay(int32 ms) noexcept {
    if (ms <= 0) return;
    timespec remaining{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void VSystem::DemangleSymbol(const char* symbol, VString& out) {
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
