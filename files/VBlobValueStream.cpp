// The stream forms of blobs: the value header, the length (signed 32 bits), then the bytes.

#include "files/VStream.h"
#include "values/VBlob.h"
#include "values/VStoredData.h"

#include <climits>

namespace vela {

VError VBlob::_WriteBytesToStream(const void* bytes, size_t size, VStream* stream) const {
    if (VValue::WriteToStream(stream) != VE_OK) return stream->GetLastError();
    // The length word is signed 32 bits: a bigger blob would write a stream that cannot be read back.
    if (size > size_t(INT32_MAX)) {
        stream->ResetLastError(VE_INVALID_PARAMETER);
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    if (stream->PutLong(int32(size)) == VE_OK && size > 0 && bytes != nullptr) stream->PutData(bytes, size);
    return stream->GetLastError();
}

VError VBlobWithPtr::ReadFromStream(VStream* stream, int32) {
    int32 length = 0;
    if (stream->GetLong(length) != VE_OK) return stream->GetLastError();
    // Checked before anything is allocated: a corrupt length must not cost memory.
    if (CheckStoredCount(stream, length, 1) != VE_OK) return stream->GetLastError();
    if (VError error = SetSize(size_t(length)); error != VE_OK) return error;
    if (length < 1) return VE_OK;
    return stream->GetData(fBuffer.GetDataPtr(), size_t(length));
}

VError VBlobWithPtr::WriteToStream(VStream* stream, int32) const {
    return _WriteBytesToStream(GetDataPtr(), GetSize(), stream);
}

VError VConstBlobWithPtr::WriteToStream(VStream* stream, int32) const {
    return _WriteBytesToStream(fData, fSize, stream);
}

} // namespace vela
