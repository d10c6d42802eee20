#include "core/platform/XICUNormalizer.h"

#include <unicode/unorm2.h>

namespace vela {

void XICUNormalizeCanonical(VString& text, bool compose) noexcept {
    const int32 length = text.GetLength();
    if (length == 0) return;
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* normalizer = compose ? unorm2_getNFCInstance(&status) : unorm2_getNFDInstance(&status);
    if (U_FAILURE(status)) return;
    const UChar* source = text.GetCPointer();
    if (unorm2_isNormalized(normalizer, source, length, &status) || U_FAILURE(status)) return;

    // ICU cannot normalise in place: measure, then write into a second string.
    const int32 needed = unorm2_normalize(normalizer, source, length, nullptr, 0, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR || needed <= 0) return;
    status = U_ZERO_ERROR;
    VString result;
    UniChar* target = result.GetCPointerForWrite(needed);
    if (target == nullptr) return;
    const int32 written = unorm2_normalize(normalizer, source, length, target, needed, &status);
    if (U_FAILURE(status) || written != needed || !result.Validate(written)) return;
    text.FromString(result);
}

} // namespace vela
