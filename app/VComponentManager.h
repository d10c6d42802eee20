#pragma once

#include "core/VError.h"
#include "core/VTypes.h"

#include <vector>

namespace vela {

class CComponent;
class VFilePath;
class VFolder;
class VLibrary;

constexpr VError VE_COMP_NOT_INITIALIZED = MakeLibraryError(1000);
constexpr VError VE_COMP_NOT_REGISTERED = MakeLibraryError(1001);
constexpr VError VE_COMP_ALREADY_REGISTERED = MakeLibraryError(1002);
constexpr VError VE_COMP_UNKNOWN_TYPE = MakeLibraryError(1003);
constexpr VError VE_COMP_BAD_LIBRARY = MakeLibraryError(1004);
constexpr VError VE_COMP_CANNOT_LOAD_LIBRARY = MakeLibraryError(1008);

// A request's signature that matches any component.
constexpr uint32 kCOMPONENT_ANY_SIGNATURE = 0x42424242; // 'BBBB'

// Entry points of a component library, looked up by these names.
constexpr const char* kDEFAULT_MAIN_SYMBOL = "Main";
constexpr const char* kDEFAULT_LOCK_SYMBOL = "Lock";
constexpr const char* kDEFAULT_UNLOCK_SYMBOL = "UnLock";
constexpr const char* kDEFAULT_CAN_UNLOAD_SYMBOL = "CanUnloadLibrary";
constexpr const char* kDEFAULT_CREATE_SYMBOL = "CreateComponent";
constexpr const char* kDEFAULT_GET_TYPES_SYMBOL = "GetNthComponentType";

// The action "Main" receives when its library is registered.
constexpr uint32 kCOMPONENT_LIBRARY_REGISTER = 0x72656773; // 'regs'

using ComponentCreator = CComponent* (*)(uint32 type, uint32 signature);
// Signatures of the library entry points.
using ComponentLibraryMain = void (*)(uint32 action, VLibrary* library);
using ComponentLibraryGetType = bool (*)(int32 n, uint32* type);
using ComponentLibraryCreate = CComponent* (*)(uint32 type, uint32 signature);

// The registry of component types: each made on demand by a creator registered in the program or by the
// "CreateComponent" entry point of a component library, and shared instances. Everything exists between Init and
// DeInit; any task may call it meanwhile. Failures answer a library error and raise it.
class VComponentManager {
public:
    // Answers whether the registry exists.
    static bool Init();
    // Forgets every type, library (unloading those no one else holds) and shared instance: at once, or when a call
    // that another task is making meanwhile ends (it goes on with the registry it began with).
    static void DeInit();
    static bool IsInitialized() noexcept;

    // 1002 when type is registered already; 3 for a null creator.
    static VError RegisterComponentCreator(uint32 type, ComponentCreator creator, bool resetRequirements = true);
    // 1001 when type is not registered with creator.
    static VError UnRegisterComponentCreator(uint32 type, ComponentCreator creator);
    // 1003 when type is not registered.
    static VError UnRegisterComponentType(uint32 type);

    // Loads the library at path and registers every type its "GetNthComponentType" lists (a type registered
    // already is taken over). 1002 when a library of the same file is registered; 1008 (with a file error on the
    // path) when it cannot be loaded; 1004 when an entry point is missing.
    static VError RegisterComponentLibrary(const VFilePath& path);
    // Unregisters the library's types and drops the shared instances of them (components still held elsewhere
    // must go before the library's last reference); 1001 when no library of that file is registered.
    static VError UnRegisterComponentLibrary(const VFilePath& path);

    // Shares component (retained) with RetainComponent callers. 3 for null, 1002 when already shared.
    static VError RegisterComponentInstance(CComponent* component);
    static VError UnRegisterComponentInstance(CComponent* component);

    // A shared instance of type (and signature, unless kCOMPONENT_ANY_SIGNATURE), retained; else a new one that
    // becomes shared. Null before Init, for an unknown type, or when its requirements are not met.
    static CComponent* RetainComponent(uint32 type, uint32 signature = kCOMPONENT_ANY_SIGNATURE);
    // A new component of type, retained, its requirements checked unless skipCheck (unmet: null).
    static CComponent* RetainUniqueComponent(uint32 type, uint32 signature = kCOMPONENT_ANY_SIGNATURE,
                                             bool skipCheck = false);
    // Appends RetainComponent(type, family) of every registered type, in registration order, to result (each
    // retained); false only for a null result.
    static bool RetainComponentsOfFamily(uint32 family, std::vector<CComponent*>* result);
    static bool IsComponentAvailable(uint32 type);

    // Whether every type component requires can be made, at its minimum version; the answer is kept per type.
    static bool CheckComponentRequirements(CComponent* component, bool skipNestedChecks = false);
    // Forgets the kept answers of type and, unless onlyType, of every type that required it.
    static void ResetComponentRequirements(uint32 type, bool onlyType);

    // The dialect of the user-interface language for the bundle at folder (its Contents/Resources when
    // lookInResources): among its "<language>.lproj" folders, the one of dialect, or with dialect 0 the one of the
    // main bundle's localization the user prefers (1033 without one); else 1033 when an English folder exists;
    // else the last language recognised; kNoDialect for a null or missing folder or no recognised language. Needs
    // no Init.
    static uint32 GetLocalizationLanguage(const VFolder* folder, bool lookInResources, uint32 dialect);
};

} // namespace vela
