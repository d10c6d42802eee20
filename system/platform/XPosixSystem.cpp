#include "system/platform/XPosixSystem.h"

#include <cerrno>
#include <ctime>

namespace vela {

int64 XPosixSystem::GetRealTime(int32* nanoseconds) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (nanoseconds != nullptr) *nanoseconds = int32(now.tv_nsec);
    return int64(now.tv_sec);
}

int64 XPosixSystem::GetSecondsSinceBoot() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -int64(errno != 0 ? errno : 1);
    return int64(now.tv_sec);
}

bool XPosixSystem::SplitInstant(int64 seconds, bool utc, std::tm& fields) noexcept {
    time_t t = time_t(seconds);
    return (utc ? gmtime_r(&t, &fields) : localtime_r(&t, &fields)) != nullptr;
}

bool XPosixSystem::JoinInstant(const std::tm& fields, bool utc, int64& seconds) noexcept {
    std::tm copy = fields;
    copy.tm_isdst = -1;
    errno = 0;
    time_t t = utc ? timegm(&copy) : mktime(&copy);
    // -1 is also the instant one second before 1970: only errno tells a failure.
    if (t == time_t(-1) && errno != 0) return false;
    seconds = int64(t);
    return true;
}

namespace {

// The offset and daylight flag in force at an instant; false when the system cannot split it.
bool OffsetAt(int64 instant, long& offset, int& daylight) noexcept {
    std::tm fields{};
    if (!XPosixSystem::SplitInstant(instant, false, fields)) return false;
    offset = fields.tm_gmtoff;
    daylight = fields.tm_isdst;
    return true;
}

} // namespace

void XPosixSystem::GetZoneOffsets(int64 instant, int32& standard, int32& withDaylight, int64& nextChange) noexcept {
    constexpr int64 kDay = 86400;
    constexpr int64 kHorizon = 366 * kDay;
    long offset = 0;
    int daylight = 0;
    OffsetAt(instant, offset, daylight);
    withDaylight = int32(offset);
    standard = daylight > 0 ? int32(offset - 3600) : int32(offset);
    // Probes a day at a time for the first day whose offset or daylight flag differs, then narrows it down to
    // the second: zones change at most a few times a year, and never twice within a day.
    nextChange = instant + kHorizon;
    int64 low = instant;
    for (int64 probe = instant + kDay; probe <= instant + kHorizon; probe += kDay) {
        long probeOffset = 0;
        int probeDaylight = 0;
        if (!OffsetAt(probe, probeOffset, probeDaylight)) return;
        if (probeOffset == offset && probeDaylight == daylight) {
            low = probe;
            continue;
        }
        int64 high = probe;
        while (high - low > 1) {
            int64 middle = low + (high - low) / 2;
            long middleOffset = 0;
            int middleDaylight = 0;
            OffsetAt(middle, middleOffset, middleDaylight);
            if (middleOffset == offset && middleDaylight == daylight)
                low = middle;
            else
                high = middle;
        }
        nextChange = high;
        return;
    }
}

void XPosixSystem::ResetTimeZone() noexcept {
    tzset();
}

} // namespace vela
