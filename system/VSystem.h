#pragma once

#include "core/VError.h"
#include "core/VTypes.h"

#include <vector>

namespace vela {

class VFilePath;
class VJSONArray;
class VString;

// Desktop system versions that start-up may require (IsSystemVersionOrAbove): 11 is 10.9, ... 17 is 10.15, then
// 18 is 11.0, ... 22 is 15.0.
enum SystemVersion : int32 {
    eSystemVersion_10_9 = 11,
    eSystemVersion_10_10 = 12,
    eSystemVersion_10_11 = 13,
    eSystemVersion_10_12 = 14,
    eSystemVersion_10_13 = 15,
    eSystemVersion_10_14 = 16,
    eSystemVersion_10_15 = 17,
    eSystemVersion_11 = 18,
    eSystemVersion_12 = 19,
    eSystemVersion_13 = 20,
    eSystemVersion_14 = 21,
    eSystemVersion_15 = 22,
};

// Answers of DisplayNotification.
enum ENotificationResponse : uint32 {
    eNotificationResponse_None = 0,
    eNotificationResponse_OK = 1,
    eNotificationResponse_Cancel = 2,
    eNotificationResponse_Yes = 3,
    eNotificationResponse_No = 4,
    eNotificationResponse_Abort = 5,
    eNotificationResponse_Retry = 6,
    eNotificationResponse_Ignore = 7,
    // The alert was withdrawn rather than answered.
    eNotificationResponse_Cancelled = 8,
};

// Flags of DisplayNotification: the button set in the low four bits, which button is the default, the level.
enum ENotificationFlags : uint32 {
    // Sets 0, 3 and 6-15: the system's single OK button.
    eNotificationButtons_Mask = 15,
    eNotificationButtons_OKCancel = 1,
    eNotificationButtons_YesNo = 2,
    eNotificationButtons_YesNoCancel = 4,
    eNotificationButtons_RetryIgnoreAbort = 5,
    // OK or Yes is the default button (sets 1, 2 and 4); for set 4, with eNotificationDefault_Second too, Cancel.
    eNotificationDefault_First = 0x10,
    // No is the default button of set 4.
    eNotificationDefault_Second = 0x20,
    eNotificationLevel_Caution = 0x200,
};

// Static facade over the operating system: its version and names, clocks, time zones, processors, memory and
// executables.
class VSystem {
public:
    VSystem() = delete;

    // Seeds the random source once; true.
    static bool Init();

    // ---- Versions and names
    // Whether the system is at least that version; true for values outside 11-22, and on Linux for all (a test
    // may force another answer through XPosixSystem::SetVersionCheck).
    static bool IsSystemVersionOrAbove(SystemVersion version) noexcept;
    // The system's name and version as it presents them ("Debian GNU/Linux 12 (bookworm)"), read once.
    static void GetOSVersionString(VString& out);
    // Name, version and, in parentheses, the build (the kernel release).
    static void GetFullOSName(VString& out);
    // The kernel release; out unchanged when unknown.
    static void GetSystemBuildNumber(VString& out);
    // The machine's model name; out unchanged when unknown.
    static void GetComputerManufacturer(VString& out);
    // The host name; out unchanged when unknown.
    static void GetHostName(VString& out);
    // The effective user's full name (else the account name), and the account name.
    static void GetLoginUserName(VString& out);
    static void GetCurrentUserName(VString& out);
    // The processor's brand text, read once; "-" when unknown. compact trims blanks at both ends and reduces
    // every run of blanks to one.
    static void GetProcessorTypeString(VString& out, bool compact);

    // ---- User-interface timing (pixels, ticks of 1/60 s)
    static int32 GetDragOffset() noexcept { return 2; }
    static uint32 GetCaretTicks() noexcept { return 60; }
    static uint32 GetTipsTimeoutTicks() noexcept { return 600; }
    static uint32 GetSelectDelayTicks() noexcept { return 15; }
    // The desktop's double-click time: GNOME's setting (org.gnome.desktop.peripherals.mouse double-click, read
    // with the gsettings program found on PATH), in ticks, truncated; 30 (half a second) where none is readable
    // or it is not above 0.
    static uint32 GetDoubleClicTicks();

    // Milliseconds since system start-up; wraps at 2^32, so callers compare with unsigned differences.
    static uint32 GetCurrentTime() noexcept;
    // Milliseconds since system start-up in 64 bits, which never wrap: for times kept across long runs.
    static uint64 GetCurrentTimeMs64() noexcept;
    // Ticks of 1/60 second since system start-up.
    static uint64 GetCurrentTicks() noexcept;
    // Absolute difference between the current ticks (taken as 32 bits) and then.
    static uint32 GetCurrentDeltaTicks(uint32 then) noexcept;
    // Counts per second of the profiling counter, and the counter itself (also stored in counter).
    static uint64 GetProfilingFrequency() noexcept;
    static int64 GetProfilingCounter(int64& counter) noexcept;
    static uint64 GetMicrosecFromProfilingCounter() noexcept;

    // Seconds since boot; negative when the clock cannot be read.
    static int64 GetUptime() noexcept;

    // Date arrays hold 7 parts: year, month (1-12), day, hour, minute, second, millisecond.
    // The current date in UTC, and in the system's default time zone.
    static void GetSystemUTCTime(int16* parts) noexcept;
    static void GetSystemLocalTime(int16* parts) noexcept;
    // Convert parts 0-5 in place between UTC and the default time zone (the zone's rule at that date; seconds
    // whole, the millisecond untouched). A year 0 with month 0 or hour 0 (no date) is left unchanged, and so is a
    // date the system cannot convert.
    static void UTCToLocalTime(int16* parts) noexcept;
    static void LocalToUTCTime(int16* parts) noexcept;

    // The local offset from GMT in force now, in seconds east, with or without its daylight-saving part. Cached,
    // and computed again once the zone's next transition has passed; read from any task.
    static int32 GetGMTOffset(bool withDaylight) noexcept;
    // Computes both cached offsets again.
    static void UpdateGMTOffset() noexcept;
    // After a change of the system's time zone (or of TZ): reads the zone again and recomputes the offsets.
    static void SystemDateTimeChanged() noexcept;

    // The century pivot year, stored for callers that read two-digit years (0 until set).
    static void SetCenturyPivotYear(int16 year) noexcept;
    static int16 GetCenturyPivotYear() noexcept;

    // Logical processors, computed once; at least 1.
    static int32 GetNumberOfLogicalProcessors() noexcept;
    // Physical cores the system knows, computed once, and those enabled now (not cached); at least 1.
    static int32 GetNumberOfPhysicalProcessors();
    static int32 GetEnabledCoresNumber();
    // The busy fraction (0 to 1) of all processors since the previous call: false on the first call (use is
    // 0), and when the counters cannot be read. One caller at a time.
    static bool GetProcessorsPercentageUse(double& use);
    // This process's processor use since the previous call (since its start on the first), as a fraction of
    // all processors (0 to 1).
    static double GetApplicationProcessorsPercentageUse();

    // ---- Memory (bytes; 0 when unknown)
    static uint64 GetPhysicalMemSize() noexcept;
    static uint64 GetPhysicalFreeMemSize() noexcept;
    // This process's resident and virtual sizes.
    static uint64 GetApplicationPhysicalMemSize() noexcept;
    static uint64 VirtualMemoryUsedSize() noexcept;
    static bool AllowedToGetSystemInfo() noexcept { return true; }

    // Virtual-memory page size, read once.
    static size_t GetVMPageSize() noexcept;
    // size rounded up to a whole number of pages (0 stays 0).
    static size_t RoundUpVMPageSize(size_t size) noexcept;
    // Reserves and commits zero-filled pages for size rounded up to the page size, anywhere when address is
    // null, else exactly there; null on failure.
    static void* VirtualAlloc(size_t size, const void* address) noexcept;
    // The same; *physical is true when the first attempt succeeded, and one more attempt follows a failed one.
    static void* VirtualAllocPhysicalMemory(size_t size, const void* address, bool* physical) noexcept;
    // Gives back the pages of a region of VirtualAlloc; answers 0 or the system's errno.
    static int32 VirtualFree(void* address, size_t size, bool physical) noexcept;
    // The region at address: inside a mapping, its size, state 0 and its start; in a gap before one, the
    // distance to it, state 1 and address itself; otherwise 0, 0 and null. Out pointers may be null; answers
    // whether the size is not 0.
    static bool VirtualQuery(const void* address, size_t* size, uint32* state, const void** base);

    // ---- Network and disk inventory
    // Appends the input and output bytes per second of the non-loopback interfaces since the previous call and
    // answers true; false, nothing appended, on the first call, when the counters cannot be read, went down or
    // no time passed. One caller at a time.
    static bool GetInOutNetworkStats(std::vector<double>& rates);
    // Appends {"type", "name", "ipAddresses": [{"ip", "type": "ipv4" or "ipv6"}]} for each adapter that is up,
    // multicast, neither loopback nor point-to-point and has a usable address.
    static void GetNetworkAdaptersInformations(VJSONArray& adapters);
    // Appends {"mountPoint", "capacity", "available" (KiB), "filesystem", "name", "disk"} for each mounted
    // file system with blocks.
    static void GetDiskPartitionsInfos(VJSONArray& volumes);

    // ---- Processes and user alerts
    // Why WaitForProcess answered false.
    enum EWFP_Reason : int32 {
        eWFP_NotAChild = 1,
        eWFP_StillRunning = 2,
    };
    // Appends to pids the ids of every process of the system (the numeric entries of /proc, in the order the
    // system lists them). A process that ended but was not reaped yet (a zombie) still counts as present.
    static void GetProcessList(std::vector<int>& pids);
    // The short name of pid (at most 15 bytes); true when the process table could be read, name set only when
    // pid is in it.
    static bool GetProcessName(int pid, VString& name);
    // The executable's path of pid; false, path unchanged, when it cannot be read (no such process, a zombie,
    // another user's process without the right).
    static bool GetProcessPath(int pid, VString& path);
    // SIGKILL to pid; false for pid < 1 (0 and -1 would reach whole groups, ours among them) and when the signal
    // cannot be sent.
    static bool KillProcess(int pid);
    // Reaps the child pid: wait < 0 blocks until it ends, otherwise checks once. False when it was not reaped,
    // with the reason (when given): not a child of ours (or gone), or still running.
    static bool WaitForProcess(int pid, int wait, EWFP_Reason* reason);
    // Shows an alert (ENotificationFlags choose the buttons) through the current alert presenter
    // (system/VAlertPresenter.h). With response, waits for the answer (eNotificationResponse_None when none
    // came); without, returns at once and the alert stays until answered or withdrawn. False when it could not
    // be shown.
    static bool DisplayNotification(const VString& title, const VString& message, uint32 flags,
                                    ENotificationResponse* response);
    // Withdraws every alert still shown without waiting.
    static void CancelAllPendingUserNotifications();

    // ---- Utilities
    // random: the C library's random(); else 31 bits from the system's strong source.
    static int32 Random(bool random) noexcept;
    // Rings the terminal bell when standard error is a terminal.
    static void Beep() noexcept;

    // Sleeps ms milliseconds, resuming after interruptions.
    static void Delay(int32 ms) noexcept;

    // The demangled name of a C++ symbol, or the symbol itself when it cannot be demangled.
    static void DemangleSymbol(const char* symbol, VString& out);

    // The full path of an executable: a name with '/' resolved as it stands, else the first regular file of
    // that name in the folders of PATH that this process may execute by its mode bits. False, and path
    // cleared, when there is none (or no PATH).
    static bool SearchExecutablePath(const VString& name, VFilePath& path);
    // A symbolic link at link to target; 0, or the 'POSX' error of errno, raised.
    static VError CreateSymbolicLink(const char* target, const char* link);
};

} // namespace vela
