#include "files/VBlobStream.h"

#include "values/VBlob.h"

#include <cstdint>

namespace vela {

namespace {

VError Raise(VError error) {
    _ThrowError(error);
    return error;
}

// Blob offsets are 32-bit.
bool IsBlobOffset(int64 position) noexcept {
    return position >= 0 && position <= INT32_MAX;
}

} // namespace

VBlobStream::VBlobStream(VBlob* blob) {
    if (blob == nullptr) {
        fOwnedBlob = std::make_unique<VBlobWithPtr>();
        blob = fOwnedBlob.get();
    }
    fBlob = blob;
}

VBlobStream::~VBlobStream() = default;

VError VBlobStream::DoPutData(const void* data, size_t count) {
    if (count == 0) return VE_OK;
    if (!IsBlobOffset(fPosition)) return Raise(VE_INVALID_PARAMETER);
    VError error = fBlob->PutData(data, count, int32(fPosition));
    if (error == VE_OK) fIsWritten = true;
    return error;
}

VError VBlobStream::DoGetData(void* buffer, size_t* ioCount) {
    size_t asked = *ioCount;
    *ioCount = 0;
    if (!IsBlobOffset(fPosition)) return Raise(VE_INVALID_PARAMETER);
    VError error = fBlob->GetData(buffer, asked, int32(fPosition), ioCount);
    return error == VE_OK ? VE_OK : Raise(error);
}

int64 VBlobStream::DoGetSize() {
    return int64(fBlob->GetSize());
}

VError VBlobStream::DoSetSize(int64 size) {
    if (size < 0 || uint64(size) > SIZE_MAX) return Raise(VE_INVALID_PARAMETER);
    VError error = fBlob->SetSize(size_t(size));
    return error == VE_OK ? VE_OK : Raise(error);
}

VError VBlobStream::DoSetPos(int64 position) {
    if (!IsBlobOffset(position)) return Raise(VE_INVALID_PARAMETER);
    if (uint64(position) <= fBlob->GetSize()) return VE_OK;
    // Only a writer may extend the blob; a reader past the end would read what was never written.
    if (!IsWriting()) return Raise(VE_STREAM_EOF);
    return DoSetSize(position);
}

} // namespace vela
