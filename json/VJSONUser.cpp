#include "json/VJSONUser.h"

#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

namespace vela {

VJSONUser::VJSONUser(const VJSONObject* object, bool tryMode) {
    if (object != nullptr) fLocker = object->GetStorageLocker();
    _Take(tryMode);
}

VJSONUser::VJSONUser(const VJSONArray* array, bool tryMode) {
    if (array != nullptr) fLocker = array->GetStorageLocker();
    _Take(tryMode);
}

VJSONUser::VJSONUser(const VJSONValue& value, bool tryMode) {
    if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) {
        fLocker = object->GetStorageLocker();
    } else if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) {
        fLocker = array->GetStorageLocker();
    }
    _Take(tryMode);
}

VJSONUser::VJSONUser(VStorageLocker* locker, bool tryMode) : fLocker(locker) {
    _Take(tryMode);
}

VJSONUser::~VJSONUser() {
    if (fLocker && fInUse) fLocker->EndUse();
}

void VJSONUser::_Take(bool tryMode) {
    if (!fLocker) return;
    fInUse = tryMode ? fLocker->TryToUse() : fLocker->Use();
}

} // namespace vela
