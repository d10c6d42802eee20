#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFilePath.h"

#include <atomic>
#include <map>
#include <string>
#include <unordered_map>

namespace vela {

class IFile;
class IFolder;
class VFile;
class VJSONArray;

// Flags of a named file system.
enum FileSystemFlags : uint32 {
    // Space may be requested and given back; without it Request and Relinquish refuse with 684.
    FS_CAN_REQUEST_SPACE = 1,
    // The root folder and its contents are deleted with the file system.
    FS_DELETE_ROOT = 4,
    // Hidden from lookups made with FSN_SKIP_HIDDEN.
    FS_HIDDEN = 16,
};

// Options of the namespace lookups.
enum FileSystemLookupOptions : uint32 {
    FSN_SKIP_HIDDEN = 1,
    FSN_SEARCH_PARENTS = 2,
};

// A named file system: files and folders confined to one root folder, with flags and an optional size budget.
// Shared by reference count (1 when made).
class VFileSystem : public VObject, public IRefCountable {
public:
    // root is retained; the budget in bytes (0 = none), used = the bytes already in use (more than the budget
    // leaves nothing available).
    VFileSystem(const VString& name, IFolder* root, uint32 flags, size_t budget, size_t used);
    ~VFileSystem() override;
    VFileSystem(const VFileSystem&) = delete;
    VFileSystem& operator=(const VFileSystem&) = delete;

    // A name that is empty or holds '/' raises 686 with "name" and answers null (its code in *outError when given).
    static VFileSystem* Create(const VString& name, IFolder* root, uint32 flags, size_t budget, size_t used,
                               VError* outError = nullptr);

    const VString& GetName() const noexcept { return fName; }
    uint32 GetFlags() const noexcept { return fFlags; }
    size_t GetBudget() const noexcept { return fBudget; }
    size_t GetAvailable() const noexcept { return fAvailable.load(std::memory_order_relaxed); }
    VFilePath GetRoot() const;
    // A folder object for the root that carries this file system; retained.
    IFolder* RetainRootFolder() const;
    // The path is the root or lies inside it (text compared unit by unit: Linux names differ by case).
    bool IsAuthorized(const VFilePath& path) const;
    // "/name/relative POSIX path" of a path inside the root; false (out cleared) otherwise.
    bool GetPathWithName(const VFilePath& path, VString& out) const;

    // Takes n bytes of the budget: 684 without FS_CAN_REQUEST_SPACE, 685 when fewer are available. Safe to call
    // from several tasks at once.
    VError Request(size_t n);
    // Gives n bytes back, never raising the available count above the budget; 684 without FS_CAN_REQUEST_SPACE.
    VError Relinquish(size_t n);

    using VObject::DebugDump;
    CharSet DebugDump(char* buffer, int& length) const override;

private:
    VString fName;
    IFolder* fRoot;
    size_t fBudget;
    uint32 fFlags;
    std::atomic<size_t> fAvailable;
};

// File systems by name, with an optional parent namespace to fall back on. Texts "/name/relative/posix/path"
// name a file or folder in the file system called name. Shared by reference count (1 when made).
class VFileSystemNamespace : public VObject, public IRefCountable {
public:
    // By name in UTF-8.
    using FileSystemMap = std::map<std::string, VRefPtr<VFileSystem>>;

    explicit VFileSystemNamespace(VFileSystemNamespace* parent = nullptr);
    ~VFileSystemNamespace() override;
    VFileSystemNamespace(const VFileSystemNamespace&) = delete;
    VFileSystemNamespace& operator=(const VFileSystemNamespace&) = delete;

    // Replaces any file system of the same name; null is ignored.
    void RegisterFileSystem(VFileSystem* fileSystem);
    // Creates a file system without budget and registers it; answers the creation error.
    VError RegisterFileSystem(const VString& name, IFolder* root, uint32 flags);
    void UnregisterFileSystem(const VString& name);

    // Retained, or null. FSN_SEARCH_PARENTS walks the parents when the name is not here; with FSN_SKIP_HIDDEN a
    // hidden file system found answers null (the search stops there).
    VFileSystem* RetainFileSystem(const VString& name, uint32 options) const;
    IFolder* RetainFileSystemRootFolder(const VString& name, uint32 options) const;
    // Fills out (parents first with FSN_SEARCH_PARENTS, nearer namespaces winning; a hidden file system left out
    // with FSN_SKIP_HIDDEN still hides a parent's of the same name).
    void RetainMapOfFileSystems(FileSystemMap& out, uint32 options) const;

    // "/name/rest": fileSystem and the POSIX path of rest relative to its root. False when the text has no second
    // slash, names no file system, or climbs out of the root.
    bool ParsePathWithFileSystem(const VString& text, VRefPtr<VFileSystem>& fileSystem, VString& relative,
                                 uint32 options) const;
    // A "/name/..." text through its file system; other texts relative to base, or (allowPlainPath, no base) as
    // a POSIX full path. Retained, or null.
    IFile* RetainFile(const VString& text, IFolder* base, uint32 options, bool allowPlainPath) const;
    IFolder* RetainFolder(const VString& text, IFolder* base, uint32 options, bool allowPlainPath) const;
    static IFile* RetainFile(const VFileSystemNamespace* ns, const VString& text, IFolder* base, uint32 options,
                             bool allowPlainPath);
    static IFolder* RetainFolder(const VFileSystemNamespace* ns, const VString& text, IFolder* base, uint32 options,
                                 bool allowPlainPath);

    // Defined in json/ (they read JSON). A definition is an array of objects {"name", "path", "parent",
    // "writable"}; each registers a file system named name over the folder path (read inside the root of the file
    // system parent when given: an earlier entry, this namespace or its parents), writable ones with
    // FS_CAN_REQUEST_SPACE. A file that does not parse raises 687 with "path"; an entry that cannot be made refuses
    // the whole definition and nothing of it is registered: a bad name raises 686, a missing path, a relative path
    // without parent, an unknown parent or a path leaving the parent's root 687. Elements that are not objects are
    // skipped, and anything but an array is accepted without effect.
    VError LoadFromDefinitionFile(const IFile* file);
    VError LoadFromJSONArray(const VJSONArray* array);

    // The process start-up's set-up (defined in json/): a new namespace (retained, never null) holding
    // ".USER_HOME_DIRECTORY" over userDocuments (hidden from FSN_SKIP_HIDDEN lookups) and ".PRODUCT_RESOURCES"
    // over resources, null folders left out; then the "fileSystems.json" of resources when it exists, whose
    // result goes to *outError (when given; 0 when there is no such file).
    static VFileSystemNamespace* CreateProcessNamespace(IFolder* userDocuments, IFolder* resources,
                                                        VError* outError = nullptr);

    using VObject::DebugDump;
    CharSet DebugDump(char* buffer, int& length) const override;

private:
    VFileSystem* _RetainLocal(const VString& name) const;

    mutable VCriticalSection fLock;
    std::unordered_map<std::string, VFileSystem*> fFileSystems;
    VFileSystemNamespace* fParent;
};

} // namespace vela
