#pragma once

#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/IJSONObject.h"
#include "json/VJSONErrors.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

class CDBZoBaseContext;
class VDBLanguageContext;
class VJSONArray;
class VJSONClass;
class VJSONObject;

// Parameters of a native function of the wrong kind.
constexpr VError VE_JSON_PARAM_NOT_A_NUMBER = MakeJSONRuntimeError(7);
constexpr VError VE_JSON_PARAM_NOT_A_STRING = MakeJSONRuntimeError(8);
constexpr VError VE_JSON_PARAM_NOT_AN_OBJECT = MakeJSONRuntimeError(54);
constexpr VError VE_JSON_PARAM_NOT_A_BOOLEAN = MakeJSONRuntimeError(55);

// A blob parameter's bytes, borrowed from the blob: found is 0 (and the rest zero) when the parameter is none.
struct VJSONBlobRange {
    uint32 fFound = 0;
    const void* fData = nullptr; // null for an empty blob
    size_t fSize = 0;
};

// What a native member function receives: "this", its parameters (numbered from 1) and the place of its result.
// The base and language contexts are handles of an outside host, only passed through.
// The typed getters never stop a function by themselves: a parameter of the wrong kind raises an error and
// clears the parameters-valid flag, which a function that wants to stop on bad parameters tests afterwards.
class IJSONFunctionContext {
public:
    IJSONFunctionContext() noexcept = default;
    IJSONFunctionContext(const IJSONFunctionContext&) = delete;
    IJSONFunctionContext& operator=(const IJSONFunctionContext&) = delete;
    virtual ~IJSONFunctionContext() = default;

    // "this" as an object or as an array (either may be null); borrowed.
    virtual VJSONObject* GetThisObject() const = 0;
    virtual VJSONArray* GetThisArray() const = 0;
    // The function's result, with the kind of value the host expects (5 when it has no preference).
    virtual void SetResult(const VJSONValue& result, uint8 legacyKind = 5) = 0;
    virtual void GetResult(VJSONValue& out) const = 0;
    virtual uint8 GetResultLegacyValueKind() const = 0;
    virtual bool GetResultIsExpected() const = 0;
    // *out: the parameter vector (may be null); borrowed.
    virtual EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** out) = 0;
    // The host's own parameter list; not handled (1) unless a host provides one.
    virtual EJSONStatus GetParameterList(void** /*list*/, int* /*count*/, void** /*extra*/, bool* /*flag*/) {
        return EJSONStatus_notHandled;
    }
    virtual CDBZoBaseContext* GetBaseContext() const = 0;
    virtual VDBLanguageContext* GetLanguageContext() const = 0;
    virtual size_t GetParamCount() const = 0;
    // Parameter index (1 to the count); undefined outside.
    virtual VJSONValue GetParam(int32 index) const = 0;
    // The bytes of a blob parameter (VJSONBlob); another kind raises 'ZoRT' 54 unless optional.
    virtual VJSONBlobRange GetBlobParam(int32 index, bool optional);
    // The "this" and the function object of the calling scope, or null; borrowed.
    virtual VJSONObject* GetScopeThisObject() const = 0;
    virtual VJSONObject* GetScopeFunctionObject() const = 0;

    // ---- Typed parameter getters: a wrong kind clears the flag and raises the error noted.
    // The parameter's number (VJSONValue::GetNumber, also after the error); 'ZoRT' 7.
    double GetNumberParam(int32 index);
    // The same as an int32, truncated toward zero; NaN gives 0 and values out of range saturate.
    int32 GetLongParam(int32 index);
    // True with *out set for a number. A missing (undefined) parameter: false and the flag cleared, no error.
    // Other kinds: false with 'ZoRT' 7.
    bool GetNumberOptParam(int32 index, double* out);
    // The parameter's truth (VJSONValue::GetBool, also after the error); 'ZoRT' 55 unless false or true.
    bool GetBoolParam(int32 index);
    // The text; empty after 'ZoRT' 8.
    VString GetStringParam(int32 index);
    // The object (array) with a reference; null after 'ZoRT' 54.
    VRefPtr<VJSONObject> GetObjectParam(int32 index);
    VRefPtr<VJSONArray> GetArrayParam(int32 index);
    // The class that owns the scope's function object (its implementation's IJSON_GetFunctionClassOwner); null
    // without function object or implementation. Borrowed.
    VJSONClass* GetScopeClass() const;

    bool AreParametersValid() const noexcept { return fParametersValid; }
    void SetParametersValid(bool valid) noexcept { fParametersValid = valid; }

private:
    void _Refuse(VError error) noexcept;

    bool fParametersValid = true;
};

} // namespace vela
