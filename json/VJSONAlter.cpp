#include "json/VJSONAlter.h"

#include "values/VTime.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"

namespace vela {

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, bool value) {
    _Set(target, path, VJSONValue(value ? JSON_true : JSON_false));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, int value) {
    _Set(target, path, VJSONValue(double(value)));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, double value) {
    _Set(target, path, VJSONValue(value));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, const VTime& value) {
    VString text;
    value.GetJSONString(text, 0);
    _Set(target, path, VJSONValue(text));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, const VString& value) {
    _Set(target, path, VJSONValue(value));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, const char* value) {
    _Set(target, path, VJSONValue(VString(value)));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, const UniChar* value) {
    _Set(target, path, VJSONValue(VString(value)));
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, const VJSONValue& value) {
    _Set(target, path, value);
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& path, JSONType type, VJSONArray** created) {
    VJSONValue value(type);
    _Set(target, path, value);
    // Only a stored array outlives this call.
    if (created != nullptr) *created = fDone ? value.GetArrayPtr() : nullptr;
}

VJSONAlter::VJSONAlter(VJSONValue& target, const VString& name) {
    if (VJSONObject* object = target.GetObjectPtr(); object != nullptr) object->RemoveProperty(name);
}

VJSONAlter::VJSONAlter(VJSONValue& target) {
    _MakeObjIfNecessary(target);
}

void VJSONAlter::_MakeObjIfNecessary(VJSONValue& target) {
    if (target.IsObject()) return;
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    target.SetObject(object.Get());
}

void VJSONAlter::_Set(VJSONValue& target, const VString& path, const VJSONValue& value) {
    _MakeObjIfNecessary(target);
    fDone = target.GetObjectPtr()->SetPropertyWithPath(path, value, nullptr);
}

} // namespace vela
