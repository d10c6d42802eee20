#include "intl/platform/XPosixIntlMgr.h"

#include "core/VRefPtr.h"
#include "core/platform/XICUTextConverter.h"

namespace vela {

namespace {

// Hands over a new converter when it is usable; releases it otherwise.
template <class Converter> Converter* KeepIfValid(Converter* converter) {
    VRefPtr<Converter> owner = VRefPtr<Converter>::Adopt(converter);
    return owner->IsValid() ? owner.Forget() : nullptr;
}

} // namespace

VToUnicodeConverter* XPosixIntlMgr::NewToUnicodeConverter(CharSet charSet) {
    return KeepIfValid<VToUnicodeConverter>(new XICUToUnicodeConverter(charSet));
}

VFromUnicodeConverter* XPosixIntlMgr::NewFromUnicodeConverter(CharSet charSet) {
    return KeepIfValid<VFromUnicodeConverter>(new XICUFromUnicodeConverter(charSet));
}

} // namespace vela
