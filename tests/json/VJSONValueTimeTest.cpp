#include "json/VJSONAlter.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "core/VString.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vela {
namespace {

VTime UTC(int16 y, int16 mo, int16 d, int16 h = 0, int16 mi = 0, int16 s = 0, int16 ms = 0) {
    VTime time;
    time.FromUTCTime(y, mo, d, h, mi, s, ms);
    return time;
}

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

TEST(VJSONValueTime, KeepsTheUTCDateOnly) {
    VJSONValue value(UTC(2024, 5, 17, 13, 45, 10, 250));
    ASSERT_TRUE(value.IsTime());
    int16 year, month, day;
    EXPECT_TRUE(value.GetDate(&year, &month, &day));
    EXPECT_EQ(year * 10000 + month * 100 + day, 20240517);
    VTime back;
    value.GetTime(back);
    EXPECT_EQ(back, UTC(2024, 5, 17));
    EXPECT_FALSE(back.IsNull());

    VTime null;
    null.SetNull(true);
    EXPECT_TRUE(VJSONValue(null).IsNull());
    value.SetTime(null);
    EXPECT_TRUE(value.IsNull());
    value.SetTime(UTC(1999, 12, 31, 23, 59));
    EXPECT_TRUE(value.IsTime());

    VJSONValue text(VString("2020-03-04 05:06:07"));
    text.GetTime(back);
    EXPECT_EQ(back, UTC(2020, 3, 4, 5, 6, 7)) << "a string is read by the time's FromString";
    VJSONValue(1.0).GetTime(back);
    EXPECT_TRUE(back.IsNull());
}

TEST(VJSONValueTime, CreatesValuesOfEachKind) {
    struct Case {
        VJSONValue json;
        uint16 kind;
        bool null;
    } cases[] = {
        {VJSONValue(JSON_true), VBoolean::kKind, false},   {VJSONValue(2.5), VReal::kKind, false},
        {VJSONValue(VString("x")), VString::kKind, false}, {VJSONValue(UTC(2024, 5, 17, 1)), VTime::kKind, false},
        {VJSONValue(JSON_null), VString::kKind, true},     {VJSONValue(JSON_undefined), VString::kKind, true},
        {VJSONValue(JSON_object), VString::kKind, true},   {VJSONValue(JSON_array), VString::kKind, true},
    };
    for (const Case& c : cases) {
        std::unique_ptr<VValue> value(c.json.CreateVValue(false));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->GetValueKind(), c.kind) << c.json.GetType();
        EXPECT_EQ(value->IsNull(), c.null) << c.json.GetType();
    }
    std::unique_ptr<VValue> time(VJSONValue(UTC(2024, 5, 17, 1)).CreateVValue(false));
    EXPECT_EQ(*static_cast<VTime*>(time.get()), UTC(2024, 5, 17));
    std::unique_ptr<VValue> marker(VJSONValue(JSON_array).CreateVValue(true));
    EXPECT_EQ(Units(*static_cast<VString*>(marker.get())), std::u16string(u"\x01\x02\x03\x02"));
    marker.reset(VJSONValue(JSON_object).CreateVValue(true));
    EXPECT_EQ(Units(*static_cast<VString*>(marker.get())), std::u16string(u"\x01\x02\x03\x01"));
}

TEST(VJSONValueTime, TextFormsGoThroughTheTime) {
    VJSONValue parsed;
    ASSERT_EQ(parsed.ParseFromString(VString("[\"!!2020-03-04T23:30:00-01:00!!\", \"2020-03-04\"]"), true), VE_OK);
    VJSONValue first = parsed.GetArrayPtr()->GetAt(0);
    ASSERT_TRUE(first.IsTime());
    int16 year, month, day;
    first.GetDate(&year, &month, &day);
    EXPECT_EQ(year * 10000 + month * 100 + day, 20200305) << "the UTC day of the instant";
    EXPECT_TRUE(parsed.GetArrayPtr()->GetAt(1).IsTime());

    VString text;
    VJSONValue(UTC(2020, 3, 4, 5)).GetString(text);
    EXPECT_EQ(Units(text), u"2020-03-04");

    VJSONValue target;
    VJSONAlter alter(target, VString("a.when"), UTC(2020, 3, 4, 5, 6, 7, 8));
    EXPECT_TRUE(alter.IsDone());
    VJSONValue stored = target.GetProperty(VString("a")).GetProperty(VString("when"));
    ASSERT_TRUE(stored.IsString()) << "the text, not a time";
    stored.GetString(text);
    EXPECT_EQ(Units(text), u"2020-03-04T05:06:07.008Z");
}

} // namespace
} // namespace vela
