#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/RecordingRaiser.h"
#include "values/VBagArray.h"
#include "values/VBlob.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"
#include "values/VUUID.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace vela {
namespace {

using test::BagRef;
using test::Chain;
using test::NewBag;

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::u16string Json(const VValueBag& bag, uint32 options = 0) {
    VString out("stale");
    EXPECT_EQ(bag.GetJSONString(out, options), VE_OK);
    return Text(out);
}

// name = x, one "item" child marked as a JSON object holding v = 1, and two "row" children.
BagRef Sample() {
    BagRef bag = NewBag();
    bag->SetString("name", VString("x"));
    BagRef item = NewBag();
    item->SetBool("____objectunic", true);
    item->SetLong("v", 1);
    bag->AddElement("item", item.Get());
    bag->AddElement("row", NewBag().Get());
    BagRef row = NewBag();
    row->SetLong8("k", -2);
    bag->AddElement("row", row.Get());
    return bag;
}

TEST(VValueBagJSONText, ObjectsArraysAndSingleChildren) {
    EXPECT_EQ(Json(*Sample()), u"{\"name\":\"x\",\"item\":{\"v\":1},\"row\":[{},{\"k\":-2}]}");

    BagRef single = NewBag();
    BagRef child = NewBag();
    child->SetLong("v", 2);
    single->AddElement("c", child.Get());
    EXPECT_EQ(Json(*single), u"{\"c\":[{\"v\":2}]}");
    EXPECT_EQ(Json(*single, 32), u"{\"c\":{\"v\":2}}");
    EXPECT_EQ(Json(*NewBag()), u"{}");
}

TEST(VValueBagJSONText, ValuesMarkersAndCharacterData) {
    BagRef bag = NewBag();
    bag->SetString("s", VString(u"a\"b\\c\n\u00E9"));
    bag->SetBool("b", false);
    bag->SetReal("r", 0.25);
    bag->SetReal("inf", std::numeric_limits<double>::infinity());
    bag->SetVUUID("u", VUUID("00112233445566778899AABBCCDDEEFF"));
    bag->SetBool("____objectunic", true);
    bag->SetString("____property_name_in_jsarray", VString("p"));
    bag->AppendToCData(VString("text"));
    bag->SetString("nul", VString("abc"));
    VString nullText;
    nullText.SetNull(true);
    bag->SetAttribute(VString("nul"), nullText); // kept aside, with its null flag, until the next pack
    for (const char* scalar : {"1", "2"}) {
        BagRef item = NewBag();
        item->SetString("____FakeArrayElement", VString(scalar));
        bag->AddElement("list", item.Get());
    }
    bag->AddElement("list", NewBag().Get());
    EXPECT_EQ(Json(*bag), u"{\"s\":\"a\\\"b\\\\c\\n\u00E9\",\"b\":false,\"r\":0.25,\"inf\":null,"
                          u"\"u\":\"00112233445566778899AABBCCDDEEFF\",\"__CDATA\":\"text\",\"nul\":null,"
                          u"\"list\":[\"1\",\"2\",{}]}");

    BagRef scalar = NewBag();
    scalar->SetLong("____FakeArrayElement", 7);
    scalar->SetLong("ignored", 1);
    EXPECT_EQ(Json(*scalar), u"7");
}

TEST(VValueBagJSONText, PrettyForm) {
    BagRef one = NewBag();
    one->SetLong("a", 1);
    EXPECT_EQ(Json(*one, 8), u"\n{\n\t\"a\" : 1\n}");

    EXPECT_EQ(Json(*Sample(), 8), u"\n{"
                                  u"\n\t\"name\" : \"x\","
                                  u"\n\t\"item\" : "
                                  u"\n\t{"
                                  u"\n\t\t\"v\" : 1"
                                  u"\n\t},"
                                  u"\n\t\"row\" : "
                                  u"\n\t["
                                  u"\n\t\t{"
                                  u"\n\t\t},"
                                  u"\n\t\t{"
                                  u"\n\t\t\t\"k\" : -2"
                                  u"\n\t\t}"
                                  u"\n\t]"
                                  u"\n}");
}

TEST(VValueBagJSONText, DepthIsBounded) {
    VString out;
    EXPECT_EQ(Chain(kStoredDataMaxDepth, "c")->GetJSONString(out, 32), VE_OK);
    EXPECT_EQ(out.GetLength(), kStoredDataMaxDepth * 2 + (kStoredDataMaxDepth - 1) * 4); // {} and "c":

    test::RecordingRaiser raised;
    EXPECT_EQ(Chain(kStoredDataMaxDepth + 1, "c")->GetJSONString(out, 0), VE_INVALID_PARAMETER);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_INVALID_PARAMETER});
}

TEST(VValueBagJSONText, BuildJSONObjectReadsBackToTheSameTree) {
    BagRef bag = Sample();
    VError error = VE_UNKNOWN_ERROR;
    VRefPtr<VJSONObject> object = bag->BuildJSONObject(error);
    ASSERT_EQ(error, VE_OK);
    ASSERT_NE(object.Get(), nullptr);
    EXPECT_EQ(object->GetProperty("name").GetType(), JSON_string);

    // The importer's mapping gives the tree back: numbers come as 64-bit longs, the object child keeps its marker.
    BagRef expected = NewBag();
    expected->SetString("name", VString("x"));
    BagRef item = NewBag();
    item->SetBool("____objectunic", true);
    item->SetLong8("v", 1);
    expected->AddElement("item", item.Get());
    expected->AddElement("row", NewBag().Get());
    BagRef row = NewBag();
    row->SetLong8("k", -2);
    expected->AddElement("row", row.Get());
    BagRef read = NewBag();
    ASSERT_EQ(read->FromJSONValue(VJSONValue(object.Get())), VE_OK);
    EXPECT_TRUE(read->EqualTo(*expected));

    BagRef scalar = NewBag();
    scalar->SetLong("____FakeArrayElement", 7);
    EXPECT_EQ(scalar->BuildJSONObject(error).Get(), nullptr);
    EXPECT_EQ(error, VE_OK);
    EXPECT_EQ(Chain(kStoredDataMaxDepth + 1, "c")->BuildJSONObject(error).Get(), nullptr);
    EXPECT_EQ(error, VE_INVALID_PARAMETER);
}

// A blob attribute is written as the JSON model writes a blob (its binary wrapper), so that the text parses
// and gives the bytes back; an empty one too.
TEST(VValueBagJSONText, BlobAttributesGiveValidTextThatReadsBack) {
    const std::string bytes("a\0b\xff", 4);
    for (const std::string& content : {bytes, std::string()}) {
        BagRef bag = NewBag();
        bag->SetAttribute("data", VBlobWithPtr(content.data(), content.size()));
        VString text;
        ASSERT_EQ(bag->GetJSONString(text, 0), VE_OK);
        VJSONValue parsed;
        ASSERT_EQ(parsed.ParseFromString(text), VE_OK)
            << std::string(text.GetCPointer(), text.GetCPointer() + text.GetLength());
        const VJSONBlob* blob = VJSONBlob::CastJSONObject(parsed.GetProperty(VString("data")).GetObjectPtr());
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob->GetData()), blob->GetSize()), content);
    }
}

} // namespace
} // namespace vela
