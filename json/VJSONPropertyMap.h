#pragma once

#include "json/VInlineString.h"
#include "json/VJSONValue.h"

#include <memory>
#include <utility>
#include <vector>

namespace vela {

class VString;

// The own properties of an object: kept in the order they were added (the position is the order index), with a
// hash index over the names once there are more than a few. Names are compared unit by unit.
class VJSONPropertyMap {
public:
    struct Property {
        Property(VInlineString name, uint32 hash, VJSONValue&& value) noexcept
            : fName(name), fHash(hash), fValue(std::move(value)) {}
        Property(Property&& other) noexcept
            : fName(std::exchange(other.fName, VInlineString())), fHash(other.fHash), fValue(std::move(other.fValue)) {}
        Property& operator=(Property&& other) noexcept {
            if (this != &other) {
                fName.Release();
                fName = std::exchange(other.fName, VInlineString());
                fHash = other.fHash;
                fValue = std::move(other.fValue);
            }
            return *this;
        }
        ~Property() { fName.Release(); }

        VInlineString fName; // one share of the name's buffer
        uint32 fHash;
        VJSONValue fValue;
    };

    // Above this many properties lookups go through the hash index.
    static constexpr size_t kIndexThreshold = 8;

    VJSONPropertyMap() noexcept = default;
    VJSONPropertyMap(VJSONPropertyMap&& other) noexcept = default;
    VJSONPropertyMap& operator=(VJSONPropertyMap&& other) noexcept = default;

    static uint32 Hash(const UniChar* units, int32 length) noexcept;

    size_t GetCount() const noexcept { return fProperties.size(); }
    bool IsEmpty() const noexcept { return fProperties.empty(); }
    Property& At(size_t index) noexcept { return fProperties[index]; }
    const Property& At(size_t index) const noexcept { return fProperties[index]; }
    auto begin() noexcept { return fProperties.begin(); }
    auto end() noexcept { return fProperties.end(); }
    auto begin() const noexcept { return fProperties.begin(); }
    auto end() const noexcept { return fProperties.end(); }

    // The position of the property named units, or -1.
    int64 Find(const UniChar* units, int32 length, uint32 hash) const noexcept;
    int64 Find(const VString& name) const noexcept;
    // Adds a property at the end; name's share passes to the map. Throws only when memory runs out (the map is
    // then unchanged and name still the caller's).
    Property& Append(VInlineString name, uint32 hash, VJSONValue&& value);
    // Removes the property at index and hands its value to removed; later properties move up by one.
    void RemoveAt(size_t index, VJSONValue& removed);
    // Hands every property to out (in order) and leaves the map empty.
    void TakeAll(std::vector<Property>& out) noexcept;

private:
    void _RebuildIndex();
    void _InsertIntoIndex(uint32 hash, uint32 position) noexcept;

    std::vector<Property> fProperties;
    std::unique_ptr<uint32[]> fIndex; // position + 1 per slot, 0 for an empty slot
    uint32 fIndexMask = 0;
};

} // namespace vela
