#pragma once

#include "core/VTypes.h"

#include <ctime>

namespace vela {

// Linux services behind VSystem's calendar clock and time zone; its clocks, processors and pages are the core's
// (XPosixRuntime).
class XPosixSystem {
public:
    XPosixSystem() = delete;

    // Seconds since 1970 (UTC) and the nanoseconds within that second, from the real-time clock.
    static int64 GetRealTime(int32* nanoseconds) noexcept;
    // Seconds since boot; a negative result when the clock cannot be read.
    static int64 GetSecondsSinceBoot() noexcept;
    // The fields of an instant in UTC (utc) or in the system's default time zone; false when they cannot be had.
    static bool SplitInstant(int64 seconds, bool utc, std::tm& fields) noexcept;
    // The instant of fields taken in UTC (utc) or in the default time zone, daylight saving found by the system;
    // false when there is none.
    static bool JoinInstant(const std::tm& fields, bool utc, int64& seconds) noexcept;
    // The offsets east of GMT in force at instant (seconds), and the first instant after it at which either may
    // differ: the next zone transition, or at most a year ahead when none was found.
    static void GetZoneOffsets(int64 instant, int32& standard, int32& withDaylight, int64& nextChange) noexcept;
    // Reads the time-zone setting (TZ and the system database) again.
    static void ResetTimeZone() noexcept;
};

} // namespace vela
