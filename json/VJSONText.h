#pragma once

#include "core/VError.h"
#include "core/VRealText.h"

#include <initializer_list>
#include <utility>

namespace vela {

class VString;

// What the JSON text reader and writer share: their error codes, the nesting limit and the raise of errors that
// carry named parameters.

// Nesting deeper than kJSONTextMaxDepth objects and arrays is refused by the parser and by the writer, so that no
// input and no tree can exhaust the stack; what the writer writes, the parser reads back.
constexpr int32 kJSONTextMaxDepth = 512;

// Nesting too deep (the library's not-enough-stack error).
constexpr VError VE_JSON_TOO_DEEP = MakeLibraryError(108);
// Malformed JSON text: "source" (the file's path and ", ", or empty), "line" and "position" (1-based).
constexpr VError VE_JSON_MALFORMED = MakeLibraryError(550);
// A token where another was expected: "found" (not empty) and "expected".
constexpr VError VE_JSON_INVALID_TOKEN = MakeLibraryError(551);
// A string without its closing quote (strict mode): "token".
constexpr VError VE_JSON_UNTERMINATED_STRING = MakeLibraryError(552);
// A comma before a closing brace or bracket: "token" ("}" or "]").
constexpr VError VE_JSON_EXTRA_COMMA = MakeLibraryError(553);
// The text ended where a token was expected: "found" (empty) and "expected".
constexpr VError VE_JSON_NO_TOKEN = MakeLibraryError(554);
// Writer refusals (each raised): an object whose implementation has a binary signature (writer option 0x100),
// an object that is not generic (0x8000), an object met a second time (0x10000).
constexpr VError VE_JSON_BINARY_SIGNATURE = MakeLibraryError(911);
constexpr VError VE_JSON_NOT_GENERIC = MakeLibraryError(914);
constexpr VError VE_JSON_WRITTEN_TWICE = MakeLibraryError(916);

// The JSON text of a number into buffer (room for kJSONNumberTextSize bytes), zero-terminated; answers its length.
// An integral value within 2^53 - 1 is written as a decimal integer, NaN and infinities as "null", any other value
// as C's "%.14G" (upper-case exponent, "." whatever the locale).
constexpr size_t kJSONNumberTextSize = 32;
static_assert(kJSONNumberTextSize >= kRealG14TextSize);
int32 FormatJSONNumber(double value, char* buffer) noexcept;
// The same text appended to out.
void AppendJSONNumber(double value, VString& out);

// One named text parameter of an error.
using VJSONErrorParam = std::pair<const char*, const VString*>;

// Raises code with the given named parameters: an error object carrying them is pushed on the calling task's
// error context (nothing off a task or without a process object, as _ThrowError).
void _ThrowJSONError(VError code, std::initializer_list<VJSONErrorParam> params);
// Raises 550 with "source" (a text) and "line" and "position" (numbers), as _ThrowJSONError.
void _ThrowJSONMalformed(const VString& source, int32 line, int32 position);

} // namespace vela
