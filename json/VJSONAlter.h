#pragma once

#include "core/VString.h"
#include "json/VJSONValue.h"

namespace vela {

class VJSONArray;
class VTime;

// Sets one value at a property path of a target value, an action made at construction: a target that is not an
// object first becomes a new empty object, then the value is stored with VJSONObject::SetPropertyWithPath (a
// dotted path with [index] parts; missing objects and arrays are made on the way). Objects and arrays are stored
// by reference. Whether the store succeeded is kept (a failed path raised its error).
class VJSONAlter {
public:
    VJSONAlter(VJSONValue& target, const VString& path, bool value);
    VJSONAlter(VJSONValue& target, const VString& path, int value);
    VJSONAlter(VJSONValue& target, const VString& path, double value);
    VJSONAlter(VJSONValue& target, const VString& path, const VString& value);
    // ASCII text, else UTF-8.
    VJSONAlter(VJSONValue& target, const VString& path, const char* value);
    // Zero-terminated UTF-16 text.
    VJSONAlter(VJSONValue& target, const VString& path, const UniChar* value);
    VJSONAlter(VJSONValue& target, const VString& path, const VJSONValue& value);
    // A string: the time's JSON text (RFC 3339 in UTC with milliseconds, no quotes), not a time value.
    VJSONAlter(VJSONValue& target, const VString& path, const VTime& value);
    // A new value of kind type (a new empty object or array for those kinds); *created (when given) receives the
    // new array for the array kind and null otherwise (also when the store failed), borrowed from the target.
    VJSONAlter(VJSONValue& target, const VString& path, JSONType type, VJSONArray** created = nullptr);
    // Removes the property name (a plain name, not a path) when target is an object; nothing otherwise.
    VJSONAlter(VJSONValue& target, const VString& name);
    // Only makes target an object.
    explicit VJSONAlter(VJSONValue& target);

    // False when the path was malformed or went through a scalar.
    bool IsDone() const noexcept { return fDone; }

private:
    static void _MakeObjIfNecessary(VJSONValue& target);
    void _Set(VJSONValue& target, const VString& path, const VJSONValue& value);

    bool fDone = true;
};

} // namespace vela
