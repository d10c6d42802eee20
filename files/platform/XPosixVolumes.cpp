#include "files/platform/XPosixVolumes.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>

namespace vela {

namespace {

uint32 MonotonicMilliseconds() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint32(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
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
    std::ifstream file("/proc/self/mountinfo", std::ios::binary);
    if (!file) return false;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ParseMountInfo(text, mountPoints);
    return true;
}

XPosixVolumes::XPosixVolumes(std::unique_ptr<IMountList> source, Clock clock)
    : fSource(source ? std::move(source) : std::make_unique<XPosixMountInfoList>()),
      fClock(clock != nullptr ? clock : &MonotonicMilliseconds) {}

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

void XPosixVolumes::_ReloadCacheIfNecessary() {
    uint32 now = fClock();
    if (fLoaded && uint32(now - fLastReload) <= kReloadIntervalMs) return;
    std::vector<std::string> points;
    fNameOfMount.clear();
    fMountOfName.clear();
    fMountEnds.clear();
    if (fSource->ReadMountPoints(points)) {
        for (auto& [mount, name] : NameVolumes(points)) {
            fMountOfName.emplace(name, mount);
            if (fMountEnds.size() <= mount.size()) fMountEnds.resize(mount.size() + 1);
            if (!mount.empty()) fMountEnds[mount.size()] |= EndBit(mount.back());
            fNameOfMount.emplace(std::move(mount), std::move(name));
        }
    }
    fLoaded = true;
    fLastReload = now;
}

bool XPosixVolumes::GetVolumeNameFromMountPath(const char* mountPath, VString& name) {
    if (mountPath == nullptr) return false;
    std::u16string key = FromUTF8(mountPath);
    std::lock_guard<std::mutex> guard(fLock);
    _ReloadCacheIfNecessary();
    auto found = fNameOfMount.find(key);
    if (found == fNameOfMount.end()) return false;
    name.FromUniString(found->second.data(), int32(found->second.size()));
    return true;
}

bool XPosixVolumes::GetMountPathFromVolumeName(const VString& name, VString& mountPath) {
    std::u16string_view key(name.GetCPointer(), size_t(name.GetLength()));
    std::lock_guard<std::mutex> guard(fLock);
    _ReloadCacheIfNecessary();
    auto found = fMountOfName.find(key);
    if (found == fMountOfName.end()) return false;
    mountPath.FromUniString(found->second.data(), int32(found->second.size()));
    return true;
}

bool XPosixVolumes::FindVolumeOfPath(std::u16string_view path, int32& mountLength, VString& name) {
    if (path.empty() || path[0] != u'/') return false;
    std::lock_guard<std::mutex> guard(fLock);
    _ReloadCacheIfNecessary();
    // From the whole path back to "/", each folder boundary in turn: the first hit is the longest mount.
    size_t length = path.size();
    while (length > 0) {
        std::u16string_view prefix = path.substr(0, length);
        if (length > 1 && prefix.back() == u'/') prefix.remove_suffix(1);
        bool candidate = prefix.size() < fMountEnds.size() && (fMountEnds[prefix.size()] & EndBit(prefix.back())) != 0;
        auto found = candidate ? fNameOfMount.find(prefix) : fNameOfMount.end();
        if (found != fNameOfMount.end()) {
            mountLength = int32(prefix.size());
            name.FromUniString(found->second.data(), int32(found->second.size()));
            return true;
        }
        if (length == 1) break;
        size_t slash = path.rfind(u'/', prefix.size() - 1);
        length = slash == 0 ? 1 : slash;
    }
    return false;
}

} // namespace vela
