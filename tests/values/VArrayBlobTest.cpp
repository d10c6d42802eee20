#include "values/VArrayBlob.h"

#include "core/VString.h"
#include "values/StoredBytes.h"
#include "values/VArrayValues.h"
#include "values/VBlob.h"
#include "values/VScalar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

constexpr const char* kNull = nullptr;

// The elements' bytes, "<null>" standing for a null element.
std::vector<std::string> Contents(const VArrayBlob& array) {
    std::vector<std::string> out;
    for (int32 i = 1; i <= array.GetCount(); ++i) {
        const VBlobWithPtr* element = array.GetBlobPtr(i);
        if (element == nullptr)
            out.push_back("<null>");
        else
            out.emplace_back(static_cast<const char*>(element->GetDataPtr()), element->GetSize());
    }
    return out;
}

VArrayBlob Blobs(std::initializer_list<const char*> contents) {
    VArrayBlob array(int32(contents.size()));
    int32 index = 0;
    for (const char* bytes : contents) {
        ++index;
        if (bytes != nullptr) array.FromValue(VBlobWithPtr(bytes, std::string(bytes).size()), index);
    }
    return array;
}

// A 32-bit number in the given byte order.
std::string Long(int32 value, bool bigEndian) {
    std::string bytes = StoredBytes().Long(value).Get();
    if (bigEndian) bytes.assign(bytes.rbegin(), bytes.rend());
    return bytes;
}

TEST(VArrayBlobTest, StreamsLengthAndBytesPerElementInBothByteOrders) {
    VArrayBlob array = Blobs({"ab", kNull, "", "xyz"});
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::string bytes = WrittenBytes([&](VStream* s) { EXPECT_EQ(array.WriteToStream(s), VE_OK); }, bigEndian);
        // No marker between elements; the null one is written as an empty blob.
        std::string expected = Long(4, bigEndian) + Long(2, bigEndian) + "ab" + Long(0, bigEndian) +
                               Long(0, bigEndian) + Long(3, bigEndian) + "xyz";
        EXPECT_EQ(bytes, expected);

        // Elements already there are overwritten, missing ones made: every element reads back non-null.
        VArrayBlob back = Blobs({"stale", kNull});
        EXPECT_EQ(ReadBytes(
                      bytes, [&](VStream* s) { return back.ReadFromStream(s); }, bigEndian),
                  VE_OK);
        EXPECT_EQ(Contents(back), (std::vector<std::string>{"ab", "", "", "xyz"}));
        EXPECT_EQ(WrittenBytes([&](VStream* s) { back.WriteToStream(s); }, bigEndian), expected);
    }
}

TEST(VArrayBlobTest, RefusesStreamCountsAndLengthsTheStreamCannotBack) {
    struct Case {
        const char* name;
        std::string bytes;
        VError error;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        // A negative count reads nothing and reports nothing, as for the other arrays.
        {"negative count", StoredBytes().Long(-1).Get(), VE_OK, {"keep"}},
        // Each element takes at least its 4-byte length: refused before any storage is set aside.
        {"count past the input", StoredBytes().Long(0x7FFFFFFF).Long(0).Get(), VE_STREAM_CORRUPTED, {"keep"}},
        {"one element short", StoredBytes().Long(2).Long(0).Get(), VE_STREAM_CORRUPTED, {"keep"}},
        {"length past the input",
         StoredBytes().Long(1).Long(0x7FFFFFF0).Text("ab").Get(),
         VE_STREAM_CORRUPTED,
         {"keep"}},
        {"negative length", StoredBytes().Long(1).Long(-5).Get(), VE_STREAM_CORRUPTED, {"keep"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VArrayBlob array = Blobs({"keep"});
        EXPECT_EQ(ReadBytes(c.bytes, [&](VStream* s) { return array.ReadFromStream(s); }), c.error);
        EXPECT_EQ(Contents(array), c.after);
    }
}

TEST(VArrayBlobTest, SortPutsNullsFirstAndOtherwiseFindsNoOrder) {
    VArrayBlob array = Blobs({"b", kNull, "a", kNull});
    array.Sort(1, 4);
    std::vector<std::string> sorted = Contents(array);
    EXPECT_EQ(sorted[0], "<null>");
    EXPECT_EQ(sorted[1], "<null>");
    std::sort(sorted.begin() + 2, sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"<null>", "<null>", "a", "b"}));

    array.Sort(1, 4, true);
    EXPECT_EQ(Contents(array)[2], "<null>");
    EXPECT_EQ(Contents(array)[3], "<null>");

    // Element against a value: outside 1..count smaller, else blobs have no order (null elements included).
    VBlobWithPtr value("zz", 2);
    EXPECT_EQ(array.CompareTo(value, false, 0), CR_SMALLER);
    EXPECT_EQ(array.CompareTo(value, false, 5), CR_SMALLER);
    for (int32 i = 1; i <= 4; ++i)
        EXPECT_EQ(array.CompareTo(value, false, i), CR_EQUAL);
}

TEST(VArrayBlobTest, ElementsAreOwnedCopiesReadBackAsBlobs) {
    VArrayBlob array = Blobs({"one", kNull});
    array.FromValue(VLong(42), 2); // not a blob: left alone
    array.FromValue(VBlobWithPtr("x", 1), 3);
    EXPECT_EQ(Contents(array), (std::vector<std::string>{"one", "<null>"}));

    VArrayBlob copy(array);
    std::unique_ptr<VValue> clone(array.Clone());
    array.FromValue(VConstBlobWithPtr("changed", 7), 1);
    EXPECT_EQ(Contents(array), (std::vector<std::string>{"changed", "<null>"}));
    EXPECT_EQ(Contents(copy), (std::vector<std::string>{"one", "<null>"}));
    EXPECT_EQ(Contents(*static_cast<VArrayBlob*>(clone.get())), (std::vector<std::string>{"one", "<null>"}));

    VBlobWithPtr target("stale", 5);
    array.GetValue(target, 1);
    EXPECT_EQ(std::string(static_cast<const char*>(target.GetDataPtr()), target.GetSize()), "changed");
    array.GetValue(target, 2);
    EXPECT_EQ(target.GetSize(), 0u);
    std::unique_ptr<VValueSingle> single(copy.CloneValue(1));
    auto* blob = dynamic_cast<VBlobWithPtr*>(single.get());
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(blob->GetDataPtr()), blob->GetSize()), "one");

    // Shrinking and deleting free their blobs (the leak checker sees any left owned).
    EXPECT_TRUE(array.SetCount(1));
    EXPECT_TRUE(array.SetCount(2));
    EXPECT_EQ(Contents(array), (std::vector<std::string>{"changed", "<null>"}));
}

TEST(VArrayBlobTest, KindMakesABlobArray) {
    std::unique_ptr<VValue> generated(VValue::NewValueFromValueKind(110));
    auto* array = dynamic_cast<VArrayBlob*>(generated.get());
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->GetTrueValueKind(), 110);
    EXPECT_EQ(array->GetElemValueKind(), VBlob::kKind);
}

// Only a blob takes an element: another kind's same-kind copy would read the blob's bytes as its own layout
// (a string reading twice the block's size).
TEST(VArrayBlobTest, GetValueIntoAnotherKindLeavesItAlone) {
    VArrayBlob array = Blobs({"abc", kNull});
    VString text("kept");
    array.GetValue(text, 1);
    EXPECT_TRUE(text.EqualToStringRaw(VString("kept")));
    VLong number(7);
    array.GetValue(number, 1);
    EXPECT_EQ(number.GetLong(), 7);

    // Any blob takes it, the null flag included.
    VBlobWithPtr blob("stale", 5);
    array.GetValue(blob, 1);
    EXPECT_EQ(std::string(static_cast<const char*>(blob.GetDataPtr()), blob.GetSize()), "abc");
    EXPECT_FALSE(blob.IsNull());
}

} // namespace
} // namespace vela
