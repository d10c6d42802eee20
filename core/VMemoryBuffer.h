#pragma once

#include "core/VCppMemMgr.h"
#include "core/VObject.h"

#include <cstring>
#include <utility>

namespace vela {

// A growable byte buffer from the memory manager (tag 'memb') that enlarges by half again, capped at Cap
// extra bytes, in steps of Granularity bytes, so that appending costs amortised linear time.
template <size_t Granularity = 1024, size_t Divisor = 2, size_t Cap = 1048576> class VMemoryBuffer {
public:
    static constexpr int32 kTag = FourCCTag("memb");

    VMemoryBuffer() noexcept = default;
    ~VMemoryBuffer() { Clear(); }
    VMemoryBuffer(const VMemoryBuffer&) = delete;
    VMemoryBuffer& operator=(const VMemoryBuffer&) = delete;
    VMemoryBuffer(VMemoryBuffer&& other) noexcept
        : fData(std::exchange(other.fData, nullptr)), fSize(std::exchange(other.fSize, 0)),
          fCapacity(std::exchange(other.fCapacity, 0)) {}

    void* GetDataPtr() noexcept { return fData; }
    const void* GetDataPtr() const noexcept { return fData; }
    size_t GetDataSize() const noexcept { return fSize; }
    size_t GetAllocatedSize() const noexcept { return fCapacity; }

    // Frees the block: no data, size and capacity 0.
    void Clear() noexcept {
        VMemory::DisposePtr(fData);
        fData = nullptr;
        fSize = fCapacity = 0;
    }

    // Grows the capacity to (needed + min(needed / Divisor, Cap)) rounded up to the granularity, or exactly
    // needed when that cannot be had. False leaves the buffer as it was. The size in use does not change.
    bool _EnlargeAmortized(size_t needed) noexcept {
        size_t extra = needed / Divisor < Cap ? needed / Divisor : Cap;
        size_t wanted = 0;
        if (!__builtin_add_overflow(needed, extra + (Granularity - 1), &wanted)) {
            wanted &= ~(Granularity - 1);
            if (_Reallocate(wanted)) return true;
        }
        return _Reallocate(needed);
    }

    // Makes room for needed bytes in all (amortised growth).
    bool EnsureCapacity(size_t needed) noexcept { return needed <= fCapacity || _EnlargeAmortized(needed); }

    // Sets the used size, growing the block when needed; new bytes are zero-filled so that nothing stale
    // shows through.
    bool SetSize(size_t size) noexcept {
        if (!EnsureCapacity(size)) return false;
        if (size > fSize) std::memset(static_cast<char*>(fData) + fSize, 0, size - fSize);
        fSize = size;
        return true;
    }

    // Reallocates to exactly capacity bytes (0 frees); the size is cut to fit.
    bool SetCapacity(size_t capacity) noexcept {
        if (capacity == 0) {
            Clear();
            return true;
        }
        if (!_Reallocate(capacity)) return false;
        if (fSize > capacity) fSize = capacity;
        return true;
    }

    bool PutData(size_t offset, const void* data, size_t count) noexcept {
        size_t end = 0;
        if (__builtin_add_overflow(offset, count, &end) || !EnsureCapacity(end)) return false;
        if (offset > fSize) std::memset(static_cast<char*>(fData) + fSize, 0, offset - fSize);
        if (count > 0) std::memcpy(static_cast<char*>(fData) + offset, data, count);
        if (end > fSize) fSize = end;
        return true;
    }

    bool AddData(const void* data, size_t count) noexcept { return PutData(fSize, data, count); }

    // The used size without touching the bytes (callers that wrote directly into the block).
    void SetDataSizeUnchecked(size_t size) noexcept { fSize = size <= fCapacity ? size : fCapacity; }

    // Hands over the block to the caller, who frees it with VMemory::DisposePtr.
    void* Forget() noexcept {
        fSize = fCapacity = 0;
        return std::exchange(fData, nullptr);
    }

private:
    bool _Reallocate(size_t capacity) noexcept {
        if (capacity == 0) return false;
        void* block = fData == nullptr ? VMemory::NewPtr(capacity, kTag) : VMemory::SetPtrSize(fData, capacity);
        if (block == nullptr) return false;
        fData = block;
        fCapacity = capacity;
        return true;
    }

    void* fData = nullptr;
    size_t fSize = 0;
    size_t fCapacity = 0;
};

} // namespace vela
