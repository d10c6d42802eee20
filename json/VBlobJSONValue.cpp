// The blob value read from and written to JSON blob objects.

#include "values/VBlob.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

namespace vela {

VError VBlobWithPtr::FromJSONValue(const VJSONValue& json) {
    Clear();
    if (const VJSONBlob* blob = VJSONBlob::CastJSONObject(json.GetObjectPtr()))
        return PutData(blob->GetData(), blob->GetSize(), 0);
    SetNull(true);
    return VE_OK;
}

VError VBlobWithPtr::GetJSONValue(VJSONValue& json, uint32) const {
    VRefPtr<VJSONObject> blob = VJSONBlob::Create(GetDataPtr(), GetSize());
    if (blob.Get() == nullptr) {
        json.SetUndefined();
        return VE_MEMORY_FULL;
    }
    json.SetObject(blob.Get());
    return VE_OK;
}

} // namespace vela
