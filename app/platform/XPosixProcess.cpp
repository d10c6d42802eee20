#include "app/platform/XPosixProcess.h"

#include "core/platform/XPosixBundleInfo.h"

#include <atomic>
#include <mutex>

namespace vela {

namespace {

std::mutex sPathLock;
std::string sExecutablePath;
std::atomic<bool> sRefusesCaseSensitiveInstall{false};

} // namespace

std::string XPosixProcess::ExecutablePath() {
    {
        std::lock_guard<std::mutex> guard(sPathLock);
        if (!sExecutablePath.empty()) return sExecutablePath;
    }
    return XPosixBundleInfo::ExecutablePath();
}

void XPosixProcess::SetExecutablePath(const std::string& path) {
    std::lock_guard<std::mutex> guard(sPathLock);
    sExecutablePath = path;
}

bool XPosixProcess::RefusesCaseSensitiveInstall() noexcept {
    return sRefusesCaseSensitiveInstall.load();
}

bool XPosixProcess::SetRefusesCaseSensitiveInstall(bool refuse) noexcept {
    return sRefusesCaseSensitiveInstall.exchange(refuse);
}

} // namespace vela
