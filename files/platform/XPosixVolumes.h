#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <atomic>
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

// One reading of the mount list, never changed once published: its lookups answer views that live as long as
// the table.
class XPosixVolumeTable {
public:
    XPosixVolumeTable(const std::vector<std::string>& mountPoints, uint32 loadedAt, uint64 generation);

    // The name of a mount path, the mount path of a name; null when none.
    const std::u16string* FindNameOfMount(std::u16string_view mount) const;
    const std::u16string* FindMountOfName(std::u16string_view name) const;
    // The volume holding an absolute, normalised POSIX path (no "//", ".", ".."): the longest mount path that
    // is the path or one of its folders. Answers its length in units (1 for "/") and its name; false when none.
    bool FindVolumeOfPath(std::u16string_view path, int32& mountLength, std::u16string_view& name) const;

    // When the list was read, on the cache's clock.
    uint32 GetLoadedAt() const noexcept { return fLoadedAt; }
    // Unique among all the tables of all caches.
    uint64 GetGeneration() const noexcept { return fGeneration; }

private:
    struct ViewHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view text) const noexcept { return std::hash<std::u16string_view>()(text); }
    };
    // For each length, the last units of the mount paths of that length (one bit per unit modulo 64): most
    // prefixes of a path need no hash lookup.
    static constexpr uint64 EndBit(char16_t unit) noexcept { return uint64(1) << (unit & 63); }

    std::unordered_map<std::u16string, std::u16string, ViewHash, std::equal_to<>> fNameOfMount;
    std::map<std::u16string, std::u16string, std::less<>> fMountOfName;
    std::vector<uint64> fMountEnds;
    // The lengths of the mount paths, longest first, each once: a path's prefixes are tried at these lengths
    // only, rather than at each of its '/'.
    std::vector<size_t> fMountLengths;
    const std::u16string* fRootName = nullptr; // that of "/", asked of nearly every path
    uint32 fLoadedAt;
    uint64 fGeneration;
};

// The process-wide cache of mounted volumes: which name a mount path has and which mount path a name has.
// "/" is the root volume, named "Root"; every other volume is named from its mount point's last element, with
// ':' shown as '/' (as inside any path element) and made unique with " 2", " 3"... in list order. Names are
// compared code unit by code unit. The list is read again at most every 2000 ms of the cache's clock. Lookups
// take no lock: they read an immutable table that a reload replaces.
class XPosixVolumes {
public:
    // A millisecond counter (wrapping in 32 bits).
    using Clock = uint32 (*)();
    static constexpr uint32 kReloadIntervalMs = 2000;

    // A null source reads /proc/self/mountinfo; a null clock takes the coarse monotonic clock.
    explicit XPosixVolumes(std::unique_ptr<IMountList> source = nullptr, Clock clock = nullptr);

    // The cache the path conversions consult.
    static XPosixVolumes& Get();
    // Makes volumes (not owned, may be null to restore the process cache) the one Get answers; answers the
    // previous one. For tests.
    static XPosixVolumes* SetInstance(XPosixVolumes* volumes) noexcept;

    // The current table, the list read again first when it is older than the reload interval. The calling
    // thread holds the table until its next GetTable on any cache: the reference is good until then.
    const XPosixVolumeTable& GetTable();

    bool GetVolumeNameFromMountPath(const char* mountPath, VString& name);
    bool GetMountPathFromVolumeName(const VString& name, VString& mountPath);
    // As XPosixVolumeTable::FindVolumeOfPath, on the current table.
    bool FindVolumeOfPath(std::u16string_view path, int32& mountLength, VString& name);

    // The names given to a list of mount points (same order; duplicate mount points keep the first).
    static std::vector<std::pair<std::u16string, std::u16string>>
    NameVolumes(const std::vector<std::string>& mountPoints);

private:
    bool _IsFresh(const XPosixVolumeTable* table, uint32 now) const noexcept {
        return table != nullptr && uint32(now - table->GetLoadedAt()) <= kReloadIntervalMs;
    }
    std::shared_ptr<const XPosixVolumeTable> _Reload();

    std::unique_ptr<IMountList> fSource;
    Clock fClock;
    std::mutex fReloadLock; // one reload at a time; lookups never take it
    std::atomic<std::shared_ptr<const XPosixVolumeTable>> fTable;
    std::atomic<uint64> fGeneration{0}; // that of fTable
};

} // namespace vela
