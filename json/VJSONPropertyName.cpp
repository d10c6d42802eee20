#include "json/VJSONPropertyName.h"

#include "core/VString.h"

namespace vela {

bool VJSONPropertyName::FromString(const VString& text, VJSONPropertyName& out) {
    out._Release();
    int32 length = text.GetLength();
    if (length <= kInlineUnits) {
        out._SetInline(text.GetCPointer(), length);
        return true;
    }
    VInlineString shared = VInlineString::RetainFromString(text);
    if (shared.fBuffer == nullptr) return false;
    out.fStorage.fShared = Shared{shared.fCapacity, shared.fLength, shared.fBuffer};
    return true;
}

void VJSONPropertyName::ToString(VString& out) const {
    if (_IsShared()) {
        _AsInlineString().ToString(out);
    } else {
        out.FromUniString(fStorage.fInline.fUnits, GetLength());
    }
}

} // namespace vela
