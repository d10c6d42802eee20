#pragma once

#include "core/VError.h"

#include <cerrno>
#include <string>

namespace vela {

// An errno as a native code ('POSX').
constexpr VError MakePosixError(int error) noexcept {
    return MakeVError(kComponentPosix, error);
}

// The native code of errno after a failed call (EIO when a call failed without saying why).
inline VError LastPosixError() noexcept {
    return MakePosixError(errno != 0 ? errno : EIO);
}

// The folder operations on POSIX paths (UTF-8, absolute). Each answers 0 or a native code ('POSX' errno) and
// pushes nothing: the portable folder turns failures into file errors.
class XPosixFolder {
public:
    // mkdir with mode 0755 (less the umask).
    static VError Create(const char* path);
    // rmdir.
    static VError Delete(const char* path);
    // A directory is there (links followed or not).
    static bool Exists(const char* path, bool followLinks);

    // Renames from to to, failing with EEXIST when to exists: never replaces anything. Where the file system
    // refuses the exclusive flag, the name is claimed first (an empty folder or a hard link) so that the rename
    // still cannot overwrite.
    static VError RenameExclusive(const char* from, const char* to);

    // Copies the folder at from (a link there is followed) to the new path to, which must not exist. Below the
    // top, links are copied as links (never followed); modes, owner (where allowed), times and extended
    // attributes are kept; a FIFO, socket or device stops the copy with ENOTSUP, never opened. Any failure
    // (a missing or unreadable source, a full disk) stops the copy and is the result; the partial target stays.
    static VError CopyToNonExistingFolder(const char* from, const char* to);

    // Removes the folder at path and everything below it. Folders the caller owns whose modes forbid the walk
    // are widened (never through a link), and a cleared lock or widened mode is put back when the removal
    // fails; the parent's mode or lock is put back in every case. A link at path is removed, not followed.
    static VError DeleteForced(const char* path);
};

} // namespace vela
