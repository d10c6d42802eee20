#pragma once

#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONPropertyMap.h"

#include <atomic>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vela {

class IFile;
class VDBLanguageContext;
class VJSONObject;
class VStorageLocker;

// A native member function: self is the function object, the context carries "this" and the parameters.
using JSONNativeFunction = EJSONStatus (*)(const VJSONObject* self, IJSONFunctionContext* context);
// Makes an empty instance of the class of classObject (a reference for the caller), or null.
using JSONInstantiator = VJSONObject* (*)(VJSONObject* classObject, IJSONFunctionContext* context);

// Exact-match hashing of names for the class maps.
struct VJSONNameHash {
    size_t operator()(const VString& name) const noexcept {
        return VJSONPropertyMap::Hash(name.GetCPointer(), name.GetLength());
    }
};
struct VJSONNameEqual {
    bool operator()(const VString& a, const VString& b) const noexcept { return a.EqualToStringRaw(b); }
};
using VJSONFunctionMap = std::unordered_map<VString, VRefPtr<VJSONObject>, VJSONNameHash, VJSONNameEqual>;

// A class of the JSON model. It is the implementation of its class object, a JSON object of the class "Class";
// the instances are ordinary objects that find their functions, accessors and prototype through it. Functions
// are set once (SetFunctions) and read without lock afterwards.
class VJSONClass : public VObject, public IJSONObject {
public:
    enum : uint32 {
        kFinalFunctions = 2, // every member function is final
        kShared = 32,        // instances get their own storage locker; the singleton is process-wide
        kSingleton = 64,
    };
    // Flags of a function descriptor.
    enum : uint32 { kFunctionFinal = 1, kFunctionHidden = 2 };
    struct FunctionDescriptor {
        VString fName;
        JSONNativeFunction fFunction = nullptr;
        uint32 fFlags = 0;
    };
    using NamedFunctions = std::vector<std::pair<VString, VRefPtr<VJSONObject>>>;

    // Asked for the singleton of a class that is a singleton but not shared; answers a reference or null.
    using SingletonProvider = VJSONObject* (*)(VJSONObject* classObject, VDBLanguageContext*, IJSONFunctionContext*);
    // The process installs its provider here (null removes it); without one such singletons are null.
    static void SetSingletonProvider(SingletonProvider provider) noexcept;

    // A new class object (a reference for the caller). A null superclassObject means the process store's
    // "Object" class, or none (the root) without process store. A superclass object that is no class:
    // 'ZoRT' -10747 and null. file (may be null) is retained.
    static VRefPtr<VJSONObject> Create(const VString& name, VJSONObject* superclassObject, IFile* file,
                                       const VString& storeName, uint32 flags);
    // Create, then SetFunctions.
    static VRefPtr<VJSONObject> Create(const VString& name, const std::vector<FunctionDescriptor>& functions,
                                       VJSONObject* superclassObject, JSONNativeFunction constructor,
                                       JSONInstantiator instantiator, const VString& storeName, uint32 flags);
    // The class of a class object, or null when the object is none; borrowed.
    static VJSONClass* FromClassObject(const VJSONObject* classObject) noexcept;

    // One member function per descriptor (final for a class with kFinalFunctions) and the constructor, then the
    // named form. Only the first call of a class counts.
    void SetFunctions(const std::vector<FunctionDescriptor>& functions, JSONNativeFunction constructor,
                      JSONInstantiator instantiator);
    // Stores each function on the prototype; "get x", "set x" and "init x" also become accessors (or an init
    // of x); an accessor without its pair gets one that refuses (-10702 to writes, undefined to reads). A null
    // instantiator keeps the default: SharedObjectInstantiator for a kShared class, else GenericInstantiator.
    // A function that overrides an inherited final one is refused (-10750) and the final one stays.
    void SetFunctions(const NamedFunctions& functions, VJSONObject* constructor, JSONInstantiator instantiator);

    const VString& GetName() const noexcept { return fName; }
    const VString& GetStoreName() const noexcept { return fStoreName; }
    VJSONObject* GetClassObject() const noexcept { return fClassObject; }
    VJSONClass* GetSuperclass() const noexcept { return fSuperclass; }
    VJSONObject* GetSuperclassObject() const noexcept { return fSuperclassObject.Get(); }
    VJSONObject* GetPrototype() const noexcept { return fPrototype.Get(); }
    int32 GetDepth() const noexcept { return fDepth; }
    uint32 GetSequenceID() const noexcept { return fSequenceID; }
    uint32 GetFlags() const noexcept { return fFlags; }
    bool HasConstructor() const noexcept { return fConstructor.Get() != nullptr; }
    bool AreFunctionsSet() const noexcept { return fFunctionsSet.load(std::memory_order_acquire); }
    // True when c is this class or one of its superclasses.
    bool IsKindOf(const VJSONClass* c) const noexcept;

    // Lookups (null before SetFunctions); borrowed.
    VJSONObject* GetFunction(const VString& name) const;
    VJSONObject* GetGetter(const VString& name) const;
    VJSONObject* GetSetter(const VString& name) const;
    bool HasGetters() const;
    void GetGetterNames(std::vector<VString>& out) const;
    static bool IsFunctionHidden(VJSONObject* function);

    // A new constructed instance (a reference), or null: before SetFunctions, without instantiator (-10749) or
    // when a constructor fails.
    static VRefPtr<VJSONObject> CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context);
    // Runs the init functions and the constructor chain on instance.
    EJSONStatus ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context);
    EJSONStatus CallConstructor(VJSONObject* instance, IJSONFunctionContext* context);
    // Called by a constructor (context is the one it received): runs the superclass's init functions and the
    // nearest superclass constructor. Outside a class constructor: -10746.
    static EJSONStatus CallSuperConstructor(IJSONFunctionContext* context);
    // Raises -10751 when a class of the instance's chain has a constructor; else sets its level to the depth.
    static bool FinalizeInstance(VJSONObject* instance);

    // The singleton (a reference) of a kSingleton class, else null. A shared one is made once per class.
    VRefPtr<VJSONObject> GetSingleton(VDBLanguageContext* languageContext, IJSONFunctionContext* context);
    void ReleaseSingleton();

    // Counts the objects of this class: the first use retains the class object, the last unuse releases it.
    void UseClassObject() const noexcept;
    void UnuseClassObject() const noexcept;

    bool IsObsolete() const;
    void SetObsolete() noexcept { fObsolete.store(true, std::memory_order_relaxed); }
    IFile* GetFile() const noexcept { return fFile; }

    // Native functions of the root classes and the refusing accessors.
    static EJSONStatus do_new(const VJSONObject* self, IJSONFunctionContext* context);
    static EJSONStatus do_errorReadOnlyAttribute(const VJSONObject* self, IJSONFunctionContext* context);
    static EJSONStatus do_errorWriteOnlyAttribute(const VJSONObject* self, IJSONFunctionContext* context);
    static EJSONStatus do_errorOverridingFinalFunction(const VJSONObject* self, IJSONFunctionContext* context);
    static VJSONObject* GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
    static VJSONObject* SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
    static VJSONObject* ErrorSharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);

    // ---- As the implementation of the class object
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names, uint32 flags) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString& name) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, VError*) override;
    bool IJSON_IsEmpty(const VJSONObject*) override { return false; }

    ~VJSONClass() override;

private:
    friend class VJSONClassStore;
    friend class VJSONMemberFunction;

    VJSONClass(const VString& name, const VString& storeName, VJSONObject* superclassObject, IFile* file, uint32 flags);
    // A new class object for cls whose class is classClass (may be null); cls becomes its implementation.
    static VRefPtr<VJSONObject> _MakeClassObject(VJSONClass* cls, VJSONClass* classClass);
    EJSONStatus _InitProperties(VJSONObject* instance, IJSONFunctionContext* context);
    EJSONStatus _CallProperties(VJSONObject* instance, IJSONFunctionContext* context);
    // The nearest class, from this one upwards, with a constructor of its own; null at the root.
    const VJSONClass* _NearestWithConstructor() const noexcept;
    bool _IsKeyword(const VString& name) const noexcept;
    // Drops the functions, accessors and prototype: the root classes refer to themselves through them.
    void _Dismantle();
    // Records function on target (the getters, setters or init object) under name, and in map.
    void _PutAccessor(VRefPtr<VJSONObject>& target, const VString& name, VJSONObject* function, VJSONFunctionMap& map);

    VString fName;
    VString fStoreName;
    VJSONObject* fClassObject = nullptr; // not retained: it owns this class
    VJSONClass* fSuperclass = nullptr;
    VRefPtr<VJSONObject> fSuperclassObject;
    // The prototype and the accessor objects share the class's locker, so a function stored on one can be
    // stored on the others.
    VRefPtr<VStorageLocker> fLocker;
    VRefPtr<VJSONObject> fPrototype;
    VRefPtr<VJSONObject> fGetters;
    VRefPtr<VJSONObject> fSetters;
    VRefPtr<VJSONObject> fInits;
    VRefPtr<VJSONObject> fConstructor;
    // The class "Function" of the store, for the function objects this class makes.
    VRefPtr<VJSONObject> fFunctionClassObject;
    std::atomic<VJSONObject*> fSharedSingleton{nullptr}; // one reference held; read and changed under fLock
    VCriticalSection fLock;
    bool fMakingSingleton = false; // guarded by fLock
    JSONInstantiator fInstantiator = nullptr;
    VJSONFunctionMap fFunctions;
    VJSONFunctionMap fGetterMap;
    VJSONFunctionMap fSetterMap;
    VJSONFunctionMap fInitMap;
    std::vector<VString> fInitOrder; // init functions run in the order they were given
    VRefPtr<VJSONObject> fReadOnlySetter;
    VRefPtr<VJSONObject> fWriteOnlyGetter;
    int32 fDepth = 0;
    uint32 fSequenceID;
    IFile* fFile = nullptr;
    VTime fModified;
    std::atomic<bool> fFunctionsSet{false};
    std::atomic<bool> fObsolete{false};
    uint32 fFlags;
    mutable std::atomic<uint32> fUseCount{0};
};

// A native function as a JSON object: the implementation of a function object of the class "Function".
class VJSONMemberFunction : public VObject, public IJSONObject {
public:
    // A new function object (a reference); flags kFunctionFinal sets its "final", kFunctionHidden its "__hidden".
    static VRefPtr<VJSONObject> Create(JSONNativeFunction function, const VString& name, VJSONClass* owner,
                                       uint32 flags);
    const VString& GetFullName() const noexcept { return fFullName; }
    VJSONClass* GetOwner() const noexcept { return fOwner; }

    // "call" and "apply" of the class "Function".
    static EJSONStatus do_call(const VJSONObject* self, IJSONFunctionContext* context);
    static EJSONStatus do_apply(const VJSONObject* self, IJSONFunctionContext* context);

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString&) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, VRefPtr<IJSONObject>& out, VError*) override;
    EJSONStatus IJSON_CallAsFunction(const VJSONObject* self, IJSONFunctionContext* context) override;
    VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject*) override { return fOwner; }
    bool IJSON_Clear(VJSONObject*) override { return false; }
    bool IJSON_IsEmpty(const VJSONObject*) override { return false; }

private:
    VJSONMemberFunction(JSONNativeFunction function, VString fullName, VJSONClass* owner)
        : fFunction(function), fFullName(std::move(fullName)), fOwner(owner) {}

    JSONNativeFunction fFunction;
    VString fFullName;
    VJSONClass* fOwner; // not retained
};

// "super" inside a class function: its properties are super members.
class VJSONSuper : public VObject, public IJSONObject {
public:
    static VRefPtr<VJSONObject> CreateObject();
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString&) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) override;
};

// A member of "super": calling it runs the superclass's function of that name on the calling scope's "this".
class VJSONSuperMember : public VObject, public IJSONObject {
public:
    static VRefPtr<VJSONObject> CreateObject(const VString& name);
    EJSONStatus IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject*, const VString&) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*) override;

private:
    explicit VJSONSuperMember(const VString& name) : fName(name) {}
    VString fName;
};

} // namespace vela
