#include "support/StTimeZone.h"
#include "system/VSystem.h"
#include "system/platform/XPosixSystem.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <string>

namespace vela {
namespace {

using Parts = std::array<int16, 7>;

using test::StTimeZone;

// Seconds since 1970 of UTC parts.
int64 Seconds(const Parts& p) {
    std::tm fields{};
    fields.tm_year = p[0] - 1900;
    fields.tm_mon = p[1] - 1;
    fields.tm_mday = p[2];
    fields.tm_hour = p[3];
    fields.tm_min = p[4];
    fields.tm_sec = p[5];
    return int64(timegm(&fields));
}

// Seconds since 1970 from the same clock the library reads: std::time may take a coarser clock that trails it
// by a tick, which near a second boundary puts the library's reading one second ahead.
int64 ClockSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64(now.tv_sec);
}

TEST(VSystemTime, CurrentUTCTimeLiesBetweenTwoClockReadings) {
    int64 before = ClockSeconds();
    Parts now{};
    VSystem::GetSystemUTCTime(now.data());
    int64 after = ClockSeconds();
    EXPECT_GE(Seconds(now), before);
    EXPECT_LE(Seconds(now), after);
    EXPECT_GE(now[6], 0);
    EXPECT_LE(now[6], 999);

    StTimeZone zone("Asia/Tokyo");
    Parts local{};
    VSystem::GetSystemLocalTime(local.data());
    int64 localSeconds = Seconds(local);
    EXPECT_GE(localSeconds, before + 9 * 3600);
    EXPECT_LE(localSeconds, ClockSeconds() + 9 * 3600);
}

TEST(VSystemTime, ConvertsWithTheRuleOfTheDate) {
    struct Case {
        const char* zone;
        Parts utc;
        Parts local;
    } cases[] = {
        {"Europe/Paris", {2020, 1, 4, 5, 6, 7, 89}, {2020, 1, 4, 6, 6, 7, 89}},
        {"Europe/Paris", {2020, 7, 4, 23, 6, 7, 89}, {2020, 7, 5, 1, 6, 7, 89}},
        {"America/New_York", {2021, 1, 1, 2, 0, 0, 0}, {2020, 12, 31, 21, 0, 0, 0}},
        {"America/New_York", {2021, 7, 1, 2, 0, 0, 0}, {2021, 6, 30, 22, 0, 0, 0}},
        {"UTC", {1900, 2, 28, 23, 59, 59, 999}, {1900, 2, 28, 23, 59, 59, 999}},
        {"Asia/Tokyo", {2400, 2, 29, 20, 0, 0, 0}, {2400, 3, 1, 5, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        StTimeZone zone(c.zone);
        Parts parts = c.utc;
        VSystem::UTCToLocalTime(parts.data());
        EXPECT_EQ(parts, c.local) << c.zone;
        VSystem::LocalToUTCTime(parts.data());
        EXPECT_EQ(parts, c.utc) << c.zone;
    }
}

TEST(VSystemTime, PartsWithoutADateStayAsTheyAre) {
    StTimeZone zone("Asia/Tokyo");
    for (Parts parts : {Parts{0, 0, 0, 10, 30, 0, 5}, Parts{0, 5, 1, 0, 30, 0, 0}, Parts{}}) {
        Parts converted = parts;
        VSystem::UTCToLocalTime(converted.data());
        EXPECT_EQ(converted, parts);
        VSystem::LocalToUTCTime(converted.data());
        EXPECT_EQ(converted, parts);
    }
}

TEST(VSystemTime, OffsetsFollowTheZone) {
    struct Case {
        const char* zone;
        int32 standard;
        std::array<int32, 2> withDaylight; // either of these, by the season
    } cases[] = {
        {"UTC", 0, {0, 0}},
        {"Asia/Tokyo", 32400, {32400, 32400}},
        {"Europe/Paris", 3600, {3600, 7200}},
        {"America/New_York", -18000, {-18000, -14400}},
    };
    for (const Case& c : cases) {
        StTimeZone zone(c.zone);
        EXPECT_EQ(VSystem::GetGMTOffset(false), c.standard) << c.zone;
        int32 withDaylight = VSystem::GetGMTOffset(true);
        EXPECT_TRUE(withDaylight == c.withDaylight[0] || withDaylight == c.withDaylight[1]) << c.zone;
        VSystem::UpdateGMTOffset();
        EXPECT_EQ(VSystem::GetGMTOffset(true), withDaylight) << c.zone;
    }
}

TEST(VSystemTime, FindsTheNextZoneTransition) {
    StTimeZone zone("Europe/Paris");
    struct Case {
        int64 instant;
        int32 standard;
        int32 withDaylight;
        int64 next;
    } cases[] = {
        {1711800000, 3600, 3600, 1711846800}, // 2024-03-30 12:00 UTC: summer time at 01:00 UTC the next day
        {1719835200, 3600, 7200, 1729990800}, // 2024-07-01: winter time on 27 October at 01:00 UTC
        {1729990799, 3600, 7200, 1729990800}, // the second before
        {1729990800, 3600, 3600, 1743296400}, // the transition itself: the next one, in March 2025
    };
    for (const Case& c : cases) {
        int32 standard = 0, withDaylight = 0;
        int64 next = 0;
        XPosixSystem::GetZoneOffsets(c.instant, standard, withDaylight, next);
        EXPECT_EQ(standard, c.standard) << c.instant;
        EXPECT_EQ(withDaylight, c.withDaylight) << c.instant;
        EXPECT_EQ(next, c.next) << c.instant;
    }
    StTimeZone fixed("Asia/Tokyo");
    int32 standard = 0, withDaylight = 0;
    int64 next = 0;
    XPosixSystem::GetZoneOffsets(1711800000, standard, withDaylight, next);
    EXPECT_EQ(next, 1711800000 + 366 * 86400) << "no transition within a year";
}

TEST(VSystemTime, CenturyPivotAndUptime) {
    int16 old = VSystem::GetCenturyPivotYear();
    VSystem::SetCenturyPivotYear(1950);
    EXPECT_EQ(VSystem::GetCenturyPivotYear(), 1950);
    VSystem::SetCenturyPivotYear(old);
    EXPECT_GT(VSystem::GetUptime(), 0);
}

} // namespace
} // namespace vela
