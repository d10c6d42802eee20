#include "core/VCppMemMgr.h"

#include "core/VObject.h"
#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixBundleInfo.h"
#include "core/platform/XPosixRuntime.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <strings.h>

namespace vela {

namespace {
constexpr int32 kGrowTag = FourCCTag("grow");
constexpr size_t kManagerHeader = 8;
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
    bool previous = fEnabled;
    fEnabled = enabled;
    return previous;
}

const char* VLeaksChecker::LeaksHeadline(int32 count, char* buffer, size_t size) noexcept {
    if (count == 0) return "No memory leaks.\n";
    if (count == 1) return "You have one leak:\n\n";
    std::snprintf(buffer, size, "You have %i leaks:\n\n", count);
    return buffer;
}

// ---- VMemCppImpl_stdlib

size_t VMemCppImpl_stdlib::GetPtrSize(void* block) const noexcept {
    return block != nullptr ? malloc_usable_size(block) : 0;
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

VCppMemMgr::~VCppMemMgr() {}

void VCppMemMgr::_Init(EAllocatorKind kind, bool flag1, bool flag2) {
    if (kind == kAllocator_fromBundle) {
        std::optional<std::string> value = XPosixBundleInfo::GetMainBundleValue("MemoryAllocator");
        kind = AllocatorKindFromBundleValue(value ? value->c_str() : nullptr);
    }
    // The library's own block allocator is not part of this build; a bundle that asks for it runs on the
    // C library's allocator rather than on an allocator with no memory.
    (void)kind;
    XPosixHeapGrowth::Configure();
    fStdlib = &fStdlibImpl;
    fFlag1 = flag1;
    fFlag2 = flag2;
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

void* VCppMemMgr::Calloc(int32 count, size_t size, int32) noexcept {
    if (count < 0 || _MadeToFail()) return nullptr;
    size_t total = 0;
    if (__builtin_mul_overflow(size_t(count), size, &total)) return nullptr;
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
    return fStdlib->GetPtrSize(block);
}

bool VCppMemMgr::AddVirtualAllocation(size_t, const void*, bool) noexcept {
    return false;
}

int32 VCppMemMgr::CountVirtualAllocations() const noexcept {
    return 1;
}

int32 VCppMemMgr::GetAllocationBlockNumber(void*) const noexcept {
    return 0;
}

VCppMemMgr::PurgeHandlerProc VCppMemMgr::SetPurgeHandlerProc(PurgeHandlerProc proc) noexcept {
    std::lock_guard<std::recursive_mutex> guard(fLock);
    PurgeHandlerProc previous = fPurgeHandler;
    fPurgeHandler = proc;
    return previous;
}

void VCppMemMgr::PurgeMem(int32) noexcept {}

void* VCppMemMgr::TryToMalloc(size_t size, bool isObject, int32 tag, int32 preferredIndex) noexcept {
    return Malloc(size, isObject, tag, preferredIndex);
}

size_t VCppMemMgr::GetAllocatedMem() const noexcept {
    return 1048576;
}

void VCppMemMgr::GetMemStatistics(size_t& s1, size_t& s2, size_t& allocated, size_t& s4, size_t& s5, size_t& s6,
                                  size_t& s7, size_t& s8, size_t& s9) const noexcept {
    s1 = s2 = s4 = s5 = s6 = s7 = s8 = s9 = 0;
    allocated = GetAllocatedMem();
}

void VCppMemMgr::GetMemUsageInfo(size_t& total, size_t& used) const noexcept {
    total = 1048576;
    used = 0;
}

void VCppMemMgr::GetStatistics(VMemStats& stats, int32) const {
    stats.Clear();
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
