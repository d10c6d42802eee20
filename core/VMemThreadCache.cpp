#include "core/VMemThreadCache.h"

#include "core/VCppMemMgr.h"
#include "core/VMemCppImpl.h"
#include "core/VMemPoison.h"

#include <mutex>
#include <pthread.h>

namespace vela {

namespace {

// Guards which manager each cache serves and the managers' lists of caches. Taken before an allocation lock,
// never while one is held.
constinit std::mutex sRegistryLock;
std::once_flag sExitKeyOnce;
pthread_key_t sExitKey;

// Attached caches take the implementations in turn.
std::atomic<int32> sNextPreferredIndex{0};

} // namespace

constinit thread_local VMemThreadCache tCurrentMemThreadCache;

VMemThreadCache* VMemThreadCache::_Attach(VCppMemMgr* manager) noexcept {
    std::lock_guard<std::mutex> guard(sRegistryLock);
    // Blocks of a manager that was destroyed went with its regions.
    for (VBin& bin : fBins)
        bin = VBin{};
    fManager.store(manager, std::memory_order_release);
    fPrevious = nullptr;
    fNext = manager->fCaches;
    if (fNext != nullptr) fNext->fPrevious = this;
    manager->fCaches = this;
    if (fPreferredIndex < 0) fPreferredIndex = sNextPreferredIndex.fetch_add(1, std::memory_order_relaxed) & 0xFFFF;
    if (!fExitHookSet) {
        std::call_once(sExitKeyOnce, [] { pthread_key_create(&sExitKey, &VMemThreadCache::_OnThreadExit); });
        fExitHookSet = pthread_setspecific(sExitKey, this) == 0;
    }
    return this;
}

void VMemThreadCache::_Unlink() noexcept {
    VCppMemMgr* manager = fManager.load(std::memory_order_relaxed);
    if (fPrevious != nullptr) {
        fPrevious->fNext = fNext;
    } else if (manager != nullptr && manager->fCaches == this) {
        manager->fCaches = fNext;
    }
    if (fNext != nullptr) fNext->fPrevious = fPrevious;
    fNext = fPrevious = nullptr;
}

void VMemThreadCache::DetachAll(VCppMemMgr* manager) noexcept {
    std::lock_guard<std::mutex> guard(sRegistryLock);
    for (VMemThreadCache* cache = manager->fCaches; cache != nullptr;) {
        VMemThreadCache* next = cache->fNext;
        cache->fManager.store(nullptr, std::memory_order_release);
        cache->fNext = cache->fPrevious = nullptr;
        cache = next;
    }
    manager->fCaches = nullptr;
}

void VMemThreadCache::_OnThreadExit(void* pointer) noexcept {
    auto* cache = static_cast<VMemThreadCache*>(pointer);
    std::lock_guard<std::mutex> guard(sRegistryLock);
    cache->fExitHookSet = false;
    VCppMemMgr* manager = cache->fManager.load(std::memory_order_relaxed);
    if (manager == nullptr) return;
    manager->_ReleaseCachedBlocks(cache->TakeAll());
    cache->_Unlink();
    cache->fManager.store(nullptr, std::memory_order_release);
}

void* VMemThreadCache::Take(size_t blockSize, uint32 keep) noexcept {
    VBin& bin = fBins[blockSize / 16];
    if (bin.fCount <= keep) return nullptr;
    // The blocks taken are the front of the list: cut it behind the last of them.
    void* taken = bin.fHead;
    void* last = taken;
    for (uint32 i = 1; i < bin.fCount - keep; ++i)
        last = MemLoadLink(last);
    bin.fHead = MemLoadLink(last);
    MemStoreLink(last, nullptr);
    bin.fCount = keep;
    return taken;
}

void* VMemThreadCache::TakeAll() noexcept {
    void* all = nullptr;
    for (int32 step = 1; step < kStepCount; ++step) {
        void* taken = Take(size_t(step) * 16, 0);
        if (taken == nullptr) continue;
        void* last = taken;
        for (void* next = MemLoadLink(last); next != nullptr; next = MemLoadLink(last))
            last = next;
        MemStoreLink(last, all);
        all = taken;
    }
    return all;
}

void* VMemThreadCache::NextTaken(const void* block) noexcept {
    return MemLoadLink(block);
}

} // namespace vela
