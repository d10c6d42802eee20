#include "app/VLibrary.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "core/VMemoryBuffer.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"

#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vela {

namespace {

constexpr VError VE_LIBRARY_CANNOT_LOAD = MakeLibraryError(1010);
// An "XSym" link file without its four lines.
constexpr VError VE_LIBRARY_BAD_LINK_FILE = MakeLibraryError(617);

std::string PosixOf(const VFilePath& path) {
    StStringConverter<char> utf8(path.GetPath(FPS_POSIX), VTC_UTF_8);
    std::string text(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

VFilePath FromPosix(const std::string& text, bool folder) {
    VString path(text.data(), text.size(), VTC_UTF_8);
    if (folder && !path.EndsWithRawString(VString("/"))) path.AppendUniChar(u'/');
    return VFilePath(path, FPS_POSIX);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

VError ThrowCannotLoad(const VFilePath& path, const std::string& reason) {
    return ThrowFileError(path, VE_LIBRARY_CANNOT_LOAD, [&](VFileError& error) {
        error.SetString("reason", VString(reason.data(), reason.size(), VTC_UTF_8));
    });
}

// Replaces the "XSym" text file at link (the form some file servers give symbolic links: "XSym", a length, a
// checksum, the target, one a line) by a real symbolic link to the target, read relative to the file's folder.
VError RepairLinkFile(const VFilePath& link) {
    VFile file(link);
    if (file.MAC_IsSymbolicLink() || !file.Exists()) return VE_OK;
    VMemoryBuffer<1024, 2, 1048576> content;
    if (file.GetContent(content) != VE_OK) return VE_OK;
    const std::string text(static_cast<const char*>(content.GetDataPtr()), content.GetDataSize());
    if (text.rfind("XSym", 0) != 0) return VE_OK;
    std::vector<std::string> lines;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // An empty target would make the link point at its own folder.
    if (lines.size() < 4 || lines[3].empty()) return ThrowFileError(link, VE_LIBRARY_BAD_LINK_FILE);
    VFilePath folder;
    link.GetFolder(folder);
    std::string target = lines[3];
    if (target.empty() || target.front() != '/') target = PosixOf(folder) + "/" + target;
    struct stat info {};
    const bool isFolder = stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    return file.MAC_CreateSymbolicLink(FromPosix(target, isFolder), false);
}

} // namespace

VLibrary::VLibrary(const VFilePath& path) : fPath(path) {}

VLibrary::~VLibrary() {
    Unload();
}

bool VLibrary::Load() {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (fLoaded) return true;
    const std::string posix = PosixOf(fPath);
    struct stat info {};
    if (posix.empty() || stat(posix.c_str(), &info) != 0) return false;
    if (S_ISREG(info.st_mode)) return _LoadFile(fPath, 0555, fPath);
    if (!S_ISDIR(info.st_mode)) return false;
    const bool framework = EndsWith(posix, ".framework");
    // A link that cannot be repaired is reported; the load goes on and fails on its own if the link mattered.
    if (framework) _RepairFrameworkLinks();
    const std::string executable = XPosixLibrary::BundleExecutable(posix);
    if (executable.empty()) {
        ThrowCannotLoad(fPath, "no executable named by the bundle");
        return false;
    }
    fIsBundle = true;
    return _LoadFile(FromPosix(executable, false), framework ? 0500 : 0, fPath);
}

bool VLibrary::_LoadFile(const VFilePath& file, uint16 neededMode, const VFilePath& reported) {
    if (neededMode != 0) {
        // The bits of what a link leads to: those of the link itself mean nothing.
        std::string real = PosixOf(file);
        if (char* resolved = realpath(real.c_str(), nullptr)) {
            real = resolved;
            free(resolved);
        }
        VFile executable(FromPosix(real, false));
        uint16 mode = 0;
        if (executable.MAC_GetPermissions(&mode) == VE_OK && (mode & neededMode) != neededMode)
            executable.MAC_SetPermissions(uint16(mode | neededMode));
    }
    std::string reason;
    if (!fImpl.Open(PosixOf(file), reason)) {
        ThrowCannotLoad(reported, reason);
        return false;
    }
    fExecutable = file;
    fLoaded = true;
    return true;
}

bool VLibrary::_RepairFrameworkLinks() const {
    VString name;
    fPath.GetFolderName(name, false);
    for (const VString& relative : {VString("Versions/Current"), VString("Resources"), name}) {
        VFilePath link(fPath, relative, FPS_POSIX, true);
        if (RepairLinkFile(link) != VE_OK) return false;
    }
    return true;
}

void VLibrary::Unload() {
    std::lock_guard<VCriticalSection> guard(fLock);
    fImpl.Close();
    fLoaded = false;
    fIsBundle = false;
    fExecutable.Clear();
}

bool VLibrary::IsLoaded() const {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fLoaded;
}

void* VLibrary::GetProcAddress(const VString& name) const {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (!fLoaded) return nullptr;
    StStringConverter<char> utf8(name, VTC_UTF_8);
    return fImpl.GetSymbol(utf8.GetCPointer());
}

bool VLibrary::IsSameFile(const VFilePath& path) const {
    return fPath.GetPath().CompareToString(path.GetPath(), false) == CR_EQUAL;
}

bool VLibrary::GetFolderPath(BundleFolderKind kind, VFilePath& out) const {
    std::lock_guard<VCriticalSection> guard(fLock);
    out.Clear();
    if (!fLoaded || !fIsBundle) return false;
    const std::string bundle = PosixOf(fPath);
    const char* relative = nullptr;
    switch (kind) {
    case kBUNDLE_FOLDER:
        relative = "";
        break;
    case kBUNDLE_EXECUTABLE_FOLDER: {
        const std::string executable = PosixOf(fExecutable);
        out = FromPosix(executable.substr(0, executable.rfind('/')), true);
        return true;
    }
    case kBUNDLE_RESOURCES_FOLDER:
        relative = "/Contents/Resources";
        break;
    case kBUNDLE_PLUGINS_FOLDER:
        relative = "/Contents/PlugIns";
        break;
    case kBUNDLE_PRIVATE_FRAMEWORKS_FOLDER:
        relative = "/Contents/Frameworks";
        break;
    case kBUNDLE_SUPPORT_FOLDER:
        relative = "/Contents/SharedSupport";
        break;
    default:
        return false;
    }
    out = FromPosix(bundle + relative, true);
    return true;
}

VFolder* VLibrary::RetainFolder(BundleFolderKind kind) const {
    VFilePath path;
    return GetFolderPath(kind, path) ? new VFolder(path) : nullptr;
}

VFile* VLibrary::RetainExecutableFile() const {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fLoaded ? new VFile(fExecutable) : nullptr;
}

} // namespace vela
