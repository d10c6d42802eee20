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

    // Copies the folder at from (a link there is followed) to the new path to, which must not exist (else EEXIST,
    // nothing touched). Below the top, links are copied as links (never followed); modes, owner (where allowed),
    // times and extended attributes are kept; a FIFO, socket or device stops the copy with ENOTSUP, never opened.
    // Any failure (a missing or unreadable source, a full disk) stops the copy and is the result; what the copy
    // made is removed again, and nothing else.
    static VError CopyToNonExistingFolder(const char* from, const char* to);
    // As CopyToNonExistingFolder, to a fresh hidden name beside target (answered in made) instead of target.
    static VError CopyBeside(const char* from, const char* target, std::string& made);
    // An empty folder (mode 0700) at a fresh hidden name beside target, answered in made.
    static VError CreateBeside(const char* target, std::string& made);
    // Renames the object at path to a fresh hidden name beside it (answered in aside), never replacing anything.
    static VError MoveAside(const char* path, std::string& aside);
    // Flushes the file system that holds the folder at path (syncfs), so that what was written there is on disk.
    static VError Flush(const char* path);
    // Puts the folder made (by CopyBeside or CreateBeside) in target's place, whole: flushed first, then renamed
    // to target exclusively (EEXIST when something is there), or with replace exchanged with what is there (a
    // link there is exchanged, never followed) and the old object removed. On failure target is as it was and
    // made is removed, leftOver empty. When the swap was done but the old object could not be wholly removed,
    // leftOver names where its rest lies and the answer is the removal's error.
    static VError PutInPlace(const char* made, const char* target, bool replace, std::string& leftOver);

    // Something (a link too) is at path, trailing '/' ignored.
    static bool IsPresent(const char* path);
    // The last element of path (trailing '/' ignored) is a symbolic link.
    static bool IsLink(const char* path);
    // Removes the link at path (trailing '/' ignored), never what it leads to.
    static VError DeleteLink(const char* path);

    // Removes the folder at path and everything below it. Folders the caller owns whose modes forbid the walk
    // are widened (never through a link), and a cleared lock or widened mode is put back when the removal
    // fails; the parent's mode or lock is put back in every case. A link at path is removed, not followed.
    static VError DeleteForced(const char* path);

private:
    // The exchange of PutInPlace by renames, for file systems without one; old receives where the old object went.
    static VError SwapByRenames(const char* made, const char* target, std::string& old);
};

} // namespace vela
