// The errors of a context saved as a JSON array.

#include "core/VErrorContext.h"

#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

namespace vela {

void VErrorContext::SaveToJSONArray(VJSONValue& out) const {
    if (fErrors.empty()) {
        out.SetUndefined();
        return;
    }
    auto array = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    for (const VRefPtr<VErrorBase>& error : fErrors) {
        VJSONObject* object = error->CreateJSONObject();
        array->Push(VJSONValue(object));
        ReleaseRefCountable(&object);
    }
    out.SetArray(array.Get());
}

} // namespace vela
