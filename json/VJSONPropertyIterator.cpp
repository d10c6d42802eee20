#include "json/VJSONPropertyIterator.h"

#include "json/IJSONObject.h"
#include "json/VJSONClass.h"
#include "json/VStorageLocker.h"

#include <algorithm>

namespace vela {

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 flags)
    : VJSONPropertyConstOrderedIterator(object, flags, false) {}

VJSONPropertyConstOrderedIterator::VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 flags,
                                                                     bool withGetters)
    : fObject(object) {
    if (object == nullptr) return;
    IJSONObject* implementation = object->fImplementation;
    bool reported = false;
    if (implementation != nullptr && (flags & 1) == 0) {
        reported = implementation->IJSON_GetPropertyNames(fImplementationNames, flags) != EJSONStatus_notHandled;
        if (!reported) fImplementationNames.clear();
    }
    const bool getters = withGetters && !reported && object->fClass != nullptr;
    if (getters) object->fClass->GetGetterNames(fImplementationNames);
    bool shared = object->fLocker != nullptr || (implementation != nullptr && implementation->IsSharable(object));
    if (!shared) {
        if (getters) {
            std::erase_if(fImplementationNames,
                          [object](const VString& name) { return object->fProperties.Find(name) >= 0; });
        }
        return;
    }
    VJSONReadLock lock(object);
    fCopied = true;
    std::erase_if(fImplementationNames, [object](const VString& name) { return object->fProperties.Find(name) >= 0; });
    fOwnNames.reserve(object->fProperties.GetCount());
    for (const VJSONPropertyMap::Property& property : object->fProperties) {
        VString name;
        property.fName.ToString(name);
        fOwnNames.push_back(std::move(name));
    }
}

size_t VJSONPropertyConstOrderedIterator::_CountOwn() const noexcept {
    if (fObject.Get() == nullptr) return 0;
    return fCopied ? fOwnNames.size() : fObject->fProperties.GetCount();
}

bool VJSONPropertyConstOrderedIterator::IsValid() const noexcept {
    return fPosition < fImplementationNames.size() + _CountOwn();
}

VJSONPropertyConstOrderedIterator& VJSONPropertyConstOrderedIterator::operator++() noexcept {
    if (IsValid()) ++fPosition;
    return *this;
}

const VString& VJSONPropertyConstOrderedIterator::GetName() const {
    if (!IsValid()) {
        fName.Clear();
    } else if (IsImplementationName()) {
        return fImplementationNames[fPosition];
    } else if (size_t own = fPosition - fImplementationNames.size(); fCopied) {
        return fOwnNames[own];
    } else {
        fObject->fProperties.At(own).fName.ToString(fName);
    }
    return fName;
}

VJSONValue VJSONPropertyConstOrderedIterator::GetValue(VDBLanguageContext* context) const {
    if (!IsValid()) return VJSONValue(JSON_undefined);
    if (IsImplementationName()) return fObject->GetProperty(fImplementationNames[fPosition], context);
    size_t own = fPosition - fImplementationNames.size();
    if (fCopied) return fObject->GetOwnProperty(fOwnNames[own]);
    return fObject->fProperties.At(own).fValue;
}

bool VJSONPropertyIterator::SetValue(const VJSONValue& value, VDBLanguageContext* context) {
    if (!IsValid()) return false;
    if (!IsImplementationName() && value.IsUndefined()) return true;
    return fMutable->SetProperty(GetName(), value, context);
}

} // namespace vela
