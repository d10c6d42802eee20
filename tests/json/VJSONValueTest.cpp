#include "json/VJSONValue.h"

#include "support/RecordingRaiser.h"
#include "values/VCompareOptions.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

#include "JSONTestSupport.h"

#include <cmath>
#include <limits>

namespace vela {
namespace {

using test::TextOf;
using test::Units;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

VJSONValue Date(int16 year, int16 month, int16 day) {
    VJSONValue value;
    value.SetDate(year, month, day);
    return value;
}

TEST(VJSONValue, ConstantsAreBuiltInOrderWithConsecutiveStamps) {
    EXPECT_EQ(VJSONValue::sUndefined.GetType(), JSON_undefined);
    EXPECT_EQ(VJSONValue::sNull.GetType(), JSON_null);
    EXPECT_EQ(VJSONValue::sTrue.GetType(), JSON_true);
    EXPECT_EQ(VJSONValue::sFalse.GetType(), JSON_false);
    EXPECT_EQ(VJSONValue::sLastType.GetType(), JSON_lastType);
    uint32 first = VJSONValue::sUndefined.GetStamp();
    EXPECT_EQ(VJSONValue::sNull.GetStamp(), first + 1);
    EXPECT_EQ(VJSONValue::sTrue.GetStamp(), first + 2);
    EXPECT_EQ(VJSONValue::sFalse.GetStamp(), first + 3);
    EXPECT_EQ(VJSONValue::sLastType.GetStamp(), first + 4);
    EXPECT_EQ(Units(VJSONValue::sObjectString), u"[object Object]");
}

TEST(VJSONValue, NullPointersAndNullStringsGiveNull) {
    VString nullText(true);
    EXPECT_EQ(VJSONValue(nullText).GetType(), JSON_null);
    EXPECT_EQ(VJSONValue(static_cast<VJSONObject*>(nullptr)).GetType(), JSON_null);
    EXPECT_EQ(VJSONValue(static_cast<VJSONArray*>(nullptr)).GetType(), JSON_null);
    VJSONValue value(3.0);
    value.SetString(nullText);
    EXPECT_TRUE(value.IsNull());
    value.SetObject(nullptr);
    EXPECT_TRUE(value.IsNull());
    // An empty, not null, text is a string.
    EXPECT_EQ(VJSONValue(VString()).GetType(), JSON_string);
}

TEST(VJSONValue, KindConstructorsMakeEmptyPayloads) {
    EXPECT_EQ(VJSONValue(JSON_number).GetNumber(), 0.0);
    EXPECT_EQ(TextOf(VJSONValue(JSON_string)), u"");
    VJSONValue object(JSON_object);
    ASSERT_NE(object.GetObjectPtr(), nullptr);
    EXPECT_TRUE(object.GetObjectPtr()->IsEmpty());
    VJSONValue array(JSON_array);
    ASSERT_NE(array.GetArrayPtr(), nullptr);
    EXPECT_EQ(array.GetArrayPtr()->GetCount(), 0u);
    int16 year = 1, month = 1, day = 1;
    EXPECT_TRUE(VJSONValue(JSON_time).GetDate(&year, &month, &day));
    EXPECT_EQ(year + month + day, 0);
}

TEST(VJSONValue, CopiesTakeNewStampsSettersAndMovesKeepThem) {
    VJSONValue original(1.0);
    VJSONValue copy(original);
    EXPECT_GT(copy.GetStamp(), original.GetStamp());
    uint32 stamp = copy.GetStamp();
    copy.SetNumber(2.0);
    copy.SetString(VString("x"));
    copy.SetNull();
    EXPECT_EQ(copy.GetStamp(), stamp);
    VJSONValue moved(std::move(copy));
    EXPECT_EQ(moved.GetStamp(), stamp);
    VJSONValue assigned;
    assigned = moved;
    EXPECT_GT(assigned.GetStamp(), stamp);
    VJSONValue target;
    target = std::move(moved);
    EXPECT_EQ(target.GetStamp(), stamp);
}

TEST(VJSONValue, SelfAssignmentKeepsTheValue) {
    VJSONValue value(VString("self"));
    VJSONValue& alias = value;
    value = alias;
    value = std::move(alias);
    EXPECT_EQ(TextOf(value), u"self");
}

TEST(VJSONValue, StringsShareTheTextBufferAndTakeNewTags) {
    VString text("shared text");
    VJSONValue value(text);
    EXPECT_EQ(text.GetSharedBufferRefCount(), 2);
    VJSONValue copy(value);
    EXPECT_EQ(text.GetSharedBufferRefCount(), 3);
    EXPECT_NE(copy.GetStringTag(), value.GetStringTag());

    // The same buffer changes nothing; another text keeps the tag of a string value.
    uint32 tag = value.GetStringTag();
    value.SetString(text);
    EXPECT_EQ(value.GetStringTag(), tag);
    EXPECT_EQ(text.GetSharedBufferRefCount(), 3);
    value.SetString(VString("other text"));
    EXPECT_EQ(value.GetStringTag(), tag);
    EXPECT_EQ(text.GetSharedBufferRefCount(), 2);
    EXPECT_EQ(TextOf(value), u"other text");

    // A kind change to string renews the tag.
    VJSONValue number(1.0);
    number.SetString(text);
    EXPECT_NE(number.GetStringTag(), 0u);
    EXPECT_NE(number.GetStringTag(), tag);
}

TEST(VJSONValue, GetBoolTable) {
    VJSONValue time = Date(2024, 5, 17);
    struct Case {
        VJSONValue value;
        bool expected;
    } cases[] = {
        {VJSONValue(JSON_null), false},   {VJSONValue(JSON_undefined), false},
        {VJSONValue(JSON_false), false},  {VJSONValue(JSON_true), true},
        {VJSONValue(VString("")), false}, {VJSONValue(VString("false")), true},
        {VJSONValue(0.0), false},         {VJSONValue(-0.0), false},
        {VJSONValue(kNaN), true},         {VJSONValue(0.5), true},
        {VJSONValue(JSON_object), true},  {VJSONValue(JSON_array), true},
        {VJSONValue(JSON_time), false},   {time, true},
    };
    for (const Case& each : cases)
        EXPECT_EQ(each.value.GetBool(), each.expected) << "kind " << each.value.GetType();
}

TEST(VJSONValue, GetBoolOfAStringDependsOnItsLengthNotItsBuffer) {
    VJSONValue value(VString("text"));
    value.Clear();
    EXPECT_TRUE(value.IsString());
    EXPECT_FALSE(value.GetBool());

    // A record may keep a buffer for an empty text.
    VInlineString record = VInlineString::RetainFromString(VString("abc"));
    record.fLength = 0;
    VJSONValue empty(record);
    EXPECT_FALSE(empty.GetBool());
    record.Release();
}

TEST(VJSONValue, GetNumberTable) {
    struct Case {
        VJSONValue value;
        double expected;
    } cases[] = {
        {VJSONValue(2.5), 2.5},
        {VJSONValue(JSON_true), 1.0},
        {VJSONValue(JSON_false), 0.0},
        {VJSONValue(JSON_null), 0.0},
        {VJSONValue(JSON_object), 0.0},
        {Date(2024, 1, 1), 0.0},
        {VJSONValue(VString("0x1F")), 31.0},
        {VJSONValue(VString("0X10")), 16.0},
        {VJSONValue(VString("12.5abc")), 12.5},
        {VJSONValue(VString("7")), 7.0},
        {VJSONValue(VString("abc")), 0.0},
    };
    for (const Case& each : cases)
        EXPECT_EQ(each.value.GetNumber(), each.expected) << test::TextOf(each.value).size();
}

TEST(VJSONValue, GetStringTable) {
    struct Case {
        VJSONValue value;
        std::u16string expected;
    } cases[] = {
        {VJSONValue(JSON_null), u""},
        {VJSONValue(JSON_undefined), u""},
        {VJSONValue(JSON_true), u"true"},
        {VJSONValue(JSON_false), u"false"},
        {VJSONValue(1.0), u"1"},
        {VJSONValue(-0.0), u"0"},
        {VJSONValue(-42.0), u"-42"},
        {VJSONValue(1.5), u"1.5"},
        {VJSONValue(0.1), u"0.1"},
        {VJSONValue(1.0 / 3.0), u"0.33333333333333"},
        {VJSONValue(1e20), u"1E+20"},
        {VJSONValue(9007199254740991.0), u"9007199254740991"},
        {VJSONValue(9007199254740992.0), u"9.007199254741E+15"},
        {VJSONValue(1.5e-7), u"1.5E-07"},
        {VJSONValue(kNaN), u"null"},
        {VJSONValue(-kInf), u"null"},
        {VJSONValue(JSON_object), u"[object Object]"},
        {Date(2024, 5, 17), u"2024-05-17"},
        {Date(2023, 2, 29), u"0000-00-00T00:00:00Z"},
        {VJSONValue(JSON_time), u"0000-00-00"}, // the zero date is a time of day 0, not a null time
    };
    for (const Case& each : cases)
        EXPECT_EQ(TextOf(each.value), each.expected);
}

TEST(VJSONValue, ArrayTextJoinsNestedElements) {
    VJSONValue inner(JSON_array);
    inner.GetArrayPtr()->Push(VJSONValue(VString("c")));
    inner.GetArrayPtr()->Push(VJSONValue(VString("d")));
    VJSONValue outer(JSON_array);
    outer.GetArrayPtr()->Push(VJSONValue(VString("a")));
    outer.GetArrayPtr()->Push(VJSONValue(VString("b")));
    outer.GetArrayPtr()->Push(VJSONValue(JSON_null));
    outer.GetArrayPtr()->Push(inner);
    EXPECT_EQ(TextOf(outer), u"a,b,,c,d");
}

TEST(VJSONValue, ArrayTextOfACycleFailsWith900) {
    test::RecordingRaiser raiser;
    VJSONValue array(JSON_array);
    array.GetArrayPtr()->Push(VJSONValue(1.0));
    array.GetArrayPtr()->Push(array);
    VString text;
    EXPECT_EQ(array.GetString(text), VE_JSON_CYCLE);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_CYCLE});
    array.GetArrayPtr()->Clear(); // breaks the cycle for the leak checker
}

TEST(VJSONValue, DateKeepsItsPackedFields) {
    VJSONValue value = Date(-3, 12, 31);
    int16 year = 0, month = 0, day = 0;
    EXPECT_TRUE(value.GetDate(&year, &month, &day));
    EXPECT_EQ(year, -3);
    EXPECT_EQ(month, 12);
    EXPECT_EQ(day, 31);
    EXPECT_FALSE(VJSONValue(1.0).GetDate(&year, &month, &day));
    EXPECT_EQ(year + month + day, 0);
}

TEST(VJSONValue, ClearTable) {
    struct Case {
        VJSONValue value;
        JSONType kind;
    } cases[] = {
        {VJSONValue(JSON_true), JSON_false},  {VJSONValue(JSON_false), JSON_false},
        {VJSONValue(JSON_null), JSON_null},   {VJSONValue(JSON_undefined), JSON_undefined},
        {VJSONValue(7.0), JSON_number},       {VJSONValue(VString("x")), JSON_string},
        {VJSONValue(JSON_object), JSON_null}, {VJSONValue(JSON_array), JSON_null},
        {Date(2020, 1, 2), JSON_time},
    };
    for (Case& each : cases) {
        each.value.Clear();
        EXPECT_EQ(each.value.GetType(), each.kind);
        EXPECT_FALSE(each.value.GetBool());
    }
}

TEST(VJSONValue, NumberToLongSaturatesAndMapsNaNToZero) {
    struct Case {
        double number;
        int32 expected;
    } cases[] = {
        {0.0, 0},
        {1.9, 1},
        {-1.9, -1},
        {2147483647.0, 2147483647},
        {2147483647.9, 2147483647},
        {3e10, 2147483647},
        {-2147483648.0, -2147483647 - 1},
        {-2147483648.9, -2147483647 - 1},
        {-1e300, -2147483647 - 1},
        {kInf, 2147483647},
        {-kInf, -2147483647 - 1},
        {kNaN, 0},
    };
    for (const Case& each : cases)
        EXPECT_EQ(JSONNumberToLong(each.number), each.expected) << each.number;
}

TEST(VJSONValue, PathShortcuts) {
    VJSONValue root(JSON_object);
    VJSONObject* object = root.GetObjectPtr();
    object->SetProperty("one", VJSONValue(1.0));
    object->SetProperty("yes", VJSONValue(JSON_true));
    object->SetProperty("huge", VJSONValue(3e10));
    object->SetProperty("nan", VJSONValue(kNaN));
    object->SetProperty("name", VJSONValue(VString("vela")));

    EXPECT_TRUE(VJSONValue::GetBoolByPath(root, "yes"));
    EXPECT_FALSE(VJSONValue::GetBoolByPath(root, "one")); // only exactly true
    EXPECT_FALSE(VJSONValue::GetBoolByPath(VJSONValue(JSON_true), "yes"));
    EXPECT_EQ(VJSONValue::GetLongByPath(root, "one"), 1);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, "huge"), 2147483647);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, "nan"), 0);
    EXPECT_EQ(VJSONValue::GetLongByPath(root, "name"), 0);
    VString out("unchanged");
    EXPECT_FALSE(VJSONValue::GetStringByPath(root, "one", out));
    EXPECT_EQ(Units(out), u"unchanged");
    EXPECT_TRUE(VJSONValue::GetStringByPath(root, "name", out));
    EXPECT_EQ(Units(out), u"vela");

    EXPECT_EQ(root.GetProperty("one").GetNumber(), 1.0);
    EXPECT_TRUE(VJSONValue(2.0).GetProperty("one").IsUndefined());
    VJSONValue(2.0).SetProperty("one", VJSONValue(5.0)); // nothing for a scalar
}

TEST(VJSONValue, CompareToOrdersKindsAndValues) {
    VCompareOptions options;
    VJSONValue object(JSON_object);
    VJSONValue other(JSON_object);
    EXPECT_EQ(VJSONValue(JSON_null).CompareTo(VJSONValue(JSON_undefined), options), CR_EQUAL);
    EXPECT_EQ(VJSONValue(JSON_null).CompareTo(VJSONValue(JSON_false), options), CR_SMALLER);
    EXPECT_EQ(VJSONValue(VString("z")).CompareTo(VJSONValue(1.0), options), CR_SMALLER);
    EXPECT_EQ(VJSONValue(JSON_true).CompareTo(VJSONValue(JSON_true), options), CR_EQUAL);
    EXPECT_EQ(VJSONValue(VString("a")).CompareTo(VJSONValue(VString("b")), options), CR_SMALLER);
    EXPECT_EQ(VJSONValue(VString("b")).CompareTo(VJSONValue(VString("a")), options), CR_BIGGER);
    EXPECT_EQ(object.CompareTo(object, options), CR_EQUAL);
    EXPECT_NE(object.CompareTo(other, options), CR_EQUAL);
    EXPECT_EQ(object.CompareTo(other, options), -other.CompareTo(object, options));
    EXPECT_EQ(Date(2020, 1, 1).CompareTo(Date(2021, 1, 1), options), CR_SMALLER);
    EXPECT_EQ(Date(-1, 1, 1).CompareTo(Date(1, 1, 1), options), CR_SMALLER); // signed years
    EXPECT_EQ(VJSONValue::sLastType.CompareTo(VJSONValue::sLastType, options), CR_UNRELEVANT);
}

TEST(VJSONValue, CompareToNumbersUsesTheTolerance) {
    VCompareOptions loose;
    VCompareOptions exact;
    exact.SetDiacritical(true);
    VJSONValue one(1.0);
    VJSONValue near(1.0000005);
    EXPECT_EQ(one.CompareTo(near, loose), CR_EQUAL);
    EXPECT_EQ(one.CompareTo(near, exact), CR_SMALLER);
    EXPECT_EQ(VJSONValue(kNaN).CompareTo(VJSONValue(-kInf), loose), CR_SMALLER);
    EXPECT_EQ(VJSONValue(1.0).CompareTo(VJSONValue(kNaN), loose), CR_BIGGER);
    EXPECT_EQ(VJSONValue(kNaN).CompareTo(VJSONValue(kNaN), loose), CR_EQUAL);
}

TEST(VJSONValue, DeepEqualToComparesContentsNotIdentity) {
    VCompareOptions options;
    EXPECT_FALSE(VJSONValue(JSON_null).DeepEqualTo(VJSONValue(JSON_undefined), options));
    auto build = [](bool swapOrder, double last) {
        VJSONValue root(JSON_object);
        VJSONValue list(JSON_array);
        list.GetArrayPtr()->Push(VJSONValue(1.0));
        list.GetArrayPtr()->Push(VJSONValue(last));
        if (swapOrder) {
            root.GetObjectPtr()->SetProperty("list", list);
            root.GetObjectPtr()->SetProperty("name", VJSONValue(VString("n")));
        } else {
            root.GetObjectPtr()->SetProperty("name", VJSONValue(VString("n")));
            root.GetObjectPtr()->SetProperty("list", list);
        }
        return root;
    };
    EXPECT_TRUE(build(false, 2.0).DeepEqualTo(build(true, 2.0), options));
    EXPECT_FALSE(build(false, 2.0).DeepEqualTo(build(false, 3.0), options));
}

TEST(VJSONValue, DeepEqualToEndsOnCycles) {
    VCompareOptions options;
    test::StLiveCounters counters;
    auto ring = [](int n, double payload) {
        VJSONValue first(JSON_object);
        VJSONValue current = first;
        for (int i = 1; i < n; ++i) {
            VJSONValue next(JSON_object);
            next.GetObjectPtr()->SetProperty("v", VJSONValue(payload));
            current.GetObjectPtr()->SetProperty("next", next);
            current = next;
        }
        current.GetObjectPtr()->SetProperty("next", first);
        return first;
    };
    {
        VJSONValue a = ring(3, 1.0);
        VJSONValue b = ring(3, 1.0);
        VJSONValue c = ring(3, 2.0);
        EXPECT_TRUE(a.DeepEqualTo(b, options));
        EXPECT_FALSE(a.DeepEqualTo(c, options));
        VJSONValue selfHolding(JSON_array);
        selfHolding.GetArrayPtr()->Push(selfHolding);
        VJSONValue otherSelfHolding(JSON_array);
        otherSelfHolding.GetArrayPtr()->Push(otherSelfHolding);
        EXPECT_TRUE(selfHolding.DeepEqualTo(otherSelfHolding, options));
    }
    EXPECT_EQ(test::StLiveCounters::LiveObjects(), 0);
    EXPECT_EQ(test::StLiveCounters::LiveArrays(), 0);
}

TEST(VJSONValue, RetainHandsAReferenceToTheCaller) {
    VJSONValue value(JSON_object);
    VJSONObject* object = value.RetainObject();
    EXPECT_EQ(object->GetRefCount(), 2);
    object->Release();
    EXPECT_EQ(VJSONValue(1.0).RetainObject(), nullptr);
    EXPECT_EQ(value.RetainArray(), nullptr);
}

} // namespace
} // namespace vela
