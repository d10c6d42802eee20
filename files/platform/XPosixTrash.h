#pragma once

#include "core/VError.h"

#include <string>

namespace vela {

// The desktop's Trash, laid out as desktop file managers read it, so that a trashed file or folder shows
// there and can be put back. The home trash is $XDG_DATA_HOME/Trash (default ~/.local/share/Trash); an object
// on another device goes to its volume's trash, $topdir/.Trash/$uid when the volume offers a shared one (a
// sticky folder, no link), else $topdir/.Trash-$uid.
class XPosixTrash {
public:
    // Moves the file, link or folder at path (absolute UTF-8, a link is moved itself) into the trash: first
    // info/<name>.trashinfo, made exclusively, records the original path and the deletion time; then the object
    // is renamed into files/<name>. A name already used there gets a suffix ("a.2.txt", "a.3.txt"...). Answers
    // 0 or a native code; EXDEV when no trash on the object's device can take it, so the caller may delete it
    // instead. Nothing is left behind on failure.
    static VError MoveToTrash(const char* path);

    // The home trash folder (no trailing '/'); empty when neither $XDG_DATA_HOME nor a home folder is known.
    static std::string HomeTrashPath();
    // The text of a .trashinfo file: "[Trash Info]", "Path=" with the path percent-encoded (all but unreserved
    // characters and '/'), "DeletionDate=" the local time as YYYY-MM-DDThh:mm:ss.
    static std::string MakeTrashInfo(const std::string& originalPath, time_t deletionTime);
    // The name to try at attempt n (1 = the name itself): "name.n.ext", the extension kept after the suffix.
    static std::string NameForAttempt(const std::string& name, int attempt);
};

} // namespace vela
