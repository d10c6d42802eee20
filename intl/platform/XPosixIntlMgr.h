#pragma once

#include "core/CharSet.h"
#include "core/VString.h"
#include "core/VTypes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

class VToUnicodeConverter;
class VFromUnicodeConverter;

// The platform part of an international manager on Linux and other POSIX systems: the dialect's locale
// (ICU's identifier), its calendar names, the date formatter and number symbols of that locale, and the
// user's preferred languages.
class XPosixIntlMgr {
public:
    // The root locale.
    XPosixIntlMgr() = default;
    // The locale of a BCP 47 tag ("en-US"); the root locale when ICU cannot make one of it.
    explicit XPosixIntlMgr(const VString& languageTag);

    // "" for the root locale.
    const std::string& GetLocaleID() const noexcept { return fLocaleID; }

    // The month (0-11) and week-day (0 Sunday to 6) names of the locale's Gregorian calendar.
    struct CalendarNames {
        std::vector<VString> months, shortMonths, weekDays, shortWeekDays;
    };
    // Fills names; a list stays empty when ICU cannot give it.
    void GetCalendarNames(CalendarNames& names) const;

    // The locale's decimal and grouping separators and currency symbol; false when they cannot be had.
    bool GetNumberSymbols(VString& decimal, VString& grouping, VString& currency) const;
    // The locale's AM and PM symbols.
    bool GetAmPmSymbols(VString& am, VString& pm) const;
    // The pattern of the formatter of these styles (-1 none, 0 short, 1 medium, 2 long, 3 full).
    bool GetDateTimePattern(int32 dateStyle, int32 timeStyle, VString& pattern) const;
    // Formats an instant (ms since 1970, UTC) seen at offsetSeconds east of GMT, or in UTC when utc, in the
    // locale, with the styles above. out is left alone when the formatter cannot be had.
    void FormatInstant(double unixMilliseconds, bool utc, int32 offsetSeconds, int32 dateStyle, int32 timeStyle,
                       VString& out) const;

    // Maps text to upper or lower case in the root locale into buffer (capacity units): the length of the
    // mapped text, even when it did not fit (then *overflow is set); -1 on another failure.
    static int32 MapCase(const UniChar* text, int32 length, UniChar* buffer, int32 capacity, bool upper,
                         bool* overflow) noexcept;

    // A new converter for a set that the built-in Unicode converters do not serve (legacy code pages and the
    // system default, -2), which the caller releases; null when the platform has none for the set.
    static VToUnicodeConverter* NewToUnicodeConverter(CharSet charSet);
    static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet charSet);

    // The user's preferred languages as language tags, most preferred first ("de-CH", "zh-Hans"): those set
    // with SetPreferredLanguages, else LANGUAGE's list followed by the first of LC_ALL, LC_MESSAGES and LANG
    // that is set. "C" and "POSIX" are left out.
    static std::vector<VString> GetPreferredLanguages();
    // Replaces the environment as the source (tests; nullopt: back to the environment) and answers the source
    // replaced, so that a scope can put it back. Each change also makes the system dialect be resolved again
    // (GetPreferencesGeneration).
    static std::optional<std::vector<VString>> SetPreferredLanguages(std::optional<std::vector<VString>> languages);
    // Changes with each SetPreferredLanguages.
    static uint32 GetPreferencesGeneration() noexcept;
    // A POSIX locale name ("de_CH.UTF-8@euro") as a tag ("de-CH"): codeset and modifier dropped, Chinese
    // regions given as the script forms ("zh_CN": "zh-Hans", "zh_TW": "zh-Hant"); empty for "C", "POSIX", "".
    static VString TagFromPosixLocale(std::string_view name);

private:
    std::string fLocaleID;
};

} // namespace vela
