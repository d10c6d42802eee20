#include "core/VObject.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace vela {

std::atomic<VCppMemMgr*> VObject::sCppMemMgr{nullptr};

namespace {

constexpr int32 kObjectTag = FourCCTag("obj ");

} // namespace

VCppMemMgr* VObject::GetMainMemMgr() noexcept {
    VCppMemMgr* manager = sCppMemMgr.load(std::memory_order_acquire);
    if (manager != nullptr) return manager;
    static std::once_flag sOnce;
    std::call_once(sOnce, [] {
        // Never destroyed, as the task manager: task threads may outlive main and still allocate at exit. Static
        // storage rather than the manager's own region, so the leak checker sees what the manager holds.
        alignas(VCppMemMgr) static unsigned char sStorage[sizeof(VCppMemMgr)];
        sCppMemMgr.store(::new (sStorage) VCppMemMgr(VCppMemMgr::kAllocator_fromBundle), std::memory_order_release);
    });
    return sCppMemMgr.load(std::memory_order_acquire);
}

CharSet VObject::DebugDump(char*, int& length) const {
    length = 0;
    return VTC_UTF_8;
}

void VObject::DebugDump(VString& out) const {
    char buffer[1024];
    int length = sizeof(buffer);
    CharSet charSet = DebugDump(buffer, length);
    // An override may answer the length it wanted rather than the one it wrote.
    out.FromBlock(buffer, size_t(std::clamp(length, 0, int(sizeof(buffer)))), charSet);
}

CharSet VObject::FormatDebugDump(char* buffer, int& length, const char* format, ...) noexcept {
    if (buffer == nullptr || length <= 0) {
        length = 0;
        return VTC_UTF_8;
    }
    va_list arguments;
    va_start(arguments, format);
    const int wanted = std::vsnprintf(buffer, size_t(length), format, arguments);
    va_end(arguments);
    // snprintf answers the untruncated length and keeps one byte for its terminator.
    length = wanted < 0 ? 0 : std::min(wanted, length - 1);
    return VTC_UTF_8;
}

void VObject::DebugGetClassName(VString& out) const {
    out.Clear();
}

void* VObject::operator new(size_t size) {
    VCppMemMgr* manager = GetMainMemMgr();
    void* block = manager != nullptr ? manager->Malloc(size, true, kObjectTag) : std::malloc(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* VObject::operator new[](size_t size) {
    return operator new(size);
}

void VObject::operator delete(void* block) noexcept {
    VMemory::DisposePtr(block);
}

void VObject::operator delete[](void* block) noexcept {
    VMemory::DisposePtr(block);
}

} // namespace vela
