#pragma once

#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/IJSONObject.h"
#include "json/VJSONClass.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace vela {

class IFile;
class VDBLanguageContext;

// A named, thread-safe register of class objects with the root classes "Object", "Class" and "Function", a
// visible subset and named component stores. As an object implementation it answers its classes as properties.
// Every operation takes the store's lock; lookups answer references, usable after the lock is gone.
class VJSONClassStore : public VObject, public IJSONObject {
public:
    using ClassMap = std::unordered_map<VString, VRefPtr<VJSONObject>, VJSONNameHash, VJSONNameEqual>;
    using DefinitionMap = std::unordered_map<VString, VRefPtr<IFile>, VJSONNameHash, VJSONNameEqual>;
    using StoreMap = std::unordered_map<VString, VRefPtr<VJSONClassStore>, VJSONNameHash, VJSONNameEqual>;
    // A class entered with this flag is not visible.
    enum : uint32 { kHidden = 1 };

    // ---- The process store ("zo")
    // Creates the process store with its root classes when there is none; answers it (a reference).
    static VRefPtr<VJSONClassStore> CreateProcessStore();
    // The process store (a reference), or null before CreateProcessStore or after ReleaseProcessStore.
    static VRefPtr<VJSONClassStore> GetProcessStore();
    // Drops the process's reference (its shared singletons first); lookups answer null afterwards.
    static void ReleaseProcessStore();

    // An empty store; the creator holds the first reference.
    explicit VJSONClassStore(const VString& name);
    ~VJSONClassStore() override;

    // Creates "Object", "Class" (with "new") and "Function" (with "call" and "apply").
    void AddRootClasses();
    // Enters a class object under its class name (replacing one of that name); visible unless flags has kHidden.
    // Objects that are no class are ignored.
    void AddClass(VJSONObject* classObject, uint32 flags);
    // A new class of this store, entered visible; null when the creation fails.
    VRefPtr<VJSONObject> AddClass(const VString& name, const std::vector<VJSONClass::FunctionDescriptor>& functions,
                                  VJSONObject* superclassObject, JSONNativeFunction constructor,
                                  JSONInstantiator instantiator, uint32 flags);

    // A class object (a reference) or null; with ignoreCase, ASCII letters fold and the first match wins.
    VRefPtr<VJSONObject> GetClassObject(const VString& name, bool ignoreCase) const;
    VRefPtr<VJSONObject> GetVisibleClassObject(const VString& name, bool ignoreCase) const;
    static bool EqualClassName(const VString& a, const VString& b, bool ignoreCase) noexcept;
    void GetClasses(ClassMap& out) const;
    void GetVisibleClasses(ClassMap& out) const;
    size_t GetCount() const;

    // Adds the store under name unless the name is taken.
    void AddComponentClassStore(const VString& name, VJSONClassStore* store);
    VRefPtr<VJSONClassStore> GetComponentClassStore(const VString& name) const;
    void GetComponentClassStores(StoreMap& out) const;
    void RemoveComponentClassStores();

    // identifier: component store names and a class name joined by "." (rest.Item); null when a part is absent.
    VRefPtr<VJSONObject> GetClassObjectFromIdentifier(const VString& identifier) const;
    VRefPtr<VJSONObject> GetSingletonObjectFromIdentifier(const VString& identifier,
                                                          VDBLanguageContext* languageContext) const;
    // Appends prefix + name of every visible shared singleton class, then those of the component stores.
    void GetPublicSharedSingletonIdentifiers(std::vector<VString>& out, const VString& prefix) const;

    // A class with a definition file stays while definitions names it and it is not obsolete (removed ones are
    // appended to removedNames); a class without file goes when definitions names it or it is obsolete.
    void RemoveObsoleteClasses(const DefinitionMap& definitions, std::vector<VString>& removedNames);
    // The same name, classes and root classes; no component stores.
    VRefPtr<VJSONClassStore> Duplicate() const;
    void ReleaseSingletons();

    const VString& GetName() const noexcept { return fName; }
    VRefPtr<VJSONObject> GetObjectClassObject() const;
    VRefPtr<VJSONObject> GetClassClassObject() const;
    VRefPtr<VJSONObject> GetFunctionClassObject() const;

    // ---- As an object implementation
    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override;
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names, uint32 flags) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override;
    EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString& out, VError* error) override;
    bool IJSON_Clear(VJSONObject*) override { return false; }
    bool IJSON_IsEmpty(const VJSONObject*) override { return false; }

private:
    struct RootClasses;
    static VRefPtr<VJSONObject> _Lookup(const ClassMap& map, const VString& name, bool ignoreCase);

    mutable VCriticalSection fLock;
    VString fName;
    ClassMap fClasses;
    ClassMap fVisibleClasses;
    StoreMap fComponentStores;
    // The root classes refer to each other through their classes; the last store that holds them breaks that.
    std::shared_ptr<RootClasses> fRoots;
};

// True when object is a function: an instance of the process store's "Function" class.
bool IsObjectAFormula(const VJSONObject* object);
// True when value is an object that is a function.
bool IsObjectAFormula(const VJSONValue& value);

} // namespace vela
