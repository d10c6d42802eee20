#pragma once

#include "core/VTypes.h"

namespace vela {

class VString;

// Static facade over the operating system: clocks, time zones, processors and virtual memory.
class VSystem {
public:
    VSystem() = delete;

    // Milliseconds since system start-up; wraps at 2^32, so callers compare with unsigned differences.
    static uint32 GetCurrentTime() noexcept;
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

    // Sleeps ms milliseconds, resuming after interruptions.
    static void Delay(int32 ms) noexcept;

    // The demangled name of a C++ symbol, or the symbol itself when it cannot be demangled.
    static void DemangleSymbol(const char* symbol, VString& out);
};

} // namespace vela
