#include "json/VJSONFunctionContext.h"

namespace vela {

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray,
                                           IJSONFunctionContext* outer) noexcept
    : fThisObject(thisObject), fThisArray(thisArray), fOuter(outer) {
    if (outer == nullptr) return;
    fBaseContext = outer->GetBaseContext();
    fLanguageContext = outer->GetLanguageContext();
}

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray,
                                           std::vector<VJSONValue>* params, CDBZoBaseContext* base,
                                           VDBLanguageContext* languageContext) noexcept
    : fThisObject(thisObject), fThisArray(thisArray), fParams(params), fBaseContext(base),
      fLanguageContext(languageContext) {}

VJSONFunctionContext::~VJSONFunctionContext() = default;

void VJSONFunctionContext::SetResult(const VJSONValue& result, uint8 legacyKind) {
    if (fOuter != nullptr) {
        fOuter->SetResult(result, 5);
        return;
    }
    fResult = result;
    fResultLegacyKind = legacyKind;
}

void VJSONFunctionContext::GetResult(VJSONValue& out) const {
    if (fOuter != nullptr) {
        fOuter->GetResult(out);
        return;
    }
    out = fResult;
}

EJSONStatus VJSONFunctionContext::GetParametersAsJSONValues(std::vector<VJSONValue>** out) {
    if (fOuter != nullptr) return fOuter->GetParametersAsJSONValues(out);
    if (out != nullptr) *out = fParams;
    return EJSONStatus_done;
}

EJSONStatus VJSONFunctionContext::GetParameterList(void** list, int* count, void** extra, bool* flag) {
    if (fOuter != nullptr) return fOuter->GetParameterList(list, count, extra, flag);
    return EJSONStatus_notHandled;
}

size_t VJSONFunctionContext::GetParamCount() const {
    if (fOuter != nullptr) return fOuter->GetParamCount();
    return fParams != nullptr ? fParams->size() : 0;
}

VJSONValue VJSONFunctionContext::GetParam(int32 index) const {
    if (fOuter != nullptr) return fOuter->GetParam(index);
    if (fParams == nullptr || index < 1 || uint64(index) > fParams->size()) return VJSONValue(JSON_undefined);
    return (*fParams)[size_t(index) - 1];
}

VJSONObject* VJSONFunctionContext::GetScopeThisObject() const {
    return fOuter != nullptr ? fOuter->GetScopeThisObject() : nullptr;
}

VJSONObject* VJSONFunctionContext::GetScopeFunctionObject() const {
    return fOuter != nullptr ? fOuter->GetScopeFunctionObject() : nullptr;
}

} // namespace vela
