#include "files/VFileSystem.h"

#include "core/StStringConverter.h"
#include "core/VError.h"
#include "core/VErrorContext.h"
#include "files/IFileSystemObject.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"

#include <cstdio>

namespace vela {

// ---- VFileSystem

VFileSystem::VFileSystem(const VString& name, IFolder* root, uint32 flags, size_t budget, size_t used)
    : fName(name), fRoot(RetainRefCountable(root)), fBudget(budget), fFlags(flags),
      fAvailable(used < budget ? budget - used : 0) {}

VFileSystem::~VFileSystem() {
    if ((fFlags & FS_DELETE_ROOT) != 0) {
        if (auto* folder = dynamic_cast<VFolder*>(fRoot); folder != nullptr && folder->Exists()) {
            StErrorContextInstaller quiet(false, true);
            folder->Delete(true);
        }
    }
    ReleaseRefCountable(&fRoot);
}

VFileSystem* VFileSystem::Create(const VString& name, IFolder* root, uint32 flags, size_t budget, size_t used,
                                 VError* outError) {
    if (name.IsEmpty() || name.FindUniChar('/') != 0) {
        _ThrowErrorWithParam(VE_FILESYSTEM_CANNOT_CREATE, "name", name);
        if (outError != nullptr) *outError = VE_FILESYSTEM_CANNOT_CREATE;
        return nullptr;
    }
    if (outError != nullptr) *outError = VE_OK;
    return new VFileSystem(name, root, flags, budget, used);
}

VFilePath VFileSystem::GetRoot() const {
    return fRoot != nullptr ? fRoot->GetPath() : VFilePath();
}

IFolder* VFileSystem::RetainRootFolder() const {
    if (fRoot == nullptr) return nullptr;
    return fRoot->RetainRelativeFolder(VString(), FPS_POSIX, const_cast<VFileSystem*>(this));
}

bool VFileSystem::IsAuthorized(const VFilePath& path) const {
    return path.IsSameOrChildOf(GetRoot());
}

bool VFileSystem::GetPathWithName(const VFilePath& path, VString& out) const {
    VString relative;
    out.Clear();
    if (!path.GetRelativePosixPath(GetRoot(), relative)) return false;
    out.AppendUniChar('/');
    out += fName;
    out.AppendUniChar('/');
    out += relative;
    return true;
}

VError VFileSystem::Request(size_t n) {
    if ((fFlags & FS_CAN_REQUEST_SPACE) == 0) return VE_FILESYSTEM_REFUSED;
    if (fBudget == 0) return VE_OK;
    size_t available = fAvailable.load(std::memory_order_relaxed);
    do {
        if (available < n) return VE_FILESYSTEM_OVER_BUDGET;
    } while (!fAvailable.compare_exchange_weak(available, available - n, std::memory_order_relaxed));
    return VE_OK;
}

VError VFileSystem::Relinquish(size_t n) {
    if ((fFlags & FS_CAN_REQUEST_SPACE) == 0) return VE_FILESYSTEM_REFUSED;
    if (fBudget == 0) return VE_OK;
    size_t available = fAvailable.load(std::memory_order_relaxed);
    size_t raised;
    do {
        raised = n > fBudget - available ? fBudget : available + n;
    } while (!fAvailable.compare_exchange_weak(available, raised, std::memory_order_relaxed));
    return VE_OK;
}

CharSet VFileSystem::DebugDump(char* buffer, int& length) const {
    const std::string name = to_string(fName);
    const std::string root = to_string(GetRoot().GetPath());
    return FormatDebugDump(buffer, length, "VFileSystem %s at %s", name.c_str(), root.c_str());
}

// ---- VFileSystemNamespace

VFileSystemNamespace::VFileSystemNamespace(VFileSystemNamespace* parent) : fParent(RetainRefCountable(parent)) {}

VFileSystemNamespace::~VFileSystemNamespace() {
    for (auto& entry : fFileSystems)
        entry.second->Release();
    ReleaseRefCountable(&fParent);
}

void VFileSystemNamespace::RegisterFileSystem(VFileSystem* fileSystem) {
    if (fileSystem == nullptr) return;
    VFileSystem* previous = nullptr;
    {
        StLocker<VCriticalSection> lock(fLock);
        VFileSystem*& slot = fFileSystems[to_string(fileSystem->GetName())];
        previous = slot != fileSystem ? slot : nullptr;
        if (slot != fileSystem) slot = RetainRefCountable(fileSystem);
    }
    // Released outside the lock: a last release may delete a root folder.
    ReleaseRefCountable(&previous);
}

VError VFileSystemNamespace::RegisterFileSystem(const VString& name, IFolder* root, uint32 flags) {
    VError error = VE_OK;
    VFileSystem* fileSystem = VFileSystem::Create(name, root, flags, 0, 0, &error);
    RegisterFileSystem(fileSystem);
    ReleaseRefCountable(&fileSystem);
    return error;
}

void VFileSystemNamespace::UnregisterFileSystem(const VString& name) {
    VFileSystem* removed = nullptr;
    {
        StLocker<VCriticalSection> lock(fLock);
        auto found = fFileSystems.find(to_string(name));
        if (found == fFileSystems.end()) return;
        removed = found->second;
        fFileSystems.erase(found);
    }
    ReleaseRefCountable(&removed);
}

VFileSystem* VFileSystemNamespace::_RetainLocal(const VString& name) const {
    StLocker<VCriticalSection> lock(fLock);
    auto found = fFileSystems.find(to_string(name));
    return found != fFileSystems.end() ? RetainRefCountable(found->second) : nullptr;
}

VFileSystem* VFileSystemNamespace::RetainFileSystem(const VString& name, uint32 options) const {
    VFileSystem* found = nullptr;
    for (const VFileSystemNamespace* ns = this; ns != nullptr && found == nullptr; ns = ns->fParent) {
        found = ns->_RetainLocal(name);
        if ((options & FSN_SEARCH_PARENTS) == 0) break;
    }
    if (found != nullptr && (options & FSN_SKIP_HIDDEN) != 0 && (found->GetFlags() & FS_HIDDEN) != 0)
        ReleaseRefCountable(&found);
    return found;
}

IFolder* VFileSystemNamespace::RetainFileSystemRootFolder(const VString& name, uint32 options) const {
    VRefPtr<VFileSystem> fileSystem = VRefPtr<VFileSystem>::Adopt(RetainFileSystem(name, options));
    return fileSystem ? fileSystem->RetainRootFolder() : nullptr;
}

void VFileSystemNamespace::RetainMapOfFileSystems(FileSystemMap& out, uint32 options) const {
    if ((options & FSN_SEARCH_PARENTS) != 0 && fParent != nullptr) fParent->RetainMapOfFileSystems(out, options);
    StLocker<VCriticalSection> lock(fLock);
    for (const auto& [name, fileSystem] : fFileSystems) {
        // A hidden one still shadows a parent's of the same name, as in RetainFileSystem.
        if ((options & FSN_SKIP_HIDDEN) != 0 && (fileSystem->GetFlags() & FS_HIDDEN) != 0) {
            out.erase(name);
            continue;
        }
        out[name] = VRefPtr<VFileSystem>(fileSystem);
    }
}

bool VFileSystemNamespace::ParsePathWithFileSystem(const VString& text, VRefPtr<VFileSystem>& fileSystem,
                                                   VString& relative, uint32 options) const {
    if (text.IsEmpty() || text.GetUniChar(1) != '/') return false;
    const int32 slash = text.FindUniChar('/', 2);
    if (slash == 0) return false;
    VString name, rest;
    text.GetSubString(2, slash - 2, name);
    text.GetSubString(slash + 1, text.GetLength() - slash, rest);
    VRefPtr<VFileSystem> found = VRefPtr<VFileSystem>::Adopt(RetainFileSystem(name, options));
    if (!found) return false;
    const VFilePath root = found->GetRoot();
    const VFilePath full(root, rest, FPS_POSIX, false);
    VString inside;
    if (!full.IsValid() || !full.GetRelativePosixPath(root, inside)) return false;
    fileSystem = found;
    relative = inside;
    return true;
}

namespace {

bool EndsWithSlash(const VString& text) {
    return !text.IsEmpty() && text.GetUniChar(text.GetLength()) == '/';
}

IFile* RetainPlainFile(const VString& text, bool allowPlainPath) {
    if (!allowPlainPath) return nullptr;
    const VFilePath path(text, FPS_POSIX);
    return path.IsValid() && path.IsFile() ? new VFile(path) : nullptr;
}

IFolder* RetainPlainFolder(const VString& text, bool allowPlainPath) {
    if (!allowPlainPath) return nullptr;
    const VFilePath path(text, FPS_POSIX);
    return path.IsValid() && path.IsFolder() ? new VFolder(path) : nullptr;
}

} // namespace

IFile* VFileSystemNamespace::RetainFile(const VString& text, IFolder* base, uint32 options, bool allowPlainPath) const {
    if (text.IsEmpty()) return nullptr;
    if (text.GetUniChar(1) == '/') {
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (ParsePathWithFileSystem(text, fileSystem, relative, options)) {
            if (relative.IsEmpty() || EndsWithSlash(relative)) return nullptr;
            VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fileSystem->RetainRootFolder());
            return root ? root->_RetainRelativeIFile(relative, FPS_POSIX) : nullptr;
        }
        return base == nullptr ? RetainPlainFile(text, allowPlainPath) : nullptr;
    }
    if (base != nullptr) return base->_RetainRelativeIFile(text, FPS_POSIX);
    return RetainPlainFile(text, allowPlainPath);
}

IFolder* VFileSystemNamespace::RetainFolder(const VString& text, IFolder* base, uint32 options,
                                            bool allowPlainPath) const {
    if (text.IsEmpty()) return nullptr;
    if (text.GetUniChar(1) == '/') {
        VString folderText(text);
        if (!EndsWithSlash(folderText)) folderText.AppendUniChar('/');
        VRefPtr<VFileSystem> fileSystem;
        VString relative;
        if (ParsePathWithFileSystem(folderText, fileSystem, relative, options)) {
            if (!relative.IsEmpty() && !EndsWithSlash(relative)) return nullptr;
            VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fileSystem->RetainRootFolder());
            return root ? root->RetainRelativeFolder(relative, FPS_POSIX, fileSystem.Get()) : nullptr;
        }
        return base == nullptr ? RetainPlainFolder(folderText, allowPlainPath) : nullptr;
    }
    if (base != nullptr) return base->RetainRelativeFolder(text, FPS_POSIX, nullptr);
    return RetainPlainFolder(text, allowPlainPath);
}

IFile* VFileSystemNamespace::RetainFile(const VFileSystemNamespace* ns, const VString& text, IFolder* base,
                                        uint32 options, bool allowPlainPath) {
    if (ns != nullptr) return ns->RetainFile(text, base, options, allowPlainPath);
    if (text.IsEmpty()) return nullptr;
    if (base != nullptr) return base->_RetainRelativeIFile(text, FPS_POSIX);
    return RetainPlainFile(text, allowPlainPath);
}

IFolder* VFileSystemNamespace::RetainFolder(const VFileSystemNamespace* ns, const VString& text, IFolder* base,
                                            uint32 options, bool allowPlainPath) {
    if (ns != nullptr) return ns->RetainFolder(text, base, options, allowPlainPath);
    if (text.IsEmpty()) return nullptr;
    if (base != nullptr) return base->RetainRelativeFolder(text, FPS_POSIX, nullptr);
    return RetainPlainFolder(text, allowPlainPath);
}

CharSet VFileSystemNamespace::DebugDump(char* buffer, int& length) const {
    StLocker<VCriticalSection> lock(fLock);
    return FormatDebugDump(buffer, length, "VFileSystemNamespace of %zu", fFileSystems.size());
}

} // namespace vela
