#include "core/VMemCppImpl.h"

#include "core/VCppMemMgr.h"
#include "core/VMemPoison.h"
#include "core/platform/XPosixRuntime.h"

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>
#include <malloc.h>
#include <new>

namespace vela {

// ---- VMemCppImpl_stdlib

size_t VMemCppImpl_stdlib::GetPtrSize(const void* block) const noexcept {
    return block != nullptr ? malloc_usable_size(const_cast<void*>(block)) : 0;
}

namespace {

// Big block header: region, size word (bit 0 object, bit 1 page; negated when free), 4 unused bytes, the size of
// the block below, the tag. A free block keeps its list links in the first 16 bytes of its payload.
struct VBigHeader {
    VMemImplAllocation* fRegion;
    int32 fSize;
    int32 fUnused;
    int32 fPreviousSize;
    int32 fTag;
};
static_assert(sizeof(VBigHeader) == VMemCppImpl::kBigHeaderSize);

// Small block header: the negated distance from its page (bit 0 object), the tag.
struct VSmallHeader {
    int32 fBackOffset;
    int32 fTag;
};
static_assert(sizeof(VSmallHeader) == VMemCppImpl::kSmallHeaderSize);

constexpr int32 kObjectBit = 1;
constexpr int32 kPageBit = 2;
constexpr size_t kOneMiB = size_t(1) << 20;
// Requests below this size are carved in 1 KiB steps.
constexpr size_t kLastStepRequest = 1048553;

VBigHeader* Big(void* header) noexcept {
    return static_cast<VBigHeader*>(header);
}
const VBigHeader* Big(const void* header) noexcept {
    return static_cast<const VBigHeader*>(header);
}

size_t BigSize(const void* header) noexcept {
    int32 word = Big(header)->fSize;
    return word < 0 ? size_t(-int64(word)) : size_t(word & ~(kObjectBit | kPageBit));
}

// The previous size of a block in use changes when its neighbour below is split or merged, while the thread that
// frees it may read the same word without the lock to tell a small block from a big one (VCppMemMgr::Free):
// an atomic store, whose sign never changes.
void SetPreviousSize(char* header, size_t size) noexcept {
    __atomic_store_n(&Big(header)->fPreviousSize, int32(size), __ATOMIC_RELAXED);
}

bool IsFreeBig(const void* header) noexcept {
    return Big(header)->fSize < 0;
}

// Whether a caller's pointer is a small block: the word before it is a back offset (negative) rather than a
// big block's previous size.
bool IsSmall(const void* block) noexcept {
    return static_cast<const VSmallHeader*>(block)[-1].fBackOffset < 0;
}

VPageAllocationImpl* PageOf(const void* smallHeader) noexcept {
    const void* block = static_cast<const char*>(smallHeader) + VMemCppImpl::kSmallHeaderSize;
    return const_cast<VPageAllocationImpl*>(VMemCppImpl::GetPageOf(block));
}

// Big free lists: links at payload offsets 0 (next) and 8 (previous), both block headers.
char* NextFree(const char* header) noexcept {
    return static_cast<char*>(MemLoadLink(header + VMemCppImpl::kBigHeaderSize));
}
char* PreviousFree(const char* header) noexcept {
    return static_cast<char*>(MemLoadLink(header + VMemCppImpl::kBigHeaderSize + 8));
}
void SetNextFree(char* header, const char* next) noexcept {
    MemStoreLink(header + VMemCppImpl::kBigHeaderSize, next);
}
void SetPreviousFree(char* header, const char* previous) noexcept {
    MemStoreLink(header + VMemCppImpl::kBigHeaderSize + 8, previous);
}

void CountByTag(VMemStats& stats, int32 tag, uint64 size) {
    VObjectInfo& info = stats.fBlocksByTag[tag];
    info.fCount += 1;
    info.fMemory += int64(size);
}

} // namespace

// ---- VMemImplAllocation

void VMemImplAllocation::Init(VMemCppImpl* owner, size_t size, bool physical) noexcept {
    fOwner = owner;
    fNext = nullptr;
    fPrevious = nullptr;
    fCapacity = size - 64;
    fEnd = 0;
    fLastBlockSize = 0;
    fPhysical = physical;
}

void* VMemImplAllocation::AllocateAtTheEnd(size_t size, uint64& used, bool isObject, bool pageRequest,
                                           int32 tag) noexcept {
    if (size > fCapacity - fEnd) return nullptr;
    char* header = GetEnd();
    MemUnpoison(header, size);
    *Big(header) = VBigHeader{this, int32(size) | (isObject ? kObjectBit : 0) | (pageRequest ? kPageBit : 0), 0,
                              int32(fLastBlockSize), tag};
    fLastBlockSize = size;
    fEnd += size;
    used += size;
    return header + VMemCppImpl::kBigHeaderSize;
}

bool VMemImplAllocation::IsLastBlock(const void* header) const noexcept {
    return static_cast<const char*>(header) + BigSize(header) == GetEnd();
}

bool VMemImplAllocation::Contains(const void* address) const noexcept {
    const char* at = static_cast<const char*>(address);
    return at >= GetFirstBlock() && at < GetEnd();
}

void VMemImplAllocation::ReduceFrom(void* header) noexcept {
    char* from = static_cast<char*>(header);
    fLastBlockSize = from == GetFirstBlock() ? 0 : uint64(Big(from)->fPreviousSize);
    MemPoison(from, size_t(GetEnd() - from));
    fEnd = uint64(from - GetFirstBlock());
}

// ---- VPageAllocationImpl

VPageAllocationImpl::VPageAllocationImpl(VMemThreadImpl* owner, size_t pageSize, size_t blockSize) noexcept
    : fOwner(owner), fFreeList(nullptr), fNext(nullptr), fPrevious(nullptr), fPageSize(pageSize), fEnd(kHeaderSize),
      fFreeCount(0), fUsedCount(0), fBlockCount(uint16((pageSize - kHeaderSize) / blockSize)),
      fBlockSize(uint16(blockSize)) {
    MemPoison(reinterpret_cast<char*>(this) + kHeaderSize, pageSize - kHeaderSize);
}

void* VPageAllocationImpl::Malloc(bool isObject, int32 tag, uint64& used) noexcept {
    char* header;
    if (fFreeList != nullptr) {
        header = static_cast<char*>(fFreeList);
        MemUnpoison(header + VMemCppImpl::kSmallHeaderSize, fBlockSize - VMemCppImpl::kSmallHeaderSize);
        fFreeList = MemLoadLink(header + VMemCppImpl::kSmallHeaderSize);
        --fFreeCount;
    } else if (fEnd + fBlockSize <= fPageSize) {
        header = reinterpret_cast<char*>(this) + fEnd;
        MemUnpoison(header, fBlockSize);
        fEnd += fBlockSize;
    } else {
        return nullptr;
    }
    ++fUsedCount;
    int32 distance = int32(header - reinterpret_cast<char*>(this));
    *reinterpret_cast<VSmallHeader*>(header) = VSmallHeader{-distance | (isObject ? kObjectBit : 0), tag};
    used += fBlockSize;
    return header + VMemCppImpl::kSmallHeaderSize;
}

void VPageAllocationImpl::Free(void* header, uint64& used) noexcept {
    char* payload = static_cast<char*>(header) + VMemCppImpl::kSmallHeaderSize;
    MemStoreLink(payload, fFreeList);
    MemPoison(payload, fBlockSize - VMemCppImpl::kSmallHeaderSize);
    fFreeList = header;
    ++fFreeCount;
    --fUsedCount;
    used -= fBlockSize;
}

bool VPageAllocationImpl::IsBlockFree(const void* header) const noexcept {
    uint32 seen = 0;
    for (const void* block = fFreeList; block != nullptr && seen <= fFreeCount; ++seen) {
        if (block == header) return true;
        block = MemLoadLink(static_cast<const char*>(block) + VMemCppImpl::kSmallHeaderSize);
    }
    return false;
}

bool VPageAllocationImpl::ContainsBlock(const void* header) const noexcept {
    const char* at = static_cast<const char*>(header);
    const char* base = reinterpret_cast<const char*>(this);
    if (at < base + kHeaderSize || at >= base + fEnd || fBlockSize == 0) return false;
    return size_t(at - base - kHeaderSize) % fBlockSize == 0;
}

bool VPageAllocationImpl::Check() const noexcept {
    if (fBlockSize == 0 || fBlockCount != (fPageSize - kHeaderSize) / fBlockSize) return false;
    if (uint32(fUsedCount) + fFreeCount > fBlockCount) return false;
    if (fEnd < kHeaderSize || fEnd > fPageSize) return false;
    if (uint64(fUsedCount) + fFreeCount != (fEnd - kHeaderSize) / fBlockSize) return false;
    uint32 listed = 0;
    for (const void* block = fFreeList; block != nullptr; block = MemLoadLink(static_cast<const char*>(block) + 8)) {
        if (!ContainsBlock(block) || ++listed > fFreeCount) return false;
    }
    return listed == fFreeCount;
}

void VPageAllocationImpl::GetStats(VMemStats& stats, bool& full) const noexcept {
    full = IsFull();
    stats.fNbSmallBlocks += fBlockCount;
    stats.fNbUsedSmallBlocks += fUsedCount;
    stats.fNbFreeSmallBlocks += fBlockCount - fUsedCount;
    // The block count is at most (8,168 - 56) / 16 blocks.
    std::bitset<512> isFree;
    const char* base = reinterpret_cast<const char*>(this);
    for (const void* block = fFreeList; block != nullptr; block = MemLoadLink(static_cast<const char*>(block) + 8))
        isFree.set(size_t(static_cast<const char*>(block) - base - kHeaderSize) / fBlockSize);
    for (uint64 offset = kHeaderSize; offset + fBlockSize <= fEnd; offset += fBlockSize) {
        if (isFree.test(size_t(offset - kHeaderSize) / fBlockSize)) continue;
        const auto* header = reinterpret_cast<const VSmallHeader*>(base + offset);
        if ((header->fBackOffset & kObjectBit) != 0) ++stats.fNbObjects;
        CountByTag(stats, header->fTag, fBlockSize);
    }
}

// ---- VMemThreadImpl

VMemThreadImpl::VMemThreadImpl(VMemCppImpl* owner) noexcept : fOwner(owner) {}

int32 VMemThreadImpl::GetStepFromSize(size_t size, int32* granule) noexcept {
    if (size <= 1024) {
        if (granule != nullptr) *granule = 16;
        return int32((size + 15) / 16);
    }
    if (size <= 4096) {
        if (granule != nullptr) *granule = 64;
        return int32(65 + (size - 1024 + 63) / 64);
    }
    if (granule != nullptr) *granule = 256;
    return int32(114 + (size - 4096 + 255) / 256);
}

size_t VMemThreadImpl::GetBlockSize(size_t size) noexcept {
    int32 granule = 16;
    GetStepFromSize(size, &granule);
    return (size + size_t(granule) - 1) / size_t(granule) * size_t(granule);
}

size_t VMemThreadImpl::GetPageSize(size_t blockSize) noexcept {
    if (blockSize < 256) return 8168;
    if (blockSize < 1024) return 16360;
    if (blockSize < 4096) return 65512;
    return 131048;
}

void* VMemThreadImpl::Malloc(size_t size, bool isObject, int32 tag) noexcept {
    int32 step = GetStepFromSize(size, nullptr);
    VPageAllocationImpl* page = fPages[step];
    if (page == nullptr) {
        size_t blockSize = GetBlockSize(size);
        size_t pageSize = GetPageSize(blockSize);
        void* memory = fOwner->_MallocBig(pageSize, true, false, 0);
        if (memory == nullptr) return nullptr;
        page = ::new (memory) VPageAllocationImpl(this, pageSize, blockSize);
        fOwner->fUsed -= page->GetCapacity();
        page->fNext = nullptr;
        page->fPrevious = nullptr;
        fPages[step] = page;
    }
    void* block = page->Malloc(isObject, tag, fOwner->fUsed);
    if (page->IsFull()) MarkPageAsFull(page);
    return block;
}

void VMemThreadImpl::_Unlink(VPageAllocationImpl* page) noexcept {
    int32 step = GetStepFromSize(page->fBlockSize, nullptr);
    if (page->fPrevious != nullptr) {
        page->fPrevious->fNext = page->fNext;
    } else if (fPages[step] == page) {
        fPages[step] = page->fNext;
    }
    if (page->fNext != nullptr) page->fNext->fPrevious = page->fPrevious;
    page->fNext = page->fPrevious = nullptr;
}

void VMemThreadImpl::MarkPageAsFull(VPageAllocationImpl* page) noexcept {
    _Unlink(page);
}

void VMemThreadImpl::MarkPageAsNotFull(VPageAllocationImpl* page) noexcept {
    int32 step = GetStepFromSize(page->fBlockSize, nullptr);
    page->fPrevious = nullptr;
    page->fNext = fPages[step];
    if (page->fNext != nullptr) page->fNext->fPrevious = page;
    fPages[step] = page;
}

void VMemThreadImpl::RemovePage(VPageAllocationImpl* page) noexcept {
    _Unlink(page);
    fOwner->fUsed += page->GetCapacity();
    fOwner->_FreeBig(reinterpret_cast<char*>(page) - VMemCppImpl::kBigHeaderSize);
}

// ---- VMemCppImpl

VMemCppImpl::VMemCppImpl(int32 index) noexcept : fSmallBlocks(this), fIndex(index) {}

VMemCppImpl::~VMemCppImpl() {
    // Blocks still in use die with their regions: the manager goes away at exit only, or in tests.
    while (fRegions != nullptr) {
        VMemImplAllocation* region = fRegions;
        fRegions = region->fNext;
        MemUnpoison(region, region->fCapacity + 64);
        XPosixRuntime::UnmapPages(region, region->fCapacity + 64);
    }
}

int32 VMemCppImpl::GetExactStepFromSize(size_t size) noexcept {
    return size <= kOneMiB ? int32(size / 1024) : 1025;
}

int32 VMemCppImpl::GetStepFromSize(size_t size, int32* granule) noexcept {
    if (size <= kOneMiB) {
        if (granule != nullptr) *granule = 1024;
        return int32((size + 1023) / 1024);
    }
    if (granule != nullptr) *granule = 0;
    return 1025;
}

void* VMemCppImpl::Malloc(size_t size, uint8 pageRequest, uint8 isObject, int32 tag) noexcept {
    if (size <= kMaxSmallRequest && pageRequest == 0)
        return fSmallBlocks.Malloc(size + kSmallHeaderSize, isObject != 0, tag);
    return _MallocBig(size, pageRequest != 0, isObject != 0, tag);
}

void* VMemCppImpl::_MallocBig(size_t size, bool pageRequest, bool isObject, int32 tag) noexcept {
    if (size > kMaxRequest) return nullptr;
    size_t blockSize;
    int32 step;
    if (size < kLastStepRequest) {
        blockSize = (size + kBigHeaderSize + 1023) / 1024 * 1024;
        step = int32(blockSize / 1024);
    } else {
        // Multiples of 16 rather than 8, so the blocks carved behind this one keep 16-byte aligned payloads.
        blockSize = (size + kBigHeaderSize + 15) / 16 * 16;
        step = 1025;
    }
    if (void* block = _TakeFromList(step, blockSize, pageRequest, isObject, tag)) return block;
    for (VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext) {
        if (void* block = region->AllocateAtTheEnd(blockSize, fUsed, isObject, pageRequest, tag)) return block;
    }
    for (int32 larger = kStepCount - 1; larger > step; --larger) {
        if (fFreeLists[larger] != nullptr)
            return _UseFreeBlock(fFreeLists[larger], blockSize, pageRequest, isObject, tag);
    }
    if (!fAutoAllocation || !AddAllocation(std::max(kAutoRegion, blockSize + 1088), nullptr, 0)) return nullptr;
    return fRegions->AllocateAtTheEnd(blockSize, fUsed, isObject, pageRequest, tag);
}

void* VMemCppImpl::_TakeFromList(int32 step, size_t blockSize, bool pageRequest, bool isObject, int32 tag) noexcept {
    char* first = fFreeLists[step];
    if (first == nullptr) return nullptr;
    if (step < kStepCount - 1) return _UseFreeBlock(first, blockSize, pageRequest, isObject, tag);
    // Above 1 MiB, sizes vary: the best fit.
    char* best = nullptr;
    for (char* header = first; header != nullptr; header = NextFree(header)) {
        size_t size = BigSize(header);
        if (size < blockSize || (best != nullptr && size >= BigSize(best))) continue;
        best = header;
        if (size == blockSize) break;
    }
    return best != nullptr ? _UseFreeBlock(best, blockSize, pageRequest, isObject, tag) : nullptr;
}

void* VMemCppImpl::_UseFreeBlock(char* header, size_t blockSize, bool pageRequest, bool isObject, int32 tag) noexcept {
    _UnlistFreeBlock(header);
    VMemImplAllocation* region = Big(header)->fRegion;
    size_t freeSize = BigSize(header);
    if (freeSize - blockSize >= kMinSplit) {
        char* upper = header + blockSize;
        size_t upperSize = freeSize - blockSize;
        MemUnpoison(upper, kBigHeaderSize);
        *Big(upper) = VBigHeader{region, -int32(upperSize), 0, int32(blockSize), 0};
        if (region->IsLastBlock(upper)) {
            region->fLastBlockSize = upperSize;
        } else {
            SetPreviousSize(upper + upperSize, upperSize);
        }
        _ListFreeBlock(upper);
    } else {
        blockSize = freeSize;
    }
    Big(header)->fSize = int32(blockSize) | (isObject ? kObjectBit : 0) | (pageRequest ? kPageBit : 0);
    Big(header)->fTag = tag;
    MemUnpoison(header + kBigHeaderSize, blockSize - kBigHeaderSize);
    fUsed += blockSize;
    return header + kBigHeaderSize;
}

void VMemCppImpl::_ListFreeBlock(char* header) noexcept {
    char*& head = fFreeLists[GetExactStepFromSize(BigSize(header))];
    SetNextFree(header, head);
    SetPreviousFree(header, nullptr);
    if (head != nullptr) SetPreviousFree(head, header);
    head = header;
}

void VMemCppImpl::_UnlistFreeBlock(char* header) noexcept {
    char* next = NextFree(header);
    char* previous = PreviousFree(header);
    if (previous != nullptr) {
        SetNextFree(previous, next);
    } else {
        fFreeLists[GetExactStepFromSize(BigSize(header))] = next;
    }
    if (next != nullptr) SetPreviousFree(next, previous);
}

VMemCppImpl* VMemCppImpl::GetOwnerOf(const void* block) noexcept {
    const char* at = static_cast<const char*>(block);
    if (IsSmall(block)) return PageOf(at - kSmallHeaderSize)->fOwner->GetOwner();
    return Big(at - kBigHeaderSize)->fRegion->fOwner;
}

int32 VMemCppImpl::GetAllocationBlockNumber(const void* block) noexcept {
    return block != nullptr ? GetOwnerOf(block)->fIndex : -1;
}

int32 VMemCppImpl::GetTag(const void* block) noexcept {
    const char* at = static_cast<const char*>(block);
    if (IsSmall(block)) return reinterpret_cast<const VSmallHeader*>(at - kSmallHeaderSize)->fTag;
    return Big(at - kBigHeaderSize)->fTag;
}

void VMemCppImpl::Free(void* block) noexcept {
    if (block == nullptr) return;
    VMemCppImpl* owner = GetOwnerOf(block);
    if (owner != this) {
        owner->Free(block);
        return;
    }
    char* at = static_cast<char*>(block);
    if (IsSmall(block)) {
        _FreeSmall(at - kSmallHeaderSize);
    } else {
        _FreeBig(at - kBigHeaderSize);
    }
}

void VMemCppImpl::_FreeSmall(void* header) noexcept {
    VPageAllocationImpl* page = PageOf(header);
    bool wasFull = page->IsFull();
    page->Free(header, fUsed);
    if (wasFull) fSmallBlocks.MarkPageAsNotFull(page);
    if (page->fUsedCount == 0) fSmallBlocks.RemovePage(page);
}

char* VMemCppImpl::_MergeContiguousFreeBlock(char* lower, char* upper) noexcept {
    size_t sum = BigSize(lower) + BigSize(upper);
    if (sum > size_t(INT32_MAX)) return nullptr;
    VMemImplAllocation* region = Big(lower)->fRegion;
    Big(lower)->fSize = -int32(sum);
    if (region->IsLastBlock(lower)) {
        region->fLastBlockSize = sum;
    } else {
        SetPreviousSize(lower + sum, sum);
    }
    MemPoison(upper, kBigHeaderSize);
    return lower;
}

void VMemCppImpl::_FreeBig(char* header) noexcept {
    size_t size = BigSize(header);
    VMemImplAllocation* region = Big(header)->fRegion;
    fUsed -= size;
    Big(header)->fSize = -int32(size);
    MemPoison(header + kBigHeaderSize, size - kBigHeaderSize);
    if (header != region->GetFirstBlock()) {
        char* below = header - Big(header)->fPreviousSize;
        if (IsFreeBig(below) && BigSize(below) + size <= size_t(INT32_MAX)) {
            _UnlistFreeBlock(below);
            header = _MergeContiguousFreeBlock(below, header);
        }
    }
    if (!region->IsLastBlock(header)) {
        char* above = header + BigSize(header);
        if (IsFreeBig(above) && BigSize(above) + BigSize(header) <= size_t(INT32_MAX)) {
            _UnlistFreeBlock(above);
            _MergeContiguousFreeBlock(header, above);
        }
    }
    if (!region->IsLastBlock(header)) {
        _ListFreeBlock(header);
        return;
    }
    region->ReduceFrom(header);
    // Free blocks whose merge was refused may sit right below: they leave their lists and the region with it,
    // or a list would hand out bytes that carving hands out again.
    while (!region->IsEmpty()) {
        char* below = region->GetEnd() - region->fLastBlockSize;
        if (!IsFreeBig(below)) break;
        _UnlistFreeBlock(below);
        region->ReduceFrom(below);
    }
    if (region->IsEmpty() && fAutoAllocation) _ReleaseRegion(region);
}

void* VMemCppImpl::Realloc(void* block, size_t size) noexcept {
    void* moved = Malloc(size, 0, 0, block != nullptr ? GetTag(block) : 0);
    if (moved == nullptr || block == nullptr) return moved;
    std::memcpy(moved, block, std::min(GetPtrSize(block), size));
    Free(block);
    return moved;
}

size_t VMemCppImpl::GetPtrSize(const void* block) const noexcept {
    if (block == nullptr) return 0;
    const char* at = static_cast<const char*>(block);
    if (IsSmall(block)) return size_t(PageOf(at - kSmallHeaderSize)->fBlockSize) - kSmallHeaderSize;
    return BigSize(at - kBigHeaderSize) - kBigHeaderSize;
}

bool VMemCppImpl::CheckPtr(const void* block) const noexcept {
    if (block == nullptr) return false;
    const char* at = static_cast<const char*>(block);
    if (!IsSmall(block)) return !IsFreeBig(at - kBigHeaderSize);
    const char* header = at - kSmallHeaderSize;
    int32 distance = -(reinterpret_cast<const VSmallHeader*>(header)->fBackOffset & ~kObjectBit);
    if (distance < int32(VPageAllocationImpl::kHeaderSize)) return false;
    const VPageAllocationImpl* page = PageOf(header);
    return page->ContainsBlock(header) && !page->IsBlockFree(header);
}

bool VMemCppImpl::_CheckRegion(const VMemImplAllocation* region) const noexcept {
    if (region->fOwner != this || region->fEnd > region->fCapacity) return false;
    uint64 previous = 0;
    for (const char* header = region->GetFirstBlock(); header < region->GetEnd();) {
        const VBigHeader* big = Big(header);
        size_t size = BigSize(header);
        if (big->fRegion != region || size < kBigHeaderSize || size % 8 != 0) return false;
        if (uint64(big->fPreviousSize) != previous || header + size > region->GetEnd()) return false;
        if ((big->fSize & kPageBit) != 0 && big->fSize > 0 &&
            !reinterpret_cast<const VPageAllocationImpl*>(header + kBigHeaderSize)->Check())
            return false;
        previous = size;
        header += size;
    }
    return previous == region->fLastBlockSize;
}

bool VMemCppImpl::Check(void*) const noexcept {
    for (const VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext) {
        if (!_CheckRegion(region)) return false;
    }
    return true;
}

bool VMemCppImpl::_AddRegion(void* memory, size_t size, bool physical) noexcept {
    auto* region = static_cast<VMemImplAllocation*>(memory);
    region->Init(this, size, physical);
    region->fNext = fRegions;
    if (fRegions != nullptr) fRegions->fPrevious = region;
    fRegions = region;
    fTotalAllocation += size;
    return true;
}

bool VMemCppImpl::AddAllocation(size_t size, const void*, uint8 physical) noexcept {
    // The hint is only a wish: a region anywhere serves as well.
    if (size < kMinRegion) return false;
    void* memory = XPosixRuntime::MapPages(size, nullptr);
    if (memory == nullptr) return false;
    return _AddRegion(memory, size, physical != 0);
}

void VMemCppImpl::AddAlreadyAllocatedMem(void* region, size_t size, bool physical) noexcept {
    _AddRegion(region, size, physical);
}

void VMemCppImpl::_ReleaseRegion(VMemImplAllocation* region) noexcept {
    if (region->fPrevious != nullptr) {
        region->fPrevious->fNext = region->fNext;
    } else {
        fRegions = region->fNext;
    }
    if (region->fNext != nullptr) region->fNext->fPrevious = region->fPrevious;
    size_t size = region->fCapacity + 64;
    fTotalAllocation -= size;
    MemUnpoison(region, size);
    XPosixRuntime::UnmapPages(region, size);
}

int32 VMemCppImpl::CountAllocations() const noexcept {
    int32 count = 0;
    for (const VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext)
        ++count;
    return count;
}

void VMemCppImpl::GetMemUsageInfo(size_t& total, size_t& used) const noexcept {
    total += fTotalAllocation;
    used += fUsed;
}

void VMemCppImpl::GetStats(VMemStats& stats, int16) const {
    for (const VMemImplAllocation* region = fRegions; region != nullptr; region = region->fNext) {
        for (const char* header = region->GetFirstBlock(); header < region->GetEnd(); header += BigSize(header)) {
            const VBigHeader* big = Big(header);
            uint64 size = BigSize(header);
            ++stats.fNbBigBlocks;
            stats.fBiggestBlock = std::max(stats.fBiggestBlock, size);
            if (big->fSize < 0) {
                stats.fFreeMem += size;
                ++stats.fNbFreeBigBlocks;
                stats.fBiggestFreeBlock = std::max(stats.fBiggestFreeBlock, size);
                continue;
            }
            stats.fUsedMem += size;
            ++stats.fNbUsedBigBlocks;
            if ((big->fSize & kObjectBit) != 0) ++stats.fNbObjects;
            CountByTag(stats, big->fTag, size);
            if ((big->fSize & kPageBit) != 0) {
                ++stats.fNbPagesSmallBlocks;
                bool full = false;
                reinterpret_cast<const VPageAllocationImpl*>(header + kBigHeaderSize)->GetStats(stats, full);
            }
        }
    }
}

} // namespace vela
