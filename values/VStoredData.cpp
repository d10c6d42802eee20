#include "values/VStoredData.h"

#include <cstdint>

namespace vela {

namespace {
thread_local int32 tStoredDataDepth = 0;
} // namespace

VError ThrowStoredDataCorrupted() {
    _ThrowError(VE_STREAM_CORRUPTED);
    return VE_STREAM_CORRUPTED;
}

bool StoredByteSize(int64 count, uint64 elementSize, uint64& outBytes) noexcept {
    outBytes = 0;
    if (count < 0) return false;
    if (elementSize != 0 && uint64(count) > uint64(INT64_MAX) / elementSize) return false;
    outBytes = uint64(count) * elementSize;
    return true;
}

bool CanStillDeliver(const void* data, const void* end, int64 count, uint64 elementSize) noexcept {
    uint64 bytes = 0;
    if (!StoredByteSize(count, elementSize, bytes)) return false;
    auto from = reinterpret_cast<uintptr_t>(data);
    auto to = reinterpret_cast<uintptr_t>(end);
    if (data == nullptr || end == nullptr || to < from) return bytes == 0;
    return bytes <= uint64(to - from);
}

StStoredDataDepth::StStoredDataDepth() noexcept : fDepth(++tStoredDataDepth) {}

StStoredDataDepth::~StStoredDataDepth() {
    --tStoredDataDepth;
}

} // namespace vela
