#include "json/VJSONDateText.h"

#include "core/VString.h"
#include "json/VJSONValue.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace vela {

namespace {

bool IsLeap(int year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool IsCalendarDate(int year, int month, int day) noexcept {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 22000 || month < 1 || month > 12 || day < 1) return false;
    return day <= kDays[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
}

// Fields of a broken-down time as seconds since 1970 in UTC (timegm without its range limits).
int64 UTCSeconds(int year, int month, int day, int hour, int minute, int second) noexcept {
    // Days from the civil date (proleptic Gregorian calendar).
    int y = month <= 2 ? year - 1 : year;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64 days = int64(era) * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void SetUTCDay(int64 seconds, VJSONValue& out) {
    time_t t = time_t(seconds);
    std::tm fields{};
    if (gmtime_r(&t, &fields) == nullptr) {
        out.SetNull();
        return;
    }
    out.SetDate(int16(fields.tm_year + 1900), int16(fields.tm_mon + 1), int16(fields.tm_mday));
}

// The UTC instant of a local date and time.
bool LocalToUTC(int year, int month, int day, int hour, int minute, int second, int64& seconds) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    time_t t = mktime(&fields);
    if (t == time_t(-1) && (fields.tm_year != 69 || fields.tm_mon != 11 || fields.tm_mday != 31)) return false;
    seconds = int64(t);
    return true;
}

} // namespace

void ReadJSONDate(const UniChar* text, int32 length, VJSONValue& out) {
    std::string ascii;
    for (int32 i = 0; i < length && i < 256; ++i) {
        if (text[i] > 0x7E) {
            out.SetNull();
            return;
        }
        ascii.push_back(char(text[i]));
    }
    if (ascii.size() >= 3 && ascii[0] == '!' && ascii[1] == '!')
        ascii = ascii.size() >= 4 ? ascii.substr(2, ascii.size() - 4) : "";
    if (ascii.empty() || ascii.find('!') != std::string::npos) {
        out.SetNull();
        return;
    }
    size_t size = ascii.size();
    const char* s = ascii.c_str();
    bool full = size > 10 && s[10] == 'T';
    bool dateOnly = !full && size > 4 && s[4] == '-';
    if (!full && !dateOnly) {
        // A time of day, or seconds: it lies on the zero date.
        int hours = 0;
        if (std::sscanf(s, "%d", &hours) == 1) {
            out.SetDate(0, 0, 0);
        } else {
            out.SetNull();
        }
        return;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0;
    int read = full ? std::sscanf(s, "%4d-%2d-%2dT%2d:%2d:%lf", &year, &month, &day, &hour, &minute, &seconds)
                    : std::sscanf(s, "%4d-%2d-%2d", &year, &month, &day);
    if (read != (full ? 6 : 3)) {
        out.SetNull();
        return;
    }
    if (!IsCalendarDate(year, month, day)) {
        // An impossible date loses every field: a plain date becomes the zero date, a full one null.
        if (full) {
            out.SetNull();
        } else {
            out.SetDate(0, 0, 0);
        }
        return;
    }
    bool utc = size < 11 || ascii.find('Z') != std::string::npos;
    size_t sign = ascii.rfind('+');
    if (sign == std::string::npos) {
        size_t minus = ascii.rfind('-');
        if (minus != std::string::npos && minus >= 10) sign = minus;
    }
    int second = int(seconds);
    if (utc) {
        out.SetDate(int16(year), int16(month), int16(day));
        return;
    }
    if (sign != std::string::npos) {
        int offsetHours = 0, offsetMinutes = 0;
        if (!full || std::sscanf(s + sign + 1, "%2d:%2d", &offsetHours, &offsetMinutes) != 2) {
            out.SetNull();
            return;
        }
        int64 offset = (int64(offsetHours) * 60 + offsetMinutes) * 60 * (s[sign] == '-' ? -1 : 1);
        SetUTCDay(UTCSeconds(year, month, day, hour, minute, second) - offset, out);
        return;
    }
    int64 instant = 0;
    if (!LocalToUTC(year, month, day, hour, minute, second, instant)) {
        out.SetNull();
        return;
    }
    SetUTCDay(instant, out);
}

void JSONDateToText(int16 year, int16 month, int16 day, uint32 options, VString& out) {
    char text[64];
    if (!IsCalendarDate(year, month, day)) {
        std::snprintf(text, sizeof(text), "0000-00-00T00:00:00Z");
    } else {
        int hour = 0, minute = 0, second = 0;
        int y = year, m = month, d = day;
        if ((options & 128) != 0) {
            // The local midnight of the day, as a UTC instant.
            int64 instant = 0;
            if (LocalToUTC(y, m, d, 0, 0, 0, instant)) {
                time_t t = time_t(instant);
                std::tm fields{};
                if (gmtime_r(&t, &fields) != nullptr) {
                    y = fields.tm_year + 1900;
                    m = fields.tm_mon + 1;
                    d = fields.tm_mday;
                    hour = fields.tm_hour;
                    minute = fields.tm_min;
                    second = fields.tm_sec;
                }
            }
        }
        bool midnight = hour == 0 && minute == 0 && second == 0;
        if ((options & 512) != 0 && midnight) {
            std::snprintf(text, sizeof(text), "%04d-%02d-%02d", y, m, d);
        } else {
            std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.000Z", y, m, d, hour, minute, second);
        }
    }
    out.Truncate(0);
    if ((options & 1) != 0) out.AppendUniChar(u'"');
    if ((options & 4096) != 0) out.AppendCString("!!");
    out.AppendCString(text);
    if ((options & 4096) != 0) out.AppendCString("!!");
    if ((options & 1) != 0) out.AppendUniChar(u'"');
}

} // namespace vela
