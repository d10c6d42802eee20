#pragma once

#include "app/platform/XPosixLibrary.h"
#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "files/VFilePath.h"

namespace vela {

class VFile;
class VFolder;

// The standard folders of a bundle.
enum BundleFolderKind : int32 {
    kBUNDLE_FOLDER = 1,
    kBUNDLE_EXECUTABLE_FOLDER = 2,
    kBUNDLE_RESOURCES_FOLDER = 3,
    kBUNDLE_PLUGINS_FOLDER = 5,
    kBUNDLE_PRIVATE_FRAMEWORKS_FOLDER = 6,
    kBUNDLE_SUPPORT_FOLDER = 7,
};

// A loadable code module: a plain dynamic library file, or a bundle folder whose executable is
// Contents/MacOS/<CFBundleExecutable of Contents/Info.plist> (a "X.framework" folder: its file X). Loaded on
// Load, unloaded on Unload or when the last reference goes. Every operation takes the object's lock, so one
// library may be shared between tasks. Created with one reference.
class VLibrary : public VObject, public IRefCountable {
public:
    explicit VLibrary(const VFilePath& path);
    ~VLibrary() override;
    VLibrary(const VLibrary&) = delete;
    VLibrary& operator=(const VLibrary&) = delete;

    // True when loaded (already loaded counts). A file gets the read and execute bits for all first (0555), a
    // framework's executable those of its owner (0500); a framework's "XSym" link files are replaced by symbolic
    // links. Failures push 1010 on the path with the loader's "reason", or 617 for a malformed "XSym" file;
    // nothing at all is neither a file nor a folder (false, nothing pushed). May be retried.
    bool Load();
    void Unload();
    bool IsLoaded() const;
    // The address of an exported function; null when not loaded or not exported.
    void* GetProcAddress(const VString& name) const;
    // The two paths' texts are equal (case-insensitively).
    bool IsSameFile(const VFilePath& path) const;
    const VFilePath& GetPath() const noexcept { return fPath; }

    // The folder of kind of a loaded bundle; false (out cleared) for a plain library, when not loaded, or for an
    // unknown kind.
    bool GetFolderPath(BundleFolderKind kind, VFilePath& out) const;
    // The same as a folder object, retained; null where GetFolderPath is false.
    VFolder* RetainFolder(BundleFolderKind kind) const;
    // The file of the loaded module (the bundle's executable), retained; null when not loaded.
    VFile* RetainExecutableFile() const;

private:
    bool _LoadFile(const VFilePath& file, uint16 neededMode, const VFilePath& reported);
    bool _RepairFrameworkLinks() const;

    mutable VCriticalSection fLock;
    const VFilePath fPath;
    XPosixLibrary fImpl;
    // The module's file: the path itself, or the bundle's executable.
    VFilePath fExecutable;
    bool fIsBundle = false;
    bool fLoaded = false;
};

} // namespace vela
