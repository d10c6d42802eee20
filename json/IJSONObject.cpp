#include "json/IJSONObject.h"

#include "core/VMemoryBuffer.h"
#include "json/VJSONErrors.h"

namespace vela {

bool IJSONObject::IJSON_IsEmpty(const VJSONObject*) {
    std::vector<VString> names;
    IJSON_GetPropertyNames(names, 0);
    return names.empty();
}

EJSONStatus IJSONObject::IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>&, VError* err) {
    _ThrowError(VE_JSON_NO_BINARY_FORM);
    if (err != nullptr) *err = VE_JSON_NO_BINARY_FORM;
    return EJSONStatus_failed;
}

} // namespace vela
