#include "system/platform/XPosixFileSystemNotification.h"

#include "core/StStringConverter.h"
#include "core/VTask.h"
#include "files/VFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vela {

namespace {

constexpr uint32 kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                              IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

VError PosixError(int error) noexcept {
    // A failure must never read as success, whatever errno was left.
    return MakeVError(kComponentPosix, error != 0 ? error : EIO);
}

} // namespace

bool XPosixFileSystemNotification::ListFolder(const std::string& folder, Listing& out) {
    out.clear();
    dirent** entries = nullptr;
    int count = ::scandir(folder.c_str(), &entries, nullptr, ::alphasort);
    if (count < 0) return false;
    for (int i = 0; i < count; ++i) {
        std::string name = entries[i]->d_name;
        unsigned char type = entries[i]->d_type;
        std::free(entries[i]);
        if (name == "." || name == ".." || name == ".DS_Store") continue;
        struct stat info {};
        if (::lstat((folder + name).c_str(), &info) != 0) continue;
        bool isFolder = type == DT_UNKNOWN ? S_ISDIR(info.st_mode) : type == DT_DIR;
        out[name] = FileInfo{int64(info.st_mtim.tv_sec), int64(info.st_mtim.tv_nsec), isFolder};
    }
    std::free(entries);
    return true;
}

VError XPosixFileSystemNotification::StartWatchingForChanges(const VFolder& folder,
                                                             VFileSystemNotifier::EventKind kinds,
                                                             VFileSystemNotifier::IEventHandler* handler, int latency) {
    VString posix;
    folder.GetPathRef().GetPosixPath(posix);
    std::string posixFolder = to_string(posix);
    if (posixFolder.empty()) return PosixError(ENOENT);
    if (posixFolder.back() != '/') posixFolder += '/';
    auto* data = new XPosixChangeData(fOwner, folder.GetPathRef(), std::move(posixFolder), kinds, handler,
                                      VTask::GetCurrent(), latency);
    int error = data->Open();
    if (error == 0) fOwner->PushChangeData(data);
    data->Release();
    return error == 0 ? VE_OK : PosixError(error);
}

XPosixChangeData::XPosixChangeData(VFileSystemNotifier* owner, const VFilePath& folder, std::string posixFolder,
                                   VFileSystemNotifier::EventKind kinds, VFileSystemNotifier::IEventHandler* handler,
                                   VTask* task, int latency)
    : VChangeData(folder, kinds, handler, task), fOwner(owner), fPosixFolder(std::move(posixFolder)),
      fLatency(latency > 0 ? latency : 0) {}

XPosixChangeData::~XPosixChangeData() {
    StopSource();
    if (fInotify >= 0) ::close(fInotify);
    if (fStopEvent >= 0) ::close(fStopEvent);
}

int XPosixChangeData::Open() {
    fInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fInotify < 0) return errno;
    fStopEvent = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fStopEvent < 0) return errno;
    errno = 0;
    if (!_SnapshotTree(fPosixFolder, true)) return errno;
    try {
        fReader = std::thread([this] { _Read(); });
    } catch (const std::system_error& error) {
        return error.code().value();
    }
    return 0;
}

void XPosixChangeData::StopSource() {
    if (!fReader.joinable()) return;
    uint64_t one = 1;
    while (::write(fStopEvent, &one, sizeof one) < 0 && errno == EINTR) {
    }
    fReader.join();
}

bool XPosixChangeData::_SnapshotTree(const std::string& folder, bool isRoot) {
    int watch = ::inotify_add_watch(fInotify, folder.c_str(), isRoot ? kWatchMask : kWatchMask | IN_DONT_FOLLOW);
    if (watch < 0 && isRoot) return false;
    XPosixFileSystemNotification::Listing listing;
    if (!XPosixFileSystemNotification::ListFolder(folder, listing)) return false;
    if (watch >= 0) fFolderOfWatch[watch] = folder;
    for (const auto& [name, info] : listing)
        if (info.isFolder) _SnapshotTree(folder + name + "/", false);
    fSnapshot[folder] = std::move(listing);
    return true;
}

void XPosixChangeData::_Read() {
    for (;;) {
        pollfd fds[2] = {{fInotify, POLLIN, 0}, {fStopEvent, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        std::set<std::string> rescan;
        if (!_TakeEvents(rescan)) continue;
        if (fLatency > 0) {
            // Changes that follow within the latency join this batch.
            pollfd more[2] = {{fInotify, POLLIN, 0}, {fStopEvent, POLLIN, 0}};
            if (::poll(more, 2, fLatency) > 0) {
                if (more[1].revents != 0) return;
                _TakeEvents(rescan);
            }
        }
        _ProcessBatch(rescan);
    }
}

bool XPosixChangeData::_TakeEvents(std::set<std::string>& rescan) {
    alignas(inotify_event) char buffer[64 * 1024];
    bool any = false;
    for (;;) {
        ssize_t length = ::read(fInotify, buffer, sizeof buffer);
        if (length <= 0) {
            if (length < 0 && errno == EINTR) continue;
            return any;
        }
        any = true;
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Events were lost somewhere: compare every folder.
                for (const auto& entry : fSnapshot)
                    rescan.insert(entry.first);
                continue;
            }
            auto watch = fFolderOfWatch.find(event->wd);
            if (watch == fFolderOfWatch.end()) continue;
            if ((event->mask & IN_IGNORED) != 0) {
                fFolderOfWatch.erase(watch);
                continue;
            }
            if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                // A subfolder's own end is reported by its parent; the watched folder is rescanned while it exists.
                struct stat info {};
                if (watch->second == fPosixFolder && ::stat(fPosixFolder.c_str(), &info) == 0)
                    rescan.insert(fPosixFolder);
                continue;
            }
            rescan.insert(watch->second);
        }
    }
}

void XPosixChangeData::_ProcessBatch(const std::set<std::string>& rescan) {
    for (const std::string& folder : rescan) {
        auto kept = fSnapshot.find(folder);
        if (kept == fSnapshot.end()) continue;
        // An empty listing is a snapshot: only a vanished folder has none (its parent reports it).
        XPosixFileSystemNotification::Listing now;
        if (!XPosixFileSystemNotification::ListFolder(folder, now)) {
            _Forget(folder);
            continue;
        }
        if (_BuildChangeList(folder, kept->second, now)) fOwner->SignalChange(this);
        _UpdateSnapshot(folder, std::move(now));
    }
}

void XPosixChangeData::_UpdateSnapshot(const std::string& folder, XPosixFileSystemNotification::Listing&& now) {
    // The listing just compared is the folder's new baseline: a change made after it was taken raises an event
    // that is compared against it, so none falls between two snapshots.
    XPosixFileSystemNotification::Listing before = std::move(fSnapshot[folder]);
    fSnapshot[folder] = std::move(now);
    const XPosixFileSystemNotification::Listing& after = fSnapshot[folder];
    for (const auto& [name, info] : before) {
        auto kept = after.find(name);
        if (info.isFolder && (kept == after.end() || !kept->second.isFolder)) _Forget(folder + name + "/");
    }
    for (const auto& [name, info] : after) {
        auto old = before.find(name);
        if (info.isFolder && (old == before.end() || !old->second.isFolder)) _SnapshotTree(folder + name + "/", false);
    }
}

void XPosixChangeData::_Forget(const std::string& folder) {
    for (auto it = fSnapshot.lower_bound(folder); it != fSnapshot.end() && it->first.starts_with(folder);)
        it = fSnapshot.erase(it);
}

bool XPosixChangeData::_BuildChangeList(const std::string& folder, const XPosixFileSystemNotification::Listing& before,
                                        const XPosixFileSystemNotification::Listing& now) {
    bool added = false;
    auto add = [&](const std::string& name, bool isFolder, VFileSystemNotifier::EventKind kind) {
        if (!Wants(kind)) return;
        fOwner->AddChange(this, _ItemPath(folder, name, isFolder), kind);
        added = true;
    };
    for (const auto& [name, info] : before)
        if (now.find(name) == now.end()) add(name, info.isFolder, VFileSystemNotifier::eDeleted);
    for (const auto& [name, info] : now) {
        auto old = before.find(name);
        if (old == before.end()) {
            add(name, info.isFolder, VFileSystemNotifier::eCreated);
        } else if (!old->second.isFolder &&
                   (old->second.seconds != info.seconds || old->second.nanoseconds != info.nanoseconds)) {
            add(name, info.isFolder, VFileSystemNotifier::eModified);
        }
    }
    return added;
}

VFilePath XPosixChangeData::_ItemPath(const std::string& folder, const std::string& name, bool isFolder) const {
    std::string text = folder + name;
    if (isFolder) text += '/';
    return VFilePath(VString(text.data(), text.size(), VTC_UTF_8), FPS_POSIX);
}

} // namespace vela
