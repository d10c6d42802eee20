#pragma once

#include "core/VObject.h"
#include "json/IJSONFunctionContext.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

// A function context. Built over an outer context, it re-targets "this" and forwards everything else (the
// result, the parameters, the scope) to the outer one. Built as a root (no outer context), it holds the
// parameters and the result itself. Pointers given to it are borrowed: they must outlive the context.
class VJSONFunctionContext : public VObject, public IJSONFunctionContext {
public:
    // Over outer, whose base and language contexts are copied now. A null outer makes a root without parameters.
    VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, IJSONFunctionContext* outer) noexcept;
    // A root context: params (may be null) numbered from 1, the result undefined until set.
    VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* params,
                         CDBZoBaseContext* base, VDBLanguageContext* languageContext) noexcept;
    ~VJSONFunctionContext() override;

    VJSONObject* GetThisObject() const override { return fThisObject; }
    VJSONArray* GetThisArray() const override { return fThisArray; }
    // Over an outer context the result goes there, with the kind 5; a root keeps it with legacyKind.
    void SetResult(const VJSONValue& result, uint8 legacyKind = 5) override;
    void GetResult(VJSONValue& out) const override;
    // This context's own fields, also over an outer context.
    uint8 GetResultLegacyValueKind() const override { return fResultLegacyKind; }
    bool GetResultIsExpected() const override { return fResultIsExpected; }
    EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** out) override;
    EJSONStatus GetParameterList(void** list, int* count, void** extra, bool* flag) override;
    CDBZoBaseContext* GetBaseContext() const override { return fBaseContext; }
    VDBLanguageContext* GetLanguageContext() const override { return fLanguageContext; }
    size_t GetParamCount() const override;
    VJSONValue GetParam(int32 index) const override;
    VJSONObject* GetScopeThisObject() const override;
    VJSONObject* GetScopeFunctionObject() const override;

private:
    VJSONObject* fThisObject;
    VJSONArray* fThisArray;
    std::vector<VJSONValue>* fParams = nullptr;
    VJSONValue fResult;
    uint8 fResultLegacyKind = 5;
    bool fResultIsExpected = true;
    CDBZoBaseContext* fBaseContext = nullptr;
    VDBLanguageContext* fLanguageContext = nullptr;
    IJSONFunctionContext* fOuter = nullptr;
};

} // namespace vela
