#include "values/VBlob.h"

#include "values/VStoredData.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace vela {

const VBlob_info VBlob::sInfo;

namespace {

constexpr size_t kLengthSize = sizeof(int32);
constexpr size_t kMaxStoredSize = size_t(INT32_MAX);

int32 ReadLength(const void* data) noexcept {
    int32 length;
    std::memcpy(&length, data, sizeof(length));
    return length;
}

} // namespace

// ---- VBlob

const VValueInfo* VBlob::GetValueInfo() const {
    return &sInfo;
}

void VBlob::DoNullChanged() {
    if (IsNull()) SetSize(0);
}

VError VBlob::_CopyOut(const void* bytes, size_t size, void* buffer, size_t count, int32 offset,
                       size_t* outRead) noexcept {
    size_t delivered = 0;
    if (offset >= 0 && size_t(offset) < size) {
        size_t left = size - size_t(offset);
        delivered = count < left ? count : left; // against what is left: no sum to wrap
        if (delivered > 0) std::memcpy(buffer, static_cast<const uint8*>(bytes) + offset, delivered);
    }
    if (outRead != nullptr) *outRead = delivered;
    return delivered == count ? VE_OK : VE_STREAM_EOF;
}

size_t VBlob::_GetBytesSpace(size_t size, size_t limit) const noexcept {
    size_t needed = kLengthSize + (size < kMaxStoredSize ? size : kMaxStoredSize);
    return limit != 0 && limit <= needed ? limit : needed;
}

void* VBlob::_WriteBytesToPtr(const void* bytes, size_t size, void* data, size_t limit) const {
    size_t count = size < kMaxStoredSize ? size : kMaxStoredSize;
    if (limit != 0 && kLengthSize + count > limit) {
        if (limit < kLengthSize) return data; // no room even for the length
        count = limit - kLengthSize;
    }
    auto* out = static_cast<uint8*>(data);
    int32 length = int32(count);
    std::memcpy(out, &length, sizeof(length));
    if (count > 0) std::memcpy(out + kLengthSize, bytes, count);
    return out + kLengthSize + count;
}

// ---- VBlobWithPtr

VBlobWithPtr::VBlobWithPtr(const void* data, size_t size) {
    if (data != nullptr && size > 0 && fBuffer.SetCapacity(size)) fBuffer.PutData(0, data, size);
}

VBlobWithPtr::VBlobWithPtr(const VBlobWithPtr& other) : VBlob(other) {
    fFlags |= kDirtyFlag;
    size_t size = other.GetSize();
    if (size > 0 && fBuffer.SetCapacity(size)) fBuffer.PutData(0, other.GetDataPtr(), size);
}

VBlobWithPtr::VBlobWithPtr(const VBlob& source) : VBlob(source) {
    fFlags |= kDirtyFlag;
    size_t size = source.GetSize();
    if (source.IsNull() || size == 0 || !fBuffer.SetCapacity(size)) return;
    size_t read = 0;
    source.GetData(fBuffer.GetDataPtr(), size, 0, &read);
    fBuffer.SetDataSizeUnchecked(read);
}

VError VBlobWithPtr::SetSize(size_t size) {
    if (fBuffer.GetAllocatedSize() != size && !fBuffer.SetCapacity(size)) return VE_MEMORY_FULL;
    fBuffer.SetSize(size); // growth reads as zero
    return VE_OK;
}

VError VBlobWithPtr::GetData(void* buffer, size_t count, int32 offset, size_t* outRead) const {
    return _CopyOut(fBuffer.GetDataPtr(), fBuffer.GetDataSize(), buffer, count, offset, outRead);
}

bool VBlobWithPtr::_Holds(const void* data) const noexcept {
    auto address = reinterpret_cast<uintptr_t>(data);
    auto start = reinterpret_cast<uintptr_t>(fBuffer.GetDataPtr());
    return start != 0 && address >= start && address - start < fBuffer.GetAllocatedSize();
}

VError VBlobWithPtr::PutData(const void* data, size_t count, int32 offset) {
    if (count > 0 && _Holds(data)) {
        // Bytes of this very blob: the buffer may move as it grows, and the ranges may overlap.
        VBlobWithPtr copy(data, count);
        if (copy.GetSize() != count) return VE_MEMORY_FULL;
        return PutData(copy.GetDataPtr(), count, offset);
    }
    // A negative offset, or an end the buffer cannot hold, is memory that cannot be had.
    bool done = offset >= 0 && (data != nullptr || count == 0) && fBuffer.PutData(size_t(offset), data, count);
    _SetValueChanged();
    return done ? VE_OK : VE_MEMORY_FULL;
}

VError VBlobWithPtr::FromData(const void* data, size_t count) {
    if (data == nullptr) count = 0;
    if (count > 0 && _Holds(data)) {
        // Bytes of this very blob: copy them out before the buffer moves.
        VBlobWithPtr copy(data, count);
        return FromData(copy.GetDataPtr(), copy.GetSize());
    }
    if (fBuffer.GetAllocatedSize() != count && !fBuffer.SetCapacity(count)) {
        _SetValueChanged();
        return VE_MEMORY_FULL;
    }
    if (count > 0) std::memcpy(fBuffer.GetDataPtr(), data, count);
    fBuffer.SetDataSizeUnchecked(count);
    _SetValueChanged();
    return VE_OK;
}

bool VBlobWithPtr::FromValueSameKind(const VValue* other) {
    const auto* source = dynamic_cast<const VBlobWithPtr*>(other);
    if (source == nullptr) return false;
    if (source != this) _AssignBytes(source->GetDataPtr(), source->GetSize());
    SetNull(source->IsNull());
    fFlags |= kDirtyFlag;
    return GetSize() != 0 || source->GetSize() == 0;
}

void VBlobWithPtr::_AssignBytes(const void* data, size_t size) noexcept {
    if (fBuffer.GetAllocatedSize() != size) {
        bool hadBlock = fBuffer.GetDataPtr() != nullptr;
        // A failed reallocation keeps the bytes as they were; a failed first allocation leaves none.
        if (!fBuffer.SetCapacity(size)) {
            if (!hadBlock) fBuffer.Clear();
            return;
        }
    }
    if (size > 0) std::memcpy(fBuffer.GetDataPtr(), data, size);
    fBuffer.SetDataSizeUnchecked(size);
}

bool VBlobWithPtr::EqualToSameKind(const VValue* other, bool) const {
    const auto* blob = dynamic_cast<const VBlobWithPtr*>(other);
    if (blob == nullptr || blob->IsNull()) return false;
    size_t size = GetSize();
    return size == blob->GetSize() && (size == 0 || std::memcmp(GetDataPtr(), blob->GetDataPtr(), size) == 0);
}

void VBlobWithPtr::GetValue(VValueSingle& target) const {
    if (target.GetValueKind() != kKind) return;
    if (auto* blob = dynamic_cast<VBlob*>(&target)) blob->FromData(GetDataPtr(), GetSize());
}

void VBlobWithPtr::FromValue(const VValueSingle& source) {
    Clear();
    if (source.GetValueKind() != kKind) return;
    if (const auto* blob = dynamic_cast<const VBlobWithPtr*>(&source)) PutData(blob->GetDataPtr(), blob->GetSize(), 0);
}

const void* VBlobWithPtr::LoadFromPtr(const void* data, bool) {
    int32 length = ReadLength(data);
    const auto* bytes = static_cast<const uint8*>(data) + kLengthSize;
    if (length < 0) {
        FromData(nullptr, 0);
        ThrowStoredDataCorrupted();
        return bytes;
    }
    if (length > 0) FromData(bytes, size_t(length));
    return bytes + length;
}

void* VBlobWithPtr::WriteToPtr(void* data, bool, size_t limit) const {
    return _WriteBytesToPtr(GetDataPtr(), GetSize(), data, limit);
}

// ---- VConstBlobWithPtr

VError VConstBlobWithPtr::GetData(void* buffer, size_t count, int32 offset, size_t* outRead) const {
    return _CopyOut(fData, fSize, buffer, count, offset, outRead);
}

VValue* VConstBlobWithPtr::Clone() const {
    auto* copy = new VConstBlobWithPtr(*this);
    copy->fFlags |= kDirtyFlag;
    return copy;
}

bool VConstBlobWithPtr::FromValueSameKind(const VValue* other) {
    const auto* source = dynamic_cast<const VConstBlobWithPtr*>(other);
    if (source == nullptr) return false;
    fData = source->fData;
    fSize = source->fSize;
    SetNull(source->IsNull());
    fFlags |= kDirtyFlag;
    return true;
}

void VConstBlobWithPtr::GetValue(VValueSingle& target) const {
    if (target.GetValueKind() != kKind) return;
    if (auto* blob = dynamic_cast<VBlob*>(&target)) blob->FromData(fData, fSize);
}

void* VConstBlobWithPtr::WriteToPtr(void* data, bool, size_t limit) const {
    return _WriteBytesToPtr(fData, fSize, data, limit);
}

// ---- VBlob_info

size_t VBlob_info::GetSizeOfValueDataPtr(const void* data) const {
    int32 length = ReadLength(data);
    return kLengthSize + (length > 0 ? size_t(length) : 0);
}

void* VBlob_info::ByteSwapPtr(void* data, bool) const {
    uint32 length;
    std::memcpy(&length, data, sizeof(length));
    length = __builtin_bswap32(length);
    std::memcpy(data, &length, sizeof(length));
    return static_cast<uint8*>(data) + kLengthSize;
}

} // namespace vela
