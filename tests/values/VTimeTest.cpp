#include "values/VTime.h"
#include "support/StTimeZone.h"

#include "core/VString.h"
#include "system/VSystem.h"
#include "values/StoredBytes.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace vela {
namespace {

using Parts = std::array<int16, 7>;

std::string Text(const VString& text) {
    std::string out;
    for (int32 i = 1; i <= text.GetLength(); ++i)
        out.push_back(char(text.GetUniChar(i)));
    return out;
}

VTime UTC(int16 y, int16 mo, int16 d, int16 h = 0, int16 mi = 0, int16 s = 0, int16 ms = 0) {
    VTime time;
    time.FromUTCTime(y, mo, d, h, mi, s, ms);
    return time;
}

Parts UTCParts(const VTime& time) {
    Parts p{};
    time.GetUTCTime(p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
    return p;
}

using test::StTimeZone;

TEST(VTimeCalendar, ValidatesComponents) {
    struct Case {
        Parts parts;
        bool valid;
    } cases[] = {
        {{2023, 2, 29, 0, 0, 0, 0}, false}, {{2024, 2, 29, 0, 0, 0, 0}, true},  {{2000, 2, 29, 0, 0, 0, 0}, true},
        {{1900, 2, 29, 0, 0, 0, 0}, false}, {{2021, 4, 31, 0, 0, 0, 0}, false}, {{2021, 13, 1, 0, 0, 0, 0}, false},
        {{2021, 1, 1, 24, 0, 0, 0}, false}, {{2021, 1, 1, 0, 0, -1, 0}, false}, {{2021, 1, 1, 0, 0, 0, 1000}, false},
        {{-1, 1, 1, 0, 0, 0, 0}, false},    {{0, 0, 0, 23, 59, 59, 999}, true}, {{2021, 0, 1, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        VTime time = UTC(c.parts[0], c.parts[1], c.parts[2], c.parts[3], c.parts[4], c.parts[5], c.parts[6]);
        EXPECT_EQ(!time.IsNull(), c.valid) << c.parts[0] << "-" << c.parts[1] << "-" << c.parts[2];
        EXPECT_EQ(UTCParts(time), c.valid ? c.parts : Parts{}) << "an invalid time keeps no field";
    }
    VTime timeOfDay = UTC(0, 0, 0, 10, 30);
    EXPECT_TRUE(timeOfDay.IsZeroDate());
    EXPECT_FALSE(timeOfDay.IsNull());
    EXPECT_EQ(timeOfDay.GetStamp(), 37800000u);
    EXPECT_EQ(timeOfDay.GetMilliseconds(), 0);
    timeOfDay.NullIfZero();
    EXPECT_TRUE(timeOfDay.IsNull());
}

TEST(VTimeCalendar, JulianDaysAndWeekDays) {
    VTime millennium = UTC(2000, 1, 1);
    EXPECT_EQ(millennium.GetJulianDay(), 2451544);
    EXPECT_EQ(millennium.GetWeekDay(), 6);
    EXPECT_EQ(UTC(2020, 3, 4).GetWeekDay(), 3);
    EXPECT_EQ(UTC(2024, 12, 31).GetYearDay(), 366);
    EXPECT_EQ(VTime::ComputeYearDay(2023, 3, 1), 60);
    VTime null;
    null.SetNull(true);
    EXPECT_EQ(null.GetWeekDay(), -1);
    EXPECT_EQ(null.GetYearDay(), -1);

    // Day numbers and dates agree on every day of several centuries, leap days included.
    VTime day;
    for (int64 jd = VTime::ComputeJulianDay(1582, 10, 15); jd < VTime::ComputeJulianDay(2401, 1, 1); ++jd) {
        day.FromJulianDay(jd);
        ASSERT_TRUE(VTime::CheckDate(int16(day.GetStamp() >> 48), int16(day.GetStamp() >> 40 & 0xFF),
                                     int16(day.GetStamp() >> 32 & 0xFF)))
            << jd;
        ASSERT_EQ(day.GetJulianDay(), jd);
    }
}

TEST(VTimeCalendar, JulianCalendarDates) {
    // The day after Julian 4 October 1582 is Gregorian 15 October 1582.
    VTime time;
    time.FromJulianDate(1582, 10, 5);
    EXPECT_EQ(UTCParts(time), (Parts{1582, 10, 15, 0, 0, 0, 0}));
    int16 y, m, d;
    time.GetJulianDate(y, m, d);
    EXPECT_EQ((Parts{y, m, d}), (Parts{1582, 10, 5}));
    UTC(2024, 3, 14).GetJulianDate(y, m, d);
    EXPECT_EQ((Parts{y, m, d}), (Parts{2024, 3, 1}));
    time.FromJulianDate(1900, 2, 29); // a leap day of the Julian calendar only
    EXPECT_EQ(UTCParts(time), (Parts{1900, 3, 13, 0, 0, 0, 0}));
    time.FromJulianDate(1901, 2, 29);
    EXPECT_TRUE(time.IsNull());
}

TEST(VTimeArithmetic, MillisecondCounts) {
    VTime time;
    time.FromMilliseconds(-1);
    EXPECT_TRUE(time.IsNull());
    time.FromMilliseconds(0);
    EXPECT_FALSE(time.IsNull());
    EXPECT_EQ(time.GetStamp(), 0u);

    VTime sample = UTC(2020, 3, 4, 5, 6, 7, 89);
    for (int64 count :
         {sample.GetMilliseconds(), int64(1), int64(-2), int64(-1000), -VTime::kMsPerDay - 1, int64(-123456789012)}) {
        time.FromMilliseconds(count);
        // Days round down, so the time of day stays within the day even before day 0.
        EXPECT_LT(uint32(time.GetStamp()), uint32(VTime::kMsPerDay)) << count;
        EXPECT_EQ(time.GetMilliseconds(), count);
    }

    // Subtracting from the zero date counts from 0.
    VTime zero;
    zero.Substract(VDuration(1000));
    EXPECT_EQ(uint32(zero.GetStamp()), uint32(VTime::kMsPerDay - 1000));

    VDuration between;
    UTC(2020, 3, 1).Substract(UTC(2020, 2, 28, 12), between);
    EXPECT_EQ(between.ConvertToHours(), 36);

    // A null time counts -1 ms: adding n gives n - 1 ms after day 0.
    VTime null;
    null.SetNull(true);
    null.AddMilliseconds(5);
    EXPECT_FALSE(null.IsNull());
    EXPECT_EQ(null.GetMilliseconds(), 4);
}

TEST(VTimeArithmetic, CalendarSteps) {
    struct Case {
        void (*step)(VTime&);
        Parts expected;
    } cases[] = {
        {[](VTime& t) { t.AddMonths(-1); }, {2019, 12, 15, 0, 0, 0, 0}},
        {[](VTime& t) { t.AddMonths(13); }, {2021, 2, 15, 0, 0, 0, 0}},
        {[](VTime& t) { t.AddMonths(-25); }, {2017, 12, 15, 0, 0, 0, 0}},
        {[](VTime& t) { t.AddYears(-20); }, {2000, 1, 15, 0, 0, 0, 0}},
        {[](VTime& t) { t.AddDays(45); }, {2020, 2, 29, 0, 0, 0, 0}},
        {[](VTime& t) { t.AddHours(-1); }, {2020, 1, 14, 23, 0, 0, 0}},
        {[](VTime& t) { t.AddSeconds(86399); }, {2020, 1, 15, 23, 59, 59, 0}},
        {[](VTime& t) { t.Add(VDuration(-1)); }, {2020, 1, 14, 23, 59, 59, 999}},
    };
    for (const Case& c : cases) {
        VTime time = UTC(2020, 1, 15);
        c.step(time);
        EXPECT_EQ(UTCParts(time), c.expected);
    }
    VTime endOfMonth = UTC(2021, 1, 31);
    endOfMonth.AddMonths(1);
    EXPECT_EQ(endOfMonth.GetStamp() >> 32 & 0xFF, 31u) << "the day is not clamped";
}

TEST(VTimeText, WritesRfc3339InUTC) {
    VTime time = UTC(2020, 3, 4, 5, 6, 7, 89);
    struct Case {
        uint32 options;
        const char* text;
    } cases[] = {
        {1, "2020-03-04T05:06:07.089Z"},
        {33, "2020-03-04T05:06:07Z"},
        {9, "2020-03-04"},
        {5, "05:06:07Z"},
        {13, "05:06:07Z"},
        {17, "0000-00-00T05:06:07.089Z"},
    };
    for (const Case& c : cases) {
        VString text;
        time.GetRfc3339String(text, c.options);
        EXPECT_EQ(Text(text), c.text) << c.options;
    }
    VTime null;
    null.SetNull(true);
    VString text;
    null.GetRfc3339String(text, 2);
    EXPECT_EQ(Text(text), "0000-00-00T00:00:00Z");
    UTC(2023, 2, 29).GetRfc3339String(text, 9); // invalid date: null
    EXPECT_EQ(Text(text), "0000-00-00T00:00:00Z");
}

TEST(VTimeText, ZoneFormsUseTheOffsetOfTheInstant) {
    struct Case {
        const char* zone;
        VTime time;
        uint32 options;
        const char* text;
    } cases[] = {
        {"Europe/Paris", UTC(2020, 3, 4, 5, 6, 7, 89), 0, "2020-03-04T06:06:07+01:00"},
        {"Europe/Paris", UTC(2020, 7, 4, 5, 6, 7, 89), 0, "2020-07-04T07:06:07+02:00"},
        {"Europe/Paris", UTC(2020, 7, 4, 5, 6, 7, 89), 2, "2020-07-04T07:06:07.089"},
        {"Europe/Paris", UTC(2020, 7, 4, 23, 6, 7), 8, "2020-07-05+02:00"},
        {"Europe/Paris", UTC(2020, 7, 4, 23, 6, 7), 6, "01:06:07"},
        {"America/New_York", UTC(2020, 1, 4, 5, 6, 7), 0, "2020-01-04T00:06:07-05:00"},
        {"America/New_York", UTC(2020, 7, 4, 5, 6, 7), 34, "2020-07-04T01:06:07"},
        {"America/New_York", UTC(2020, 7, 4, 5, 6, 7), 4, "01:06:07-04:00"},
        {"Asia/Kolkata", UTC(2020, 7, 4, 5, 6, 7), 0, "2020-07-04T10:36:07+05:30"},
        {"UTC", UTC(2020, 7, 4, 5, 6, 7), 0, "2020-07-04T05:06:07+00:00"},
    };
    for (const Case& c : cases) {
        StTimeZone zone(c.zone);
        VString text;
        c.time.GetRfc3339String(text, c.options);
        EXPECT_EQ(Text(text), c.text) << c.zone << " " << c.options;
        VTime back;
        if (c.options == 0) {
            EXPECT_TRUE(back.FromRfc3339String(text));
            EXPECT_EQ(back.GetMilliseconds() / 1000, c.time.GetMilliseconds() / 1000) << c.text;
        }
    }
}

TEST(VTimeText, ReadsRfc3339) {
    struct Case {
        const char* text;
        bool answer;
        std::optional<Parts> parts; // none: null
    } cases[] = {
        {"2020-03-04T05:06:07.089Z", true, Parts{2020, 3, 4, 5, 6, 7, 89}},
        {"2020-03-04T05:06:01.001Z", true, Parts{2020, 3, 4, 5, 6, 1, 1}},
        {"2020-03-04T05:06:07.0895Z", true, Parts{2020, 3, 4, 5, 6, 7, 90}},
        {"2020-03-04T05:06:59.9996Z", true, Parts{2020, 3, 4, 5, 7, 0, 0}},
        {"2020-03-04T05:06:07Z", true, Parts{2020, 3, 4, 5, 6, 7, 0}},
        {"2020-03-04T 5: 6: 7Z", true, Parts{2020, 3, 4, 5, 6, 7, 0}},
        {"2020-03-04", true, Parts{2020, 3, 4, 0, 0, 0, 0}},
        {"2020-03-04T05:06:07+01:00", true, Parts{2020, 3, 4, 4, 6, 7, 0}},
        {"2020-07-04T05:06:07.5-04:30", true, Parts{2020, 7, 4, 9, 36, 7, 500}},
        {"2020-12-31T23:30:00-01:00", true, Parts{2021, 1, 1, 0, 30, 0, 0}},
        {"0000-00-00T10:30:00Z", true, Parts{0, 0, 0, 10, 30, 0, 0}},
        {"10:30", true, Parts{0, 0, 0, 10, 30, 0, 0}},
        {"10:30:15.25", true, Parts{0, 0, 0, 10, 30, 15, 250}},
        {"3723", true, Parts{0, 0, 0, 1, 2, 0, 0}},
        // Kept as they are read: an invalid time is null, yet the text was understood.
        {"2020-03-04T05:06:60Z", true, std::nullopt},
        {"2020-03-04T05:06:60.5Z", true, std::nullopt},
        {"2023-02-29T01:00:00Z", true, std::nullopt},
        {"0000-00-00T00:00:00Z", true, std::nullopt},
        {"2020-03-04T24:00:00+01:00", true, std::nullopt},
        // Unreadable.
        {"", false, std::nullopt},
        {"abc", false, std::nullopt},
        {"2020-03-04T05:06", false, std::nullopt},
        {"2020-03-04+01:00", false, std::nullopt},
        {"2020-03-04T05:06:07+01", false, std::nullopt},
        {"25:00", false, std::nullopt},
        {"90061", false, std::nullopt},
    };
    for (const Case& c : cases) {
        VTime time = UTC(1999, 1, 1);
        EXPECT_EQ(time.FromRfc3339String(VString(c.text)), c.answer) << c.text;
        EXPECT_EQ(time.IsNull(), !c.parts.has_value()) << c.text;
        if (c.parts) {
            EXPECT_EQ(UTCParts(time), *c.parts) << c.text;
        }
    }
}

TEST(VTimeText, LocalFormsFollowTheZoneRuleOfTheDate) {
    StTimeZone zone("Europe/Paris");
    struct Case {
        const char* text;
        Parts utc;
    } cases[] = {
        {"2020-07-04T07:06:07", {2020, 7, 4, 5, 6, 7, 0}},
        {"2020-01-04T07:06:07.250", {2020, 1, 4, 6, 6, 7, 250}},
        {"2020-01-04T07:06:07.250 Z", {2020, 1, 4, 7, 6, 7, 250}},
    };
    for (const Case& c : cases) {
        VTime time;
        EXPECT_TRUE(time.FromRfc3339String(VString(c.text)));
        EXPECT_EQ(UTCParts(time), c.utc) << c.text;
    }
}

TEST(VTimeText, WrittenFormsReadBackEqual) {
    StTimeZone zone("America/New_York");
    VTime time = UTC(1970, 1, 1);
    for (int i = 0; i < 3000; ++i) {
        // Steps of a little more than 13 days and 1,001 ms sweep dates, times and milliseconds.
        time.AddMilliseconds(13 * VTime::kMsPerDay + 3600000 * 5 + 1001 * (i % 997));
        for (uint32 options : {1u, 2u, 0u}) {
            VString text;
            time.GetRfc3339String(text, options);
            VTime back;
            ASSERT_TRUE(back.FromRfc3339String(text)) << Text(text);
            int64 expected = options == 0 ? time.GetMilliseconds() / 1000 * 1000 : time.GetMilliseconds();
            // A local time in the hour repeated when clocks go back names two instants: the reader takes one.
            if (options == 2 && back.GetMilliseconds() != expected) {
                EXPECT_EQ(std::abs(back.GetMilliseconds() - expected), 3600000) << Text(text);
                continue;
            }
            ASSERT_EQ(back.GetMilliseconds(), expected) << Text(text) << " " << options;
        }
    }
}

TEST(VTimeText, JSONAndXMLForms) {
    VTime time = UTC(2020, 3, 4, 5, 6, 1, 1);
    struct Case {
        uint32 options;
        const char* text;
    } cases[] = {
        {0, "2020-03-04T05:06:01.001Z"},        {1, "\"2020-03-04T05:06:01.001Z\""},
        {4096, "!!2020-03-04T05:06:01.001Z!!"}, {4097, "\"!!2020-03-04T05:06:01.001Z!!\""},
        {512, "2020-03-04T05:06:01.001Z"},
    };
    for (const Case& c : cases) {
        VString text;
        EXPECT_EQ(time.GetJSONString(text, c.options), VE_OK);
        EXPECT_EQ(Text(text), c.text) << c.options;
        if ((c.options & 1) != 0) continue;
        VTime back;
        EXPECT_EQ(back.FromJSONString(text), VE_OK);
        EXPECT_EQ(back, time) << c.text;
    }
    VString text;
    UTC(2020, 3, 4).GetJSONString(text, 513);
    EXPECT_EQ(Text(text), "\"2020-03-04\"");

    struct Read {
        const char* text;
        bool answer;
        bool null;
    } reads[] = {
        {"!!2020-03-04!!", true, false}, {"!!x", false, true},          {"!!!", false, true},
        {"!!!!", false, true},           {"!!2020-03-04", false, true}, {"4!7!2021", true, false},
    };
    for (const Read& r : reads) {
        VTime read;
        EXPECT_EQ(read.FromXMLString(VString(r.text)), r.answer) << r.text;
        EXPECT_EQ(read.IsNull(), r.null) << r.text;
    }
}

TEST(VTimeText, JSONValues) {
    VTime time = UTC(2024, 5, 17, 13, 45, 10, 250);
    VJSONValue json;
    time.GetJSONValue(json, 1);
    ASSERT_TRUE(json.IsTime());
    int16 y, m, d;
    EXPECT_TRUE(json.GetDate(&y, &m, &d));
    EXPECT_EQ((Parts{y, m, d}), (Parts{2024, 5, 17}));
    time.GetJSONValue(json, 0);
    ASSERT_TRUE(json.IsString());
    VTime back;
    back.FromJSONValue(json);
    EXPECT_EQ(back, time);
    back.FromJSONValue(VJSONValue(JSON_null));
    EXPECT_TRUE(back.IsNull());
    back.GetJSONValue(json);
    EXPECT_TRUE(json.IsNull());
}

TEST(VTimeText, PlainAndShortForms) {
    struct Case {
        const char* text;
        std::optional<Parts> parts;
    } cases[] = {
        {"2020-03-04 05:06:07:089", Parts{2020, 3, 4, 5, 6, 7, 89}},
        {"  2020/3/4", Parts{2020, 3, 4, 0, 0, 0, 0}},
        {"4!7!2021", Parts{2021, 7, 4, 0, 0, 0, 0}},
        {"31!2!2021", std::nullopt},
        {"0!0!0", Parts{}},
        {"2021-07!04", std::nullopt}, // a later "!" ends the reading and drops the pending month
        {"2021-07-04 99999999:00", std::nullopt},
    };
    for (const Case& c : cases) {
        VTime time;
        time.FromString(VString(c.text));
        EXPECT_EQ(time.IsNull(), !c.parts.has_value()) << c.text;
        if (c.parts) {
            EXPECT_EQ(UTCParts(time), *c.parts) << c.text;
        }
    }
    VString text;
    UTC(2021, 7, 4, 10).toSimpleDateString(text);
    EXPECT_EQ(Text(text), "4!7!2021");
    VTime null;
    null.SetNull(true);
    null.toSimpleDateString(text);
    EXPECT_TRUE(text.IsNull());

    StTimeZone zone("Asia/Tokyo");
    UTC(2021, 7, 4, 20, 1, 2, 3).GetStringLocalTime(text);
    EXPECT_EQ(Text(text), "2021-07-05 05:01:02:003");
}

TEST(VTimeText, Rfc822) {
    VString text;
    UTC(2020, 3, 4, 5, 6, 7).GetRfc822String(text);
    EXPECT_EQ(Text(text), "Wed, 04 Mar 2020 05:06:07 GMT");
    VTime null;
    null.SetNull(true);
    null.GetRfc822String(text);
    EXPECT_EQ(Text(text), ", 00  0000 00:00:00 GMT");

    struct Case {
        const char* text;
        std::optional<Parts> parts;
    } cases[] = {
        {"Wed, 04 Mar 2020 05:06:07 GMT", Parts{2020, 3, 4, 5, 6, 7, 0}},
        {"4 mar 2020 05:06:07 +0100", Parts{2020, 3, 4, 5, 6, 7, 0}},
        {"Sun, 29 Feb 2004", Parts{2004, 2, 29, 0, 0, 0, 0}},
        {"04 March 2020", std::nullopt},
    };
    for (const Case& c : cases) {
        VTime time;
        time.FromRfc822String(VString(c.text));
        EXPECT_EQ(time.IsNull(), !c.parts.has_value()) << c.text;
        if (c.parts) {
            EXPECT_EQ(UTCParts(time), *c.parts) << c.text;
        }
    }
}

TEST(VTimeText, CompilerDateAndTime) {
    StTimeZone zone("Europe/Paris");
    VTime time;
    time.FromCompilerDateTime("Feb 12 2024", "13:45:10");
    EXPECT_EQ(UTCParts(time), (Parts{2024, 2, 12, 12, 45, 10, 0}));
    time.FromCompilerDateTime("jul  4 2024", "00:00:01");
    EXPECT_EQ(UTCParts(time), (Parts{2024, 7, 3, 22, 0, 1, 0}));
    time.FromCompilerDateTime("Feb 12 2024", nullptr);
    EXPECT_EQ(UTCParts(time), (Parts{2024, 2, 11, 23, 0, 0, 0}));
}

TEST(VTimeText, SystemFormatsInUTCOrLocalTime) {
    StTimeZone zone("Asia/Tokyo");
    VTime time = UTC(2021, 7, 4, 20, 1, 2);
    VString utcDate, utcTime, localDate, localTime, whole;
    time.FormatByOS(utcDate, utcTime, true);
    time.FormatByOS(localDate, localTime, false);
    EXPECT_FALSE(utcDate.IsEmpty());
    EXPECT_NE(Text(utcDate), Text(localDate)) << "Tokyo is on the next day";
    EXPECT_NE(Text(utcTime), Text(localTime));
    time.GetString(whole);
    EXPECT_EQ(Text(whole), Text(utcDate) + " " + Text(utcTime));
    VTime null;
    null.SetNull(true);
    null.GetString(whole);
    EXPECT_TRUE(whole.IsEmpty());
}

TEST(VTimeLocal, AccessorsAndSetters) {
    StTimeZone zone("Europe/Paris");
    VTime summer = UTC(2020, 7, 31, 21, 30);
    EXPECT_EQ(summer.GetLocalDay(), 31);
    EXPECT_EQ(summer.GetLocalHour(), 23);
    EXPECT_EQ(summer.GetLocalDurationSinceMidnight().ConvertToMinutes(), 23 * 60 + 30);

    struct Case {
        void (*set)(VTime&);
        Parts utc;
    } cases[] = {
        {[](VTime& t) { t.SetLocalHour(25); }, {2020, 7, 31, 23, 30, 0, 0}},
        {[](VTime& t) { t.SetLocalDay(32); }, {2020, 8, 1, 21, 30, 0, 0}},
        {[](VTime& t) { t.SetLocalMonth(1); }, {2020, 1, 31, 22, 30, 0, 0}},
        {[](VTime& t) { t.SetLocalYear(2021); }, {2021, 7, 31, 21, 30, 0, 0}},
        {[](VTime& t) { t.SetLocalMinute(-30); }, {2020, 7, 31, 20, 30, 0, 0}},
        {[](VTime& t) { t.SetLocalMillisecond(1500); }, {2020, 7, 31, 21, 30, 1, 500}},
    };
    for (const Case& c : cases) {
        VTime time = summer;
        c.set(time);
        EXPECT_EQ(UTCParts(time), c.utc);
    }
    VTime winter;
    winter.FromLocalTime(2020, 1, 4, 7, 0, 0, 5);
    EXPECT_EQ(UTCParts(winter), (Parts{2020, 1, 4, 6, 0, 0, 5}));
    EXPECT_EQ(UTC(1970, 1, 1, 1).GetLocalUnixTime(false), 3600);
    EXPECT_EQ(UTC(1970, 1, 1, 1, 0, 0, 7).GetLocalUnixTime(true), 3600007);
}

TEST(VTimeLocal, CurrentTime) {
    int16 before[7];
    VSystem::GetSystemUTCTime(before);
    VTime now(eInitWithCurrentTime);
    VTime system;
    system.FromSystemTime();
    EXPECT_FALSE(now.IsNull());
    EXPECT_GE(now.GetMilliseconds(),
              UTC(before[0], before[1], before[2], before[3], before[4], before[5], before[6]).GetMilliseconds());
    EXPECT_GE(system, now);
    EXPECT_EQ(VTime(eInitWithZero).GetStamp(), 0u);

    VTime today;
    today.FromToday(1000);
    EXPECT_EQ(today.GetLocalHour(), 0);
    EXPECT_EQ(today.GetLocalSecond(), 1);
}

TEST(VTimeValue, ComparesFieldsInOrder) {
    VTime base = UTC(2020, 3, 4, 5);
    struct Case {
        VTime other;
        CompareResult result;
    } cases[] = {
        {UTC(2020, 3, 4, 5), CR_EQUAL},  {UTC(2021, 1, 1), CR_SMALLER}, {UTC(2020, 3, 5), CR_SMALLER},
        {UTC(2020, 3, 4, 4), CR_BIGGER}, {UTC(0, 0, 0, 23), CR_BIGGER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base.CompareTo(c.other), c.result);
        EXPECT_EQ(base.CompareToSameKind(&c.other), c.result);
        uint64 stamp = c.other.GetStamp();
        EXPECT_EQ(base.CompareToSameKindPtr(&stamp), c.result);
        EXPECT_EQ(base.EqualToSameKindPtr(&stamp), c.result == CR_EQUAL);
    }
    EXPECT_EQ(base.CompareTo(VString("2020-03-04 05:00:00")), CR_EQUAL) << "through the text's GetTime";
    VTime null;
    null.SetNull(true);
    EXPECT_EQ(null.CompareTo(VTime()), CR_EQUAL) << "null flags are not consulted";
}

TEST(VTimeValue, ConversionsAndCopies) {
    VTime time = UTC(2020, 3, 4, 5, 6, 7, 8);
    VTime copy(time);
    EXPECT_EQ(copy, time);
    std::unique_ptr<VValue> clone(time.Clone());
    EXPECT_EQ(static_cast<VTime*>(clone.get())->GetStamp(), time.GetStamp());
    VTime null;
    null.SetNull(true);
    VTime nullCopy(null);
    EXPECT_TRUE(nullCopy.IsNull());

    VString text;
    text.FromTime(time);
    EXPECT_FALSE(text.IsEmpty());
    VTime fromText;
    fromText.FromValue(VString("2020-03-04T05:06:07.008Z")); // seven numbers for FromString
    EXPECT_EQ(fromText, time);
    EXPECT_EQ(time.GetReal(), double(time.GetStamp()));
    EXPECT_EQ(time.GetLong8OrMilliSeconds(), time.GetMilliseconds());

    VTime target;
    EXPECT_TRUE(target.FromValueSameKind(&null));
    EXPECT_TRUE(target.IsNull());
}

TEST(VTimeValue, StoredAndStreamForms) {
    std::unique_ptr<VValue> made(VValue::NewValueFromValueKind(VTime::kKind));
    ASSERT_NE(dynamic_cast<VTime*>(made.get()), nullptr);

    VTime time = UTC(2020, 3, 4, 5, 6, 7, 8);
    EXPECT_EQ(time.GetStamp(), uint64(2020) << 48 | uint64(3) << 40 | uint64(4) << 32 | 18367008u);
    uint64 stored = 0;
    EXPECT_EQ(time.WriteToPtr(&stored), &stored + 1);
    std::unique_ptr<VValue> loaded(VTime::sInfo.LoadFromPtr(&stored));
    EXPECT_EQ(*static_cast<VTime*>(loaded.get()), time);
    EXPECT_EQ(VTime::sInfo.CompareTwoPtrToData(&stored, &stored), CR_EQUAL);

    std::string bytes = test::WrittenBytes([&](VStream* s) { return time.WriteToStream(s); }, true);
    EXPECT_EQ(bytes, std::string("\x07\xE4\x03\x04\x01\x18\x42\x20", 8));
    VTime back;
    EXPECT_EQ(test::ReadBytes(
                  bytes, [&](VStream* s) { return back.ReadFromStream(s); }, true),
              VE_OK);
    EXPECT_EQ(back, time);
    VTime shortRead = time;
    EXPECT_NE(test::ReadBytes(
                  bytes.substr(0, 5), [&](VStream* s) { return shortRead.ReadFromStream(s); }, true),
              VE_OK);
    EXPECT_EQ(shortRead.GetStamp(), 0u);
}

} // namespace
} // namespace vela
