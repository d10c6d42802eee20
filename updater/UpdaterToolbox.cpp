#include "updater/UpdaterToolbox.h"

#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "system/VSystem.h"
#include "updater/VUpdateEngine.h"
#include "updater/platform/XPosixFolderSwap.h"

#include <cstring>
#include <vector>

using namespace vela;

namespace {

// Makes folder and its missing parents; made receives the folders this call created, outermost first.
VError CreateMissingFolders(const VFilePath& folder, std::vector<VFilePath>& made) {
    std::vector<VFilePath> missing;
    for (VFilePath path = folder; !path.IsEmpty() && !VFolder(path).Exists();) {
        missing.push_back(path);
        VFilePath parent;
        if (!path.GetParent(parent)) break;
        path = parent;
    }
    for (auto path = missing.rbegin(); path != missing.rend(); ++path) {
        if (const VError error = VFolder(*path).Create(); error != VE_OK) return error;
        made.push_back(*path);
    }
    return VE_OK;
}

// Removes again the folders a failed call made, innermost first; one that someone filled meanwhile stays.
void RemoveMadeFolders(const std::vector<VFilePath>& made) {
    StErrorContextInstaller quiet(false, true);
    for (auto path = made.rbegin(); path != made.rend(); ++path)
        (void)VFolder(*path).Delete(false);
}

VFilePath FolderPathOfPosix(const std::string& posix) {
    VString text(posix.data(), posix.size(), VTC_UTF_8);
    text.AppendUniChar(u'/');
    return VFilePath(text, FPS_POSIX);
}

// The merged tree in a new staging folder beside destination: what destination holds, then source's content.
VError StageMergedCopy(const VFolder& source, const VFolder& destination, uint32 flags, VRefPtr<VFolder>& staged) {
    std::string stagedPath;
    if (const VError error = XPosixFolderSwap::MakeStagingFolder(destination.GetPosixPathBytes(), stagedPath);
        error != VE_OK)
        return error;
    staged = VRefPtr<VFolder>::Adopt(new VFolder(FolderPathOfPosix(stagedPath)));
    if (destination.Exists()) {
        if (const VError error = destination.CopyContentsTo(*staged, FOLDER_COPY_DEFAULT); error != VE_OK) return error;
    }
    return source.CopyContentsTo(*staged, flags);
}

// Puts the staged tree in destination's place: exchanged with an existing destination (staged then holds the
// former one), renamed onto a missing one (never replacing one that appeared meanwhile).
VError SwapIn(VFolder& staged, const VFolder& destination, bool& exchanged) {
    exchanged = false;
    if (destination.Exists()) {
        const VError error =
            XPosixFolderSwap::FlushAndExchange(staged.GetPosixPathBytes(), destination.GetPosixPathBytes());
        exchanged = error == VE_OK;
        return error;
    }
    VString name;
    destination.GetPathRef().GetFolderName(name, true);
    return staged.Rename(name);
}

} // namespace

VError ThrowServiceError(VError code, const VString& serviceName) {
    if (code == VE_OK) return code;
    auto* error = new VErrorBase(code);
    error->SetString("ServiceName", serviceName);
    _PushRetainedError(error);
    return code;
}

void _LogError(VRefPtr<VErrorBase> error) {
    if (!error) return;
    VString text;
    error->GetErrorDescription(text);
    if (text.IsEmpty()) error->GetErrorString(text);
    LogError("%S", &text);
}

void DisplayMessage(const char* message) {
    const VString text(message != nullptr ? message : "", message != nullptr ? std::strlen(message) : 0, VTC_UTF_8);
    ENotificationResponse response = eNotificationResponse_None;
    VSystem::DisplayNotification(VString("Debug"), text, 0, &response);
}

VError RobustCopyFile(const VFilePath& source, const VFilePath& destination, uint32 flags) {
    VFilePath folder;
    destination.GetFolder(folder);
    std::vector<VFilePath> made;
    if (const VError error = CreateMissingFolders(folder, made); error != VE_OK) {
        RemoveMadeFolders(made);
        return ThrowErrorWithPath(error, folder);
    }
    // The file layer copies beside the target and renames the whole copy into place.
    if (VFile(source).CopyTo(destination, nullptr, FileCopyOptions(flags)) != VE_OK) {
        RemoveMadeFolders(made);
        return ThrowErrorWithPaths(VE_UPD_FILE_COPY_FAILED, source, destination);
    }
    return VE_OK;
}

bool RobustCopyFolderContent(const VFolder& source, VFolder& destination, uint32 flags) {
    if (!source.Exists()) {
        ThrowErrorWithPath(VE_FOLDER_NOT_FOUND, source.GetPathRef());
        return false;
    }
    VFilePath parent;
    destination.GetPathRef().GetParent(parent);
    std::vector<VFilePath> made;
    VError error = CreateMissingFolders(parent, made);
    VRefPtr<VFolder> staged;
    bool exchanged = false;
    if (error == VE_OK) error = StageMergedCopy(source, destination, flags, staged);
    if (error == VE_OK) error = SwapIn(*staged, destination, exchanged);
    // The staging folder is this call's: an unfinished copy, or after the exchange the former destination.
    if (staged && (error != VE_OK || exchanged)) {
        StErrorContextInstaller quiet(false, true);
        (void)staged->DeleteForced();
    }
    if (error == VE_OK) return true;
    RemoveMadeFolders(made);
    ThrowErrorWithPath(error, destination.GetPathRef());
    return false;
}

bool RobustCopyFolderContent(const VFilePath& source, const VFilePath& destination, uint32 flags) {
    VFolder destinationFolder(destination);
    return RobustCopyFolderContent(VFolder(source), destinationFolder, flags);
}

VError FindFileByExt(const VFolder& folder, const VString& extension, VFilePath& result) {
    result.Clear();
    // Name order: the directory's own order differs from one file system to the next.
    VString bestName;
    for (VFileIterator file(&folder, FI_WANT_FILES); file.IsValid(); ++file) {
        VString fileExtension, name;
        file->GetPathRef().GetExtension(fileExtension);
        if (!fileExtension.EqualToString(extension, false)) continue;
        file->GetPathRef().GetFileName(name);
        if (!result.IsEmpty() && name.CompareToStringRaw(bestName) != CR_SMALLER) continue;
        bestName = name;
        result = file->GetPathRef();
    }
    if (!result.IsEmpty()) return VE_OK;
    return ThrowErrorWithPath(VE_FILE_NOT_FOUND, folder.GetPathRef());
}

VError FindFileByExt(const VFilePath& folder, const VString& extension, VFilePath& result) {
    if (folder.IsEmpty() || !folder.IsFolder()) {
        result.Clear();
        return ThrowErrorWithPath(VE_INVALID_PARAMETER, folder);
    }
    return FindFileByExt(VFolder(folder), extension, result);
}
