#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "values/StPackedDictionaryKey.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace vela {

class VBagArray;
class VStream;
class VString;
class VValueSingle;

// A growable array of plain data (keys bytes, record units) that grows without initialising what it adds:
// every added element is written by its caller. Growth throws std::bad_alloc and leaves the array as it was.
template <class T> class VPackedArray {
    static_assert(std::is_trivially_copyable_v<T>, "plain data only");

public:
    VPackedArray() noexcept = default;
    VPackedArray(const VPackedArray& other) { _Assign(other); }
    VPackedArray(VPackedArray&& other) noexcept { swap(other); }
    VPackedArray& operator=(const VPackedArray& other) {
        if (this != &other) _Assign(other);
        return *this;
    }
    VPackedArray& operator=(VPackedArray&& other) noexcept {
        VPackedArray(std::move(other)).swap(*this);
        return *this;
    }
    ~VPackedArray() { std::free(fData); }

    size_t size() const noexcept { return fSize; }
    size_t capacity() const noexcept { return fCapacity; }
    bool empty() const noexcept { return fSize == 0; }
    T* data() noexcept { return fData; }
    const T* data() const noexcept { return fData; }
    T& operator[](size_t i) noexcept { return fData[i]; }
    const T& operator[](size_t i) const noexcept { return fData[i]; }

    // Keeps the block.
    void clear() noexcept { fSize = 0; }
    // Room for capacity elements at least.
    void reserve(size_t capacity) {
        if (capacity <= fCapacity) return;
        T* block = static_cast<T*>(std::realloc(fData, capacity * sizeof(T)));
        if (block == nullptr) throw std::bad_alloc();
        fData = block;
        fCapacity = capacity;
    }
    // n elements; the ones added are not initialised.
    void resize(size_t n) {
        reserve(n);
        fSize = n;
    }
    // n more elements, not initialised; answers the first. first is the capacity of a new array, which then
    // grows four times while small, then doubles.
    T* Grow(size_t n, size_t first) {
        const size_t needed = fSize + n;
        if (needed > fCapacity) {
            size_t grown = fCapacity == 0 ? first : (fCapacity < 64 ? fCapacity * 4 : fCapacity * 2);
            reserve(grown > needed ? grown : needed);
        }
        T* added = fData + fSize;
        fSize = needed;
        return added;
    }
    // Removes n elements from pos.
    void Erase(size_t pos, size_t n) noexcept {
        std::memmove(fData + pos, fData + pos + n, (fSize - pos - n) * sizeof(T));
        fSize -= n;
    }
    void swap(VPackedArray& other) noexcept {
        std::swap(fData, other.fData);
        std::swap(fSize, other.fSize);
        std::swap(fCapacity, other.fCapacity);
    }

private:
    void _Assign(const VPackedArray& other) {
        resize(other.fSize);
        if (other.fSize > 0) std::memcpy(fData, other.fData, other.fSize * sizeof(T));
    }

    T* fData = nullptr;
    size_t fSize = 0;
    size_t fCapacity = 0;
};

// The storage of a packed dictionary in one heap block: the slots, then the packed values (16-bit units), then
// the keys bytes, each part with its own size and capacity, so that a dictionary costs one allocation. Growing a
// part moves the whole block (slots are plain data). Growth throws std::bad_alloc and leaves the block as it was.
template <class Slot> class VPackedBlock {
    static_assert(std::is_trivially_copyable_v<Slot>, "slots move with the block");
    static_assert(sizeof(Slot) % alignof(Slot) == 0 && sizeof(Slot) % alignof(uint16) == 0, "parts stay aligned");

public:
    // The parts of a block.
    enum EPart { eSlots, eUnits, eKeys, ePartCount };

    VPackedBlock() noexcept = default;
    VPackedBlock(const VPackedBlock&) = delete;
    VPackedBlock& operator=(const VPackedBlock&) = delete;
    ~VPackedBlock() { std::free(fBlock); }

    Slot* Slots() noexcept { return reinterpret_cast<Slot*>(fBlock); }
    const Slot* Slots() const noexcept { return reinterpret_cast<const Slot*>(fBlock); }
    uint16* Units() noexcept { return reinterpret_cast<uint16*>(fBlock + _Offset(eUnits)); }
    const uint16* Units() const noexcept { return reinterpret_cast<const uint16*>(fBlock + _Offset(eUnits)); }
    uint8* Keys() noexcept { return fBlock + _Offset(eKeys); }
    const uint8* Keys() const noexcept { return fBlock + _Offset(eKeys); }
    size_t GetSize(EPart part) const noexcept { return fSize[part]; }
    size_t GetCapacity(EPart part) const noexcept { return fCapacity[part]; }

    // Room for the given sizes of the three parts. A part that lacks room gets exactly its size (exact), or
    // grows as appends want it: first (per part) for a new part, then four times larger while small, then
    // doubling.
    void Reserve(const size_t (&sizes)[ePartCount], bool exact, const size_t (&first)[ePartCount]) {
        size_t capacity[ePartCount];
        bool grow = false;
        for (int part = 0; part < ePartCount; ++part) {
            capacity[part] = fCapacity[part];
            if (sizes[part] <= capacity[part]) continue;
            grow = true;
            size_t grown = sizes[part];
            if (!exact)
                grown = std::max(grown, capacity[part] == 0
                                            ? first[part]
                                            : (capacity[part] < 64 ? capacity[part] * 4 : capacity[part] * 2));
            capacity[part] = grown;
        }
        if (grow) _Move(capacity);
    }
    // Sets the size of part (within its capacity); elements added are not initialised.
    void SetSize(EPart part, size_t size) noexcept { fSize[part] = size; }
    // Removes n elements of part from pos (elements of size bytes).
    void Erase(EPart part, size_t pos, size_t n, size_t size) noexcept {
        uint8* data = fBlock + _Offset(part);
        std::memmove(data + pos * size, data + (pos + n) * size, (fSize[part] - pos - n) * size);
        fSize[part] -= n;
    }
    // Empties every part; the block stays for reuse.
    void Clear() noexcept { fSize[eSlots] = fSize[eUnits] = fSize[eKeys] = 0; }

private:
    static constexpr size_t kElementSize[ePartCount] = {sizeof(Slot), sizeof(uint16), 1};

    size_t _Offset(EPart part) const noexcept {
        size_t offset = 0;
        for (int before = 0; before < part; ++before)
            offset += fCapacity[before] * kElementSize[before];
        return offset;
    }
    void _Move(const size_t (&capacity)[ePartCount]) {
        size_t bytes = 0;
        for (int part = 0; part < ePartCount; ++part)
            bytes += capacity[part] * kElementSize[part]; // offsets are 32-bit: these products fit in 64 bits
        uint8* block = static_cast<uint8*>(std::malloc(bytes));
        if (block == nullptr) throw std::bad_alloc();
        size_t to = 0;
        for (int part = 0; part < ePartCount; ++part) {
            const size_t used = fSize[part] * kElementSize[part];
            if (used > 0) std::memcpy(block + to, fBlock + _Offset(EPart(part)), used);
            to += capacity[part] * kElementSize[part];
        }
        std::free(fBlock);
        fBlock = block;
        std::copy(std::begin(capacity), std::end(capacity), fCapacity);
    }

    uint8* fBlock = nullptr;
    size_t fSize[ePartCount] = {};
    size_t fCapacity[ePartCount] = {};
};

// The hash index of a packed dictionary: one slot index (or tag_empty) per bucket, filled by linear probing
// from hash modulo the bucket count. No buckets means no index.
class _VHashKeyMap {
public:
    static constexpr uint32 tag_empty = 0xFFFFFFFF;

    // The bucket count for n entries: the prime of the first row of the growth table whose bound exceeds n
    // (6 entries get 11 buckets, 12 get 23); 0 beyond the table.
    static uint32 _ComputeHashVectorSize(size_t n) noexcept;

    // Replaces the buckets by _ComputeHashVectorSize(n) empty ones; false (and no index) when they cannot be had.
    bool Rebuild(size_t n) noexcept;
    // Stores index in the first free bucket from hash modulo the bucket count; false when every bucket is taken.
    bool Put(uint32 hash, uint32 index) noexcept;
    void Clear() noexcept {
        fBuckets.clear();
        fFreeValid = false;
    }
    // Remembers the free bucket that ended a search for hash: a Put of that hash that follows (a name added
    // after it was looked for) goes there without probing again. Buckets never empty but by Rebuild and Clear,
    // so a remembered bucket still free is still the first free one on the way.
    void NoteFreeBucket(uint32 hash, size_t bucket) noexcept {
        fFreeHash = hash;
        fFreeBucket = bucket;
        fFreeValid = true;
    }

    // hash modulo the bucket count (which must not be 0), by multiplications: lookups run it every time.
    size_t GetStartBucket(uint32 hash) const noexcept {
        return size_t((static_cast<unsigned __int128>(fModMultiplier * hash) * fBuckets.size()) >> 64);
    }

    bool IsEmpty() const noexcept { return fBuckets.empty(); }
    size_t GetBucketCount() const noexcept { return fBuckets.size(); }
    const uint32* GetBuckets() const noexcept { return fBuckets.data(); }

    // The stored form: a 32-bit bucket count, then the buckets. Reading refuses (VE_STREAM_CORRUPTED) a count
    // below 1 and a bucket that is neither tag_empty nor below entryCount, and answers the stream's error.
    VError WriteToStream(VStream* stream) const;
    VError ReadFromStream(VStream* stream, size_t entryCount);
    // The same when the bucket count was already read.
    VError ReadBucketsFromStream(VStream* stream, int32 count, size_t entryCount);

private:
    void _SetModMultiplier() noexcept { fModMultiplier = ~uint64(0) / uint64(fBuckets.size()) + 1; }

    std::vector<uint32> fBuckets;
    uint64 fModMultiplier = 0; // for GetStartBucket
    size_t fFreeBucket = 0;
    uint32 fFreeHash = 0;
    bool fFreeValid = false;
};

// Entries of a packed dictionary of scalar values: the value is a record in the packed values; a back-store
// value replaces it while a replacement of another size waits for the next pack, or caches a decoded
// conversion. Plain data, so that slots move with their block: the dictionary owns and deletes the back-store
// values. Const readers publish a cached value once, atomically (std::atomic_ref): they read the back store
// through the dictionary's _BackStoreAt only.
template <class PackedValue> struct _VPackedDictionary_with_backstore_slot {
    uint32 fKeyOffset = 0;
    uint32 fKeyHash = 0;     // of the key, so that probes compare bytes only for likely matches
    uint32 fValueOffset = 0; // in 16-bit units
    typename PackedValue::value_type* fBackStore = nullptr;
};

// Entries of a packed dictionary of counted objects: the dictionary holds one reference on each (may be null).
template <class PackedValue> struct _VPackedDictionary_slot {
    uint32 fKeyOffset = 0;
    uint32 fKeyHash = 0;
    typename PackedValue::value_type* fValue = nullptr;
};

// The packed record of a scalar value, in 16-bit units: its true kind, then its pointer form (WriteToPtr),
// padded to the next unit. It keeps no null flag: a null value reads back as its kind's zero (an identifier of
// zero bytes as null), except while it waits in the back store.
struct VPackedValue_VValueSingle {
    using value_type = VValueSingle;

    // The data bytes of a record of kind: 1 for kinds 1 and 2, 2 for 3, 4 for 4, 8 for 5, 6 and 9, what the
    // kind's descriptor reads for other kinds, 0 for a kind without descriptor.
    static size_t GetDataSize(uint16 kind, const void* data);
    // The same for a record read from stored data, of which available bytes follow the kind (swapped: still in
    // the other byte order). False when the record cannot fit, or its length is negative.
    static bool GetCheckedDataSize(uint16 kind, const void* data, size_t available, bool swapped, size_t& outSize);
    // Units of a record holding dataSize bytes.
    static constexpr size_t GetRecordUnits(size_t dataSize) noexcept { return (dataSize + 3) / 2; }
    // Writes value over record when its stored size equals the record's; false (record unchanged) otherwise.
    static bool SaveValueCheckSpace(const VValueSingle& value, uint16* record);
    // Writes the kind and the pointer form of value at record (room for its stored size is there).
    static void Write(const VValueSingle& value, uint16* record);
};

// The value of an element dictionary: a list of bags.
struct VPackedValue_VBagArray {
    using value_type = VBagArray;
};

// Keys block, slots and hash index shared by both dictionaries. Keys are kept in one block (a length byte,
// then the bytes, per entry, in insertion order); the slot index is the entry's position. Lookups scan below
// kIndexThreshold entries and go through the hash index from there on, which is kept up to date by every change
// and every load: const access changes nothing, so that threads may read one dictionary together.
template <class Slot> class VPackedDictionary_base : public VObject {
public:
    static constexpr size_t kNotFound = size_t(-1);
    static constexpr size_t kIndexThreshold = 6;

    VPackedDictionary_base() noexcept = default;
    VPackedDictionary_base(const VPackedDictionary_base&) = delete;
    VPackedDictionary_base& operator=(const VPackedDictionary_base&) = delete;

    size_t GetCount() const noexcept { return fBlock.GetSize(Block::eSlots); }
    bool IsEmpty() const noexcept { return GetCount() == 0; }
    // The 0-based position of key, or kNotFound.
    size_t _Find(const StPackedDictionaryKey& key) const noexcept { return _Probe(key, nullptr); }
    // _Find for a writer that adds key when it is absent: the search remembers where the append will go.
    size_t _FindToAdd(const StPackedDictionaryKey& key) noexcept;
    // The name of the entry at index (0-based), borrowing the keys block until the dictionary changes.
    StPackedDictionaryKey GetKeyAt(size_t index) const noexcept;
    // The name at index decoded from UTF-8.
    void GetNameAt(size_t index, VString& out) const;

    // For tests and diagnostics: the bucket count of the hash index (0: none) and the keys block size.
    size_t GetBucketCount() const noexcept { return fIndex.GetBucketCount(); }
    size_t GetKeysSize() const noexcept { return fBlock.GetSize(Block::eKeys); }

protected:
    using Block = VPackedBlock<Slot>;

    ~VPackedDictionary_base() override = default;

    Slot* _Slots() noexcept { return fBlock.Slots(); }
    const Slot* _Slots() const noexcept { return fBlock.Slots(); }
    const uint8* _Keys() const noexcept { return fBlock.Keys(); }
    // The position of key, or kNotFound; with outFreeBucket, the free bucket that ended a search through the
    // index (unchanged when no bucket did).
    size_t _Probe(const StPackedDictionaryKey& key, size_t* outFreeBucket) const noexcept;

    // Appends the key and slot (its key offset and hash are set here) with room for units more packed values
    // (added, not initialised), all in one growth of the block; answers the new position, or kNotFound when the
    // key is over 255 bytes or memory runs out (nothing is added then).
    size_t _AppendKeyAndSlot(const StPackedDictionaryKey& key, const Slot& slot, size_t units = 0);
    // Removes the key and slot at index; the hash index is rebuilt.
    void _RemoveKeyAndSlot(size_t index);
    // Empties keys, slots, packed values and index (the block stays for reuse).
    void _ClearKeys() noexcept;
    // Replaces the keys block and slots by the entries in order (positions in the current dictionary); the
    // hash index is rebuilt.
    void _Reorder(const std::vector<size_t>& order);
    // Builds the hash index from the keys (no index when memory runs out: lookups then scan).
    void _BuildIndex() noexcept;
    // Builds the hash index when the entries are enough for one, else drops it.
    void _ResetIndex() noexcept;
    bool _KeyEquals(size_t index, const StPackedDictionaryKey& key) const noexcept;

    // Keys section: entry count, keys size, keys block, hash flag, then the index when the flag is 1 (with
    // withHash, when there is one). Reading goes in two steps, so that the block can be sized once with the
    // packed values that follow: _ReadKeysSection reads the section (the keys into keys, the index into place)
    // and _PlaceKeys makes the slots. A keys block whose walk does not end exactly at its end, an entry count
    // that the block cannot hold, a bad index or a name met twice is refused (VE_STREAM_CORRUPTED).
    VError _WriteKeysToStream(VStream* stream, bool withHash) const;
    class _StoredKeys;
    // With outUnits, also reads the 32-bit units count of the values section that follows the keys section.
    VError _ReadKeysSection(VStream* stream, _StoredKeys& keys, int32* outUnits);
    // Makes the block hold the keys read and their slots (zeroed but for the key offsets and hashes), with
    // exactly units packed values (not initialised).
    VError _PlaceKeys(VStream* stream, const _StoredKeys& keys, size_t units);
    // Both steps, without packed values.
    VError _ReadKeysFromStream(VStream* stream);
    // Whether the entries at a and b have the same name.
    bool _SameName(size_t a, size_t b) const noexcept;
    // Whether a lookup of every name finds its own entry: no name is met twice and a stored index leads to
    // every entry. eTooFar when the probes through the index would pass probeBudget in all (the answer is then
    // unknown).
    enum class _EPlacement { eFound, eMisplaced, eTooFar };
    _EPlacement _EveryNameFoundInPlace(size_t probeBudget) const noexcept;

    Block fBlock;
    _VHashKeyMap fIndex;
};

// The keys section as read from a stream, before the block is made: most names fit in a local buffer.
template <class Slot> class VPackedDictionary_base<Slot>::_StoredKeys {
public:
    // Room for size bytes of keys and tail bytes after them (heap beyond the local buffer; throws std::bad_alloc).
    uint8* Prepare(size_t count, size_t size, size_t tail) {
        fCount = count;
        fSize = size;
        uint8* bytes = fLocal;
        if (size + tail > sizeof(fLocal)) {
            fHeap = std::make_unique_for_overwrite<uint8[]>(size + tail);
            bytes = fHeap.get();
        }
        fBytes = bytes;
        return bytes;
    }
    size_t fCount = 0;
    size_t fSize = 0;
    const uint8* fBytes = nullptr;

private:
    uint8 fLocal[256];
    std::unique_ptr<uint8[]> fHeap;
};

// Lookups run for every attribute access: they live here to be inlined.
template <class Slot>
inline bool VPackedDictionary_base<Slot>::_KeyEquals(size_t index, const StPackedDictionaryKey& key) const noexcept {
    const Slot& slot = _Slots()[index];
    if (slot.fKeyHash != key.GetHashCode()) return false;
    const uint8* stored = _Keys() + slot.fKeyOffset;
    const size_t length = key.GetKeyLength();
    if (stored[0] != length) return false;
    const char* bytes = key.GetKey();
    for (size_t i = 0; i < length; ++i) // names are short: a plain loop beats a call
        if (stored[1 + i] != uint8(bytes[i])) return false;
    return true;
}

template <class Slot>
inline size_t VPackedDictionary_base<Slot>::_Probe(const StPackedDictionaryKey& key,
                                                   size_t* outFreeBucket) const noexcept {
    const size_t count = GetCount();
    if (fIndex.IsEmpty()) {
        for (size_t i = 0; i < count; ++i)
            if (_KeyEquals(i, key)) return i;
        return kNotFound;
    }
    // Linear probing as Put fills the buckets: the first free bucket ends the search.
    const uint32* buckets = fIndex.GetBuckets();
    const size_t bucketCount = fIndex.GetBucketCount();
    size_t bucket = fIndex.GetStartBucket(key.GetHashCode());
    for (size_t probes = 0; probes < bucketCount; ++probes) {
        const uint32 slot = buckets[bucket];
        if (slot == _VHashKeyMap::tag_empty) {
            if (outFreeBucket != nullptr) *outFreeBucket = bucket;
            return kNotFound;
        }
        if (slot < count && _KeyEquals(slot, key)) return slot;
        if (++bucket == bucketCount) bucket = 0;
    }
    return kNotFound;
}

template <class Slot>
inline size_t VPackedDictionary_base<Slot>::_FindToAdd(const StPackedDictionaryKey& key) noexcept {
    size_t freeBucket = kNotFound;
    const size_t index = _Probe(key, &freeBucket);
    if (freeBucket != kNotFound) fIndex.NoteFreeBucket(key.GetHashCode(), freeBucket);
    return index;
}

template <class PackedValue> class VPackedDictionary_with_backstore;
template <class PackedValue> class VPackedDictionary;

// The attributes of a bag: names to scalar values, all values in one array of 16-bit units. A replacement
// of the same stored size is written in place; other replacements wait in the back store for the next pack,
// which only a writer makes (_Pack): const readers (writing, copying, comparing) take waiting values as they
// stand. Threads may read one dictionary together; a writer needs it to itself.
template <>
class VPackedDictionary_with_backstore<VPackedValue_VValueSingle>
    : public VPackedDictionary_base<_VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>> {
public:
    using Slot = _VPackedDictionary_with_backstore_slot<VPackedValue_VValueSingle>;

    VPackedDictionary_with_backstore() noexcept = default;
    ~VPackedDictionary_with_backstore() override;
    // Copies the keys, index and records of other, with its waiting values packed in (other is not touched); no
    // back-store value is copied. Throws std::bad_alloc when memory runs out (this dictionary is then left
    // empty).
    VPackedDictionary_with_backstore& operator=(const VPackedDictionary_with_backstore& other);

    // out receives the value of key converted to its kind; false (out untouched) when key is absent. A stored
    // kind without descriptor leaves out untouched and answers true.
    bool GetValue(const StPackedDictionaryKey& key, VValueSingle& out) const;
    // Replaces the value of an existing key; false (nothing changed) when key is absent.
    bool SetExistingValue(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Adds an entry without looking for key: callers make sure it is absent. Nothing is added when memory runs
    // out or key is over 255 bytes.
    void Append(const StPackedDictionaryKey& key, const VValueSingle& value);
    // Sets (replacing or adding) key to value, a fixed-size scalar of kind whose stored form is the size bytes at
    // data: written straight into the record when it has that size, else as SetExistingValue does.
    template <class Datum>
    void SetFixedValue(const StPackedDictionaryKey& key, uint16 kind, const Datum& datum, const VValueSingle& value) {
        const size_t index = _FindToAdd(key);
        uint16* record = nullptr;
        if (index == kNotFound) {
            record = _AppendRecord(key, sizeof(Datum));
            if (record == nullptr) return;
        } else if (_Slots()[index].fBackStore == nullptr &&
                   VPackedValue_VValueSingle::GetDataSize(*_Record(index), _Record(index) + 1) == sizeof(Datum)) {
            record = _Record(index);
        } else {
            _SetValueAt(index, value);
            return;
        }
        *record = kind;
        std::memcpy(record + 1, &datum, sizeof(Datum));
    }
    // GetValue for the entry at index.
    void GetValueAt(size_t index, VValueSingle& out) const;
    // The stored data of the entry at index when its current record has kind (no back-store value); else null.
    const void* GetRecordDataAt(size_t index, uint16 kind) const noexcept;
    // The units of the entry at index when its current record is a string (no back-store value), borrowed until
    // the entry changes: readers that only look at the text spare a copy. False (outputs untouched) otherwise.
    bool GetStringUnitsAt(size_t index, const UniChar*& outUnits, int32& outLength) const noexcept;
    // Removes the entry of key, if any.
    void Clear(const StPackedDictionaryKey& key);
    // Removes every entry.
    void Clear() noexcept;

    // The value at index (0-based), decoded and kept as the slot's back-store value when needed (borrowed,
    // valid until the entry changes); null when its kind has no descriptor. Readers on several threads share
    // the first value kept.
    const VValueSingle* GetNthValue(size_t index) const;
    // The value at index as GetNthValue makes it, for the caller to change in place: the next pack stores it.
    VValueSingle* GetNthValueForChange(size_t index);
    // The true kind of the entry at index.
    uint16 GetNthKind(size_t index) const noexcept;
    // Whether the entries at index here and otherIndex in other hold the same kind and the same stored form.
    bool NthEqualsStored(size_t index, const VPackedDictionary_with_backstore& other, size_t otherIndex) const;

    // Brings every record up to date with the back-store values; false when memory ran out.
    bool _Pack();
    bool IsPackNeeded() const noexcept { return fPackNeeded; }
    // The packed values, for tests: their count in units.
    size_t GetPackedUnits() const noexcept { return fBlock.GetSize(Block::eUnits); }
    uint32 GetValueOffsetAt(size_t index) const noexcept { return _Slots()[index].fValueOffset; }
    bool HasBackStoreAt(size_t index) const noexcept { return _BackStoreAt(index) != nullptr; }

    // Stream form: the keys section, a 32-bit count of units, then the records (in the stream's byte order).
    // Reading empties the dictionary first and leaves it empty on any error, which it answers; records that
    // do not tile the packed values exactly are refused (VE_STREAM_CORRUPTED).
    VError WriteToStream(VStream* stream, bool withHash) const;
    VError ReadFromStream(VStream* stream);

private:
    uint16* _Record(size_t index) noexcept { return fBlock.Units() + _Slots()[index].fValueOffset; }
    const uint16* _Record(size_t index) const noexcept { return fBlock.Units() + _Slots()[index].fValueOffset; }
    // The back-store value of the slot at index, as the reader that kept it published it.
    VValueSingle* _BackStoreAt(size_t index) const noexcept {
        return std::atomic_ref(const_cast<Slot&>(_Slots()[index]).fBackStore).load(std::memory_order_acquire);
    }
    // The record of the entry at index as a pack would leave it: in place when current, else the back-store
    // value written into scratch (which throws std::bad_alloc when memory runs out).
    const uint16* _CurrentRecord(size_t index, VPackedArray<uint16>& scratch) const;
    // The packed values as a pack would leave them, made aside: outOffsets receives each record's position.
    // Throws std::bad_alloc when memory runs out.
    void _PackAside(VPackedArray<uint16>& outUnits, std::vector<uint32>& outOffsets) const;
    // _CopyEntries with other's waiting values packed into the records copied.
    void _CopyPackedAside(const VPackedDictionary_with_backstore& other);
    // Copies the keys, index and slots of other (without back-store values) and units records (this is empty);
    // throws std::bad_alloc when memory runs out, leaving this empty.
    void _CopyEntries(const VPackedDictionary_with_backstore& other, const uint16* records, size_t units);
    // Deletes the back-store value of the slot at index.
    void _DropBackStore(size_t index) noexcept;
    // Adds key with a zeroed record for dataSize bytes; null (nothing added) when it cannot be.
    uint16* _AppendRecord(const StPackedDictionaryKey& key, size_t dataSize);
    void _SetValueAt(size_t index, const VValueSingle& value);
    size_t _RecordUnits(size_t index) const noexcept;
    VError _ReadRecords(VStream* stream, const _StoredKeys& keys, int32 units);

    bool fPackNeeded = false;
    // Some slot may hold one, kept by a writer or a reader: emptying looks for them only then.
    mutable std::atomic<bool> fHasBackStores = false;
};

// The elements of a bag: names to lists of bags, each list counted once by the dictionary.
template <>
class VPackedDictionary<VPackedValue_VBagArray>
    : public VPackedDictionary_base<_VPackedDictionary_slot<VPackedValue_VBagArray>> {
public:
    using Slot = _VPackedDictionary_slot<VPackedValue_VBagArray>;

    VPackedDictionary() noexcept = default;
    // The same names, each with a deep copy of its list (VBagArray copy construction). Throws std::bad_alloc
    // when memory runs out.
    VPackedDictionary(const VPackedDictionary& other);
    ~VPackedDictionary() override;

    // The list of key, borrowed; null when absent or stored as null.
    VBagArray* GetValue(const StPackedDictionaryKey& key) const;
    VBagArray* GetNthValue(size_t index) const noexcept { return _Slots()[index].fValue; }
    // Finds or appends key, then stores array (retained) in place of the old one (released). The same array
    // changes nothing; nothing happens when the entry cannot be added.
    void SetValue(const StPackedDictionaryKey& key, VBagArray* array);
    void SetNthValue(size_t index, VBagArray* array);
    // Releases the list of key and removes the name.
    void Remove(const StPackedDictionaryKey& key);
    // Releases every list and removes every name.
    void Clear() noexcept;
    // Puts the entries in the given order (0-based positions, each once); the lists stay.
    void Reorder(const std::vector<size_t>& order) { _Reorder(order); }

    // Stream form: the keys section, then each list (VBagArray::WriteToStreamMinimal; none counts 0 bags).
    // Reading empties the dictionary first and leaves it empty on any error, which it answers.
    VError WriteToStream(VStream* stream, bool withHash) const;
    VError ReadFromStream(VStream* stream);
};

} // namespace vela
