#pragma once

#include "core/VTypes.h"

#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace vela {

// Linux services behind VSystem: the calendar clock and time zone, the system's name and version, processor and
// memory figures, users and executables; its monotonic clocks, processor count and pages are the core's
// (XPosixRuntime). Readers of system files take the path, so tests can hand them fixtures.
class XPosixSystem {
public:
    XPosixSystem() = delete;

    // Seconds since 1970 (UTC) and the nanoseconds within that second, from the real-time clock.
    static int64 GetRealTime(int32* nanoseconds) noexcept;
    // Seconds since boot; a negative result when the clock cannot be read.
    static int64 GetSecondsSinceBoot() noexcept;
    // The fields of an instant in UTC (utc) or in the system's default time zone; false when they cannot be had.
    static bool SplitInstant(int64 seconds, bool utc, std::tm& fields) noexcept;
    // The instant of fields taken in UTC (utc) or in the default time zone, daylight saving found by the system;
    // false when there is none.
    static bool JoinInstant(const std::tm& fields, bool utc, int64& seconds) noexcept;
    // The offsets east of GMT in force at instant (seconds), and the first instant after it at which either may
    // differ: the next zone transition, or at most a year ahead when none was found.
    static void GetZoneOffsets(int64 instant, int32& standard, int32& withDaylight, int64& nextChange) noexcept;
    // Reads the time-zone setting (TZ and the system database) again.
    static void ResetTimeZone() noexcept;

    // ---- System name and version
    // Where the system describes itself: /etc/os-release, else /usr/lib/os-release.
    static const char* GetOSReleasePath() noexcept;
    // The fields of an os-release file: "KEY=value" lines, the value bare, in single quotes, or in double quotes
    // with backslash escapes; blank lines, '#' comments and lines without '=' are skipped. False when the file
    // cannot be read.
    static bool ReadOSRelease(const char* path, std::map<std::string, std::string>& fields);
    // The system's name and version as one text: PRETTY_NAME, else NAME and VERSION, else the kernel's name and
    // release.
    static std::string GetOSVersionText(const char* osReleasePath);
    // NAME and VERSION_ID (else the kernel's name and release), then the kernel release in parentheses.
    static std::string GetFullOSName(const char* osReleasePath);
    // The kernel release ("6.1.0-13-amd64"); empty when unknown.
    static std::string GetKernelRelease();
    // Whether the running system is at least major.minor of the desktop system the library was written for:
    // always true here, unless a test installed a check of its own.
    static bool IsVersionOrAbove(int32 major, int32 minor) noexcept;
    // Tests only: check answers IsVersionOrAbove from now on (null restores the answer true); answers the
    // previous check. Lets a test drive a start-up on a system found too old.
    using VersionCheck = bool (*)(int32 major, int32 minor);
    static VersionCheck SetVersionCheck(VersionCheck check) noexcept;

    // ---- Machine and users
    // The machine's model name (DMI product name), trimmed; empty when unknown.
    static std::string GetMachineModel();
    // The host name; empty when unknown.
    static std::string GetHostName();
    // The effective user's account name, and its full name (the first field of its comment, else the account
    // name); empty when the account cannot be read.
    static std::string GetUserName();
    static std::string GetFullUserName();
    // The first "model name" of a /proc/cpuinfo-like file; empty when none.
    static std::string ReadProcessorBrand(const char* cpuinfoPath);

    // ---- Processors
    // Distinct cores (package and core id pairs) under a /sys/devices/system/cpu-like folder, among every
    // processor the system knows or only those online; 0 when none can be read.
    static int32 CountCores(const char* cpuRoot, bool onlineOnly);
    // Tick counters of one processor since boot.
    struct ProcessorTicks {
        uint64 fUser = 0;
        uint64 fSystem = 0;
        uint64 fIdle = 0;
        uint64 fNice = 0;
    };
    // The counters of every processor ("cpuN" lines) of a /proc/stat-like file, in order; false when there are
    // none.
    static bool ReadProcessorTicks(const char* statPath, std::vector<ProcessorTicks>& ticks);
    // The busy fraction (0 to 1) of all processors between two readings: the busy ticks (user, system, nice)
    // summed over the processors, divided by all ticks summed likewise. Processors present in only one reading
    // are left out.
    static double ComputeProcessorUse(const std::vector<ProcessorTicks>& before,
                                      const std::vector<ProcessorTicks>& after) noexcept;
    // Processor time this process used (user and system, ns) and how long it has run (ns); false when unknown.
    static bool GetProcessTimes(uint64& cpuNs, uint64& runningNs) noexcept;

    // ---- Memory
    // Physical memory, and the part of it that is free (bytes; 0 when unknown).
    static uint64 GetPhysicalMemory() noexcept;
    static uint64 GetFreePhysicalMemory() noexcept;
    // This process's resident and virtual sizes (bytes; 0 when unknown).
    static uint64 GetResidentSize() noexcept;
    static uint64 GetVirtualSize() noexcept;
    // The mapping of a /proc/self/maps-like file that holds address: its start and size, mapped true. In a gap
    // before a mapping: the distance to it, mapped false. False when address lies after every mapping or the
    // file cannot be read.
    static bool QueryRegion(const char* mapsPath, uintptr_t address, uintptr_t& start, uint64& size, bool& mapped);

    // ---- Executables and links
    // Whether path names a regular file this process may execute by its mode bits: the owner's bit when the
    // effective user owns it, else the group's bit when its group is the effective group, else the others' bit.
    static bool IsExecutableFile(const char* path) noexcept;
    // The full path of an executable: a name with '/' through realpath, else the first match in the folders of
    // searchPath (':' separated; empty entries skipped); empty when none.
    static std::string FindExecutable(const std::string& name, const char* searchPath);

    // The double-click time in ticks from what "gsettings get" prints for it ("uint32 400": milliseconds);
    // kDefaultDoubleClickTicks when it does not parse or is not above 0.
    static constexpr uint32 kDefaultDoubleClickTicks = 30;
    static uint32 DoubleClickTicksFromSetting(const std::string& printed) noexcept;
    // Runs gsettings (an absolute path) for the GNOME double-click setting, for at most kSettingWaitMs;
    // kDefaultDoubleClickTicks when it fails. Raises nothing.
    static constexpr int32 kSettingWaitMs = 2000;
    static uint32 ReadDoubleClickTicks(const std::string& gsettings);
    // symlink; 0 or errno.
    static int32 CreateSymbolicLink(const char* target, const char* link) noexcept;
};

} // namespace vela
