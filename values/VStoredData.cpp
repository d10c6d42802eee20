#include "values/VStoredData.h"

#include "files/VStream.h"

#include <cstdint>

namespace vela {

namespace {
thread_local int32 tStoredDataDepth = 0;
} // namespace

VError SetStreamCorrupted(VStream* stream) {
    if (stream == nullptr) return ThrowStoredDataCorrupted();
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    stream->ResetLastError(VE_STREAM_CORRUPTED);
    _ThrowError(VE_STREAM_CORRUPTED);
    return stream->GetLastError();
}

VError ThrowStoredDataCorrupted() {
    _ThrowError(VE_STREAM_CORRUPTED);
    return VE_STREAM_CORRUPTED;
}

bool CanStillDeliver(VStream* stream, uint64 bytes) {
    if (stream == nullptr) return bytes == 0;
    int64 remaining = stream->GetRemaining();
    if (remaining < 0) return bytes == 0;
    return bytes <= uint64(remaining);
}

bool StoredByteSize(int64 count, uint64 elementSize, uint64& outBytes) noexcept {
    outBytes = 0;
    if (count < 0) return false;
    if (elementSize != 0 && uint64(count) > uint64(INT64_MAX) / elementSize) return false;
    outBytes = uint64(count) * elementSize;
    return true;
}

VError CheckStoredCount(VStream* stream, int64 count, uint64 elementSize) {
    uint64 bytes = 0;
    if (!StoredByteSize(count, elementSize, bytes) || !CanStillDeliver(stream, bytes))
        return SetStreamCorrupted(stream);
    return stream != nullptr ? stream->GetLastError() : VE_OK;
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
