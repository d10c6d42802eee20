#include "json/VJSONAlter.h"

#include "support/RecordingRaiser.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

#include <vector>

namespace vela {
namespace {

using test::TextOf;

TEST(VJSONAlter, PathOnNullMakesTheObjectsOnTheWay) {
    VJSONValue target(JSON_null);
    VJSONAlter alter(target, "a.b", 3);
    EXPECT_TRUE(alter.IsDone());
    ASSERT_TRUE(target.IsObject());
    VJSONValue a = target.GetProperty("a");
    ASSERT_TRUE(a.IsObject());
    VJSONValue b = a.GetProperty("b");
    EXPECT_TRUE(b.IsNumber());
    EXPECT_EQ(b.GetNumber(), 3.0);
}

TEST(VJSONAlter, EachKindOfValueIsStored) {
    VJSONValue target(VString("a string becomes an object"));
    const UniChar wide[] = {u'w', u'\u00E9', 0};
    VJSONValue shared(JSON_object);
    VJSONAlter(target, "t", true);
    VJSONAlter(target, "f", false);
    VJSONAlter(target, "i", -7);
    VJSONAlter(target, "d", 2.5);
    VJSONAlter(target, "s", VString("text"));
    VJSONAlter(target, "c", "caf\xC3\xA9");
    VJSONAlter(target, "w", wide);
    VJSONAlter(target, "v", shared);
    ASSERT_TRUE(target.IsObject());
    EXPECT_EQ(target.GetProperty("t").GetType(), JSON_true);
    EXPECT_EQ(target.GetProperty("f").GetType(), JSON_false);
    EXPECT_EQ(target.GetProperty("i").GetNumber(), -7.0);
    EXPECT_EQ(target.GetProperty("d").GetNumber(), 2.5);
    EXPECT_EQ(TextOf(target.GetProperty("s")), u"text");
    EXPECT_EQ(TextOf(target.GetProperty("c")), u"caf\u00E9");
    EXPECT_EQ(TextOf(target.GetProperty("w")), u"w\u00E9");
    EXPECT_EQ(target.GetProperty("v").GetObjectPtr(), shared.GetObjectPtr()); // by reference
}

TEST(VJSONAlter, NewValuesOfAKind) {
    VJSONValue target;
    VJSONArray* created = nullptr;
    VJSONAlter(target, "list[1]", JSON_array, &created);
    VJSONValue list = target.GetProperty("list");
    ASSERT_TRUE(list.IsArray());
    ASSERT_EQ(list.GetArrayPtr()->GetCount(), 2u);
    EXPECT_TRUE(list.GetArrayPtr()->GetAt(0).IsNull());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(list.GetArrayPtr()->GetAt(1).GetArrayPtr(), created);

    VJSONArray* notAnArray = created;
    VJSONAlter(target, "object", JSON_object, &notAnArray);
    EXPECT_EQ(notAnArray, nullptr);
    EXPECT_TRUE(target.GetProperty("object").IsObject());
    VJSONAlter(target, "nothing", JSON_null);
    EXPECT_TRUE(target.GetProperty("nothing").IsNull());
}

TEST(VJSONAlter, FailedPathsReportAndLeaveNoArrayBehind) {
    test::RecordingRaiser raiser;
    VJSONValue target(JSON_object);
    target.SetProperty("n", VJSONValue(5.0));
    auto sentinel = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    VJSONArray* created = sentinel.Get();
    VJSONAlter malformed(target, "a..b", JSON_array, &created);
    EXPECT_FALSE(malformed.IsDone());
    EXPECT_EQ(created, nullptr);
    VJSONAlter throughScalar(target, "n.x", 1);
    EXPECT_FALSE(throughScalar.IsDone());
    EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_PATH_EMPTY_PART, VE_JSON_PATH_NAME_IN_SCALAR}));
    EXPECT_EQ(target.GetProperty("n").GetNumber(), 5.0);
}

TEST(VJSONAlter, RemovalTakesAPlainNameAndOnlyOnObjects) {
    VJSONValue target(JSON_object);
    VJSONAlter(target, "a.b", 1);
    VJSONAlter(target, "c", 2);
    VJSONAlter(target, VString("a.b")); // a name, not a path: there is no property "a.b"
    EXPECT_TRUE(target.GetProperty("a").GetProperty("b").IsNumber());
    VJSONAlter(target, VString("c"));
    EXPECT_TRUE(target.GetProperty("c").IsUndefined());

    VJSONValue number(4.0);
    VJSONAlter(number, VString("c"));
    EXPECT_TRUE(number.IsNumber());
}

TEST(VJSONAlter, TargetOnlyBecomesAnObject) {
    VJSONValue number(4.0);
    VJSONAlter{number};
    ASSERT_TRUE(number.IsObject());
    EXPECT_TRUE(number.GetObjectPtr()->IsEmpty());
    VJSONObject* object = number.GetObjectPtr();
    VJSONAlter{number};
    EXPECT_EQ(number.GetObjectPtr(), object); // an object stays itself
}

} // namespace
} // namespace vela
