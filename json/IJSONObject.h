#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VString.h"

#include <vector>

namespace vela {

class IJSONFunctionContext;
class VDBLanguageContext;
class VJSONClass;
class VJSONCloner;
class VJSONIter;
class VJSONObject;
class VJSONStamp;
class VJSONValue;
class VJSONWriter;
class VValueSingle;
template <size_t Granularity, size_t Divisor, size_t Cap> class VMemoryBuffer;

// Result of native JSON functions and of object implementation hooks.
enum EJSONStatus : int32 {
    EJSONStatus_done = 0,
    EJSONStatus_notHandled = 1, // the object applies its own behaviour
    EJSONStatus_failed = 2,     // an error was raised
};

// Behaviour that a JSON object may carry as its implementation. Every hook's default leaves the work to the
// object (status 1, or the neutral answer noted), so an implementation overrides only what it computes itself.
class IJSONObject : public IRefCountable {
public:
    ~IJSONObject() override = default;

    virtual EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& /*name*/, VJSONValue& /*out*/,
                                          VDBLanguageContext*) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_BeginChangeProperties() { return EJSONStatus_notHandled; }
    virtual EJSONStatus IJSON_EndChangeProperties() { return EJSONStatus_notHandled; }
    virtual EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& /*name*/, const VJSONValue&,
                                          VDBLanguageContext*) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString& /*name*/) { return EJSONStatus_notHandled; }
    virtual bool IJSON_Clear(VJSONObject*) { return true; }
    // Default: true when IJSON_GetPropertyNames gives no name.
    virtual bool IJSON_IsEmpty(const VJSONObject*);
    virtual EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString& /*out*/, VError*) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& /*out*/, VError*) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& /*out*/, VError*) {
        return EJSONStatus_notHandled;
    }
    // 0: no binary signature.
    virtual uint32 IJSON_GetBinarySignature() { return 0; }
    virtual void IJSON_GetValueToWriteToBuffer(VJSONValue&) {}
    // Default: raises library error 915 (cannot be written as binary JSON), stores it in err and answers failed.
    virtual EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>&, VError* err);
    // The names the implementation reports (flags as given by the property iterators).
    virtual EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& /*names*/, uint32 /*flags*/) {
        return EJSONStatus_notHandled;
    }
    // A new value owned by the caller, or null.
    virtual VValueSingle* IJSON_CreateVValue() { return nullptr; }
    virtual EJSONStatus IJSON_GetPropertyStamp(const VString& /*name*/, uint32* /*stamp*/) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_TouchPropertyStamp(const VString& /*name*/) { return EJSONStatus_notHandled; }
    virtual EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& /*out*/) { return EJSONStatus_notHandled; }
    virtual EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject*, size_t /*index*/, VJSONValue& /*out*/) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject*, size_t* /*count*/) {
        return EJSONStatus_notHandled;
    }
    // A new iterator (the caller releases it) that walks the object in place of its property names, or null.
    // start and end are those given to VJSONIter (negative ones count from the end).
    virtual VJSONIter* IJSON_MakeIterator(const VJSONObject*, int32 /*start*/, int32 /*end*/, bool /*toEnd*/) {
        return nullptr;
    }
    virtual EJSONStatus IJSON_GetClassName(const VJSONObject*, VString& /*out*/) { return EJSONStatus_notHandled; }
    virtual EJSONStatus IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject*, bool* /*equal*/) {
        return EJSONStatus_notHandled;
    }
    virtual EJSONStatus IJSON_IsSharable(const VJSONObject*, bool& sharable) {
        sharable = false;
        return EJSONStatus_done;
    }
    virtual EJSONStatus IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext*) {
        return EJSONStatus_notHandled;
    }
    virtual VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject*) { return nullptr; }
    virtual EJSONStatus IJSON_SetJSONStamp(VJSONStamp*) { return EJSONStatus_notHandled; }
    // Called when the object takes (and leaves) this implementation: the place to connect values it keeps.
    virtual void IJSON_DoConnectDependencies(VJSONObject*) {}
    virtual void IJSON_DoDisconnectDependencies(VJSONObject*) {}

    // True when the implementation reports itself sharable between tasks.
    bool IsSharable(const VJSONObject* object) {
        bool sharable = false;
        IJSON_IsSharable(object, sharable);
        return sharable;
    }
};

} // namespace vela
