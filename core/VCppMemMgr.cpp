#include "core/VCppMemMgr.h"

#include "core/VMemThreadCache.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixBundleInfo.h"
#include "core/platform/XPosixRuntime.h"
#include "core/platform/XPosixStackCrawl.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <strings.h>

namespace vela {

namespace {
constexpr int32 kGrowTag = FourCCTag("grow");
constexpr size_t kManagerHeader = 8;
// The frames a registered block keeps of the stack that made it.
constexpr uint32 kLeakFrames = 8;
} // namespace

std::atomic<bool> VCppMemMgr::sFailAllocations{false};

// ---- VMemStats

void VMemStats::Clear() noexcept {
    fFreeMem = fUsedMem = 0;
    fNbPagesSmallBlocks = fNbObjects = fNbSmallBlocks = fNbFreeSmallBlocks = fNbUsedSmallBlocks = 0;
    fNbBigBlocks = fNbFreeBigBlocks = fNbUsedBigBlocks = 0;
    fBiggestBlock = fBiggestFreeBlock = 0;
}

namespace {

void AppendLine(VString& out, const char* label, uint64 value) {
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(value));
    out.AppendCString(label);
    out.AppendCString(digits);
    out.AppendCString("\n");
}

void AppendInfoLine(VString& out, const char* name, const VObjectInfo& info) {
    char numbers[96];
    std::snprintf(numbers, sizeof(numbers), " : %d   ,  mem = %lld\n", info.fCount,
                  static_cast<long long>(info.fMemory));
    out.AppendCString(name);
    out.AppendCString(numbers);
}

void TagToChars(int32 tag, char chars[5]) {
    for (int i = 0; i < 4; ++i)
        chars[i] = char(uint32(tag) >> (24 - 8 * i));
    chars[4] = 0;
}

} // namespace

void VMemStats::_GetStreamReport(VString& text) const {
    text.Clear();
    AppendLine(text, "Used Mem = ", fUsedMem);
    AppendLine(text, "Free Mem = ", fFreeMem);
    AppendLine(text, "Biggest Free Block = ", fBiggestFreeBlock);
    text.AppendCString("\n\n");
    AppendLine(text, "Nb Objects = ", uint64(fNbObjects < 0 ? 0 : fNbObjects));
    text.AppendCString("\n");
    for (const auto& [type, info] : fObjectsByClass)
        AppendInfoLine(text, type.name(), info);
    text.AppendCString("\n\nBlocks by Tags\n");
    for (const auto& [tag, info] : fBlocksByTag) {
        char chars[5];
        TagToChars(tag, chars);
        AppendInfoLine(text, chars, info);
    }
}

void VMemStats::Dump(VString& out) const {
    out.Clear();
    AppendLine(out, "Nb Big Blocks = ", uint64(fNbBigBlocks));
    AppendLine(out, "Nb Used Big Blocks = ", uint64(fNbUsedBigBlocks));
    AppendLine(out, "Nb Free Big Blocks = ", uint64(fNbFreeBigBlocks));
    AppendLine(out, "Nb Pages containing small blocks = ", uint64(fNbPagesSmallBlocks));
    AppendLine(out, "Nb Small Blocks = ", uint64(fNbSmallBlocks));
    AppendLine(out, "Nb Used Small Blocks = ", uint64(fNbUsedSmallBlocks));
    AppendLine(out, "Nb Free Small Blocks = ", uint64(fNbFreeSmallBlocks));
    AppendLine(out, "Biggest Block = ", fBiggestBlock);
    AppendLine(out, "Biggest Free Block = ", fBiggestFreeBlock);
}

// ---- VLeaksChecker

bool VLeaksChecker::SetLeaksCheck(bool enabled) noexcept {
    return fEnabled.exchange(enabled);
}

void VLeaksChecker::RegisterBlock(XPosixStackCrawl& crawl) noexcept {
    if (!fEnabled.load(std::memory_order_relaxed)) return;
    int32 skip = fFramesToSkip.load(std::memory_order_relaxed);
    crawl.LoadFrames(uint32(skip < 0 ? 0 : skip), kLeakFrames);
    if (crawl.GetCount() > 0) fLeaksCount.fetch_add(1, std::memory_order_relaxed);
}

void VLeaksChecker::UnregisterBlock(const XPosixStackCrawl& crawl) noexcept {
    if (crawl.GetCount() > 0) fLeaksCount.fetch_sub(1, std::memory_order_relaxed);
}

const char* VLeaksChecker::LeaksHeadline(int32 count, char* buffer, size_t size) noexcept {
    if (count == 0) return "No memory leaks.\n";
    if (count == 1) return "You have one leak:\n\n";
    std::snprintf(buffer, size, "You have %i leaks:\n\n", count);
    return buffer;
}

// ---- VCppMemMgr

VMemoryHog* VCppMemMgr::RegisterMemHog() {
    auto hog = std::make_unique<VMemoryHog>(VTaskMgr::GetCurrentTaskID());
    VMemoryHog* registered = hog.get();
    StLocker<VCriticalSection> locker(fHogLock);
    fHogs.push_back(std::move(hog));
    return registered;
}

bool VCppMemMgr::UnRegisterMemHog(VMemoryHog* hog) {
    std::unique_ptr<VMemoryHog> removed;
    fHogLock.Lock();
    for (auto it = fHogs.begin(); it != fHogs.end(); ++it) {
        if (it->get() != hog) continue;
        removed = std::move(*it);
        fHogs.erase(it);
        break;
    }
    return fHogLock.Unlock();
}

int32 VCppMemMgr::CountMemHogs() const {
    StLocker<VCriticalSection> locker(fHogLock);
    return int32(fHogs.size());
}

VCppMemMgr::EAllocatorKind VCppMemMgr::AllocatorKindFromBundleValue(const char* value) noexcept {
    return value != nullptr && strcasecmp(value, "vela") == 0 ? kAllocator_vela : kAllocator_stdlib;
}

VCppMemMgr::VCppMemMgr(EAllocatorKind kind) {
    _Init(kind, false, false);
}

VCppMemMgr::VCppMemMgr(EAllocatorKind kind, bool flag1, bool flag2) {
    _Init(kind, flag1, flag2);
}

VCppMemMgr::~VCppMemMgr() {
    if (fImplCount > 0) VMemThreadCache::DetachAll(this);
}

void VCppMemMgr::_Init(EAllocatorKind kind, bool flag1, bool flag2) {
    if (kind == kAllocator_fromBundle) {
        std::optional<std::string> value = XPosixBundleInfo::GetMainBundleValue("MemoryAllocator");
        kind = AllocatorKindFromBundleValue(value ? value->c_str() : nullptr);
    }
    fFlag1 = flag1;
    fFlag2 = flag2;
    if (kind == kAllocator_vela) {
        for (VMemCppImpl& impl : fOwnImpls)
            impl.Init(this);
        fImplCount = kWantedImplementations;
        // Without a first region every request would fail until someone calls AddVirtualAllocation; when even
        // that region cannot be had, the C library serves instead.
        if (AddVirtualAllocation(kStartupAllocation, nullptr, false)) return;
        fImplCount = 0;
    }
    XPosixHeapGrowth::Configure();
    fStdlib = &fStdlibImpl;
}

void* VCppMemMgr::operator new(size_t size) noexcept {
    void* region = XPosixRuntime::MapPages(size + kManagerHeader, nullptr);
    if (region == nullptr) return nullptr;
    *static_cast<uint64*>(region) = size + kManagerHeader;
    return static_cast<char*>(region) + kManagerHeader;
}

void VCppMemMgr::operator delete(void* block) noexcept {
    if (block == nullptr) return;
    char* region = static_cast<char*>(block) - kManagerHeader;
    XPosixRuntime::UnmapPages(region, size_t(*reinterpret_cast<uint64*>(region)));
}

void* VCppMemMgr::Calloc(int32 count, size_t size, int32 tag) noexcept {
    if (count < 0 || _MadeToFail()) return nullptr;
    size_t total = 0;
    if (__builtin_mul_overflow(size_t(count), size, &total)) return nullptr;
    if (fStdlib == nullptr) {
        void* block = _MallocOwn(total, false, tag, -1);
        if (block != nullptr) std::memset(block, 0, total);
        return block;
    }
    void* block = std::calloc(total == 0 ? 1 : total, 1);
    XPosixHeapGrowth::NoteGrowth();
    return block;
}

void* VCppMemMgr::Realloc(void* block, size_t size) noexcept {
    if (block == nullptr) return Malloc(size, false, 0);
    if (size == 0) {
        Free(block);
        return nullptr;
    }
    void* moved = Malloc(size, false, kGrowTag);
    if (moved == nullptr) return nullptr;
    size_t oldSize = GetPtrSize(block);
    std::memcpy(moved, block, oldSize < size ? oldSize : size);
    Free(block);
    return moved;
}

size_t VCppMemMgr::GetPtrSize(void* block) const noexcept {
    if (fStdlib != nullptr) return fStdlib->GetPtrSize(block);
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return fOwnImpls[0].GetPtrSize(block);
}

void* VCppMemMgr::_Search(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept {
    if (preferredIndex >= 0 && preferredIndex < fImplCount) {
        if (void* block = fOwnImpls[size_t(preferredIndex)].Malloc(size, 0, isObject, tag)) return block;
    }
    int32 start = fCurrentIndex;
    for (int32 turn = 0; turn < fImplCount; ++turn) {
        int32 index = (start + turn) % fImplCount;
        if (index == preferredIndex || index == fPurgingIndex) continue;
        if (void* block = fOwnImpls[size_t(index)].Malloc(size, 0, isObject, tag)) return block;
    }
    return nullptr;
}

void VCppMemMgr::_Purge(std::unique_lock<std::recursive_mutex>& lock, size_t size, bool first) noexcept {
    int32 index = fCurrentIndex;
    fPurgingIndex = index;
    PurgeHandlerProc handler = fPurgeHandler;
    lock.unlock();
    // The handler may free memory through this manager.
    if (handler != nullptr) handler(index, static_cast<unsigned long>(size), first);
    lock.lock();
    fPurgingIndex = -1;
    ++fPurgesDone;
    fPurgeDone.notify_all();
    fCurrentIndex = (fCurrentIndex + 1) % fImplCount;
}

void VCppMemMgr::_WaitForPurge(std::unique_lock<std::recursive_mutex>& lock) noexcept {
    uint64 done = fPurgesDone;
    fPurgeDone.wait(lock, [&] { return fPurgesDone != done; });
}

void* VCppMemMgr::_MallocOwn(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept {
    if (size <= VMemThreadCache::kMaxRequest && preferredIndex < 0) {
        if (VMemThreadCache* cache = VMemThreadCache::Get(this)) {
            if (void* block = cache->Pop(size, isObject, tag)) return block;
            _RefillCache(*cache, size);
            if (void* block = cache->Pop(size, isObject, tag)) return block;
        }
    }
    return _MallocSearching(size, isObject, tag, preferredIndex);
}

void VCppMemMgr::_RefillCache(VMemThreadCache& cache, size_t size) noexcept {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    if (size > fLargestBlock) return;
    int32 preferred = cache.GetPreferredIndex() % fImplCount;
    for (uint32 i = 0; i < VMemThreadCache::kRefillBlocks; ++i) {
        void* block = _Search(size, false, 0, preferred);
        if (block == nullptr) return;
        cache.Push(block, VMemCppImpl::GetPageOf(block)->fBlockSize);
    }
}

void VCppMemMgr::_ReleaseCachedBlocks(void* chain) noexcept {
    if (chain == nullptr) return;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    while (chain != nullptr) {
        void* next = VMemThreadCache::NextTaken(chain);
        fOwnImpls[0].Free(chain);
        chain = next;
    }
}

void VCppMemMgr::ReleaseThreadCache() noexcept {
    if (fStdlib != nullptr) return;
    if (VMemThreadCache* cache = VMemThreadCache::Get(this)) _ReleaseCachedBlocks(cache->TakeAll());
}

void* VCppMemMgr::_MallocSearching(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept {
    std::unique_lock<std::recursive_mutex> lock(fLock);
    if (size > fLargestBlock) return nullptr;
    const int32 start = fCurrentIndex;
    bool first = true;
    // Each purge, ours or another thread's, moves the current index on by one: a request survives one turn.
    for (int32 purges = 0; purges < fImplCount;) {
        if (void* block = _Search(size, isObject, tag, preferredIndex)) return block;
        preferredIndex = -1;
        if (fPurgingIndex == -1) {
            _Purge(lock, size, first);
            first = false;
            if (void* block = _Search(size, isObject, tag, -1)) return block;
        } else {
            _WaitForPurge(lock);
        }
        ++purges;
        if (fCurrentIndex == start) break;
    }
    return nullptr;
}

void VCppMemMgr::_FreeOwn(void* block) noexcept {
    const VPageAllocationImpl* page = VMemCppImpl::GetPageOf(block);
    // A block of another manager's page must go back to that manager's allocator, under its lock: the page's
    // owner lies inside this manager's implementations when it is one of ours.
    auto owner = reinterpret_cast<uintptr_t>(page != nullptr ? page->fOwner : nullptr);
    auto impls = reinterpret_cast<uintptr_t>(fOwnImpls.data());
    if (owner - impls < sizeof(fOwnImpls) &&
        page->fBlockSize <= VMemThreadCache::kMaxRequest + VMemCppImpl::kSmallHeaderSize) {
        if (VMemThreadCache* cache = VMemThreadCache::Get(this)) {
            if (cache->Push(block, page->fBlockSize)) return;
            _ReleaseCachedBlocks(cache->Take(page->fBlockSize, VMemThreadCache::kMaxBlocks / 2));
            cache->Push(block, page->fBlockSize);
            return;
        }
    }
    std::lock_guard<std::recursive_mutex> guard(fLock);
    fOwnImpls[0].Free(block);
}

bool VCppMemMgr::AddVirtualAllocation(size_t size, const void*, bool physical) noexcept {
    if (fStdlib != nullptr || fImplCount == 0) return false;
    if (size < kMinVirtualAllocation) return true;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    size_t part = size / size_t(fImplCount);
    for (int32 index = 0; index < fImplCount; ++index) {
        void* region = XPosixRuntime::MapPages(part, nullptr);
        if (region == nullptr) return false;
        fOwnImpls[size_t(index)].AddAlreadyAllocatedMem(region, part, physical);
        fLargestBlock = std::max<uint64>(fLargestBlock, part);
    }
    return true;
}

int32 VCppMemMgr::CountVirtualAllocations() const noexcept {
    if (fStdlib != nullptr) return fStdlib->CountAllocations();
    std::lock_guard<std::recursive_mutex> guard(fLock);
    int32 count = 0;
    for (int32 index = 0; index < fImplCount; ++index)
        count += fOwnImpls[size_t(index)].CountAllocations();
    return count;
}

int32 VCppMemMgr::GetAllocationBlockNumber(void* block) const noexcept {
    if (fStdlib != nullptr) return 0;
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return VMemCppImpl::GetAllocationBlockNumber(block);
}

VCppMemMgr::PurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(PurgeHandlerProc proc) noexcept {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    PurgeHandlerProc previous = fPurgeHandler;
    fPurgeHandler = proc;
    return previous;
}

void VCppMemMgr::PurgeMem(int32 index) noexcept {
    if (fStdlib != nullptr) return;
    std::unique_lock<std::recursive_mutex> lock(fLock);
    while (fPurgingIndex != -1)
        _WaitForPurge(lock);
    fPurgingIndex = index == -1 ? 0 : index;
    PurgeHandlerProc handler = fPurgeHandler;
    lock.unlock();
    if (handler != nullptr) handler(index, 0, true);
    lock.lock();
    fPurgingIndex = -1;
    ++fPurgesDone;
    fPurgeDone.notify_all();
}

void* VCppMemMgr::TryToMalloc(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept {
    if (fStdlib != nullptr) return _MadeToFail() ? nullptr : fStdlib->Malloc(size);
    // Under the lock all the same: the implementations are not thread-safe, and the lock is recursive.
    std::lock_guard<std::recursive_mutex> guard(fLock);
    return _Search(size, isObject, tag, preferredIndex);
}

size_t VCppMemMgr::GetAllocatedMem() const noexcept {
    if (fStdlib != nullptr) return size_t(fStdlib->GetTotalAllocation());
    std::lock_guard<std::recursive_mutex> guard(fLock);
    uint64 total = 0;
    for (int32 index = 0; index < fImplCount; ++index)
        total += fOwnImpls[size_t(index)].GetTotalAllocation();
    return size_t(total);
}

void VCppMemMgr::GetMemStatistics(size_t& s1, size_t& s2, size_t& allocated, size_t& s4, size_t& s5, size_t& s6,
                                  size_t& s7, size_t& s8, size_t& s9) const noexcept {
    s1 = s2 = s4 = s5 = s6 = s7 = s8 = s9 = 0;
    allocated = GetAllocatedMem();
}

void VCppMemMgr::GetMemUsageInfo(size_t& total, size_t& used) const noexcept {
    total = 0;
    used = 0;
    if (fStdlib != nullptr) {
        fStdlib->GetMemUsageInfo(total, used);
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(fLock);
    for (int32 index = 0; index < fImplCount; ++index)
        fOwnImpls[size_t(index)].GetMemUsageInfo(total, used);
}

void VCppMemMgr::GetStatistics(VMemStats& stats, int32 index) const {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    stats.Clear();
    // The maps too, or a second call would count every block twice.
    stats.fObjectsByClass.clear();
    stats.fBlocksByTag.clear();
    if (fStdlib != nullptr) {
        fStdlib->GetStats(stats, int16(index));
        return;
    }
    for (int32 i = 0; i < fImplCount; ++i) {
        if (index < 0 || index >= fImplCount || index == i) fOwnImpls[size_t(i)].GetStats(stats, int16(i));
    }
}

// ---- VMemory

void* VMemory::_NewPtrWithoutManager(size_t size, int32 tag) noexcept {
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    return manager != nullptr ? manager->Malloc(size, false, tag) : std::malloc(size);
}

void* VMemory::NewPtrClear(size_t size, int32 tag) noexcept {
    void* block = NewPtr(size, tag);
    if (block != nullptr) std::memset(block, 0, size);
    return block;
}

void* VMemory::SetPtrSize(void* block, size_t size) noexcept {
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    return manager != nullptr ? manager->Realloc(block, size) : nullptr;
}

size_t VMemory::GetPtrSize(void* block) noexcept {
    VCppMemMgr* manager = VObject::GetMainMemMgr();
    return manager != nullptr ? manager->GetPtrSize(block) : malloc_usable_size(block);
}

} // namespace vela
