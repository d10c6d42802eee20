#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "files/IFileSystemObject.h"
#include "files/VFilePath.h"
#include "files/platform/XPosixFolder.h"

#include <functional>
#include <string>
#include <vector>

namespace vela {

class IFileAttributeAccessor;
class VFile;
class VTime;

// Bits of the folder copy options (CopyTo, CopyContentsTo); every bit is handed on to the copies of sub-folders
// and files.
enum FolderCopyOptions : uint32 {
    FOLDER_COPY_DEFAULT = 0,
    // Replace an existing target folder wholly; without it the copy merges into an existing target.
    FOLDER_COPY_REPLACE = 4,
    // Go on after a failed item (the first error is still the result).
    FOLDER_COPY_KEEP_GOING = 8,
    // Leave hidden items out.
    FOLDER_COPY_SKIP_HIDDEN = 16,
};

// Bits of the iterator options (VFolder::Iterate, VFileIterator, VFolderIterator).
enum FileIteratorOptions : uint32 {
    FI_RECURSIVE = 1,
    FI_WANT_FOLDERS = 2,
    // Regular files and symbolic links.
    FI_WANT_FILES = 4,
    // Without it, names beginning with '.' are skipped.
    FI_WANT_INVISIBLES = 8,
    // A symbolic link is delivered as what it leads to.
    FI_RESOLVE_ALIASES = 16,
    // Passed by the emptying code; no effect on listing.
    FI_ITERATE_DELETE = 32,
    FI_NORMAL_FILES = FI_WANT_FILES,
    FI_NORMAL_FOLDERS = FI_WANT_FOLDERS,
};

// The well-known folders (RetainSystemFolder), placed as the XDG base directories place them.
enum ESystemFolderKind : int32 {
    eFK_Executable = 0,
    eFK_UserDocuments = 1,
    eFK_Temporary = 2,
    eFK_None = 3,
    eFK_CommonPreferences = 4,
    eFK_UserPreferences = 5,
    eFK_CommonApplicationData = 6,
    eFK_UserApplicationData = 7,
    eFK_Desktop = 8,
    eFK_Applications = 9,
    eFK_CommonCache = 10,
    eFK_UserCache = 11,
    eFK_Library = 12,
    eFK_Home = 13,
};

// A folder: its path (a folder path, ending with ':') and the platform part that does the work. Shared by
// reference count (1 when made). Failures are raised as file errors naming the folder (codes in
// files/VFileError.h) and answered. A folder in a named file system (retained) derives only folders and files
// that file system authorizes.
class VFolder : public VObject, public IFolder {
public:
    explicit VFolder(const VFilePath& path, VFileSystem* fileSystem = nullptr);
    VFolder(const VFolder& other);
    VFolder(const VString& fullPath, FilePathStyle style);
    // The folder at relative (a separator is added when missing) below parent.
    VFolder(const VFolder& parent, const VString& relative, FilePathStyle style);
    // The platform part works on posixPath (UTF-8) as it stands; path is what the folder reports.
    VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem = nullptr);
    ~VFolder() override;
    VFolder& operator=(const VFolder&) = delete;

    // ---- Identity
    VFilePath GetPath() const override { return fPath; }
    const VFilePath& GetPathRef() const noexcept { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    // FPS_POSIX: the POSIX path (ending with '/'); FPS_SYSTEM: the internal text; any other style clears out.
    VError GetPlatformPath(VString& out, FilePathStyle style) const override;
    const std::string& GetPosixPathBytes() const noexcept { return fPosixPath; }
    // "file://" URL of the folder; always 0.
    VError GetURL(VString& out, bool encoded) const;
    // The URL, less base's URL when it begins with it; always 0.
    VError GetRelativeURL(const VFolder* base, VString& out, bool encoded) const;

    // ---- Existence and creation
    // The path is a folder path and a directory is there, links followed.
    bool Exists() const override;
    // Nothing when the folder exists; else mkdir (652). A folder made meanwhile by someone else is success.
    VError Create() const;
    // Creates the missing parents first; with makeWritableByAll each folder made gets mode 0777. On failure the
    // folders this call made are removed again.
    VError CreateRecursive(bool makeWritableByAll = false) const;
    VError MakeWritableByAll() const;
    // True when the folder does not exist or nothing (hidden items included) is listed in it.
    bool IsEmpty() const;

    // ---- Deleting
    // Sub-folders (when recursive) then files, hidden ones included; stops at the first error.
    VError DeleteContents(bool recursive) const;
    // An empty folder is removed; a non-empty one only when recursive (else 651). A symbolic link at the path is
    // removed as a link: what it leads to is never emptied.
    VError Delete(bool recursive) const;
    // Removes the folder and everything below it whatever the modes (653). A link there is removed, not
    // followed; nothing outside the tree changes.
    VError DeleteForced() const;
    // Nothing when the folder does not exist; else into the desktop's Trash (661 on failure).
    VError MoveToTrash() const;

    // ---- Renaming, moving, copying
    // Renames the last element; never replaces an existing object (657 with "newname"). out (when given)
    // receives the renamed folder, retained, in this folder's file system when that authorizes it, or null.
    VError Rename(const VString& newName, VFolder** out = nullptr) const;
    // Moves into destination, under newName when not empty, else the own name. Never replaces (657). Across
    // devices the tree is copied under a hidden name beside the target and renamed into place once whole, then
    // the source is removed; a failed copy leaves the target and the source as they were. When only the source's
    // removal fails, out still receives the moved folder and 653 is raised for what is left of the source (under
    // a hidden name beside it) with "destination" naming the whole copy. out is in destination's file system
    // when that authorizes it.
    VError Move(const VFolder& destination, VFolder** out = nullptr) const;
    VError Move(const VFolder& destination, const VString& newName, VFolder** out) const;
    // Copies the folder into destination under its own name, or name. A destination that is this folder or lies
    // inside it, by identity (links followed), is refused (660), and so is a replace whose target is this folder or
    // holds it. FOLDER_COPY_REPLACE is whole or nothing: the copy is built beside an existing target (a folder or
    // a link, which is replaced as a link) and exchanged with it, so a failure leaves the old target; a file at
    // the target is refused. out (when given) receives the target folder, also after a failure.
    VError CopyTo(const VFolder& destination, VFolder** out = nullptr, uint32 options = FOLDER_COPY_DEFAULT) const;
    VError CopyTo(const VFolder& destination, const VString& name, VFolder** out,
                  uint32 options = FOLDER_COPY_DEFAULT) const;
    // Copies what the folder holds into destination (made when missing). A folder that cannot be read fails.
    VError CopyContentsTo(const VFolder& destination, uint32 options = FOLDER_COPY_DEFAULT) const;

    // ---- Listing
    // Appends the files, then the sub-folders, hidden ones left out. Nothing when the folder does not exist.
    void GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const;
    void GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders) const;
    // Calls back for the files (FI_WANT_FILES) and then the sub-folders (FI_WANT_FOLDERS), recursing with
    // FI_RECURSIVE; the callback answers whether to go on.
    void Iterate(const std::function<bool(IFileAttributeAccessor*)>& callback, uint32 flags) const;

    // ---- Attributes
    VError GetTimeAttributes(VTime* modified = nullptr, VTime* created = nullptr,
                             VTime* accessed = nullptr) const override;
    VError SetTimeAttributes(const VTime* modified = nullptr, const VTime* created = nullptr,
                             const VTime* accessed = nullptr) const;
    VError GetVolumeCapacity(int64* total) const;
    VError GetVolumeFreeSpace(int64* free, bool availableOnly = true) const;
    // A name beginning with '.'.
    VError IsHidden(bool& hidden) const;
    // FATT_LOCKED, FATT_HIDDEN of the folder (links followed); the platform code, nothing raised.
    VError GetFolderAttributes(uint32& attributes) const;
    VError SetFolderAttributes(uint32 attributes) const;
    // The caller may search the folder.
    bool IsTraversable() const;
    bool IsWritableByAll() const;
    // An existing folder shown as one document: its extension is a bundle's ("app", "framework", "bundle",
    // "plugin", case ignored) or it holds "Contents/Info.plist".
    bool MAC_IsPackage() const;
    VError MAC_SetPermissions(uint16 mode) const;
    VError MAC_GetPermissions(uint16* mode) const;
    VError Mac_GetOwner(uint32& user, uint32& group) const;

    // ---- Relatives
    // Retained; null at a volume root, or (stayInFileSystem) when the parent leaves the file system; a parent
    // outside it has none.
    VFolder* RetainParentFolder(bool stayInFileSystem = false) const override;
    IFolder* RetainRelativeFolder(const VString& path, FilePathStyle style,
                                  VFileSystem* fileSystem = nullptr) const override;
    VFolder* RetainRelativeFolderObject(const VString& path, FilePathStyle style) const;
    // Retained; null when the text names no file.
    VFile* RetainRelativeFile(const VString& path, FilePathStyle style) const;
    IFile* _RetainRelativeIFile(const VString& path, FilePathStyle style) const override;

    // A folder path naming a symbolic link rather than a folder: *io is replaced by the folder the link leads to.
    // A link to something else fails with 618, a broken one with the native error; with deleteBrokenAlias such
    // a link is deleted instead and that deletion's result answered. Anything else: 0, *io unchanged.
    static VError ResolveAliasFolder(VFolder** io, bool deleteBrokenAlias);
    // The folder name in parent, through the link there if any (a broken link deleted); retained, or null.
    static VFolder* CreateAndResolveAlias(const VFolder& parent, const VString& name);

    // The folder of kind (made when create and missing), retained; null for a kind with no folder here.
    static VFolder* RetainSystemFolder(ESystemFolderKind kind, bool create = false);
    // Where a kind lies ("" for none), from the environment as the XDG base directories say.
    static std::string SystemFolderPosixPath(ESystemFolderKind kind);

    using VObject::DebugDump;
    CharSet DebugDump(char* buffer, int& length) const override;

private:
    void _InitImpl();
    VError _Wrap(VError operation, VError result) const;
    VError _RefuseCopyInto(const VFolder& destination, VFolder** out) const;
    VError _ReplaceWithCopy(const VFolder& target, uint32 options) const;
    VError _MoveAcrossDevices(const VFolder& destination, const VFilePath& target, VFolder** out) const;
    VFolder* _RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem) const;

    VFilePath fPath;
    std::string fPosixPath;
    VFileSystem* fFileSystem = nullptr;
};

} // namespace vela
