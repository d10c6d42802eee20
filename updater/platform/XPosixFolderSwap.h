#pragma once

#include "core/VError.h"

#include <string>

namespace vela {

// The steps that put a whole copy of a folder in place of another without a moment where neither stands: make
// the copy beside the target, flush it, then exchange the two names. Each answers 0 or a native code ('POSX'
// errno) and pushes nothing.
class XPosixFolderSwap {
public:
    // Makes a new, empty folder beside target under a hidden unique name (mkdtemp, so never one that existed),
    // with target's permission bits when target is a folder, else 0755; its path in staged.
    static VError MakeStagingFolder(const std::string& target, std::string& staged);
    // Exchanges the objects at a and b (both present, on one file system) in one step. EINVAL or ENOSYS when the
    // file system offers no exchange (IsExchangeRefused): the caller then renames in two steps.
    static VError Exchange(const char* a, const char* b);
    static bool IsExchangeRefused(VError result) noexcept;
    // Flushes the file system of staged (the file layer's XPosixFolder::Flush), then Exchange(staged, target):
    // afterwards staged names the former target. Nothing is exchanged when either step fails.
    static VError FlushAndExchange(const std::string& staged, const std::string& target);
};

} // namespace vela
