// The stored-data checks of readers that read from a stream.

#include "values/VStoredData.h"

#include "files/VStream.h"

namespace vela {

VError SetStreamCorrupted(VStream* stream) {
    if (stream == nullptr) return ThrowStoredDataCorrupted();
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    stream->ResetLastError(VE_STREAM_CORRUPTED);
    _ThrowError(VE_STREAM_CORRUPTED);
    return stream->GetLastError();
}

bool CanStillDeliver(VStream* stream, uint64 bytes) {
    if (stream == nullptr) return bytes == 0;
    int64 remaining = stream->GetRemaining();
    if (remaining < 0) return bytes == 0;
    return bytes <= uint64(remaining);
}

VError CheckStoredCount(VStream* stream, int64 count, uint64 elementSize) {
    uint64 bytes = 0;
    if (!StoredByteSize(count, elementSize, bytes) || !CanStillDeliver(stream, bytes))
        return SetStreamCorrupted(stream);
    return stream != nullptr ? stream->GetLastError() : VE_OK;
}

} // namespace vela
