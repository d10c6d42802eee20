#include "values/VArrayString.h"

#include "core/VString.h"
#include "values/StoredBytes.h"
#include "values/VScalar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace vela {
namespace {

using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

// The texts, "<null>" standing for a null element.
std::vector<std::string> Texts(const VArrayString& array) {
    std::vector<std::string> out;
    for (int32 i = 1; i <= array.GetCount(); ++i) {
        const VString* element = array.GetStringPtr(i);
        if (element == nullptr) {
            out.push_back("<null>");
            continue;
        }
        std::string text;
        for (int32 k = 0; k < element->GetLength(); ++k)
            text += char(element->GetCPointer()[k]);
        out.push_back(text);
    }
    return out;
}

VArrayString Strings(std::initializer_list<const char*> texts) {
    VArrayString array;
    for (const char* text : texts) {
        if (text == nullptr)
            array.Insert(array.GetCount() + 1, 1);
        else
            array.AppendString(VString(text));
    }
    return array;
}

// The string form of one text, in little-endian order: minus the length, then the units.
StoredBytes& Text(StoredBytes& bytes, const char* text) {
    int32 length = int32(strlen(text));
    bytes.Long(-length);
    for (int32 i = 0; i < length; ++i)
        bytes.Word(uint16(text[i]));
    return bytes;
}

TEST(VArrayStringTest, StreamsNullElementsAsTheNullMarkerAndReadsThemBack) {
    VArrayString array = Strings({"a", nullptr, "b"});
    std::string bytes = WrittenBytes([&](VStream* s) { array.WriteToStream(s); });
    StoredBytes expected;
    expected.Long(3).Long(2);
    Text(expected, "a").Long(0x4E554C4C).Long(2);
    Text(expected, "b");
    EXPECT_EQ(bytes, expected.Get());

    VArrayString back = Strings({"x", "y"});
    EXPECT_EQ(ReadBytes(bytes, [&](VStream* s) { return back.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(Texts(back), (std::vector<std::string>{"a", "<null>", "b"}));
}

TEST(VArrayStringTest, StreamCountsAreCheckedBeforeAllocating) {
    VArrayString array = Strings({"keep"});
    EXPECT_EQ(ReadBytes(StoredBytes().Long(-1).Get(), [&](VStream* s) { return array.ReadFromStream(s); }), VE_OK);
    EXPECT_EQ(Texts(array), (std::vector<std::string>{"keep"}));
    // Each element takes at least its 4-byte marker.
    EXPECT_EQ(
        ReadBytes(StoredBytes().Long(0x7FFFFFFF).Long(0).Get(), [&](VStream* s) { return array.ReadFromStream(s); }),
        VE_STREAM_CORRUPTED);
}

TEST(VArrayStringTest, NullElementsReadAsEmpty) {
    VArrayString array = Strings({nullptr, "b"});
    VString out("stale");
    array.GetString(out, 1);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(out.IsNull());
    VString value("x");
    array.GetValue(value, 1);
    EXPECT_TRUE(value.IsEmpty());
    EXPECT_EQ(array.CompareTo(VString(""), false, 1), CR_EQUAL);
    EXPECT_EQ(array.CompareTo(VString("a"), false, 9), CR_SMALLER);
    array.GetString(out, 9);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(array.QuickFind(VString("b")), 2);
    EXPECT_EQ(array.Find(VString(""), 1, true), -1); // null elements never match
}

TEST(VArrayStringTest, FromStringFillsNullElementsAndCopiesAreIndependent) {
    VArrayString array(2);
    array.FromString(VString("one"), 1);
    array.FromValue(VLong(42), 2);
    array.FromString(VString("ignored"), 3);
    EXPECT_EQ(Texts(array), (std::vector<std::string>{"one", "42"}));

    VArrayString copy(array);
    std::unique_ptr<VValue> clone(array.Clone());
    array.FromString(VString("changed"), 1);
    EXPECT_EQ(Texts(copy), (std::vector<std::string>{"one", "42"}));
    EXPECT_EQ(Texts(*static_cast<VArrayString*>(clone.get())), (std::vector<std::string>{"one", "42"}));
    VArrayString assigned;
    EXPECT_TRUE(assigned.Copy(array));
    EXPECT_EQ(Texts(assigned), (std::vector<std::string>{"changed", "42"}));
}

TEST(VArrayStringTest, SortPutsNullsFirstAndSynchronizedSortCarriesPartners) {
    VArrayString array = Strings({"c", nullptr, "a", "b"});
    array.Sort(1, 4);
    EXPECT_EQ(Texts(array), (std::vector<std::string>{"<null>", "a", "b", "c"}));

    VArrayLong keys;
    for (int32 v : {3, 1, 2})
        keys.AppendLong(v);
    VArrayString partner = Strings({"c", "a", "b"});
    EXPECT_TRUE(VArrayValue::SynchronizedSort(false, &keys, &partner, nullptr));
    EXPECT_EQ(Texts(partner), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(VArrayStringTest, DeleteAndShrinkReleaseTheirStrings) {
    // Leaks show under the leak checker if released elements stayed owned, or crash if freed twice.
    VArrayString array = Strings({"a", "b", "c", "d"});
    EXPECT_TRUE(array.Delete(2, 2));
    EXPECT_EQ(Texts(array), (std::vector<std::string>{"a", "d"}));
    EXPECT_TRUE(array.SetCount(1));
    EXPECT_TRUE(array.SetCount(3));
    EXPECT_EQ(Texts(array), (std::vector<std::string>{"a", "<null>", "<null>"}));
}

TEST(VArrayStringTest, FindComparesWithoutDiacritics) {
    VArrayString array = Strings({"apple", "Pear", "plum"});
    EXPECT_EQ(array.Find(VString("pear"), 1, true), 2);
    EXPECT_EQ(array.Find(VString("pear"), 3, false, kFindGreater), 3);
    EXPECT_EQ(array.Find(VString("zzz"), 1, true), -1);
}

TEST(VArrayStringTest, GetSubStringsFillsAnArrayValue) {
    struct Case {
        const char* text;
        bool keepEmpty;
        std::vector<std::string> pieces;
    };
    for (const Case& c : {Case{"a,b,,c", false, {"a", "b", "c"}}, Case{"a,b,,c", true, {"a", "b", "", "c"}},
                          Case{"", true, {""}}, Case{"abc", false, {"abc"}}}) {
        VArrayString pieces = Strings({"stale"});
        VString(c.text).GetSubStrings(u',', pieces, c.keepEmpty, false);
        EXPECT_EQ(Texts(pieces), c.pieces) << c.text;
    }
}

TEST(VArrayStringTest, KindIsRegistered) {
    std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(109));
    ASSERT_NE(dynamic_cast<VArrayString*>(value.get()), nullptr);
}

} // namespace
} // namespace vela
