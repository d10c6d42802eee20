#pragma once

#include "core/VString.h"

namespace vela {

// Rewrites text in Unicode canonical composition (NFC, compose true) or decomposition (NFD) through ICU. Text
// already in that form is left as it is; when ICU fails or memory runs out the text is unchanged.
void XICUNormalizeCanonical(VString& text, bool compose) noexcept;

} // namespace vela
