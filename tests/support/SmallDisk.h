// Test support: a small memory file system, to fill a disk for real.
#pragma once

#include <cerrno>
#include <string>
#include <sys/mount.h>

namespace vela::test {

// A memory file system mounted on a folder for a scope; IsMounted is false where mounting is not allowed.
class StSmallDisk {
public:
    StSmallDisk(const std::string& folder, const std::string& size) : fFolder(folder) {
        const std::string options = "size=" + size + ",mode=0755";
        fMounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        fError = errno;
    }
    ~StSmallDisk() {
        if (fMounted) ::umount2(fFolder.c_str(), MNT_DETACH);
    }
    StSmallDisk(const StSmallDisk&) = delete;
    StSmallDisk& operator=(const StSmallDisk&) = delete;

    bool IsMounted() const noexcept { return fMounted; }
    int Error() const noexcept { return fError; }

private:
    std::string fFolder;
    bool fMounted = false;
    int fError = 0;
};

} // namespace vela::test
