#pragma once

#include "core/CharSet.h"
#include "core/VTypes.h"

namespace vela {

class VString;
class VToUnicodeConverter;
class VFromUnicodeConverter;

// The platform's text services on Linux and other POSIX systems.
class XPosixIntlMgr {
public:
    XPosixIntlMgr() = delete;

    // A new converter for a set that the built-in Unicode converters do not serve (legacy code pages and the
    // system default, -2), which the caller releases; null when the platform has none for the set.
    static VToUnicodeConverter* NewToUnicodeConverter(CharSet charSet);
    static VFromUnicodeConverter* NewFromUnicodeConverter(CharSet charSet);

    // Formats an instant (ms since 1970, UTC) seen at offsetSeconds east of GMT, or in UTC when utc, in the
    // default locale. Styles: -1 none, 0 short, 1 medium, 2 long, 3 full. out is left alone when the formatter
    // cannot be had.
    static void FormatInstant(double unixMilliseconds, bool utc, int32 offsetSeconds, int32 dateStyle, int32 timeStyle,
                              VString& out);
};

} // namespace vela
