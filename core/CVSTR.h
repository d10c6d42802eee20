#pragma once

#include "core/VString.h"

namespace vela {

// A string over a constant UTF-16 literal, made without copying: length = capacity = the literal's length.
// The literal is read-only memory and is never written: the buffer is marked foreign and not private, so
// every change first copies the text into a buffer of the string's own, and copies are real copies.
struct CVSTR_struct : public VString {
    template <size_t N> explicit CVSTR_struct(const UniChar (&literal)[N]) noexcept {
        static_assert(N >= 1, "a literal holds at least its terminator");
        VString::fString = const_cast<UniChar*>(literal); // never written through, see above
        VString::fLength = int32(N - 1);
        VString::fMaxLength = int32(N - 1);
        fFlags = kDirtyFlag | kForeignBuffer;
    }
    // The same over length units at text that stay unchanged while the string lives and are followed by a zero
    // (a parser's own buffers for the length of a callback): callees read them where they are.
    CVSTR_struct(const UniChar* text, int32 length) noexcept {
        VString::fString = const_cast<UniChar*>(text); // never written through, see above
        VString::fLength = length;
        VString::fMaxLength = length;
        fFlags = kDirtyFlag | kForeignBuffer;
    }
};

} // namespace vela

// A read-only VString over a string literal: CVSTR("text").
#define CVSTR(text) ::vela::CVSTR_struct(u"" text)
