#include "values/StPackedDictionaryKey.h"

#include "core/VString.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vela {
namespace {

std::string Bytes(const StPackedDictionaryKey& key) {
    return std::string(key.GetKey(), key.GetKeyLength());
}

// A text of count copies of unit.
VString Repeat(UniChar unit, int32 count) {
    VString text;
    for (int32 i = 0; i < count; ++i)
        text.AppendUniChar(unit);
    return text;
}

TEST(StPackedDictionaryKey, HashOfKnownNames) {
    struct Case {
        const char* name;
        uint32 hash;
    } cases[] = {{"", 0}, {"a", 354}, {"abc", 57355817}, {"uuid", 2263794619u}};
    for (const Case& c : cases) {
        EXPECT_EQ(StPackedDictionaryKey(c.name).GetHashCode(), c.hash) << c.name;
        EXPECT_EQ(StPackedDictionaryKey::GetHashCode(c.name, std::strlen(c.name)), c.hash) << c.name;
    }
    // Computed at compile time for constant keys.
    static_assert(StPackedDictionaryKey::GetHashCode("a", 1) == 354);
}

TEST(StPackedDictionaryKey, LongNamesHashTheirFirstAndLastEightBytes) {
    StPackedDictionaryKey a("12345678-middle-A-87654321");
    StPackedDictionaryKey b("12345678-middle-B-87654321");
    EXPECT_EQ(a.GetHashCode(), b.GetHashCode());
    EXPECT_FALSE(a == b);
    // Up to 16 bytes every byte counts.
    EXPECT_NE(StPackedDictionaryKey("1234567A87654321").GetHashCode(),
              StPackedDictionaryKey("1234567B87654321").GetHashCode());
}

TEST(StPackedDictionaryKey, CStringKeysBorrowAndByteKeysOwnATerminatedCopy) {
    const char* name = "color";
    StPackedDictionaryKey borrowed(name);
    EXPECT_EQ(borrowed.GetKey(), name);
    EXPECT_FALSE(borrowed.OwnsBuffer());

    char bytes[] = {'r', 'e', 'd', 'X'};
    StPackedDictionaryKey owned(bytes, 3);
    EXPECT_TRUE(owned.OwnsBuffer());
    EXPECT_NE(owned.GetKey(), bytes);
    EXPECT_EQ(Bytes(owned), "red");
    EXPECT_EQ(owned.GetKey()[3], '\0'); // length + 1 bytes, NUL at the end
    EXPECT_EQ(owned.GetHashCode(), StPackedDictionaryKey("red").GetHashCode());

    StPackedDictionaryKey ownedCopy(owned);
    EXPECT_TRUE(ownedCopy.OwnsBuffer());
    EXPECT_NE(ownedCopy.GetKey(), owned.GetKey());
    EXPECT_EQ(Bytes(ownedCopy), "red");
    EXPECT_EQ(ownedCopy.GetKey()[3], '\0');

    StPackedDictionaryKey borrowedCopy(borrowed);
    EXPECT_EQ(borrowedCopy.GetKey(), name);
}

TEST(StPackedDictionaryKey, NamesOverTheLimitBecomeEmptyWhateverTheirForm) {
    const std::string limit(255, 'x');
    const std::string over(256, 'x');
    EXPECT_EQ(StPackedDictionaryKey(limit.c_str()).GetKeyLength(), 255u);
    EXPECT_EQ(StPackedDictionaryKey(over.c_str()).GetKeyLength(), 0u);
    EXPECT_EQ(StPackedDictionaryKey(over.data(), over.size()).GetKeyLength(), 0u);
    EXPECT_EQ(StPackedDictionaryKey(over.data(), over.size(), StPackedDictionaryKey::Borrowed{}).GetKeyLength(), 0u);
    EXPECT_EQ(StPackedDictionaryKey(over.data(), over.size()).GetHashCode(), 0u);

    // Text counts its UTF-8 bytes: 127 "é" (254 bytes) and one "a" fit, 128 "é" (256 bytes) do not.
    VString fits = Repeat(u'\u00E9', 127);
    fits.AppendUniChar(u'a');
    EXPECT_EQ(StPackedDictionaryKey(fits).GetKeyLength(), 255u);
    EXPECT_EQ(StPackedDictionaryKey(Repeat(u'\u00E9', 128)).GetKeyLength(), 0u);
    EXPECT_EQ(StPackedDictionaryKey(L"\u00E9t\u00E9").GetKeyLength(), 5u);
}

TEST(StPackedDictionaryKey, TextKeysAreUTF8AndCutOnlyOnRequest) {
    StPackedDictionaryKey key(VString(u"\u00E9t\u00E9"));
    EXPECT_EQ(Bytes(key), "\xC3\xA9t\xC3\xA9");
    VString name;
    key.GetName(name);
    EXPECT_TRUE(name.EqualToStringRaw(VString(u"\u00E9t\u00E9")));

    // Cutting keeps whole characters: 127 "é" of 128.
    StPackedDictionaryKey cut = StPackedDictionaryKey::CutToMaxLength(Repeat(u'\u00E9', 128));
    EXPECT_EQ(cut.GetKeyLength(), 254u);
    // A supplementary character is never split.
    VString pairs = Repeat(u'a', 253);
    pairs.AppendUniChar(0xD83D).AppendUniChar(0xDE00);
    EXPECT_EQ(StPackedDictionaryKey::CutToMaxLength(pairs).GetKeyLength(), 253u);
}

TEST(StPackedDictionaryKey, FinalLoneHighSurrogateIsKept) {
    VString text(u"ab");
    text.AppendUniChar(0xD800);
    StPackedDictionaryKey key(text);
    EXPECT_EQ(Bytes(key), "ab\xED\xA0\x80");
}

TEST(StPackedDictionaryKey, KeysConvertedOnTheStackMatchOwnedOnes) {
    VString mixedAtLimit = Repeat(u'a', 253);
    mixedAtLimit.AppendUniChar(u'\u00E9'); // 255 bytes, the last character past the ASCII run
    VString loneHigh(u"ab");
    loneHigh.AppendUniChar(0xD800);
    const VString cases[] = {VString(),         VString("id"), VString(u"\u00E9t\u00E9"), Repeat(u'x', 255),
                             Repeat(u'x', 256), mixedAtLimit,  Repeat(u'\u00E9', 128),    loneHigh};
    for (const VString& text : cases) {
        char buffer[StPackedDictionaryKey::kMaxLength + 1];
        const StPackedDictionaryKey onStack(text.GetCPointer(), text.GetLength(), buffer);
        const StPackedDictionaryKey owned(text);
        EXPECT_FALSE(onStack.OwnsBuffer());
        EXPECT_EQ(Bytes(onStack), Bytes(owned)) << text.GetLength();
        EXPECT_EQ(onStack.GetHashCode(), owned.GetHashCode()) << text.GetLength();
    }
}

TEST(StPackedDictionaryKey, MovedKeysKeepTheirBytes) {
    StPackedDictionaryKey owned("abc", 3);
    const char* bytes = owned.GetKey();
    StPackedDictionaryKey moved(std::move(owned));
    EXPECT_EQ(moved.GetKey(), bytes);
    EXPECT_EQ(Bytes(moved), "abc");
    EXPECT_EQ(owned.GetKeyLength(), 0u); // NOLINT(bugprone-use-after-move): the source is left empty
}

} // namespace
} // namespace vela
