// The stream forms of the arrays: a count (after the 'VVAL' word when asked), then the elements. Counts are
// checked against what the stream can still deliver before anything is allocated.

#include "core/VString.h"
#include "files/VStream.h"
#include "values/VArrayBlob.h"
#include "values/VArrayImage.h"
#include "values/VArrayString.h"
#include "values/VArrayValue.h"
#include "values/VArrayValues.h"
#include "values/VBlob.h"
#include "values/VStoredData.h"

#include <memory>
#include <new>

namespace vela {

namespace {

constexpr uint32 kValueTag = FourCC("VVAL");
constexpr int32 kPresent = 2;
constexpr int32 kNullMarker = 0x4E554C4C; // 'NULL'

// A new empty element, or null when memory runs out.
template <class T> T* NewElement() noexcept {
    try {
        return new T;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

VError RefuseStream(VStream* stream, VError error) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    stream->ResetLastError(error);
    _ThrowError(error);
    return error;
}

template <class T> VError PutElements(VStream* stream, const T* data, int32 count) {
    if constexpr (sizeof(T) == 1)
        return stream->PutData(data, size_t(count));
    else if constexpr (sizeof(T) == 2)
        return stream->PutWords(reinterpret_cast<const int16*>(data), count);
    else if constexpr (sizeof(T) == 4)
        return stream->PutLongs(reinterpret_cast<const int32*>(data), count);
    else
        return stream->PutLong8s(reinterpret_cast<const int64*>(data), count);
}

template <class T> VError GetElements(VStream* stream, T* data, int32 count) {
    if constexpr (sizeof(T) == 1)
        return stream->GetData(data, size_t(count));
    else if constexpr (sizeof(T) == 2)
        return stream->GetWords(reinterpret_cast<int16*>(data), &count);
    else if constexpr (sizeof(T) == 4)
        return stream->GetLongs(reinterpret_cast<int32*>(data), &count);
    else
        return stream->GetLong8s(reinterpret_cast<int64*>(data), &count);
}

} // namespace

bool VArrayValue::_ReadCount(VStream* stream, uint64 minBytes, int32& count) {
    count = 0;
    if (stream->GetLong(count) != VE_OK) return false;
    if (count < 0) {
        count = 0;
        return false;
    }
    if (CheckStoredCount(stream, count, minBytes) != VE_OK) return false;
    if (!SetCount(count)) {
        RefuseStream(stream, VE_MEMORY_FULL);
        return false;
    }
    return true;
}

bool VArrayValue::_WriteHeader(VStream* stream, int32 param) const {
    if (uint32(param) == kValueTag && stream->PutLong(int32(GetValueKind() & 0xFFFF)) != VE_OK) return false;
    return stream->PutLong(fCount) == VE_OK;
}

template <class Derived, class Traits>
VError VArrayFixed<Derived, Traits>::WriteToStream(VStream* stream, int32 param) const {
    if (_WriteHeader(stream, param) && fCount > 0) PutElements(stream, _Data(), fCount);
    return stream->GetLastError();
}

template <class Derived, class Traits> VError VArrayFixed<Derived, Traits>::ReadFromStream(VStream* stream, int32) {
    int32 count = 0;
    if (_ReadCount(stream, sizeof(Element), count) && count > 0) GetElements(stream, _Data(), count);
    return stream->GetLastError();
}

template VError VArrayFixed<VArrayByte, VArrayByteTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayByte, VArrayByteTraits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayWord, VArrayWordTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayWord, VArrayWordTraits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayLong, VArrayLongTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayLong, VArrayLongTraits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayLong8, VArrayLong8Traits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayLong8, VArrayLong8Traits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayReal, VArrayRealTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayReal, VArrayRealTraits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayTime, VArrayTimeTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayTime, VArrayTimeTraits>::ReadFromStream(VStream*, int32);
template VError VArrayFixed<VArrayDuration, VArrayDurationTraits>::WriteToStream(VStream*, int32) const;
template VError VArrayFixed<VArrayDuration, VArrayDurationTraits>::ReadFromStream(VStream*, int32);

VError VArrayBoolean::WriteToStream(VStream* stream, int32 param) const {
    if (_WriteHeader(stream, param) && fCount > 0) stream->PutData(fData, size_t(_BytesFor(fCount)));
    return stream->GetLastError();
}

VError VArrayBoolean::ReadFromStream(VStream* stream, int32) {
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK || count < 0) return stream->GetLastError();
    if (count > 0 && !CanStillDeliver(stream, _BytesFor(count))) return SetStreamCorrupted(stream);
    if (!SetCount(count)) return RefuseStream(stream, VE_MEMORY_FULL);
    if (count > 0) stream->GetData(fData, size_t(_BytesFor(count)));
    return stream->GetLastError();
}

VError VArrayString::WriteToStream(VStream* stream, int32 param) const {
    if (!_WriteHeader(stream, param)) return stream->GetLastError();
    for (int32 i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        const VString* element = _Data()[i];
        if (element == nullptr) {
            stream->PutLong(kNullMarker);
        } else if (stream->PutLong(kPresent) == VE_OK) {
            element->WriteToStream(stream);
        }
    }
    return stream->GetLastError();
}

VError VArrayString::ReadFromStream(VStream* stream, int32) {
    int32 count = 0;
    // Every element takes at least its marker.
    if (!_ReadCount(stream, sizeof(int32), count)) return stream->GetLastError();
    for (int32 i = 0; i < count; ++i) {
        int32 marker = 0;
        if (stream->GetLong(marker) != VE_OK) break;
        VString*& element = _Data()[i];
        if (marker != kPresent) {
            delete element;
            element = nullptr;
            continue;
        }
        if (element == nullptr) element = NewElement<VString>();
        if (element == nullptr) {
            RefuseStream(stream, VE_MEMORY_FULL);
            break;
        }
        if (element->ReadFromStream(stream) != VE_OK) break;
    }
    return stream->GetLastError();
}

VError VArrayImage::WriteToStream(VStream* stream, int32) const {
    if (stream->PutLong(fCount) != VE_OK) return stream->GetLastError();
    for (int32 i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        if (const VValueSingle* element = _Data()[i])
            element->WriteToStream(stream);
        else
            stream->PutLong8(0);
    }
    return stream->GetLastError();
}

VError VArrayImage::ReadFromStream(VStream* stream, int32) {
    DeleteAllElements();
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK || count <= 0) return stream->GetLastError();
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kElemKind);
    // Slots left standing without elements would not read back as written.
    if (info == nullptr) return SetStreamCorrupted(stream);
    if (CheckStoredCount(stream, count, 1) != VE_OK) return stream->GetLastError();
    for (int32 i = 0; i < count && stream->GetLastError() == VE_OK; ++i) {
        std::unique_ptr<VValue> value(info->Generate());
        VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (single == nullptr) return SetStreamCorrupted(stream);
        if (single->ReadFromStream(stream) != VE_OK) break;
        if (!Insert(fCount + 1, 1)) {
            RefuseStream(stream, VE_MEMORY_FULL);
            break;
        }
        value.release();
        _Data()[fCount - 1] = single;
    }
    return stream->GetLastError();
}

VError VArrayBlob::WriteToStream(VStream* stream, int32 param) const {
    if (!_WriteHeader(stream, param)) return stream->GetLastError();
    for (int32 i = 0; i < fCount && stream->GetLastError() == VE_OK; ++i) {
        if (const VBlobWithPtr* element = _Data()[i])
            element->WriteToStream(stream);
        else
            stream->PutLong(0);
    }
    return stream->GetLastError();
}

VError VArrayBlob::ReadFromStream(VStream* stream, int32) {
    int32 count = 0;
    // Every element takes at least its length.
    if (!_ReadCount(stream, sizeof(int32), count)) return stream->GetLastError();
    for (int32 i = 0; i < count && stream->GetLastError() == VE_OK; ++i) {
        VBlobWithPtr*& element = _Data()[i];
        if (element == nullptr) element = NewElement<VBlobWithPtr>();
        if (element == nullptr) {
            RefuseStream(stream, VE_MEMORY_FULL);
            break;
        }
        element->ReadFromStream(stream);
    }
    return stream->GetLastError();
}

} // namespace vela
