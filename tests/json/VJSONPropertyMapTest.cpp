#include "json/VJSONPropertyMap.h"

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace vela {
namespace {

using Key = std::u16string;

constexpr size_t kKeys = 50000;
constexpr uint64 kStart = 0x9E3779B97F4A7C15ull;
constexpr uint64 kChunkFactor = 0xFF51AFD7ED558CCDull;
constexpr uint64 kTailFactor = 0xC4CEB9FE1A85EC53ull;

// The name hash as it was before it took keys: fixed, so anyone could compute names that collide.
uint32 UnkeyedHash(const Key& key) {
    const int32 length = int32(key.size());
    uint64 hash = kStart ^ uint64(uint32(length));
    int32 i = 0;
    for (; i + 4 <= length; i += 4) {
        uint64 chunk;
        std::memcpy(&chunk, key.data() + i, sizeof(chunk));
        hash = (hash ^ chunk) * kChunkFactor;
        hash ^= hash >> 32;
    }
    uint64 tail = 0;
    for (int32 j = length - 1; j >= i; --j)
        tail = (tail << 16) | key[size_t(j)];
    hash = (hash ^ tail) * kTailFactor;
    return uint32(hash ^ (hash >> 29));
}

uint64 Inverse(uint64 odd) {
    uint64 inverse = odd;
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - odd * inverse;
    return inverse;
}

Key KeyOfChunks(const std::vector<uint64>& chunks) {
    Key key(chunks.size() * 4, u'\0');
    std::memcpy(key.data(), chunks.data(), chunks.size() * sizeof(uint64));
    return key;
}

VString Text(const std::u16string& units) {
    VString text;
    text.AppendUniChars(units.data(), int32(units.size()));
    return text;
}

bool HasSurrogate(const Key& key) {
    return std::any_of(key.begin(), key.end(), [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; });
}

// Four-unit names whose unkeyed hash is 0, found by running the hash backwards from every upper half.
std::vector<Key> InvertedKeys() {
    std::vector<Key> keys;
    for (uint64 upper = 1; keys.size() < kKeys; ++upper) {
        const uint64 folded = upper << 32;
        uint64 hash = folded ^ (folded >> 29) ^ (folded >> 58);
        hash *= Inverse(kTailFactor);
        hash ^= hash >> 32;
        hash *= Inverse(kChunkFactor);
        Key key = KeyOfChunks({hash ^ kStart ^ 4});
        if (!HasSurrogate(key)) keys.push_back(std::move(key));
    }
    return keys;
}

// Names of 16 chunk pairs, each pair taken as is or with its top bits flipped: a flip of bit 63 passes the
// multiplication unchanged and the second chunk cancels it, so all collide whatever the starting state (a
// seed that only set the start would not part them).
std::vector<Key> DifferentialKeys() {
    std::vector<Key> keys;
    for (uint64 index = 0; index < kKeys; ++index) {
        std::vector<uint64> chunks;
        for (uint64 pair = 0; pair < 16; ++pair) {
            const uint64 base = 0x0061006100610061ull + pair * 0x0001000100010001ull;
            const bool flipped = ((index >> pair) & 1) != 0;
            chunks.push_back(flipped ? base ^ (1ull << 63) : base);
            chunks.push_back(flipped ? base ^ (1ull << 63) ^ (1ull << 31) : base);
        }
        keys.push_back(KeyOfChunks(chunks));
    }
    return keys;
}

TEST(VJSONPropertyMap, NamesCollidingUnderTheUnkeyedHashSpreadOverTheIndex) {
    struct Case {
        const char* what;
        std::vector<Key> (*make)();
    } cases[] = {{"inverted", InvertedKeys}, {"differential", DifferentialKeys}};
    for (const Case& c : cases) {
        const std::vector<Key> keys = c.make();
        ASSERT_EQ(keys.size(), kKeys) << c.what;
        // The largest index a map of this many names has: 2^17 slots.
        const uint32 mask = (1u << 17) - 1;
        std::unordered_map<uint32, size_t> perSlot;
        size_t crowded = 0;
        for (const Key& key : keys) {
            ASSERT_EQ(UnkeyedHash(key), UnkeyedHash(keys[0])) << c.what;
            const uint32 hash = VJSONPropertyMap::Hash(key.data(), int32(key.size()));
            crowded = std::max(crowded, ++perSlot[hash & mask]);
        }
        // Random placement puts about 8 in the fullest slot; a shared start slot makes every insertion probe
        // past all the names before it.
        EXPECT_LT(crowded, 32u) << c.what;
    }
}

TEST(VJSONPropertyMap, ATextOfCollidingNamesParsesWhole) {
    const std::vector<Key> keys = InvertedKeys();
    std::u16string text = u"{";
    static constexpr char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) text += u',';
        text += u'"';
        for (char16_t unit : keys[i]) {
            text += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                text += char16_t(kHex[(unit >> shift) & 15]);
        }
        text += u"\":" + std::u16string(1, char16_t(u'0' + i % 10));
    }
    text += u'}';
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(Text(text)), VE_OK);
    ASSERT_TRUE(value.IsObject());
    const VJSONObject* object = value.GetObjectPtr();
    EXPECT_EQ(object->GetPropertyCount(), kKeys);
    for (size_t i : {size_t(0), kKeys / 2, kKeys - 1}) {
        EXPECT_EQ(object->GetProperty(Text(keys[i])).GetNumber(), double(i % 10)) << i;
    }
}

} // namespace
} // namespace vela
