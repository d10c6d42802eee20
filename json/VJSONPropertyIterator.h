#pragma once

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/VJSONObject.h"
#include "json/VJSONUser.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

class VDBLanguageContext;

// Walks the property names of an object: first the names its implementation reports (unless flags has bit 1),
// then its own properties in the order they were added. When the object is shared (a storage locker, or a
// sharable implementation) the names are copied at construction under the read lock, so the walk survives later
// changes; otherwise the own properties are read in place, and the object must not lose properties meanwhile.
// The iterator holds a reference to the object.
class VJSONPropertyConstOrderedIterator {
public:
    explicit VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 flags = 0);

    // True while the iterator stands on a property.
    bool IsValid() const noexcept;
    VJSONPropertyConstOrderedIterator& operator++() noexcept;
    // The current name (valid until the next step).
    const VString& GetName() const;
    // The current value: through GetProperty for the implementation's or class's names, directly for own
    // properties.
    VJSONValue GetValue(VDBLanguageContext* context = nullptr) const;
    // True when the current name is one of the implementation's or class's.
    bool IsImplementationName() const noexcept { return fPosition < fImplementationNames.size(); }

protected:
    // withGetters: when the object has no implementation, or its implementation reports no names, the names of
    // its class's getters come first instead (those that are not own properties, which hide them).
    VJSONPropertyConstOrderedIterator(const VJSONObject* object, uint32 flags, bool withGetters);

    VRefPtr<const VJSONObject> fObject;
    std::vector<VString> fImplementationNames;
    std::vector<VString> fOwnNames; // the own names when copied
    bool fCopied = false;
    size_t fPosition = 0; // over the implementation's names, then the own properties
    mutable VString fName;

    size_t _CountOwn() const noexcept;
};

// The names in no promised order: the implementation's names, or the class's getter names when the
// implementation reports none, then the own properties. Takes no locker in use.
class VJSONPropertyConstIterator : public VJSONPropertyConstOrderedIterator {
public:
    explicit VJSONPropertyConstIterator(const VJSONObject* object)
        : VJSONPropertyConstOrderedIterator(object, 0, true) {}
};

namespace Private {
// Takes the locker in use before the iterator's base copies any name.
struct JSONUserHolder {
    explicit JSONUserHolder(const VJSONObject* object) : fUser(object) {}
    VJSONUser fUser;
};
} // namespace Private

// The walk of VJSONPropertyConstIterator with the object's storage locker in use for the iterator's lifetime
// (waiting for it), so that it may change the values it passes: SetValue writes the current property through
// SetProperty; an undefined value is ignored on an own property, so the walk never removes the property it
// stands on.
class VJSONPropertyIterator : private Private::JSONUserHolder, public VJSONPropertyConstOrderedIterator {
public:
    explicit VJSONPropertyIterator(VJSONObject* object)
        : Private::JSONUserHolder(object), VJSONPropertyConstOrderedIterator(object, 0, true), fMutable(object) {}

    bool SetValue(const VJSONValue& value, VDBLanguageContext* context = nullptr);

private:
    VJSONObject* fMutable;
};

} // namespace vela
