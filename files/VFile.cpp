#include "files/VFile.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VURL.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace vela {

// The last volume space query of a file.
struct VFile::VolumeInfo {
    uint32 fStamp = 0;
    bool fAvailableOnly = false;
    int64 fFree = 0;
    int64 fTotal = 0;
};

namespace {

uint32 NowMs() noexcept {
    using namespace std::chrono;
    return uint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

VError FileError(const VFile& file, VError operation, VError result) {
    return WrapFileError(file.GetPathRef(), operation, result);
}

} // namespace

// ---- Construction

VFile::VFile(const VFile& other)
    : VObject(), IFile(), fPath(other.fPath), fFileSystem(RetainRefCountable(other.fFileSystem)) {
    _InitImpl();
}

VFile::VFile(const VURL& url) {
    url.GetFilePath(fPath);
    _InitImpl();
}

VFile::VFile(const VString& path, FilePathStyle style) : fPath(path, style) {
    _InitImpl();
}

VFile::VFile(const VFilePath& path, VFileSystem* fileSystem)
    : fPath(path), fFileSystem(RetainRefCountable(fileSystem)) {
    _InitImpl();
}

VFile::VFile(const VFilePath& base, const VString& relative, FilePathStyle style) {
    fPath.FromRelativePath(base, relative, style, false);
    _InitImpl();
}

VFile::VFile(const char* posixPath, const VFilePath& path, VFileSystem* fileSystem)
    : fImpl(posixPath), fPath(path), fFileSystem(RetainRefCountable(fileSystem)) {
    _InitImpl();
}

VFile::~VFile() {
    delete fVolumeInfo.exchange(nullptr);
    ReleaseRefCountable(&fFileSystem);
}

void VFile::_InitImpl() {
    fImpl.Init(this);
}

bool VFile::Init() {
    return true;
}

// ---- Identity

VError VFile::GetPlatformPath(VString& out, FilePathStyle style) const {
    switch (style) {
    case FPS_POSIX:
        if (fImpl.GetPosixPath(out) != VE_OK || out.IsEmpty()) fPath.GetPosixPath(out);
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

bool VFile::Exists() const {
    return fPath.IsFile() && fImpl.Exists();
}

bool VFile::IsSameFile(const VFile* other) const {
    return other != nullptr && fPath.GetPath().EqualToStringRaw(other->fPath.GetPath());
}

VError VFile::GetURL(VString& out, bool encoded) const {
    VURL(fPath).GetAbsoluteURL(out, encoded);
    return VE_OK;
}

CharSet VFile::DebugDump(char* buffer, int& length) const {
    const std::string text = to_string(fPath.GetPath());
    return FormatDebugDump(buffer, length, "VFile %s", text.c_str());
}

// ---- Creating, opening, content

VError VFile::Create(uint32 options) const {
    return WrapFileError(fPath, VE_FILE_CANNOT_CREATE, fImpl.Create(options),
                         [&](VFileError& error) { error.SetLong("options", int32(options)); });
}

VError VFile::Open(FileAccess access, VFileDesc** out, uint32 options) const {
    if (out != nullptr) *out = nullptr;
    return WrapFileError(fPath, VE_FILE_CANNOT_OPEN, fImpl.Open(access, options, out), [&](VFileError& error) {
        error.SetLong("access", int32(access));
        error.SetLong("options", int32(options));
    });
}

VError VFile::GetContent(VMemoryBuffer<1024, 2, 1048576>& buffer) const {
    VFileDesc* desc = nullptr;
    VError error = Open(FA_READ, &desc, FO_FOLLOW_LINK);
    if (error != VE_OK) return error;
    const std::unique_ptr<VFileDesc> owned(desc);
    const int64 size = desc->GetSize();
    buffer.Clear();
    if (size <= 0) return VE_OK;
    if (uint64(size) > SIZE_MAX || !buffer.SetCapacity(size_t(size))) return ThrowFileError(fPath, VE_MEMORY_FULL);
    size_t got = 0;
    error = desc->GetData(buffer.GetDataPtr(), size_t(size), 0, &got);
    buffer.SetDataSizeUnchecked(got);
    return error;
}

VError VFile::GetData(void* buffer, size_t count, size_t* got) const {
    if (got != nullptr) *got = 0;
    VFileDesc* desc = nullptr;
    VError error = Open(FA_READ, &desc, FO_FOLLOW_LINK);
    if (error != VE_OK) return error;
    const std::unique_ptr<VFileDesc> owned(desc);
    return desc->GetData(buffer, count, 0, got);
}

VError VFile::SetContent(const void* data, size_t size) const {
    // A folder that cannot be made leaves its error; the open tells the failure.
    _CreateParentFolder();
    VError failedStep = VE_FILE_CANNOT_OPEN;
    const VError result = fImpl.ReplaceContent(data, size, failedStep);
    return WrapFileError(fPath, failedStep, result);
}

VError VFile::AppendContent(const void* data, size_t size) const {
    _CreateParentFolder();
    VFileDesc* desc = nullptr;
    VError error = Open(FA_READ_WRITE, &desc, FO_FOLLOW_LINK | FO_CREATE_IF_NOT_FOUND);
    if (error != VE_OK) return error;
    const std::unique_ptr<VFileDesc> owned(desc);
    const int64 end = desc->GetSize();
    return desc->PutData(data, size, end);
}

bool VFile::IsWritable() const {
    StErrorContextInstaller quiet(false, true);
    VFileDesc* desc = nullptr;
    const bool writable = Open(FA_READ_WRITE, &desc, FO_FOLLOW_LINK) == VE_OK;
    delete desc;
    return writable;
}

// ---- Renaming, copying, moving, deleting

VError VFile::Rename(const VString& newName, VFile** out) const {
    if (out != nullptr) *out = nullptr;
    return WrapFileError(fPath, VE_FILE_CANNOT_RENAME, fImpl.Rename(newName, out),
                         [&](VFileError& error) { error.SetString("newname", newName); });
}

VError VFile::_Copy(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, FileCopyOptions options) const {
    if (out != nullptr) *out = nullptr;
    auto setParameters = [&](VFileError& error) {
        error.SetString("destination", destination.GetPath());
        error.SetLong("options", int32(options));
    };
    if (!fPath.IsValid() || !destination.IsValid()) return ThrowFileError(fPath, VE_FILE_CANNOT_COPY, setParameters);
    return WrapFileError(fPath, VE_FILE_CANNOT_COPY, fImpl.Copy(destination, fileSystem, out, options), setParameters);
}

VError VFile::CopyTo(const VFilePath& destination, VFile** out, FileCopyOptions options) const {
    return _Copy(destination, _FileSystemFor(destination), out, options);
}

VError VFile::CopyTo(const VFile& destination, FileCopyOptions options) const {
    return _Copy(destination.fPath, nullptr, nullptr, options);
}

VError VFile::CopyFrom(const VFile& source, FileCopyOptions options) const {
    return source._Copy(fPath, nullptr, nullptr, options);
}

VError VFile::_Move(const VFilePath& destination, VFileSystem* fileSystem, VFile** out, FileCopyOptions options) const {
    if (out != nullptr) *out = nullptr;
    auto setParameters = [&](VFileError& error) {
        error.SetString("destination", destination.GetPath());
        error.SetLong("options", int32(options));
    };
    if (!destination.IsValid()) return ThrowFileError(fPath, VE_FILE_CANNOT_MOVE, setParameters);
    return WrapFileError(fPath, VE_FILE_CANNOT_MOVE, fImpl.Move(destination, fileSystem, out, options), setParameters);
}

VError VFile::Move(const VFilePath& destination, VFile** out, FileCopyOptions options) const {
    return _Move(destination, _FileSystemFor(destination), out, options);
}

VFileSystem* VFile::_FileSystemFor(const VFilePath& destination) const {
    return fFileSystem != nullptr && destination.IsSameOrChildOf(fFileSystem->GetRoot()) ? fFileSystem : nullptr;
}

VError VFile::Move(const VFile& destination, FileCopyOptions options) const {
    return _Move(destination.fPath, destination.fFileSystem, nullptr, options);
}

VError VFile::Delete() const {
    if (!fPath.IsValid()) return ThrowFileError(fPath, VE_FILE_CANNOT_DELETE);
    // Nothing to delete is no failure; neither is a folder or a FIFO at a file's path, which a file
    // deletion leaves alone.
    if (!Exists()) return VE_OK;
    return FileError(*this, VE_FILE_CANNOT_DELETE, fImpl.Delete());
}

// ---- Information

VError VFile::GetSize(int64* size) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.GetSize(size));
}

VError VFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.GetTimeAttributes(modified, created, accessed));
}

VError VFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.SetTimeAttributes(modified, created, accessed));
}

VError VFile::GetFileAttributes(uint32& attributes) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.GetFileAttributes(attributes));
}

VError VFile::SetFileAttributes(uint32 attributes) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.SetFileAttributes(attributes));
}

VError VFile::GetVolumeFreeSpace(int64* free, int64* total, bool availableOnly, uint32 maxAgeMs,
                                 const VFileDesc* desc) const {
    int64 freeBytes = 0;
    int64 totalBytes = 0;
    VError result = VE_OK;
    if (maxAgeMs == 0) {
        result = fImpl.GetVolumeFreeSpace(&freeBytes, &totalBytes, availableOnly, desc);
    } else {
        const uint32 now = NowMs();
        std::unique_ptr<VolumeInfo> cached(fVolumeInfo.exchange(nullptr));
        if (cached != nullptr && now - cached->fStamp <= maxAgeMs && cached->fAvailableOnly == availableOnly) {
            freeBytes = cached->fFree;
            totalBytes = cached->fTotal;
            delete fVolumeInfo.exchange(cached.release());
        } else {
            cached.reset();
            result = fImpl.GetVolumeFreeSpace(&freeBytes, &totalBytes, availableOnly, desc);
            if (result == VE_OK) delete fVolumeInfo.exchange(new VolumeInfo{now, availableOnly, freeBytes, totalBytes});
        }
    }
    if (result != VE_OK) freeBytes = totalBytes = 0;
    if (free != nullptr) *free = freeBytes;
    if (total != nullptr) *total = totalBytes;
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, result);
}

VError VFile::Mac_GetOwner(uint32& user, uint32& group) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.GetOwner(user, group));
}

VError VFile::MAC_GetPermissions(uint16* mode) const {
    return FileError(*this, VE_FILE_CANNOT_GET_ATTRIBUTES, fImpl.GetPermissions(mode));
}

VError VFile::MAC_SetPermissions(uint16 mode) const {
    return FileError(*this, VE_FILE_CANNOT_SET_ATTRIBUTES, fImpl.SetPermissions(mode));
}

VError VFile::MAC_MakeWritableByAll() const {
    return FileError(*this, VE_FILE_CANNOT_SET_ATTRIBUTES, fImpl.MakeWritableByAll());
}

VError VFile::MAC_CreateSymbolicLink(const VFilePath& target, bool absolute) const {
    const VError result = fImpl.CreateSymbolicLink(target, absolute);
    if (result != VE_OK) _ThrowError(result);
    return result;
}

VError VFile::ResolveAlias(VFilePath& target) const {
    return FileError(*this, VE_FILE_CANNOT_RESOLVE_ALIAS, fImpl.ResolveAlias(target));
}

VError VFile::ResolveAliasFile(VFile** io, bool deleteIfInvalid) {
    if (io == nullptr || *io == nullptr || !(*io)->IsAliasFile()) return VE_OK;
    VFile* alias = *io;
    VFilePath target;
    VError result;
    {
        StErrorContextInstaller quiet(false, true);
        result = alias->fImpl.ResolveAlias(target);
    }
    if (result == VE_OK && target.IsFile()) {
        *io = new VFile(target);
        alias->Release();
        return VE_OK;
    }
    if (deleteIfInvalid) return alias->Delete();
    if (result == VE_OK) return ThrowFileError(alias->fPath, VE_FILE_ALIAS_NOT_A_FILE);
    return FileError(*alias, VE_FILE_CANNOT_RESOLVE_ALIAS, result);
}

VError VFile::ResolveAliasFile(VRefPtr<VFile>& io, bool deleteIfInvalid) {
    VFile* file = io.Get();
    if (file == nullptr) return VE_OK;
    file->Retain();
    const VError result = ResolveAliasFile(&file, deleteIfInvalid);
    io = VRefPtr<VFile>::Adopt(file);
    return result;
}

} // namespace vela
