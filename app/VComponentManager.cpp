#include "app/VComponentManager.h"

#include "app/CComponent.h"
#include "app/VLibrary.h"
#include "app/platform/XPosixLocalizations.h"
#include "core/VCriticalSection.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "intl/VIntlMgr.h"
#include "intl/platform/XPosixIntlMgr.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace vela {

namespace {

struct Registration {
    uint32 fType;
    ComponentCreator fCreator;
    // One reference per type.
    VLibrary* fLibrary;
};

struct CheckedType {
    uint32 fType;
    bool fAvailable;
    bool fHasRequirements;
    // The types the answer depended on.
    std::vector<uint32> fRequired;
};

// The registry between Init and DeInit. Each call holds a reference for its whole length: DeInit only drops the
// registry's own, and the last holder frees it, so no call ever works on freed state.
struct State {
    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    // Instances first: a library's components run code of the library.
    ~State() {
        for (CComponent* instance : fInstances)
            instance->Release();
        for (Registration& registration : fTypes)
            ReleaseRefCountable(&registration.fLibrary);
    }

    VCriticalSection fTypesLock;
    VCriticalSection fInstancesLock;
    VCriticalSection fCheckedLock;
    VCriticalSection fCheckingLock;
    std::vector<Registration> fTypes;
    // Retained.
    std::vector<CComponent*> fInstances;
    std::vector<CheckedType> fChecked;
    std::vector<uint32> fChecking;
};

std::mutex sStateLock;

// Guarded by sStateLock. Never destroyed: a registry left at exit is not torn down behind its users.
std::shared_ptr<State>& StateSlot() {
    static auto* slot = new std::shared_ptr<State>;
    return *slot;
}

std::shared_ptr<State> GetState() {
    std::lock_guard<std::mutex> guard(sStateLock);
    return StateSlot();
}

VError Raise(VError code) {
    _ThrowError(code);
    return code;
}

template <class T, class Predicate> auto FindIf(std::vector<T>& items, Predicate predicate) {
    return std::find_if(items.begin(), items.end(), predicate);
}

bool IsBeingChecked(State& state, uint32 type) {
    std::lock_guard<VCriticalSection> guard(state.fCheckingLock);
    return std::find(state.fChecking.begin(), state.fChecking.end(), type) != state.fChecking.end();
}

// The caller holds state.fTypesLock.
bool IsLibraryRegistered(State& state, const VFilePath& path) {
    return FindIf(state.fTypes, [&](const Registration& r) {
               return r.fLibrary != nullptr && r.fLibrary->IsSameFile(path);
           }) != state.fTypes.end();
}

} // namespace

bool VComponentManager::Init() {
    std::lock_guard<std::mutex> guard(sStateLock);
    if (!StateSlot()) StateSlot() = std::make_shared<State>();
    return true;
}

void VComponentManager::DeInit() {
    std::shared_ptr<State> state;
    {
        std::lock_guard<std::mutex> guard(sStateLock);
        state.swap(StateSlot());
    }
    // Released outside the lock: a component's release may call back into the manager.
    state = nullptr;
}

bool VComponentManager::IsInitialized() noexcept {
    std::lock_guard<std::mutex> guard(sStateLock);
    return StateSlot() != nullptr;
}

VError VComponentManager::RegisterComponentCreator(uint32 type, ComponentCreator creator, bool resetRequirements) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    if (creator == nullptr) return Raise(VE_INVALID_PARAMETER);
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        if (FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type; }) != state->fTypes.end())
            return Raise(VE_COMP_ALREADY_REGISTERED);
        state->fTypes.push_back({type, creator, nullptr});
    }
    if (resetRequirements) ResetComponentRequirements(type, false);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentCreator(uint32 type, ComponentCreator creator) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        auto found =
            FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type && r.fCreator == creator; });
        if (found == state->fTypes.end()) return Raise(VE_COMP_NOT_REGISTERED);
        ReleaseRefCountable(&found->fLibrary);
        state->fTypes.erase(found);
    }
    ResetComponentRequirements(type, false);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentType(uint32 type) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        auto found = FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type; });
        if (found == state->fTypes.end()) return Raise(VE_COMP_UNKNOWN_TYPE);
        ReleaseRefCountable(&found->fLibrary);
        state->fTypes.erase(found);
    }
    ResetComponentRequirements(type, false);
    return VE_OK;
}

VError VComponentManager::RegisterComponentLibrary(const VFilePath& path) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    {
        // Spares the load in the usual case; the answer that counts is the one under the registering lock.
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        if (IsLibraryRegistered(*state, path)) return Raise(VE_COMP_ALREADY_REGISTERED);
    }
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(path));
    // The file error names what could not be loaded; its code is the one answered (not the memory-full code).
    if (!library->Load()) return ThrowFileError(path, VE_COMP_CANNOT_LOAD_LIBRARY);
    auto main = reinterpret_cast<ComponentLibraryMain>(library->GetProcAddress(kDEFAULT_MAIN_SYMBOL));
    auto getType = reinterpret_cast<ComponentLibraryGetType>(library->GetProcAddress(kDEFAULT_GET_TYPES_SYMBOL));
    auto create = library->GetProcAddress(kDEFAULT_CREATE_SYMBOL);
    if (main == nullptr || getType == nullptr || create == nullptr) return Raise(VE_COMP_BAD_LIBRARY);

    std::vector<uint32> registered;
    {
        std::lock_guard<VCriticalSection> typesGuard(state->fTypesLock);
        std::lock_guard<VCriticalSection> checkedGuard(state->fCheckedLock);
        // Asked again under the lock that registers: another task may have registered the file while it loaded.
        if (IsLibraryRegistered(*state, path)) return Raise(VE_COMP_ALREADY_REGISTERED);
        main(kCOMPONENT_LIBRARY_REGISTER, library.Get());
        uint32 type = 0;
        for (int32 n = 1; getType(n, &type); ++n) {
            library->Retain();
            auto found = FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type; });
            if (found != state->fTypes.end()) {
                ReleaseRefCountable(&found->fLibrary);
                found->fLibrary = library.Get();
            } else {
                state->fTypes.push_back({type, nullptr, library.Get()});
            }
            registered.push_back(type);
        }
    }
    for (uint32 type : registered)
        ResetComponentRequirements(type, false);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentLibrary(const VFilePath& path) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    std::vector<uint32> removed;
    std::vector<VRefPtr<VLibrary>> libraries;
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        for (auto it = state->fTypes.begin(); it != state->fTypes.end();) {
            if (it->fLibrary != nullptr && it->fLibrary->IsSameFile(path)) {
                removed.push_back(it->fType);
                libraries.push_back(VRefPtr<VLibrary>::Adopt(it->fLibrary));
                it = state->fTypes.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (removed.empty()) return Raise(VE_COMP_NOT_REGISTERED);
    // The shared instances the library made go before it may be unloaded (with the last reference above).
    std::vector<CComponent*> dropped;
    {
        std::lock_guard<VCriticalSection> guard(state->fInstancesLock);
        std::erase_if(state->fInstances, [&](CComponent* instance) {
            if (std::find(removed.begin(), removed.end(), instance->GetComponentType()) == removed.end()) return false;
            dropped.push_back(instance);
            return true;
        });
    }
    for (CComponent* instance : dropped)
        instance->Release();
    for (uint32 type : removed)
        ResetComponentRequirements(type, false);
    return VE_OK;
}

VError VComponentManager::RegisterComponentInstance(CComponent* component) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    if (component == nullptr) return Raise(VE_INVALID_PARAMETER);
    std::lock_guard<VCriticalSection> guard(state->fInstancesLock);
    if (std::find(state->fInstances.begin(), state->fInstances.end(), component) != state->fInstances.end())
        return Raise(VE_COMP_ALREADY_REGISTERED);
    component->Retain();
    state->fInstances.push_back(component);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentInstance(CComponent* component) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return Raise(VE_COMP_NOT_INITIALIZED);
    if (component == nullptr) return Raise(VE_INVALID_PARAMETER);
    {
        std::lock_guard<VCriticalSection> guard(state->fInstancesLock);
        auto found = std::find(state->fInstances.begin(), state->fInstances.end(), component);
        if (found == state->fInstances.end()) return Raise(VE_COMP_NOT_REGISTERED);
        state->fInstances.erase(found);
    }
    component->Release();
    return VE_OK;
}

CComponent* VComponentManager::RetainComponent(uint32 type, uint32 signature) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return nullptr;
    std::lock_guard<VCriticalSection> guard(state->fInstancesLock);
    for (CComponent* instance : state->fInstances) {
        if (instance->GetComponentType() == type &&
            (signature == kCOMPONENT_ANY_SIGNATURE || instance->GetComponentSignature() == signature))
            return RetainRefCountable(instance);
    }
    CComponent* made = RetainUniqueComponent(type, signature, false);
    if (made != nullptr) state->fInstances.push_back(RetainRefCountable(made));
    return made;
}

CComponent* VComponentManager::RetainUniqueComponent(uint32 type, uint32 signature, bool skipCheck) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return nullptr;
    ComponentCreator creator = nullptr;
    VRefPtr<VLibrary> library;
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        auto found = FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type; });
        if (found == state->fTypes.end()) return nullptr;
        creator = found->fCreator;
        library = found->fLibrary;
    }
    CComponent* component = nullptr;
    if (creator != nullptr) {
        component = creator(type, signature);
    } else if (library) {
        auto create = reinterpret_cast<ComponentLibraryCreate>(library->GetProcAddress(kDEFAULT_CREATE_SYMBOL));
        if (create != nullptr) component = create(type, signature);
    }
    if (component != nullptr && !skipCheck && !CheckComponentRequirements(component)) {
        component->Release();
        return nullptr;
    }
    return component;
}

bool VComponentManager::RetainComponentsOfFamily(uint32 family, std::vector<CComponent*>* result) {
    if (result == nullptr) return false;
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return true;
    std::vector<uint32> types;
    {
        std::lock_guard<VCriticalSection> guard(state->fTypesLock);
        for (const Registration& registration : state->fTypes)
            types.push_back(registration.fType);
    }
    for (uint32 type : types) {
        if (CComponent* component = RetainComponent(type, family)) result->push_back(component);
    }
    return true;
}

bool VComponentManager::IsComponentAvailable(uint32 type) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return false;
    std::lock_guard<VCriticalSection> guard(state->fTypesLock);
    return FindIf(state->fTypes, [&](const Registration& r) { return r.fType == type; }) != state->fTypes.end();
}

bool VComponentManager::CheckComponentRequirements(CComponent* component, bool skipNestedChecks) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr || component == nullptr) return false;
    const uint32 type = component->GetComponentType();
    {
        std::lock_guard<VCriticalSection> guard(state->fCheckedLock);
        auto found = FindIf(state->fChecked, [&](const CheckedType& c) { return c.fType == type; });
        if (found != state->fChecked.end()) return found->fAvailable;
    }
    {
        std::lock_guard<VCriticalSection> guard(state->fCheckingLock);
        state->fChecking.push_back(type);
    }
    const CComponentRequirements* requirements = component->GetComponentRequirements();
    const bool hasRequirements = requirements != nullptr &&
                                 requirements->fVersion >= CComponentRequirements::kRequirementsVersion &&
                                 requirements->fSize >= sizeof(CComponentRequirements);
    bool available = true;
    std::vector<uint32> required;
    if (hasRequirements) {
        // Never past the block's own pairs, whatever count it claims.
        const uint32 count = std::min(requirements->fCount, CComponentRequirements::kMaxRequirements);
        for (uint32 i = 0; i < count && available; ++i) {
            const CComponentRequirement& need = requirements->fRequired[i];
            if (need.fType == type) continue;
            required.push_back(need.fType);
            const bool skip = skipNestedChecks || IsBeingChecked(*state, need.fType);
            CComponent* dependency = RetainUniqueComponent(need.fType, kCOMPONENT_ANY_SIGNATURE, skip);
            available = dependency != nullptr &&
                        (need.fMinVersion == 0 || dependency->GetComponentInfo().fVersion >= need.fMinVersion);
            if (dependency != nullptr) dependency->Release();
        }
    }
    {
        std::lock_guard<VCriticalSection> guard(state->fCheckedLock);
        state->fChecked.push_back({type, available, hasRequirements, std::move(required)});
    }
    {
        std::lock_guard<VCriticalSection> guard(state->fCheckingLock);
        auto found = std::find(state->fChecking.begin(), state->fChecking.end(), type);
        if (found != state->fChecking.end()) state->fChecking.erase(found);
    }
    return available;
}

void VComponentManager::ResetComponentRequirements(uint32 type, bool onlyType) {
    const std::shared_ptr<State> state = GetState();
    if (state == nullptr) return;
    std::lock_guard<VCriticalSection> guard(state->fCheckedLock);
    std::erase_if(state->fChecked, [&](const CheckedType& checked) {
        if (checked.fType == type) return true;
        return !onlyType &&
               std::find(checked.fRequired.begin(), checked.fRequired.end(), type) != checked.fRequired.end();
    });
}

namespace {

// A localization name (a language tag, or an English language name such as "French") as a dialect.
bool DialectOfLocalization(const VString& name, uint32& dialect) {
    return VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(name, dialect, true, true) ||
           VIntlMgr::GetDialectCodeWithISOLanguageName(name, dialect);
}

} // namespace

uint32 VComponentManager::GetLocalizationLanguage(const VFolder* folder, bool lookInResources, uint32 dialect) {
    if (folder == nullptr || !folder->Exists()) return kNoDialect;
    const VFolder place =
        lookInResources ? VFolder(*folder, VString("Contents/Resources"), FPS_POSIX) : VFolder(*folder);
    uint32 wanted = dialect;
    uint32 found = kNoDialect;
    if (dialect == 0) {
        wanted = DC_ENGLISH_US;
        const std::vector<VString> localizations = XPosixLocalizations::GetMainBundleLocalizations();
        if (!localizations.empty()) {
            const VString chosen =
                XPosixLocalizations::PreferredLocalization(localizations, XPosixIntlMgr::GetPreferredLanguages());
            uint32 code = kNoDialect;
            wanted = found = DialectOfLocalization(chosen, code) ? code : DC_ENGLISH_US;
        }
    }
    if (wanted == found) return found;
    bool sawEnglish = false;
    bool matched = false;
    for (VFolderIterator it(&place, FI_WANT_FOLDERS | FI_RESOLVE_ALIASES); it.IsValid() && !matched; ++it) {
        VString name;
        it->GetPath().GetFolderName(name, true);
        const int32 at = name.Find(VString(".lproj"));
        if (at == 0) continue;
        uint32 code = kNoDialect;
        if (!DialectOfLocalization(name.Before(at), code)) continue;
        found = code;
        sawEnglish = sawEnglish || code == DC_ENGLISH_US;
        matched = code == wanted;
    }
    if (matched) return wanted;
    return sawEnglish ? DC_ENGLISH_US : found;
}

} // namespace vela
