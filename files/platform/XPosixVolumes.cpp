#include "files/platform/XPosixVolumes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <functional>
#include <set>

#include <fcntl.h>
#include <unistd.h>

namespace vela {

namespace {

// The coarse clock is read without a system call and costs a fraction of the precise one: its ticks of a few
// ms are nothing against the reload interval.
uint32 CoarseMonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return uint32(uint64(now.tv_sec) * 1000 + uint64(now.tv_nsec) / 1000000);
}

std::u16string FromUTF8(const std::string& bytes) {
    VString text;
    text.FromBlock(bytes.data(), bytes.size(), VTC_UTF_8);
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string DecodeEscapes(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
            IsOctal(field[i + 3])) {
            out.push_back(char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::atomic<XPosixVolumes*> sInstance{nullptr};
std::atomic<uint64> sLastGeneration{0};

// The table this thread last took from a cache. While it is the cache's current one, a lookup reads it without
// touching the shared pointer's counts: taking a counted copy of the cache's pointer at each lookup was a tenth
// of path_posix_roundtrip's time.
std::shared_ptr<const XPosixVolumeTable>& ThreadTable() noexcept {
    thread_local std::shared_ptr<const XPosixVolumeTable> tTable;
    return tTable;
}

} // namespace

void XPosixMountInfoList::ParseMountInfo(std::string_view text, std::vector<std::string>& mountPoints) {
    mountPoints.clear();
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Fields: id, parent id, major:minor, root, mount point, ...
        size_t pos = 0;
        for (int field = 0; field < 4 && pos != std::string_view::npos; ++field) {
            pos = line.find(' ', pos);
            if (pos != std::string_view::npos) ++pos;
        }
        if (pos == std::string_view::npos || pos >= line.size()) continue;
        size_t stop = line.find(' ', pos);
        std::string point =
            DecodeEscapes(line.substr(pos, stop == std::string_view::npos ? line.size() - pos : stop - pos));
        if (!point.empty() && point[0] == '/') mountPoints.push_back(std::move(point));
    }
}

bool XPosixMountInfoList::ReadMountPoints(std::vector<std::string>& mountPoints) {
    // Plain reads: a stream's set-up cost more than the reading itself, and every process reads this list
    // when it starts (its install folder's path names a volume).
    int fd = -1;
    do {
        fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        // An error ends the text as its end does: the lines read so far are the list.
        if (got <= 0) break;
        text.append(buffer, size_t(got));
    }
    close(fd);
    ParseMountInfo(text, mountPoints);
    return true;
}

XPosixVolumeTable::XPosixVolumeTable(const std::vector<std::string>& mountPoints, uint32 loadedAt, uint64 generation)
    : fLoadedAt(loadedAt), fGeneration(generation) {
    for (auto& [mount, name] : XPosixVolumes::NameVolumes(mountPoints)) {
        fMountOfName.emplace(name, mount);
        if (fMountEnds.size() <= mount.size()) fMountEnds.resize(mount.size() + 1);
        if (!mount.empty()) fMountEnds[mount.size()] |= EndBit(mount.back());
        if (std::find(fMountLengths.begin(), fMountLengths.end(), mount.size()) == fMountLengths.end())
            fMountLengths.push_back(mount.size());
        fNameOfMount.emplace(std::move(mount), std::move(name));
    }
    std::sort(fMountLengths.begin(), fMountLengths.end(), std::greater<>());
    fRootName = FindNameOfMount(u"/");
}

const std::u16string* XPosixVolumeTable::FindNameOfMount(std::u16string_view mount) const {
    auto found = fNameOfMount.find(mount);
    return found == fNameOfMount.end() ? nullptr : &found->second;
}

const std::u16string* XPosixVolumeTable::FindMountOfName(std::u16string_view name) const {
    auto found = fMountOfName.find(name);
    return found == fMountOfName.end() ? nullptr : &found->second;
}

bool XPosixVolumeTable::FindVolumeOfPath(std::u16string_view path, int32& mountLength,
                                         std::u16string_view& name) const {
    if (path.empty() || path[0] != u'/') return false;
    // The prefixes that end at a folder boundary ("/" itself, or a name followed by '/' or by the end), at the
    // lengths of the mount paths, longest first: the first hit is the longest mount.
    for (size_t length : fMountLengths) {
        if (length > path.size()) continue;
        if (length == 1) {
            if (fRootName == nullptr) return false;
            mountLength = 1;
            name = *fRootName;
            return true;
        }
        const bool boundary = path[length - 1] != u'/' && (length == path.size() || path[length] == u'/');
        if (!boundary || (fMountEnds[length] & EndBit(path[length - 1])) == 0) continue;
        auto found = fNameOfMount.find(path.substr(0, length));
        if (found == fNameOfMount.end()) continue;
        mountLength = int32(length);
        name = found->second;
        return true;
    }
    return false;
}

XPosixVolumes::XPosixVolumes(std::unique_ptr<IMountList> source, Clock clock)
    : fSource(source ? std::move(source) : std::make_unique<XPosixMountInfoList>()),
      fClock(clock != nullptr ? clock : &CoarseMonotonicMilliseconds) {}

XPosixVolumes& XPosixVolumes::Get() {
    XPosixVolumes* installed = sInstance.load(std::memory_order_acquire);
    if (installed != nullptr) return *installed;
    static XPosixVolumes sProcessVolumes;
    return sProcessVolumes;
}

XPosixVolumes* XPosixVolumes::SetInstance(XPosixVolumes* volumes) noexcept {
    return sInstance.exchange(volumes, std::memory_order_acq_rel);
}

std::vector<std::pair<std::u16string, std::u16string>>
XPosixVolumes::NameVolumes(const std::vector<std::string>& mountPoints) {
    std::vector<std::pair<std::u16string, std::u16string>> named;
    std::set<std::u16string> mounts;
    std::set<std::u16string> names;
    for (const std::string& point : mountPoints) {
        std::u16string mount = FromUTF8(point);
        if (mount.empty() || !mounts.insert(mount).second) continue;
        std::u16string base;
        if (mount == u"/") {
            base = u"Root";
        } else {
            std::u16string trimmed = mount;
            while (trimmed.size() > 1 && trimmed.back() == u'/')
                trimmed.pop_back();
            base = trimmed.substr(trimmed.rfind(u'/') + 1);
            for (char16_t& c : base)
                if (c == u':') c = u'/';
            if (base.empty()) base = u"Root";
        }
        std::u16string name = base;
        for (int suffix = 2; !names.insert(name).second; ++suffix) {
            VString number;
            number.FromLong(suffix);
            name = base + u" " + std::u16string(number.GetCPointer(), size_t(number.GetLength()));
        }
        named.emplace_back(std::move(mount), std::move(name));
    }
    return named;
}

const XPosixVolumeTable& XPosixVolumes::GetTable() {
    std::shared_ptr<const XPosixVolumeTable>& held = ThreadTable();
    if (held == nullptr || held->GetGeneration() != fGeneration.load(std::memory_order_acquire))
        held = fTable.load(std::memory_order_acquire);
    if (!_IsFresh(held.get(), fClock())) held = _Reload();
    return *held;
}

std::shared_ptr<const XPosixVolumeTable> XPosixVolumes::_Reload() {
    std::lock_guard<std::mutex> guard(fReloadLock);
    // Another thread may have reloaded while this one waited.
    const uint32 now = fClock();
    std::shared_ptr<const XPosixVolumeTable> current = fTable.load(std::memory_order_acquire);
    if (_IsFresh(current.get(), now)) return current;
    std::vector<std::string> points;
    if (!fSource->ReadMountPoints(points)) points.clear();
    const uint64 generation = sLastGeneration.fetch_add(1, std::memory_order_relaxed) + 1;
    auto table = std::make_shared<const XPosixVolumeTable>(points, now, generation);
    fTable.store(table, std::memory_order_release);
    fGeneration.store(generation, std::memory_order_release);
    return table;
}

bool XPosixVolumes::GetVolumeNameFromMountPath(const char* mountPath, VString& name) {
    if (mountPath == nullptr) return false;
    const std::u16string key = FromUTF8(mountPath);
    const std::u16string* found = GetTable().FindNameOfMount(key);
    if (found == nullptr) return false;
    name.FromUniString(found->data(), int32(found->size()));
    return true;
}

bool XPosixVolumes::GetMountPathFromVolumeName(const VString& name, VString& mountPath) {
    const std::u16string* found = GetTable().FindMountOfName({name.GetCPointer(), size_t(name.GetLength())});
    if (found == nullptr) return false;
    mountPath.FromUniString(found->data(), int32(found->size()));
    return true;
}

bool XPosixVolumes::FindVolumeOfPath(std::u16string_view path, int32& mountLength, VString& name) {
    if (path.empty() || path[0] != u'/') return false;
    std::u16string_view found;
    if (!GetTable().FindVolumeOfPath(path, mountLength, found)) return false;
    name.FromUniString(found.data(), int32(found.size()));
    return true;
}

} // namespace vela
