// Internal to the memory manager: the back ends it sits in front of.
#pragma once

#include "core/VTypes.h"
#include "core/platform/XPosixHeapGrowth.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace vela {

class VCppMemMgr;
class VMemCppImpl;
class VMemStats;
class VMemThreadImpl;

// What the memory manager asks of a back end. Failures are null or false results; nothing is reported here.
class XMemCppImpl {
public:
    XMemCppImpl() noexcept = default;
    XMemCppImpl(const XMemCppImpl&) = delete;
    XMemCppImpl& operator=(const XMemCppImpl&) = delete;
    virtual ~XMemCppImpl() = default;

    virtual void Init(VCppMemMgr* manager) noexcept = 0;
    // pageRequest asks for a big block that will hold a page of small blocks; isObject marks a VObject's block.
    virtual void* Malloc(size_t size, uint8 pageRequest, uint8 isObject, int32 tag) noexcept = 0;
    virtual void Free(void* block) noexcept = 0;
    // Always moves the block; null when the new block cannot be had (the old one stays).
    virtual void* Realloc(void* block, size_t size) noexcept = 0;
    // The bytes the caller may use; 0 for null.
    virtual size_t GetPtrSize(const void* block) const noexcept = 0;
    // Whether block looks like a block in use of this back end.
    virtual bool CheckPtr(const void* block) const noexcept = 0;
    // Whether every block of the back end is consistent.
    virtual bool Check(void* unused) const noexcept = 0;
    // Gives the back end a region of size bytes of its own; false when none was added.
    virtual bool AddAllocation(size_t size, const void* hint, uint8 physical) noexcept = 0;
    virtual int32 CountAllocations() const noexcept = 0;
    virtual void SetAutoAllocationState(bool on) noexcept = 0;
    // Adds this back end's numbers to stats.
    virtual void GetStats(VMemStats& stats, int16 index) const = 0;
    virtual uint64 GetTotalAllocation() const noexcept = 0;
    // Adds the bytes of the regions to total and the bytes given out to used.
    virtual void GetMemUsageInfo(size_t& total, size_t& used) const noexcept = 0;
};

// The C library back end. Inline and final: these calls sit on every allocation's path.
class VMemCppImpl_stdlib final : public XMemCppImpl {
public:
    void Init(VCppMemMgr*) noexcept override {}
    void* Malloc(size_t size, uint8 = 0, uint8 = 0, int32 = 0) noexcept override {
        void* block = std::malloc(size);
        XPosixHeapGrowth::NoteGrowth();
        return block;
    }
    void Free(void* block) noexcept override { std::free(block); }
    void* Realloc(void* block, size_t size) noexcept override { return std::realloc(block, size); }
    size_t GetPtrSize(const void* block) const noexcept override;
    bool CheckPtr(const void*) const noexcept override { return true; }
    bool Check(void*) const noexcept override { return true; }
    bool AddAllocation(size_t, const void*, uint8) noexcept override { return false; }
    int32 CountAllocations() const noexcept override { return 1; }
    void SetAutoAllocationState(bool) noexcept override {}
    void GetStats(VMemStats&, int16) const override {}
    uint64 GetTotalAllocation() const noexcept override { return 1048576; }
    void GetMemUsageInfo(size_t& total, size_t& used) const noexcept override {
        total += 1048576;
        used += 0;
    }
};

// A virtual-memory region of an own back end: this header, then big blocks carved upwards from offset 56 (which
// keeps the callers' bytes 16-byte aligned). Offsets count from the first block.
class VMemImplAllocation {
public:
    static constexpr size_t kHeaderSize = 56;

    // Sets up the header of a fresh region of size bytes (capacity size - 64, nothing carved).
    void Init(VMemCppImpl* owner, size_t size, bool physical) noexcept;

    // Carves a used block of size bytes at the end; null when the region has no room. Adds its size to used.
    void* AllocateAtTheEnd(size_t size, uint64& used, bool isObject, bool pageRequest, int32 tag) noexcept;
    // Whether the block ends where carving stopped.
    bool IsLastBlock(const void* header) const noexcept;
    bool Contains(const void* address) const noexcept;
    // Pulls the end back to the start of the block at header (which, and all above it, is no longer in use).
    void ReduceFrom(void* header) noexcept;

    char* GetFirstBlock() noexcept { return reinterpret_cast<char*>(this) + kHeaderSize; }
    const char* GetFirstBlock() const noexcept { return reinterpret_cast<const char*>(this) + kHeaderSize; }
    char* GetEnd() noexcept { return GetFirstBlock() + fEnd; }
    const char* GetEnd() const noexcept { return GetFirstBlock() + fEnd; }
    bool IsEmpty() const noexcept { return fEnd == 0; }

    VMemCppImpl* fOwner;
    VMemImplAllocation* fNext;
    VMemImplAllocation* fPrevious;
    uint64 fCapacity;
    uint64 fEnd;
    uint64 fLastBlockSize;
    bool fPhysical;
};
static_assert(sizeof(VMemImplAllocation) == VMemImplAllocation::kHeaderSize);

// A page of equal small blocks, itself the payload of a big block: this header, then the blocks.
class VPageAllocationImpl {
public:
    static constexpr size_t kHeaderSize = 56;

    VPageAllocationImpl(VMemThreadImpl* owner, size_t pageSize, size_t blockSize) noexcept;

    // A block of the page (caller's bytes), or null when the page is full. Adds the block size to used.
    void* Malloc(bool isObject, int32 tag, uint64& used) noexcept;
    // Puts the block (its header) on the free list; subtracts the block size from used.
    void Free(void* header, uint64& used) noexcept;
    bool IsBlockFree(const void* header) const noexcept;
    // Counts within the block count and a free list inside the page.
    bool Check() const noexcept;
    // Adds the page's small blocks; full is set when no block is free or never used.
    void GetStats(VMemStats& stats, bool& full) const noexcept;

    bool IsFull() const noexcept { return fUsedCount == fBlockCount; }
    uint64 GetCapacity() const noexcept { return uint64(fBlockCount) * fBlockSize; }
    bool ContainsBlock(const void* header) const noexcept;

    VMemThreadImpl* fOwner;
    void* fFreeList;
    VPageAllocationImpl* fNext;
    VPageAllocationImpl* fPrevious;
    uint64 fPageSize;
    uint64 fEnd;
    uint16 fFreeCount;
    uint16 fUsedCount;
    uint16 fBlockCount;
    uint16 fBlockSize;
};
static_assert(sizeof(VPageAllocationImpl) == VPageAllocationImpl::kHeaderSize);

// Small blocks (requests up to 8,191 bytes) from pages of equal blocks, one list of non-full pages per size step.
class VMemThreadImpl {
public:
    static constexpr int32 kStepCount = 132;

    explicit VMemThreadImpl(VMemCppImpl* owner) noexcept;

    // The step of a block of size bytes (header included, at most 8,199) and its rounding granule.
    static int32 GetStepFromSize(size_t size, int32* granule) noexcept;
    // size rounded up to its step's block size.
    static size_t GetBlockSize(size_t size) noexcept;
    // The payload size of the page that holds blocks of blockSize bytes.
    static size_t GetPageSize(size_t blockSize) noexcept;

    // A small block for size bytes (header included); null when no page can be had.
    void* Malloc(size_t size, bool isObject, int32 tag) noexcept;
    void MarkPageAsFull(VPageAllocationImpl* page) noexcept;
    void MarkPageAsNotFull(VPageAllocationImpl* page) noexcept;
    // Takes the page off its list and frees its big block.
    void RemovePage(VPageAllocationImpl* page) noexcept;

    VMemCppImpl* GetOwner() const noexcept { return fOwner; }

private:
    void _Unlink(VPageAllocationImpl* page) noexcept;

    VMemCppImpl* fOwner;
    VPageAllocationImpl* fPages[kStepCount] = {};
};

// The library's own allocator: big blocks in 1 KiB steps carved from regions, and small blocks from pages. Not
// thread-safe: the memory manager calls it under its allocation lock.
class VMemCppImpl final : public XMemCppImpl {
public:
    static constexpr int32 kStepCount = 1026;
    static constexpr size_t kBigHeaderSize = 24;
    static constexpr size_t kSmallHeaderSize = 8;
    // Requests up to this size (not page requests) are small blocks.
    static constexpr size_t kMaxSmallRequest = 8191;
    // Requests above this size fail.
    static constexpr size_t kMaxRequest = 2147481598;
    // A free block that exceeds a request by less than this is given whole.
    static constexpr size_t kMinSplit = 8192;
    // Regions below this size are refused.
    static constexpr size_t kMinRegion = 65536;
    // The smallest region that auto allocation adds.
    static constexpr size_t kAutoRegion = size_t(20) << 20;

    explicit VMemCppImpl(int32 index) noexcept;
    ~VMemCppImpl() override;

    void Init(VCppMemMgr* manager) noexcept override { fManager = manager; }
    void* Malloc(size_t size, uint8 pageRequest, uint8 isObject, int32 tag) noexcept override;
    // Frees through the implementation that made the block.
    void Free(void* block) noexcept override;
    void* Realloc(void* block, size_t size) noexcept override;
    size_t GetPtrSize(const void* block) const noexcept override;
    bool CheckPtr(const void* block) const noexcept override;
    bool Check(void* unused) const noexcept override;
    // Sizes below 64 KiB are refused.
    bool AddAllocation(size_t size, const void* hint, uint8 physical) noexcept override;
    int32 CountAllocations() const noexcept override;
    void SetAutoAllocationState(bool on) noexcept override { fAutoAllocation = on; }
    void GetStats(VMemStats& stats, int16 index) const override;
    uint64 GetTotalAllocation() const noexcept override { return fTotalAllocation; }
    void GetMemUsageInfo(size_t& total, size_t& used) const noexcept override;

    // Takes a region the manager already mapped; the implementation gives it back when it is destroyed.
    void AddAlreadyAllocatedMem(void* region, size_t size, bool physical) noexcept;
    // The index of the implementation that made block.
    static int32 GetAllocationBlockNumber(const void* block) noexcept;
    // The implementation that made block (caller's bytes).
    static VMemCppImpl* GetOwnerOf(const void* block) noexcept;
    // The tag recorded with block.
    static int32 GetTag(const void* block) noexcept;
    // The page that holds block, or null for a big block.
    static const VPageAllocationImpl* GetPageOf(const void* block) noexcept;
    // Marks a small block (caller's bytes) handed out again with the object flag and the tag.
    static void RewriteSmallHeader(void* block, bool isObject, int32 tag) noexcept;

    // The free-list step of a block of size bytes (rounded down) and of a request (rounded up, with its granule:
    // 1,024, or 0 above 1 MiB).
    static int32 GetExactStepFromSize(size_t size) noexcept;
    static int32 GetStepFromSize(size_t size, int32* granule) noexcept;

    int32 GetIndex() const noexcept { return fIndex; }
    VCppMemMgr* GetManager() const noexcept { return fManager; }
    uint64 GetUsed() const noexcept { return fUsed; }
    VMemThreadImpl& GetSmallBlocks() noexcept { return fSmallBlocks; }

private:
    friend class VMemThreadImpl;

    void* _MallocBig(size_t size, bool pageRequest, bool isObject, int32 tag) noexcept;
    void* _TakeFromList(int32 step, size_t blockSize, bool pageRequest, bool isObject, int32 tag) noexcept;
    void* _UseFreeBlock(char* header, size_t blockSize, bool pageRequest, bool isObject, int32 tag) noexcept;
    void _FreeSmall(void* header) noexcept;
    void _FreeBig(char* header) noexcept;
    char* _MergeContiguousFreeBlock(char* lower, char* upper) noexcept;
    void _ListFreeBlock(char* header) noexcept;
    void _UnlistFreeBlock(char* header) noexcept;
    bool _AddRegion(void* region, size_t size, bool physical) noexcept;
    void _ReleaseRegion(VMemImplAllocation* region) noexcept;
    bool _CheckRegion(const VMemImplAllocation* region) const noexcept;

    VMemThreadImpl fSmallBlocks;
    VCppMemMgr* fManager = nullptr;
    VMemImplAllocation* fRegions = nullptr;
    char* fFreeLists[kStepCount] = {};
    uint64 fTotalAllocation = 0;
    uint64 fUsed = 0;
    int32 fIndex;
    bool fAutoAllocation = false;
};

inline const VPageAllocationImpl* VMemCppImpl::GetPageOf(const void* block) noexcept {
    const char* header = static_cast<const char*>(block) - kSmallHeaderSize;
    // A big block has its non-negative previous size there, which a neighbour may rewrite meanwhile. The back
    // offset is the negated distance from the page to the header, with bit 0 the object flag.
    int32 backOffset = __atomic_load_n(reinterpret_cast<const int32*>(header), __ATOMIC_RELAXED);
    if (backOffset >= 0) return nullptr;
    return reinterpret_cast<const VPageAllocationImpl*>(header + (backOffset & ~1));
}

inline void VMemCppImpl::RewriteSmallHeader(void* block, bool isObject, int32 tag) noexcept {
    int32 header[2];
    char* at = static_cast<char*>(block) - kSmallHeaderSize;
    std::memcpy(header, at, sizeof(header));
    header[0] = (header[0] & ~1) | (isObject ? 1 : 0);
    header[1] = tag;
    std::memcpy(at, header, sizeof(header));
}

} // namespace vela
