#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "files/IFileSystemObject.h"
#include "files/VFileOptions.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "files/platform/XPosixFile.h"

#include <atomic>

namespace vela {

class VFileDesc;
class VFileKind;
class VURL;

// A file: its path, the platform object that does the work, and the named file system that confines it (none
// for now). Shared by reference count (1 when made). Failures are raised as file errors naming the file (codes
// in files/VFileError.h) and answered. The path names what it names: a VFile made from the POSIX path of a
// symbolic link names the link, and Delete removes the link.
class VFile : public VObject, public IFile {
public:
    VFile(const VFile& other);
    explicit VFile(const VURL& url);
    VFile(const VString& path, FilePathStyle style);
    explicit VFile(const VFilePath& path, VFileSystem* fileSystem = nullptr);
    // The file at relative below folder.
    VFile(const VFolder& folder, const VString& relative, FilePathStyle style);
    VFile(const VFilePath& base, const VString& relative, FilePathStyle style);
    // The platform object works on posixPath (UTF-8) as it stands; path is what the file reports.
    VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem = nullptr);
    ~VFile() override;
    VFile& operator=(const VFile&) = delete;

    // Start-up of the file layer; nothing to do, answers true.
    static bool Init();

    // ---- Identity
    VFilePath GetPath() const override { return fPath; }
    // The stored path, without a copy.
    const VFilePath& GetPathRef() const noexcept { return fPath; }
    VFileSystem* GetFileSystem() const override { return fFileSystem; }
    VError GetPlatformPath(VString& out, FilePathStyle style) const override;
    const XPosixFile& GetImpl() const noexcept { return fImpl; }
    // The path is a file path and a regular file or symbolic link is there.
    bool Exists() const override;
    // Same path text, compared unit by unit (Linux names differ by case).
    bool IsSameFile(const VFile* other) const;
    // "file://" URL of the path; always 0.
    VError GetURL(VString& out, bool encoded) const;
    // The URL without base's URL in front when it begins with it; always 0.
    VError GetRelativeURL(const VFolder* base, VString& out, bool encoded) const;
    // The folder holding the file, retained; null at a volume root.
    VFolder* RetainParentFolder(bool sandboxed = true) const override;

    // ---- Kinds (defined beside the kinds, in intl/VFileConformsTo.cpp)
    // The file's type identifier (from the type declarations registered, for an existing file) conforms to
    // kind's identifier, or the file's extension is one of kind's; a kind without identifier looks at the
    // extension alone.
    bool ConformsTo(const VFileKind& kind) const;
    // The same for the kind the file-kind manager knows for kindID; false when it knows none.
    bool ConformsTo(const VString& kindID) const;

    // ---- Creating, opening, content
    // FO_OVERWRITE replaces an existing file; without it an existing file fails (607).
    VError Create(uint32 options = FO_DEFAULT) const;
    // out receives the open file, owned by the caller (null on failure, 602 with "access" and "options").
    VError Open(FileAccess access, VFileDesc** out, uint32 options = FO_FOLLOW_LINK) const;
    VError GetContent(VMemoryBuffer<1024, 2, 1048576>& buffer) const override;
    VError GetData(void* buffer, size_t count, size_t* got) const override;
    // Replaces the content whole (XPosixFile::ReplaceContent): a failure leaves the old file as it was; the
    // error is that of the failed step (602 open, 216 write, 217 flush, 609 mode, 601 rename).
    VError SetContent(const void* data, size_t size) const override;
    VError AppendContent(const void* data, size_t size) const override;
    bool IsWritable() const override;
    // A new empty file "vel_<UUID>" in the temporary folder, retained; null when it cannot be made.
    static VFile* CreateTemporaryFile();

    // ---- Renaming, copying, moving, deleting
    // out (when given) receives the renamed file, retained. Never replaces an existing file (601).
    VError Rename(const VString& newName, VFile** out = nullptr) const;
    // Copies to dest (or into it when it is a folder path); FCP_OVERWRITE replaces an existing target (605). The
    // file out receives keeps this file's file system when dest lies in its root (as Move does), else has none.
    VError CopyTo(const VFilePath& destination, VFile** out, FileCopyOptions options = FCP_DEFAULT) const;
    VError CopyTo(const VFile& destination, FileCopyOptions options = FCP_DEFAULT) const override;
    // Into the folder, under the file's own name.
    VError CopyTo(const VFolder& destination, VFile** out, FileCopyOptions options = FCP_DEFAULT) const override;
    // Copies source onto this path (605 names the source).
    VError CopyFrom(const VFile& source, FileCopyOptions options = FCP_DEFAULT) const;
    // Without FCP_OVERWRITE an existing target makes the move fail (606), in the same folder as elsewhere.
    VError Move(const VFilePath& destination, VFile** out, FileCopyOptions options = FCP_DEFAULT) const;
    VError Move(const VFile& destination, FileCopyOptions options = FCP_DEFAULT) const;
    VError Move(const VFolder& destination, VFile** out, FileCopyOptions options = FCP_DEFAULT) const;
    // Nothing there (or something that is neither a file nor a link) is success without a call; an invalid path
    // fails with 604.
    VError Delete() const override;
    // As Delete, into the desktop's Trash (604 when it cannot take the file).
    VError MoveToTrash() const;

    // ---- Information (608 on failure; sizes then 0)
    VError GetSize(int64* size) const override;
    VError GetTimeAttributes(VTime* modified = nullptr, VTime* created = nullptr,
                             VTime* accessed = nullptr) const override;
    // Modification and access times; Linux keeps no settable creation time.
    VError SetTimeAttributes(const VTime* modified = nullptr, const VTime* created = nullptr,
                             const VTime* accessed = nullptr) const;
    // FATT_LOCKED, FATT_HIDDEN.
    VError GetFileAttributes(uint32& attributes) const;
    VError SetFileAttributes(uint32 attributes) const;
    VError GetVolumeFreeSpace(int64* free, int64* total = nullptr, bool availableOnly = true, uint32 maxAgeMs = 0,
                              const VFileDesc* desc = nullptr) const;
    VError Mac_GetOwner(uint32& user, uint32& group) const;
    // The mode's permission bits (0777).
    VError MAC_GetPermissions(uint16* mode) const;
    // 609 on failure.
    VError MAC_SetPermissions(uint16 mode) const;
    VError MAC_MakeWritableByAll() const;
    bool MAC_IsWritableByAll() const { return fImpl.IsWritableByAll(); }
    bool MAC_IsSymbolicLink() const { return fImpl.IsSymbolicLink(); }
    // Replaces the file by a symbolic link to target; the platform code is raised as it is.
    VError MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const;
    bool IsAliasFile() const { return fImpl.IsAliasFile(); }
    // Linux files have no resource fork and no kind or creator codes: a fork is always empty, kinds read 0
    // and setting them changes nothing.
    VError GetResourceForkSize(int64* size) const {
        if (size != nullptr) *size = 0;
        return VE_OK;
    }
    bool HasResourceFork() const noexcept { return false; }
    VError MAC_GetKind(uint32* kind) const {
        if (kind != nullptr) *kind = 0;
        return VE_OK;
    }
    VError MAC_GetCreator(uint32* creator) const {
        if (creator != nullptr) *creator = 0;
        return VE_OK;
    }
    VError MAC_SetKind(uint32) const { return VE_OK; }
    VError MAC_SetCreator(uint32) const { return VE_OK; }
    // target = where the symbolic link leads (611).
    VError ResolveAlias(VFilePath& target) const;
    // Replaces *io (when it is a link to a file) by a file on the target. A link that leads nowhere or to a
    // folder is deleted when deleteIfInvalid, else fails (617 for a folder, 611 for a broken link).
    static VError ResolveAliasFile(VFile** io, bool deleteIfInvalid);
    static VError ResolveAliasFile(VRefPtr<VFile>& io, bool deleteIfInvalid);
    // Adds owner read and write when missing.
    VError Unlock() const { return fImpl.Unlock(); }

    using VObject::DebugDump;
    CharSet DebugDump(char* buffer, int& length) const override;

private:
    struct VolumeInfo;

    void _InitImpl();
    // Makes the folders missing above the file; their errors are raised.
    VError _CreateParentFolder() const;
    VError _Move(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, FileCopyOptions options) const;
    // This file's file system when destination lies in its root, else none: what a copy or move hands on.
    VFileSystem* _FileSystemFor(const VFilePath& destination) const;
    VError _Copy(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, FileCopyOptions options) const;

    XPosixFile fImpl;
    VFilePath fPath;
    VFileSystem* fFileSystem = nullptr;
    // The last volume space query, exchanged whole so that concurrent queries never share a record.
    mutable std::atomic<VolumeInfo*> fVolumeInfo{nullptr};
};

} // namespace vela
