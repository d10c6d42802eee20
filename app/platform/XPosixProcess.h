#pragma once

#include <string>

namespace vela {

// The process frame's view of the platform: where the running executable is, and the install policies that differ
// from the desktop system the frame was first written for.
class XPosixProcess {
public:
    // The running executable's full path (/proc/self/exe resolved), or the path a test set; empty when unknown.
    static std::string ExecutablePath();
    // Tests only: answer path from now on (empty: the real executable again).
    static void SetExecutablePath(const std::string& path);
    // Whether start-up refuses an install folder on a case-sensitive volume. Off by default: Linux file systems
    // are case-sensitive, so the refusal would turn down every bundle.
    static bool RefusesCaseSensitiveInstall() noexcept;
    // Answers the previous policy.
    static bool SetRefusesCaseSensitiveInstall(bool refuse) noexcept;
};

} // namespace vela
