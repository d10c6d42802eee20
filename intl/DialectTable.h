// Internal to intl/: the constant catalogue of dialects behind VIntlMgr's static lookups.
#pragma once

#include "core/VTypes.h"

#include <span>

namespace vela::Private {

// One dialect: its Windows-style code, ISO 639-1 and 639-2 language codes, lower-case English name, ISO 3166
// region (upper case, may be empty) and language subtag (a lower-case region or a script, may be empty).
struct DialectRow {
    uint32 code;
    const char* iso6391;
    const char* iso6392;
    const char* name;
    const char* region;
    const char* subtag;
};

// The rows in search order: the first match wins, and a few codes occur twice (the second row of such a code
// is reached only through searches on other columns).
std::span<const DialectRow> DialectRows() noexcept;

// The first row with code, null when none.
const DialectRow* FindDialectRow(uint32 code) noexcept;

} // namespace vela::Private
