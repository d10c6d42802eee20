#include "core/platform/XPosixStack.h"

#include "core/platform/XPosixRuntime.h"

#include <cerrno>
#include <sys/mman.h>
#include <utility>

namespace vela {

XPosixStack::XPosixStack(XPosixStack&& other) noexcept
    : fMapping(std::exchange(other.fMapping, nullptr)), fMappingSize(std::exchange(other.fMappingSize, 0)),
      fPageSize(other.fPageSize) {}

XPosixStack& XPosixStack::operator=(XPosixStack&& other) noexcept {
    if (this != &other) {
        Free();
        fMapping = std::exchange(other.fMapping, nullptr);
        fMappingSize = std::exchange(other.fMappingSize, 0);
        fPageSize = other.fPageSize;
    }
    return *this;
}

size_t XPosixStack::RoundedSize(size_t size, size_t pageSize) noexcept {
    if (pageSize == 0) return size;
    size_t pages = size / pageSize + (size % pageSize != 0 ? 1 : 0);
    return pages * pageSize;
}

#if defined(__SANITIZE_THREAD__)
#define VELA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELA_THREAD_SANITIZER 1
#endif
#endif

size_t XPosixStack::ThreadStackSize(size_t size) noexcept {
#if defined(VELA_THREAD_SANITIZER)
    constexpr size_t kSanitizerRoom = 1024 * 1024;
    return size + kSanitizerRoom;
#else
    return size;
#endif
}

int XPosixStack::Allocate(size_t size) noexcept {
    Free();
    fPageSize = XPosixRuntime::GetPageSize();
    size_t usable = RoundedSize(size, fPageSize);
    if (usable == 0 || usable > (size_t(1) << 40)) return EINVAL;
    size_t total = usable + fPageSize;
    void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return errno;
    // The lowest page catches overflows: stacks grow down into it.
    if (mprotect(mapping, fPageSize, PROT_NONE) != 0) {
        int error = errno;
        munmap(mapping, total);
        return error;
    }
    fMapping = static_cast<char*>(mapping);
    fMappingSize = total;
    return 0;
}

void XPosixStack::Free() noexcept {
    if (fMapping == nullptr) return;
    munmap(fMapping, fMappingSize);
    fMapping = nullptr;
    fMappingSize = 0;
}

} // namespace vela
