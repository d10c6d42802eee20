// The members of VFile that need folders.

#include "files/VFile.h"

#include "core/VErrorContext.h"
#include "files/BaseURL.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/VURL.h"
#include "files/platform/XPosixTrash.h"
#include "values/VUUID.h"

namespace vela {

VFile::VFile(const VFolder& folder, const VString& relative, FilePathStyle style) {
    fPath.FromRelativePath(folder.GetPathRef(), relative, style, false);
    VFileSystem* fileSystem = folder.GetFileSystem();
    if (fileSystem != nullptr && fPath.IsChildOf(fileSystem->GetRoot())) fFileSystem = RetainRefCountable(fileSystem);
    _InitImpl();
}

VFolder* VFile::RetainParentFolder(bool sandboxed) const {
    VFilePath parent;
    if (!fPath.GetParent(parent)) return nullptr;
    if (fFileSystem != nullptr && !fFileSystem->IsAuthorized(parent)) {
        if (sandboxed) return nullptr;
        return new VFolder(parent);
    }
    return new VFolder(parent, fFileSystem);
}

VError VFile::CopyTo(const VFolder& destination, VFile** out, FileCopyOptions options) const {
    return _Copy(destination.GetPathRef(), destination.GetFileSystem(), out, options);
}

VError VFile::Move(const VFolder& destination, VFile** out, FileCopyOptions options) const {
    return _Move(destination.GetPathRef(), destination.GetFileSystem(), out, options);
}

VError VFile::MoveToTrash() const {
    if (!fPath.IsValid()) return ThrowFileError(fPath, VE_FILE_CANNOT_DELETE);
    if (!Exists()) return VE_OK;
    return WrapFileError(fPath, VE_FILE_CANNOT_DELETE, XPosixTrash::MoveToTrash(fImpl.GetPosixPathBytes().c_str()));
}

VError VFile::_CreateParentFolder() const {
    const VRefPtr<VFolder> parent = VRefPtr<VFolder>::Adopt(RetainParentFolder(false));
    return parent ? parent->CreateRecursive(false) : VE_OK;
}

VFile* VFile::CreateTemporaryFile() {
    const VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_Temporary, true));
    if (!folder) return nullptr;
    VString name("vel_");
    VString uuid;
    VUUID(1).GetString(uuid);
    name.AppendString(uuid);
    auto* file = new VFile(*folder, name, FPS_SYSTEM);
    if (file->Create(FO_DEFAULT) != VE_OK) {
        file->Release();
        return nullptr;
    }
    return file;
}

VError VFile::GetRelativeURL(const VFolder* base, VString& out, bool encoded) const {
    GetURL(out, encoded);
    RemoveBaseURL(base, encoded, out);
    return VE_OK;
}

} // namespace vela
