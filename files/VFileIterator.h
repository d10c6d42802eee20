#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "files/platform/XPosixFSObjectIterator.h"
#include "files/platform/XPosixFile.h"

#include <memory>
#include <string>
#include <type_traits>

namespace vela {

// What a VFolder::Iterate callback sees of the current entry: the file or the folder (not retained, valid
// during the call) and its times.
class IFileAttributeAccessor {
public:
    virtual ~IFileAttributeAccessor() = default;
    // The entry's own times (a link's, not its target's); before any entry 611 is raised and 600 answered.
    virtual VError GetTime(VTime* modified, VTime* created, VTime* accessed) = 0;
    // The current file, or null when the entry is a folder.
    virtual IFile* GetFile() = 0;
    // The current folder, or null when the entry is a file.
    virtual IFolder* GetFolder() = 0;
};

// Hands out the files (V = VFile) or the sub-folders (V = VFolder) of one folder, one at a time, as the
// FileIteratorOptions ask (the other kind's bit is ignored), in the folder's file system: an entry whose real
// path leaves that file system's root is not handed out. Belongs to one task.
template <class V> class VFSObjectIterator : public VObject, public IFileAttributeAccessor {
public:
    VFSObjectIterator(const VFolder* folder, uint32 options) : fFolder(const_cast<VFolder*>(folder)) {
        const uint32 otherKind = std::is_same_v<V, VFile> ? FI_WANT_FOLDERS : FI_WANT_FILES;
        if (folder != nullptr) {
            fFileSystem = folder->GetFileSystem();
            const std::string root =
                fFileSystem != nullptr ? XPosixFile::PosixPathFromFilePath(fFileSystem->GetRoot()) : std::string();
            fPlatform =
                std::make_unique<XPosixFSObjectIterator>(folder->GetPosixPathBytes(), options & ~otherKind, root);
        }
        _Advance();
    }
    VFSObjectIterator(const VFSObjectIterator&) = delete;
    VFSObjectIterator& operator=(const VFSObjectIterator&) = delete;

    // The current entry (not retained); null once exhausted.
    V* Current() const noexcept { return fCurrent.Get(); }
    V* operator->() const noexcept { return fCurrent.Get(); }
    bool IsValid() const noexcept { return fCurrent.Get() != nullptr; }
    // Entries handed out so far, the current one included.
    int32 GetIndex() const noexcept { return fIndex; }
    VFSObjectIterator& operator++() {
        _Advance();
        return *this;
    }
    // 0, or why entries are missing: the folder could not be opened or read, or a path was too long.
    VError GetLastError() const noexcept { return fLastError; }

    VError GetTime(VTime* modified, VTime* created, VTime* accessed) override {
        if (fPlatform == nullptr) {
            XPosixFSObjectIterator none(std::string(), 0);
            return none.GetTime(modified, created, accessed);
        }
        return fPlatform->GetTime(modified, created, accessed);
    }
    IFile* GetFile() override {
        if constexpr (std::is_same_v<V, VFile>) return fCurrent.Get();
        return nullptr;
    }
    IFolder* GetFolder() override {
        if constexpr (std::is_same_v<V, VFolder>) return fCurrent.Get();
        return nullptr;
    }

private:
    void _Advance() {
        fCurrent = nullptr;
        if (fPlatform == nullptr) return;
        std::string posix;
        bool isFolder = false;
        while (fPlatform->GetNextPath(posix, isFolder)) {
            VFilePath path;
            XPosixFile::GetFilePathFromPosixPath(posix.c_str(), isFolder, path);
            if (!path.IsValid()) continue;
            fCurrent = VRefPtr<V>::Adopt(new V(posix.c_str(), path, fFileSystem));
            ++fIndex;
            return;
        }
        fLastError = fPlatform->GetLastError();
        // Exhausted, but GetTime still answers for no entry.
    }

    VRefPtr<VFolder> fFolder;
    VFileSystem* fFileSystem = nullptr; // the folder's, which holds it
    VRefPtr<V> fCurrent;
    int32 fIndex = 0;
    std::unique_ptr<XPosixFSObjectIterator> fPlatform;
    VError fLastError = 0;
};

class VFileIterator : public VFSObjectIterator<VFile> {
public:
    using VFSObjectIterator::VFSObjectIterator;
};

class VFolderIterator : public VFSObjectIterator<VFolder> {
public:
    using VFSObjectIterator::VFSObjectIterator;
};

} // namespace vela
