// Strings to and from JSON values.

#include "core/VString.h"
#include "json/VJSONValue.h"

namespace vela {

VError VString::FromJSONValue(const VJSONValue& json) {
    if (json.IsNull()) {
        SetNull(true);
        return VE_OK;
    }
    return json.GetString(*this);
}

VError VString::GetJSONValue(VJSONValue& json, uint32) const {
    if (IsNull()) {
        json.SetNull();
    } else {
        json.SetString(*this);
    }
    return VE_OK;
}

} // namespace vela
