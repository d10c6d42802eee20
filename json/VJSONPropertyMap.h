// Internal header: the property storage of JSON objects; include json/VJSONObject.h.
#pragma once

#include "core/VString.h"
#include "json/VJSONPropertyName.h"
#include "json/VJSONValue.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace vela {

// The own properties of an object: kept in the order they were added (the position is the order index), with a
// hash index over the names once there are more than a few. Names are compared unit by unit.
class VJSONPropertyMap {
public:
    struct Property {
        Property(VJSONPropertyName&& name, uint32 hash, VJSONValue&& value) noexcept
            : fName(std::move(name)), fHash(hash), fValue(std::move(value)) {}

        VJSONPropertyName fName;
        uint32 fHash;
        VJSONValue fValue;
    };

    // Above this many properties lookups go through the hash index.
    static constexpr size_t kIndexThreshold = 16;

    VJSONPropertyMap() noexcept = default;
    VJSONPropertyMap(VJSONPropertyMap&& other) noexcept = default;
    VJSONPropertyMap& operator=(VJSONPropertyMap&& other) noexcept = default;

    // The process's secret hash keys, drawn from the system's random source on first use: names chosen to
    // collide cannot be computed in advance, so a parsed text cannot make lookups probe on and on.
    struct HashKeys {
        uint64 fStart;
        uint64 fChunk;
        uint64 fState;
        uint64 fTail;
    };
    static const HashKeys& GetHashKeys() noexcept {
        static const HashKeys sKeys = _MakeHashKeys();
        return sKeys;
    }

    // Keyed: every step folds the full 128-bit product of a unit chunk and the state, each mixed with a secret,
    // so that no difference between chunks passes a step unchanged whatever the keys. Agrees with unit equality.
    static uint32 Hash(const UniChar* units, int32 length) noexcept {
        const HashKeys& keys = GetHashKeys();
        uint64 hash = keys.fStart ^ uint64(uint32(length));
        int32 i = 0;
        for (; i + 4 <= length; i += 4) {
            uint64 chunk;
            std::memcpy(&chunk, units + i, sizeof(chunk));
            hash = _Fold(chunk ^ keys.fChunk, hash ^ keys.fState);
        }
        uint64 tail = 0;
        switch (length - i) {
        case 3:
            tail |= uint64(units[i + 2]) << 32;
            [[fallthrough]];
        case 2:
            tail |= uint64(units[i + 1]) << 16;
            [[fallthrough]];
        case 1:
            tail |= uint64(units[i]);
            break;
        default:
            break;
        }
        hash = _Fold(tail ^ keys.fTail, hash ^ keys.fState);
        return uint32(hash ^ (hash >> 32));
    }

    size_t GetCount() const noexcept { return fProperties.size(); }
    bool IsEmpty() const noexcept { return fProperties.empty(); }
    Property& At(size_t index) noexcept { return fProperties[index]; }
    const Property& At(size_t index) const noexcept { return fProperties[index]; }
    auto begin() noexcept { return fProperties.begin(); }
    auto end() noexcept { return fProperties.end(); }
    auto begin() const noexcept { return fProperties.begin(); }
    auto end() const noexcept { return fProperties.end(); }

    // The position of the property named units, or -1.
    int64 Find(const UniChar* units, int32 length, uint32 hash) const noexcept {
        if (fIndex == nullptr) {
            for (size_t i = 0; i < fProperties.size(); ++i) {
                const Property& property = fProperties[i];
                if (property.fHash == hash && property.fName.EqualsUnits(units, length)) return int64(i);
            }
            return -1;
        }
        for (uint32 slot = hash & fIndexMask;; slot = (slot + 1) & fIndexMask) {
            uint32 entry = fIndex[slot];
            if (entry == 0) return -1;
            const Property& property = fProperties[entry - 1];
            if (property.fHash == hash && property.fName.EqualsUnits(units, length)) return int64(entry - 1);
        }
    }
    int64 Find(const VString& name) const noexcept {
        const UniChar* units = name.GetCPointer();
        int32 length = name.GetLength();
        return Find(units, length, Hash(units, length));
    }
    // Adds a property at the end. Throws only when memory runs out (the map is then unchanged and name and
    // value are the caller's).
    Property& Append(VJSONPropertyName&& name, uint32 hash, VJSONValue&& value);
    // Removes the property at index and hands its value to removed; later properties move up by one.
    void RemoveAt(size_t index, VJSONValue& removed);
    // Hands every property to out (in order) and leaves the map empty.
    void TakeAll(std::vector<Property>& out) noexcept;
    // Room for count properties in all, so that adding up to that many allocates nothing more. Throws only when
    // memory runs out.
    void Reserve(size_t count) { fProperties.reserve(count); }

private:
    static HashKeys _MakeHashKeys() noexcept;
    static uint64 _Fold(uint64 a, uint64 b) noexcept {
        const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
        return uint64(product) ^ uint64(product >> 64);
    }

    void _RebuildIndex();
    void _InsertIntoIndex(uint32 hash, uint32 position) noexcept;

    std::vector<Property> fProperties;
    std::unique_ptr<uint32[]> fIndex; // position + 1 per slot, 0 for an empty slot
    uint32 fIndexMask = 0;
};

} // namespace vela
