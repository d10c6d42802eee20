#include "json/VJSONObject.h"

#include "support/RecordingRaiser.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"

#include "JSONTestSupport.h"

#include <string>
#include <vector>

namespace vela {
namespace {

using test::TextOf;
using test::Units;

VRefPtr<VJSONObject> NewObject() {
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject);
}

TEST(VJSONObjectPath, ExtractPathSplitsNamesAndIndexes) {
    struct Case {
        const char* path;
        std::vector<std::u16string> parts;
    } cases[] = {
        {"a", {u"a"}},
        {"a.b[2].c", {u"a", u"b", u"2", u"c"}},
        {"list[0][1]", {u"list", u"0", u"1"}},
        {" a . b [ 3] ", {u"a", u"b", u"3"}},
        {"a[2 ]", {u"a", u"2 "}}, // the index text is kept as written before "]"
        {"x[y]", {u"x", u"y"}},
    };
    for (const Case& each : cases) {
        std::vector<VString> parts;
        EXPECT_EQ(VJSONObject::ExtractPath(each.path, parts), VE_OK) << each.path;
        std::vector<std::u16string> texts;
        for (const VString& part : parts)
            texts.push_back(Units(part));
        EXPECT_EQ(texts, each.parts) << each.path;
    }
}

TEST(VJSONObjectPath, ExtractPathRefusesMalformedPaths) {
    struct Case {
        const char* path;
        VError error;
        size_t partsKept; // the parts before the error plus the offending text
    } cases[] = {
        {"", VE_JSON_PATH_EMPTY_PART, 1},           {"a..b", VE_JSON_PATH_EMPTY_PART, 2},
        {"a.", VE_JSON_PATH_EMPTY_PART, 2},         {"x[1", VE_JSON_PATH_MISSING_BRACKET, 2},
        {"x[]", VE_JSON_PATH_EMPTY_PART, 2},        {"[1]", VE_JSON_PATH_EMPTY_PART, 1},
        {"x[1]y", VE_JSON_PATH_MISSING_BRACKET, 2}, {"x[1][", VE_JSON_PATH_EMPTY_PART, 3},
    };
    for (const Case& each : cases) {
        test::RecordingRaiser raiser;
        std::vector<VString> parts;
        EXPECT_EQ(VJSONObject::ExtractPath(each.path, parts), each.error) << each.path;
        EXPECT_EQ(parts.size(), each.partsKept) << each.path;
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{each.error}) << each.path;
    }
}

TEST(VJSONObjectPath, GetPropertyWithPathWalksObjectsAndArrays) {
    auto root = NewObject();
    ASSERT_TRUE(root->SetPropertyWithPath("items[2].name", VJSONValue(VString("third"))));
    EXPECT_EQ(root->GetPropertyWithPath("items.LENGTH").GetNumber(), 3.0);
    EXPECT_EQ(root->GetPropertyWithPath("items.length").GetNumber(), 3.0);
    EXPECT_EQ(TextOf(root->GetPropertyWithPath("items[2].name")), u"third");
    EXPECT_EQ(TextOf(root->GetPropertyWithPath("items.2.name")), u"third");
    EXPECT_TRUE(root->GetPropertyWithPath("items[0]").IsNull());
    EXPECT_TRUE(root->GetPropertyWithPath("items[3]").IsUndefined());
    EXPECT_TRUE(root->GetPropertyWithPath("items[-1]").IsUndefined());
    EXPECT_TRUE(root->GetPropertyWithPath("items[2].name.more").IsUndefined());
    EXPECT_TRUE(root->GetPropertyWithPath("a..b").IsUndefined());
}

TEST(VJSONObjectPath, SetPropertyWithPathMakesContainersOnTheWay) {
    auto root = NewObject();
    ASSERT_TRUE(root->SetPropertyWithPath("a.b[2]", VJSONValue(7.0)));
    VJSONValue a = root->GetProperty("a");
    ASSERT_TRUE(a.IsObject());
    VJSONValue b = a.GetObjectPtr()->GetProperty("b");
    ASSERT_TRUE(b.IsArray());
    ASSERT_EQ(b.GetArrayPtr()->GetCount(), 3u);
    EXPECT_TRUE(b.GetArrayPtr()->GetAt(0).IsNull());
    EXPECT_TRUE(b.GetArrayPtr()->GetAt(1).IsNull());
    EXPECT_EQ(b.GetArrayPtr()->GetAt(2).GetNumber(), 7.0);

    ASSERT_TRUE(root->SetPropertyWithPath("a.b[0].c", VJSONValue(1.0))); // null replaced by an object
    EXPECT_EQ(root->GetPropertyWithPath("a.b[0].c").GetNumber(), 1.0);
    ASSERT_TRUE(root->SetPropertyWithPath("list.0.1", VJSONValue(2.0))); // digits make arrays
    EXPECT_TRUE(root->GetPropertyWithPath("list").IsArray());
    EXPECT_TRUE(root->GetPropertyWithPath("list[0]").IsArray());
    EXPECT_EQ(root->GetPropertyWithPath("list[0][1]").GetNumber(), 2.0);
}

TEST(VJSONObjectPath, SetPropertyWithPathThroughAScalarFails) {
    auto root = NewObject();
    root->SetProperty("a", VJSONValue(5.0));
    {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(root->SetPropertyWithPath("a.b", VJSONValue(1.0)));
        auto raised = raiser.All();
        ASSERT_EQ(raised.size(), 1u);
        EXPECT_EQ(raised[0].code, VE_JSON_PATH_NAME_IN_SCALAR);
        ASSERT_EQ(raised[0].params.size(), 1u);
        EXPECT_EQ(raised[0].params[0].second, u"b");
    }
    {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(root->SetPropertyWithPath("a[0]", VJSONValue(1.0)));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_PATH_INDEX_IN_SCALAR});
    }
    EXPECT_EQ(root->GetProperty("a").GetNumber(), 5.0);
}

TEST(VJSONObjectPath, AnAbsurdIndexIsRefusedWithoutTryingToGrow) {
    auto root = NewObject();
    ASSERT_TRUE(root->SetPropertyWithPath("list[1]", VJSONValue(1.0)));
    for (const char* path : {"list[16777216]", "list[2147483647]", "list[16777216].x"}) {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(root->SetPropertyWithPath(path, VJSONValue(2.0))) << path;
        EXPECT_EQ(root->GetPropertyWithPath("list.length").GetNumber(), 2.0) << path;
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_MEMORY_FULL}) << path;
    }
    EXPECT_FALSE(root->SetPropertyWithPath("list[-1]", VJSONValue(2.0)));
    EXPECT_EQ(root->GetPropertyWithPath("list.length").GetNumber(), 2.0);
}

TEST(VJSONObjectPath, StampsThroughPaths) {
    auto root = NewObject();
    root->SetPropertyWithPath("o.x", VJSONValue(1.0));
    root->SetPropertyWithPath("l[1]", VJSONValue(1.0));
    uint32 x = root->GetPropertyStampWithPath("o.x");
    EXPECT_NE(x, 0u);
    root->TouchPropertyStampWithPath("o.x");
    EXPECT_GT(root->GetPropertyStampWithPath("o.x"), x);
    uint32 element = root->GetPropertyStampWithPath("l[1]");
    EXPECT_NE(element, 0u);
    root->TouchPropertyStampWithPath("l[1]");
    EXPECT_GT(root->GetPropertyStampWithPath("l[1]"), element);
    EXPECT_EQ(root->GetPropertyStampWithPath("l.length"), 2u);
    EXPECT_EQ(root->GetPropertyStampWithPath("l[9]"), 0u);
    EXPECT_EQ(root->GetPropertyStampWithPath("a..b"), 0u);
    EXPECT_EQ(root->GetPropertyStampWithPath("o"), root->GetPropertyStamp("o"));
}

TEST(VJSONObjectPath, IsValidNumber) {
    EXPECT_TRUE(VJSONObject::isvalidnumber(""));
    EXPECT_TRUE(VJSONObject::isvalidnumber("0123"));
    EXPECT_FALSE(VJSONObject::isvalidnumber("-1"));
    EXPECT_FALSE(VJSONObject::isvalidnumber("1a"));
}

} // namespace
} // namespace vela
