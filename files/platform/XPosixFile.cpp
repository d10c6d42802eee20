#include "files/platform/XPosixFile.h"

#include "core/StStringConverter.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"
#include "files/VFileError.h"
#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"
#include "values/VTime.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace vela {

namespace {

int CallLstat(const char* path, struct stat* st, bool followLinks) {
    if (XPosixFaults::Fail(followLinks ? "stat" : "lstat")) return -1;
    return followLinks ? ::stat(path, st) : ::lstat(path, st);
}

int OpenPath(const char* path, int flags, mode_t mode = 0) {
    if (XPosixFaults::Fail("open")) return -1;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Closes a descriptor whatever happens; the caller's errno survives.
void CloseQuietly(int fd) noexcept {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

void TimeFromTimespec(const struct timespec& stamp, VTime& out) {
    struct tm parts {};
    time_t seconds = stamp.tv_sec;
    gmtime_r(&seconds, &parts);
    out.FromUTCTime(int16(parts.tm_year + 1900), int16(parts.tm_mon + 1), int16(parts.tm_mday), int16(parts.tm_hour),
                    int16(parts.tm_min), int16(parts.tm_sec), int16(stamp.tv_nsec / 1000000));
}

struct timespec TimespecFromTime(const VTime* time) {
    struct timespec stamp {};
    if (time == nullptr) {
        stamp.tv_nsec = UTIME_OMIT;
        return stamp;
    }
    int16 year, month, day, hour, minute, second, ms;
    time->GetUTCTime(year, month, day, hour, minute, second, ms);
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    stamp.tv_sec = timegm(&parts);
    stamp.tv_nsec = long(ms) * 1000000;
    return stamp;
}

// The folder part of a POSIX path ("/" for "/a", "." for "a").
std::string ParentOf(const std::string& path) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return text.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

// Copies the bytes of in to out, in the kernel when it can.
int CopyDescriptorData(int in, int out) {
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            if (XPosixFaults::Fail("copy_file_range")) return -1;
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
            if (copied > 0) continue;
            if (copied == 0) return 0;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return -1;
            kernelCopy = false;
        }
        char buffer[65536];
        if (XPosixFaults::Fail("read")) return -1;
        const ssize_t got = ::read(in, buffer, sizeof(buffer));
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        for (ssize_t done = 0; done < got;) {
            if (XPosixFaults::Fail("write")) return -1;
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (put == 0) errno = EIO;
                return -1;
            }
            done += put;
        }
    }
}

// A hidden, unique name beside target for a copy in progress; a long name is cut so that the temporary one
// stays within the file system's limit.
std::string TemporaryNameBeside(const std::string& target) {
    return ParentOf(target) + "/." + NameOf(target).substr(0, 200) + ".vel-XXXXXX";
}

bool IsImmutable(const char* path, bool followLinks) {
    const int fd = OpenPath(path, O_RDONLY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) return false;
    int flags = 0;
    const bool immutable = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0;
    CloseQuietly(fd);
    return immutable;
}

int SetImmutable(const char* path, bool followLinks, bool immutable) {
    const int fd = OpenPath(path, O_RDONLY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) return -1;
    int flags = 0;
    int result = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
    if (result == 0 && ((flags & FS_IMMUTABLE_FL) != 0) != immutable) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        result = ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    CloseQuietly(fd);
    return result;
}

bool InGroup(gid_t group) {
    if (group == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[size_t(i)] == group) return true;
    return false;
}

} // namespace

// ---- XPosixFile: paths

void XPosixFile::Init(VFile* owner) {
    fOwner = owner;
    if (!fPosixPath.empty()) {
        fPathGiven = true;
        return;
    }
    fPosixPath = PosixPathFromFilePath(owner->GetPathRef());
}

VError XPosixFile::GetPosixPath(VString& out) const {
    out.FromBlock(fPosixPath.data(), fPosixPath.size(), VTC_UTF_8);
    return VE_OK;
}

std::string XPosixFile::PosixPathFromFilePath(const VFilePath& path) {
    VString text;
    path.GetPosixPath(text);
    return to_string(text);
}

void XPosixFile::GetFilePathFromPosixPath(const char* posix, bool isFolder, VFilePath& out) {
    if (posix == nullptr) {
        out.Clear();
        return;
    }
    VString text;
    text.FromBlock(posix, std::strlen(posix), VTC_UTF_8);
    if (isFolder && (text.IsEmpty() || text.GetUniChar(text.GetLength()) != '/')) text.AppendUniChar('/');
    out.FromFullPath(text, FPS_POSIX);
}

bool XPosixFile::PosixNameBeginsWithDot(const char* posix) noexcept {
    if (posix == nullptr) return false;
    size_t length = std::strlen(posix);
    if (length < 2) return false;
    if (posix[length - 1] == '/') --length;
    size_t start = length;
    while (start > 0 && posix[start - 1] != '/')
        --start;
    return start < length && posix[start] == '.';
}

VError XPosixFile::RenamePath(const char* from, const char* to) {
    if (XPosixFaults::Fail("renameat2")) return LastPosixError();
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return VE_OK;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return LastPosixError();
    // The file system cannot rename exclusively: check, then rename. Never fall back to a rename that could
    // replace what is there.
    struct stat st;
    if (::lstat(to, &st) == 0) return MakePosixError(EEXIST);
    if (errno != ENOENT) return LastPosixError();
    if (XPosixFaults::Fail("rename")) return LastPosixError();
    return ::rename(from, to) == 0 ? VE_OK : LastPosixError();
}

// ---- XPosixFile: the file

VError XPosixFile::Create(uint32 options) const {
    const char* path = fPosixPath.c_str();
    int flags = O_WRONLY | O_CREAT;
    if ((options & FO_OVERWRITE) != 0) {
        if (!XPosixFaults::Fail("unlink") && ::unlink(path) != 0 && errno != ENOENT) return LastPosixError();
        flags |= O_TRUNC;
    } else {
        flags |= O_EXCL;
    }
    const int fd = OpenPath(path, flags, 0644);
    if (fd < 0) return LastPosixError();
    ::close(fd);
    return VE_OK;
}

namespace {

// One open attempt; -1 with errno on failure.
int OpenOnce(const char* path, FileAccess access, uint32 options) {
    int flags = access == FA_READ ? O_RDONLY : O_RDWR;
    if ((options & FO_CREATE_IF_NOT_FOUND) != 0) flags |= O_CREAT;
    if ((options & FO_FOLLOW_LINK) == 0) flags |= O_NOFOLLOW;
    const int fd = OpenPath(path, flags, 0644);
    if (fd < 0) return -1;
    if (access != FA_READ) {
        // The lock comes before truncation: a file another opener holds must not be emptied under it.
        const int lock = (access == FA_READ_WRITE ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (XPosixFaults::Fail("flock") || ::flock(fd, lock) != 0) {
            // The lock is held by someone else: access denied.
            if (errno == EWOULDBLOCK || errno == EAGAIN) errno = EACCES;
            CloseQuietly(fd);
            return -1;
        }
    }
    if ((options & FO_OVERWRITE) != 0 && access != FA_READ) {
        if (XPosixFaults::Fail("ftruncate") || ::ftruncate(fd, 0) != 0) {
            CloseQuietly(fd);
            return -1;
        }
    }
    if ((options & FO_READ_AHEAD) != 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if ((options & (FO_NO_CACHE | FO_NO_CACHE_2)) != 0) ::posix_fadvise(fd, 0, 0, POSIX_FADV_NOREUSE);
    return fd;
}

} // namespace

VError XPosixFile::Open(FileAccess access, uint32 options, VFileDesc** out) const {
    if (out != nullptr) *out = nullptr;
    if (access < FA_READ || access > FA_MAX) return MakePosixError(EINVAL);
    if ((options & FO_RESOURCE_FORK) != 0) return MakePosixError(ENOTSUP);
    const char* path = fPosixPath.c_str();
    int fd;
    if (access == FA_MAX) {
        fd = OpenOnce(path, FA_READ_WRITE, options);
        if (fd < 0) fd = OpenOnce(path, FA_READ, options & ~uint32(FO_OVERWRITE));
    } else {
        fd = OpenOnce(path, access, options);
    }
    if (fd < 0) return LastPosixError();
    auto* desc = new VFileDesc(fOwner, fd, access);
    if (out != nullptr) {
        *out = desc;
    } else {
        delete desc;
    }
    return VE_OK;
}

bool XPosixFile::_TargetPath(const VFilePath& dest, VFilePath& target) const {
    target = dest;
    if (dest.IsFolder()) {
        VString name;
        fOwner->GetPathRef().GetName(name);
        target.ToSubFile(name);
    }
    return target.IsValid() && target.IsFile();
}

VFile* XPosixFile::_NewFile(const VFilePath& path, VFileSystem* fileSystem) const {
    return new VFile(path, fileSystem);
}

VError XPosixFile::Rename(const VString& newName, VFile** out) const {
    if (out != nullptr) *out = nullptr;
    VFilePath target(fOwner->GetPathRef());
    if (!target.SetName(newName)) return MakePosixError(EINVAL);
    const std::string to = PosixPathFromFilePath(target);
    const VError result = RenamePath(fPosixPath.c_str(), to.c_str());
    if (result == VE_OK && out != nullptr) *out = _NewFile(target, fOwner->GetFileSystem());
    return result;
}

VError XPosixFile::_CopyFileTo(const std::string& target, uint32 options) const {
    const bool overwrite = (options & FCP_OVERWRITE) != 0;
    struct stat source;
    if (CallLstat(fPosixPath.c_str(), &source, false) != 0) return LastPosixError();
    struct stat existing;
    if (!overwrite && ::lstat(target.c_str(), &existing) == 0) return MakePosixError(EEXIST);
    // Only regular files and links are copied: opening a FIFO or a device for reading could block or consume.
    if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode))
        return MakePosixError(S_ISDIR(source.st_mode) ? EISDIR : EINVAL);

    std::string temporary = TemporaryNameBeside(target);
    if (S_ISLNK(source.st_mode)) {
        VString linkText;
        if (VError error = ReadSymbolicLink(linkText); error != VE_OK) return error;
        const std::string text = to_string(linkText);
        // A link cannot be made under a unique name in one call: take a unique name with a file, then replace it.
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) return LastPosixError();
        ::close(fd);
        ::unlink(temporary.c_str());
        if (XPosixFaults::Fail("symlink") || ::symlink(text.c_str(), temporary.c_str()) != 0) return LastPosixError();
    } else {
        const int in = OpenPath(fPosixPath.c_str(), O_RDONLY | O_NOFOLLOW);
        if (in < 0) return LastPosixError();
        const int out = XPosixFaults::Fail("open") ? -1 : ::mkostemp(temporary.data(), O_CLOEXEC);
        if (out < 0) {
            CloseQuietly(in);
            return LastPosixError();
        }
        int result = CopyDescriptorData(in, out);
        if (result == 0) result = XPosixFaults::Fail("fchmod") ? -1 : ::fchmod(out, source.st_mode & 07777);
        if (result == 0) {
            const struct timespec times[2] = {source.st_atim, source.st_mtim};
            ::futimens(out, times);
        }
        // Replacing makes the copy the only one: it is on the disk before the old file goes.
        if (result == 0 && overwrite) result = XPosixFaults::Fail("fsync") ? -1 : ::fsync(out);
        const VError error = result == 0 ? VE_OK : LastPosixError();
        CloseQuietly(in);
        if (::close(out) != 0 && error == VE_OK) {
            const VError closeError = LastPosixError();
            ::unlink(temporary.c_str());
            return closeError;
        }
        if (error != VE_OK) {
            ::unlink(temporary.c_str());
            return error;
        }
    }
    VError result = VE_OK;
    if (overwrite) {
        if (XPosixFaults::Fail("rename") || ::rename(temporary.c_str(), target.c_str()) != 0) result = LastPosixError();
    } else {
        result = RenamePath(temporary.c_str(), target.c_str());
    }
    if (result != VE_OK) ::unlink(temporary.c_str());
    return result;
}

VError XPosixFile::Copy(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32 options) const {
    if (out != nullptr) *out = nullptr;
    VFilePath target;
    if (!_TargetPath(dest, target)) return MakePosixError(EINVAL);
    const VError result = _CopyFileTo(PosixPathFromFilePath(target), options);
    if (result == VE_OK && out != nullptr) *out = _NewFile(target, fileSystem);
    return result;
}

VError XPosixFile::Move(const VFilePath& dest, VFileSystem* fileSystem, VFile** out, uint32 options) const {
    if (out != nullptr) *out = nullptr;
    VFilePath target;
    if (!_TargetPath(dest, target)) return MakePosixError(EINVAL);
    const std::string to = PosixPathFromFilePath(target);
    VError result;
    if ((options & FCP_OVERWRITE) != 0) {
        result =
            XPosixFaults::Fail("rename") || ::rename(fPosixPath.c_str(), to.c_str()) != 0 ? LastPosixError() : VE_OK;
    } else {
        result = RenamePath(fPosixPath.c_str(), to.c_str());
    }
    if (result == MakePosixError(EXDEV)) {
        // Another device: copy, and remove the source only once the copy is in place.
        result = _CopyFileTo(to, options);
        if (result == VE_OK && (XPosixFaults::Fail("unlink") || ::unlink(fPosixPath.c_str()) != 0))
            result = LastPosixError();
    }
    if (result == VE_OK && out != nullptr) *out = _NewFile(target, fileSystem);
    return result;
}

VError XPosixFile::Delete() const {
    if (XPosixFaults::Fail("unlink") || ::unlink(fPosixPath.c_str()) != 0) return LastPosixError();
    return VE_OK;
}

bool XPosixFile::Exists() const {
    struct stat st;
    return CallLstat(fPosixPath.c_str(), &st, false) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

// ---- XPosixFile: information

VError XPosixFile::GetTimeAttributes(VTime* modified, VTime* created, VTime* accessed) const {
    return GetTimeAttributes(fPosixPath.c_str(), false, modified, created, accessed);
}

VError XPosixFile::GetTimeAttributes(const char* path, bool followLinks, VTime* modified, VTime* created,
                                     VTime* accessed) {
    struct statx st {};
    if (XPosixFaults::Fail(followLinks ? "stat" : "lstat") ||
        ::statx(AT_FDCWD, path, followLinks ? 0 : AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_ATIME | STATX_BTIME, &st) !=
            0)
        return LastPosixError();
    auto convert = [](const struct statx_timestamp& stamp, VTime& out) {
        TimeFromTimespec({stamp.tv_sec, long(stamp.tv_nsec)}, out);
    };
    if (modified != nullptr) convert(st.stx_mtime, *modified);
    if (accessed != nullptr) convert(st.stx_atime, *accessed);
    if (created != nullptr) convert((st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime : st.stx_mtime, *created);
    return VE_OK;
}

VError XPosixFile::SetTimeAttributes(const VTime* modified, const VTime* created, const VTime* accessed) const {
    return SetTimeAttributes(fPosixPath.c_str(), modified, created, accessed);
}

VError XPosixFile::SetTimeAttributes(const char* path, const VTime* modified, const VTime*, const VTime* accessed) {
    const struct timespec times[2] = {TimespecFromTime(accessed), TimespecFromTime(modified)};
    if (XPosixFaults::Fail("utimensat") || ::utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) != 0)
        return LastPosixError();
    return VE_OK;
}

VError XPosixFile::GetPathAttributes(const char* path, bool followLinks, uint32& attributes) {
    attributes = 0;
    struct stat st;
    if (CallLstat(path, &st, followLinks) != 0) return LastPosixError();
    if (!S_ISLNK(st.st_mode) && IsImmutable(path, followLinks)) attributes |= FATT_LOCKED;
    if (PosixNameBeginsWithDot(path)) attributes |= FATT_HIDDEN;
    return VE_OK;
}

VError XPosixFile::SetPathAttributes(const char* path, bool followLinks, uint32 attributes) {
    uint32 current = 0;
    if (VError error = GetPathAttributes(path, followLinks, current); error != VE_OK) return error;
    if ((current & FATT_LOCKED) == (attributes & FATT_LOCKED)) return VE_OK;
    if (XPosixFaults::Fail("ioctl") || SetImmutable(path, followLinks, (attributes & FATT_LOCKED) != 0) != 0)
        return LastPosixError();
    return VE_OK;
}

VError XPosixFile::GetFileAttributes(uint32& attributes) const {
    return GetPathAttributes(fPosixPath.c_str(), false, attributes);
}

VError XPosixFile::SetFileAttributes(uint32 attributes) const {
    return SetPathAttributes(fPosixPath.c_str(), false, attributes);
}

VError XPosixFile::GetEffectivePermission(const char* path, uint32& permission) {
    permission = 0;
    struct stat st;
    if (CallLstat(path, &st, false) != 0) return LastPosixError();
    if (::geteuid() == 0) {
        permission = 7;
        return VE_OK;
    }
    if (!S_ISLNK(st.st_mode) && IsImmutable(path, false)) return VE_OK;
    if (st.st_uid == ::geteuid()) {
        permission = (st.st_mode >> 6) & 7;
    } else if (InGroup(st.st_gid)) {
        permission = (st.st_mode >> 3) & 7;
    } else {
        permission = st.st_mode & 7;
    }
    return VE_OK;
}

VError XPosixFile::UnlockPath(const char* path, bool followLinks) {
    struct stat st;
    if (CallLstat(path, &st, followLinks) != 0) return LastPosixError();
    // A link's mode means nothing on Linux, and changing its target could reach outside the caller's tree.
    if (S_ISLNK(st.st_mode)) return VE_OK;
    if (IsImmutable(path, followLinks) && SetImmutable(path, followLinks, false) != 0) return LastPosixError();
    const uid_t user = ::geteuid();
    if (user != 0 && user != st.st_uid) return VE_OK;
    const mode_t wanted = S_ISDIR(st.st_mode) ? 0700 : 0600;
    if ((st.st_mode & wanted) == wanted) return VE_OK;
    if (XPosixFaults::Fail("chmod") || ::chmod(path, (st.st_mode & 07777) | wanted) != 0) return LastPosixError();
    return VE_OK;
}

VError XPosixFile::Unlock() const {
    return UnlockPath(fPosixPath.c_str(), true);
}

VError XPosixFile::GetVolumeFreeSpace(const char* path, int64* free, int64* total, bool availableOnly,
                                      const VFileDesc* desc) {
    if (free != nullptr) *free = 0;
    if (total != nullptr) *total = 0;
    struct statfs info;
    int result;
    if (desc != nullptr) {
        result = XPosixFaults::Fail("fstatfs") ? -1 : ::fstatfs(desc->GetImpl().GetDescriptor(), &info);
    } else {
        const int fd = OpenPath(path, O_PATH | O_NOFOLLOW);
        if (fd >= 0) {
            result = XPosixFaults::Fail("fstatfs") ? -1 : ::fstatfs(fd, &info);
            CloseQuietly(fd);
        } else {
            result = ::statfs(ParentOf(path).c_str(), &info);
        }
    }
    if (result != 0) return LastPosixError();
    const int64 blockSize = int64(info.f_frsize != 0 ? info.f_frsize : info.f_bsize);
    if (free != nullptr) *free = blockSize * int64(availableOnly ? info.f_bavail : info.f_bfree);
    if (total != nullptr) *total = blockSize * int64(info.f_blocks);
    return VE_OK;
}

VError XPosixFile::GetVolumeFreeSpace(int64* free, int64* total, bool availableOnly, const VFileDesc* desc) const {
    return GetVolumeFreeSpace(fPosixPath.c_str(), free, total, availableOnly, desc);
}

bool XPosixFile::IsSymbolicLink() const {
    struct stat st;
    return CallLstat(fPosixPath.c_str(), &st, false) == 0 && S_ISLNK(st.st_mode);
}

VError XPosixFile::ReadSymbolicLink(VString& out) const {
    out.Clear();
    struct stat st;
    if (CallLstat(fPosixPath.c_str(), &st, false) != 0) return LastPosixError();
    // The size lstat gives may be 0 (some file systems) or stale: grow until the text fits.
    std::vector<char> buffer(size_t(st.st_size) * 2 + 9);
    for (;;) {
        if (XPosixFaults::Fail("readlink")) return LastPosixError();
        const ssize_t length = ::readlink(fPosixPath.c_str(), buffer.data(), buffer.size());
        if (length < 0) return LastPosixError();
        if (size_t(length) < buffer.size()) {
            out.FromBlock(buffer.data(), size_t(length), VTC_UTF_8);
            return VE_OK;
        }
        buffer.resize(buffer.size() * 2);
    }
}

VError XPosixFile::CreateSymbolicLink(const VFilePath& target, bool absolute) const {
    VString text;
    if (!absolute) {
        VFilePath folder;
        fOwner->GetPathRef().GetFolder(folder);
        VString prefix;
        while (folder.IsValid() && !target.GetRelativePosixPath(folder, text)) {
            if (!folder.HasParent()) {
                folder.Clear();
                break;
            }
            folder.ToParent();
            prefix.AppendCString("../");
        }
        if (folder.IsValid()) {
            prefix.AppendString(text);
            text = prefix;
        } else {
            text.Clear();
        }
    }
    if (text.IsEmpty()) target.GetPosixPath(text);
    const std::string bytes = to_string(text);
    if (::unlink(fPosixPath.c_str()) != 0 && errno != ENOENT) return LastPosixError();
    if (XPosixFaults::Fail("symlink") || ::symlink(bytes.c_str(), fPosixPath.c_str()) != 0) return LastPosixError();
    return VE_OK;
}

VError XPosixFile::ResolveAlias(VFilePath& target) const {
    struct stat st;
    if (CallLstat(fPosixPath.c_str(), &st, false) != 0) return LastPosixError();
    if (!S_ISLNK(st.st_mode)) return ThrowFileError(fOwner->GetPathRef(), VE_FILE_CANNOT_RESOLVE_ALIAS);
    char* real = ::realpath(fPosixPath.c_str(), nullptr);
    if (real == nullptr) return LastPosixError();
    struct stat resolved;
    const bool isFolder = ::stat(real, &resolved) == 0 && S_ISDIR(resolved.st_mode);
    GetFilePathFromPosixPath(real, isFolder, target);
    std::free(real);
    return VE_OK;
}

VError XPosixFile::GetSize(int64* size) const {
    if (size != nullptr) *size = 0;
    struct stat st;
    if (CallLstat(fPosixPath.c_str(), &st, false) != 0) return LastPosixError();
    if (size != nullptr) *size = int64(st.st_size);
    return VE_OK;
}

VError XPosixFile::GetOwner(uint32& user, uint32& group) const {
    struct stat st;
    if (CallLstat(fPosixPath.c_str(), &st, true) != 0) return LastPosixError();
    user = st.st_uid;
    group = st.st_gid;
    return VE_OK;
}

namespace {

// Linux keeps no mode of its own for a symbolic link: changing one is refused rather than reaching its target.
VError ChangeMode(const char* path, mode_t (*newMode)(mode_t, mode_t), mode_t argument) {
    struct stat st;
    if (CallLstat(path, &st, false) != 0) return LastPosixError();
    if (S_ISLNK(st.st_mode)) return MakePosixError(EOPNOTSUPP);
    if (XPosixFaults::Fail("chmod") || ::chmod(path, newMode(st.st_mode, argument)) != 0) return LastPosixError();
    return VE_OK;
}

} // namespace

VError XPosixFile::MakeWritableByAll() const {
    return ChangeMode(
        fPosixPath.c_str(), [](mode_t mode, mode_t) -> mode_t { return (mode & 07777) | 0666; }, 0);
}

bool XPosixFile::IsWritableByAll() const {
    struct stat st;
    return CallLstat(fPosixPath.c_str(), &st, false) == 0 && (st.st_mode & 0002) != 0;
}

VError XPosixFile::SetPermissions(uint16 mode) const {
    return ChangeMode(
        fPosixPath.c_str(), [](mode_t old, mode_t wanted) -> mode_t { return (old & 07000) | (wanted & 0777); }, mode);
}

VError XPosixFile::GetPermissions(uint16* mode) const {
    if (mode != nullptr) *mode = 0;
    struct stat st;
    if (CallLstat(fPosixPath.c_str(), &st, false) != 0) return LastPosixError();
    if (mode != nullptr) *mode = uint16(st.st_mode & 0777);
    return VE_OK;
}

// ---- XPosixFileDesc

XPosixFileDesc::~XPosixFileDesc() {
    if (fDescriptor >= 0) ::close(fDescriptor);
}

VError XPosixFileDesc::GetSize(int64* size) const {
    *size = 0;
    struct stat st;
    if (XPosixFaults::Fail("fstat") || ::fstat(fDescriptor, &st) != 0) return LastPosixError();
    *size = int64(st.st_size);
    return VE_OK;
}

VError XPosixFileDesc::SetSize(int64 size) const {
    if (size < 0) return MakePosixError(EINVAL);
    if (XPosixFaults::Fail("ftruncate") || ::ftruncate(fDescriptor, off_t(size)) != 0) return LastPosixError();
    return VE_OK;
}

namespace {

// Moves wanted bytes from start on, one positioned call (move(done, offset)) per piece, until all have moved,
// a call moves nothing or one fails; done receives the bytes moved.
template <class Move> VError TransferAt(const char* op, int64 start, size_t wanted, size_t& done, Move move) {
    done = 0;
    if (start < 0) return MakePosixError(EINVAL);
    while (done < wanted) {
        if (XPosixFaults::Fail(op)) return LastPosixError();
        const ssize_t moved = move(done, off_t(start + int64(done)));
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0) return LastPosixError();
        if (moved == 0) break;
        done += size_t(moved);
    }
    return VE_OK;
}

} // namespace

VError XPosixFileDesc::GetData(void* buffer, size_t& ioCount, int64 pos, bool absolute) const {
    const size_t wanted = ioCount;
    auto* bytes = static_cast<char*>(buffer);
    VError result = TransferAt("pread", absolute ? pos : fPosition + pos, wanted, ioCount, [&](size_t done, off_t at) {
        return ::pread(fDescriptor, bytes + done, wanted - done, at);
    });
    if (!absolute) fPosition += int64(ioCount);
    if (result == VE_OK && ioCount < wanted) result = VE_STREAM_EOF;
    return result;
}

VError XPosixFileDesc::PutData(const void* buffer, size_t& ioCount, int64 pos, bool absolute) const {
    const size_t wanted = ioCount;
    const auto* bytes = static_cast<const char*>(buffer);
    VError result = TransferAt("pwrite", absolute ? pos : fPosition + pos, wanted, ioCount, [&](size_t done, off_t at) {
        return ::pwrite(fDescriptor, bytes + done, wanted - done, at);
    });
    if (!absolute) fPosition += int64(ioCount);
    // A write that stops short without saying why.
    if (result == VE_OK && ioCount < wanted) result = MakePosixError(EINVAL);
    return result;
}

VError XPosixFileDesc::GetPos(int64* pos) const {
    *pos = fPosition;
    return VE_OK;
}

VError XPosixFileDesc::SetPos(int64 pos, bool absolute) const {
    int64 target = pos;
    if (!absolute && __builtin_add_overflow(fPosition, pos, &target)) return MakePosixError(EINVAL);
    if (target < 0) return MakePosixError(EINVAL);
    fPosition = target;
    return VE_OK;
}

VError XPosixFileDesc::Flush() const {
    if (XPosixFaults::Fail("fsync") || ::fsync(fDescriptor) != 0) return LastPosixError();
    return VE_OK;
}

// ---- XPosixFile: replacing the content whole

namespace {

// path with its symbolic links followed to the object they lead to (which need not exist yet): a replaced
// content goes where a write through the link would go, and the link stays. False, errno set, on a loop.
bool FollowLinks(const std::string& path, std::string& out) {
    out = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (CallLstat(out.c_str(), &st, false) != 0) return errno == ENOENT || errno == ENOTDIR;
        if (!S_ISLNK(st.st_mode)) return true;
        std::string text(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        if (XPosixFaults::Fail("readlink")) return false;
        const ssize_t length = ::readlink(out.c_str(), text.data(), text.size());
        if (length < 0) return false;
        text.resize(size_t(length));
        out = !text.empty() && text[0] == '/' ? text : ParentOf(out) + "/" + text;
    }
    errno = ELOOP;
    return false;
}

// A new hidden file beside target, made exclusively with mode (the process's umask applies); -1 with errno.
int CreateBeside(const std::string& target, mode_t mode, std::string& name) {
    const std::string stem = ParentOf(target) + "/." + NameOf(target).substr(0, 200) + ".vel-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64 bits = 0;
        if (::getrandom(&bits, sizeof(bits), 0) != ssize_t(sizeof(bits)))
            bits = uint64(::getpid()) << 20 ^ uint64(attempt);
        char suffix[17];
        std::snprintf(suffix, sizeof(suffix), "%016llx", static_cast<unsigned long long>(bits));
        name = stem + suffix;
        const int fd = OpenPath(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

} // namespace

VError XPosixFile::ReplaceContent(const void* data, size_t size, VError& failedStep) const {
    failedStep = VE_FILE_CANNOT_OPEN;
    std::string target;
    if (!FollowLinks(fPosixPath, target)) return LastPosixError();
    // The old file is opened as a write in place would open it: one the caller may not write, or that another
    // opener holds, is refused rather than replaced. Its lock is held until the new content has taken its place.
    struct stat old {};
    const int oldFd = OpenPath(target.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK);
    if (oldFd < 0 && errno != ENOENT) return LastPosixError();
    if (oldFd >= 0) {
        VError refusal = VE_OK;
        if (PosixCall("fstat", [&] { return ::fstat(oldFd, &old); }) != 0) {
            refusal = LastPosixError();
        } else if (!S_ISREG(old.st_mode)) {
            // A device or a pipe has no content to replace: renaming over it would drop the special file.
            refusal = MakePosixError(EINVAL);
        } else if (PosixCall("flock", [&] { return ::flock(oldFd, LOCK_EX | LOCK_NB); }) != 0) {
            refusal = errno == EWOULDBLOCK ? MakePosixError(EACCES) : LastPosixError();
        }
        if (refusal != VE_OK) {
            CloseQuietly(oldFd);
            return refusal;
        }
    }
    std::string temporary;
    const int fd = CreateBeside(target, oldFd >= 0 ? old.st_mode & 07777 : 0644, temporary);
    VError result = fd >= 0 ? VE_OK : LastPosixError();
    size_t written = 0;
    if (result == VE_OK) {
        failedStep = VE_FILE_CANNOT_WRITE;
        const auto* bytes = static_cast<const char*>(data);
        result = TransferAt("pwrite", 0, size, written,
                            [&](size_t done, off_t at) { return ::pwrite(fd, bytes + done, size - done, at); });
        if (result == VE_OK && written < size) result = MakePosixError(EIO);
    }
    if (result == VE_OK && oldFd >= 0) {
        // The umask may have taken bits the old file had; the owner is kept where the caller may set it.
        failedStep = VE_FILE_CANNOT_SET_ATTRIBUTES;
        if (PosixCall("fchmod", [&] { return ::fchmod(fd, old.st_mode & 07777); }) != 0) result = LastPosixError();
        if (result == VE_OK && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
            (void)::fchown(fd, old.st_uid, old.st_gid);
    }
    if (result == VE_OK) {
        failedStep = VE_FILE_CANNOT_FLUSH;
        if (PosixCall("fsync", [&] { return ::fsync(fd); }) != 0) result = LastPosixError();
    }
    if (fd >= 0 && ::close(fd) != 0 && result == VE_OK) result = LastPosixError();
    if (result == VE_OK) {
        failedStep = VE_FILE_CANNOT_RENAME;
        if (PosixCall("rename", [&] { return ::rename(temporary.c_str(), target.c_str()); }) != 0)
            result = LastPosixError();
    }
    if (result != VE_OK && fd >= 0) ::unlink(temporary.c_str());
    if (result == VE_OK) {
        // The new name must outlive a crash too; the content is already safe, so a folder that cannot be
        // flushed does not undo the replacement.
        const int folder = OpenPath(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY);
        if (folder >= 0) {
            ::fsync(folder);
            CloseQuietly(folder);
        }
    }
    if (oldFd >= 0) CloseQuietly(oldFd);
    return result;
}

} // namespace vela
