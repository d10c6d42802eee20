#include "json/VJSONPropertyMap.h"

#include "core/VString.h"

namespace vela {

uint32 VJSONPropertyMap::Hash(const UniChar* units, int32 length) noexcept {
    // FNV-1a over the units, then a final mix so that the low bits used by the index depend on every unit.
    uint32 hash = 2166136261u;
    for (int32 i = 0; i < length; ++i)
        hash = (hash ^ units[i]) * 16777619u;
    hash ^= hash >> 15;
    hash *= 0x2C1B3C6Du;
    hash ^= hash >> 12;
    return hash;
}

int64 VJSONPropertyMap::Find(const UniChar* units, int32 length, uint32 hash) const noexcept {
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

int64 VJSONPropertyMap::Find(const VString& name) const noexcept {
    const UniChar* units = name.GetCPointer();
    int32 length = name.GetLength();
    return Find(units, length, Hash(units, length));
}

VJSONPropertyMap::Property& VJSONPropertyMap::Append(VInlineString name, uint32 hash, VJSONValue&& value) {
    if (fProperties.size() == fProperties.capacity()) fProperties.reserve(fProperties.empty() ? 4 : fProperties.size() * 2);
    size_t count = fProperties.size() + 1;
    if (count > kIndexThreshold && (fIndex == nullptr || count * 2 > size_t(fIndexMask) + 1)) {
        fProperties.emplace_back(name, hash, std::move(value));
        try {
            _RebuildIndex();
        } catch (...) {
            fProperties.back().fName = VInlineString(); // the caller keeps its share
            fProperties.pop_back();
            throw;
        }
        return fProperties.back();
    }
    fProperties.emplace_back(name, hash, std::move(value));
    if (fIndex != nullptr) _InsertIntoIndex(hash, uint32(count - 1));
    return fProperties.back();
}

void VJSONPropertyMap::RemoveAt(size_t index, VJSONValue& removed) {
    removed = std::move(fProperties[index].fValue);
    fProperties.erase(fProperties.begin() + std::ptrdiff_t(index));
    if (fProperties.size() <= kIndexThreshold) {
        fIndex.reset();
        fIndexMask = 0;
        return;
    }
    // Positions after index moved: the index is rebuilt at the same size, which cannot fail.
    std::fill(fIndex.get(), fIndex.get() + fIndexMask + 1, 0u);
    for (size_t i = 0; i < fProperties.size(); ++i)
        _InsertIntoIndex(fProperties[i].fHash, uint32(i));
}

void VJSONPropertyMap::TakeAll(std::vector<Property>& out) noexcept {
    out = std::move(fProperties);
    fProperties = std::vector<Property>();
    fIndex.reset();
    fIndexMask = 0;
}

void VJSONPropertyMap::_RebuildIndex() {
    size_t slots = 16;
    while (slots < fProperties.size() * 2)
        slots *= 2;
    fIndex = std::make_unique<uint32[]>(slots); // zero-filled
    fIndexMask = uint32(slots - 1);
    for (size_t i = 0; i < fProperties.size(); ++i)
        _InsertIntoIndex(fProperties[i].fHash, uint32(i));
}

void VJSONPropertyMap::_InsertIntoIndex(uint32 hash, uint32 position) noexcept {
    uint32 slot = hash & fIndexMask;
    while (fIndex[slot] != 0)
        slot = (slot + 1) & fIndexMask;
    fIndex[slot] = position + 1;
}

} // namespace vela
