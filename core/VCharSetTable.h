// Internal header: the character-set table behind the text converters; include core/VTextConverters.h.
#pragma once

#include "core/CharSet.h"

namespace vela {

// One row of the character-set table: a name (IANA name or alias) with its set and MIB enum number.
struct VCharSetRow {
    CharSet fCharSet;
    int32 fMIBEnum;
    const char* fName; // ASCII
    bool fWeb;         // offered to web clients
};

// The rows in their fixed order, ending with an all-zero row. Several rows share a set (aliases); the first
// row of a set gives its canonical name, and lookups take the first row that matches.
extern const VCharSetRow kCharSetTable[];

} // namespace vela
