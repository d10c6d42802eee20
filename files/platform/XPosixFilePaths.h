#pragma once

#include "core/VString.h"

namespace vela {

// Conversions between absolute POSIX paths and the internal path form, through the mounted volumes
// (XPosixVolumes). Names pass through unchanged: Linux file systems compare bytes, so nothing is composed.
class XPosixFile {
public:
    // An absolute POSIX path to the internal form: the name of the volume that holds it, then its elements
    // after the mount point, ':' and '/' swapped inside names. "." steps vanish and ".." steps are taken
    // lexically before the volume is chosen; repeated '/' count as one. A path ending with '/' or ".." names a
    // folder. False (out untouched) when posix is not absolute or no volume holds it.
    static bool PosixFullPathToHFS(const VString& posix, VString& out);
    // An internal full path to POSIX: the volume's mount path, then the elements with ':' and '/' swapped back.
    // An unknown volume name gives "/" + the name. Answers whether the volume is mounted.
    static bool HFSFullPathToPosix(const VString& hfs, VString& out);
};

} // namespace vela
