#pragma once

#include "core/VTypes.h"

namespace vela {

class VJSONValue;
class VString;

// The text forms of JSON dates (a UTC day without time of day) that the text parser and writer use until the
// date-time value exists; then both go through it (VTime::FromXMLString and VTime::GetJSONString).

// Reads RFC 3339 text (a date "YYYY-MM-DD", or a date and time "YYYY-MM-DDThh:mm:ss[.fff]" with "Z", an offset
// "+hh:mm"/"-hh:mm" or neither for local time; the whole text may stand between "!!" marks) into out as the UTC
// day it names. A time of day alone gives the zero date; text of another shape, an offset on a plain date or an
// impossible full date makes out null.
void ReadJSONDate(const UniChar* text, int32 length, VJSONValue& out);

// The JSON text of the UTC day: "YYYY-MM-DD" with option 512, else "YYYY-MM-DDT00:00:00.000Z"; with option 128
// the local midnight of that day is written instead (as UTC, so with a time of day unless the zone is UTC). With
// option 4096 between "!!" marks, with option 1 between double quotes (outside the marks). A day that is no
// calendar date writes "0000-00-00T00:00:00Z".
void JSONDateToText(int16 year, int16 month, int16 day, uint32 options, VString& out);

} // namespace vela
