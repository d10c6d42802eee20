#pragma once

#include "core/CharSet.h"

namespace vela {

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
};

} // namespace vela
