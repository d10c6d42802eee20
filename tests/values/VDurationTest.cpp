#include "values/VDuration.h"

#include "core/VString.h"
#include "intl/VIntlMgr.h"
#include "values/StoredBytes.h"
#include "values/VScalar.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace vela {
namespace {

std::string Text(const VString& text) {
    std::string out;
    for (int32 i = 1; i <= text.GetLength(); ++i)
        out.push_back(char(text.GetUniChar(i)));
    return out;
}

TEST(VDuration, ReadsISOAndPlainTexts) {
    struct Case {
        const char* text;
        int64 ms;
    } cases[] = {
        {"P1DT2H3M4.5S", 93784500},
        {"P1Y", 31104000000},     // a year counts 360 days
        {"P1Y2M3D", 36547200000}, // and a month 30
        {"PT700H", 2520000000},   // beyond 32 bits
        {"PT0H0M0.00499999988824S", 5},
        {"PT1.9995S", 2000},
        {"PT-1.5S", -1500},
        {"P2D", 172800000},
        {"90", 90000},
        {"1:30", 90000},
        {"", 0},
    };
    for (const Case& c : cases) {
        VDuration duration;
        duration.SetNull(true);
        EXPECT_TRUE(duration.FromXMLString(VString(c.text))) << c.text;
        EXPECT_EQ(duration.ConvertToMilliseconds(), c.ms) << c.text;
        EXPECT_FALSE(duration.IsNull()) << c.text;
    }
}

TEST(VDuration, WritesXMLForms) {
    struct Case {
        int64 ms;
        uint32 options;
        const char* text;
    } cases[] = {
        {93784500, 1, "P1DT2H3M4.50000000000000S"}, {3723000, 1, "PT1H2M3S"}, {86400000, 1, "P1DT0H0M0S"},
        {5, 1, "PT0H0M0.00499999988824S"},          {93784500, 0, "93784"},
    };
    for (const Case& c : cases) {
        VString text;
        VDuration(c.ms).GetXMLString(text, c.options);
        EXPECT_EQ(Text(text), c.text) << c.ms;
    }
}

TEST(VDuration, EveryWrittenISOTextReadsBackExactly) {
    // Single-precision seconds lose a millisecond when read back by truncation; reading rounds.
    for (int64 ms = 0; ms < 61000; ++ms) {
        int64 count = (ms % 2) * 3 * VDuration::kMsPerDay + ms * 7 % 3600000;
        VString text;
        VDuration(count).GetXMLString(text, 1);
        VDuration back;
        back.FromXMLString(text);
        ASSERT_EQ(back.ConvertToMilliseconds(), count) << Text(text);
    }
}

TEST(VDuration, PartsAndFormattedText) {
    int32 d, h, m, s, ms;
    VDuration(-90061001).GetDuration(d, h, m, s, ms);
    EXPECT_EQ((std::array<int32, 5>{d, h, m, s, ms}), (std::array<int32, 5>{-1, -1, -1, -1, -1}));

    VDuration null;
    null.SetNull(true);
    null.GetDuration(d, h, m, s, ms);
    EXPECT_EQ((std::array<int32, 5>{d, h, m, s, ms}), (std::array<int32, 5>{-1, -1, -1, -1, -1}));

    VDuration positive(93784005);
    positive.GetDuration(d, h, m, s, ms);
    EXPECT_EQ((std::array<int32, 5>{d, h, m, s, ms}), (std::array<int32, 5>{1, 2, 3, 4, 5}));

    VString text("was ");
    VDuration(90061001).GetFormattedString(text);
    EXPECT_EQ(Text(text), "was 1:1:1:1:1");
    text.Clear();
    null.GetFormattedString(text);
    EXPECT_EQ(Text(text), "-1:-1:-1:-1:-1");
}

TEST(VDuration, SettersAndAdjustersAre64Bit) {
    VDuration duration(5 * VDuration::kMsPerHour + 7);
    duration.AdjustDay(25);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 25 * VDuration::kMsPerDay + 5 * VDuration::kMsPerHour + 7);
    duration.AdjustHour(1);
    duration.AdjustMillisecond(9);
    EXPECT_EQ(duration.GetHour(), 1);
    EXPECT_EQ(duration.GetMillisecond(), 9);
    EXPECT_EQ(duration.GetDay(), 25);

    duration.SetDuration(0, 700, 0, 0, 0);
    EXPECT_EQ(duration.ConvertToHours(), 700);
    duration.AddDuration(0, 30, 0, 0, 1);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 730 * VDuration::kMsPerHour + 1);
    duration.AddHours(std::numeric_limits<int32>::max());
    EXPECT_EQ(duration.ConvertToHours(), 730 + int64(std::numeric_limits<int32>::max()));

    duration.FromNbDays(std::numeric_limits<int64>::max());
    EXPECT_EQ(duration.ConvertToMilliseconds(), std::numeric_limits<int64>::max()) << "saturates";
}

TEST(VDuration, DivisionNeverTraps) {
    const VDuration zero(0);
    VDuration duration(12345);
    duration.Remainder(zero);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 12345);
    EXPECT_EQ(duration.Divide(zero), 0.0);
    duration.Divide(0.0);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 12345);
    duration.Remainder(VDuration(1000));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 345);

    VDuration smallest(std::numeric_limits<int64>::min());
    smallest.Remainder(VDuration(-1));
    EXPECT_EQ(smallest.ConvertToMilliseconds(), 0);

    VDuration negative(-7);
    negative.Remainder(VDuration(5));
    EXPECT_EQ(negative.ConvertToMilliseconds(), -2) << "sign of the dividend";

    struct Case {
        double factor;
        int64 ms;
    } cases[] = {
        {2.5, 2500},
        {-0.5, -500},
        {std::nan(""), 0},
        {1e300, std::numeric_limits<int64>::max()},
        {-1e300, std::numeric_limits<int64>::min()},
    };
    for (const Case& c : cases) {
        VDuration second(1000);
        second.Multiply(c.factor);
        EXPECT_EQ(second.ConvertToMilliseconds(), c.ms) << c.factor;
    }
    VDuration third(1000);
    third.Divide(3.0);
    EXPECT_EQ(third.ConvertToMilliseconds(), 333);
}

TEST(VDuration, NumbersAreSeconds) {
    VDuration duration;
    duration.SetNull(true);
    duration.FromLong(2);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 2000);
    EXPECT_FALSE(duration.IsNull());
    duration.FromReal(1.5);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500);
    EXPECT_EQ(duration.GetReal(), 1.5);
    EXPECT_EQ(duration.GetLong(), 1);
    EXPECT_EQ(duration.GetLong8OrMilliSeconds(), 1500);
    duration.FromBoolean(7);
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1000);
    duration.FromDecimalHour(1.5);
    EXPECT_EQ(duration.ConvertToMinutes(), 90);
    EXPECT_EQ(duration.GetDecimalHour(), 1.5);
}

TEST(VDuration, CopiesOfANullDurationAreNotNull) {
    VDuration null(42);
    null.SetNull(true);
    VDuration copy(null);
    EXPECT_FALSE(copy.IsNull());
    EXPECT_EQ(copy.ConvertToMilliseconds(), 42);
    std::unique_ptr<VValue> clone(null.Clone());
    EXPECT_FALSE(clone->IsNull());
}

TEST(VDuration, ColonAndSecondTexts) {
    struct Case {
        const char* text;
        int64 ms;
    } cases[] = {
        {"90", 90000}, {"1:2:3:4", 3723004}, {"1:2:3", 3723000}, {"2:3", 123000}, {" 1 : 30 ", 90000},
    };
    for (const Case& c : cases) {
        VDuration duration;
        duration.FromString(VString(c.text));
        EXPECT_EQ(duration.ConvertToMilliseconds(), c.ms) << c.text;
    }
    VString text;
    VDuration(-1500).GetString(text);
    EXPECT_EQ(Text(text), "-1500");
    VDuration null;
    null.SetNull(true);
    null.GetString(text);
    EXPECT_EQ(Text(text), "");
}

TEST(VDuration, JSONForms) {
    struct Case {
        uint32 options;
        const char* text;
    } cases[] = {{4, "1:02:03"}, {2, "3723000"}, {0, "3723"}};
    for (const Case& c : cases) {
        VJSONValue json;
        EXPECT_EQ(VDuration(3723000).GetJSONValue(json, c.options), VE_OK);
        VString text;
        json.GetString(text);
        EXPECT_EQ(Text(text), c.text) << c.options;
        EXPECT_EQ(json.IsString(), c.options == 4);
    }
    VDuration duration;
    duration.FromJSONValue(VJSONValue(1.5));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 1500);
    duration.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(duration.IsNull());
    VJSONValue json;
    duration.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());

    VString text;
    duration.GetJSONString(text);
    duration.FromJSONString(VString("250"));
    EXPECT_EQ(duration.ConvertToMilliseconds(), 250);
    EXPECT_FALSE(duration.IsNull());
}

TEST(VDuration, SystemFormatShowsTheTimeOfDayParts) {
    VString text("old");
    VIntlMgr::GetCurrent()->FormatDuration(VDuration(93784000), text, eOS_MEDIUM_FORMAT);
    EXPECT_NE(Text(text).find("2:03:04"), std::string::npos) << Text(text); // the day is dropped
    VIntlMgr::GetCurrent()->FormatDuration(VDuration(1000), text, EOSFormats(7));
    EXPECT_TRUE(text.IsEmpty());
}

TEST(VDuration, ConvertsWithOtherKinds) {
    VDuration rest;
    rest.FromRESTValue(VLong(5));
    EXPECT_EQ(rest.ConvertToMilliseconds(), 5);
    rest.FromRESTValue(VLong(0));
    EXPECT_EQ(rest.ConvertToMilliseconds(), 0);

    VDuration fromText;
    fromText.FromValue(VString("90"));
    EXPECT_EQ(fromText.ConvertToMilliseconds(), 90000);
    EXPECT_EQ(fromText.CompareTo(VString("1:30")), CR_EQUAL);
    EXPECT_EQ(fromText.CompareTo(VString("91")), CR_SMALLER);

    VString text;
    text.FromDuration(VDuration(1234));
    EXPECT_EQ(Text(text), "1234");
}

TEST(VDuration, StoredAndStreamForms) {
    std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(VDuration::kKind));
    ASSERT_NE(dynamic_cast<VDuration*>(made.get()), nullptr);

    int64 count = -0x0102030405060708;
    std::unique_ptr<VValue> loaded(VDuration::sInfo.LoadFromPtr(&count));
    EXPECT_EQ(static_cast<VDuration*>(loaded.get())->ConvertToMilliseconds(), count);
    EXPECT_FALSE(loaded->IsNull());

    std::string bytes =
        test::WrittenBytes([](VStream* s) { return VDuration(0x0102030405060708).WriteToStream(s); }, true);
    EXPECT_EQ(bytes, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
    VDuration back;
    EXPECT_EQ(test::ReadBytes(
                  bytes, [&](VStream* s) { return back.ReadFromStream(s); }, true),
              VE_OK);
    EXPECT_EQ(back.ConvertToMilliseconds(), 0x0102030405060708);

    VDuration smaller(1), bigger(2);
    EXPECT_EQ(smaller.CompareToSameKind(&bigger), CR_SMALLER);
    int64 stored = 1;
    EXPECT_TRUE(smaller.EqualToSameKindPtr(&stored));
    EXPECT_TRUE(smaller < bigger && bigger >= smaller && smaller != bigger);
}

TEST(VDuration, SecondsTextReader) {
    constexpr int64 kMax = std::numeric_limits<int64>::max();
    struct Case {
        const char* text;
        int64 ms;
        size_t consumed;
        int64 whole;
    } cases[] = {
        {"4.5", 4500, 3, 4},
        {" 7.0895x", 7090, 7, 7},
        {"59.9996", 60000, 7, 59},
        {"-0.0005", -1, 7, 0},
        {"1e2", 100000, 3, 100},
        {"1e", 1000, 1, 1},
        {".5", 500, 2, 0},
        {"x", 0, 0, 0},
        {"-", 0, 0, 0},
        {"99999999999999999999", kMax, 20, kMax / 1000},
    };
    for (const Case& c : cases) {
        size_t consumed = 99;
        int64 whole = 99;
        EXPECT_EQ(SecondsTextToMilliseconds(c.text, std::strlen(c.text), &consumed, &whole), c.ms) << c.text;
        EXPECT_EQ(consumed, c.consumed) << c.text;
        EXPECT_EQ(whole, c.whole) << c.text;
    }
}

} // namespace
} // namespace vela
