#include "files/VPtrStream.h"

#include <cstring>

namespace vela {

// ---- VConstPtrStream

VConstPtrStream::VConstPtrStream(const void* data, size_t size) noexcept
    : fData(static_cast<const uint8*>(data)), fSize(data != nullptr ? size : 0) {}

VError VConstPtrStream::DoOpenWriting() {
    _ThrowError(VE_STREAM_CANNOT_WRITE);
    return VE_STREAM_CANNOT_WRITE;
}

VError VConstPtrStream::DoPutData(const void*, size_t) {
    _ThrowError(VE_STREAM_CANNOT_WRITE);
    return VE_STREAM_CANNOT_WRITE;
}

VError VConstPtrStream::DoSetSize(int64) {
    _ThrowError(VE_STREAM_CANNOT_WRITE);
    return VE_STREAM_CANNOT_WRITE;
}

VError VConstPtrStream::DoGetData(void* buffer, size_t* ioCount) {
    size_t position = fPosition < 0 ? fSize : size_t(fPosition);
    size_t left = position < fSize ? fSize - position : 0;
    size_t count = *ioCount;
    VError error = VE_OK;
    if (count > left) { // compared with what is left, so that no sum can wrap
        count = left;
        error = VE_STREAM_EOF;
        _ThrowError(error);
    }
    if (count > 0) std::memcpy(buffer, fData + position, count);
    *ioCount = count;
    return error;
}

VError VConstPtrStream::DoSetPos(int64 position) {
    if (position < 0 || uint64(position) > fSize) {
        _ThrowError(VE_STREAM_EOF);
        return VE_STREAM_EOF;
    }
    return VE_OK;
}

// ---- VPtrStream

VPtrStream::VPtrStream(const void* data, size_t size) noexcept {
    if (data != nullptr && size > 0 && !fBuffer.AddData(data, size)) fCopyError = VE_MEMORY_FULL;
}

VError VPtrStream::DoPutData(const void* data, size_t count) {
    if (count == 0) return VE_OK;
    if (fPosition < 0 || !fBuffer.PutData(size_t(fPosition), data, count)) return VE_MEMORY_FULL;
    fIsWritten = true;
    return VE_OK;
}

VError VPtrStream::DoGetData(void* buffer, size_t* ioCount) {
    size_t size = fBuffer.GetDataSize();
    size_t position = fPosition < 0 ? size : size_t(fPosition);
    size_t left = position < size ? size - position : 0;
    size_t asked = *ioCount;
    size_t count = asked < left ? asked : left;
    if (count > 0) std::memcpy(buffer, static_cast<const uint8*>(fBuffer.GetDataPtr()) + position, count);
    *ioCount = count;
    if (count == asked) return VE_OK;
    _ThrowError(VE_STREAM_EOF);
    return VE_STREAM_EOF;
}

VError VPtrStream::DoSetPos(int64 position) {
    if (position < 0) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    if (uint64(position) <= fBuffer.GetDataSize()) return VE_OK;
    // Only a writer may extend the block; a reader past the end would read what was never written.
    if (!IsWriting()) {
        _ThrowError(VE_STREAM_EOF);
        return VE_STREAM_EOF;
    }
    return DoSetSize(position);
}

VError VPtrStream::DoSetSize(int64 size) {
    if (size < 0 || uint64(size) > SIZE_MAX) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    size_t wanted = size_t(size);
    // Exactly the size asked; bytes added are zero, as a truncated file would show them.
    if (fBuffer.GetAllocatedSize() != wanted && !fBuffer.SetCapacity(wanted)) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    fBuffer.SetSize(wanted);
    return VE_OK;
}

} // namespace vela
