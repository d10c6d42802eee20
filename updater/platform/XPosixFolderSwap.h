#pragma once

#include "core/VError.h"

#include <string>

namespace vela {

// The last step of a copy that replaces a folder whole: the staged folder is flushed to its disk, then it and the
// target trade places in one step, so that the target's path always names either the old or the whole new tree.
class XPosixFolderSwap {
public:
    // Makes a new, empty folder beside target under a hidden unique name (mkdtemp, so never one that existed),
    // with target's permission bits when target is a folder, else 0755; its path in staged. 0 or a native code.
    static VError MakeStagingFolder(const std::string& target, std::string& staged);
    // Flushes the file system that holds staged (syncfs), then exchanges staged and target (renameat2
    // RENAME_EXCHANGE); afterwards staged names the former target. Both POSIX paths, UTF-8. 0, or the native
    // code ('POSX' errno) of the call that failed, nothing exchanged.
    static VError FlushAndExchange(const std::string& staged, const std::string& target);
};

} // namespace vela
