#include "updater/platform/XPosixFolderSwap.h"

#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"

#include <cerrno>
#include <fcntl.h>
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

VError XPosixFolderSwap::Exchange(const char* a, const char* b) {
    // "exchange" rather than "renameat2": the seam counts the exchanges apart from the file layer's renames.
    if (PosixCall("exchange", [&] { return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE); }) == 0) return 0;
    return LastPosixError();
}

bool XPosixFolderSwap::IsExchangeRefused(VError result) noexcept {
    return result == MakePosixError(EINVAL) || result == MakePosixError(ENOSYS);
}

VError XPosixFolderSwap::FlushAndExchange(const std::string& staged, const std::string& target) {
    if (const VError error = XPosixFolder::Flush(staged.c_str()); error != VE_OK) return error;
    return Exchange(staged.c_str(), target.c_str());
}

} // namespace vela
