#include "intl/platform/XPosixIntlMgr.h"

#include "core/platform/XICUTextConverter.h"

#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

namespace vela {

namespace {

UDateFormatStyle ToICUStyle(int32 style) noexcept {
    switch (style) {
    case 0:
        return UDAT_SHORT;
    case 1:
        return UDAT_MEDIUM;
    case 2:
        return UDAT_LONG;
    case 3:
        return UDAT_FULL;
    default:
        return UDAT_NONE;
    }
}

struct DateFormatCloser {
    void operator()(UDateFormat* format) const noexcept { udat_close(format); }
};
using DateFormatPtr = std::unique_ptr<UDateFormat, DateFormatCloser>;

struct NumberFormatCloser {
    void operator()(UNumberFormat* format) const noexcept { unum_close(format); }
};

const char* LocaleOrRoot(const std::string& id) noexcept {
    return id.empty() ? "root" : id.c_str();
}

// A formatter of the locale; zone as UTF-16 (null: the default zone).
DateFormatPtr OpenDateFormat(const std::string& locale, int32 dateStyle, int32 timeStyle, const UChar* zone = nullptr,
                             int32 zoneLength = 0) {
    UErrorCode status = U_ZERO_ERROR;
    DateFormatPtr format(udat_open(ToICUStyle(timeStyle), ToICUStyle(dateStyle), LocaleOrRoot(locale), zone, zoneLength,
                                   nullptr, 0, &status));
    if (U_FAILURE(status)) return nullptr;
    return format;
}

// Reads an ICU string getter that fills a buffer and reports the length it needs.
template <class Getter> bool ReadICUString(Getter&& get, VString& out) {
    UChar local[128];
    UErrorCode status = U_ZERO_ERROR;
    int32 length = get(local, int32(std::size(local)), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        std::vector<UChar> buffer(size_t(length) + 1);
        status = U_ZERO_ERROR;
        length = get(buffer.data(), int32(buffer.size()), &status);
        if (U_FAILURE(status)) return false;
        out.FromUniString(buffer.data(), length);
        return true;
    }
    if (U_FAILURE(status)) return false;
    out.FromUniString(local, length);
    return true;
}

void ReadSymbols(const UDateFormat* format, UDateFormatSymbolType type, int32 first, std::vector<VString>& out) {
    int32 count = udat_countSymbols(format, type);
    for (int32 i = first; i < count; ++i) {
        VString name;
        if (!ReadICUString(
                [&](UChar* buffer, int32 capacity, UErrorCode* status) {
                    return udat_getSymbols(format, type, i, buffer, capacity, status);
                },
                name)) {
            out.clear();
            return;
        }
        out.push_back(name);
    }
}

// ---- Preferred languages

std::mutex sPreferencesMutex;
std::optional<std::vector<VString>> sPreferredLanguages; // set by tests
std::atomic<uint32> sPreferencesGeneration{0};

VString AsciiTag(std::string_view text) {
    VString tag;
    for (char c : text)
        tag.AppendUniChar(UniChar(static_cast<unsigned char>(c)));
    return tag;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return lower;
}

} // namespace

XPosixIntlMgr::XPosixIntlMgr(const VString& languageTag) {
    std::string tag;
    for (int32 i = 0; i < languageTag.GetLength(); ++i) {
        UniChar c = languageTag.GetCPointer()[i];
        if (c >= 128) return; // not a tag: the root locale
        tag.push_back(char(c));
    }
    char id[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    int32 parsed = 0;
    int32 length = uloc_forLanguageTag(tag.c_str(), id, int32(sizeof(id)), &parsed, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || parsed != int32(tag.size())) return;
    fLocaleID.assign(id, size_t(length));
}

void XPosixIntlMgr::GetCalendarNames(CalendarNames& names) const {
    DateFormatPtr format = OpenDateFormat(fLocaleID, 0, 0);
    if (!format) return;
    // ICU's week days count from 1 (Sunday); its months from 0.
    ReadSymbols(format.get(), UDAT_MONTHS, 0, names.months);
    ReadSymbols(format.get(), UDAT_SHORT_MONTHS, 0, names.shortMonths);
    ReadSymbols(format.get(), UDAT_WEEKDAYS, 1, names.weekDays);
    ReadSymbols(format.get(), UDAT_SHORT_WEEKDAYS, 1, names.shortWeekDays);
    // A lunar leap month's thirteenth name has no place in the Gregorian calendar.
    if (names.months.size() > 12) names.months.resize(12);
    if (names.shortMonths.size() > 12) names.shortMonths.resize(12);
}

bool XPosixIntlMgr::GetNumberSymbols(VString& decimal, VString& grouping, VString& currency) const {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UNumberFormat, NumberFormatCloser> format(
        unum_open(UNUM_DECIMAL, nullptr, 0, LocaleOrRoot(fLocaleID), nullptr, &status));
    if (U_FAILURE(status)) return false;
    auto symbol = [&](UNumberFormatSymbol which, VString& out) {
        return ReadICUString(
            [&](UChar* buffer, int32 capacity, UErrorCode* error) {
                return unum_getSymbol(format.get(), which, buffer, capacity, error);
            },
            out);
    };
    return symbol(UNUM_DECIMAL_SEPARATOR_SYMBOL, decimal) && symbol(UNUM_GROUPING_SEPARATOR_SYMBOL, grouping) &&
           symbol(UNUM_CURRENCY_SYMBOL, currency);
}

bool XPosixIntlMgr::GetAmPmSymbols(VString& am, VString& pm) const {
    DateFormatPtr format = OpenDateFormat(fLocaleID, -1, 0);
    if (!format) return false;
    auto symbol = [&](int32 index, VString& out) {
        return ReadICUString(
            [&](UChar* buffer, int32 capacity, UErrorCode* status) {
                return udat_getSymbols(format.get(), UDAT_AM_PMS, index, buffer, capacity, status);
            },
            out);
    };
    return symbol(0, am) && symbol(1, pm);
}

bool XPosixIntlMgr::GetDateTimePattern(int32 dateStyle, int32 timeStyle, VString& pattern) const {
    DateFormatPtr format = OpenDateFormat(fLocaleID, dateStyle, timeStyle);
    if (!format) return false;
    return ReadICUString(
        [&](UChar* buffer, int32 capacity, UErrorCode* status) {
            return udat_toPattern(format.get(), false, buffer, capacity, status);
        },
        pattern);
}

void XPosixIntlMgr::FormatInstant(double unixMilliseconds, bool utc, int32 offsetSeconds, int32 dateStyle,
                                  int32 timeStyle, VString& out) const {
    // A fixed-offset zone: local time is the C library's (VSystem's), which ICU's own zone detection may not
    // follow after a change of TZ.
    char zone[32] = "UTC";
    if (!utc) {
        int32 minutes = (offsetSeconds >= 0 ? offsetSeconds : -offsetSeconds) / 60;
        std::snprintf(zone, sizeof(zone), "GMT%c%02d:%02d", offsetSeconds >= 0 ? '+' : '-', int(minutes / 60),
                      int(minutes % 60));
    }
    UChar zoneID[32];
    int32 zoneLength = 0;
    for (; zone[zoneLength] != '\0'; ++zoneLength)
        zoneID[zoneLength] = UChar(zone[zoneLength]);
    DateFormatPtr format = OpenDateFormat(fLocaleID, dateStyle, timeStyle, zoneID, zoneLength);
    if (!format) return;
    VString text;
    if (ReadICUString(
            [&](UChar* buffer, int32 capacity, UErrorCode* status) {
                return udat_format(format.get(), unixMilliseconds, buffer, capacity, nullptr, status);
            },
            text)) {
        out = text;
    }
}

int32 XPosixIntlMgr::MapCase(const UniChar* text, int32 length, UniChar* buffer, int32 capacity, bool upper,
                             bool* overflow) noexcept {
    UErrorCode status = U_ZERO_ERROR;
    int32 produced = upper ? u_strToUpper(buffer, capacity, text, length, "", &status)
                           : u_strToLower(buffer, capacity, text, length, "", &status);
    *overflow = status == U_BUFFER_OVERFLOW_ERROR;
    // The terminator is not needed: the length is passed on.
    if (U_FAILURE(status) && !*overflow) return -1;
    return produced;
}

VToUnicodeConverter* XPosixIntlMgr::NewToUnicodeConverter(CharSet charSet) {
    return NewICUToUnicodeConverter(charSet);
}

VFromUnicodeConverter* XPosixIntlMgr::NewFromUnicodeConverter(CharSet charSet) {
    return NewICUFromUnicodeConverter(charSet);
}

// ---- Preferred languages

VString XPosixIntlMgr::TagFromPosixLocale(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return VString();
    std::string tag(name);
    for (char& c : tag) {
        if (c == '_') c = '-';
    }
    // The dialect table knows Chinese by script for the mainland and Taiwan, by region for the others.
    std::string lower = Lower(tag);
    if (lower == "zh" || lower == "zh-cn" || lower.starts_with("zh-hans")) return AsciiTag("zh-Hans");
    if (lower == "zh-tw" || lower == "zh-mo" || lower.starts_with("zh-hant")) return AsciiTag("zh-Hant");
    return AsciiTag(tag);
}

std::vector<VString> XPosixIntlMgr::GetPreferredLanguages() {
    {
        std::lock_guard lock(sPreferencesMutex);
        if (sPreferredLanguages) return *sPreferredLanguages;
    }
    std::vector<VString> tags;
    auto add = [&tags](std::string_view name) {
        VString tag = TagFromPosixLocale(name);
        if (tag.GetLength() == 0) return;
        for (const VString& known : tags) {
            if (known.GetLength() == tag.GetLength() &&
                std::equal(known.GetCPointer(), known.GetCPointer() + known.GetLength(), tag.GetCPointer()))
                return;
        }
        tags.push_back(tag);
    };
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr) {
        std::string_view rest(list);
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            add(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            add(value);
            break;
        }
    }
    return tags;
}

std::optional<std::vector<VString>>
XPosixIntlMgr::SetPreferredLanguages(std::optional<std::vector<VString>> languages) {
    std::lock_guard lock(sPreferencesMutex);
    std::swap(sPreferredLanguages, languages);
    sPreferencesGeneration.fetch_add(1, std::memory_order_release);
    return languages;
}

uint32 XPosixIntlMgr::GetPreferencesGeneration() noexcept {
    return sPreferencesGeneration.load(std::memory_order_acquire);
}

} // namespace vela
