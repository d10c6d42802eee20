#include "files/VFolder.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "core/VTaskMgr.h"
#include "files/BaseURL.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFileSystem.h"
#include "files/VURL.h"
#include "files/platform/XPosixFile.h"
#include "files/platform/XPosixTrash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

namespace vela {

namespace {

// Whether the object at inner (or, when it does not exist yet, its nearest existing ancestor) is the object at
// outer or lies inside it, by identity: the device and inode of each folder up from inner's real path against
// outer's, so that neither a spelling of the path nor a link hides that a target holds the source.
bool IsSameOrInside(const std::string& inner, const std::string& outer) {
    struct stat holder;
    if (::stat(outer.c_str(), &holder) != 0) return false;
    std::string path(inner);
    char* real = nullptr;
    while ((real = ::realpath(path.c_str(), nullptr)) == nullptr) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        if (errno != ENOENT || slash == std::string::npos || path.size() <= 1) return false;
        path.resize(slash == 0 ? 1 : slash);
    }
    std::string walk(real);
    std::free(real);
    for (;;) {
        struct stat status;
        if (::stat(walk.c_str(), &status) == 0 && status.st_dev == holder.st_dev && status.st_ino == holder.st_ino)
            return true;
        const size_t slash = walk.rfind('/');
        if (walk.size() <= 1 || slash == std::string::npos) return false;
        walk.resize(slash == 0 ? 1 : slash);
    }
}

// The folder object at a POSIX path the platform part made.
VRefPtr<VFolder> FolderAtPosixPath(const std::string& posix) {
    VFilePath path;
    XPosixFile::GetFilePathFromPosixPath(posix.c_str(), true, path);
    return VRefPtr<VFolder>::Adopt(new VFolder(posix.c_str(), path));
}

// The file system a result at path keeps: fileSystem when it authorizes path, else none.
VFileSystem* FileSystemFor(VFileSystem* fileSystem, const VFilePath& path) {
    return fileSystem != nullptr && fileSystem->IsAuthorized(path) ? fileSystem : nullptr;
}

// The text with the separator of its style at its end, so that it names a folder.
VString AsFolderText(const VString& text, FilePathStyle style) {
    VString out(text);
    const UniChar separator = style == FPS_POSIX ? '/' : ':';
    if (!out.IsEmpty() && out.GetUniChar(out.GetLength()) != separator) out.AppendUniChar(separator);
    return out;
}

std::string EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    // The base-directory rules ignore relative values.
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

std::string HomePath() {
    std::string home = EnvironmentPath("HOME");
    return home.empty() ? std::string("/") : home;
}

std::string UserPath(const char* variable, const char* fallbackBelowHome) {
    std::string path = EnvironmentPath(variable);
    return path.empty() ? HomePath() + "/" + fallbackBelowHome : path;
}

// The first entry of a ':'-separated list of absolute folders, or fallback.
std::string FirstOfList(const char* variable, const char* fallback) {
    std::string list = EnvironmentPath(variable);
    if (list.empty()) return fallback;
    return list.substr(0, list.find(':'));
}

std::string ExecutableFolder() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got <= 0) return {};
    buffer.resize(size_t(got));
    return buffer.substr(0, buffer.rfind('/'));
}

} // namespace

// ---- Construction

VFolder::VFolder(const VFilePath& path, VFileSystem* fileSystem)
    : fPath(path), fFileSystem(RetainRefCountable(fileSystem)) {
    _InitImpl();
}

VFolder::VFolder(const VFolder& other)
    : VObject(), IFolder(), fPath(other.fPath), fPosixPath(other.fPosixPath),
      fFileSystem(RetainRefCountable(other.fFileSystem)) {}

VFolder::VFolder(const VString& fullPath, FilePathStyle style) {
    fPath.FromFullPath(fullPath, style);
    _InitImpl();
}

VFolder::VFolder(const VFolder& parent, const VString& relative, FilePathStyle style) {
    fPath.FromRelativePath(parent.fPath, AsFolderText(relative, style), style, parent.fFileSystem != nullptr);
    if (parent.fFileSystem != nullptr && parent.fFileSystem->IsAuthorized(fPath))
        fFileSystem = RetainRefCountable(parent.fFileSystem);
    _InitImpl();
}

VFolder::VFolder(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem)
    : fPath(path), fPosixPath(posixPath != nullptr ? posixPath : ""), fFileSystem(RetainRefCountable(fileSystem)) {
    if (fPosixPath.empty()) _InitImpl();
}

VFolder::~VFolder() {
    ReleaseRefCountable(&fFileSystem);
}

void VFolder::_InitImpl() {
    fPosixPath = XPosixFile::PosixPathFromFilePath(fPath);
}

VError VFolder::_Wrap(VError operation, VError result) const {
    return WrapFileError(fPath, operation, result);
}

CharSet VFolder::DebugDump(char* buffer, int& length) const {
    const std::string text = to_string(fPath.GetPath());
    return FormatDebugDump(buffer, length, "VFolder %s", text.c_str());
}

// ---- Identity

VError VFolder::GetPlatformPath(VString& out, FilePathStyle style) const {
    switch (style) {
    case FPS_POSIX:
        out.FromBlock(fPosixPath.data(), fPosixPath.size(), VTC_UTF_8);
        break;
    case FPS_SYSTEM:
        out = fPath.GetPath();
        break;
    default:
        out.Clear();
        break;
    }
    return VE_OK;
}

VError VFolder::GetURL(VString& out, bool encoded) const {
    VString text("file://");
    VString posix;
    GetPlatformPath(posix, FPS_POSIX);
    text.AppendString(posix);
    VURL(text, false).GetAbsoluteURL(out, encoded);
    return VE_OK;
}

void RemoveBaseURL(const VFolder* base, bool encoded, VString& url) {
    if (base == nullptr) return;
    VString prefix;
    base->GetURL(prefix, encoded);
    if (!prefix.IsEmpty() && url.BeginsWithRawString(prefix)) url.Remove(1, prefix.GetLength());
}

VError VFolder::GetRelativeURL(const VFolder* base, VString& out, bool encoded) const {
    GetURL(out, encoded);
    RemoveBaseURL(base, encoded, out);
    return VE_OK;
}

// ---- Existence and creation

bool VFolder::Exists() const {
    return fPath.IsFolder() && XPosixFolder::Exists(fPosixPath.c_str(), true);
}

VError VFolder::Create() const {
    if (Exists()) return VE_OK;
    VError result = XPosixFolder::Create(fPosixPath.c_str());
    // Another creator got there first: what the caller wanted is there.
    if (result == MakePosixError(EEXIST) && Exists()) return VE_OK;
    return _Wrap(VE_FOLDER_CANNOT_CREATE, result);
}

VError VFolder::CreateRecursive(bool makeWritableByAll) const {
    // The missing folders, innermost first; on failure those this call made go again (only while empty).
    std::vector<VRefPtr<VFolder>> missing;
    for (VRefPtr<VFolder> folder(const_cast<VFolder*>(this)); folder && !folder->Exists();
         folder = VRefPtr<VFolder>::Adopt(folder->RetainParentFolder(false)))
        missing.push_back(folder);
    std::vector<const VFolder*> made;
    VError error = VE_OK;
    for (auto it = missing.rbegin(); it != missing.rend() && error == VE_OK; ++it) {
        const bool there = (*it)->Exists();
        error = (*it)->Create();
        if (error == VE_OK && !there) made.push_back(it->Get());
        if (error == VE_OK && makeWritableByAll) error = (*it)->MakeWritableByAll();
    }
    if (error != VE_OK)
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            (void)::rmdir((*it)->fPosixPath.c_str());
    return error;
}

VError VFolder::MakeWritableByAll() const {
    VError result = ::chmod(fPosixPath.c_str(), 0777) == 0 ? VE_OK : LastPosixError();
    return _Wrap(VE_FOLDER_CANNOT_SET_ATTRIBUTES, result);
}

bool VFolder::IsEmpty() const {
    if (!Exists()) return true;
    VFolderIterator folders(this, FI_WANT_FOLDERS | FI_WANT_INVISIBLES);
    if (folders.IsValid()) return false;
    VFileIterator files(this, FI_WANT_FILES | FI_WANT_INVISIBLES);
    return !files.IsValid();
}

// ---- Deleting

VError VFolder::DeleteContents(bool recursive) const {
    VError error = VE_OK;
    if (recursive) {
        VFolderIterator folders(this, FI_ITERATE_DELETE | FI_WANT_INVISIBLES | FI_WANT_FOLDERS);
        for (; folders.IsValid() && error == VE_OK; ++folders) {
            error = folders->DeleteContents(true);
            if (VTaskMgr* tasks = VTaskMgr::Get()) tasks->Yield();
            if (error == VE_OK) error = folders->Delete(false);
        }
        if (error == VE_OK) error = _Wrap(VE_FOLDER_CANNOT_DELETE, folders.GetLastError());
    }
    if (error != VE_OK) return error;
    VFileIterator files(this, FI_ITERATE_DELETE | FI_WANT_INVISIBLES | FI_WANT_FILES);
    for (; files.IsValid() && error == VE_OK; ++files)
        error = files->Delete();
    if (error == VE_OK) error = _Wrap(VE_FOLDER_CANNOT_DELETE, files.GetLastError());
    return error;
}

VError VFolder::Delete(bool recursive) const {
    // A link standing for a folder is removed as a link: what it leads to is not this folder's to delete.
    if (XPosixFolder::IsLink(fPosixPath.c_str()))
        return _Wrap(VE_FOLDER_CANNOT_DELETE, XPosixFolder::DeleteLink(fPosixPath.c_str()));
    if (!IsEmpty()) {
        if (!recursive) return ThrowFileError(fPath, VE_FOLDER_NOT_EMPTY);
        if (VError error = DeleteContents(true); error != VE_OK) return error;
    }
    return _Wrap(VE_FOLDER_CANNOT_DELETE, XPosixFolder::Delete(fPosixPath.c_str()));
}

VError VFolder::DeleteForced() const {
    return _Wrap(VE_FOLDER_CANNOT_DELETE, XPosixFolder::DeleteForced(fPosixPath.c_str()));
}

VError VFolder::MoveToTrash() const {
    if (!Exists()) return VE_OK;
    return _Wrap(VE_FOLDER_CANNOT_TRASH, XPosixTrash::MoveToTrash(fPosixPath.c_str()));
}

// ---- Renaming, moving, copying

VError VFolder::Rename(const VString& newName, VFolder** out) const {
    if (out != nullptr) *out = nullptr;
    VFilePath target(fPath);
    VError result =
        target.SetName(newName)
            ? XPosixFolder::RenameExclusive(fPosixPath.c_str(), XPosixFile::PosixPathFromFilePath(target).c_str())
            : MakePosixError(EINVAL);
    if (result == VE_OK) {
        if (out != nullptr) *out = new VFolder(target, FileSystemFor(fFileSystem, target));
        return VE_OK;
    }
    return WrapFileError(fPath, VE_FOLDER_CANNOT_RENAME, result,
                         [&](VFileError& error) { error.SetString("newname", newName); });
}

VError VFolder::Move(const VFolder& destination, VFolder** out) const {
    return Move(destination, VString(), out);
}

VError VFolder::Move(const VFolder& destination, const VString& newName, VFolder** out) const {
    if (out != nullptr) *out = nullptr;
    VString name(newName);
    if (name.IsEmpty()) fPath.GetName(name);
    VFilePath target(destination.fPath);
    target.ToSubFolder(name);
    const std::string to = XPosixFile::PosixPathFromFilePath(target);
    VError result =
        target.IsValid() ? XPosixFolder::RenameExclusive(fPosixPath.c_str(), to.c_str()) : MakePosixError(EINVAL);
    if (result == MakePosixError(EXDEV)) return _MoveAcrossDevices(destination, target, out);
    if (result == VE_OK) {
        if (out != nullptr) *out = new VFolder(target, FileSystemFor(destination.fFileSystem, target));
        return VE_OK;
    }
    return _Wrap(VE_FOLDER_CANNOT_RENAME, result);
}

VError VFolder::_MoveAcrossDevices(const VFolder& destination, const VFilePath& target, VFolder** out) const {
    // The tree is copied beside the target and takes its name only when whole; the source goes only then.
    const std::string to = XPosixFile::PosixPathFromFilePath(target);
    std::string made, leftOver;
    VError result = XPosixFolder::CopyBeside(fPosixPath.c_str(), to.c_str(), made);
    if (result == VE_OK) result = XPosixFolder::PutInPlace(made.c_str(), to.c_str(), false, leftOver);
    if (result != VE_OK) return _Wrap(VE_FOLDER_CANNOT_RENAME, result);
    if (out != nullptr) *out = new VFolder(target, FileSystemFor(destination.fFileSystem, target));
    // The source leaves its name in one step, then goes; what cannot be removed stays under the hidden name.
    std::string aside;
    result = XPosixFolder::MoveAside(fPosixPath.c_str(), aside);
    if (result == VE_OK) result = XPosixFolder::DeleteForced(aside.c_str());
    // The move is done but for the source's removal: the error names what is left of the source and where the
    // whole copy is.
    const VFilePath left = aside.empty() ? fPath : FolderAtPosixPath(aside)->fPath;
    return WrapFileError(left, VE_FOLDER_CANNOT_DELETE, result,
                         [&](VFileError& error) { error.SetString("destination", target.GetPath()); });
}

VError VFolder::_RefuseCopyInto(const VFolder& destination, VFolder** out) const {
    if (out != nullptr) *out = nullptr;
    return ThrowFileError(fPath, VE_FOLDER_CANNOT_COPY,
                          [&](VFileError& error) { error.SetString("destination", destination.fPath.GetPath()); });
}

VError VFolder::CopyTo(const VFolder& destination, VFolder** out, uint32 options) const {
    VString name;
    fPath.GetName(name);
    return CopyTo(destination, name, out, options);
}

VError VFolder::CopyTo(const VFolder& destination, const VString& name, VFolder** out, uint32 options) const {
    if (IsSameFolder(&destination) || destination.fPath.IsChildOf(fPath) ||
        IsSameOrInside(destination.fPosixPath, fPosixPath))
        return _RefuseCopyInto(destination, out);
    VRefPtr<VFolder> target = VRefPtr<VFolder>::Adopt(new VFolder(destination, name, FPS_SYSTEM));
    VError error = VE_OK;
    if ((options & FOLDER_COPY_REPLACE) != 0) {
        // Replacing a target that is the source, or holds it, would delete the source.
        if (target->fPath.GetPath().EqualToStringRaw(fPath.GetPath()) || fPath.IsChildOf(target->fPath) ||
            IsSameOrInside(fPosixPath, target->fPosixPath))
            return _RefuseCopyInto(*target, out);
        error = _ReplaceWithCopy(*target, options);
    } else {
        error = CopyContentsTo(*target, options);
    }
    if (out != nullptr) *out = target.Forget();
    return error;
}

VError VFolder::_ReplaceWithCopy(const VFolder& target, uint32 options) const {
    if (!Exists()) return ThrowFileError(fPath, VE_FOLDER_NOT_FOUND);
    // Only a folder, or a link, is a target a folder may replace; a file there is no folder to replace.
    if (XPosixFolder::IsPresent(target.fPosixPath.c_str()) && !XPosixFolder::Exists(target.fPosixPath.c_str(), false) &&
        !XPosixFolder::IsLink(target.fPosixPath.c_str()))
        return target._Wrap(VE_FOLDER_CANNOT_CREATE, MakePosixError(ENOTDIR));
    // With nothing at the target there is nothing to keep: the copy goes there at once (a failed one is removed),
    // so that an interrupted process leaves nothing under another name.
    if (!XPosixFolder::IsPresent(target.fPosixPath.c_str())) {
        VError result = XPosixFolder::CopyToNonExistingFolder(fPosixPath.c_str(), target.fPosixPath.c_str());
        if (result == VE_OK) return VE_OK;
    }
    // The copy is built beside the target and swapped in only when whole: a failure leaves the old target.
    std::string made;
    if (XPosixFolder::CopyBeside(fPosixPath.c_str(), target.fPosixPath.c_str(), made) != VE_OK) {
        // Item by item instead, which names what failed.
        VError result = XPosixFolder::CreateBeside(target.fPosixPath.c_str(), made);
        if (result != VE_OK) return target._Wrap(VE_FOLDER_CANNOT_CREATE, result);
        VRefPtr<VFolder> copy = FolderAtPosixPath(made);
        uint16 mode = 0;
        VError error = CopyContentsTo(*copy, options);
        // The copy takes the source's mode, as the whole-tree copy gives it.
        if (error == VE_OK) error = MAC_GetPermissions(&mode);
        if (error == VE_OK) error = copy->MAC_SetPermissions(mode);
        if (error != VE_OK) {
            (void)XPosixFolder::DeleteForced(made.c_str());
            return error;
        }
    }
    std::string leftOver;
    VError result = XPosixFolder::PutInPlace(made.c_str(), target.fPosixPath.c_str(), true, leftOver);
    if (leftOver.empty()) {
        return WrapFileError(fPath, VE_FOLDER_CANNOT_COPY, result,
                             [&](VFileError& error) { error.SetString("destination", target.fPath.GetPath()); });
    }
    // The copy is in place; the rest of the old target could not be removed.
    return FolderAtPosixPath(leftOver)->_Wrap(VE_FOLDER_CANNOT_DELETE, result);
}

VError VFolder::CopyContentsTo(const VFolder& destination, uint32 options) const {
    // A source that is missing or cannot be listed must fail: an empty target reported as a copy would be taken
    // for the real thing.
    if (!Exists()) return ThrowFileError(fPath, VE_FOLDER_NOT_FOUND);
    if (destination.Exists()) {
        if (IsSameFolder(&destination) || destination.fPath.IsChildOf(fPath) ||
            IsSameOrInside(destination.fPosixPath, fPosixPath))
            return _RefuseCopyInto(destination, nullptr);
    } else if (VError error = destination.Create(); error != VE_OK) {
        return error;
    }
    const bool keepGoing = (options & FOLDER_COPY_KEEP_GOING) != 0;
    const uint32 hidden = (options & FOLDER_COPY_SKIP_HIDDEN) != 0 ? 0u : uint32(FI_WANT_INVISIBLES);
    VError first = VE_OK;
    auto listingError = [&](VError listing) {
        return WrapFileError(fPath, VE_FOLDER_CANNOT_COPY, listing,
                             [&](VFileError& error) { error.SetString("destination", destination.fPath.GetPath()); });
    };
    VFolderIterator folders(this, FI_WANT_FOLDERS | hidden);
    for (; folders.IsValid(); ++folders) {
        VString name;
        folders->GetPathRef().GetName(name);
        VError error = folders->CopyTo(destination, name, nullptr, options);
        if (first == VE_OK) first = error;
        if (error != VE_OK && !keepGoing) return first;
    }
    if (VError error = listingError(folders.GetLastError()); error != VE_OK) {
        if (first == VE_OK) first = error;
        if (!keepGoing) return first;
    }
    VFileIterator files(this, FI_WANT_FILES | hidden);
    for (; files.IsValid(); ++files) {
        VError error = files->CopyTo(destination.fPath, nullptr, FileCopyOptions(options));
        if (first == VE_OK) first = error;
        if (error != VE_OK && !keepGoing) return first;
    }
    if (VError error = listingError(files.GetLastError()); error != VE_OK && first == VE_OK) first = error;
    return first;
}

// ---- Listing

void VFolder::GetContents(std::vector<VRefPtr<VFile>>* files, std::vector<VRefPtr<VFolder>>* folders) const {
    if (!Exists()) return;
    if (files != nullptr)
        for (VFileIterator it(this, FI_WANT_FILES); it.IsValid(); ++it)
            files->emplace_back(it.Current());
    if (folders != nullptr)
        for (VFolderIterator it(this, FI_WANT_FOLDERS); it.IsValid(); ++it)
            folders->emplace_back(it.Current());
}

void VFolder::GetElements(std::vector<VRefPtr<IFile>>* files, std::vector<VRefPtr<IFolder>>* folders) const {
    if (!Exists()) return;
    if (files != nullptr)
        for (VFileIterator it(this, FI_WANT_FILES); it.IsValid(); ++it)
            files->emplace_back(static_cast<IFile*>(it.Current()));
    if (folders != nullptr)
        for (VFolderIterator it(this, FI_WANT_FOLDERS); it.IsValid(); ++it)
            folders->emplace_back(static_cast<IFolder*>(it.Current()));
}

namespace {

using FolderIdentity = std::pair<dev_t, ino_t>;

// One level of an iteration; false once the callback asked to stop. onPath holds the folders being iterated,
// so that a link resolved back to one of them is not entered again.
bool IterateLevel(const VFolder& folder, const std::function<bool(IFileAttributeAccessor*)>& callback, uint32 flags,
                  std::set<FolderIdentity>& onPath) {
    struct stat status;
    if (::stat(folder.GetPosixPathBytes().c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return true;
    const FolderIdentity identity{status.st_dev, status.st_ino};
    if (!onPath.insert(identity).second) return true;
    bool goOn = true;
    if ((flags & FI_WANT_FILES) != 0) {
        for (VFileIterator files(&folder, flags); files.IsValid(); ++files)
            if (!callback(&files)) break;
    }
    if ((flags & (FI_RECURSIVE | FI_WANT_FOLDERS)) != 0) {
        // The hidden and resolve bits hold for sub-folders as for files; folders are listed to recurse even
        // when only files are wanted.
        for (VFolderIterator folders(&folder, flags | FI_WANT_FOLDERS); goOn && folders.IsValid(); ++folders) {
            if ((flags & FI_WANT_FOLDERS) != 0 && !callback(&folders)) goOn = false;
            if (goOn && (flags & FI_RECURSIVE) != 0) goOn = IterateLevel(*folders.Current(), callback, flags, onPath);
        }
    }
    onPath.erase(identity);
    return goOn;
}

} // namespace

void VFolder::Iterate(const std::function<bool(IFileAttributeAccessor*)>& callback, uint32 flags) const {
    if (!Exists()) return;
    std::set<FolderIdentity> onPath;
    IterateLevel(*this, callback, flags, onPath);
}

// ---- Attributes

VError VFolder::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const {
    return _Wrap(VE_FOLDER_CANNOT_GET_ATTRIBUTES,
                 XPosixFile::GetTimeAttributes(fPosixPath.c_str(), true, modified, created, accessed));
}

VError VFolder::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const {
    return _Wrap(VE_FILE_CANNOT_GET_ATTRIBUTES,
                 XPosixFile::SetTimeAttributes(fPosixPath.c_str(), modified, created, accessed));
}

VError VFolder::GetVolumeCapacity(int64* total) const {
    return _Wrap(VE_FOLDER_CANNOT_GET_ATTRIBUTES,
                 XPosixFile::GetVolumeFreeSpace(fPosixPath.c_str(), nullptr, total, false, nullptr));
}

VError VFolder::GetVolumeFreeSpace(int64* free, bool availableOnly) const {
    return _Wrap(VE_FOLDER_CANNOT_GET_ATTRIBUTES,
                 XPosixFile::GetVolumeFreeSpace(fPosixPath.c_str(), free, nullptr, availableOnly, nullptr));
}

VError VFolder::IsHidden(bool& hidden) const {
    struct stat status;
    hidden = false;
    if (::stat(fPosixPath.c_str(), &status) != 0) return LastPosixError();
    hidden = XPosixFile::PosixNameBeginsWithDot(fPosixPath.c_str());
    return VE_OK;
}

VError VFolder::GetFolderAttributes(uint32& attributes) const {
    return XPosixFile::GetPathAttributes(fPosixPath.c_str(), true, attributes);
}

VError VFolder::SetFolderAttributes(uint32 attributes) const {
    return XPosixFile::SetPathAttributes(fPosixPath.c_str(), true, attributes);
}

bool VFolder::IsTraversable() const {
    uint32 permission = 0;
    return XPosixFile::GetEffectivePermission(fPosixPath.c_str(), permission) == VE_OK && (permission & 1) != 0;
}

bool VFolder::IsWritableByAll() const {
    struct stat status;
    return ::stat(fPosixPath.c_str(), &status) == 0 && (status.st_mode & 0222) != 0;
}

bool VFolder::MAC_IsPackage() const {
    if (!Exists()) return false;
    VString extension;
    fPath.GetExtension(extension);
    for (const char* bundle : {"app", "framework", "bundle", "plugin"})
        if (extension.CompareToStringRawCase(VString(bundle)) == CR_EQUAL) return true;
    struct stat status;
    return ::stat((fPosixPath + "Contents/Info.plist").c_str(), &status) == 0;
}

VError VFolder::MAC_SetPermissions(uint16 mode) const {
    VError result = ::chmod(fPosixPath.c_str(), mode_t(mode & 0777)) == 0 ? VE_OK : LastPosixError();
    return _Wrap(VE_FOLDER_CANNOT_SET_ATTRIBUTES, result);
}

VError VFolder::MAC_GetPermissions(uint16* mode) const {
    struct stat status;
    if (::stat(fPosixPath.c_str(), &status) == 0) {
        if (mode != nullptr) *mode = uint16(status.st_mode & 0777);
        return VE_OK;
    }
    VError result = LastPosixError();
    if (mode != nullptr) *mode = 0;
    return _Wrap(VE_FOLDER_CANNOT_GET_ATTRIBUTES, result);
}

VError VFolder::Mac_GetOwner(uint32& user, uint32& group) const {
    struct stat status;
    if (::stat(fPosixPath.c_str(), &status) != 0) return _Wrap(VE_FOLDER_CANNOT_GET_ATTRIBUTES, LastPosixError());
    user = status.st_uid;
    group = status.st_gid;
    return VE_OK;
}

// ---- Relatives

VFolder* VFolder::RetainParentFolder(bool stayInFileSystem) const {
    VFilePath parent;
    if (!fPath.GetParent(parent)) return nullptr;
    if (fFileSystem != nullptr && fFileSystem->IsAuthorized(parent)) return new VFolder(parent, fFileSystem);
    if (stayInFileSystem && fFileSystem != nullptr) return nullptr;
    return new VFolder(parent);
}

VFolder* VFolder::RetainRelativeFolderObject(const VString& path, FilePathStyle style) const {
    return _RetainRelativeFolder(path, style, fFileSystem);
}

IFolder* VFolder::RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem) const {
    return _RetainRelativeFolder(path, style, fileSystem != nullptr ? fileSystem : fFileSystem);
}

VFolder* VFolder::_RetainRelativeFolder(const VString& path, FilePathStyle style, VFileSystem* fileSystem) const {
    VFilePath relative(fPath, AsFolderText(path, style), style, fileSystem != nullptr);
    if (!relative.IsValid() || !relative.IsFolder()) return nullptr;
    if (fileSystem != nullptr && !fileSystem->IsAuthorized(relative)) return nullptr;
    return new VFolder(relative, fileSystem);
}

VFile* VFolder::RetainRelativeFile(const VString& path, FilePathStyle style) const {
    VFilePath relative(fPath, path, style, fFileSystem != nullptr);
    if (!relative.IsValid() || !relative.IsFile()) return nullptr;
    if (fFileSystem != nullptr && !fFileSystem->IsAuthorized(relative)) return nullptr;
    return new VFile(relative, fFileSystem);
}

IFile* VFolder::_RetainRelativeIFile(const VString& path, FilePathStyle style) const {
    return RetainRelativeFile(path, style);
}

// ---- Links standing for folders

VError VFolder::ResolveAliasFolder(VFolder** io, bool deleteBrokenAlias) {
    if (io == nullptr || *io == nullptr || !(*io)->fPath.IsFolder()) return VE_OK;
    if (XPosixFolder::Exists((*io)->fPosixPath.c_str(), false)) return VE_OK;
    VString text((*io)->fPath.GetPath());
    text.Truncate(text.GetLength() - 1);
    VRefPtr<VFile> link = VRefPtr<VFile>::Adopt(new VFile(VFilePath(text)));
    if (!link->Exists() || !link->IsAliasFile()) return VE_OK;
    VFilePath target;
    VError result = link->GetImpl().ResolveAlias(target);
    if (result == VE_OK && target.IsFolder()) {
        (*io)->Release();
        *io = new VFolder(target);
        return VE_OK;
    }
    if (deleteBrokenAlias) return link->Delete();
    if (result == VE_OK) return ThrowFileError((*io)->fPath, VE_FILE_ALIAS_NOT_A_FOLDER);
    return WrapFileError(link->GetPathRef(), VE_FILE_CANNOT_RESOLVE_ALIAS, result);
}

VFolder* VFolder::CreateAndResolveAlias(const VFolder& parent, const VString& name) {
    VFolder* folder = parent.RetainRelativeFolderObject(name, FPS_SYSTEM);
    if (folder == nullptr) return nullptr;
    if (ResolveAliasFolder(&folder, true) != VE_OK) {
        folder->Release();
        return nullptr;
    }
    return folder;
}

// ---- System folders

std::string VFolder::SystemFolderPosixPath(ESystemFolderKind kind) {
    // One table: where each kind lies under the XDG base directories (and their defaults).
    switch (kind) {
    case eFK_Executable:
        return ExecutableFolder();
    case eFK_UserDocuments:
        return UserPath("XDG_DOCUMENTS_DIR", "Documents");
    case eFK_Temporary: {
        std::string tmp = EnvironmentPath("TMPDIR");
        return tmp.empty() ? std::string("/tmp") : tmp;
    }
    case eFK_CommonPreferences:
        return FirstOfList("XDG_CONFIG_DIRS", "/etc/xdg");
    case eFK_UserPreferences:
        return UserPath("XDG_CONFIG_HOME", ".config");
    case eFK_CommonApplicationData:
        return FirstOfList("XDG_DATA_DIRS", "/usr/local/share");
    case eFK_UserApplicationData:
        return UserPath("XDG_DATA_HOME", ".local/share");
    case eFK_Desktop:
        return UserPath("XDG_DESKTOP_DIR", "Desktop");
    case eFK_Applications:
        return "/opt";
    case eFK_CommonCache:
        return "/var/cache";
    case eFK_UserCache:
        return UserPath("XDG_CACHE_HOME", ".cache");
    case eFK_Library:
        return HomePath() + "/.local";
    case eFK_Home:
        return HomePath();
    default:
        return {};
    }
}

VFolder* VFolder::RetainSystemFolder(ESystemFolderKind kind, bool create) {
    std::string posix = SystemFolderPosixPath(kind);
    if (posix.empty()) return nullptr;
    VFilePath path;
    XPosixFile::GetFilePathFromPosixPath(posix.c_str(), true, path);
    if (!path.IsValid()) return nullptr;
    auto* folder = new VFolder(path);
    if (create) {
        // Not reported: the caller sees whether the folder is there.
        StErrorContextInstaller quiet(false, true);
        (void)folder->CreateRecursive(false);
    }
    return folder;
}

} // namespace vela
