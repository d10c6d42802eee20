#include "updater/platform/XPosixFolderSwap.h"

#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

VError XPosixFolderSwap::MakeStagingFolder(const std::string& target, std::string& staged) {
    std::string path = target;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return MakePosixError(EINVAL);
    // Cut so that the unique name stays within the file system's limit.
    std::string pattern = path.substr(0, slash + 1) + "." + path.substr(slash + 1, 200) + ".vel-XXXXXX";
    if (XPosixFaults::Fail("mkdtemp") || ::mkdtemp(pattern.data()) == nullptr) return LastPosixError();
    struct stat info {};
    const mode_t mode = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? info.st_mode & 07777 : 0755;
    if (PosixCall("chmod", [&] { return ::chmod(pattern.c_str(), mode); }) != 0) {
        const VError error = LastPosixError();
        ::rmdir(pattern.c_str());
        return error;
    }
    staged = pattern;
    return VE_OK;
}

VError XPosixFolderSwap::FlushAndExchange(const std::string& staged, const std::string& target) {
    const int fd = PosixCall("open", [&] { return ::open(staged.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return LastPosixError();
    const int synced = PosixCall("syncfs", [&] { return ::syncfs(fd); });
    const VError syncError = synced == 0 ? VE_OK : LastPosixError();
    ::close(fd);
    if (syncError != VE_OK) return syncError;
    if (PosixCall("renameat2", [&] {
            return ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
        }) != 0)
        return LastPosixError();
    return VE_OK;
}

} // namespace vela
