#include "core/VObject.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"

#include <cstdlib>
#include <mutex>

namespace vela {

std::atomic<VCppMemMgr*> VObject::sCppMemMgr{nullptr};

namespace {

std::atomic<bool> sFinalised{false};

constexpr int32 kObjectTag = FourCCTag("obj ");

// Runs at exit: later frees find no manager and go to the C library, which owned every block.
void FinaliseMemMgr() {
    sFinalised.store(true, std::memory_order_release);
    delete VObject::sCppMemMgr.exchange(nullptr, std::memory_order_acq_rel);
}

} // namespace

VCppMemMgr* VObject::GetMainMemMgr() noexcept {
    VCppMemMgr* manager = sCppMemMgr.load(std::memory_order_acquire);
    if (manager != nullptr || sFinalised.load(std::memory_order_acquire)) return manager;
    static std::once_flag sOnce;
    std::call_once(sOnce, [] {
        VCppMemMgr* created = new VCppMemMgr(VCppMemMgr::kAllocator_fromBundle);
        if (created == nullptr) return;
        sCppMemMgr.store(created, std::memory_order_release);
        std::atexit(FinaliseMemMgr);
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
