#include "json/VJSONClass.h"

#include "files/IFileSystemObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"

#include <algorithm>
#include <mutex>

namespace vela {

namespace {

std::atomic<uint32> sSequenceID{0};
std::atomic<VJSONClass::SingletonProvider> sSingletonProvider{nullptr};

const VString kPrototype("__prototype");
const VString kMe("me");
const VString kIsSingleton("isSingleton");
const VString kIsShared("isShared");
const VString kName("name");
const VString kSuperclass("superclass");
const VString kFile("__file");
const VString kID("_id");
const VString kProperties("__properties");
const VString kFinal("final");
const VString kHidden("__hidden");
const VString kEventName("eventName");
const VString kDescription("_description");
const VString kConstant("constant");
const VString kConstructor("constructor");
const VString kGet("get");
const VString kSet("set");
const VString kInit("init");

// Raises error about the property name; the refusal of a write.
EJSONStatus Refuse(VError error, const VString& name) {
    _ThrowError(error, &name);
    return EJSONStatus_failed;
}

VJSONValue TrueValue() {
    return VJSONValue(JSON_true);
}

// A context over the caller's in which the running function is the scope's function and "this" its "this":
// what super calls and the super constructor look for.
class VMemberCallContext : public VJSONFunctionContext {
public:
    VMemberCallContext(const VJSONObject* function, IJSONFunctionContext* outer)
        : VJSONFunctionContext(outer->GetThisObject(), outer->GetThisArray(), outer), fFunction(function) {}
    VJSONObject* GetScopeThisObject() const override { return GetThisObject(); }
    VJSONObject* GetScopeFunctionObject() const override { return const_cast<VJSONObject*>(fFunction); }

private:
    const VJSONObject* fFunction;
};

// Calls function with "this" set to thisObject over outer (its parameters and result), or over a fresh root
// context without outer.
EJSONStatus CallWithThis(VJSONObject* function, VJSONObject* thisObject, IJSONFunctionContext* outer) {
    IJSONObject* implementation = function->GetImplementation();
    if (implementation == nullptr) return EJSONStatus_notHandled;
    VRefPtr<IJSONObject> keep(implementation);
    if (outer == nullptr) {
        VJSONFunctionContext root(thisObject, nullptr, nullptr, nullptr, nullptr);
        return implementation->IJSON_CallAsFunction(function, &root);
    }
    VJSONFunctionContext call(thisObject, nullptr, outer);
    return implementation->IJSON_CallAsFunction(function, &call);
}

} // namespace

// ---- Creation

void VJSONClass::SetSingletonProvider(SingletonProvider provider) noexcept {
    sSingletonProvider.store(provider, std::memory_order_release);
}

VJSONClass::VJSONClass(const VString& name, const VString& storeName, VJSONObject* superclassObject, IFile* file,
                       uint32 flags)
    : fName(name), fStoreName(storeName), fSuperclassObject(superclassObject),
      fSequenceID(sSequenceID.fetch_add(1, std::memory_order_relaxed) + 1), fFlags(flags) {
    fSuperclass = FromClassObject(superclassObject);
    if (fSuperclass != nullptr) {
        fDepth = fSuperclass->fDepth + 1;
        fFunctionClassObject = fSuperclass->fFunctionClassObject;
    }
    fInstantiator = (flags & kShared) != 0 ? SharedObjectInstantiator : GenericInstantiator;
    fLocker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker);
    fPrototype = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, fLocker.Get(), true));
    if (file != nullptr) {
        fFile = file;
        fFile->Retain();
        if (fFile->GetTimeAttributes(&fModified) != VE_OK) VTime::Now(fModified);
    } else {
        VTime::Now(fModified);
    }
}

VJSONClass::~VJSONClass() {
    ReleaseSingleton();
    if (fFile != nullptr) fFile->Release();
}

VJSONClass* VJSONClass::FromClassObject(const VJSONObject* classObject) noexcept {
    if (classObject == nullptr) return nullptr;
    return dynamic_cast<VJSONClass*>(classObject->GetImplementation());
}

VRefPtr<VJSONObject> VJSONClass::_MakeClassObject(VJSONClass* cls, VJSONClass* classClass) {
    VJSONObject* classClassObject = classClass != nullptr ? classClass->fClassObject : nullptr;
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(classClassObject, cls, true));
    cls->fClassObject = object.Get();
    return object;
}

VRefPtr<VJSONObject> VJSONClass::Create(const VString& name, VJSONObject* superclassObject, IFile* file,
                                        const VString& storeName, uint32 flags) {
    VRefPtr<VJSONObject> root;
    if (superclassObject == nullptr) {
        if (VRefPtr<VJSONClassStore> store = VJSONClassStore::GetProcessStore()) root = store->GetObjectClassObject();
        superclassObject = root.Get();
    } else if (FromClassObject(superclassObject) == nullptr) {
        _ThrowError(VE_JSON_SUPERCLASS_NOT_A_CLASS);
        return {};
    }
    auto cls = VRefPtr<VJSONClass>::Adopt(new VJSONClass(name, storeName, superclassObject, file, flags));
    // A class object is of the class of its superclass's class object: "Class" of the same store.
    VJSONClass* classClass = superclassObject != nullptr ? superclassObject->GetClass() : nullptr;
    return _MakeClassObject(cls.Get(), classClass);
}

VRefPtr<VJSONObject> VJSONClass::Create(const VString& name, const std::vector<FunctionDescriptor>& functions,
                                        VJSONObject* superclassObject, JSONNativeFunction constructor,
                                        JSONInstantiator instantiator, const VString& storeName, uint32 flags) {
    VRefPtr<VJSONObject> object = Create(name, superclassObject, nullptr, storeName, flags);
    if (VJSONClass* cls = FromClassObject(object.Get())) cls->SetFunctions(functions, constructor, instantiator);
    return object;
}

// ---- Functions

void VJSONClass::SetFunctions(const std::vector<FunctionDescriptor>& functions, JSONNativeFunction constructor,
                              JSONInstantiator instantiator) {
    if (AreFunctionsSet()) return;
    NamedFunctions named;
    named.reserve(functions.size());
    uint32 common = (fFlags & kFinalFunctions) != 0 ? uint32(kFunctionFinal) : 0u;
    for (const FunctionDescriptor& descriptor : functions) {
        VRefPtr<VJSONObject> function =
            VJSONMemberFunction::Create(descriptor.fFunction, descriptor.fName, this, common | descriptor.fFlags);
        named.emplace_back(descriptor.fName, std::move(function));
    }
    VRefPtr<VJSONObject> constructorObject;
    if (constructor != nullptr) constructorObject = VJSONMemberFunction::Create(constructor, kConstructor, this, 0);
    SetFunctions(named, constructorObject.Get(), instantiator);
}

void VJSONClass::_PutAccessor(VRefPtr<VJSONObject>& target, const VString& name, VJSONObject* function,
                              VJSONFunctionMap& map) {
    if (!target) target = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, fLocker.Get(), true));
    if (target->SetOwnProperty(name, VJSONValue(function))) map[name] = VRefPtr<VJSONObject>(function);
}

namespace {

bool IsFinal(const VJSONObject* function) {
    VJSONValue final = function->GetOwnProperty(kFinal);
    return final.IsBool() && final.GetBool();
}

} // namespace

void VJSONClass::SetFunctions(const NamedFunctions& functions, VJSONObject* constructor,
                              JSONInstantiator instantiator) {
    std::lock_guard<VCriticalSection> lock(fLock);
    if (AreFunctionsSet()) return;
    fConstructor = constructor;
    // Without one of its own the class keeps the default its flags chose.
    if (instantiator != nullptr) fInstantiator = instantiator;
    if (fSuperclass != nullptr && fSuperclass->AreFunctionsSet()) {
        fFunctions = fSuperclass->fFunctions;
        fGetterMap = fSuperclass->fGetterMap;
        fSetterMap = fSuperclass->fSetterMap;
        fInitMap = fSuperclass->fInitMap;
        fInitOrder = fSuperclass->fInitOrder;
    }
    // Functions and accessor objects live in the class's locker; the functions join it when stored.
    VJSONUser user(fLocker.Get());
    for (const auto& [name, function] : functions) {
        if (!function) continue;
        if (auto inherited = fFunctions.find(name); inherited != fFunctions.end() && IsFinal(inherited->second.Get())) {
            // A subclass never replaces a final function: the inherited one stays.
            VJSONValue description = inherited->second->GetProperty(kDescription);
            VString text;
            description.GetString(text);
            _ThrowError(VE_JSON_OVERRIDES_FINAL, &text);
            continue;
        }
        if (!fPrototype->SetOwnProperty(name, VJSONValue(function.Get()))) continue;
        fFunctions[name] = function;
        int32 space = name.FindUniChar(' ');
        if (space <= 0) continue;
        VString word;
        VString rest;
        name.GetSubString(1, space - 1, word);
        name.GetSubString(space + 1, name.GetLength() - space, rest);
        function->SetOwnProperty(kEventName, VJSONValue(word));
        if (word.EqualToStringRaw(kGet)) {
            _PutAccessor(fGetters, rest, function.Get(), fGetterMap);
        } else if (word.EqualToStringRaw(kSet)) {
            _PutAccessor(fSetters, rest, function.Get(), fSetterMap);
        } else if (word.EqualToStringRaw(kInit)) {
            if (fInitMap.find(rest) == fInitMap.end()) fInitOrder.push_back(rest);
            _PutAccessor(fInits, rest, function.Get(), fInitMap);
        }
    }
    for (const auto& [name, getter] : fGetterMap) {
        if (fSetterMap.find(name) != fSetterMap.end()) continue;
        if (!fReadOnlySetter)
            fReadOnlySetter =
                VJSONMemberFunction::Create(do_errorReadOnlyAttribute, "set " + name, this, kFunctionFinal);
        fSetterMap[name] = fReadOnlySetter;
    }
    for (const auto& [name, setter] : fSetterMap) {
        if (fGetterMap.find(name) != fGetterMap.end()) continue;
        if (!fWriteOnlyGetter)
            fWriteOnlyGetter =
                VJSONMemberFunction::Create(do_errorWriteOnlyAttribute, "get " + name, this, kFunctionFinal);
        fGetterMap[name] = fWriteOnlyGetter;
    }
    fFunctionsSet.store(true, std::memory_order_release);
}

namespace {

VJSONObject* Lookup(const VJSONFunctionMap& map, const VString& name) {
    auto found = map.find(name);
    return found != map.end() ? found->second.Get() : nullptr;
}

} // namespace

VJSONObject* VJSONClass::GetFunction(const VString& name) const {
    return AreFunctionsSet() ? Lookup(fFunctions, name) : nullptr;
}

VJSONObject* VJSONClass::GetGetter(const VString& name) const {
    return AreFunctionsSet() ? Lookup(fGetterMap, name) : nullptr;
}

VJSONObject* VJSONClass::GetSetter(const VString& name) const {
    return AreFunctionsSet() ? Lookup(fSetterMap, name) : nullptr;
}

bool VJSONClass::HasGetters() const {
    return AreFunctionsSet() && !fGetterMap.empty();
}

void VJSONClass::GetGetterNames(std::vector<VString>& out) const {
    if (!AreFunctionsSet()) return;
    for (const auto& entry : fGetterMap)
        out.push_back(entry.first);
}

bool VJSONClass::IsFunctionHidden(VJSONObject* function) {
    if (function == nullptr) return false;
    VJSONValue hidden = function->GetOwnProperty(kHidden);
    return hidden.IsBool() && hidden.GetBool();
}

bool VJSONClass::IsKindOf(const VJSONClass* c) const noexcept {
    for (const VJSONClass* walk = this; walk != nullptr; walk = walk->fSuperclass)
        if (walk == c) return true;
    return false;
}

// ---- Instances

VJSONObject* VJSONClass::GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext*) {
    return new VJSONObject(classObject, nullptr, nullptr, false);
}

VJSONObject* VJSONClass::SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext*) {
    return new VJSONObject(classObject, nullptr, true);
}

VJSONObject* VJSONClass::ErrorSharedObjectInstantiator(VJSONObject*, IJSONFunctionContext*) {
    _ThrowError(VE_JSON_NO_SHARED_INSTANCE);
    return nullptr;
}

VRefPtr<VJSONObject> VJSONClass::CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context) {
    VJSONClass* cls = FromClassObject(classObject);
    if (cls == nullptr || !cls->AreFunctionsSet()) return {};
    if (cls->fInstantiator == nullptr) {
        _ThrowError(VE_JSON_NO_INSTANTIATOR);
        return {};
    }
    auto instance = VRefPtr<VJSONObject>::Adopt(cls->fInstantiator(classObject, context));
    if (!instance) return {};
    if (cls->ConstructInstance(instance.Get(), context) == EJSONStatus_failed) return {};
    return instance;
}

const VJSONClass* VJSONClass::_NearestWithConstructor() const noexcept {
    for (const VJSONClass* walk = this; walk != nullptr; walk = walk->fSuperclass)
        if (walk->HasConstructor()) return walk;
    return nullptr;
}

// The class level of an instance under construction counts the classes, from the root, that are done: a class
// of depth d is done once the level exceeds d.
EJSONStatus VJSONClass::ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context) {
    std::vector<const VJSONClass*> chain;
    for (const VJSONClass* walk = this; walk != nullptr; walk = walk->fSuperclass)
        chain.push_back(walk);
    int32 level = 0;
    for (auto it = chain.rbegin(); it != chain.rend() && !(*it)->HasConstructor(); ++it)
        ++level;
    instance->SetClassLevel(level);
    instance->SetConstructing(true);
    EJSONStatus status = _InitProperties(instance, context);
    if (status != EJSONStatus_failed) {
        if (const VJSONClass* nearest = _NearestWithConstructor())
            status = const_cast<VJSONClass*>(nearest)->CallConstructor(instance, context);
    }
    instance->SetClassLevel(fDepth);
    instance->SetConstructing(false);
    return status == EJSONStatus_failed ? EJSONStatus_failed : EJSONStatus_done;
}

EJSONStatus VJSONClass::CallConstructor(VJSONObject* instance, IJSONFunctionContext* context) {
    if (!fConstructor || fConstructor->GetImplementation() == nullptr) return EJSONStatus_notHandled;
    EJSONStatus status = CallWithThis(fConstructor.Get(), instance, context);
    if (status != EJSONStatus_done) return status;
    const VJSONClass* above = fSuperclass != nullptr ? fSuperclass->_NearestWithConstructor() : nullptr;
    if (above != nullptr && instance->GetClassLevel() <= above->fDepth) {
        _ThrowError(VE_JSON_CONSTRUCTOR_CHAIN_BROKEN, &above->fName);
        return EJSONStatus_failed;
    }
    instance->SetClassLevel(std::max(instance->GetClassLevel(), fDepth + 1));
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::CallSuperConstructor(IJSONFunctionContext* context) {
    VJSONClass* scope = context != nullptr ? context->GetScopeClass() : nullptr;
    VJSONObject* instance = context != nullptr ? context->GetThisObject() : nullptr;
    if (scope == nullptr || scope->fDepth == 0 || instance == nullptr || !instance->IsConstructing()) {
        _ThrowError(VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE);
        return EJSONStatus_failed;
    }
    VJSONClass* walk = scope;
    if (walk->fDepth <= instance->GetClassLevel()) return scope->fSuperclass->_InitProperties(instance, context);
    while (walk->fSuperclass != nullptr && walk->fDepth > instance->GetClassLevel()) {
        walk = walk->fSuperclass;
        if (walk->_InitProperties(instance, context) == EJSONStatus_failed) return EJSONStatus_failed;
        EJSONStatus status = walk->CallConstructor(instance, context);
        if (status != EJSONStatus_notHandled) return status;
    }
    return EJSONStatus_done;
}

bool VJSONClass::FinalizeInstance(VJSONObject* instance) {
    VJSONClass* cls = instance != nullptr ? instance->GetClass() : nullptr;
    if (cls == nullptr) return true;
    if (const VJSONClass* pending = cls->_NearestWithConstructor()) {
        _ThrowError(VE_JSON_INSTANCE_NOT_CONSTRUCTED, &pending->fName);
        return false;
    }
    instance->SetClassLevel(cls->fDepth);
    return true;
}

EJSONStatus VJSONClass::_InitProperties(VJSONObject* instance, IJSONFunctionContext* context) {
    if ((fFlags & kShared) != 0) {
        VJSONUser user(instance);
        return _CallProperties(instance, context);
    }
    return _CallProperties(instance, context);
}

EJSONStatus VJSONClass::_CallProperties(VJSONObject* instance, IJSONFunctionContext* context) {
    if (!AreFunctionsSet()) return EJSONStatus_done;
    CDBZoBaseContext* base = context != nullptr ? context->GetBaseContext() : nullptr;
    VDBLanguageContext* language = context != nullptr ? context->GetLanguageContext() : nullptr;
    for (const VString& name : fInitOrder) {
        VJSONObject* function = Lookup(fInitMap, name);
        VJSONValue value;
        if (function->GetImplementation() != nullptr) {
            if (function->CallAsFunction(instance, nullptr, nullptr, value, base, language) == EJSONStatus_failed)
                return EJSONStatus_failed;
            if (instance->IsShared()) instance->MakeValueSharedIfNecessary(value);
        } else {
            value = function->GetProperty(kConstant);
        }
        instance->SetOwnProperty(name, value);
    }
    return EJSONStatus_done;
}

// ---- Singletons

VRefPtr<VJSONObject> VJSONClass::GetSingleton(VDBLanguageContext* languageContext, IJSONFunctionContext* context) {
    if ((fFlags & kSingleton) == 0) return {};
    if ((fFlags & kShared) == 0) {
        SingletonProvider provider = sSingletonProvider.load(std::memory_order_acquire);
        if (provider == nullptr) return {};
        return VRefPtr<VJSONObject>::Adopt(provider(fClassObject, languageContext, context));
    }
    // Retained under the lock only: ReleaseSingleton may let go of the held reference at any moment outside it.
    std::lock_guard<VCriticalSection> lock(fLock);
    if (VJSONObject* singleton = fSharedSingleton.load(std::memory_order_acquire))
        return VRefPtr<VJSONObject>(singleton);
    // A constructor asking for the singleton it is making would make another, endlessly: it gets none.
    if (fMakingSingleton) return {};
    if (fInstantiator == nullptr) {
        _ThrowError(VE_JSON_NO_INSTANTIATOR);
        return {};
    }
    fMakingSingleton = true;
    struct StEndMaking {
        bool& fFlag;
        ~StEndMaking() { fFlag = false; }
    } endMaking{fMakingSingleton};
    VJSONFunctionContext fresh(fClassObject, nullptr, nullptr, nullptr, languageContext);
    IJSONFunctionContext* used = context != nullptr ? context : &fresh;
    auto instance = VRefPtr<VJSONObject>::Adopt(fInstantiator(fClassObject, used));
    if (!instance || ConstructInstance(instance.Get(), used) == EJSONStatus_failed) return {};
    instance->Retain();
    fSharedSingleton.store(instance.Get(), std::memory_order_release);
    return instance;
}

void VJSONClass::ReleaseSingleton() {
    std::lock_guard<VCriticalSection> lock(fLock);
    if (VJSONObject* singleton = fSharedSingleton.exchange(nullptr, std::memory_order_acq_rel)) singleton->Release();
}

// ---- Use and obsolescence

void VJSONClass::UseClassObject() const noexcept {
    if (fUseCount.fetch_add(1, std::memory_order_relaxed) == 0 && fClassObject != nullptr) fClassObject->Retain();
}

void VJSONClass::UnuseClassObject() const noexcept {
    // The class object may hold the last reference to this class: nothing of it is read after the release.
    VJSONObject* classObject = fClassObject;
    if (fUseCount.fetch_sub(1, std::memory_order_acq_rel) == 1 && classObject != nullptr) classObject->Release();
}

bool VJSONClass::IsObsolete() const {
    if (fObsolete.load(std::memory_order_relaxed)) return true;
    if (fFile != nullptr) {
        VTime modified;
        if (fFile->GetTimeAttributes(&modified) != VE_OK) {
            if (!fFile->Exists()) return true;
        } else if (modified > fModified) {
            return true;
        }
    }
    return fSuperclass != nullptr && fSuperclass->IsObsolete();
}

void VJSONClass::_Dismantle() {
    std::lock_guard<VCriticalSection> lock(fLock);
    fFunctionsSet.store(false, std::memory_order_release);
    fFunctions.clear();
    fGetterMap.clear();
    fSetterMap.clear();
    fInitMap.clear();
    fInitOrder.clear();
    fPrototype.Clear();
    fGetters.Clear();
    fSetters.Clear();
    fInits.Clear();
    fConstructor.Clear();
    fReadOnlySetter.Clear();
    fWriteOnlyGetter.Clear();
    fFunctionClassObject.Clear();
}

// ---- Native functions

EJSONStatus VJSONClass::do_new(const VJSONObject*, IJSONFunctionContext* context) {
    VJSONObject* classObject = context->GetThisObject();
    VJSONClass* cls = FromClassObject(classObject);
    if (cls == nullptr) {
        _ThrowError(VE_JSON_NOT_A_CLASS);
        return EJSONStatus_failed;
    }
    VRefPtr<VJSONObject> instance;
    if ((cls->fFlags & kSingleton) != 0) {
        instance = cls->GetSingleton(context->GetLanguageContext(), context);
    } else if (cls->AreFunctionsSet()) {
        instance = CreateInstance(classObject, context);
    }
    context->SetResult(instance ? VJSONValue(instance.Get()) : VJSONValue(JSON_undefined), 5);
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::do_errorReadOnlyAttribute(const VJSONObject*, IJSONFunctionContext*) {
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return EJSONStatus_failed;
}

EJSONStatus VJSONClass::do_errorWriteOnlyAttribute(const VJSONObject*, IJSONFunctionContext* context) {
    context->SetResult(VJSONValue(JSON_undefined), 5);
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::do_errorOverridingFinalFunction(const VJSONObject* self, IJSONFunctionContext*) {
    VString text;
    if (self != nullptr) self->GetProperty(kDescription).GetString(text);
    _ThrowError(VE_JSON_OVERRIDES_FINAL, &text);
    return EJSONStatus_failed;
}

// ---- The class object's hooks

bool VJSONClass::_IsKeyword(const VString& name) const noexcept {
    for (const VString* keyword :
         {&kPrototype, &kName, &kSuperclass, &kFile, &kProperties, &kIsSingleton, &kMe, &kIsShared})
        if (name.EqualToStringRaw(*keyword)) return true;
    return false;
}

EJSONStatus VJSONClass::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                          VDBLanguageContext* languageContext) {
    if (name.EqualToStringRaw(kPrototype)) {
        out.SetObject(fPrototype.Get());
    } else if (name.EqualToStringRaw(kMe) && (fFlags & kSingleton) != 0) {
        VRefPtr<VJSONObject> singleton = GetSingleton(languageContext, nullptr);
        if (singleton) out.SetObject(singleton.Get());
    } else if (name.EqualToStringRaw(kIsSingleton)) {
        out.SetBool((fFlags & kSingleton) != 0);
    } else if (name.EqualToStringRaw(kIsShared)) {
        out.SetBool((fFlags & kShared) != 0);
    } else if (name.EqualToStringRaw(kName)) {
        out = VJSONValue(fName);
    } else if (name.EqualToStringRaw(kSuperclass)) {
        if (fSuperclassObject) {
            out.SetObject(fSuperclassObject.Get());
        } else {
            out.SetNull();
        }
    } else if (name.EqualToStringRaw(kFile)) {
        if (fFile != nullptr) out = VJSONValue(fFile->GetPathWithFileSystem());
    } else if (name.EqualToStringRaw(kID)) {
        out = VJSONValue(double(fSequenceID));
    } else {
        return EJSONStatus_notHandled;
    }
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::IJSON_GetPropertyNames(std::vector<VString>& names, uint32) {
    for (const VString* keyword : {&kName, &kSuperclass, &kIsSingleton, &kIsShared})
        names.push_back(*keyword);
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) {
    if (!_IsKeyword(name)) return EJSONStatus_notHandled;
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY, &name);
    return EJSONStatus_failed;
}

EJSONStatus VJSONClass::IJSON_RemoveProperty(VJSONObject*, const VString& name) {
    if (!_IsKeyword(name)) return EJSONStatus_notHandled;
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY, &name);
    return EJSONStatus_failed;
}

EJSONStatus VJSONClass::IJSON_GetDescription(const VJSONObject*, VString& out) {
    out = "Class: " + fName;
    return EJSONStatus_done;
}

EJSONStatus VJSONClass::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, VError*) {
    return EJSONStatus_failed;
}

// ---- Member functions

VRefPtr<VJSONObject> VJSONMemberFunction::Create(JSONNativeFunction function, const VString& name, VJSONClass* owner,
                                                 uint32 flags) {
    VString fullName = owner != nullptr ? owner->GetName() + "." + name : name;
    auto implementation = VRefPtr<VJSONMemberFunction>::Adopt(new VJSONMemberFunction(function, fullName, owner));
    VJSONObject* functionClass = owner != nullptr ? owner->fFunctionClassObject.Get() : nullptr;
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(functionClass, implementation.Get(), true));
    VJSONUser user(object.Get());
    if ((flags & VJSONClass::kFunctionFinal) != 0) object->SetOwnProperty(kFinal, TrueValue());
    if ((flags & VJSONClass::kFunctionHidden) != 0) object->SetOwnProperty(kHidden, TrueValue());
    return object;
}

EJSONStatus VJSONMemberFunction::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                                   VDBLanguageContext*) {
    if (!name.EqualToStringRaw(kDescription)) return EJSONStatus_notHandled;
    out = VJSONValue(fFullName);
    return EJSONStatus_done;
}

EJSONStatus VJSONMemberFunction::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
                                                   VDBLanguageContext*) {
    return Refuse(VE_JSON_READ_ONLY_PROPERTY, name);
}

EJSONStatus VJSONMemberFunction::IJSON_RemoveProperty(VJSONObject*, const VString& name) {
    return Refuse(VE_JSON_READ_ONLY_PROPERTY, name);
}

EJSONStatus VJSONMemberFunction::IJSON_GetDescription(const VJSONObject*, VString& out) {
    out = "<<Native Function: " + fFullName + " >>";
    return EJSONStatus_done;
}

EJSONStatus VJSONMemberFunction::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out, VError*) {
    out = VRefPtr<IJSONObject>::Adopt(new VJSONMemberFunction(fFunction, fFullName, nullptr));
    return EJSONStatus_done;
}

EJSONStatus VJSONMemberFunction::IJSON_CallAsFunction(const VJSONObject* self, IJSONFunctionContext* context) {
    if (fFunction == nullptr) return EJSONStatus_notHandled;
    VMemberCallContext call(self, context);
    return fFunction(self, &call);
}

namespace {

// Runs the function object that is "this" of context with the given this and arguments; its result becomes
// context's.
EJSONStatus CallFunctionObject(IJSONFunctionContext* context, const VJSONValue& self,
                               std::vector<VJSONValue>& arguments) {
    VJSONObject* function = context->GetThisObject();
    IJSONObject* implementation = function != nullptr ? function->GetImplementation() : nullptr;
    if (implementation == nullptr) {
        _ThrowError(VE_JSON_FUNCTION_NOT_FOUND);
        return EJSONStatus_failed;
    }
    VRefPtr<IJSONObject> keep(implementation);
    VJSONFunctionContext inner(self.GetObjectPtr(), self.GetArrayPtr(), &arguments, context->GetBaseContext(),
                               context->GetLanguageContext());
    EJSONStatus status = implementation->IJSON_CallAsFunction(function, &inner);
    if (status == EJSONStatus_notHandled) {
        _ThrowError(VE_JSON_FUNCTION_NOT_FOUND);
        return EJSONStatus_failed;
    }
    VJSONValue result;
    inner.GetResult(result);
    context->SetResult(result, inner.GetResultLegacyValueKind());
    return status;
}

} // namespace

EJSONStatus VJSONMemberFunction::do_call(const VJSONObject*, IJSONFunctionContext* context) {
    std::vector<VJSONValue> arguments;
    for (size_t i = 2; i <= context->GetParamCount(); ++i)
        arguments.push_back(context->GetParam(int32(i)));
    return CallFunctionObject(context, context->GetParam(1), arguments);
}

EJSONStatus VJSONMemberFunction::do_apply(const VJSONObject*, IJSONFunctionContext* context) {
    std::vector<VJSONValue> arguments;
    VJSONValue list = context->GetParam(2);
    if (const VJSONArray* array = list.GetArrayPtr()) {
        for (size_t i = 0; i < array->GetCount(); ++i)
            arguments.push_back(array->GetAt(i));
    }
    return CallFunctionObject(context, context->GetParam(1), arguments);
}

// ---- Super

VRefPtr<VJSONObject> VJSONSuper::CreateObject() {
    auto implementation = VRefPtr<VJSONSuper>::Adopt(new VJSONSuper);
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
}

EJSONStatus VJSONSuper::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                          VDBLanguageContext*) {
    out.SetObject(VJSONSuperMember::CreateObject(name).Get());
    return EJSONStatus_done;
}

EJSONStatus VJSONSuper::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) {
    return Refuse(VE_JSON_STORE_PROPERTY_READ_ONLY, name);
}

EJSONStatus VJSONSuper::IJSON_RemoveProperty(VJSONObject*, const VString& name) {
    return Refuse(VE_JSON_STORE_PROPERTY_READ_ONLY, name);
}

EJSONStatus VJSONSuper::IJSON_GetDescription(const VJSONObject*, VString& out) {
    out = "<<Super>>";
    return EJSONStatus_done;
}

EJSONStatus VJSONSuper::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) {
    out.SetObject(CreateObject().Get());
    return EJSONStatus_done;
}

VRefPtr<VJSONObject> VJSONSuperMember::CreateObject(const VString& name) {
    auto implementation = VRefPtr<VJSONSuperMember>::Adopt(new VJSONSuperMember(name));
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
}

EJSONStatus VJSONSuperMember::IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context) {
    VJSONClass* scope = context->GetScopeClass();
    if (scope == nullptr) {
        _ThrowError(VE_JSON_SUPER_OUTSIDE_CLASS, &fName);
        return EJSONStatus_failed;
    }
    for (VJSONClass* walk = scope->GetSuperclass(); walk != nullptr; walk = walk->GetSuperclass()) {
        VJSONObject* prototype = walk->GetPrototype();
        VJSONValue found = prototype != nullptr ? prototype->GetOwnProperty(fName) : VJSONValue(JSON_undefined);
        if (found.IsUndefined()) continue;
        VJSONObject* function = found.GetObjectPtr();
        if (function == nullptr || function->GetImplementation() == nullptr) {
            _ThrowError(VE_JSON_SUPER_NOT_A_FUNCTION, &fName);
            return EJSONStatus_failed;
        }
        return CallWithThis(function, context->GetScopeThisObject(), context);
    }
    _ThrowError(VE_JSON_FUNCTION_NOT_FOUND, &fName);
    return EJSONStatus_failed;
}

EJSONStatus VJSONSuperMember::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
                                                VDBLanguageContext*) {
    return Refuse(VE_JSON_STORE_PROPERTY_READ_ONLY, name);
}

EJSONStatus VJSONSuperMember::IJSON_RemoveProperty(VJSONObject*, const VString& name) {
    return Refuse(VE_JSON_STORE_PROPERTY_READ_ONLY, name);
}

EJSONStatus VJSONSuperMember::IJSON_GetDescription(const VJSONObject*, VString& out) {
    out = "<<Super member: " + fName + ">>";
    return EJSONStatus_done;
}

EJSONStatus VJSONSuperMember::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) {
    out.SetObject(CreateObject(fName).Get());
    return EJSONStatus_done;
}

} // namespace vela
