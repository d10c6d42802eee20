#include "json/VJSONClassStore.h"

#include "files/IFileSystemObject.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"

#include <mutex>

namespace vela {

namespace {

std::mutex sProcessStoreMutex;
VJSONClassStore* sProcessStore = nullptr; // one reference held; guarded by sProcessStoreMutex

} // namespace

// The root classes are each other's classes and hold functions of the class "Function": they stay bound while
// a store holds them, and are unbound when the last one goes.
struct VJSONClassStore::RootClasses {
    VRefPtr<VJSONObject> fObject;
    VRefPtr<VJSONObject> fClass;
    VRefPtr<VJSONObject> fFunction;

    ~RootClasses() {
        for (VJSONObject* root : {fObject.Get(), fClass.Get(), fFunction.Get()}) {
            if (root == nullptr) continue;
            if (VJSONClass* cls = VJSONClass::FromClassObject(root)) cls->_Dismantle();
        }
        for (VJSONObject* root : {fObject.Get(), fClass.Get(), fFunction.Get()})
            if (root != nullptr) root->_DropClass();
    }
};

// ---- The process store

VRefPtr<VJSONClassStore> VJSONClassStore::CreateProcessStore() {
    if (VRefPtr<VJSONClassStore> existing = GetProcessStore()) return existing;
    // The root classes are made outside the process lock: making a class consults the process store.
    auto store = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore("zo"));
    store->AddRootClasses();
    std::lock_guard<std::mutex> lock(sProcessStoreMutex);
    if (sProcessStore == nullptr) {
        sProcessStore = store.Get();
        sProcessStore->Retain();
    }
    return VRefPtr<VJSONClassStore>(sProcessStore);
}

VRefPtr<VJSONClassStore> VJSONClassStore::GetProcessStore() {
    std::lock_guard<std::mutex> lock(sProcessStoreMutex);
    return VRefPtr<VJSONClassStore>(sProcessStore);
}

void VJSONClassStore::ReleaseProcessStore() {
    VJSONClassStore* store = nullptr;
    {
        std::lock_guard<std::mutex> lock(sProcessStoreMutex);
        store = std::exchange(sProcessStore, nullptr);
    }
    if (store == nullptr) return;
    store->ReleaseSingletons();
    store->Release();
}

// ---- Store

VJSONClassStore::VJSONClassStore(const VString& name) : fName(name) {
    fClasses.max_load_factor(1.0f);
    fVisibleClasses.max_load_factor(1.0f);
    fComponentStores.max_load_factor(1.0f);
}

VJSONClassStore::~VJSONClassStore() {
    ReleaseSingletons();
    fVisibleClasses.clear();
    fClasses.clear();
    fComponentStores.clear();
    fRoots.reset();
}

void VJSONClassStore::AddRootClasses() {
    std::lock_guard<VCriticalSection> lock(fLock);
    if (fRoots) return;
    auto roots = std::make_shared<RootClasses>();
    auto object = VRefPtr<VJSONClass>::Adopt(new VJSONClass("Object", fName, nullptr, nullptr, 0));
    roots->fObject = VJSONClass::_MakeClassObject(object.Get(), nullptr);
    auto cls = VRefPtr<VJSONClass>::Adopt(new VJSONClass("Class", fName, roots->fObject.Get(), nullptr, 0));
    roots->fClass = VJSONClass::_MakeClassObject(cls.Get(), nullptr);
    roots->fObject->_SetClass(cls.Get());
    roots->fObject->SetClassLevel(1);
    roots->fClass->_SetClass(cls.Get());
    roots->fClass->SetClassLevel(2);
    auto function = VRefPtr<VJSONClass>::Adopt(new VJSONClass("Function", fName, roots->fObject.Get(), nullptr, 0));
    roots->fFunction = VJSONClass::_MakeClassObject(function.Get(), cls.Get());
    for (VJSONClass* root : {object.Get(), cls.Get(), function.Get()})
        root->fFunctionClassObject = roots->fFunction;
    AddClass(roots->fObject.Get(), 0);
    AddClass(roots->fClass.Get(), 0);
    AddClass(roots->fFunction.Get(), 0);
    fRoots = roots;
    object->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{}, nullptr, nullptr);
    cls->SetFunctions({{"new", VJSONClass::do_new, 0}}, nullptr, nullptr);
    function->SetFunctions({{"apply", VJSONMemberFunction::do_apply, 0}, {"call", VJSONMemberFunction::do_call, 0}},
                           nullptr, nullptr);
}

void VJSONClassStore::AddClass(VJSONObject* classObject, uint32 flags) {
    VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    if (cls == nullptr) return;
    std::lock_guard<VCriticalSection> lock(fLock);
    fClasses[cls->GetName()] = VRefPtr<VJSONObject>(classObject);
    if ((flags & kHidden) == 0) fVisibleClasses[cls->GetName()] = VRefPtr<VJSONObject>(classObject);
}

VRefPtr<VJSONObject> VJSONClassStore::AddClass(const VString& name,
                                               const std::vector<VJSONClass::FunctionDescriptor>& functions,
                                               VJSONObject* superclassObject, JSONNativeFunction constructor,
                                               JSONInstantiator instantiator, uint32 flags) {
    VRefPtr<VJSONObject> object = VJSONClass::Create(name, superclassObject, nullptr, fName, flags);
    VJSONClass* cls = VJSONClass::FromClassObject(object.Get());
    if (cls == nullptr) return {};
    cls->SetFunctions(functions, constructor, instantiator);
    AddClass(object.Get(), 0);
    return object;
}

bool VJSONClassStore::EqualClassName(const VString& a, const VString& b, bool ignoreCase) noexcept {
    if (a.EqualToStringRaw(b)) return true;
    return ignoreCase && a.CompareToStringRawCase(b) == CR_EQUAL;
}

VRefPtr<VJSONObject> VJSONClassStore::_Lookup(const ClassMap& map, const VString& name, bool ignoreCase) {
    if (auto found = map.find(name); found != map.end()) return found->second;
    if (!ignoreCase) return {};
    for (const auto& [key, object] : map)
        if (EqualClassName(key, name, true)) return object;
    return {};
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObject(const VString& name, bool ignoreCase) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return _Lookup(fClasses, name, ignoreCase);
}

VRefPtr<VJSONObject> VJSONClassStore::GetVisibleClassObject(const VString& name, bool ignoreCase) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return _Lookup(fVisibleClasses, name, ignoreCase);
}

void VJSONClassStore::GetClasses(ClassMap& out) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    out = fClasses;
}

void VJSONClassStore::GetVisibleClasses(ClassMap& out) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    out = fVisibleClasses;
}

size_t VJSONClassStore::GetCount() const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return fClasses.size();
}

void VJSONClassStore::AddComponentClassStore(const VString& name, VJSONClassStore* store) {
    if (store == nullptr) return;
    std::lock_guard<VCriticalSection> lock(fLock);
    fComponentStores.emplace(name, VRefPtr<VJSONClassStore>(store));
}

VRefPtr<VJSONClassStore> VJSONClassStore::GetComponentClassStore(const VString& name) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    auto found = fComponentStores.find(name);
    return found != fComponentStores.end() ? found->second : VRefPtr<VJSONClassStore>();
}

void VJSONClassStore::GetComponentClassStores(StoreMap& out) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    out = fComponentStores;
}

void VJSONClassStore::RemoveComponentClassStores() {
    StoreMap removed;
    {
        std::lock_guard<VCriticalSection> lock(fLock);
        removed.swap(fComponentStores);
    }
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassObjectFromIdentifier(const VString& identifier) const {
    int32 dot = identifier.FindUniChar('.');
    if (dot <= 0) return GetClassObject(identifier, false);
    VString storeName;
    VString rest;
    identifier.GetSubString(1, dot - 1, storeName);
    identifier.GetSubString(dot + 1, identifier.GetLength() - dot, rest);
    VRefPtr<VJSONClassStore> store = GetComponentClassStore(storeName);
    return store ? store->GetClassObjectFromIdentifier(rest) : VRefPtr<VJSONObject>();
}

VRefPtr<VJSONObject> VJSONClassStore::GetSingletonObjectFromIdentifier(const VString& identifier,
                                                                       VDBLanguageContext* languageContext) const {
    VRefPtr<VJSONObject> classObject = GetClassObjectFromIdentifier(identifier);
    VJSONClass* cls = VJSONClass::FromClassObject(classObject.Get());
    return cls != nullptr ? cls->GetSingleton(languageContext, nullptr) : VRefPtr<VJSONObject>();
}

void VJSONClassStore::GetPublicSharedSingletonIdentifiers(std::vector<VString>& out, const VString& prefix) const {
    ClassMap visible;
    StoreMap components;
    GetVisibleClasses(visible);
    GetComponentClassStores(components);
    constexpr uint32 kSharedSingleton = VJSONClass::kShared | VJSONClass::kSingleton;
    for (const auto& [name, object] : visible) {
        VJSONClass* cls = VJSONClass::FromClassObject(object.Get());
        if (cls != nullptr && (cls->GetFlags() & kSharedSingleton) == kSharedSingleton) out.push_back(prefix + name);
    }
    for (const auto& [name, store] : components)
        store->GetPublicSharedSingletonIdentifiers(out, prefix + name + ".");
}

void VJSONClassStore::RemoveObsoleteClasses(const DefinitionMap& definitions, std::vector<VString>& removedNames) {
    std::vector<VRefPtr<VJSONObject>> removed; // released after the lock
    std::lock_guard<VCriticalSection> lock(fLock);
    for (auto it = fClasses.begin(); it != fClasses.end();) {
        VJSONClass* cls = VJSONClass::FromClassObject(it->second.Get());
        bool defined = definitions.find(it->first) != definitions.end();
        bool remove = false;
        if (cls->GetFile() != nullptr) {
            remove = !defined || cls->IsObsolete();
            if (remove) removedNames.push_back(it->first);
        } else {
            remove = defined || cls->IsObsolete();
        }
        if (!remove) {
            ++it;
            continue;
        }
        fVisibleClasses.erase(it->first);
        removed.push_back(std::move(it->second));
        it = fClasses.erase(it);
    }
}

VRefPtr<VJSONClassStore> VJSONClassStore::Duplicate() const {
    auto copy = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore(fName));
    std::lock_guard<VCriticalSection> lock(fLock);
    copy->fClasses = fClasses;
    copy->fVisibleClasses = fVisibleClasses;
    copy->fRoots = fRoots;
    return copy;
}

void VJSONClassStore::ReleaseSingletons() {
    std::lock_guard<VCriticalSection> lock(fLock);
    for (const auto& entry : fClasses)
        if (VJSONClass* cls = VJSONClass::FromClassObject(entry.second.Get())) cls->ReleaseSingleton();
}

VRefPtr<VJSONObject> VJSONClassStore::GetObjectClassObject() const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return fRoots ? fRoots->fObject : VRefPtr<VJSONObject>();
}

VRefPtr<VJSONObject> VJSONClassStore::GetClassClassObject() const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return fRoots ? fRoots->fClass : VRefPtr<VJSONObject>();
}

VRefPtr<VJSONObject> VJSONClassStore::GetFunctionClassObject() const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return fRoots ? fRoots->fFunction : VRefPtr<VJSONObject>();
}

// ---- As an object

EJSONStatus VJSONClassStore::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                               VDBLanguageContext*) {
    if (VRefPtr<VJSONObject> classObject = GetClassObject(name, false)) {
        out.SetObject(classObject.Get());
    } else if (VRefPtr<VJSONClassStore> store = GetComponentClassStore(name)) {
        auto wrapper = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, store.Get()));
        out.SetObject(wrapper.Get());
    } else {
        out.SetUndefined();
    }
    return EJSONStatus_done;
}

EJSONStatus VJSONClassStore::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
                                               VDBLanguageContext*) {
    _ThrowError(VE_JSON_STORE_PROPERTY_READ_ONLY, &name);
    return EJSONStatus_failed;
}

EJSONStatus VJSONClassStore::IJSON_GetPropertyNames(std::vector<VString>& names, uint32) {
    std::lock_guard<VCriticalSection> lock(fLock);
    for (const auto& entry : fVisibleClasses)
        names.push_back(entry.first);
    return EJSONStatus_done;
}

EJSONStatus VJSONClassStore::IJSON_GetDescription(const VJSONObject*, VString& out) {
    out.FromCString("<<Class Store>>");
    return EJSONStatus_done;
}

EJSONStatus VJSONClassStore::IJSON_Stringify(const VJSONObject*, VJSONWriter&, VString& out, VError* error) {
    out.FromCString("<<Class Store>>");
    if (error != nullptr) *error = VE_OK;
    return EJSONStatus_done;
}

// ---- Predicates

bool IsObjectAFormula(const VJSONObject* object) {
    if (object == nullptr) return false;
    VRefPtr<VJSONClassStore> store = VJSONClassStore::GetProcessStore();
    if (!store) return false;
    VRefPtr<VJSONObject> function = store->GetFunctionClassObject();
    return function && object->IsInstanceOf(VJSONClass::FromClassObject(function.Get()));
}

bool IsObjectAFormula(const VJSONValue& value) {
    return IsObjectAFormula(value.GetObjectPtr());
}

} // namespace vela
