#include "core/VObject.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"

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
    out.FromBlock(buffer, size_t(length < 0 ? 0 : length), charSet);
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
