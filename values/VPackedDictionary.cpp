#include "values/VPackedDictionary.h"

#include "core/VString.h"
#include "files/VStream.h"
#include "values/VBagArray.h"
#include "values/VStoredData.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vela {

namespace {

// Growth of the keys, slots and records: a first block for a few entries, then four times larger while small
// (most bags hold a handful of attributes, some a few dozen), then doubling.
template <class Vector> void ReserveFor(Vector& vector, size_t needed, size_t first) {
    const size_t capacity = vector.capacity();
    if (needed <= capacity) return;
    size_t grown = capacity == 0 ? first : (capacity < 64 ? capacity * 4 : capacity * 2);
    vector.reserve(std::max(grown, needed));
}

struct BucketRow {
    uint64 fBound; // entries below this bound
    uint32 fBuckets;
};

// Primes growing by about 1.6 per row.
constexpr BucketRow kBucketRows[] = {
    {5, 5},
    {9, 11},
    {18, 23},
    {30, 41},
    {48, 67},
    {77, 113},
    {124, 199},
    {200, 317},
    {323, 521},
    {522, 839},
    {844, 1361},
    {1365, 2207},
    {2208, 3571},
    {3572, 5779},
    {5779, 9349},
    {9350, 15121},
    {15128, 24473},
    {24477, 39607},
    {39604, 64081},
    {64080, 103681},
    {103683, 167759},
    {167762, 271429},
    {271444, 439199},
    {439205, 710641},
    {710648, 1149857},
    {1149852, 1860503},
    {1860499, 3010349},
    {3010350, 4870843},
    {4870848, 7881193},
    {7881197, 12752029},
    {12752044, 20633237},
    {20633240, 33385273},
    {33385283, 54018521},
    {54018522, 87403763},
    {87403804, 141422317},
    {141422325, 228826121},
    {228826128, 370248451},
    {370248452, 599074561},
    {599074579, 969323023},
    {969323030, 1568397599},
    {1568397608, 2537720629},
    {2537720637, 4106118251},
};

int32 LoadStoredLength(const void* data, bool swapped) noexcept {
    uint32 length;
    std::memcpy(&length, data, sizeof(length));
    return int32(swapped ? __builtin_bswap32(length) : length);
}

// Memory exhaustion while reading stored data: the stream keeps the error, as for any other failure.
VError SetStreamMemoryFull(VStream* stream) {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    stream->ResetLastError(VE_MEMORY_FULL);
    _ThrowError(VE_MEMORY_FULL);
    return VE_MEMORY_FULL;
}

uint8* RecordData(uint16* record) noexcept {
    return reinterpret_cast<uint8*>(record) + sizeof(uint16);
}

} // namespace

// ---- _VHashKeyMap

uint32 _VHashKeyMap::_ComputeHashVectorSize(size_t n) noexcept {
    for (const BucketRow& row : kBucketRows)
        if (uint64(n) < row.fBound) return row.fBuckets;
    return 0;
}

bool _VHashKeyMap::Rebuild(size_t n) noexcept {
    Clear();
    uint32 count = _ComputeHashVectorSize(n);
    if (count == 0) return false;
    try {
        // Room for the next size too: a growing dictionary then rebuilds its index in place.
        if (fBuckets.capacity() < count) fBuckets.reserve(std::max<size_t>(count, _ComputeHashVectorSize(count)));
        fBuckets.assign(count, tag_empty);
    } catch (const std::bad_alloc&) {
        fBuckets.clear();
        return false;
    }
    _SetModMultiplier();
    return true;
}

bool _VHashKeyMap::Put(uint32 hash, uint32 index) noexcept {
    const size_t count = fBuckets.size();
    if (count == 0) return false;
    if (fFreeValid && fFreeHash == hash && fBuckets[fFreeBucket] == tag_empty) {
        fFreeValid = false;
        fBuckets[fFreeBucket] = index;
        return true;
    }
    size_t bucket = GetStartBucket(hash);
    for (size_t probes = 0; probes < count; ++probes) {
        if (fBuckets[bucket] == tag_empty) {
            fBuckets[bucket] = index;
            return true;
        }
        if (++bucket == count) bucket = 0;
    }
    return false;
}

VError _VHashKeyMap::WriteToStream(VStream* stream) const {
    if (stream->PutLong(int32(fBuckets.size())) != VE_OK) return stream->GetLastError();
    return stream->PutLongs(reinterpret_cast<const int32*>(fBuckets.data()), int32(fBuckets.size()));
}

VError _VHashKeyMap::ReadFromStream(VStream* stream, size_t entryCount) {
    Clear();
    int32 count = 0;
    if (stream->GetLong(count) != VE_OK) return stream->GetLastError();
    if (count < 1) return SetStreamCorrupted(stream);
    if (CheckStoredCount(stream, count, sizeof(uint32)) != VE_OK) return stream->GetLastError();
    try {
        fBuckets.resize(size_t(count));
    } catch (const std::bad_alloc&) {
        fBuckets.clear();
        return SetStreamMemoryFull(stream);
    }
    int32 read = count;
    if (stream->GetLongs(reinterpret_cast<int32*>(fBuckets.data()), &read) != VE_OK || read != count) {
        fBuckets.clear();
        return stream->GetLastError() != VE_OK ? stream->GetLastError() : SetStreamCorrupted(stream);
    }
    for (uint32 bucket : fBuckets) {
        if (bucket != tag_empty && bucket >= entryCount) {
            fBuckets.clear();
            return SetStreamCorrupted(stream);
        }
    }
    _SetModMultiplier();
    return VE_OK;
}

// ---- VPackedDictionary_base

template <class Slot> StPackedDictionaryKey VPackedDictionary_base<Slot>::GetKeyAt(size_t index) const noexcept {
    const uint8* stored = fKeys.data() + fSlots[index].fKeyOffset;
    return StPackedDictionaryKey(reinterpret_cast<const char*>(stored + 1), stored[0],
                                 StPackedDictionaryKey::Borrowed{});
}

template <class Slot> void VPackedDictionary_base<Slot>::GetNameAt(size_t index, VString& out) const {
    GetKeyAt(index).GetName(out);
}

template <class Slot> void VPackedDictionary_base<Slot>::_BuildIndex() const noexcept {
    const size_t count = fSlots.size();
    if (!fIndex.Rebuild(count)) return;
    for (size_t i = 0; i < count; ++i) {
        if (!fIndex.Put(fSlots[i].fKeyHash, uint32(i))) {
            fIndex.Clear();
            return;
        }
    }
}

template <class Slot>
size_t VPackedDictionary_base<Slot>::_AppendKeyAndSlot(const StPackedDictionaryKey& key, Slot&& slot) {
    // The stored length is one byte: a longer key would shift every later key.
    const size_t length = key.GetKeyLength();
    if (length > StPackedDictionaryKey::kMaxLength) return kNotFound;
    const size_t keysSize = fKeys.size();
    if (fSlots.size() >= size_t(UINT32_MAX) - 1 || keysSize + 1 + length > size_t(UINT32_MAX)) return kNotFound;
    slot.fKeyOffset = uint32(keysSize);
    slot.fKeyHash = key.GetHashCode();
    try {
        // Room for a few entries at once: small dictionaries are the common case.
        ReserveFor(fSlots, fSlots.size() + 1, kIndexThreshold + 2);
        uint8* stored = fKeys.Grow(1 + length, 64);
        stored[0] = uint8(length);
        std::memcpy(stored + 1, key.GetKey(), length);
        fSlots.push_back(std::move(slot));
    } catch (const std::bad_alloc&) {
        fKeys.resize(keysSize);
        return kNotFound;
    }
    const size_t index = fSlots.size() - 1;
    if (!fIndex.IsEmpty() && !fIndex.Put(key.GetHashCode(), uint32(index))) _BuildIndex();
    return index;
}

template <class Slot> void VPackedDictionary_base<Slot>::_RemoveKeyAndSlot(size_t index) {
    const uint32 offset = fSlots[index].fKeyOffset;
    const uint32 length = 1u + fKeys[offset];
    fKeys.Erase(offset, length);
    for (size_t i = index + 1; i < fSlots.size(); ++i)
        fSlots[i].fKeyOffset -= length;
    fSlots.erase(fSlots.begin() + ptrdiff_t(index));
    fIndex.Clear();
}

template <class Slot> void VPackedDictionary_base<Slot>::_ClearKeys() noexcept {
    fKeys.clear();
    fSlots.clear();
    fIndex.Clear();
}

template <class Slot> void VPackedDictionary_base<Slot>::_Reorder(const std::vector<size_t>& order) {
    _VPackedArray<uint8> keys;
    std::vector<Slot> slots;
    keys.reserve(fKeys.size());
    slots.reserve(order.size());
    for (size_t index : order) {
        Slot& slot = fSlots[index];
        const uint8* stored = fKeys.data() + slot.fKeyOffset;
        uint32 offset = uint32(keys.size());
        std::memcpy(keys.Grow(1 + stored[0], 0), stored, 1 + stored[0]);
        slots.push_back(std::move(slot));
        slots.back().fKeyOffset = offset;
    }
    fKeys.swap(keys);
    fSlots.swap(slots);
    fIndex.Clear();
}

template <class Slot> VError VPackedDictionary_base<Slot>::_WriteKeysToStream(VStream* stream, bool withHash) const {
    if (withHash && fIndex.IsEmpty() && fSlots.size() >= kIndexThreshold) _BuildIndex();
    const bool hashed = withHash && !fIndex.IsEmpty();
    stream->PutLong(int32(fSlots.size()));
    stream->PutLong(int32(fKeys.size()));
    if (!fKeys.empty()) stream->PutData(fKeys.data(), fKeys.size());
    stream->PutByte(hashed ? 1 : 0);
    if (hashed) fIndex.WriteToStream(stream);
    return stream->GetLastError();
}

template <class Slot> VError VPackedDictionary_base<Slot>::_ReadKeysFromStream(VStream* stream) {
    _ClearKeys();
    int32 count = 0;
    int32 keysSize = 0;
    if (stream->GetLong(count) != VE_OK || stream->GetLong(keysSize) != VE_OK) return stream->GetLastError();
    // Every entry takes at least its length byte.
    if (count < 0 || keysSize < 0 || count > keysSize) return SetStreamCorrupted(stream);
    if (CheckStoredCount(stream, keysSize, 1) != VE_OK) return stream->GetLastError();
    fKeys.resize(size_t(keysSize));
    if (keysSize > 0 && stream->GetData(fKeys.data(), size_t(keysSize)) != VE_OK) return stream->GetLastError();
    fSlots.resize(size_t(count));
    size_t offset = 0;
    for (Slot& slot : fSlots) {
        if (offset >= fKeys.size()) return SetStreamCorrupted(stream);
        const size_t length = fKeys[offset];
        if (offset + 1 + length > fKeys.size()) return SetStreamCorrupted(stream);
        slot.fKeyOffset = uint32(offset);
        slot.fKeyHash = StPackedDictionaryKey::GetHashCode(reinterpret_cast<const char*>(&fKeys[offset + 1]), length);
        offset += 1 + length;
    }
    if (offset != fKeys.size()) return SetStreamCorrupted(stream);

    uint8 hashed = 0;
    if (stream->GetByte(hashed) != VE_OK) return stream->GetLastError();
    if (hashed > 1) return SetStreamCorrupted(stream);
    if (hashed == 1 && fIndex.ReadFromStream(stream, fSlots.size()) != VE_OK) return stream->GetLastError();
    // Every name must be found where it is, through the index as stored: this also refuses a name met twice.
    for (size_t i = 0; i < fSlots.size(); ++i)
        if (_Find(GetKeyAt(i)) != i) return SetStreamCorrupted(stream);
    return VE_OK;
}

template class VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>>;
template class VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>>;

// ---- VPackedValue_VValueSingle

size_t VPackedValue_VValueSingle::GetDataSize(uint16 kind, const void* data) {
    switch (kind) {
    case 1:
    case 2:
        return 1;
    case 3:
        return 2;
    case 4:
        return 4;
    case 5:
    case 6:
    case 9:
        return 8;
    default:
        break;
    }
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
    return info != nullptr ? info->GetSizeOfValueDataPtr(data) : 0;
}

bool VPackedValue_VValueSingle::GetCheckedDataSize(uint16 kind, const void* data, size_t available, bool swapped,
                                                   size_t& outSize) {
    outSize = 0;
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
    switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 9:
        outSize = GetDataSize(kind, data);
        break;
    case 10:   // strings: a 32-bit length, then that many UTF-16 units
    case 11: { // blobs: a 32-bit length, then that many bytes
        if (info == nullptr) break;
        if (available < sizeof(int32)) return false;
        int32 length = LoadStoredLength(data, swapped);
        if (length < 0) return false;
        outSize = sizeof(int32) + uint64(length) * (kind == 10 ? 2 : 1);
        break;
    }
    default: {
        if (info == nullptr) break;
        // The descriptor reads a size header of its own: let it read a zero-padded copy, never past the data.
        alignas(8) uint8 probe[64] = {};
        std::memcpy(probe, data, std::min(available, sizeof(probe)));
        outSize = info->GetSizeOfValueDataPtr(probe);
        break;
    }
    }
    return outSize <= available;
}

void VPackedValue_VValueSingle::Write(const VValueSingle& value, uint16* record) {
    *record = value.GetTrueValueKind();
    value.WriteToPtr(RecordData(record), false, 0);
}

bool VPackedValue_VValueSingle::SaveValueCheckSpace(const VValueSingle& value, uint16* record) {
    // Equal sizes, not merely enough room: the records that follow stay where they are.
    if (GetDataSize(*record, RecordData(record)) != value.GetSpace(0)) return false;
    Write(value, record);
    return true;
}

// ---- Attribute dictionary

using AttributeDictionary = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

AttributeDictionary::~VPackedDictionary_with_backstore() = default;

AttributeDictionary& AttributeDictionary::operator=(const AttributeDictionary& other) {
    if (this == &other) return *this;
    Clear();
    if (!other._PackIfNeeded()) throw std::bad_alloc();
    try {
        fKeys = other.fKeys;
        fPacked = other.fPacked;
        fIndex = other.fIndex;
        fSlots.resize(other.fSlots.size());
    } catch (const std::bad_alloc&) {
        Clear();
        throw;
    }
    for (size_t i = 0; i < fSlots.size(); ++i) {
        fSlots[i].fKeyOffset = other.fSlots[i].fKeyOffset;
        fSlots[i].fKeyHash = other.fSlots[i].fKeyHash;
        fSlots[i].fValueOffset = other.fSlots[i].fValueOffset;
    }
    return *this;
}

void AttributeDictionary::Clear() noexcept {
    _ClearKeys(); // the slots own the back-store values
    fPacked.clear();
    fPackNeeded = false;
}

size_t AttributeDictionary::_RecordUnits(size_t index) const noexcept {
    size_t end = index + 1 < fSlots.size() ? fSlots[index + 1].fValueOffset : fPacked.size();
    return end - fSlots[index].fValueOffset;
}

uint16 AttributeDictionary::GetNthKind(size_t index) const noexcept {
    const Slot& slot = fSlots[index];
    return slot.fBackStore != nullptr ? slot.fBackStore->GetTrueValueKind() : *_Record(index);
}

bool AttributeDictionary::GetValue(const StPackedDictionaryKey& key, VValueSingle& out) const {
    size_t index = _Find(key);
    if (index == kNotFound) return false;
    GetValueAt(index, out);
    return true;
}

void AttributeDictionary::GetValueAt(size_t index, VValueSingle& out) const {
    Slot& slot = fSlots[index];
    if (slot.fBackStore != nullptr) {
        slot.fBackStore->GetValue(out);
        return;
    }
    const uint16* record = _Record(index);
    if (out.GetTrueValueKind() == *record) {
        out.LoadFromPtr(record + 1, false);
        return;
    }
    const VValueSingle* value = GetNthValue(index);
    if (value != nullptr) value->GetValue(out);
}

const void* AttributeDictionary::GetRecordDataAt(size_t index, uint16 kind) const noexcept {
    if (fSlots[index].fBackStore != nullptr) return nullptr;
    const uint16* record = _Record(index);
    return *record == kind ? record + 1 : nullptr;
}

const VValueSingle* AttributeDictionary::GetNthValue(size_t index) const {
    Slot& slot = fSlots[index];
    if (slot.fBackStore != nullptr) return slot.fBackStore.get();
    const uint16* record = _Record(index);
    const VValueInfo* info = VValue::ValueInfoFromValueKind(*record);
    if (info == nullptr) return nullptr;
    std::unique_ptr<VValue> decoded(info->LoadFromPtr(record + 1, false));
    if (decoded == nullptr || decoded->IsVValueSingle() == nullptr) return nullptr;
    // Kept beside the record, which stays current: the conversion is decoded once.
    slot.fBackStore.reset(decoded.release()->IsVValueSingle());
    return slot.fBackStore.get();
}

VValueSingle* AttributeDictionary::GetNthValueForChange(size_t index) {
    VValueSingle* value = const_cast<VValueSingle*>(GetNthValue(index)); // the slot's own back-store value
    if (value != nullptr) fPackNeeded = true;
    return value;
}

bool AttributeDictionary::NthEqualsStored(size_t index, const AttributeDictionary& other, size_t otherIndex) const {
    if (!_PackIfNeeded() || !other._PackIfNeeded()) return false;
    const uint16* record = _Record(index);
    const uint16* otherRecord = other._Record(otherIndex);
    if (*record != *otherRecord) return false;
    // The kind and the data, not the padding byte, which stored data may leave as it came.
    const size_t size = VPackedValue_VValueSingle::GetDataSize(*record, record + 1);
    return size == VPackedValue_VValueSingle::GetDataSize(*otherRecord, otherRecord + 1) &&
           std::memcmp(record + 1, otherRecord + 1, size) == 0;
}

bool AttributeDictionary::SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value) {
    size_t index = _Find(key);
    if (index == kNotFound) return false;
    _SetValueAt(index, value);
    return true;
}

void AttributeDictionary::_SetValueAt(size_t index, const VValueSingle& value) {
    Slot& slot = fSlots[index];
    try {
        if (slot.fBackStore == nullptr) {
            if (VPackedValue_VValueSingle::SaveValueCheckSpace(value, _Record(index))) return;
        } else if (slot.fBackStore.get() == &value) {
            fPackNeeded = true;
            return;
        } else if (slot.fBackStore->GetTrueValueKind() == value.GetTrueValueKind() &&
                   slot.fBackStore->FromValueSameKind(&value)) {
            fPackNeeded = true;
            return;
        }
        std::unique_ptr<VValue> copy(value.Clone());
        if (copy == nullptr || copy->IsVValueSingle() == nullptr) return;
        slot.fBackStore.reset(copy.release()->IsVValueSingle());
        fPackNeeded = true;
    } catch (const std::bad_alloc&) {
        // The old value stays: exhaustion is absorbed.
    }
}

void AttributeDictionary::Append(const StPackedDictionaryKey& key, const VValueSingle& value) {
    uint16* record = _AppendRecord(key, value.GetSpace(0));
    if (record != nullptr) VPackedValue_VValueSingle::Write(value, record);
}

uint16* AttributeDictionary::_AppendRecord(const StPackedDictionaryKey& key, size_t dataSize) {
    const size_t units = VPackedValue_VValueSingle::GetRecordUnits(dataSize);
    const size_t offset = fPacked.size();
    if (units > size_t(UINT32_MAX) - offset) return nullptr;
    try {
        uint16* record = fPacked.Grow(units, 32);
        record[units - 1] = 0; // the padding byte, when there is one
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    Slot slot;
    slot.fValueOffset = uint32(offset);
    if (_AppendKeyAndSlot(key, std::move(slot)) == kNotFound) {
        // No record may be left without its entry: readers walk the records contiguously.
        fPacked.resize(offset);
        return nullptr;
    }
    return fPacked.data() + offset;
}

void AttributeDictionary::Clear(const StPackedDictionaryKey& key) {
    size_t index = _Find(key);
    if (index == kNotFound) return;
    fSlots[index].fBackStore.reset();
    const uint32 offset = fSlots[index].fValueOffset;
    const uint32 units = uint32(_RecordUnits(index));
    fPacked.Erase(offset, units);
    for (size_t i = index + 1; i < fSlots.size(); ++i)
        fSlots[i].fValueOffset -= units;
    _RemoveKeyAndSlot(index);
}

bool AttributeDictionary::_Pack() const {
    size_t first = 0;
    for (; first < fSlots.size(); ++first) {
        const Slot& slot = fSlots[first];
        if (slot.fBackStore != nullptr &&
            !VPackedValue_VValueSingle::SaveValueCheckSpace(*slot.fBackStore, _Record(first)))
            break;
    }
    if (first == fSlots.size()) return true;
    try {
        _VPackedArray<uint16> packed;
        std::vector<uint32> offsets(fSlots.size());
        packed.reserve(fPacked.size());
        for (size_t i = 0; i < fSlots.size(); ++i) {
            const Slot& slot = fSlots[i];
            offsets[i] = uint32(packed.size());
            if (slot.fBackStore != nullptr) {
                size_t units = VPackedValue_VValueSingle::GetRecordUnits(slot.fBackStore->GetSpace(0));
                if (units > size_t(UINT32_MAX) - packed.size()) return false;
                uint16* record = packed.Grow(units, 0);
                record[units - 1] = 0; // the padding byte, when there is one
                VPackedValue_VValueSingle::Write(*slot.fBackStore, record);
            } else {
                const size_t units = _RecordUnits(i);
                std::memcpy(packed.Grow(units, 0), _Record(i), units * sizeof(uint16));
            }
        }
        fPacked.swap(packed);
        for (size_t i = 0; i < fSlots.size(); ++i)
            fSlots[i].fValueOffset = offsets[i];
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool AttributeDictionary::_PackIfNeeded() const {
    if (!fPackNeeded) return true;
    if (!_Pack()) return false;
    fPackNeeded = false;
    return true;
}

VError AttributeDictionary::WriteToStream(VStream* stream, bool withHash) const {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    if (!_PackIfNeeded()) return VE_MEMORY_FULL;
    if (_WriteKeysToStream(stream, withHash) != VE_OK) return stream->GetLastError();
    if (stream->PutLong(int32(fPacked.size())) != VE_OK || fPacked.empty()) return stream->GetLastError();
    if (!stream->NeedSwap()) return stream->PutData(fPacked.data(), fPacked.size() * sizeof(uint16));

    // The records turn to the stream's order in a copy: the dictionary itself is not touched.
    _VPackedArray<uint16> swapped;
    try {
        swapped = fPacked;
    } catch (const std::bad_alloc&) {
        return VE_MEMORY_FULL;
    }
    for (size_t i = 0; i < fSlots.size(); ++i) {
        uint16* record = swapped.data() + fSlots[i].fValueOffset;
        const VValueInfo* info = VValue::ValueInfoFromValueKind(*record);
        if (info != nullptr) info->ByteSwapPtr(RecordData(record), true);
        *record = __builtin_bswap16(*record);
    }
    return stream->PutData(swapped.data(), swapped.size() * sizeof(uint16));
}

VError AttributeDictionary::ReadFromStream(VStream* stream) {
    Clear();
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    VError error = VE_OK;
    try {
        error = _ReadKeysFromStream(stream);
        if (error == VE_OK) error = _ReadRecords(stream);
    } catch (const std::bad_alloc&) {
        error = SetStreamMemoryFull(stream);
    }
    if (error != VE_OK) Clear();
    return error;
}

VError AttributeDictionary::_ReadRecords(VStream* stream) {
    int32 units = 0;
    if (stream->GetLong(units) != VE_OK) return stream->GetLastError();
    if (CheckStoredCount(stream, units, sizeof(uint16)) != VE_OK) return stream->GetLastError();
    fPacked.resize(size_t(units));
    if (units > 0 && stream->GetData(fPacked.data(), size_t(units) * sizeof(uint16)) != VE_OK)
        return stream->GetLastError();

    const bool swapped = stream->NeedSwap();
    size_t offset = 0;
    for (Slot& slot : fSlots) {
        if (offset >= fPacked.size()) return SetStreamCorrupted(stream);
        slot.fValueOffset = uint32(offset);
        uint16* record = fPacked.data() + offset;
        if (swapped) *record = __builtin_bswap16(*record);
        size_t available = (fPacked.size() - offset) * sizeof(uint16) - sizeof(uint16);
        size_t size = 0;
        if (!VPackedValue_VValueSingle::GetCheckedDataSize(*record, RecordData(record), available, swapped, size))
            return SetStreamCorrupted(stream);
        if (swapped) {
            const VValueInfo* info = VValue::ValueInfoFromValueKind(*record);
            if (info != nullptr) info->ByteSwapPtr(RecordData(record), false);
        }
        offset += VPackedValue_VValueSingle::GetRecordUnits(size);
    }
    // Records must tile the values exactly: units left behind the last one would shift later appends.
    if (offset != fPacked.size()) return SetStreamCorrupted(stream);
    return VE_OK;
}

// ---- Element dictionary

using ElementDictionary = VPackedDictionary<VPackedValue_VBagArray>;

ElementDictionary::VPackedDictionary(const VPackedDictionary& other) : VPackedDictionary_base() {
    try {
        fKeys = other.fKeys;
        fSlots.reserve(other.fSlots.size());
        for (const Slot& source : other.fSlots) {
            Slot slot;
            slot.fKeyOffset = source.fKeyOffset;
            slot.fKeyHash = source.fKeyHash;
            if (source.fValue != nullptr) slot.fValue = new VBagArray(*source.fValue);
            fSlots.push_back(slot); // reserved: cannot throw
        }
    } catch (const std::bad_alloc&) {
        Clear(); // the destructor does not run for a constructor that throws
        throw;
    }
}

ElementDictionary::~VPackedDictionary() {
    Clear();
}

void ElementDictionary::Clear() noexcept {
    for (Slot& slot : fSlots)
        ReleaseRefCountable(&slot.fValue);
    _ClearKeys();
}

VBagArray* ElementDictionary::GetValue(const StPackedDictionaryKey& key) const {
    size_t index = _Find(key);
    return index != kNotFound ? fSlots[index].fValue : nullptr;
}

void ElementDictionary::SetNthValue(size_t index, VBagArray* array) {
    Slot& slot = fSlots[index];
    if (slot.fValue == array) return;
    RetainRefCountable(array);
    ReleaseRefCountable(&slot.fValue);
    slot.fValue = array;
}

void ElementDictionary::SetValue(const StPackedDictionaryKey& key, VBagArray* array) {
    size_t index = _Find(key);
    if (index == kNotFound) {
        index = _AppendKeyAndSlot(key, Slot());
        if (index == kNotFound) return;
    }
    SetNthValue(index, array);
}

void ElementDictionary::Remove(const StPackedDictionaryKey& key) {
    size_t index = _Find(key);
    if (index == kNotFound) return;
    ReleaseRefCountable(&fSlots[index].fValue);
    _RemoveKeyAndSlot(index);
}

VError ElementDictionary::WriteToStream(VStream* stream, bool withHash) const {
    if (_WriteKeysToStream(stream, withHash) != VE_OK) return stream->GetLastError();
    for (const Slot& slot : fSlots) {
        VError error = slot.fValue != nullptr ? slot.fValue->WriteToStreamMinimal(stream) : stream->PutLong(0);
        if (error != VE_OK) return error;
    }
    return stream->GetLastError();
}

VError ElementDictionary::ReadFromStream(VStream* stream) {
    Clear();
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    VError error = VE_OK;
    try {
        error = _ReadKeysFromStream(stream);
        for (size_t i = 0; error == VE_OK && i < fSlots.size(); ++i) {
            fSlots[i].fValue = new VBagArray;
            error = fSlots[i].fValue->ReadFromStreamMinimal(stream);
        }
    } catch (const std::bad_alloc&) {
        error = SetStreamMemoryFull(stream);
    }
    if (error != VE_OK) Clear();
    return error;
}

} // namespace vela
