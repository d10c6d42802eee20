#pragma once

#include "core/VString.h"

namespace vela {

// The two path directions between POSIX text and the internal form, shared by paths and URLs.

// POSIX to internal. A text beginning with '/' is converted through the mounted volumes; when no volume holds
// it, or for a relative text, textually: "./" steps vanish, each "../" and each '/' add one ':', ':' inside a
// name becomes '/'. "a/b/" gives "a:b:", "../x" gives ":x", "./a" gives "a".
void PosixToSystemPath(VString& text);

// Internal to POSIX. Absolute: the volume name is replaced by its mount path. Relative: a run of k ':' before
// a name becomes '/' and k-1 times "../" (a run at the very start gives only the "../" steps), '/' inside a
// name becomes ':', a final run of k ':' becomes '/' and k-1 times "../" (a lone ":" gives ""). "a:b" gives
// "a/b", "sub:" gives "sub/", ":a" gives "a".
void SystemToPosixPath(VString& text, bool relative);

} // namespace vela
