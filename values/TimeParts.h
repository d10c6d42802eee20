// Internal header: the seven parts of a time (year, month, day, hour, minute, second, millisecond) and the C
// library's broken-down time, for the code that hands times to the system's calendar.
#pragma once

#include "core/VTypes.h"

#include <ctime>

namespace vela {

// Parts 0-5 into fields (the rest of fields cleared: no daylight saving said).
inline void PartsToFields(const int16* parts, std::tm& fields) noexcept {
    fields = std::tm{};
    fields.tm_year = parts[0] - 1900;
    fields.tm_mon = parts[1] - 1;
    fields.tm_mday = parts[2];
    fields.tm_hour = parts[3];
    fields.tm_min = parts[4];
    fields.tm_sec = parts[5];
}

// Fields into parts 0-5; part 6 is left alone.
inline void FieldsToParts(const std::tm& fields, int16* parts) noexcept {
    parts[0] = int16(fields.tm_year + 1900);
    parts[1] = int16(fields.tm_mon + 1);
    parts[2] = int16(fields.tm_mday);
    parts[3] = int16(fields.tm_hour);
    parts[4] = int16(fields.tm_min);
    parts[5] = int16(fields.tm_sec);
}

} // namespace vela
