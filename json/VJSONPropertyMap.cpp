#include "json/VJSONPropertyMap.h"

#include "core/VString.h"

#include <chrono>
#include <random>

namespace vela {

VJSONPropertyMap::HashKeys VJSONPropertyMap::_MakeHashKeys() noexcept {
    uint64 words[4] = {};
    try {
        std::random_device source;
        for (uint64& word : words)
            word = (uint64(source()) << 32) ^ uint64(source());
    } catch (...) {
        // No random source: the clock and the address layout still differ from run to run.
        uint64 mixed = uint64(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                       uint64(reinterpret_cast<uintptr_t>(&words));
        for (uint64& word : words) {
            mixed = (mixed ^ (mixed >> 31)) * 0x9E3779B97F4A7C15ull + 0xBF58476D1CE4E5B9ull;
            word = mixed;
        }
    }
    return {words[0], words[1], words[2], words[3]};
}

VJSONPropertyMap::Property& VJSONPropertyMap::Append(VJSONPropertyName&& name, uint32 hash, VJSONValue&& value) {
    if (fProperties.size() == fProperties.capacity()) {
        // Small objects grow 4 properties at a time (little room left unused), larger ones by half.
        size_t size = fProperties.size();
        fProperties.reserve(size < 16 ? size + 4 : size + size / 2);
    }
    size_t count = fProperties.size() + 1;
    if (count > kIndexThreshold && (fIndex == nullptr || count * 2 > size_t(fIndexMask) + 1)) {
        fProperties.emplace_back(std::move(name), hash, std::move(value));
        try {
            _RebuildIndex();
        } catch (...) {
            Property& added = fProperties.back();
            name = std::move(added.fName);
            value = std::move(added.fValue);
            fProperties.pop_back();
            throw;
        }
        return fProperties.back();
    }
    fProperties.emplace_back(std::move(name), hash, std::move(value));
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
