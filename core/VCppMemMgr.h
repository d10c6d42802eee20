#pragma once

#include "core/VCriticalSection.h"
#include "core/VMemCppImpl.h"
#include "core/VObject.h"
#include "core/VTypes.h"
#include "core/platform/XPosixHeapGrowth.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <vector>

namespace vela {

class VFileStream;
class VStream;
class VString;
class VMemThreadCache;
class XPosixStackCrawl;

// Count and bytes of a family of blocks in the statistics.
struct VObjectInfo {
    int32 fCount = 0;
    int64 fMemory = 0;
};

// Statistics record that the back ends fill.
class VMemStats {
public:
    uint64 fFreeMem = 0;
    uint64 fUsedMem = 0;
    int32 fNbPagesSmallBlocks = 0;
    int32 fNbObjects = 0;
    int32 fNbSmallBlocks = 0;
    int32 fNbFreeSmallBlocks = 0;
    int32 fNbUsedSmallBlocks = 0;
    int32 fNbBigBlocks = 0;
    int32 fNbFreeBigBlocks = 0;
    int32 fNbUsedBigBlocks = 0;
    uint64 fBiggestBlock = 0;
    uint64 fBiggestFreeBlock = 0;
    std::map<std::type_index, VObjectInfo> fObjectsByClass;
    std::map<int32, VObjectInfo> fBlocksByTag;

    // Zeroes the scalar fields.
    void Clear() noexcept;
    // Writes the text report (used and free memory, objects by class, blocks by tag) to the stream.
    void DumpToStream(VStream* stream) const;
    // Builds the longer report; the text is handed back for the caller to show.
    void Dump(VString& out) const;

private:
    // The text DumpToStream writes.
    void _GetStreamReport(VString& out) const;
};

// Counts the blocks that were registered with a stack crawl, and opens the leaks report file.
class VLeaksChecker {
public:
    virtual ~VLeaksChecker() = default;

    // Answers the previous setting.
    bool SetLeaksCheck(bool enabled) noexcept;
    void SetStackFramesToSkip(int32 frames) noexcept { fFramesToSkip.store(frames, std::memory_order_relaxed); }
    int32 GetLeaksCount() const noexcept { return fLeaksCount.load(std::memory_order_relaxed); }

    // When enabled, loads at most 8 frames of the caller's stack into crawl (after the frames to skip); a crawl
    // with frames counts one more leak. Safe from several threads.
    void RegisterBlock(XPosixStackCrawl& crawl) noexcept;
    // A crawl with frames counts one leak less.
    void UnregisterBlock(const XPosixStackCrawl& crawl) noexcept;

    // Opens "<bundle path without extension>.<name>.leaks" for writing, replacing an old report, and writes its
    // header; the caller completes the stream, closes it and deletes it. Null when the bundle path is empty or
    // the file cannot be opened. Defined with the file streams (files/VLeaksDumpFile.cpp).
    VFileStream* OpenDumpFile(const char* name) const;
    // As OpenDumpFile for the bundle at bundlePath (POSIX, UTF-8).
    VFileStream* OpenDumpFileOfBundle(const std::string& bundlePath, const char* name) const;
    // The header of the leaks report for a leak count.
    static const char* LeaksHeadline(int32 count, char* buffer, size_t size) noexcept;

private:
    std::atomic<int32> fFramesToSkip{4};
    std::atomic<int32> fLeaksCount{0};
    std::atomic<bool> fEnabled{false};
};

// A client that holds memory a purge may ask back: its own lock and the task that registered it.
class VMemoryHog {
public:
    explicit VMemoryHog(int32 taskID) noexcept : fTaskID(taskID) {}
    VMemoryHog(const VMemoryHog&) = delete;
    VMemoryHog& operator=(const VMemoryHog&) = delete;

    int32 GetTaskID() const noexcept { return fTaskID; }
    VCriticalSection& GetLock() noexcept { return fLock; }

private:
    VCriticalSection fLock;
    int32 fTaskID;
};

// The process-wide allocator. Every request carries a four-character tag saying what the block is for.
class VCppMemMgr {
public:
    enum EAllocatorKind {
        kAllocator_fromBundle = 0, // "MemoryAllocator" of the main bundle: "vela" (any case) or the C library
        kAllocator_stdlib = 1,
        kAllocator_vela = 2,
    };

    // Answers the purge handler's freed size; its result is ignored.
    using PurgeHandlerProc = unsigned long (*)(int index, unsigned long size, bool first);

    explicit VCppMemMgr(EAllocatorKind kind);
    VCppMemMgr(EAllocatorKind kind, bool flag1, bool flag2);
    virtual ~VCppMemMgr();

    VCppMemMgr(const VCppMemMgr&) = delete;
    VCppMemMgr& operator=(const VCppMemMgr&) = delete;

    // The manager lives in its own virtual-memory region, never in the allocator it implements; null when
    // no region can be had.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    // A block of size bytes, or null. isObject marks a block that holds a VObject; preferredIndex names the own
    // implementation to ask first.
    void* Malloc(size_t size, bool isObject, int32 tag, int32 preferredIndex = -1) noexcept {
        if (_MadeToFail()) return nullptr;
        return fStdlib != nullptr ? fStdlib->Malloc(size) : _MallocOwn(size, isObject, tag, preferredIndex);
    }
    // count × size zero-filled bytes; null for a negative count or when the product overflows.
    void* Calloc(int32 count, size_t size, int32 tag) noexcept;
    // Null is ignored.
    void Free(void* block) noexcept {
        if (block == nullptr) return;
        if (fStdlib != nullptr) {
            fStdlib->Free(block);
        } else {
            _FreeOwn(block);
        }
    }
    // Always moves the block: null block allocates, size 0 frees and answers null, and a failure answers null
    // and leaves the old block valid.
    void* Realloc(void* block, size_t size) noexcept;
    // The usable size of a block.
    size_t GetPtrSize(void* block) const noexcept;

    // The own allocator receives memory in regions: a size below 10 MiB does nothing and answers true; otherwise
    // each implementation gets a region of an equal part, and blocks up to that part are accepted. False when a
    // region cannot be had (regions already given stay), and on the C library back end.
    bool AddVirtualAllocation(size_t size, const void* hint, bool physical) noexcept;
    int32 CountVirtualAllocations() const noexcept;
    // The index of the own implementation that made block (0 on the C library back end).
    int32 GetAllocationBlockNumber(void* block) const noexcept;
    // Called with the allocation lock released when every implementation is full; answers the previous handler.
    PurgeHandlerProc SetPurgeHandlerProc(PurgeHandlerProc proc) noexcept;
    // Runs the purge handler for index (first = true) once no other purge runs; own allocator only.
    void PurgeMem(int32 index) noexcept;
    // One search pass of Malloc (preferredIndex, then round-robin), without size limit or purge.
    void* TryToMalloc(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept;

    // A hog for the calling task, owned by the manager until unregistered.
    VMemoryHog* RegisterMemHog();
    // Removes and destroys hog; a hog that is not registered is left alone. Answers the unlock's result.
    bool UnRegisterMemHog(VMemoryHog* hog);
    int32 CountMemHogs() const;
    // The lock of the hog list (free between calls).
    const VCriticalSection& GetHogLock() const noexcept { return fHogLock; }

    // Answers its argument: a vetting hook for object pointers handed to the formatter.
    static const void* CheckVObject(const void* object) noexcept { return object; }

    size_t GetAllocatedMem() const noexcept;
    size_t GetMaxFree() const noexcept { return 0; }
    void GetMemStatistics(size_t& s1, size_t& s2, size_t& allocated, size_t& s4, size_t& s5, size_t& s6, size_t& s7,
                          size_t& s8, size_t& s9) const noexcept;
    void GetMemUsageInfo(size_t& total, size_t& used) const noexcept;
    void GetStatistics(VMemStats& stats, int32 index) const;

    bool UsesStdlib() const noexcept { return fStdlib != nullptr; }
    // Gives the small blocks the calling thread keeps for its next requests back to the own allocator (they
    // count as used until then, and go back by themselves when the thread ends).
    void ReleaseThreadCache() noexcept;
    // The number of own implementations in use (0 on the C library back end).
    int32 CountImplementations() const noexcept { return fImplCount; }
    VLeaksChecker& GetLeaksChecker() noexcept { return fLeaksChecker; }

    // The memory the own allocator reserves when it is chosen, so that it serves blocks before any
    // AddVirtualAllocation.
    static constexpr size_t kStartupAllocation = size_t(64) << 20;
    // AddVirtualAllocation below this size does nothing.
    static constexpr size_t kMinVirtualAllocation = size_t(10) << 20;

    // Chooses the back end for kind 0 from the value of "MemoryAllocator" (null when the key is absent).
    static EAllocatorKind AllocatorKindFromBundleValue(const char* value) noexcept;

    // Test builds only (VELA_TEST_SEAMS): while set, every Malloc and Calloc of every manager answers null, as
    // when memory is exhausted.
    static std::atomic<bool> sFailAllocations;

private:
    friend class VMemThreadCache;
    static constexpr int32 kWantedImplementations = 4;

    void _Init(EAllocatorKind kind, bool flag1, bool flag2);
    static bool _MadeToFail() noexcept;
    // Small requests are served from the calling thread's cache when they can.
    void* _MallocOwn(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept;
    // The search with the purge turn, under the lock.
    void* _MallocSearching(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept;
    void _FreeOwn(void* block) noexcept;
    // Takes blocks for size bytes into the cache in one pass under the lock.
    void _RefillCache(VMemThreadCache& cache, size_t size) noexcept;
    // Frees a chain of blocks that a cache gave up.
    void _ReleaseCachedBlocks(void* chain) noexcept;
    // One pass over the implementations: the preferred one, then round-robin from the current index, skipping
    // the one being purged. Under the lock.
    void* _Search(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept;
    // Runs the purge handler for the current index with the lock released, then wakes the waiters and moves
    // the current index on.
    void _Purge(std::unique_lock<std::recursive_mutex>& lock, size_t size, bool first) noexcept;
    // Waits, with the lock released, for the running purge to end.
    void _WaitForPurge(std::unique_lock<std::recursive_mutex>& lock) noexcept;

    mutable std::recursive_mutex fLock;
    // Held by value: the manager lives in pages the leak checker does not scan, so a heap back end would
    // look leaked.
    VMemCppImpl_stdlib fStdlibImpl;
    VMemCppImpl_stdlib* fStdlib = nullptr;
    std::array<VMemCppImpl, kWantedImplementations> fOwnImpls{VMemCppImpl(0), VMemCppImpl(1), VMemCppImpl(2),
                                                              VMemCppImpl(3)};
    int32 fImplCount = 0;
    int32 fCurrentIndex = 0;
    int32 fPurgingIndex = -1;
    uint64 fLargestBlock = 0;
    // Waiters for a purge wait for the count of finished purges to move.
    std::condition_variable_any fPurgeDone;
    uint64 fPurgesDone = 0;
    PurgeHandlerProc fPurgeHandler = nullptr;
    // The threads' caches that serve this manager, under the caches' registry lock.
    VMemThreadCache* fCaches = nullptr;
    bool fFlag1 = false;
    bool fFlag2 = false;
    VLeaksChecker fLeaksChecker;
    // The hog list has its own lock, independent of the allocation lock.
    mutable VCriticalSection fHogLock;
    std::vector<std::unique_ptr<VMemoryHog>> fHogs;
};

inline bool VCppMemMgr::_MadeToFail() noexcept {
#ifdef VELA_TEST_SEAMS
    return sFailAllocations.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

// Static wrappers over the process-wide manager.
class VMemory {
public:
    VMemory() = delete;

    // A block of size bytes, or null; makes the manager on first use.
    static void* NewPtr(size_t size, int32 tag) noexcept {
        VCppMemMgr* manager = VObject::sCppMemMgr.load(std::memory_order_acquire);
        return manager != nullptr ? manager->Malloc(size, false, tag) : _NewPtrWithoutManager(size, tag);
    }
    static void* NewPtrClear(size_t size, int32 tag) noexcept;
    // Null is ignored; safe before the manager exists.
    static void DisposePtr(void* block) noexcept {
        if (block == nullptr) return;
        VCppMemMgr* manager = VObject::sCppMemMgr.load(std::memory_order_acquire);
        // Without a manager every block came from the C library back end.
        if (manager != nullptr) {
            manager->Free(block);
        } else {
            std::free(block);
        }
    }
    static void* SetPtrSize(void* block, size_t size) noexcept;
    static size_t GetPtrSize(void* block) noexcept;

private:
    // The slow path of NewPtr: makes the manager.
    static void* _NewPtrWithoutManager(size_t size, int32 tag) noexcept;
};

} // namespace vela
