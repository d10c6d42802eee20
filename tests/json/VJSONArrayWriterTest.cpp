// The quick array writers and readers, and the single object writer.

#include "json/VJSONArrayWriter.h"
#include "json/VJSONArrayReader.h"
#include "json/VJSONSingleObjectWriter.h"

#include "values/VReal.h"
#include "json/VJSONText.h"

#include "JSONTestSupport.h"
#include "JSONTextTestSupport.h"

#include <cmath>
#include <limits>
#include <vector>

namespace vela {
namespace {

using test::Compact;
using test::Text;
using test::Units;

std::u16string ArrayText(VJSONArrayWriter& writer, bool keep = true) {
    VString text;
    writer.GetArray(text, keep);
    return Units(text);
}

// The text is JSON: the strict parser reads it and writes it back the same.
void ExpectValidJSON(const std::u16string& text) {
    VJSONValue value;
    ASSERT_EQ(VJSONImporter::ParseString(Text(text), value, VJSONImporter::kStrict), VE_OK)
        << std::string(text.begin(), text.end());
    EXPECT_EQ(Compact(value), text);
}

TEST(VJSONArrayWriter, WritesItemsSeparatedByCommas) {
    VJSONArrayWriter writer;
    writer.AddLong(1);
    writer.AddBool(false);
    writer.AddReal(2.5);
    writer.AddString(VString("a\"b\\"));
    writer.AddString("caf\xC3\xA9");
    writer.AddString(static_cast<const char*>(nullptr));
    writer.Add(VString("raw"), 1);
    writer.Add(VReal(4));
    EXPECT_EQ(ArrayText(writer), u"[1,false,2.5,\"a\\\"b\\\\\",\"caf\u00e9\",\"raw\",4]");
    ExpectValidJSON(ArrayText(writer));
}

TEST(VJSONArrayWriter, ClosingIsIdempotentAndAnEmptyWriterGivesEmptyBrackets) {
    VJSONArrayWriter writer;
    writer.Close();
    writer.Close();
    EXPECT_TRUE(writer.IsClosed());
    EXPECT_EQ(ArrayText(writer), u"[]");
}

TEST(VJSONArrayWriter, AddingAfterAKeptCloseContinuesTheArray) {
    VJSONArrayWriter writer;
    writer.AddLong(1);
    writer.AddLong(2);
    EXPECT_EQ(ArrayText(writer, true), u"[1,2]");
    writer.AddLong(3);
    EXPECT_EQ(ArrayText(writer, true), u"[1,2,3]");
    // Without keep the writer starts again from the empty array.
    EXPECT_EQ(ArrayText(writer, false), u"[1,2,3]");
    writer.AddLong(4);
    EXPECT_EQ(ArrayText(writer), u"[4]");
}

TEST(VJSONArrayWriter, NonFiniteRealsAreWrittenNull) {
    VJSONArrayWriter writer;
    const double reals[] = {std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY, 1e21, 0.1};
    writer.AddReals(reals, 5);
    EXPECT_EQ(ArrayText(writer), u"[null,null,null,1E+21,0.1]");
    ExpectValidJSON(ArrayText(writer));
}

TEST(VJSONArrayWriter, ListsAddEachItemAndIgnoreNullOrEmptyInput) {
    VJSONArrayWriter writer;
    const int32 longs[] = {-1, 2};
    const int16 words[] = {-32768, 7};
    const char bools[] = {0, 5};
    writer.AddLongs(longs, 2);
    writer.AddWords(words, 2);
    writer.AddBools(bools, 2);
    writer.AddStrings({VString("x"), VString("y")});
    writer.AddLongs(nullptr, 3);
    writer.AddLongs(longs, 0);
    writer.AddReals(nullptr, 1);
    writer.AddBools(bools, -1);
    EXPECT_EQ(ArrayText(writer), u"[-1,2,-32768,7,false,true,\"x\",\"y\"]");
}

TEST(VJSONArrayWriter, AddsAnotherWriterAsOneItemAndResetsIt) {
    VJSONArrayWriter inner;
    inner.AddLong(1);
    VJSONArrayWriter outer;
    outer.AddJSONArray(inner);
    outer.AddJSONArray(inner);
    EXPECT_EQ(ArrayText(outer), u"[[1],[]]");
    EXPECT_EQ(ArrayText(inner), u"[]");
    ExpectValidJSON(ArrayText(outer));
}

TEST(VJSONSingleObjectWriter, WritesMembersWithEscapedNames) {
    VJSONSingleObjectWriter writer;
    EXPECT_TRUE(writer.AddMember(VString("a"), VReal(1)));
    EXPECT_TRUE(writer.AddMember(VString("b"), VString("x"), 1));
    EXPECT_FALSE(writer.AddMember(VString(), VReal(2)));
    EXPECT_TRUE(writer.AddMember(Text(u"q\"uote\\d\x0001"), VReal(3)));
    VString text;
    writer.GetObject(text);
    EXPECT_EQ(Units(text), u"{\"a\":1,\"b\":\"x\",\"q\\\"uote\\\\d\\u0001\":3}");
    ExpectValidJSON(Units(text));
    EXPECT_EQ(writer.GetMemberCount(), 3);

    // Closed once; a member added later reopens the object.
    writer.GetObject(text);
    EXPECT_TRUE(writer.AddMember(VString("c"), VReal(4)));
    writer.GetObject(text);
    EXPECT_EQ(Units(text), u"{\"a\":1,\"b\":\"x\",\"q\\\"uote\\\\d\\u0001\":3,\"c\":4}");
}

TEST(VJSONSingleObjectWriter, WithoutMembersGivesAnEmptyObject) {
    VJSONSingleObjectWriter writer;
    VString text;
    writer.GetObject(text);
    EXPECT_EQ(Units(text), u"{}");
}

class VJSONArrayReaderTest : public test::JSONTextFixture {};

TEST_F(VJSONArrayReaderTest, KeepsTheTopLevelScalarsAndSkipsNestedArrays) {
    VJSONArrayReader reader(Text(u"[1, [2, [3]], \"x\\n\", true, {\"k\": 4}]"));
    VError error = MakeLibraryError(1);
    EXPECT_EQ(reader.GetCountOfElements(&error), 5);
    EXPECT_EQ(error, VE_OK);
    std::vector<std::u16string> items;
    for (const VString& item : reader.GetItems())
        items.push_back(Units(item));
    EXPECT_EQ(items, (std::vector<std::u16string>{u"1", u"x\n", u"true", u"k", u"4"}));
}

TEST_F(VJSONArrayReaderTest, TextWithoutACompleteArrayFailsWithoutItems) {
    const std::u16string texts[] = {u"", u"[1, 2", u"no array", u"[1, [2]", u"\"[1]\""};
    for (const std::u16string& text : texts) {
        StErrorContextInstaller errors(false, true);
        VJSONArrayReader reader;
        reader.FromJSONString(Text(text));
        VError error = VE_OK;
        EXPECT_EQ(reader.GetCountOfElements(&error), 0) << std::string(text.begin(), text.end());
        EXPECT_EQ(error, VE_JSON_MALFORMED);
        EXPECT_EQ(errors.GetLastError(), VE_JSON_MALFORMED);
        int32 out[2] = {7, 7};
        EXPECT_EQ(reader.ToArrayLong(out, 2), VE_JSON_MALFORMED);
        EXPECT_EQ(out[0], 7);
    }
}

TEST_F(VJSONArrayReaderTest, ConvertsItemsIntoArraysThatAreLargeEnough) {
    VJSONArrayReader reader(Text(u"[\"12\", 70000, -3.5, true]"));
    int16 shorts[4] = {};
    int32 longs[4] = {};
    double reals[4] = {};
    char bools[4] = {};
    EXPECT_EQ(reader.ToArrayShort(shorts, 4), VE_OK);
    EXPECT_EQ(reader.ToArrayLong(longs, 4), VE_OK);
    EXPECT_EQ(reader.ToArrayReal(reals, 4), VE_OK);
    EXPECT_EQ(reader.ToArrayBool(bools, 4), VE_OK);
    EXPECT_EQ(std::vector<int16>(shorts, shorts + 4), (std::vector<int16>{12, 0, -3, 0}));
    EXPECT_EQ(std::vector<int32>(longs, longs + 4), (std::vector<int32>{12, 70000, -3, 0}));
    EXPECT_EQ(std::vector<double>(reals, reals + 4), (std::vector<double>{12, 70000, -3.5, 0}));
    EXPECT_EQ(std::vector<char>(bools, bools + 4), (std::vector<char>{0, 0, 0, 1}));

    // A buffer too small is refused untouched; a null one is left alone.
    StErrorContextInstaller errors(false, true);
    int32 small[3] = {9, 9, 9};
    EXPECT_EQ(reader.ToArrayLong(small, 3), VE_INVALID_PARAMETER);
    EXPECT_EQ(std::vector<int32>(small, small + 3), (std::vector<int32>{9, 9, 9}));
    EXPECT_EQ(reader.ToArrayLong(nullptr, 0), VE_OK);

    std::vector<VString> strings{VString("old")};
    EXPECT_EQ(reader.ToArrayString(strings, true), VE_OK);
    EXPECT_EQ(strings.size(), 5u);
    EXPECT_EQ(reader.ToArrayString(strings, false), VE_OK);
    ASSERT_EQ(strings.size(), 4u);
    EXPECT_EQ(Units(strings[0]), u"12");
}

TEST_F(VJSONArrayReaderTest, ReadsWhatTheArrayWriterWrote) {
    VJSONArrayWriter writer;
    const int32 longs[] = {5, -6, 7};
    writer.AddLongs(longs, 3);
    VString text;
    writer.GetArray(text);
    VJSONArrayReader reader(text);
    int32 back[3] = {};
    ASSERT_EQ(reader.ToArrayLong(back, 3), VE_OK);
    EXPECT_EQ(std::vector<int32>(back, back + 3), (std::vector<int32>{5, -6, 7}));
}

} // namespace
} // namespace vela
