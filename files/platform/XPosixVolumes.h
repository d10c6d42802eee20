#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vela {

// Where the mounted volumes come from; tests hand the cache a fixed list.
class IMountList {
public:
    virtual ~IMountList() = default;
    // Fills mountPoints with the mount paths (UTF-8, escapes decoded) in the system's order; false when the
    // list cannot be read.
    virtual bool ReadMountPoints(std::vector<std::string>& mountPoints) = 0;
};

// The mount points of /proc/self/mountinfo.
class XPosixMountInfoList : public IMountList {
public:
    bool ReadMountPoints(std::vector<std::string>& mountPoints) override;
    // The mount points of a mountinfo text (its fifth field, with the octal escapes \ooo decoded).
    static void ParseMountInfo(std::string_view text, std::vector<std::string>& mountPoints);
};

// The process-wide cache of mounted volumes: which name a mount path has and which mount path a name has.
// "/" is the root volume, named "Root"; every other volume is named from its mount point's last element, with
// ':' shown as '/' (as inside any path element) and made unique with " 2", " 3"... in list order. Names are
// compared code unit by code unit. The list is read again at most every 2000 ms of the cache's clock.
class XPosixVolumes {
public:
    // A millisecond counter (wrapping in 32 bits).
    using Clock = uint32 (*)();
    static constexpr uint32 kReloadIntervalMs = 2000;

    // A null source reads /proc/self/mountinfo; a null clock takes the monotonic clock.
    explicit XPosixVolumes(std::unique_ptr<IMountList> source = nullptr, Clock clock = nullptr);

    // The cache the path conversions consult.
    static XPosixVolumes& Get();
    // Makes volumes (not owned, may be null to restore the process cache) the one Get answers; answers the
    // previous one. For tests.
    static XPosixVolumes* SetInstance(XPosixVolumes* volumes) noexcept;

    bool GetVolumeNameFromMountPath(const char* mountPath, VString& name);
    bool GetMountPathFromVolumeName(const VString& name, VString& mountPath);
    // The volume holding an absolute, normalised POSIX path (no "//", ".", ".."): the longest mount path that
    // is the path or one of its folders. Answers its length in units (1 for "/") and its name; false when none.
    bool FindVolumeOfPath(std::u16string_view path, int32& mountLength, VString& name);

    // The names given to a list of mount points (same order; duplicate mount points keep the first).
    static std::vector<std::pair<std::u16string, std::u16string>>
    NameVolumes(const std::vector<std::string>& mountPoints);

private:
    struct ViewHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view text) const noexcept { return std::hash<std::u16string_view>()(text); }
    };
    using MountMap = std::unordered_map<std::u16string, std::u16string, ViewHash, std::equal_to<>>;
    using NameMap = std::map<std::u16string, std::u16string, std::less<>>;

    void _ReloadCacheIfNecessary();

    std::unique_ptr<IMountList> fSource;
    Clock fClock;
    std::mutex fLock;
    MountMap fNameOfMount; // guarded by fLock
    NameMap fMountOfName;  // guarded by fLock
    // For each length, the last units of the mount paths of that length (one bit per unit modulo 64): most
    // prefixes of a path need no hash lookup.
    static constexpr uint64 EndBit(char16_t unit) noexcept { return uint64(1) << (unit & 63); }
    std::vector<uint64> fMountEnds; // guarded by fLock
    bool fLoaded = false;           // guarded by fLock
    uint32 fLastReload = 0;         // guarded by fLock
};

} // namespace vela
