// Internal header: the platform part of the directory iterators; include files/VFileIterator.h.
#pragma once

#include "core/VError.h"
#include "core/VTypes.h"

#include <dirent.h>

#include <string>

namespace vela {

class VTime;

// Reads one folder's entries and hands out those the options ask for (the FileIteratorOptions bits), as POSIX
// paths of any length. Only folders, regular files and symbolic links are handed out: FIFOs, sockets and
// devices never are, also when only an lstat tells what an entry is. A folder that cannot be opened or read,
// and an entry whose path is too long for the system, are not passed over in silence: GetLastError tells.
class XPosixFSObjectIterator {
public:
    // folderPath: the folder's POSIX path (UTF-8). rootPath, when not empty, is the POSIX path of the root of the
    // folder's file system: an entry whose real path (after a link was resolved) leaves that root is not handed
    // out; when the root's real path cannot be found, its path as given stands for it.
    XPosixFSObjectIterator(const std::string& folderPath, uint32 options, const std::string& rootPath = {});
    ~XPosixFSObjectIterator();
    XPosixFSObjectIterator(const XPosixFSObjectIterator&) = delete;
    XPosixFSObjectIterator& operator=(const XPosixFSObjectIterator&) = delete;

    // The next entry: its POSIX path (a folder's ends with '/') and whether it is a folder. False at the end.
    bool GetNextPath(std::string& posixPath, bool& isFolder);
    // 0, or the first failure met ('POSX' errno): the folder could not be opened or read, or an entry's path
    // exceeded the system's limit (ENAMETOOLONG, that entry skipped).
    VError GetLastError() const noexcept { return fLastError; }
    // The times of the entry handed out last: a link's own, or its target's when the link was resolved. Before
    // the first entry: 611 is raised for the folder's path and 600 answered.
    VError GetTime(VTime* modified, VTime* created, VTime* accessed);

private:
    bool _Accept(const char* name, unsigned char type, std::string& posixPath, bool& isFolder);

    uint32 fOptions;
    DIR* fDir = nullptr;
    std::string fFolderPath; // the real path, ending with '/'
    bool fConfined = false;
    std::string fRootPath; // when confined, the (real) path of the file system's root, ending with '/'
    std::string fCurrentName;
    std::string fCurrentPath; // as handed out, without a folder's trailing '/'

    VError fLastError = 0;
};

} // namespace vela
