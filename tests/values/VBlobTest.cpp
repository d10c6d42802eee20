#include "values/VBlob.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"
#include "files/VPtrStream.h"
#include "support/BagTestSupport.h"
#include "support/BlobBytes.h"
#include "support/RecordingRaiser.h"
#include "values/StoredBytes.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

std::string Content(const VBlob& blob) {
    return test::BlobBytes(blob);
}

VBlobWithPtr BlobOf(const std::string& bytes) {
    return VBlobWithPtr(bytes.data(), bytes.size());
}

// Allocations fail while it lives.
class StFailAllocations {
public:
    StFailAllocations() { VCppMemMgr::sFailAllocations.store(true); }
    ~StFailAllocations() { VCppMemMgr::sFailAllocations.store(false); }
};

TEST(VBlobTest, KindAndRegistry) {
    VBlobWithPtr blob;
    EXPECT_EQ(blob.GetValueKind(), 11);
    EXPECT_EQ(blob.GetTrueValueKind(), 11);
    EXPECT_FALSE(blob.IsNull());
    EXPECT_TRUE(blob.IsDirty());
    EXPECT_FALSE(blob.CanBeEvaluated());
    EXPECT_EQ(VValue::ValueInfoFromValueKind(11), &VBlob::sInfo);

    std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(11));
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(made.get()), nullptr);
    EXPECT_FALSE(made->IsNull());
    std::unique_ptr<VValue> fromBlob(VBlob::sInfo.Generate(&blob));
    EXPECT_NE(dynamic_cast<VBlobWithPtr*>(fromBlob.get()), nullptr);
}

TEST(VBlobTest, EveryDescriptorGeneratesFromABlobAsWithoutOne) {
    VBlobWithPtr blob("xyz", 3);
    for (uint16 kind : {0, 1, 4, 10, 11, 13, 200}) {
        const VValueInfo* info = VValue::ValueInfoFromValueKind(kind);
        ASSERT_NE(info, nullptr) << kind;
        std::unique_ptr<VValue> plain(info->Generate());
        std::unique_ptr<VValue> withBlob(info->Generate(&blob));
        ASSERT_NE(withBlob, nullptr) << kind;
        EXPECT_EQ(withBlob->GetValueKind(), plain->GetValueKind()) << kind;
        EXPECT_EQ(withBlob->IsNull(), plain->IsNull()) << kind;
    }
    std::unique_ptr<VValue> id(VUUID::sInfo.Generate(&blob));
    EXPECT_TRUE(id->IsNull());
}

TEST(VBlobTest, GetDataCases) {
    const std::string ten = "0123456789";
    struct Case {
        size_t count;
        int32 offset;
        std::string delivered;
        VError error;
    } cases[] = {
        {10, 0, ten, VE_OK},
        {4, 3, "3456", VE_OK},
        {8, 4, "456789", VE_STREAM_EOF}, // past the end: what is left, and end of data
        {0, 10, "", VE_OK},
        {1, 10, "", VE_STREAM_EOF},
        {3, 50, "", VE_STREAM_EOF}, // beyond the size: nothing
        {3, -1, "", VE_STREAM_EOF}, // negative: nothing read before the bytes
        {3, INT32_MIN, "", VE_STREAM_EOF},
        {SIZE_MAX, 2, "23456789", VE_STREAM_EOF}, // a count whose sum with the offset would wrap
    };
    VBlobWithPtr owned = BlobOf(ten);
    VConstBlobWithPtr borrowed(ten.data(), ten.size());
    for (const VBlob* blob : {static_cast<const VBlob*>(&owned), static_cast<const VBlob*>(&borrowed)}) {
        for (const Case& c : cases) {
            std::vector<char> buffer(16, '#');
            size_t read = 99;
            EXPECT_EQ(blob->GetData(buffer.data(), c.count, c.offset, &read), c.error) << c.offset;
            EXPECT_EQ(read, c.delivered.size()) << c.offset;
            EXPECT_EQ(std::string(buffer.data(), read), c.delivered) << c.offset;
            EXPECT_EQ(buffer[read], '#') << "nothing written past the delivered bytes";
        }
    }
}

TEST(VBlobTest, PutDataGrowsByTheAmortisedRuleAndNeverShrinks) {
    VBlobWithPtr blob;
    EXPECT_EQ(blob.PutData("abcdefghij", 10, 0), VE_OK);
    EXPECT_EQ(blob.GetSize(), 10u);
    EXPECT_EQ(blob.GetAllocatedSize(), 1024u);
    const void* block = blob.GetDataPtr();
    EXPECT_EQ(blob.PutData("klmnopqrst", 10, 10), VE_OK);
    EXPECT_EQ(blob.GetDataPtr(), block);
    EXPECT_EQ(blob.GetAllocatedSize(), 1024u);
    EXPECT_EQ(blob.PutData("XY", 2, 3), VE_OK);
    EXPECT_EQ(Content(blob), "abcXYfghijklmnopqrst");
    EXPECT_EQ(blob.PutData("!", 1, 2999), VE_OK);
    EXPECT_EQ(blob.GetSize(), 3000u);
    EXPECT_EQ(blob.GetAllocatedSize(), 5120u);
}

TEST(VBlobTest, PutDataPastTheEndZeroFillsTheGap) {
    // The sanitizer fills fresh blocks with garbage: a gap left as allocated shows it.
    VBlobWithPtr blob = BlobOf("ab");
    ASSERT_EQ(blob.PutData("z", 1, 8), VE_OK);
    EXPECT_EQ(Content(blob), std::string("ab\0\0\0\0\0\0z", 9));
    VBlobWithPtr empty;
    ASSERT_EQ(empty.PutData("q", 1, 2000), VE_OK);
    EXPECT_EQ(Content(empty), std::string(2000, '\0') + "q");
}

TEST(VBlobTest, SetSizeIsExactAndZeroFillsGrowth) {
    VBlobWithPtr blob = BlobOf("abcdef");
    ASSERT_EQ(blob.SetSize(3), VE_OK);
    EXPECT_EQ(blob.GetAllocatedSize(), 3u);
    ASSERT_EQ(blob.SetSize(8), VE_OK);
    EXPECT_EQ(blob.GetAllocatedSize(), 8u);
    EXPECT_EQ(Content(blob), std::string("abc\0\0\0\0\0", 8));
    ASSERT_EQ(blob.SetSize(0), VE_OK);
    EXPECT_EQ(blob.GetDataPtr(), nullptr);
    EXPECT_FALSE(blob.IsNull());
}

TEST(VBlobTest, RefusedOffsetsCopyNothing) {
    struct Case {
        int32 offset;
        size_t count;
    } cases[] = {{-1, 2}, {INT32_MIN, 2}, {-1, 0}, {5, SIZE_MAX}, {INT32_MAX, SIZE_MAX - size_t(INT32_MAX) + 1}};
    for (const Case& c : cases) {
        VBlobWithPtr blob = BlobOf("abc");
        EXPECT_EQ(blob.PutData("zz", c.count, c.offset), VE_MEMORY_FULL) << c.offset;
        EXPECT_EQ(Content(blob), "abc") << c.offset;
    }
}

TEST(VBlobTest, FromDataReplacesExactlyAndClearLeavesNoStorage) {
    VBlobWithPtr blob = BlobOf("abcdef");
    blob.SetNull(true);
    ASSERT_EQ(blob.FromData("xy", 2), VE_OK);
    EXPECT_FALSE(blob.IsNull());
    EXPECT_EQ(blob.GetAllocatedSize(), 2u);
    EXPECT_EQ(Content(blob), "xy");
    // Bytes of the blob itself.
    ASSERT_EQ(blob.PutData("zw", 2, 2), VE_OK);
    ASSERT_EQ(blob.FromData(static_cast<const char*>(blob.GetDataPtr()) + 1, 3), VE_OK);
    EXPECT_EQ(Content(blob), "yzw");
    blob.Clear();
    EXPECT_EQ(blob.GetSize(), 0u);
    EXPECT_EQ(blob.GetDataPtr(), nullptr);
    EXPECT_FALSE(blob.IsNull());
}

TEST(VBlobTest, NullEmpties) {
    VBlobWithPtr blob = BlobOf("abc");
    blob.SetNull(true);
    EXPECT_TRUE(blob.IsNull());
    EXPECT_EQ(blob.GetSize(), 0u);
    ASSERT_EQ(blob.PutData("q", 1, 0), VE_OK);
    EXPECT_FALSE(blob.IsNull());
}

TEST(VBlobTest, FailedAllocationsAnswerMemoryFull) {
    VBlobWithPtr grown = BlobOf("abc");
    VBlobWithPtr empty;
    {
        StFailAllocations failing;
        EXPECT_EQ(grown.PutData("x", 1, 5000), VE_MEMORY_FULL);
        EXPECT_EQ(grown.SetSize(5000), VE_MEMORY_FULL);
        EXPECT_EQ(empty.FromData("abc", 3), VE_MEMORY_FULL);
        EXPECT_EQ(empty.SetSize(10), VE_MEMORY_FULL);
        VBlobWithPtr copy(grown);
        EXPECT_EQ(copy.GetSize(), 0u);
        EXPECT_FALSE(empty.FromValueSameKind(&grown)); // ended empty while the source is not
    }
    EXPECT_EQ(Content(grown), "abc");
    EXPECT_EQ(empty.GetSize(), 0u);
}

TEST(VBlobTest, CopiesClonesAndSameKind) {
    VBlobWithPtr source = BlobOf("hello");
    source.SetDirty(false);
    VBlobWithPtr copy(source);
    EXPECT_EQ(Content(copy), "hello");
    EXPECT_EQ(copy.GetAllocatedSize(), 5u);
    EXPECT_TRUE(copy.IsDirty());
    std::unique_ptr<VValue> clone(source.Clone());
    EXPECT_TRUE(source.EqualToSameKind(clone.get()));

    VConstBlobWithPtr borrowed("bytes", 5);
    VBlobWithPtr fromAny(static_cast<const VBlob&>(borrowed));
    EXPECT_EQ(Content(fromAny), "bytes");

    VBlobWithPtr nullSource;
    nullSource.SetNull(true);
    VBlobWithPtr nullCopy(nullSource);
    EXPECT_TRUE(nullCopy.IsNull());

    VBlobWithPtr target = BlobOf("older and longer");
    EXPECT_TRUE(target.FromValueSameKind(&source));
    EXPECT_EQ(Content(target), "hello");
    EXPECT_FALSE(target.FromValueSameKind(&borrowed)); // not an owned blob
    EXPECT_EQ(Content(target), "hello");
    EXPECT_TRUE(target.FromValueSameKind(&nullSource));
    EXPECT_TRUE(target.IsNull());
}

TEST(VBlobTest, EqualityAndNoOrder) {
    VBlobWithPtr a = BlobOf("same");
    VBlobWithPtr b = BlobOf("same");
    VBlobWithPtr c = BlobOf("other");
    VBlobWithPtr nullBlob;
    nullBlob.SetNull(true);
    VLong number(1);
    EXPECT_TRUE(a.EqualToSameKind(&b));
    EXPECT_FALSE(a.EqualToSameKind(&c));
    EXPECT_FALSE(a.EqualToSameKind(&nullBlob));
    EXPECT_FALSE(a.EqualToSameKind(nullptr));
    EXPECT_FALSE(a.EqualToSameKind(&number));
    EXPECT_EQ(a.CompareTo(b), CR_UNRELEVANT);
    EXPECT_EQ(a.CompareToSameKind(&c), CR_EQUAL);
}

TEST(VBlobTest, ValueConversions) {
    VBlobWithPtr source = BlobOf("data");
    VBlobWithPtr target = BlobOf("old");
    source.GetValue(target);
    EXPECT_EQ(Content(target), "data");
    VLong number(7);
    source.GetValue(number);
    EXPECT_EQ(number.Get(), 7);
    target.FromValue(number); // cleared, nothing else
    EXPECT_EQ(target.GetSize(), 0u);
    target.FromValue(source);
    EXPECT_EQ(Content(target), "data");
}

TEST(VBlobTest, ConstBlobRefusesEveryChange) {
    const char bytes[] = "fixed";
    VConstBlobWithPtr blob(bytes, 5);
    EXPECT_EQ(blob.PutData("x", 1, 0), VE_STREAM_CANNOT_WRITE);
    EXPECT_EQ(blob.FromData("x", 1), VE_STREAM_CANNOT_WRITE);
    EXPECT_EQ(blob.SetSize(1), VE_STREAM_CANNOT_WRITE);
    std::string stream = WrittenBytes([](VStream* s) { VBlobWithPtr("abc", 3).WriteToStream(s); });
    EXPECT_EQ(ReadBytes(stream, [&](VStream* s) { return blob.ReadFromStream(s); }), VE_STREAM_CANNOT_WRITE);
    blob.SetNull(true);
    EXPECT_EQ(blob.GetSize(), 5u);
    EXPECT_EQ(blob.GetDataPtr(), bytes);
    std::unique_ptr<VValue> clone(blob.Clone());
    EXPECT_EQ(static_cast<VConstBlobWithPtr*>(clone.get())->GetDataPtr(), bytes);
    VConstBlobWithPtr other("zz", 2);
    EXPECT_TRUE(other.FromValueSameKind(&blob));
    EXPECT_EQ(other.GetDataPtr(), bytes);
    EXPECT_TRUE(other.IsNull());
}

// ---- Stored form

TEST(VBlobTest, StoredFormRoundTripsAndHonoursTheLimit) {
    VBlobWithPtr blob = BlobOf("abc");
    EXPECT_EQ(blob.GetSpace(), 7u);
    char area[16];
    std::memset(area, '#', sizeof(area));
    EXPECT_EQ(blob.WriteToPtr(area), area + 7);
    EXPECT_EQ(std::string(area, 7), StoredBytes().Long(3).Text("abc").Get());
    struct Case {
        size_t limit;
        size_t written;
    } cases[] = {{0, 7}, {100, 7}, {7, 7}, {6, 6}, {4, 4}, {3, 0}};
    for (const Case& c : cases) {
        std::memset(area, '#', sizeof(area));
        char* end = static_cast<char*>(blob.WriteToPtr(area, false, c.limit));
        EXPECT_EQ(size_t(end - area), c.written) << c.limit;
        EXPECT_EQ(area[c.written], '#') << c.limit;
        if (c.written >= 4) {
            VBlobWithPtr back;
            EXPECT_EQ(back.LoadFromPtr(area), end);
            EXPECT_EQ(Content(back), std::string("abc").substr(0, c.written - 4)) << c.limit;
        }
    }
}

TEST(VBlobTest, LoadFromPtrCases) {
    VBlobWithPtr blob = BlobOf("previous");
    std::string empty = StoredBytes().Long(0).Get();
    EXPECT_EQ(blob.LoadFromPtr(empty.data()), empty.data() + 4);
    EXPECT_EQ(Content(blob), "previous"); // a zero length keeps the bytes at this level

    std::string negative = StoredBytes().Long(-5).Text("xxxxxxxx").Get();
    test::RecordingRaiser raised;
    EXPECT_EQ(blob.LoadFromPtr(negative.data()), negative.data() + 4); // never backwards
    EXPECT_EQ(blob.GetSize(), 0u);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_CORRUPTED});
    EXPECT_EQ(VBlob::sInfo.GetSizeOfValueDataPtr(negative.data()), 4u);
    EXPECT_EQ(VBlob::sInfo.GetSizeOfValueDataPtr(StoredBytes().Long(3).Text("abc").Get().data()), 7u);
}

TEST(VBlobTest, DescriptorLoadsAndSwapsTheLengthOnly) {
    std::string stored = StoredBytes().Long(3).Text("abc").Get();
    std::unique_ptr<VValue> loaded(VBlob::sInfo.LoadFromPtr(stored.data()));
    ASSERT_NE(dynamic_cast<VBlobWithPtr*>(loaded.get()), nullptr);
    EXPECT_EQ(Content(*static_cast<VBlob*>(loaded.get())), "abc");
    std::string swapped = stored;
    EXPECT_EQ(VBlob::sInfo.ByteSwapPtr(swapped.data(), true), swapped.data() + 4);
    EXPECT_EQ(swapped, std::string("\0\0\0\3abc", 7));
}

// ---- Stream form

TEST(VBlobTest, StreamFormInBothByteOrders) {
    struct Case {
        std::string bytes;
        bool bigEndian;
        std::string stream;
    } cases[] = {
        {"abc", false, std::string("\3\0\0\0abc", 7)},
        {"abc", true, std::string("\0\0\0\3abc", 7)},
        {"", false, std::string(4, '\0')},
    };
    for (const Case& c : cases) {
        VBlobWithPtr blob = BlobOf(c.bytes);
        EXPECT_EQ(WrittenBytes([&](VStream* s) { blob.WriteToStream(s); }, c.bigEndian), c.stream);
        VConstBlobWithPtr borrowed(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(WrittenBytes([&](VStream* s) { borrowed.WriteToStream(s); }, c.bigEndian), c.stream);
        VBlobWithPtr back = BlobOf("stale");
        back.SetNull(true);
        EXPECT_EQ(ReadBytes(
                      c.stream, [&](VStream* s) { return back.ReadFromStream(s); }, c.bigEndian),
                  VE_OK);
        EXPECT_EQ(Content(back), c.bytes);
        EXPECT_TRUE(back.IsNull()) << "reading leaves the null flag";
    }
}

TEST(VBlobTest, CorruptStreamLengthsAreRefusedBeforeAllocating) {
    struct Case {
        std::string stream;
        VError error;
    } cases[] = {
        {StoredBytes().Long(-1).Get(), VE_STREAM_CORRUPTED},
        {StoredBytes().Long(INT32_MIN).Get(), VE_STREAM_CORRUPTED},
        {StoredBytes().Long(INT32_MAX).Text("abc").Get(), VE_STREAM_CORRUPTED}, // more than the stream holds
        {StoredBytes().Long(4).Text("abc").Get(), VE_STREAM_CORRUPTED},
        {std::string("\3\0", 2), VE_STREAM_EOF},
    };
    for (const Case& c : cases) {
        VBlobWithPtr blob = BlobOf("keep");
        EXPECT_EQ(ReadBytes(c.stream, [&](VStream* s) { return blob.ReadFromStream(s); }), c.error);
        EXPECT_EQ(Content(blob), "keep") << "nothing changed for a refused length";
    }
}

TEST(VBlobTest, SizesBeyondTheLengthWordAreNotWritten) {
    // A borrowed blob can claim any size without memory behind it: nothing is read when it is refused.
    static const char byte = 'x';
    VConstBlobWithPtr huge(&byte, size_t(INT32_MAX) + 1);
    VPtrStream stream;
    stream.OpenWriting();
    EXPECT_EQ(huge.WriteToStream(&stream), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream.GetLastError(), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream.GetDataSize(), 0u);
    stream.CloseWriting();
    EXPECT_EQ(huge.GetSpace(), 4u + size_t(INT32_MAX));
}

// ---- In bags

TEST(VBlobTest, BlobAttributesOfBags) {
    test::BagRef bag = test::NewBag();
    bag->SetAttribute("data", BlobOf(std::string("a\0b", 3)));
    bag->SetAttribute("none", VBlobWithPtr());

    VBlobWithPtr out;
    EXPECT_TRUE(bag->GetAttribute("data", out));
    EXPECT_EQ(Content(out), std::string("a\0b", 3));
    // An empty stored blob read into a reused blob leaves it empty, not with the previous bytes.
    EXPECT_TRUE(bag->GetAttribute("none", out));
    EXPECT_EQ(out.GetSize(), 0u);

    std::string stream = WrittenBytes([&](VStream* s) { bag->WriteToStream(s); });
    test::BagRef back = test::NewBag();
    ASSERT_EQ(ReadBytes(stream, [&](VStream* s) { return back->ReadFromStream(s); }), VE_OK);
    EXPECT_TRUE(back->EqualTo(*bag));
    VBlobWithPtr again = BlobOf("stale");
    EXPECT_TRUE(back->GetAttribute("data", again));
    EXPECT_EQ(Content(again), std::string("a\0b", 3));
}

// Bytes of the blob itself put back into it: the block may move as it grows, and the ranges may overlap.
TEST(VBlobTest, PutDataFromItsOwnBytes) {
    struct Case {
        size_t from;
        size_t count;
        int32 offset;
        const char* expected;
    };
    const Case cases[] = {
        {1, 5, 4, "abcdbcdef"}, // grows: the block moves before the copy
        {0, 4, 2, "ababcd"},    // overlaps forwards
        {2, 4, 0, "cdefef"},    // overlaps backwards
    };
    for (const Case& c : cases) {
        VBlobWithPtr blob = BlobOf("abcdef");
        const auto* start = static_cast<const char*>(blob.GetDataPtr());
        EXPECT_EQ(blob.PutData(start + c.from, c.count, c.offset), VE_OK) << c.expected;
        EXPECT_EQ(Content(blob), c.expected);
    }
}

} // namespace
} // namespace vela
