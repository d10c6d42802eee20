// The stream forms of bags: the 'VBAG' form (VValueBag::WriteToStream, ReadFromStream), the older layout's reader,
// and the minimal form of bags and bag arrays.

#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VStream.h"
#include "values/VBagArray.h"
#include "values/VStoredData.h"

#include <memory>
#include <new>
#include <vector>

namespace vela {

namespace {

constexpr uint32 kSignature = 0x56424147; // 'VBAG'
constexpr int16 kVersion = 1;
// The marker of a present name in the string-array form; any other marker stands for no name.
constexpr int32 kPresentName = 2;

// Makes error the stream's error (unless one is pending) and raises it; answers the stream's error.
VError RefuseStream(VStream* stream, VError error) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    stream->ResetLastError(error);
    _ThrowError(error);
    return error;
}

// Reads the string-array form of the older layout (a 32-bit count, then per element a 32-bit marker followed, for
// marker 2, by the string's stream form) into names; a missing name is the empty name.
VError ReadNames(VStream* stream, std::vector<VString>& names) {
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK) return stream->GetLastError();
    // Every name takes at least its marker.
    if (CheckStoredCount(stream, count, sizeof(int32)) != VE_OK) return stream->GetLastError();
    names.clear();
    for (int32 i = 0; i < count; ++i) {
        int32 marker = 0;
        if (stream->GetLong(marker) != VE_OK) return stream->GetLastError();
        VString& name = names.emplace_back(); // grown as read: the count only bounds the bytes left
        if (marker == kPresentName && name.ReadFromStream(stream) != VE_OK) return stream->GetLastError();
    }
    return VE_OK;
}

// Reads the count that follows a list of names: it must be theirs.
VError ReadCountOf(VStream* stream, const std::vector<VString>& names) {
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK) return stream->GetLastError();
    if (count < 0 || size_t(count) != names.size()) return SetStreamCorrupted(stream);
    return VE_OK;
}

} // namespace

VError VValueBag::WriteToStream(VStream* stream, int32) const {
    if (stream->PutLong(int32(kSignature)) != VE_OK || stream->PutWord(kVersion) != VE_OK ||
        stream->PutWord(0) != VE_OK)
        return stream->GetLastError();
    return WriteToStreamMinimal(stream, true);
}

VError VValueBag::ReadFromStream(VStream* stream, int32) {
    Destroy();
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    uint32 signature = 0;
    uint16 version = 0;
    uint16 reserved = 0;
    if (stream->GetLong(signature) != VE_OK || stream->GetWord(version) != VE_OK || stream->GetWord(reserved) != VE_OK)
        return stream->GetLastError();
    if (signature != kSignature) return RefuseStream(stream, VE_STREAM_BAD_SIGNATURE);
    if (version != uint16(kVersion)) return RefuseStream(stream, VE_STREAM_BAD_VERSION);
    return ReadFromStreamMinimal(stream);
}

VError VValueBag::_ReadFromStream_v1(VStream* stream) {
    Destroy();
    VError error = VE_OK;
    try {
        error = _ReadFromStream_v1Parts(stream);
    } catch (const std::bad_alloc&) {
        error = RefuseStream(stream, VE_MEMORY_FULL);
    }
    if (error != VE_OK) Destroy(); // no half-read bag
    return error;
}

VError VValueBag::_ReadFromStream_v1Parts(VStream* stream) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    StStoredDataDepth depth;
    if (depth.IsTooDeep()) return SetStreamCorrupted(stream);

    std::vector<VString> names;
    if (ReadNames(stream, names) != VE_OK || ReadCountOf(stream, names) != VE_OK) return stream->GetLastError();
    for (const VString& name : names) {
        int32 kind = 0;
        if (stream->GetLong(kind) != VE_OK) return stream->GetLastError();
        // Only the low 16 bits name the kind; a kind that cannot be read cannot be stepped over either.
        std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(uint16(uint32(kind) & 0xFFFF)));
        VValueSingle* single = value != nullptr ? value->IsVValueSingle() : nullptr;
        if (single == nullptr) return SetStreamCorrupted(stream);
        if (single->ReadFromStream(stream) != VE_OK) return stream->GetLastError();
        SetAttribute(StPackedDictionaryKey(name), *single);
    }

    if (ReadNames(stream, names) != VE_OK || ReadCountOf(stream, names) != VE_OK) return stream->GetLastError();
    for (const VString& name : names) {
        VRefPtr<VBagArray> list = VRefPtr<VBagArray>::Adopt(new VBagArray);
        if (list->ReadFromStreamMinimal(stream) != VE_OK) return stream->GetLastError();
        SetElements(StPackedDictionaryKey(name), list.Get());
    }
    return VE_OK;
}

// ---- Minimal form, without signature or version

VError VValueBag::WriteToStreamMinimal(VStream* stream, bool withHash) const {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    // Nothing deeper than a reader follows is written, which also bounds this recursion.
    StStoredDataDepth depth;
    if (depth.IsTooDeep()) {
        stream->ResetLastError(VE_INVALID_PARAMETER);
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    const bool hasAttributes = !fAttributes.IsEmpty();
    const bool hasElements = GetElementNamesCount() > 0;
    if (stream->PutByte(uint8((hasAttributes ? 1 : 0) | (hasElements ? 2 : 0))) != VE_OK) return stream->GetLastError();
    if (hasAttributes) {
        VError error = fAttributes.WriteToStream(stream, withHash);
        if (error != VE_OK) return error;
    }
    if (hasElements) return fElements->WriteToStream(stream, withHash);
    return stream->GetLastError();
}

VError VValueBag::ReadFromStreamMinimal(VStream* stream) {
    Destroy();
    VError error = VE_OK;
    try {
        error = _ReadFromStreamMinimal(stream);
    } catch (const std::bad_alloc&) {
        error = VE_MEMORY_FULL;
        if (stream->GetLastError() == VE_OK) stream->ResetLastError(error);
    }
    if (error != VE_OK) Destroy(); // corrupt or cut data leaves no half-read bag
    return error;
}

VError VValueBag::_ReadFromStreamMinimal(VStream* stream) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    StStoredDataDepth depth;
    if (depth.IsTooDeep()) return SetStreamCorrupted(stream);
    uint8 flags = 0;
    if (stream->GetByte(flags) != VE_OK) return stream->GetLastError();
    if ((flags & ~3u) != 0) return SetStreamCorrupted(stream);
    if ((flags & 1) != 0 && fAttributes.ReadFromStream(stream) != VE_OK) return stream->GetLastError();
    if ((flags & 2) != 0 && _Elements().ReadFromStream(stream) != VE_OK) return stream->GetLastError();
    return VE_OK;
}

// ---- Arrays of bags in the minimal form

VError VBagArray::WriteToStreamMinimal(VStream* stream) const {
    if (stream->PutLong(GetCount()) != VE_OK) return stream->GetLastError();
    for (const VValueBag* bag : fBags) {
        VError error = VE_OK;
        if (bag != nullptr) {
            error = bag->WriteToStreamMinimal(stream, true);
        } else {
            error = stream->PutByte(0); // an empty position is an empty bag
        }
        if (error != VE_OK) return error;
    }
    return stream->GetLastError();
}

VError VBagArray::ReadFromStreamMinimal(VStream* stream) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK) return stream->GetLastError();
    // Every bag takes at least its flags byte.
    if (CheckStoredCount(stream, count, 1) != VE_OK) return stream->GetLastError();
    VError error = VE_OK;
    try {
        fBags.reserve(fBags.size() + size_t(count));
        for (int32 i = 0; i < count && error == VE_OK; ++i) {
            VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
            error = bag->ReadFromStreamMinimal(stream);
            if (error == VE_OK) fBags.push_back(bag.Forget()); // reserved: cannot throw
        }
    } catch (const std::bad_alloc&) {
        error = VE_MEMORY_FULL;
        if (stream->GetLastError() == VE_OK) stream->ResetLastError(error);
    }
    if (error != VE_OK) Destroy();
    return error;
}

} // namespace vela
