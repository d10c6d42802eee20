#include "intl/platform/XPosixIntlMgr.h"

#include "core/VString.h"
#include "core/platform/XICUTextConverter.h"

#include <unicode/udat.h>

#include <cstdio>
#include <vector>

namespace vela {

VToUnicodeConverter* XPosixIntlMgr::NewToUnicodeConverter(CharSet charSet) {
    return NewICUToUnicodeConverter(charSet);
}

VFromUnicodeConverter* XPosixIntlMgr::NewFromUnicodeConverter(CharSet charSet) {
    return NewICUFromUnicodeConverter(charSet);
}

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

} // namespace

void XPosixIntlMgr::FormatInstant(double unixMilliseconds, bool utc, int32 offsetSeconds, int32 dateStyle,
                                  int32 timeStyle, VString& out) {
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
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format =
        udat_open(ToICUStyle(timeStyle), ToICUStyle(dateStyle), nullptr, zoneID, zoneLength, nullptr, 0, &status);
    if (U_FAILURE(status)) return;
    std::vector<UChar> text(128);
    int32 length = udat_format(format, unixMilliseconds, text.data(), int32(text.size()), nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        text.resize(size_t(length) + 1);
        length = udat_format(format, unixMilliseconds, text.data(), int32(text.size()), nullptr, &status);
    }
    udat_close(format);
    if (U_SUCCESS(status)) out.FromUniString(text.data(), length);
}

} // namespace vela
