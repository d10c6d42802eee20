// Calling an object as a function.

#include "json/IJSONObject.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONObject.h"

namespace vela {

EJSONStatus VJSONObject::CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* params,
                                        VJSONValue& result, CDBZoBaseContext* base, VDBLanguageContext* context) const {
    if (fImplementation == nullptr) return EJSONStatus_notHandled;
    // The implementation may drop this object's last outside reference while it runs.
    VRefPtr<IJSONObject> implementation(fImplementation);
    VRefPtr<const VJSONObject> self(this);
    VJSONFunctionContext call(thisObject, thisArray, params, base, context);
    EJSONStatus status = implementation->IJSON_CallAsFunction(this, &call);
    call.GetResult(result);
    return status;
}

} // namespace vela
