#include "files/platform/XPosixFSObjectIterator.h"

#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFile.h"
#include "files/platform/XPosixFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vela {

namespace {

constexpr uint32 kFolders = 2;
constexpr uint32 kFiles = 4;
constexpr uint32 kHidden = 8;
constexpr uint32 kResolve = 16;

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// A type the iterators deliver: folders, regular files and links.
bool IsListedType(mode_t mode) {
    return S_ISDIR(mode) || S_ISREG(mode) || S_ISLNK(mode);
}

mode_t ModeOfType(unsigned char type) {
    switch (type) {
    case DT_DIR:
        return S_IFDIR;
    case DT_REG:
        return S_IFREG;
    case DT_LNK:
        return S_IFLNK;
    default:
        return 0;
    }
}

} // namespace

XPosixFSObjectIterator::XPosixFSObjectIterator(const std::string& folderPath, uint32 options,
                                               const std::string& rootPath)
    : fOptions(options), fConfined(!rootPath.empty()) {
    if (fConfined) {
        // Without the root's real path, entries are held to the root's path as given.
        char* real = ::realpath(rootPath.c_str(), nullptr);
        fRootPath = real != nullptr ? real : rootPath;
        std::free(real);
        if (fRootPath.back() != '/') fRootPath.push_back('/');
    }
    if (XPosixFaults::Fail("opendir") || (fDir = ::opendir(folderPath.c_str())) == nullptr) {
        fLastError = LastPosixError();
        return;
    }
    // The real path, so that entries name what they are wherever links led to the folder.
    if (char* real = ::realpath(folderPath.c_str(), nullptr)) {
        fFolderPath = real;
        std::free(real);
    } else {
        fFolderPath = folderPath;
    }
    if (fFolderPath.empty() || fFolderPath.back() != '/') fFolderPath.push_back('/');
}

XPosixFSObjectIterator::~XPosixFSObjectIterator() {
    if (fDir != nullptr) ::closedir(fDir);
}

bool XPosixFSObjectIterator::GetNextPath(std::string& posixPath, bool& isFolder) {
    fCurrentName.clear();
    if (fDir == nullptr) return false;
    for (;;) {
        errno = 0;
        dirent* entry = XPosixFaults::Fail("readdir") ? nullptr : ::readdir(fDir);
        if (entry == nullptr) {
            if (errno != 0 && fLastError == 0) fLastError = MakePosixError(errno);
            ::closedir(fDir);
            fDir = nullptr;
            return false;
        }
        if (_Accept(entry->d_name, entry->d_type, posixPath, isFolder)) {
            fCurrentName = entry->d_name;
            fCurrentPath.assign(posixPath, 0, isFolder ? posixPath.size() - 1 : posixPath.size());
            return true;
        }
    }
}

bool XPosixFSObjectIterator::_Accept(const char* name, unsigned char type, std::string& posixPath, bool& isFolder) {
    if (IsDotOrDotDot(name)) return false;
    if (type != DT_UNKNOWN && ModeOfType(type) == 0) return false;
    posixPath = fFolderPath;
    posixPath += name;
    if (posixPath.size() >= PATH_MAX) {
        if (fLastError == 0) fLastError = MakePosixError(ENAMETOOLONG);
        return false;
    }
    mode_t mode = ModeOfType(type);
    if (mode == 0) {
        struct stat status;
        if (::fstatat(::dirfd(fDir), name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
        mode = status.st_mode & S_IFMT;
        // Only the lstat tells a FIFO or socket on some file systems: never delivered either.
        if (!IsListedType(mode)) return false;
    }
    if ((fOptions & kHidden) == 0 && name[0] == '.') return false;
    if ((fOptions & kResolve) != 0 && S_ISLNK(mode)) {
        // A link that leads nowhere is delivered as the link.
        if (char* real = ::realpath(posixPath.c_str(), nullptr)) {
            struct stat status;
            if (::stat(real, &status) == 0 && IsListedType(status.st_mode)) {
                posixPath = real;
                mode = status.st_mode & S_IFMT;
            }
            std::free(real);
            if ((fOptions & kHidden) == 0 && XPosixFile::PosixNameBeginsWithDot(posixPath.c_str())) return false;
        }
    }
    isFolder = S_ISDIR(mode);
    if (isFolder ? (fOptions & kFolders) == 0 : (fOptions & kFiles) == 0) return false;
    if (isFolder && posixPath.back() != '/') posixPath.push_back('/');
    return !fConfined || posixPath.compare(0, fRootPath.size(), fRootPath) == 0;
}

VError XPosixFSObjectIterator::GetTime(VTime* modified, VTime* created, VTime* accessed) {
    if (fCurrentName.empty()) {
        VFilePath folder;
        XPosixFile::GetFilePathFromPosixPath(fFolderPath.c_str(), true, folder);
        ThrowFileError(folder, VE_FILE_CANNOT_RESOLVE_ALIAS);
        return VE_FILE_NOT_FOUND;
    }
    return XPosixFile::GetTimeAttributes(fCurrentPath.c_str(), false, modified, created, accessed);
}

} // namespace vela
