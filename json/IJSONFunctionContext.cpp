#include "json/IJSONFunctionContext.h"

#include "json/VJSONArray.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"

namespace vela {

void IJSONFunctionContext::_Refuse(VError error) noexcept {
    fParametersValid = false;
    _ThrowError(error);
}

double IJSONFunctionContext::GetNumberParam(int32 index) {
    VJSONValue param = GetParam(index);
    if (!param.IsNumber()) _Refuse(VE_JSON_PARAM_NOT_A_NUMBER);
    return param.GetNumber();
}

int32 IJSONFunctionContext::GetLongParam(int32 index) {
    return JSONNumberToLong(GetNumberParam(index));
}

bool IJSONFunctionContext::GetNumberOptParam(int32 index, double* out) {
    VJSONValue param = GetParam(index);
    if (param.IsNumber()) {
        if (out != nullptr) *out = param.GetNumber();
        return true;
    }
    if (param.IsUndefined()) {
        fParametersValid = false;
        return false;
    }
    _Refuse(VE_JSON_PARAM_NOT_A_NUMBER);
    return false;
}

bool IJSONFunctionContext::GetBoolParam(int32 index) {
    VJSONValue param = GetParam(index);
    if (!param.IsBool()) _Refuse(VE_JSON_PARAM_NOT_A_BOOLEAN);
    return param.GetBool();
}

VString IJSONFunctionContext::GetStringParam(int32 index) {
    VJSONValue param = GetParam(index);
    VString text;
    if (!param.IsString()) {
        _Refuse(VE_JSON_PARAM_NOT_A_STRING);
        return text;
    }
    param.GetString(text);
    return text;
}

VRefPtr<VJSONObject> IJSONFunctionContext::GetObjectParam(int32 index) {
    VJSONValue param = GetParam(index);
    if (!param.IsObject()) _Refuse(VE_JSON_PARAM_NOT_AN_OBJECT);
    return VRefPtr<VJSONObject>(param.GetObjectPtr());
}

VRefPtr<VJSONArray> IJSONFunctionContext::GetArrayParam(int32 index) {
    VJSONValue param = GetParam(index);
    if (!param.IsArray()) _Refuse(VE_JSON_PARAM_NOT_AN_OBJECT);
    return VRefPtr<VJSONArray>(param.GetArrayPtr());
}

VJSONBlobRange IJSONFunctionContext::GetBlobParam(int32 index, bool optional) {
    VJSONValue param = GetParam(index);
    const VJSONBlob* blob = VJSONBlob::CastJSONObject(param.GetObjectPtr());
    if (blob == nullptr) {
        if (!optional) _Refuse(VE_JSON_PARAM_NOT_AN_OBJECT);
        return {};
    }
    return VJSONBlobRange{1, blob->GetData(), blob->GetSize()};
}

VJSONClass* IJSONFunctionContext::GetScopeClass() const {
    VJSONObject* function = GetScopeFunctionObject();
    if (function == nullptr || function->GetImplementation() == nullptr) return nullptr;
    return function->GetImplementation()->IJSON_GetFunctionClassOwner(function);
}

} // namespace vela
