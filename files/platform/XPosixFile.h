// Internal header: the platform part of VFile and VFileDesc; include files/VFile.h or files/VFileDesc.h.
#pragma once

#include "core/VObject.h"
#include "core/VString.h"
#include "files/VFileOptions.h"

#include <string>

namespace vela {

class VFile;
class VFileDesc;
class VFilePath;
class VFileSystem;
class VTime;

// The Linux file layer for one file: the work behind VFile, on the file's POSIX path (UTF-8 bytes, names kept
// as they are). Operations answer 0 or 'POSX' | errno and push nothing; VFile turns failures into file errors.
// Each system call is preceded by XPosixFaults::Fail with its name, so tests can make it fail.
class XPosixFile : public VObject {
public:
    XPosixFile() = default;
    // The POSIX path given as it stands (UTF-8), not computed from the owner's path.
    explicit XPosixFile(const char* posixPath) : fPosixPath(posixPath != nullptr ? posixPath : "") {}
    XPosixFile(const XPosixFile&) = delete;
    XPosixFile& operator=(const XPosixFile&) = delete;

    // Sets the owner (not retained) and, unless given at construction, the POSIX path from the owner's path.
    void Init(VFile* owner);
    const std::string& GetPosixPathBytes() const noexcept { return fPosixPath; }
    // The POSIX path as text; always 0.
    VError GetPosixPath(VString& out) const;

    // ---- Path helpers
    // The UTF-8 bytes of a path's POSIX text (empty when invalid).
    static std::string PosixPathFromFilePath(const VFilePath& path);
    // A POSIX text to a path; a folder gets its trailing '/'. Null clears the path.
    static void GetFilePathFromPosixPath(const char* posix, bool isFolder, VFilePath& out);
    // True when the last element (a trailing '/' ignored) begins with '.'.
    static bool PosixNameBeginsWithDot(const char* posix) noexcept;
    // An absolute POSIX path to the internal form, through the mounted volumes: the name of the volume that
    // holds it, then its elements after the mount point, ':' and '/' swapped inside names. "." steps vanish and
    // ".." steps are taken lexically; repeated '/' count as one. A path ending with '/' or ".." names a folder.
    // False (out untouched) when posix is not absolute or no volume holds it.
    static bool PosixFullPathToHFS(const VString& posix, VString& out);
    // An internal full path to POSIX: the volume's mount path, then the elements with ':' and '/' swapped back.
    // An unknown volume name gives "/" + the name. Answers whether the volume is mounted.
    static bool HFSFullPathToPosix(const VString& hfs, VString& out);
    // Renames from onto to, never replacing an existing to ('POSX' EEXIST). Where the file system cannot rename
    // exclusively, to is checked first and the rename done only when it is absent.
    static VError RenamePath(const char* from, const char* to);

    // ---- The file
    // Options FO_OVERWRITE replaces an existing file; without it an existing file fails with EEXIST. Mode 0644.
    VError Create(uint32 options) const;
    // out gets a new descriptor for the owner (null on failure). Access above FA_MAX fails with EINVAL; a lock
    // held by another opener fails with EACCES.
    VError Open(FileAccess access, uint32 options, VFileDesc** out) const;
    // The path with its last element replaced by newName, exclusively; out (when given) the renamed file.
    VError Rename(const VString& newName, VFile** out) const;
    // Copies the file (a symbolic link as a link) to dest, or into dest with the own name when dest is a folder
    // path. The data goes to a temporary file beside the target first, which then takes the target's place, so
    // a failed copy never leaves a partial or emptied target. FCP_OVERWRITE replaces an existing target.
    VError Copy(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32 options) const;
    // Renames to dest (or into it with the own name), exclusively unless FCP_OVERWRITE; across devices copies,
    // then deletes the source.
    VError Move(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32 options) const;
    VError Delete() const;
    // lstat succeeds on a regular file or a symbolic link.
    bool Exists() const;

    // The times of the file (links not followed); null outputs are skipped. Creation is the birth time where
    // the file system keeps one, else the modification time.
    VError GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const;
    static VError GetTimeAttributes(const char* path, bool followLinks, VTime* modified, VTime* created,
                                    VTime* accessed);
    // Sets the modification and access times given (null ones kept); Linux cannot set a creation time, which
    // is ignored.
    VError SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const;
    static VError SetTimeAttributes(const char* path, const VTime* modified, const VTime* created,
                                    const VTime* accessed);
    // FATT_LOCKED for an immutable file, FATT_HIDDEN for a name beginning with '.'.
    static VError GetPathAttributes(const char* path, bool followLinks, uint32& attributes);
    // Sets or clears the immutable flag; hidden follows the name on Linux and cannot be set.
    static VError SetPathAttributes(const char* path, bool followLinks, uint32 attributes);
    VError GetFileAttributes(uint32& attributes) const;
    VError SetFileAttributes(uint32 attributes) const;
    // What the calling user may do: 4 read, 2 write, 1 execute or search; root 7, a locked object 0.
    static VError GetEffectivePermission(const char* path, uint32& permission);
    // Adds owner read and write (and search for a folder) when missing and the caller may. A symbolic link is
    // left alone unless followLinks: its target may lie anywhere.
    static VError UnlockPath(const char* path, bool followLinks);
    VError Unlock() const;

    // Space on the volume holding path, or desc's file when given; availableOnly counts what an unprivileged
    // user may take.
    static VError GetVolumeFreeSpace(const char* path, int64* free, int64* total, bool availableOnly,
                                     const VFileDesc* desc);
    VError GetVolumeFreeSpace(int64* free, int64* total, bool availableOnly, const VFileDesc* desc) const;

    bool IsSymbolicLink() const;
    VError ReadSymbolicLink(VString& out) const;
    // Replaces the file by a symbolic link to target: relative to the file's folder unless absolute.
    VError CreateSymbolicLink(const VFilePath& target, bool absolute) const;
    // A symbolic link: target = the path it leads to. Anything else is no alias: 'vela' 611.
    VError ResolveAlias(VFilePath& target) const;
    bool IsAliasFile() const { return IsSymbolicLink(); }

    VError GetSize(int64* size) const;
    VError GetOwner(uint32& user, uint32& group) const;
    VError MakeWritableByAll() const;
    bool IsWritableByAll() const;
    VError SetPermissions(uint16 mode) const;
    VError GetPermissions(uint16* mode) const;
    // Replaces the file's bytes whole: they go to a hidden file beside it that is flushed, given the old file's
    // mode (and owner, where the caller may) and renamed over it, so that a failure at any step leaves the old
    // file as it was. A symbolic link is followed and stays. An old file that cannot be opened for writing or
    // is locked by another opener is refused. failedStep receives the file error code of the failed step.
    VError ReplaceContent(const void* data, size_t size, VError& failedStep) const;

private:
    VError _CopyFileTo(const std::string& target, uint32 options) const;
    // The target of a copy or move: dest, or dest with the own name when dest is a folder path.
    bool _TargetPath(const VFilePath& dest, VFilePath& target) const;
    VFile* _NewFile(const VFilePath& path, VFileSystem* fileSystem) const;

    VFile* fOwner = nullptr;
    std::string fPosixPath;
    bool fPathGiven = false;
};

// The platform part of an open file: the descriptor (closed with the object) and a current position.
class XPosixFileDesc : public VObject {
public:
    explicit XPosixFileDesc(int descriptor) noexcept : fDescriptor(descriptor) {}
    ~XPosixFileDesc() override;
    XPosixFileDesc(const XPosixFileDesc&) = delete;
    XPosixFileDesc& operator=(const XPosixFileDesc&) = delete;

    int GetDescriptor() const noexcept { return fDescriptor; }

    VError GetSize(int64* size) const;
    VError SetSize(int64 size) const;
    // Reads ioCount bytes at pos (absolute) or at the position + pos; ioCount gets the bytes read, and fewer
    // than asked answer 'vela' 200. Only a relative read moves the position.
    VError GetData(void* buffer, size_t& ioCount, int64 pos, bool absolute) const;
    // The same for writing; a write that stops short answers its errno (ENOSPC...), or EINVAL when none.
    VError PutData(const void* buffer, size_t& ioCount, int64 pos, bool absolute) const;
    VError GetPos(int64* pos) const;
    // A resulting position below 0 is refused with EINVAL and leaves the position as it was.
    VError SetPos(int64 pos, bool absolute) const;
    VError Flush() const;

private:
    int fDescriptor;
    // One descriptor is used by one task at a time: the position needs no lock.
    mutable int64 fPosition = 0;
};

} // namespace vela
