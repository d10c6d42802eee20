#pragma once

// Internal: the inotify change source of the file-system notifier.

#include "system/VFileSystemNotifier.h"

#include <map>
#include <set>
#include <string>
#include <thread>

namespace vela {

class XPosixFileSystemNotification {
public:
    struct FileInfo {
        int64 seconds = 0;
        int64 nanoseconds = 0;
        bool isFolder = false;
    };
    // Items directly inside a folder, by name.
    using Listing = std::map<std::string, FileInfo>;

    explicit XPosixFileSystemNotification(VFileSystemNotifier* owner) noexcept : fOwner(owner) {}

    // Snapshots the tree, watches every folder of it and lists the watch in the owner (called under the
    // owner's lock). 0, or a non-zero 'POSX' error with nothing listed.
    VError StartWatchingForChanges(const VFolder& folder, VFileSystemNotifier::EventKind kinds,
                                   VFileSystemNotifier::IEventHandler* handler, int latency);

    // The items of folder (POSIX, ending with "/") without ".", ".." and ".DS_Store", sorted; items that
    // vanish while listed are left out. False when the folder cannot be listed; an empty folder is a listing.
    static bool ListFolder(const std::string& folder, Listing& out);

private:
    VFileSystemNotifier* fOwner;
};

// One watch: its own inotify instance and a reader thread that turns each batch of events into changes by
// comparing snapshots of the folders named.
class XPosixChangeData : public VFileSystemNotifier::VChangeData {
public:
    XPosixChangeData(VFileSystemNotifier* owner, const VFilePath& folder, std::string posixFolder,
                     VFileSystemNotifier::EventKind kinds, VFileSystemNotifier::IEventHandler* handler, VTask* task,
                     int latency);
    ~XPosixChangeData() override;

    // Opens the instance, takes the first snapshot and starts the reader: 0 or errno (never 0 on failure).
    int Open();
    void StopSource() override;

private:
    void _Read();
    // Adds the folders the pending events name to rescan; false when nothing could be read.
    bool _TakeEvents(std::set<std::string>& rescan);
    void _ProcessBatch(const std::set<std::string>& rescan);
    // Adds the changes from before to now of folder; answers whether any was added.
    bool _BuildChangeList(const std::string& folder, const XPosixFileSystemNotification::Listing& before,
                          const XPosixFileSystemNotification::Listing& now);
    void _UpdateSnapshot(const std::string& folder, XPosixFileSystemNotification::Listing&& now);
    // Drops the snapshot of folder and of everything below it.
    void _Forget(const std::string& folder);
    // Recursive snapshot of folder, watching each folder listed; false when folder cannot be listed.
    bool _SnapshotTree(const std::string& folder, bool isRoot);
    VFilePath _ItemPath(const std::string& folder, const std::string& name, bool isFolder) const;

    VFileSystemNotifier* fOwner;
    std::string fPosixFolder;
    int fLatency;
    int fInotify = -1;
    int fStopEvent = -1;
    std::map<int, std::string> fFolderOfWatch;
    std::map<std::string, XPosixFileSystemNotification::Listing> fSnapshot;
    std::thread fReader;
};

} // namespace vela
