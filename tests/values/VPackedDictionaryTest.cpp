#include "values/VPackedDictionary.h"

#include "core/VString.h"
#include "support/RecordingRaiser.h"
#include "values/StoredBytes.h"
#include "values/VReal.h"
#include "values/VScalar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vela {
namespace {

using Attributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

// The name of entry i in the tests below: "k0", "k1", ...
std::string Name(int i) {
    return "k" + std::to_string(i);
}

void AppendLongs(Attributes& attributes, int count) {
    for (int i = 0; i < count; ++i)
        attributes.Append(StPackedDictionaryKey(Name(i).c_str()), VLong(i));
}

int32 LongAt(const Attributes& attributes, const char* name) {
    VLong value(-1);
    EXPECT_TRUE(attributes.GetValue(StPackedDictionaryKey(name), value)) << name;
    return value.Get();
}

std::u16string StringAt(const Attributes& attributes, const char* name) {
    VString value;
    EXPECT_TRUE(attributes.GetValue(StPackedDictionaryKey(name), value)) << name;
    return std::u16string(value.GetCPointer(), size_t(value.GetLength()));
}

TEST(VHashKeyMap, BucketCountsFollowTheGrowthTable) {
    struct Case {
        size_t entries;
        uint32 buckets;
    } cases[] = {{0, 5},          {4, 5},   {5, 11},  {6, 11},      {8, 11},      {9, 23},
                 {12, 23},        {17, 23}, {18, 41}, {3571, 5779}, {3572, 9349}, {2537720636u, 4106118251u},
                 {2537720637u, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(_VHashKeyMap::_ComputeHashVectorSize(c.entries), c.buckets) << c.entries;
}

TEST(VHashKeyMap, StartBucketsAreTheHashModuloTheBucketCount) {
    for (size_t entries : {0u, 6u, 12u, 100u, 5000u}) {
        _VHashKeyMap map;
        ASSERT_TRUE(map.Rebuild(entries));
        const uint32 count = uint32(map.GetBucketCount());
        for (uint32 hash : {0u, 1u, 354u, count - 1, count, 2263794619u, 0xFFFFFFFFu, 0x80000000u})
            EXPECT_EQ(map.GetStartBucket(hash), hash % count) << count << " " << hash;
    }
}

TEST(VHashKeyMap, PutProbesOnwardAndWrapsUntilFull) {
    _VHashKeyMap map;
    ASSERT_TRUE(map.Rebuild(0)); // 5 buckets
    EXPECT_TRUE(map.Put(4, 0));
    EXPECT_TRUE(map.Put(9, 1)); // bucket 4 taken: wraps to 0
    EXPECT_EQ(map.GetBuckets()[4], 0u);
    EXPECT_EQ(map.GetBuckets()[0], 1u);
    for (uint32 i = 2; i < 5; ++i)
        EXPECT_TRUE(map.Put(4, i));
    EXPECT_FALSE(map.Put(4, 5));
}

TEST(VPackedDictionary, IndexIsBuiltAtSixEntriesAndGrowsWhenFull) {
    Attributes attributes;
    AppendLongs(attributes, 5);
    EXPECT_EQ(LongAt(attributes, "k3"), 3);
    EXPECT_EQ(attributes.GetBucketCount(), 0u);

    attributes.Append(StPackedDictionaryKey("k5"), VLong(5));
    EXPECT_EQ(attributes.GetBucketCount(), 11u); // with the change, never by a lookup
    EXPECT_EQ(LongAt(attributes, "k5"), 5);

    for (int i = 6; i < 11; ++i)
        attributes.Append(StPackedDictionaryKey(Name(i).c_str()), VLong(i));
    EXPECT_EQ(attributes.GetBucketCount(), 11u); // full but not yet overflowing
    attributes.Append(StPackedDictionaryKey("k11"), VLong(11));
    EXPECT_EQ(attributes.GetBucketCount(), 23u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(LongAt(attributes, Name(i).c_str()), i);
    VLong missing(-7);
    EXPECT_FALSE(attributes.GetValue(StPackedDictionaryKey("k12"), missing));
    EXPECT_EQ(missing.Get(), -7);
    // Removals rebuild it, until the entries are too few for one.
    attributes.Clear(StPackedDictionaryKey("k0"));
    EXPECT_EQ(attributes.GetBucketCount(), 23u);
    for (int i = 1; i < 12; ++i)
        EXPECT_EQ(LongAt(attributes, Name(i).c_str()), i);
    for (int i = 1; i < 7; ++i)
        attributes.Clear(StPackedDictionaryKey(Name(i).c_str()));
    EXPECT_EQ(attributes.GetBucketCount(), 0u);
    for (int i = 7; i < 12; ++i)
        EXPECT_EQ(LongAt(attributes, Name(i).c_str()), i);
}

TEST(VPackedDictionary, NamesHashingAlikeAreToldApart) {
    Attributes attributes;
    AppendLongs(attributes, 6);
    attributes.Append(StPackedDictionaryKey("12345678-middle-A-87654321"), VLong(100));
    attributes.Append(StPackedDictionaryKey("12345678-middle-B-87654321"), VLong(200));
    EXPECT_EQ(LongAt(attributes, "12345678-middle-A-87654321"), 100);
    EXPECT_EQ(LongAt(attributes, "12345678-middle-B-87654321"), 200);
}

TEST(VPackedDictionary, TheEmptyNameIsAKeyOfItsOwn) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey(""), VString("empty"));
    EXPECT_EQ(attributes.GetKeysSize(), 1u); // a single 0 length byte
    EXPECT_EQ(StringAt(attributes, ""), u"empty");
    EXPECT_EQ(attributes.GetKeyAt(0).GetHashCode(), 0u);
}

TEST(VPackedDictionary, EqualSizedReplacementsAreWrittenInPlace) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("n"), VLong(1));
    attributes.Append(StPackedDictionaryKey("s"), VString("abc"));
    const size_t units = attributes.GetPackedUnits();

    EXPECT_TRUE(attributes.SetExistingValue(StPackedDictionaryKey("n"), VLong(2)));
    EXPECT_TRUE(attributes.SetExistingValue(StPackedDictionaryKey("s"), VString("xyz")));
    // Another kind of the same stored size (a string of no unit takes the 4 bytes of a long).
    EXPECT_TRUE(attributes.SetExistingValue(StPackedDictionaryKey("n"), VString("")));
    EXPECT_FALSE(attributes.IsPackNeeded());
    EXPECT_FALSE(attributes.HasBackStoreAt(0));
    EXPECT_EQ(attributes.GetPackedUnits(), units);
    EXPECT_EQ(attributes.GetNthKind(0), VString::kKind);
    EXPECT_EQ(StringAt(attributes, "s"), u"xyz");

    EXPECT_FALSE(attributes.SetExistingValue(StPackedDictionaryKey("absent"), VLong(1)));
    EXPECT_EQ(attributes.GetCount(), 2u);
}

TEST(VPackedDictionary, ResizedReplacementsWaitInTheBackStoreUntilPacked) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("a"), VString("a long text"));
    attributes.Append(StPackedDictionaryKey("b"), VLong(7));
    EXPECT_TRUE(attributes.SetExistingValue(StPackedDictionaryKey("a"), VString("short")));
    EXPECT_TRUE(attributes.HasBackStoreAt(0));
    EXPECT_TRUE(attributes.IsPackNeeded());
    EXPECT_EQ(StringAt(attributes, "a"), u"short");

    // The stream form carries the repacked records, one behind the other; the writer leaves the dictionary as
    // it stands.
    const std::string bytes = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, false); });
    EXPECT_TRUE(attributes.IsPackNeeded());
    Attributes read;
    EXPECT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(StringAt(read, "a"), u"short");
    EXPECT_EQ(LongAt(read, "b"), 7);
    EXPECT_EQ(read.GetValueOffsetAt(1), read.GetValueOffsetAt(0) + (2 + 4 + 10 + 1) / 2);

    // A pack brings the records up to date in place, to the same stream form.
    EXPECT_TRUE(attributes._Pack());
    EXPECT_FALSE(attributes.IsPackNeeded());
    EXPECT_EQ(attributes.GetValueOffsetAt(1), attributes.GetValueOffsetAt(0) + (2 + 4 + 10 + 1) / 2);
    EXPECT_EQ(read.GetPackedUnits(), attributes.GetPackedUnits());
    EXPECT_EQ(WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, false); }), bytes);
    EXPECT_EQ(StringAt(attributes, "a"), u"short");
}

TEST(VPackedDictionary, ConversionsAreDecodedOnceAndCachedValuesFollowReplacements) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("n"), VLong8(123456789012));
    VString text;
    ASSERT_TRUE(attributes.GetValue(StPackedDictionaryKey("n"), text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("123456789012")));
    EXPECT_TRUE(attributes.HasBackStoreAt(0)); // the decoded long, kept
    EXPECT_FALSE(attributes.IsPackNeeded());

    EXPECT_TRUE(attributes.SetExistingValue(StPackedDictionaryKey("n"), VLong8(5)));
    EXPECT_TRUE(attributes.IsPackNeeded());
    VLong8 value;
    ASSERT_TRUE(attributes.GetValue(StPackedDictionaryKey("n"), value));
    EXPECT_EQ(value.Get(), 5);

    // Copies take the waiting value packed into their records, and no back store.
    Attributes copy;
    copy = attributes;
    EXPECT_FALSE(copy.HasBackStoreAt(0));
    VLong8 copied;
    ASSERT_TRUE(copy.GetValue(StPackedDictionaryKey("n"), copied));
    EXPECT_EQ(copied.Get(), 5);
}

TEST(VPackedDictionary, ClearingMovesTheFollowingRecordsAndKeys) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("first"), VString("one"));
    attributes.Append(StPackedDictionaryKey("second"), VLong(2));
    attributes.Append(StPackedDictionaryKey("third"), VString("three"));
    attributes.Clear(StPackedDictionaryKey("first"));
    attributes.Clear(StPackedDictionaryKey("absent"));
    ASSERT_EQ(attributes.GetCount(), 2u);
    EXPECT_EQ(attributes.GetValueOffsetAt(0), 0u);
    EXPECT_EQ(LongAt(attributes, "second"), 2);
    EXPECT_EQ(StringAt(attributes, "third"), u"three");

    attributes.Clear(StPackedDictionaryKey("second"));
    attributes.Clear(StPackedDictionaryKey("third"));
    EXPECT_EQ(attributes.GetKeysSize(), 0u);
    EXPECT_EQ(attributes.GetPackedUnits(), 0u);
    attributes.Append(StPackedDictionaryKey("again"), VLong(1));
    EXPECT_EQ(attributes.GetValueOffsetAt(0), 0u);
    EXPECT_EQ(attributes.GetKeyAt(0).GetKeyLength(), 5u);
}

TEST(VPackedDictionary, StreamFormOfOneLong) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("a"), VLong(5));
    std::string expected = StoredBytes()
                               .Long(1)
                               .Long(2)
                               .Byte(1)
                               .Text("a")
                               .Byte(0) // no index below 6 entries
                               .Long(3)
                               .Word(4)
                               .Long(5)
                               .Get();
    EXPECT_EQ(WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, true); }), expected);
}

TEST(VPackedDictionary, KeyedStreamsCarryTheirIndex) {
    Attributes attributes;
    AppendLongs(attributes, 7);
    std::string bytes = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, true); });
    EXPECT_EQ(attributes.GetBucketCount(), 11u);

    Attributes read;
    ASSERT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(read.GetBucketCount(), 11u);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(LongAt(read, Name(i).c_str()), i);
    EXPECT_EQ(read.GetBucketCount(), 11u); // used as stored

    // Without the index, the reader builds one for 6 entries or more.
    std::string plain = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, false); });
    EXPECT_LT(plain.size(), bytes.size());
    ASSERT_EQ(ReadBytes(plain, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(read.GetBucketCount(), 11u);
}

// A stored index may lead to every entry and still place each far from its start bucket: here every bucket is
// taken and each entry sits once in every quarter, so that checking it (and each lookup after it) walks up to
// a quarter of the index. Such an index gives way to one built on reading.
TEST(VPackedDictionary, StoredIndexesThatPlaceEntriesFarAwayAreRebuilt) {
    constexpr int kEntries = 4000;
    Attributes attributes;
    AppendLongs(attributes, kEntries);
    const std::string written = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, true); });
    int32_t keysSize = 0;
    std::memcpy(&keysSize, written.data() + 4, sizeof(keysSize));
    const size_t indexAt = 8 + size_t(keysSize) + 1; // after the hash flag
    int32_t storedBuckets = 0;
    std::memcpy(&storedBuckets, written.data() + indexAt, sizeof(storedBuckets));
    ASSERT_EQ(size_t(storedBuckets), attributes.GetBucketCount());

    StoredBytes far;
    far.Long(4 * kEntries);
    for (int bucket = 0; bucket < 4 * kEntries; ++bucket)
        far.Long(bucket % kEntries);
    const std::string bytes =
        written.substr(0, indexAt) + far.Get() + written.substr(indexAt + 4 + size_t(storedBuckets) * 4);
    Attributes read;
    ASSERT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(read.GetBucketCount(), _VHashKeyMap::_ComputeHashVectorSize(kEntries));
    for (int i = 0; i < kEntries; i += 397)
        EXPECT_EQ(LongAt(read, Name(i).c_str()), i);
}

TEST(VPackedDictionary, SwappedStreamsRoundTrip) {
    Attributes attributes;
    attributes.Append(StPackedDictionaryKey("long"), VLong(0x01020304));
    attributes.Append(StPackedDictionaryKey("text"), VString("hi"));
    attributes.Append(StPackedDictionaryKey("real"), VReal(2.5));
    attributes.Append(StPackedDictionaryKey("flag"), VBoolean(1));
    std::string big = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, true); }, true);
    std::string little = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, true); });
    EXPECT_NE(big, little);
    // The long record in big-endian order: kind 00 04, then 01 02 03 04.
    EXPECT_NE(big.find(std::string("\x00\x04\x01\x02\x03\x04", 6)), std::string::npos);

    Attributes read;
    ASSERT_EQ(ReadBytes(
                  big, [&](VStream* s) { return read.ReadFromStream(s); }, true),
              VE_OK);
    EXPECT_EQ(LongAt(read, "long"), 0x01020304);
    EXPECT_EQ(StringAt(read, "text"), u"hi");
    VReal real;
    ASSERT_TRUE(read.GetValue(StPackedDictionaryKey("real"), real));
    EXPECT_EQ(real.Get(), 2.5);
    // The writer left its own records in machine order.
    EXPECT_EQ(LongAt(attributes, "long"), 0x01020304);
}

// A valid stream of two entries ("ab" = long 7, "c" = string "x"), with parts that a case may replace.
struct StreamParts {
    int32_t count = 2;
    int32_t keysSize = 5;
    std::string keys = std::string("\x02"
                                   "ab"
                                   "\x01"
                                   "c",
                                   5);
    std::string hash = std::string(1, '\0');
    int32_t units = 3 + 4;
    std::string records = StoredBytes().Word(4).Long(7).Word(10).Long(1).Word(u'x').Get();

    std::string Bytes() const {
        return StoredBytes().Long(count).Long(keysSize).Text(keys).Text(hash).Long(units).Text(records).Get();
    }
};

TEST(VPackedDictionary, CorruptStreamsAreRefusedAndLeaveTheDictionaryEmpty) {
    StreamParts valid;
    {
        Attributes read;
        ASSERT_EQ(ReadBytes(valid.Bytes(), [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
        EXPECT_EQ(LongAt(read, "ab"), 7);
        EXPECT_EQ(StringAt(read, "c"), u"x");
    }
    struct Case {
        const char* what;
        void (*corrupt)(StreamParts&);
        VError expected;
    } cases[] = {
        {"negative count", [](StreamParts& p) { p.count = -1; }, VE_STREAM_CORRUPTED},
        {"more entries than key bytes", [](StreamParts& p) { p.count = 6; }, VE_STREAM_CORRUPTED},
        {"negative keys size", [](StreamParts& p) { p.keysSize = -5; }, VE_STREAM_CORRUPTED},
        {"keys size beyond the data", [](StreamParts& p) { p.keysSize = 1 << 30; }, VE_STREAM_CORRUPTED},
        {"key walk leaves the block", [](StreamParts& p) { p.keys[3] = 9; }, VE_STREAM_CORRUPTED},
        {"key walk ends early", [](StreamParts& p) { p.count = 1; }, VE_STREAM_CORRUPTED},
        {"name met twice",
         [](StreamParts& p) {
             p.keys = std::string("\x02"
                                  "ab"
                                  "\x02"
                                  "ab",
                                  6),
             p.keysSize = 6;
         },
         VE_STREAM_CORRUPTED},
        {"hash flag neither 0 nor 1", [](StreamParts& p) { p.hash = "\x02"; }, VE_STREAM_CORRUPTED},
        {"no bucket", [](StreamParts& p) { p.hash = StoredBytes().Byte(1).Long(0).Get(); }, VE_STREAM_CORRUPTED},
        {"negative bucket count", [](StreamParts& p) { p.hash = StoredBytes().Byte(1).Long(-3).Get(); },
         VE_STREAM_CORRUPTED},
        {"bucket beyond the entries",
         [](StreamParts& p) { p.hash = StoredBytes().Byte(1).Long(2).Long(0).Long(2).Get(); }, VE_STREAM_CORRUPTED},
        {"index that misses a name",
         [](StreamParts& p) { p.hash = StoredBytes().Byte(1).Long(1).Long(int32_t(0xFFFFFFFF)).Get(); },
         VE_STREAM_CORRUPTED},
        {"negative units", [](StreamParts& p) { p.units = -1; }, VE_STREAM_CORRUPTED},
        {"units beyond the data", [](StreamParts& p) { p.units = 1000; }, VE_STREAM_CORRUPTED},
        {"record runs past the values", [](StreamParts& p) { p.records.replace(8, 4, StoredBytes().Long(2).Get()); },
         VE_STREAM_CORRUPTED},
        {"negative string length", [](StreamParts& p) { p.records.replace(8, 4, StoredBytes().Long(-1).Get()); },
         VE_STREAM_CORRUPTED},
        {"units left behind the last record",
         [](StreamParts& p) { p.units = 8, p.records += StoredBytes().Word(0).Get(); }, VE_STREAM_CORRUPTED},
        {"records missing", [](StreamParts& p) { p.units = 3, p.records.resize(6); }, VE_STREAM_CORRUPTED},
        {"records cut short", [](StreamParts& p) { p.records.resize(10); }, VE_STREAM_CORRUPTED},
    };
    for (const Case& c : cases) {
        StreamParts parts;
        c.corrupt(parts);
        test::RecordingRaiser raised;
        Attributes read;
        read.Append(StPackedDictionaryKey("old"), VLong(1));
        EXPECT_EQ(ReadBytes(parts.Bytes(), [&](VStream* s) { return read.ReadFromStream(s); }), c.expected) << c.what;
        EXPECT_EQ(read.GetCount(), 0u) << c.what;
        EXPECT_EQ(read.GetPackedUnits(), 0u) << c.what;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{c.expected}) << c.what;
    }
}

TEST(VPackedDictionary, EveryCutOfAStreamIsRefused) {
    const std::string bytes = StreamParts().Bytes();
    for (size_t size = 0; size < bytes.size(); ++size) {
        Attributes read;
        VError error = ReadBytes(bytes.substr(0, size), [&](VStream* s) { return read.ReadFromStream(s); });
        EXPECT_TRUE(error == VE_STREAM_EOF || error == VE_STREAM_CORRUPTED) << size;
        EXPECT_EQ(read.GetCount(), 0u) << size;
    }
}

// Dictionaries read from streams are sized exactly: later changes must grow them as they grow built ones.
TEST(VPackedDictionary, ReadDictionariesChangeLikeBuiltOnes) {
    struct Case {
        int entries;
        size_t nameLength; // 40 × 12 entries: keys beyond what a reader keeps aside on its stack
        bool withHash;
        bool bigEndian;
    } cases[] = {{0, 2, true, false}, {3, 2, true, false},   {7, 2, true, false},
                 {7, 2, false, true}, {12, 40, true, false}, {12, 40, true, true}};
    for (const Case& c : cases) {
        auto name = [&](int i) {
            std::string n = Name(i);
            return std::string(c.nameLength > n.size() ? c.nameLength - n.size() : 0, 'n') + n;
        };
        auto change = [&](Attributes& attributes) {
            for (int i = c.entries; i < c.entries + 10; ++i)
                attributes.Append(StPackedDictionaryKey(name(i).c_str()), VString(name(i).c_str()));
            attributes.SetExistingValue(StPackedDictionaryKey(name(1).c_str()), VString("a longer text"));
            attributes.Clear(StPackedDictionaryKey(name(0).c_str()));
        };
        Attributes built;
        for (int i = 0; i < c.entries; ++i) {
            if (i % 2 == 0)
                built.Append(StPackedDictionaryKey(name(i).c_str()), VLong(i));
            else
                built.Append(StPackedDictionaryKey(name(i).c_str()), VString(name(i).c_str()));
        }
        const std::string bytes = WrittenBytes([&](VStream* s) { built.WriteToStream(s, c.withHash); }, c.bigEndian);

        Attributes read;
        ASSERT_EQ(ReadBytes(
                      bytes, [&](VStream* s) { return read.ReadFromStream(s); }, c.bigEndian),
                  VE_OK)
            << c.entries;
        ASSERT_EQ(read.GetCount(), size_t(c.entries));
        EXPECT_EQ(read.GetKeysSize(), built.GetKeysSize());
        EXPECT_EQ(read.GetPackedUnits(), built.GetPackedUnits());
        for (int i = 0; i < c.entries; ++i) {
            if (i % 2 == 0)
                EXPECT_EQ(LongAt(read, name(i).c_str()), i);
            else
                EXPECT_EQ(StringAt(read, name(i).c_str()), VString(name(i).c_str()).GetCPointer());
        }

        change(built);
        change(read);
        EXPECT_EQ(StringAt(read, name(c.entries + 9).c_str()), VString(name(c.entries + 9).c_str()).GetCPointer());
        EXPECT_EQ(WrittenBytes([&](VStream* s) { read.WriteToStream(s, true); }),
                  WrittenBytes([&](VStream* s) { built.WriteToStream(s, true); }))
            << c.entries << " " << c.nameLength;
    }
}

// A name met twice is refused whether the stream carries the index or the reader builds it.
TEST(VPackedDictionary, NamesMetTwiceAreRefusedThroughTheIndex) {
    Attributes attributes;
    AppendLongs(attributes, 7);
    for (bool withHash : {true, false}) {
        std::string bytes = WrittenBytes([&](VStream* s) { attributes.WriteToStream(s, withHash); });
        const size_t last = bytes.find("k6");
        ASSERT_NE(last, std::string::npos);
        bytes[last + 1] = '0'; // "k6" becomes a second "k0"
        test::RecordingRaiser raised;
        Attributes read;
        EXPECT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_STREAM_CORRUPTED)
            << withHash;
        EXPECT_EQ(read.GetCount(), 0u);
        EXPECT_EQ(read.GetBucketCount(), 0u);
    }
}

TEST(VPackedDictionary, StoredKindsWithoutDescriptorTakeNoDataAndReadAsNothing) {
    // Kind 7 has no descriptor: its record is the kind alone.
    std::string bytes = StoredBytes().Long(1).Long(2).Byte(1).Text("z").Byte(0).Long(1).Word(7).Get();
    Attributes read;
    ASSERT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    VLong value(42);
    EXPECT_TRUE(read.GetValue(StPackedDictionaryKey("z"), value));
    EXPECT_EQ(value.Get(), 42); // untouched
    EXPECT_EQ(read.GetNthValue(0), nullptr);
}

} // namespace
} // namespace vela
