#pragma once

#include "core/VTypes.h"

namespace vela {

class VString;
class VValueSingle;
struct VUUIDBuffer;

// The value that best fits an XML attribute text, new and owned by the caller (never null). The text is taken
// without the white space of the current international manager around it, with an optional sign ("+", "-" or
// U+2212): "INF" (not with "+") a real infinity, "NaN", "true" and "false" (unsigned) a real or a boolean;
// decimal digits with a fraction or an exponent a real (unless out of range); plain digits a 32-bit long below
// 2^31, a 64-bit long up to 2^63 - 1 when written without leading zeros. An unsigned text beginning with a digit,
// "f" or "{" that is none of these may be an identifier (ParseXMLUUID). Anything else is a string holding the
// text as given.
VValueSingle* ParseXMLValue(const VString& text);

// Reads an identifier written as 32 hexadecimal digits of either case, two per byte, with any number of "-" or
// U+2212 between digits, optionally between "{" and "}". False (out left in any state) for any other text of length
// units.
bool ParseXMLUUID(const UniChar* text, int32 length, VUUIDBuffer& out) noexcept;

} // namespace vela
