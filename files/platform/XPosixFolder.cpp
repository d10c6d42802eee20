#include "files/platform/XPosixFolder.h"

#include "files/platform/XPosixFaults.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vela {

namespace {

// Closes a descriptor when the scope ends.
class StFd {
public:
    explicit StFd(int fd = -1) noexcept : fFd(fd) {}
    ~StFd() {
        if (fFd >= 0) ::close(fFd);
    }
    StFd(const StFd&) = delete;
    StFd& operator=(const StFd&) = delete;
    int Get() const noexcept { return fFd; }
    void Reset(int fd) noexcept {
        if (fFd >= 0) ::close(fFd);
        fFd = fd;
    }

private:
    int fFd;
};

// Closes a directory stream when the scope ends.
class StDir {
public:
    explicit StDir(DIR* dir) noexcept : fDir(dir) {}
    ~StDir() {
        if (fDir != nullptr) ::closedir(fDir);
    }
    StDir(const StDir&) = delete;
    StDir& operator=(const StDir&) = delete;
    DIR* Get() const noexcept { return fDir; }

private:
    DIR* fDir;
};

// The folder part and the last element of a path ("/a/b/" gives "/a" and "b"; "/a" gives "/" and "a").
bool SplitPath(const char* path, std::string& parent, std::string& name) {
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    size_t slash = text.rfind('/');
    if (slash == std::string::npos || slash + 1 >= text.size()) return false;
    parent = slash == 0 ? std::string("/") : text.substr(0, slash);
    name = text.substr(slash + 1);
    return name != "." && name != "..";
}

// Directory-entry names, read whole before anything below is removed or made.
bool ReadNames(int dirFd, std::vector<std::string>& names, std::vector<unsigned char>& types) {
    int fd = ::dup(dirFd);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return false;
    }
    StDir closer(dir);
    ::rewinddir(dir);
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        names.emplace_back(name);
        types.push_back(entry->d_type);
    }
    return errno == 0;
}

// Removes the folder at path with everything below it, when it is still the object made (same device and inode).
VError RemoveMade(const char* path, const struct stat& made);

// ---------------------------------------------------------------------------------------------------------------
// Tree copy

class TreeCopier {
public:
    VError CopyTop(const char* from, const char* to);

private:
    VError CopyFolderContents(int sourceFd, int targetFd);
    VError CopyEntry(int sourceDirFd, const char* name, int targetDirFd);
    VError CopyFolder(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status);
    VError CopyLink(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status);
    VError CopyFile(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status);
    VError CopyData(int in, int out);
    VError CopyAttributes(int in, int out);
    // Extended attributes, owner, mode and times, in the order that keeps each (chown clears set-id bits).
    VError FinishObject(int in, int out, const struct stat& status);

    dev_t fTargetDevice = 0;
    ino_t fTargetInode = 0;
    uid_t fUser = ::geteuid();
    gid_t fGroup = ::getegid();
    bool fTryRangeCopy = true;
    std::vector<char> fBuffer;
    std::vector<char> fNames;
    std::vector<char> fValue;
};

VError TreeCopier::CopyTop(const char* from, const char* to) {
    StFd source(PosixCall("open", [&] { return ::open(from, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (source.Get() < 0) return LastPosixError();
    struct stat status;
    if (::fstat(source.Get(), &status) != 0) return LastPosixError();
    if (PosixCall("mkdir", [&] { return ::mkdir(to, 0700); }) != 0) return LastPosixError();
    StFd target(::open(to, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat made;
    if (target.Get() < 0 || ::fstat(target.Get(), &made) != 0) {
        VError error = LastPosixError();
        (void)::rmdir(to); // made empty just now
        return error;
    }
    // A target inside the source must not be copied into itself.
    fTargetDevice = made.st_dev;
    fTargetInode = made.st_ino;
    VError error = CopyFolderContents(source.Get(), target.Get());
    if (error == 0) error = FinishObject(source.Get(), target.Get(), status);
    // A partial copy is never left behind: it is what this call made, and only that is removed.
    if (error != 0) (void)RemoveMade(to, made);
    return error;
}

VError TreeCopier::CopyFolderContents(int sourceFd, int targetFd) {
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (PosixCall("readdir", [&] { return ReadNames(sourceFd, names, types) ? 0 : -1; }) != 0) return LastPosixError();
    for (const std::string& name : names)
        if (VError error = CopyEntry(sourceFd, name.c_str(), targetFd); error != 0) return error;
    return 0;
}

VError TreeCopier::CopyEntry(int sourceDirFd, const char* name, int targetDirFd) {
    struct stat status;
    if (::fstatat(sourceDirFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return LastPosixError();
    switch (status.st_mode & S_IFMT) {
    case S_IFDIR:
        if (status.st_dev == fTargetDevice && status.st_ino == fTargetInode) return 0;
        return CopyFolder(sourceDirFd, name, targetDirFd, status);
    case S_IFLNK:
        return CopyLink(sourceDirFd, name, targetDirFd, status);
    case S_IFREG:
        return CopyFile(sourceDirFd, name, targetDirFd, status);
    default:
        // FIFOs, sockets and devices: opening one could block or read a device; a bundle holds none.
        return MakePosixError(ENOTSUP);
    }
}

VError TreeCopier::CopyFolder(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status) {
    StFd source(PosixCall(
        "open", [&] { return ::openat(sourceDirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    if (source.Get() < 0) return LastPosixError();
    // Owner-only until the contents are in, whatever the source's mode says.
    if (PosixCall("mkdir", [&] { return ::mkdirat(targetDirFd, name, 0700); }) != 0) return LastPosixError();
    StFd target(::openat(targetDirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (target.Get() < 0) return LastPosixError();
    if (VError error = CopyFolderContents(source.Get(), target.Get()); error != 0) return error;
    return FinishObject(source.Get(), target.Get(), status);
}

VError TreeCopier::CopyLink(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status) {
    size_t size = size_t(status.st_size) + 1;
    std::string text;
    for (;;) {
        text.resize(size);
        ssize_t got = ::readlinkat(sourceDirFd, name, text.data(), size);
        if (got < 0) return LastPosixError();
        if (size_t(got) < size) {
            text.resize(size_t(got));
            break;
        }
        size *= 2; // the link changed since it was examined
    }
    if (PosixCall("symlink", [&] { return ::symlinkat(text.c_str(), targetDirFd, name); }) != 0)
        return LastPosixError();
    if (status.st_uid != fUser || status.st_gid != fGroup)
        (void)::fchownat(targetDirFd, name, status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW);
    struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (::utimensat(targetDirFd, name, times, AT_SYMLINK_NOFOLLOW) != 0) return LastPosixError();
    return 0;
}

VError TreeCopier::CopyFile(int sourceDirFd, const char* name, int targetDirFd, const struct stat& status) {
    StFd in(PosixCall("open", [&] { return ::openat(sourceDirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC); }));
    if (in.Get() < 0) return LastPosixError();
    StFd out(PosixCall("open", [&] {
        return ::openat(targetDirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (out.Get() < 0) return LastPosixError();
    if (VError error = CopyData(in.Get(), out.Get()); error != 0) return error;
    return FinishObject(in.Get(), out.Get(), status);
}

VError TreeCopier::CopyData(int in, int out) {
    constexpr size_t kRange = size_t(1) << 30;
    while (fTryRangeCopy) {
        ssize_t got =
            PosixCall("copy_file_range", [&] { return ::copy_file_range(in, nullptr, out, nullptr, kRange, 0); });
        if (got == 0) return 0;
        if (got > 0) continue;
        // File systems and kernels that cannot copy in place: read and write from where the copy stands.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF) {
            fTryRangeCopy = errno != ENOSYS;
            break;
        }
        if (errno != EINTR) return LastPosixError();
    }
    if (fBuffer.empty()) fBuffer.resize(size_t(1) << 20);
    for (;;) {
        ssize_t got = PosixCall("read", [&] { return ::read(in, fBuffer.data(), fBuffer.size()); });
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            return LastPosixError();
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = PosixCall("write", [&] { return ::write(out, fBuffer.data() + done, size_t(got - done)); });
            if (put < 0) {
                if (errno == EINTR) continue;
                return LastPosixError();
            }
            done += put;
        }
    }
}

// Attributes the target's file system does not take (another kind of volume, or names only the system may
// set) are left behind, as a copy by the system's own tools does.
bool IgnorableAttributeFailure(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP || error == EPERM || error == EACCES;
}

VError TreeCopier::CopyAttributes(int in, int out) {
    ssize_t size = ::flistxattr(in, nullptr, 0);
    if (size < 0) return errno == ENOTSUP || errno == EOPNOTSUPP ? 0 : LastPosixError();
    if (size == 0) return 0;
    fNames.resize(size_t(size));
    size = ::flistxattr(in, fNames.data(), fNames.size());
    if (size < 0) return LastPosixError();
    for (ssize_t at = 0; at < size;) {
        const char* name = fNames.data() + at;
        at += ssize_t(std::strlen(name)) + 1;
        ssize_t length = ::fgetxattr(in, name, nullptr, 0);
        if (length < 0) {
            if (errno == ENODATA) continue;
            return LastPosixError();
        }
        fValue.resize(size_t(length) + 1);
        length = ::fgetxattr(in, name, fValue.data(), fValue.size());
        if (length < 0) return LastPosixError();
        if (PosixCall("setxattr", [&] { return ::fsetxattr(out, name, fValue.data(), size_t(length), 0); }) != 0 &&
            !IgnorableAttributeFailure(errno))
            return LastPosixError();
    }
    return 0;
}

VError TreeCopier::FinishObject(int in, int out, const struct stat& status) {
    if (VError error = CopyAttributes(in, out); error != 0) return error;
    // Ownership is kept where the caller may give it (root), as a copy that keeps attributes does.
    if (status.st_uid != fUser || status.st_gid != fGroup) (void)::fchown(out, status.st_uid, status.st_gid);
    if (PosixCall("chmod", [&] { return ::fchmod(out, status.st_mode & 07777); }) != 0) return LastPosixError();
    struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (::futimens(out, times) != 0) return LastPosixError();
    return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Forced delete

// The lock of a file or folder: the immutable and append-only flags, which stop any removal.
constexpr int kLockFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

// The /proc name of a descriptor: it names the object itself, so a mode or flag change through it never goes
// through a link, and it works for O_PATH descriptors too.
std::string ProcPath(int fd) {
    char text[64];
    std::snprintf(text, sizeof text, "/proc/self/fd/%d", fd);
    return text;
}

// Clears the lock flags of the object open as fd; answers the flags it had, or -1 when nothing was cleared.
int ClearLock(int fd) {
    StFd data(::open(ProcPath(fd).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    int flags = 0;
    if (data.Get() < 0 || ::ioctl(data.Get(), FS_IOC_GETFLAGS, &flags) != 0 || (flags & kLockFlags) == 0) return -1;
    int cleared = flags & ~kLockFlags;
    if (PosixCall("unlock", [&] { return ::ioctl(data.Get(), FS_IOC_SETFLAGS, &cleared); }) != 0) return -1;
    return flags;
}

void RestoreLock(int fd, int flags) {
    StFd data(::open(ProcPath(fd).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (data.Get() >= 0) (void)::ioctl(data.Get(), FS_IOC_SETFLAGS, &flags);
}

// Widens the mode of the folder open as fd so that its owner may read, search and change it, when the caller
// owns it (root needs no widening). Answers the old mode, or -1 when nothing was changed.
int WidenFolder(int fd, uid_t user) {
    struct stat status;
    if (user == 0 || ::fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode)) return -1;
    if ((status.st_mode & 0700) == 0700 || status.st_uid != user) return -1;
    int old = int(status.st_mode & 07777);
    if (PosixCall("chmod", [&] { return ::chmod(ProcPath(fd).c_str(), mode_t(old | 0700)); }) != 0) return -1;
    return old;
}

// A folder being emptied, with what the walk changed on it so far (-1: nothing).
struct FolderState {
    int fFd = -1;
    int fOldMode = -1;
    int fOldLock = -1;

    void Restore() const {
        if (fOldMode >= 0) (void)::chmod(ProcPath(fFd).c_str(), mode_t(fOldMode));
        if (fOldLock >= 0) RestoreLock(fFd, fOldLock);
    }
};

class TreeRemover {
public:
    // Removes name in the folder: a folder with everything below it, anything else (a link too) by unlinking.
    VError RemoveEntry(FolderState& folder, const char* name, bool isFolder);

private:
    VError RemoveFolder(FolderState& parent, const char* name);
    VError RemoveContents(FolderState& folder);
    // unlinkat with the remedies of a forced delete, each tried once: the folder widened, the entry's lock
    // cleared, the folder's lock cleared.
    VError Unlink(FolderState& folder, const char* name, int flags);

    uid_t fUser = ::geteuid();
};

VError TreeRemover::Unlink(FolderState& folder, const char* name, int flags) {
    auto attempt = [&] { return PosixCall("unlink", [&] { return ::unlinkat(folder.fFd, name, flags); }) == 0; };
    if (attempt() || errno == ENOENT) return 0;
    if (errno == EACCES && folder.fOldMode < 0) {
        folder.fOldMode = WidenFolder(folder.fFd, fUser);
        if (folder.fOldMode >= 0 && attempt()) return 0;
    }
    if (errno != EPERM) return LastPosixError();
    StFd entry(::openat(folder.fFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (entry.Get() >= 0 && ClearLock(entry.Get()) >= 0 && attempt()) return 0;
    if (folder.fOldLock < 0) {
        folder.fOldLock = ClearLock(folder.fFd);
        if (folder.fOldLock >= 0 && attempt()) return 0;
    }
    return LastPosixError();
}

VError TreeRemover::RemoveEntry(FolderState& folder, const char* name, bool isFolder) {
    return isFolder ? RemoveFolder(folder, name) : Unlink(folder, name, 0);
}

VError TreeRemover::RemoveFolder(FolderState& parent, const char* name) {
    FolderState folder;
    auto open = [&] {
        return PosixCall("open",
                         [&] { return ::openat(parent.fFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    };
    StFd fd(open());
    if (fd.Get() < 0 && errno == EACCES && parent.fOldMode < 0) {
        // The parent may be what cannot be searched.
        parent.fOldMode = WidenFolder(parent.fFd, fUser);
        if (parent.fOldMode >= 0) fd.Reset(open());
    }
    if (fd.Get() < 0) {
        if (errno == ENOENT) return 0;
        // Replaced by a link or a file meanwhile: that is removed as it is.
        if (errno == ENOTDIR || errno == ELOOP) return Unlink(parent, name, 0);
        if (errno != EACCES) return LastPosixError();
        // Closed to its owner: widened through a descriptor that needs no access, then opened.
        StFd pathFd(::openat(parent.fFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (pathFd.Get() < 0) return LastPosixError();
        folder.fOldMode = WidenFolder(pathFd.Get(), fUser);
        if (folder.fOldMode < 0) return MakePosixError(EACCES);
        fd.Reset(::open(ProcPath(pathFd.Get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.Get() < 0) {
            VError error = LastPosixError();
            (void)::chmod(ProcPath(pathFd.Get()).c_str(), mode_t(folder.fOldMode));
            return error;
        }
    }
    folder.fFd = fd.Get();
    VError error = RemoveContents(folder);
    if (error == 0) error = Unlink(parent, name, AT_REMOVEDIR);
    // A folder that stays keeps the mode and lock it had.
    if (error != 0) folder.Restore();
    return error;
}

VError TreeRemover::RemoveContents(FolderState& folder) {
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (PosixCall("readdir", [&] { return ReadNames(folder.fFd, names, types) ? 0 : -1; }) != 0)
        return LastPosixError();
    for (size_t i = 0; i < names.size(); ++i) {
        bool isFolder = types[i] == DT_DIR;
        if (types[i] == DT_UNKNOWN) {
            struct stat status;
            if (::fstatat(folder.fFd, names[i].c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) continue;
                return LastPosixError();
            }
            isFolder = S_ISDIR(status.st_mode);
        }
        if (VError error = RemoveEntry(folder, names[i].c_str(), isFolder); error != 0) return error;
    }
    return 0;
}

// The folder at path opened as its parent (O_PATH) and its last element.
VError OpenParent(const char* path, StFd& parentFd, std::string& name) {
    std::string parent;
    if (!SplitPath(path, parent, name)) return MakePosixError(EINVAL);
    parentFd.Reset(PosixCall("open", [&] { return ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    return parentFd.Get() < 0 ? LastPosixError() : 0;
}

VError RemoveMade(const char* path, const struct stat& made) {
    StFd parentFd;
    std::string name;
    if (VError error = OpenParent(path, parentFd, name); error != 0) return error;
    struct stat status;
    if (::fstatat(parentFd.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return LastPosixError();
    if (status.st_dev != made.st_dev || status.st_ino != made.st_ino) return MakePosixError(ESTALE);
    FolderState folder;
    folder.fFd = parentFd.Get();
    TreeRemover remover;
    VError error = remover.RemoveEntry(folder, name.c_str(), S_ISDIR(status.st_mode));
    folder.Restore();
    return error;
}

// A fresh hidden name beside path ("/a/b" gives "/a/.b.<pid>-<n>~"), where a new object is built before it takes
// path's place.
std::string NameBeside(const char* path, unsigned attempt) {
    std::string parent, name;
    if (!SplitPath(path, parent, name)) return {};
    static std::atomic<unsigned> sCounter{0};
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld-%u-%u~", long(::getpid()), sCounter.fetch_add(1), attempt);
    return (parent == "/" ? std::string() : parent) + "/." + name + suffix;
}

// Makes a new object at a fresh name beside path with make (which fails with EEXIST when the name is taken).
template <class Make> VError ClaimBeside(const char* path, std::string& made, Make&& make) {
    made.clear();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string name = NameBeside(path, attempt);
        if (name.empty()) return MakePosixError(EINVAL);
        VError error = make(name.c_str());
        if (error == MakePosixError(EEXIST)) continue;
        if (error == 0) made = name;
        return error;
    }
    return MakePosixError(EEXIST);
}

std::string WithoutTrailingSlashes(const char* path) {
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

} // namespace

VError XPosixFolder::Create(const char* path) {
    return PosixCall("mkdir", [&] { return ::mkdir(path, 0755); }) == 0 ? 0 : LastPosixError();
}

VError XPosixFolder::Delete(const char* path) {
    return PosixCall("rmdir", [&] { return ::rmdir(path); }) == 0 ? 0 : LastPosixError();
}

bool XPosixFolder::Exists(const char* path, bool followLinks) {
    struct stat status;
    if (followLinks) return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
    // A trailing '/' would make lstat follow a final link.
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return ::lstat(text.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

VError XPosixFolder::RenameExclusive(const char* from, const char* to) {
    if (PosixCall("rename", [&] { return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE); }) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return LastPosixError();
    // The file system takes no exclusive flag. The name is claimed first, so no one else's object there is ever
    // replaced: a folder may replace only the empty folder made here, a file goes by a hard link.
    struct stat status;
    if (::lstat(from, &status) != 0) return LastPosixError();
    if (S_ISDIR(status.st_mode)) {
        if (PosixCall("mkdir", [&] { return ::mkdir(to, 0700); }) != 0) return LastPosixError();
        if (PosixCall("rename", [&] { return ::rename(from, to); }) == 0) return 0;
        VError error = LastPosixError();
        (void)::rmdir(to);
        return error;
    }
    if (PosixCall("link", [&] { return ::link(from, to); }) == 0) {
        if (PosixCall("unlink", [&] { return ::unlink(from); }) == 0) return 0;
        VError error = LastPosixError();
        (void)::unlink(to);
        return error;
    }
    if (errno == EEXIST) return MakePosixError(EEXIST);
    // No hard links either: check, then rename. A racing creator can still lose its object here; no file system
    // offers anything better.
    if (::lstat(to, &status) == 0) return MakePosixError(EEXIST);
    if (errno != ENOENT) return LastPosixError();
    return PosixCall("rename", [&] { return ::rename(from, to); }) == 0 ? 0 : LastPosixError();
}

VError XPosixFolder::CopyToNonExistingFolder(const char* from, const char* to) {
    TreeCopier copier;
    return copier.CopyTop(from, to);
}

VError XPosixFolder::CopyBeside(const char* from, const char* target, std::string& made) {
    return ClaimBeside(target, made, [&](const char* name) { return CopyToNonExistingFolder(from, name); });
}

VError XPosixFolder::CreateBeside(const char* target, std::string& made) {
    return ClaimBeside(target, made, [&](const char* name) {
        return PosixCall("mkdir", [&] { return ::mkdir(name, 0700); }) == 0 ? 0 : LastPosixError();
    });
}

VError XPosixFolder::MoveAside(const char* path, std::string& aside) {
    const std::string from = WithoutTrailingSlashes(path);
    return ClaimBeside(path, aside, [&](const char* name) { return RenameExclusive(from.c_str(), name); });
}

VError XPosixFolder::Flush(const char* path) {
    StFd fd(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) return LastPosixError();
    return PosixCall("syncfs", [&] { return ::syncfs(fd.Get()); }) == 0 ? 0 : LastPosixError();
}

VError XPosixFolder::PutInPlace(const char* made, const char* target, bool replace, std::string& leftOver) {
    leftOver.clear();
    const std::string to = WithoutTrailingSlashes(target);
    VError error = Flush(made);
    struct stat status;
    const bool replacing = replace && ::lstat(to.c_str(), &status) == 0;
    if (error == 0 && !replacing) error = RenameExclusive(made, to.c_str());
    if (error == 0 && replacing) {
        // The old object (a link as a link) takes the made name, then goes; the target is never missing.
        std::string old = made;
        if (PosixCall("rename", [&] { return ::renameat2(AT_FDCWD, made, AT_FDCWD, to.c_str(), RENAME_EXCHANGE); }) !=
            0)
            error = errno == EINVAL || errno == ENOSYS ? SwapByRenames(made, to.c_str(), old) : LastPosixError();
        if (error == 0) {
            error = DeleteForced(old.c_str());
            if (error != 0) leftOver = old;
            return error;
        }
    }
    // Nothing took the target's place: the made copy goes.
    (void)DeleteForced(made);
    return error;
}

VError XPosixFolder::SwapByRenames(const char* made, const char* target, std::string& old) {
    // No exchange on this file system: the old object steps aside under a fresh name and comes back when the new
    // one cannot take its place; the target is missing only between two renames.
    VError error = ClaimBeside(target, old, [&](const char* name) { return RenameExclusive(target, name); });
    if (error != 0) return error;
    error = RenameExclusive(made, target);
    if (error != 0) (void)RenameExclusive(old.c_str(), target);
    return error;
}

bool XPosixFolder::IsPresent(const char* path) {
    struct stat status;
    return ::lstat(WithoutTrailingSlashes(path).c_str(), &status) == 0;
}

bool XPosixFolder::IsLink(const char* path) {
    struct stat status;
    return ::lstat(WithoutTrailingSlashes(path).c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

VError XPosixFolder::DeleteLink(const char* path) {
    const std::string link = WithoutTrailingSlashes(path);
    return PosixCall("unlink", [&] { return ::unlink(link.c_str()); }) == 0 ? 0 : LastPosixError();
}

VError XPosixFolder::DeleteForced(const char* path) {
    StFd parentFd;
    std::string name;
    if (VError error = OpenParent(path, parentFd, name); error != 0) return error;
    // The parent may be locked or closed to its owner: opened up when the removal needs it, and put back
    // whatever happens.
    FolderState folder;
    folder.fFd = parentFd.Get();
    struct stat status;
    VError error = 0;
    if (::fstatat(parentFd.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        error = LastPosixError();
        if (errno == EACCES && (folder.fOldMode = WidenFolder(parentFd.Get(), ::geteuid())) >= 0)
            error = ::fstatat(parentFd.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : LastPosixError();
    }
    if (error == 0) {
        TreeRemover remover;
        error = remover.RemoveEntry(folder, name.c_str(), S_ISDIR(status.st_mode));
    }
    folder.Restore();
    return error;
}

} // namespace vela
