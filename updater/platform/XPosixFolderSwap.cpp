#include "updater/platform/XPosixFolderSwap.h"

#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

VError XPosixFolderSwap::Exchange(const char* a, const char* b) {
    // "exchange" rather than "renameat2": the seam counts the exchanges apart from the file layer's renames.
    if (PosixCall("exchange", [&] { return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE); }) == 0) return 0;
    return LastPosixError();
}

bool XPosixFolderSwap::IsPresent(const char* path) {
    struct stat status;
    return ::lstat(path, &status) == 0;
}

bool XPosixFolderSwap::IsExchangeRefused(VError result) noexcept {
    return result == MakePosixError(EINVAL) || result == MakePosixError(ENOSYS);
}

VError XPosixFolderSwap::FlushFileSystem(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastPosixError();
    VError result = PosixCall("syncfs", [&] { return ::syncfs(fd); }) == 0 ? 0 : LastPosixError();
    ::close(fd);
    return result;
}

} // namespace vela
