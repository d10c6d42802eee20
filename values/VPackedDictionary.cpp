#include "values/VPackedDictionary.h"

#include "core/VString.h"
#include "files/VStream.h"
#include "values/VBagArray.h"
#include "values/VBlob.h"
#include "values/VStoredData.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

namespace vela {

namespace {

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

// Capacities of a new block for appends: a few entries at once, as most bags hold a handful of attributes.
constexpr size_t kFirstCapacities[] = {8, 32, 64}; // slots, units, keys bytes

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
    return ReadBucketsFromStream(stream, count, entryCount);
}

VError _VHashKeyMap::ReadBucketsFromStream(VStream* stream, int32 count, size_t entryCount) {
    Clear();
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
    const Slot& slot = _Slots()[index];
    const uint8* stored = _Keys() + slot.fKeyOffset;
    return StPackedDictionaryKey(reinterpret_cast<const char*>(stored + 1), stored[0], slot.fKeyHash,
                                 StPackedDictionaryKey::Borrowed{});
}

template <class Slot> void VPackedDictionary_base<Slot>::GetNameAt(size_t index, VString& out) const {
    GetKeyAt(index).GetName(out);
}

template <class Slot> void VPackedDictionary_base<Slot>::_BuildIndex() noexcept {
    const size_t count = GetCount();
    const Slot* slots = _Slots();
    if (!fIndex.Rebuild(count)) return;
    for (size_t i = 0; i < count; ++i) {
        if (!fIndex.Put(slots[i].fKeyHash, uint32(i))) {
            fIndex.Clear();
            return;
        }
    }
}

template <class Slot> void VPackedDictionary_base<Slot>::_ResetIndex() noexcept {
    if (GetCount() >= kIndexThreshold) {
        _BuildIndex();
    } else {
        fIndex.Clear();
    }
}

template <class Slot>
size_t VPackedDictionary_base<Slot>::_AppendKeyAndSlot(const StPackedDictionaryKey& key, const Slot& slot,
                                                       size_t units) {
    // The stored length is one byte: a longer key would shift every later key.
    const size_t length = key.GetKeyLength();
    if (length > StPackedDictionaryKey::kMaxLength) return kNotFound;
    const size_t count = GetCount();
    const size_t keysSize = GetKeysSize();
    const size_t unitsSize = fBlock.GetSize(Block::eUnits);
    if (count >= size_t(UINT32_MAX) - 1 || keysSize + 1 + length > size_t(UINT32_MAX) ||
        units > size_t(UINT32_MAX) - unitsSize)
        return kNotFound;
    try {
        fBlock.Reserve({count + 1, unitsSize + units, keysSize + 1 + length}, false, kFirstCapacities);
    } catch (const std::bad_alloc&) {
        return kNotFound;
    }
    uint8* stored = fBlock.Keys() + keysSize;
    stored[0] = uint8(length);
    if (length > 0) std::memcpy(stored + 1, key.GetKey(), length);
    Slot& added = _Slots()[count];
    added = slot;
    added.fKeyOffset = uint32(keysSize);
    added.fKeyHash = key.GetHashCode();
    fBlock.SetSize(Block::eSlots, count + 1);
    fBlock.SetSize(Block::eUnits, unitsSize + units);
    fBlock.SetSize(Block::eKeys, keysSize + 1 + length);
    if (fIndex.IsEmpty()) {
        if (count + 1 >= kIndexThreshold) _BuildIndex();
    } else if (!fIndex.Put(key.GetHashCode(), uint32(count))) {
        _BuildIndex(); // full: a larger one
    }
    return count;
}

template <class Slot> void VPackedDictionary_base<Slot>::_RemoveKeyAndSlot(size_t index) {
    Slot* slots = _Slots();
    const uint32 offset = slots[index].fKeyOffset;
    const uint32 length = 1u + _Keys()[offset];
    fBlock.Erase(Block::eKeys, offset, length, 1);
    const size_t count = GetCount();
    for (size_t i = index + 1; i < count; ++i)
        slots[i].fKeyOffset -= length;
    fBlock.Erase(Block::eSlots, index, 1, sizeof(Slot));
    _ResetIndex();
}

template <class Slot> void VPackedDictionary_base<Slot>::_ClearKeys() noexcept {
    fBlock.Clear();
    fIndex.Clear();
}

template <class Slot> void VPackedDictionary_base<Slot>::_Reorder(const std::vector<size_t>& order) {
    // The same entries in another order: the parts keep their sizes, so the block stays.
    const size_t count = GetCount();
    std::vector<Slot> slots(_Slots(), _Slots() + count);
    std::vector<uint8> keys(_Keys(), _Keys() + GetKeysSize());
    Slot* placed = _Slots();
    uint8* placedKeys = fBlock.Keys();
    uint32 offset = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        placed[i] = slots[order[i]];
        const uint8* stored = keys.data() + placed[i].fKeyOffset;
        std::memcpy(placedKeys + offset, stored, 1 + size_t(stored[0]));
        placed[i].fKeyOffset = offset;
        offset += 1 + stored[0];
    }
    _ResetIndex();
}

template <class Slot> VError VPackedDictionary_base<Slot>::_WriteKeysToStream(VStream* stream, bool withHash) const {
    const bool hashed = withHash && !fIndex.IsEmpty();
    stream->PutLong(int32(GetCount()));
    stream->PutLong(int32(GetKeysSize()));
    if (GetKeysSize() > 0) stream->PutData(_Keys(), GetKeysSize());
    stream->PutByte(hashed ? 1 : 0);
    if (hashed) fIndex.WriteToStream(stream);
    return stream->GetLastError();
}

template <class Slot>
VError VPackedDictionary_base<Slot>::_ReadKeysSection(VStream* stream, _StoredKeys& keys, int32* outUnits) {
    _ClearKeys();
    // Fields that always come together are read together: stream calls cost more than these few bytes.
    const bool swap = stream->NeedSwap();
    uint32 counts[2] = {};
    if (stream->GetData(counts, sizeof(counts)) != VE_OK) return stream->GetLastError();
    const int32 count = int32(swap ? __builtin_bswap32(counts[0]) : counts[0]);
    const int32 keysSize = int32(swap ? __builtin_bswap32(counts[1]) : counts[1]);
    // Every entry takes at least its length byte.
    if (count < 0 || keysSize < 0 || count > keysSize) return SetStreamCorrupted(stream);
    if (CheckStoredCount(stream, keysSize, 1) != VE_OK) return stream->GetLastError();
    // After the keys: the hash flag, then a 32-bit count that is the bucket count with the flag, the units
    // count of the values section without it.
    const size_t tail = outUnits != nullptr ? 1 + sizeof(int32) : 1;
    uint8* bytes = keys.Prepare(size_t(count), size_t(keysSize), tail);
    if (stream->GetData(bytes, size_t(keysSize) + tail) != VE_OK) return stream->GetLastError();
    // The walk must end exactly at the end of the block.
    size_t offset = 0;
    for (int32 i = 0; i < count; ++i) {
        if (offset >= size_t(keysSize)) return SetStreamCorrupted(stream);
        offset += 1 + size_t(bytes[offset]);
    }
    if (offset != size_t(keysSize)) return SetStreamCorrupted(stream);

    const uint8 hashed = bytes[keysSize];
    if (hashed > 1) return SetStreamCorrupted(stream);
    int32 following = 0;
    if (outUnits != nullptr) {
        uint32 read;
        std::memcpy(&read, bytes + keysSize + 1, sizeof(read));
        following = int32(swap ? __builtin_bswap32(read) : read);
    }
    if (hashed == 1) {
        const VError error = outUnits != nullptr ? fIndex.ReadBucketsFromStream(stream, following, size_t(count))
                                                 : fIndex.ReadFromStream(stream, size_t(count));
        if (error != VE_OK) return stream->GetLastError();
        if (outUnits != nullptr && stream->GetLong(following) != VE_OK) return stream->GetLastError();
    }
    if (outUnits != nullptr) *outUnits = following;
    return VE_OK;
}

template <class Slot> VError VPackedDictionary_base<Slot>::_ReadKeysFromStream(VStream* stream) {
    _StoredKeys keys;
    if (_ReadKeysSection(stream, keys, nullptr) != VE_OK) return stream->GetLastError();
    return _PlaceKeys(stream, keys, 0);
}

template <class Slot>
VError VPackedDictionary_base<Slot>::_PlaceKeys(VStream* stream, const _StoredKeys& keys, size_t units) {
    fBlock.Clear();
    fBlock.Reserve({keys.fCount, units, keys.fSize}, true, kFirstCapacities);
    if (keys.fSize > 0) std::memcpy(fBlock.Keys(), keys.fBytes, keys.fSize);
    Slot* slots = _Slots();
    size_t offset = 0;
    for (size_t i = 0; i < keys.fCount; ++i) {
        const size_t length = keys.fBytes[offset];
        slots[i] = Slot();
        slots[i].fKeyOffset = uint32(offset);
        slots[i].fKeyHash =
            StPackedDictionaryKey::GetHashCode(reinterpret_cast<const char*>(keys.fBytes + offset + 1), length);
        offset += 1 + length;
    }
    fBlock.SetSize(Block::eSlots, keys.fCount);
    fBlock.SetSize(Block::eUnits, units);
    fBlock.SetSize(Block::eKeys, keys.fSize);
    const bool stored = !fIndex.IsEmpty();
    if (!stored && keys.fCount >= kIndexThreshold) _BuildIndex();
    // A stored index may lead to every entry and still place them far from their start buckets, which makes
    // this check and every later lookup slow: past a linear budget of probes it gives way to one built here.
    constexpr size_t kProbesPerEntry = 8;
    constexpr size_t kUnbounded = ~size_t(0);
    _EPlacement placement = _EveryNameFoundInPlace(stored ? kProbesPerEntry * (keys.fCount + 1) : kUnbounded);
    if (placement == _EPlacement::eTooFar) {
        _BuildIndex();
        placement = _EveryNameFoundInPlace(kUnbounded);
    }
    if (placement != _EPlacement::eFound) return SetStreamCorrupted(stream);
    return VE_OK;
}

template <class Slot> bool VPackedDictionary_base<Slot>::_SameName(size_t a, size_t b) const noexcept {
    const Slot* slots = _Slots();
    if (slots[a].fKeyHash != slots[b].fKeyHash) return false;
    const uint8* keyA = _Keys() + slots[a].fKeyOffset;
    const uint8* keyB = _Keys() + slots[b].fKeyOffset;
    return keyA[0] == keyB[0] && std::memcmp(keyA + 1, keyB + 1, keyA[0]) == 0;
}

template <class Slot>
typename VPackedDictionary_base<Slot>::_EPlacement
VPackedDictionary_base<Slot>::_EveryNameFoundInPlace(size_t probeBudget) const noexcept {
    // What _Find(name of i) == i for every i means, without looking each name up anew.
    const size_t count = GetCount();
    if (fIndex.IsEmpty()) {
        // A scan finds the first entry of a name: no earlier entry may have it.
        for (size_t i = 1; i < count; ++i)
            for (size_t j = 0; j < i; ++j)
                if (_SameName(i, j)) return _EPlacement::eMisplaced;
        return _EPlacement::eFound;
    }
    // Probing from the name's start bucket must reach i before a free bucket or another entry of that name.
    const Slot* slots = _Slots();
    const uint32* buckets = fIndex.GetBuckets();
    const size_t bucketCount = fIndex.GetBucketCount();
    size_t budget = probeBudget;
    for (size_t i = 0; i < count; ++i) {
        size_t bucket = fIndex.GetStartBucket(slots[i].fKeyHash);
        for (size_t probes = 0;; ++probes) {
            if (probes == bucketCount) return _EPlacement::eMisplaced;
            if (budget-- == 0) return _EPlacement::eTooFar;
            const uint32 slot = buckets[bucket];
            if (slot == i) break;
            if (slot == _VHashKeyMap::tag_empty || (slot < count && _SameName(slot, i))) return _EPlacement::eMisplaced;
            if (++bucket == bucketCount) bucket = 0;
        }
    }
    return _EPlacement::eFound;
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
    switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 9:
        outSize = GetDataSize(kind, data);
        return outSize <= available;
    default:
        break;
    }
    const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
    switch (kind) {
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

AttributeDictionary::~VPackedDictionary_with_backstore() {
    Clear();
}

AttributeDictionary& AttributeDictionary::operator=(const AttributeDictionary& other) {
    if (this == &other) return *this;
    if (!IsEmpty()) Clear(); // copies are mostly made into new dictionaries
    if (other.fPackNeeded) {
        _CopyPackedAside(other);
    } else {
        _CopyEntries(other, other.fBlock.Units(), other.GetPackedUnits());
    }
    return *this;
}

void AttributeDictionary::_CopyPackedAside(const AttributeDictionary& other) {
    // Values waiting in other's back store are packed into a copy of its records: other stays as it is.
    VPackedArray<uint16> packed;
    std::vector<uint32> offsets;
    other._PackAside(packed, offsets);
    _CopyEntries(other, packed.data(), packed.size());
    Slot* slots = _Slots();
    for (size_t i = 0; i < offsets.size(); ++i)
        slots[i].fValueOffset = offsets[i];
}

void AttributeDictionary::_CopyEntries(const AttributeDictionary& other, const uint16* records, size_t units) {
    const size_t count = other.GetCount();
    const size_t keysSize = other.GetKeysSize();
    try {
        fBlock.Reserve({count, units, keysSize}, true, kFirstCapacities);
        fIndex = other.fIndex;
    } catch (const std::bad_alloc&) {
        Clear();
        throw;
    }
    // The records carry the values: no back-store value is copied (nor read: other's readers may publish one).
    Slot* slots = _Slots();
    const Slot* otherSlots = other._Slots();
    for (size_t i = 0; i < count; ++i) {
        const Slot& from = otherSlots[i];
        slots[i] = Slot{from.fKeyOffset, from.fKeyHash, from.fValueOffset, nullptr};
    }
    if (units > 0) std::memcpy(fBlock.Units(), records, units * sizeof(uint16));
    if (keysSize > 0) std::memcpy(fBlock.Keys(), other._Keys(), keysSize);
    fBlock.SetSize(Block::eSlots, count);
    fBlock.SetSize(Block::eUnits, units);
    fBlock.SetSize(Block::eKeys, keysSize);
}

void AttributeDictionary::_DropBackStore(size_t index) noexcept {
    Slot& slot = _Slots()[index];
    delete slot.fBackStore;
    slot.fBackStore = nullptr;
}

void AttributeDictionary::Clear() noexcept {
    if (fHasBackStores.load(std::memory_order_relaxed)) {
        for (size_t i = 0, count = GetCount(); i < count; ++i)
            _DropBackStore(i);
        fHasBackStores.store(false, std::memory_order_relaxed);
    }
    _ClearKeys();
    fPackNeeded = false;
}

size_t AttributeDictionary::_RecordUnits(size_t index) const noexcept {
    const Slot* slots = _Slots();
    size_t end = index + 1 < GetCount() ? slots[index + 1].fValueOffset : GetPackedUnits();
    return end - slots[index].fValueOffset;
}

uint16 AttributeDictionary::GetNthKind(size_t index) const noexcept {
    const VValueSingle* kept = _BackStoreAt(index);
    return kept != nullptr ? kept->GetTrueValueKind() : *_Record(index);
}

bool AttributeDictionary::GetValue(const StPackedDictionaryKey& key, VValueSingle& out) const {
    size_t index = _Find(key);
    if (index == kNotFound) return false;
    GetValueAt(index, out);
    return true;
}

void AttributeDictionary::GetValueAt(size_t index, VValueSingle& out) const {
    if (const VValueSingle* kept = _BackStoreAt(index)) {
        kept->GetValue(out);
        return;
    }
    const uint16* record = _Record(index);
    if (out.GetTrueValueKind() == *record) {
        // An empty stored blob loads nothing: a reused target would show its previous bytes.
        if (*record == VBlob::kKind) out.Clear();
        out.LoadFromPtr(record + 1, false);
        return;
    }
    const VValueSingle* value = GetNthValue(index);
    if (value != nullptr) value->GetValue(out);
}

const void* AttributeDictionary::GetRecordDataAt(size_t index, uint16 kind) const noexcept {
    if (_BackStoreAt(index) != nullptr) return nullptr;
    const uint16* record = _Record(index);
    return *record == kind ? record + 1 : nullptr;
}

bool AttributeDictionary::GetStringUnitsAt(size_t index, const UniChar*& outUnits, int32& outLength) const noexcept {
    const void* data = GetRecordDataAt(index, VString::kKind);
    if (data == nullptr) return false;
    // The record's pointer form: a 32-bit length, then the units (records are only 2-byte aligned).
    int32 length = 0;
    std::memcpy(&length, data, sizeof(length));
    if (length < 0) return false;
    outLength = length;
    outUnits = reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + sizeof(length));
    return true;
}

const VValueSingle* AttributeDictionary::GetNthValue(size_t index) const {
    if (const VValueSingle* kept = _BackStoreAt(index)) return kept;
    const uint16* record = _Record(index);
    const VValueInfo* info = VValue::ValueInfoFromValueKind(*record);
    if (info == nullptr) return nullptr;
    std::unique_ptr<VValue> decoded(info->LoadFromPtr(record + 1, false));
    VValueSingle* value = decoded != nullptr ? decoded->IsVValueSingle() : nullptr;
    if (value == nullptr) return nullptr;
    // Kept beside the record, which stays current: the conversion is decoded once. Readers on other threads
    // may decode it at the same time: the first to publish its value wins, the others drop theirs.
    VValueSingle* published = nullptr;
    std::atomic_ref<VValueSingle*> slot(const_cast<Slot&>(_Slots()[index]).fBackStore);
    if (!slot.compare_exchange_strong(published, value, std::memory_order_acq_rel, std::memory_order_acquire))
        return published;
    decoded.release();
    fHasBackStores.store(true, std::memory_order_relaxed);
    return value;
}

VValueSingle* AttributeDictionary::GetNthValueForChange(size_t index) {
    VValueSingle* value = const_cast<VValueSingle*>(GetNthValue(index)); // the slot's own back-store value
    if (value != nullptr) fPackNeeded = true;
    return value;
}

bool AttributeDictionary::NthEqualsStored(size_t index, const AttributeDictionary& other, size_t otherIndex) const {
    VPackedArray<uint16> scratch;
    VPackedArray<uint16> otherScratch;
    const uint16* record = nullptr;
    const uint16* otherRecord = nullptr;
    try {
        record = _CurrentRecord(index, scratch);
        otherRecord = other._CurrentRecord(otherIndex, otherScratch);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (*record != *otherRecord) return false;
    // The kind and the data, not the padding byte, which stored data may leave as it came.
    const size_t size = VPackedValue_VValueSingle::GetDataSize(*record, record + 1);
    return size == VPackedValue_VValueSingle::GetDataSize(*otherRecord, otherRecord + 1) &&
           std::memcmp(record + 1, otherRecord + 1, size) == 0;
}

bool AttributeDictionary::SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value) {
    size_t index = _FindToAdd(key); // an Append follows a miss
    if (index == kNotFound) return false;
    _SetValueAt(index, value);
    return true;
}

void AttributeDictionary::_SetValueAt(size_t index, const VValueSingle& value) {
    Slot& slot = _Slots()[index];
    try {
        if (slot.fBackStore == nullptr) {
            if (VPackedValue_VValueSingle::SaveValueCheckSpace(value, _Record(index))) return;
        } else if (slot.fBackStore == &value) {
            fPackNeeded = true;
            return;
        } else if (slot.fBackStore->GetTrueValueKind() == value.GetTrueValueKind() &&
                   slot.fBackStore->FromValueSameKind(&value)) {
            fPackNeeded = true;
            return;
        }
        std::unique_ptr<VValue> copy(value.Clone());
        if (copy == nullptr || copy->IsVValueSingle() == nullptr) return;
        _DropBackStore(index);
        slot.fBackStore = copy.release()->IsVValueSingle();
        fHasBackStores = true;
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
    const size_t offset = GetPackedUnits();
    if (units > size_t(UINT32_MAX) - offset) return nullptr;
    Slot slot;
    slot.fValueOffset = uint32(offset);
    // The record comes with its entry or not at all: readers walk the records contiguously.
    if (_AppendKeyAndSlot(key, slot, units) == kNotFound) return nullptr;
    uint16* record = fBlock.Units() + offset;
    record[units - 1] = 0; // the padding byte, when there is one
    return record;
}

void AttributeDictionary::Clear(const StPackedDictionaryKey& key) {
    size_t index = _Find(key);
    if (index == kNotFound) return;
    _DropBackStore(index);
    Slot* slots = _Slots();
    const uint32 offset = slots[index].fValueOffset;
    const uint32 units = uint32(_RecordUnits(index));
    fBlock.Erase(Block::eUnits, offset, units, sizeof(uint16));
    for (size_t i = index + 1, count = GetCount(); i < count; ++i)
        slots[i].fValueOffset -= units;
    _RemoveKeyAndSlot(index);
}

const uint16* AttributeDictionary::_CurrentRecord(size_t index, VPackedArray<uint16>& scratch) const {
    const VValueSingle* kept = fPackNeeded ? _BackStoreAt(index) : nullptr; // else every record is current
    if (kept == nullptr) return _Record(index);
    const size_t units = VPackedValue_VValueSingle::GetRecordUnits(kept->GetSpace(0));
    scratch.resize(units);
    scratch[units - 1] = 0; // the padding byte, when there is one
    VPackedValue_VValueSingle::Write(*kept, scratch.data());
    return scratch.data();
}

void AttributeDictionary::_PackAside(VPackedArray<uint16>& outUnits, std::vector<uint32>& outOffsets) const {
    const size_t count = GetCount();
    outOffsets.resize(count);
    outUnits.clear();
    outUnits.reserve(GetPackedUnits());
    for (size_t i = 0; i < count; ++i) {
        outOffsets[i] = uint32(outUnits.size());
        const VValueSingle* kept = _BackStoreAt(i);
        const size_t units =
            kept != nullptr ? VPackedValue_VValueSingle::GetRecordUnits(kept->GetSpace(0)) : _RecordUnits(i);
        if (units > size_t(UINT32_MAX) - outUnits.size()) throw std::bad_alloc(); // offsets are 32-bit
        uint16* record = outUnits.Grow(units, 0);
        if (kept != nullptr) {
            record[units - 1] = 0; // the padding byte, when there is one
            VPackedValue_VValueSingle::Write(*kept, record);
        } else {
            std::memcpy(record, _Record(i), units * sizeof(uint16));
        }
    }
}

bool AttributeDictionary::_Pack() {
    const size_t count = GetCount();
    Slot* slots = _Slots();
    size_t first = 0;
    for (; first < count; ++first) {
        const Slot& slot = slots[first];
        if (slot.fBackStore != nullptr &&
            !VPackedValue_VValueSingle::SaveValueCheckSpace(*slot.fBackStore, _Record(first)))
            break;
    }
    if (first < count) {
        try {
            // The records are rebuilt aside, then copied back once the block has room for them.
            VPackedArray<uint16> packed;
            std::vector<uint32> offsets;
            _PackAside(packed, offsets);
            fBlock.Reserve({count, packed.size(), GetKeysSize()}, false, kFirstCapacities);
            slots = _Slots(); // the block may have moved
            if (!packed.empty()) std::memcpy(fBlock.Units(), packed.data(), packed.size() * sizeof(uint16));
            fBlock.SetSize(Block::eUnits, packed.size());
            for (size_t i = 0; i < count; ++i)
                slots[i].fValueOffset = offsets[i];
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    fPackNeeded = false;
    return true;
}

VError AttributeDictionary::WriteToStream(VStream* stream, bool withHash) const {
    if (stream->GetLastError() != VE_OK) return stream->GetLastError();
    // Values waiting in the back store are written from a packed copy: the dictionary itself is not touched.
    VPackedArray<uint16> packed;
    std::vector<uint32> offsets;
    const uint16* records = fBlock.Units();
    size_t units = GetPackedUnits();
    if (fPackNeeded) {
        try {
            _PackAside(packed, offsets);
        } catch (const std::bad_alloc&) {
            return VE_MEMORY_FULL;
        }
        records = packed.data();
        units = packed.size();
    }
    if (_WriteKeysToStream(stream, withHash) != VE_OK) return stream->GetLastError();
    if (stream->PutLong(int32(units)) != VE_OK || units == 0) return stream->GetLastError();
    if (!stream->NeedSwap()) return stream->PutData(records, units * sizeof(uint16));

    // The records turn to the stream's order in a copy.
    VPackedArray<uint16> swapped;
    try {
        swapped.resize(units);
    } catch (const std::bad_alloc&) {
        return VE_MEMORY_FULL;
    }
    std::memcpy(swapped.data(), records, units * sizeof(uint16));
    const Slot* slots = _Slots();
    for (size_t i = 0, count = GetCount(); i < count; ++i) {
        uint16* record = swapped.data() + (fPackNeeded ? offsets[i] : slots[i].fValueOffset);
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
        _StoredKeys keys;
        int32 units = 0;
        error = _ReadKeysSection(stream, keys, &units);
        if (error == VE_OK) error = _ReadRecords(stream, keys, units);
    } catch (const std::bad_alloc&) {
        error = SetStreamMemoryFull(stream);
    }
    if (error != VE_OK) Clear();
    return error;
}

VError AttributeDictionary::_ReadRecords(VStream* stream, const _StoredKeys& keys, int32 units) {
    if (CheckStoredCount(stream, units, sizeof(uint16)) != VE_OK) return stream->GetLastError();
    // Keys, slots and records in one block, sized once.
    if (_PlaceKeys(stream, keys, size_t(units)) != VE_OK) return stream->GetLastError();
    uint16* packed = fBlock.Units();
    const size_t packedUnits = size_t(units);
    if (units > 0 && stream->GetData(packed, packedUnits * sizeof(uint16)) != VE_OK) return stream->GetLastError();

    const bool swapped = stream->NeedSwap();
    size_t offset = 0;
    Slot* slots = _Slots();
    for (size_t i = 0, count = GetCount(); i < count; ++i) {
        if (offset >= packedUnits) return SetStreamCorrupted(stream);
        slots[i].fValueOffset = uint32(offset);
        uint16* record = packed + offset;
        if (swapped) *record = __builtin_bswap16(*record);
        size_t available = (packedUnits - offset) * sizeof(uint16) - sizeof(uint16);
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
    if (offset != packedUnits) return SetStreamCorrupted(stream);
    return VE_OK;
}

// ---- Element dictionary

using ElementDictionary = VPackedDictionary<VPackedValue_VBagArray>;

ElementDictionary::VPackedDictionary(const VPackedDictionary& other) : VPackedDictionary_base() {
    const size_t count = other.GetCount();
    const size_t keysSize = other.GetKeysSize();
    fBlock.Reserve({count, 0, keysSize}, true, kFirstCapacities);
    fIndex = other.fIndex;
    if (keysSize > 0) std::memcpy(fBlock.Keys(), other._Keys(), keysSize);
    fBlock.SetSize(Block::eKeys, keysSize);
    Slot* slots = _Slots();
    const Slot* sources = other._Slots();
    for (size_t i = 0; i < count; ++i) {
        slots[i] = sources[i];
        slots[i].fValue = nullptr; // until copied: Clear releases only the copies made
    }
    fBlock.SetSize(Block::eSlots, count);
    try {
        for (size_t i = 0; i < count; ++i)
            if (sources[i].fValue != nullptr) slots[i].fValue = new VBagArray(*sources[i].fValue);
    } catch (const std::bad_alloc&) {
        Clear(); // the destructor does not run for a constructor that throws
        throw;
    }
}

ElementDictionary::~VPackedDictionary() {
    Clear();
}

void ElementDictionary::Clear() noexcept {
    Slot* slots = _Slots();
    for (size_t i = 0, count = GetCount(); i < count; ++i)
        ReleaseRefCountable(&slots[i].fValue);
    _ClearKeys();
}

VBagArray* ElementDictionary::GetValue(const StPackedDictionaryKey& key) const {
    size_t index = _Find(key);
    return index != kNotFound ? _Slots()[index].fValue : nullptr;
}

void ElementDictionary::SetNthValue(size_t index, VBagArray* array) {
    Slot& slot = _Slots()[index];
    if (slot.fValue == array) return;
    RetainRefCountable(array);
    ReleaseRefCountable(&slot.fValue);
    slot.fValue = array;
}

void ElementDictionary::SetValue(const StPackedDictionaryKey& key, VBagArray* array) {
    size_t index = _FindToAdd(key);
    if (index == kNotFound) {
        index = _AppendKeyAndSlot(key, Slot());
        if (index == kNotFound) return;
    }
    SetNthValue(index, array);
}

void ElementDictionary::Remove(const StPackedDictionaryKey& key) {
    size_t index = _Find(key);
    if (index == kNotFound) return;
    ReleaseRefCountable(&_Slots()[index].fValue);
    _RemoveKeyAndSlot(index);
}

VError ElementDictionary::WriteToStream(VStream* stream, bool withHash) const {
    if (_WriteKeysToStream(stream, withHash) != VE_OK) return stream->GetLastError();
    const Slot* slots = _Slots();
    for (size_t i = 0, count = GetCount(); i < count; ++i) {
        const Slot& slot = slots[i];
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
        for (size_t i = 0, count = GetCount(); error == VE_OK && i < count; ++i) {
            VBagArray*& array = _Slots()[i].fValue;
            array = new VBagArray;
            error = array->ReadFromStreamMinimal(stream);
        }
    } catch (const std::bad_alloc&) {
        error = SetStreamMemoryFull(stream);
    }
    if (error != VE_OK) Clear();
    return error;
}

} // namespace vela
