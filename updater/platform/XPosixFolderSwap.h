#pragma once

#include "core/VError.h"

namespace vela {

// The two steps that put a whole copy of a folder in place of another without a moment where neither stands:
// flush the copy, then exchange the two names. Each answers 0 or a native code ('POSX' errno) and pushes nothing.
class XPosixFolderSwap {
public:
    // Exchanges the objects at a and b (both present, on one file system) in one step. EINVAL or ENOSYS when the
    // file system offers no exchange (IsExchangeRefused): the caller then renames in two steps.
    static VError Exchange(const char* a, const char* b);
    static bool IsExchangeRefused(VError result) noexcept;
    // Something (a folder, a file, a link: not followed) stands at path.
    static bool IsPresent(const char* path);
    // Writes everything of the file system holding the folder at path to the disk (syncfs).
    static VError FlushFileSystem(const char* path);
};

} // namespace vela
