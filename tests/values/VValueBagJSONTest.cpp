#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VBagArray.h"
#include "values/VCompareOptions.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

using BagRef = VRefPtr<VValueBag>;
using ObjectRef = VRefPtr<VJSONObject>;

ObjectRef NewObject() {
    return ObjectRef::Adopt(new VJSONObject);
}

// {"errCode": 600, "real": 1.5, "flag": true, "p1": "path", "nested": {"a": 1}, "list": [1, "x", {"b": 2}],
//  "__CDATA": "text"}
ObjectRef SampleObject() {
    ObjectRef object = NewObject();
    object->SetProperty("errCode", VJSONValue(600.0));
    object->SetProperty("real", VJSONValue(1.5));
    object->SetProperty("flag", VJSONValue(JSON_true));
    object->SetProperty("p1", VJSONValue(VString("path")));
    ObjectRef nested = NewObject();
    nested->SetProperty("a", VJSONValue(1.0));
    object->SetProperty("nested", VJSONValue(nested.Get()));
    VRefPtr<VJSONArray> list = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    list->Push(VJSONValue(1.0));
    list->Push(VJSONValue(VString("x")));
    ObjectRef item = NewObject();
    item->SetProperty("b", VJSONValue(2.0));
    list->Push(VJSONValue(item.Get()));
    object->SetProperty("list", VJSONValue(list.Get()));
    object->SetProperty("__CDATA", VJSONValue(VString("text")));
    return object;
}

TEST(VValueBagJSON, ObjectsBecomeBagsAsTheImporterMapsThem) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    ObjectRef object = SampleObject();
    ASSERT_EQ(bag->FromJSONValue(VJSONValue(object.Get())), VE_OK);

    const auto& attributes = bag->GetAttributes();
    ASSERT_EQ(bag->GetAttributesCount(), 5);
    EXPECT_EQ(attributes.GetNthKind(0), VLong8::kKind); // integral number
    EXPECT_EQ(attributes.GetNthKind(1), VReal::kKind);
    EXPECT_EQ(attributes.GetNthKind(2), VBoolean::kKind);
    EXPECT_EQ(attributes.GetNthKind(3), VString::kKind);
    VString text;
    EXPECT_TRUE(bag->GetString(VValueBag::CDataAttributeName(), text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("text")));

    VValueBag* nested = bag->GetUniqueElementByPath(VString("nested"));
    ASSERT_NE(nested, nullptr);
    bool unique = false;
    EXPECT_TRUE(nested->GetBool("____objectunic", unique));
    EXPECT_TRUE(unique);
    const VBagArray* list = bag->GetElements("list");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->GetCount(), 3);
    EXPECT_TRUE(list->GetNth(1)->AttributeExists("____FakeArrayElement"));
    EXPECT_TRUE(list->GetNth(2)->GetString("____FakeArrayElement", text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("x")));
    EXPECT_FALSE(list->GetNth(3)->AttributeExists("____objectunic"));
}

TEST(VValueBagJSON, BagsWrittenAsJSONReadBackTheSame) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    ObjectRef object = SampleObject();
    ASSERT_EQ(bag->FromJSONValue(VJSONValue(object.Get())), VE_OK);
    VJSONValue json;
    ASSERT_EQ(bag->GetJSONValue(json), VE_OK);
    ASSERT_TRUE(json.IsObject());
    VCompareOptions options;
    options.SetDiacritical(true);
    EXPECT_TRUE(json.DeepEqualTo(VJSONValue(object.Get()), options));

    BagRef again = BagRef::Adopt(new VValueBag);
    ASSERT_EQ(again->FromJSONValue(json), VE_OK);
    EXPECT_TRUE(again->EqualTo(*bag));
}

TEST(VValueBagJSON, SingleChildrenAreArraysUnlessMarkedOrAsked) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    BagRef child = BagRef::Adopt(new VValueBag);
    child->SetLong("v", 1);
    bag->AddElement("item", child.Get());
    bag->SetBool("____objectunic", true); // never written
    VJSONValue json;
    ASSERT_EQ(bag->GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.GetProperty("item").IsArray());
    EXPECT_TRUE(json.GetProperty("____objectunic").IsUndefined());
    ASSERT_EQ(bag->GetJSONValue(json, 32), VE_OK);
    EXPECT_TRUE(json.GetProperty("item").IsObject());
    EXPECT_EQ(json.GetProperty("item").GetProperty("v").GetNumber(), 1.0);
}

TEST(VValueBagJSON, OnlyObjectsFillBags) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    EXPECT_NE(bag->FromJSONValue(VJSONValue(1.0)), VE_OK);
    EXPECT_TRUE(bag->IsEmpty());
    BagRef fake = BagRef::Adopt(new VValueBag);
    fake->SetLong("____FakeArrayElement", 3);
    VJSONValue json;
    fake->GetJSONValue(json);
    EXPECT_TRUE(json.IsUndefined());
}

TEST(VValueBagJSON, CyclicObjectsStopAtTheNestingBound) {
    ObjectRef object = NewObject();
    object->SetProperty("self", VJSONValue(object.Get()));
    BagRef bag = BagRef::Adopt(new VValueBag);
    EXPECT_EQ(bag->FromJSONValue(VJSONValue(object.Get())), VE_INVALID_PARAMETER);
    EXPECT_NE(bag->GetUniqueElementByPath(VString("self/self/self")), nullptr);
    object->RemoveProperty("self"); // break the cycle for the graph
}

} // namespace
} // namespace vela
