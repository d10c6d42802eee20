#include "files/platform/XPosixTrash.h"

#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace vela {

namespace {

std::string WithoutTrailingSlashes(std::string text) {
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return path.substr(0, slash);
}

// mkdir -p with mode for the folders it makes.
VError MakeFolders(const std::string& path, mode_t mode) {
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) return S_ISDIR(status.st_mode) ? 0 : MakePosixError(ENOTDIR);
    if (path != "/") {
        if (VError error = MakeFolders(ParentOf(path), mode); error != 0) return error;
    }
    if (PosixCall("mkdir", [&] { return ::mkdir(path.c_str(), mode); }) == 0 || errno == EEXIST) return 0;
    return LastPosixError();
}

// The device of path, or of its nearest existing folder.
bool DeviceOf(std::string path, dev_t& device) {
    struct stat status;
    for (;;) {
        if (::stat(path.c_str(), &status) == 0) {
            device = status.st_dev;
            return true;
        }
        if (path == "/") return false;
        path = ParentOf(path);
    }
}

// The highest folder above path that is still on device: the top of its volume.
std::string TopFolderOf(const std::string& path, dev_t device) {
    std::string top = ParentOf(path);
    char resolved[PATH_MAX];
    if (::realpath(top.c_str(), resolved) != nullptr) top = resolved;
    struct stat status;
    while (top != "/") {
        std::string up = ParentOf(top);
        if (::stat(up.c_str(), &status) != 0 || status.st_dev != device) break;
        top = up;
    }
    return top;
}

bool IsOwnPrivateFolder(const std::string& path, uid_t user) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == user;
}

// The trash of the volume whose top is top, made when missing; empty when the volume offers none.
std::string VolumeTrashOf(const std::string& top, uid_t user) {
    std::string base = top == "/" ? std::string() : top;
    std::string shared = base + "/.Trash";
    struct stat status;
    // A shared trash counts only as a sticky folder, never through a link.
    if (::lstat(shared.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0) {
        std::string own = shared + "/" + std::to_string(user);
        if (PosixCall("mkdir", [&] { return ::mkdir(own.c_str(), 0700); }) == 0 || errno == EEXIST)
            if (IsOwnPrivateFolder(own, user)) return own;
    }
    std::string own = base + "/.Trash-" + std::to_string(user);
    if (PosixCall("mkdir", [&] { return ::mkdir(own.c_str(), 0700); }) != 0 && errno != EEXIST) return {};
    return IsOwnPrivateFolder(own, user) ? own : std::string();
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

VError WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        ssize_t put = PosixCall("write", [&] { return ::write(fd, text.data() + done, text.size() - done); });
        if (put < 0) {
            if (errno == EINTR) continue;
            return LastPosixError();
        }
        done += size_t(put);
    }
    return 0;
}

} // namespace

std::string XPosixTrash::HomeTrashPath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is to be ignored.
    if (dataHome != nullptr && dataHome[0] == '/') return WithoutTrailingSlashes(dataHome) + "/Trash";
    std::string home;
    if (const char* fromEnv = std::getenv("HOME"); fromEnv != nullptr && fromEnv[0] == '/') {
        home = fromEnv;
    } else {
        struct passwd entry;
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
        home = found->pw_dir;
    }
    if (home.empty() || home[0] != '/') return {};
    home = WithoutTrailingSlashes(home);
    return (home == "/" ? std::string() : home) + "/.local/share/Trash";
}

std::string XPosixTrash::MakeTrashInfo(const std::string& originalPath, time_t deletionTime) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text = "[Trash Info]\nPath=";
    for (unsigned char c : originalPath) {
        if (IsUnreserved(c) || c == '/') {
            text.push_back(char(c));
        } else {
            text.push_back('%');
            text.push_back(kHex[c >> 4]);
            text.push_back(kHex[c & 15]);
        }
    }
    struct tm local;
    char date[32] = "";
    if (::localtime_r(&deletionTime, &local) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    text += "\nDeletionDate=";
    text += date;
    text += "\n";
    return text;
}

std::string XPosixTrash::NameForAttempt(const std::string& name, int attempt) {
    if (attempt <= 1) return name;
    // The extension stays last, so the desktop still knows the kind; a leading dot is no extension.
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return name.substr(0, dot) + "." + std::to_string(attempt) + name.substr(dot);
}

VError XPosixTrash::MoveToTrash(const char* path) {
    std::string original = WithoutTrailingSlashes(path != nullptr ? path : "");
    if (original.empty() || original[0] != '/' || original == "/") return MakePosixError(EINVAL);
    struct stat status;
    if (PosixCall("lstat", [&] { return ::lstat(original.c_str(), &status); }) != 0) return LastPosixError();
    const std::string name = original.substr(original.rfind('/') + 1);
    if (name == "." || name == "..") return MakePosixError(EINVAL);

    // The home trash when it lies on the object's device; else the volume's own, whose Path= is relative to the
    // volume's top (absolute paths are for the home trash only).
    std::string trash = HomeTrashPath();
    std::string recorded = original;
    dev_t homeDevice = 0;
    if (trash.empty() || !DeviceOf(trash, homeDevice) || homeDevice != status.st_dev) {
        std::string top = TopFolderOf(original, status.st_dev);
        trash = VolumeTrashOf(top, ::getuid());
        if (trash.empty()) return MakePosixError(EXDEV);
        size_t skip = top == "/" ? 1 : top.size() + 1;
        if (original.compare(0, skip, top == "/" ? std::string("/") : top + "/") == 0) recorded = original.substr(skip);
    }
    const std::string files = trash + "/files/";
    const std::string info = trash + "/info/";
    if (VError error = MakeFolders(files.substr(0, files.size() - 1), 0700); error != 0) return error;
    if (VError error = MakeFolders(info.substr(0, info.size() - 1), 0700); error != 0) return error;
    dev_t trashDevice = 0;
    if (!DeviceOf(files, trashDevice) || trashDevice != status.st_dev) return MakePosixError(EXDEV);

    const std::string content = MakeTrashInfo(recorded, ::time(nullptr));
    constexpr int kMaxAttempts = 10000;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        const std::string candidate = NameForAttempt(name, attempt);
        const std::string infoPath = info + candidate + ".trashinfo";
        int fd = PosixCall("open", [&] {
            return ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        });
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return LastPosixError();
        }
        VError error = WriteAll(fd, content);
        if (PosixCall("close", [&] { return ::close(fd); }) != 0 && error == 0) error = LastPosixError();
        if (error == 0) {
            const std::string target = files + candidate;
            error = XPosixFolder::RenameExclusive(original.c_str(), target.c_str());
            if (error == 0) return 0;
        }
        (void)::unlink(infoPath.c_str());
        // An orphan in files/ without its info: take the next name.
        if (error != MakePosixError(EEXIST) && error != MakePosixError(ENOTEMPTY)) return error;
    }
    return MakePosixError(EEXIST);
}

} // namespace vela
