#pragma once

#include "core/VTypes.h"

namespace vela {

// How a file is opened (VFile::Open, VFileDesc).
enum FileAccess : int32 {
    FA_READ = 0,
    // Read and write, holding the file's exclusive lock; fails with access denied while another holds a lock.
    FA_READ_WRITE = 1,
    // Read and write, holding a shared lock.
    FA_SHARED = 2,
    // FA_READ_WRITE when it can be had, else FA_READ.
    FA_MAX = 3,
};

// Bits of the open and create options.
enum FileOpenOptions : uint32 {
    FO_DEFAULT = 0,
    // A resource fork: Linux files have none, so asking for it fails.
    FO_RESOURCE_FORK = 1,
    FO_CREATE_IF_NOT_FOUND = 2,
    // Open: empty the file. Create: replace an existing file.
    FO_OVERWRITE = 4,
    FO_READ_AHEAD = 8,
    FO_NO_CACHE = 32,
    FO_NO_CACHE_2 = 64,
    // Open the file a symbolic link names; without it a link is refused.
    FO_FOLLOW_LINK = 128,
};

// Bits of the copy and move options.
enum FileCopyOptions : uint32 {
    FCP_DEFAULT = 0,
    // Replace an existing target; without it an existing target makes the copy or move fail.
    FCP_OVERWRITE = 4,
};

// File attribute flags (GetFileAttributes, SetFileAttributes).
enum FileAttributes : uint32 {
    FATT_LOCKED = 1,
    FATT_HIDDEN = 2,
};

} // namespace vela
