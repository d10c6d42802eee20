// The JSON form of comparison options.

#include "core/VErrorContext.h"
#include "values/VCompareOptions.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

namespace vela {
namespace {

const VString& DiacriticalKey() {
    static const VString key("diacritical");
    return key;
}

} // namespace

VError VCompareOptions::ToJSON(VJSONObject* object) const {
    if (object == nullptr) return VE_OK;
    StErrorContextInstaller errors;
    if (object->SetProperty(DiacriticalKey(), VJSONValue(fDiacritical ? JSON_true : JSON_false))) return VE_OK;
    const VError refused = errors.GetLastError();
    return refused != VE_OK ? refused : VE_INVALID_PARAMETER;
}

VError VCompareOptions::FromJSON(const VJSONObject* object) {
    if (object == nullptr) return VE_OK;
    const VJSONValue value = object->GetProperty(DiacriticalKey());
    if (value.IsBool()) fDiacritical = value.GetType() == JSON_true;
    return VE_OK;
}

} // namespace vela
