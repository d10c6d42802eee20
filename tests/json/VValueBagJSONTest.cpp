#include "values/VValueBag.h"

#include "core/StStringConverter.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/RecordingRaiser.h"
#include "values/VBagArray.h"
#include "values/VCompareOptions.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"
#include "values/VTime.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vela {
namespace {

using test::BagRef;
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

// Graphs that lead back to an object on the way are refused where the cycle is met, before anything is added:
// an object holding itself twice (a walk bounded by depth alone would visit 2^256 bags), a cycle through an
// array item, and one two levels down behind a plain property.
TEST(VValueBagJSON, CyclesAreRefusedBeforeAnythingIsAdded) {
    struct Case {
        const char* what;
        std::vector<ObjectRef> objects; // objects[0] is the root; all are cleared to break the cycle
    };
    std::vector<Case> cases;
    {
        ObjectRef self = NewObject();
        self->SetProperty("a", VJSONValue(self.Get()));
        self->SetProperty("b", VJSONValue(self.Get()));
        cases.push_back({"itself twice", {self}});
    }
    {
        ObjectRef root = NewObject();
        VRefPtr<VJSONArray> list = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
        list->Push(VJSONValue(1.0));
        list->Push(VJSONValue(root.Get()));
        root->SetProperty("list", VJSONValue(list.Get()));
        cases.push_back({"through an array", {root}});
    }
    {
        ObjectRef root = NewObject();
        ObjectRef middle = NewObject();
        ObjectRef last = NewObject();
        root->SetProperty("x", VJSONValue(1.0));
        root->SetProperty("middle", VJSONValue(middle.Get()));
        middle->SetProperty("last", VJSONValue(last.Get()));
        last->SetProperty("root", VJSONValue(root.Get()));
        root->SetProperty("after", VJSONValue(2.0));
        cases.push_back({"two levels down", {root, middle, last}});
    }
    for (Case& c : cases) {
        BagRef bag = BagRef::Adopt(new VValueBag);
        bag->SetLong8("before", 1);
        {
            test::RecordingRaiser raised;
            EXPECT_EQ(bag->FromJSONValue(VJSONValue(c.objects[0].Get())), VE_JSON_CYCLE) << c.what;
            EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_JSON_CYCLE}) << c.what;
        }
        EXPECT_EQ(bag->GetAttributesCount(), 1) << c.what;
        EXPECT_EQ(bag->GetElementNamesCount(), 0) << c.what;
        for (ObjectRef& object : c.objects)
            object->Clear();
    }
}

// An object held in several places becomes a bag in each place, each its own copy. A chain of links each
// holding the next twice doubles the tree at every link: 40 links would make 2^40 bags, and are refused as
// memory exhaustion at once, as the cycle above, before anything is added.
TEST(VValueBagJSON, SharedObjectsAreCopiedUntilTheTreeWouldBeTooLarge) {
    auto chain = [](int links) {
        ObjectRef next = NewObject();
        next->SetProperty("v", VJSONValue(1.0));
        for (int i = 0; i < links; ++i) {
            ObjectRef link = NewObject();
            link->SetProperty("a", VJSONValue(next.Get()));
            VRefPtr<VJSONArray> list = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
            list->Push(VJSONValue(next.Get()));
            link->SetProperty("b", VJSONValue(list.Get()));
            next = link;
        }
        return next;
    };

    BagRef small = BagRef::Adopt(new VValueBag);
    ASSERT_EQ(small->FromJSONValue(VJSONValue(chain(3).Get())), VE_OK);
    VValueBag* first = small->GetUniqueElementByPath(VString("a/a/a"));
    VValueBag* second = small->GetUniqueElementByPath(VString("b/b/b"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    int64 number = 0;
    EXPECT_TRUE(second->GetLong8("v", number));
    EXPECT_EQ(number, 1);
    first->SetLong8("v", 2); // copies, not one bag seen twice
    EXPECT_TRUE(second->GetLong8("v", number));
    EXPECT_EQ(number, 1);

    BagRef large = BagRef::Adopt(new VValueBag);
    test::RecordingRaiser raised;
    EXPECT_EQ(large->FromJSONValue(VJSONValue(chain(40).Get())), VE_MEMORY_FULL);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_MEMORY_FULL});
    EXPECT_TRUE(large->IsEmpty());
}

// Nesting deeper than stored data may reach is refused before anything is added.
TEST(VValueBagJSON, NestingBeyondTheStoredDataBoundIsRefused) {
    for (int32 depth : {kStoredDataMaxDepth, kStoredDataMaxDepth + 1}) {
        ObjectRef root = NewObject();
        VJSONObject* last = root.Get();
        for (int32 i = 0; i < depth; ++i) {
            ObjectRef child = NewObject();
            last->SetProperty("c", VJSONValue(child.Get()));
            last = child.Get();
        }
        BagRef bag = BagRef::Adopt(new VValueBag);
        const bool fits = depth <= kStoredDataMaxDepth;
        EXPECT_EQ(bag->FromJSONValue(VJSONValue(root.Get())), fits ? VE_OK : VE_INVALID_PARAMETER) << depth;
        EXPECT_EQ(bag->IsEmpty(), !fits) << depth;
    }
}

TEST(VValueBagJSON, TextReadsToTheBagOfItsObject) {
    // The same tree as SampleObject, as text with blanks, an exponent and a trailing comma.
    const VString text("{ \"errCode\": 600, \"real\": 15E-1, \"flag\": true, \"p1\": \"path\",\n"
                       "  \"nested\": {\"a\": 1}, \"list\": [1, \"x\", {\"b\": 2}], \"__CDATA\": \"text\", }");
    BagRef expected = BagRef::Adopt(new VValueBag);
    ASSERT_EQ(expected->FromJSONValue(VJSONValue(SampleObject().Get())), VE_OK);
    for (uint32 options : {0u, 4096u}) {
        BagRef bag = BagRef::Adopt(new VValueBag);
        EXPECT_EQ(bag->FromJSONString(text, options), VE_OK);
        EXPECT_TRUE(bag->EqualTo(*expected)) << options;
    }
}

TEST(VValueBagJSON, TextFailureAnswersTheParserErrorAndKeepsWhatWasRead) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    bag->SetLong8("before", 1);
    EXPECT_EQ(bag->FromJSONString(VString("{\"a\": 2, \"b\": {\"c\": 3}, \"d\": }"), 0), VE_JSON_MALFORMED);
    int64 number = 0;
    EXPECT_TRUE(bag->GetLong8("before", number)); // added to, not replaced
    EXPECT_TRUE(bag->GetLong8("a", number));
    EXPECT_EQ(number, 2);
    ASSERT_NE(bag->GetUniqueElementByPath(VString("b")), nullptr);
    EXPECT_FALSE(bag->AttributeExists("d"));
    EXPECT_EQ(bag->FromJSONString(VString("[1]"), 0), VE_JSON_MALFORMED);
}

// Bags written as JSON text read back equal: markers, character data, reals the writer puts in exponent form, the
// largest integer, booleans, a null, a date, single and repeated children and scalar items.
TEST(VValueBagJSON, TextWrittenReadsBackToAnEqualBag) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    bag->SetString("name", VString("x \"quoted\"\n"));
    bag->SetReal("huge", 1e21);
    bag->SetReal("half", -0.5);
    bag->SetLong8("max", std::numeric_limits<int64>::max());
    bag->SetLong8("min", std::numeric_limits<int64>::min());
    bag->SetBool("yes", true);
    bag->SetBool("no", false);
    VString null;
    null.SetNull(true);
    bag->SetAttribute("nothing", null);
    VTime day;
    day.FromUTCTime(2024, 5, 6, 0, 0, 0, 0);
    bag->SetAttribute("day", day);
    bag->SetString(VValueBag::CDataAttributeName(), VString("character data"));
    BagRef item = BagRef::Adopt(new VValueBag);
    item->SetBool("____objectunic", true);
    item->SetLong8("v", 1);
    bag->AddElement("item", item.Get());
    for (int64 n : {1, 2}) {
        BagRef row = BagRef::Adopt(new VValueBag);
        row->SetLong8("n", n);
        row->AddElement("inner", item.Get());
        bag->AddElement("row", row.Get());
    }
    BagRef single = BagRef::Adopt(new VValueBag);
    single->SetString("only", VString("one"));
    bag->AddElement("single", single.Get()); // not marked: an array of one
    for (const char* word : {"1", "s"}) {
        BagRef scalar = BagRef::Adopt(new VValueBag);
        scalar->SetString("____FakeArrayElement", VString(word));
        bag->AddElement("list", scalar.Get());
    }

    for (uint32 options : {0u, 8u}) {
        VString text;
        ASSERT_EQ(bag->GetJSONString(text, options), VE_OK);
        BagRef back = BagRef::Adopt(new VValueBag);
        ASSERT_EQ(back->FromJSONString(text, 0), VE_OK);
        EXPECT_TRUE(back->EqualTo(*bag)) << to_string(text);
    }
}

} // namespace
} // namespace vela
