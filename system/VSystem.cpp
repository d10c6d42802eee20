#include "system/VSystem.h"

#include "core/VString.h"
#include "core/platform/XPosixRuntime.h"
#include "system/platform/XPosixSystem.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace vela {

namespace {

// The cached offsets (standard in the high half, with daylight saving in the low half), the instant from which
// they may be stale, and whether GetGMTOffset may use them. Offsets are stored before the instant, which is
// stored before the flag, so a reader that sees the flag sees offsets at least as new.
std::atomic<uint64> sGMTOffsets{0};
std::atomic<int64> sGMTOffsetsUntil{0};
std::atomic<bool> sGMTOffsetValid{false};
std::atomic<int16> sCenturyPivotYear{0};

void ComputeGMTOffsets(int32& standard, int32& withDaylight) noexcept {
    int64 now = XPosixSystem::GetRealTime(nullptr);
    int64 until = 0;
    XPosixSystem::GetZoneOffsets(now, standard, withDaylight, until);
    sGMTOffsets.store(uint64(uint32(standard)) << 32 | uint32(withDaylight), std::memory_order_release);
    sGMTOffsetsUntil.store(until, std::memory_order_release);
}

void PartsToFields(const int16* parts, std::tm& fields) noexcept {
    fields = std::tm{};
    fields.tm_year = parts[0] - 1900;
    fields.tm_mon = parts[1] - 1;
    fields.tm_mday = parts[2];
    fields.tm_hour = parts[3];
    fields.tm_min = parts[4];
    fields.tm_sec = parts[5];
}

void FieldsToParts(const std::tm& fields, int16* parts) noexcept {
    parts[0] = int16(fields.tm_year + 1900);
    parts[1] = int16(fields.tm_mon + 1);
    parts[2] = int16(fields.tm_mday);
    parts[3] = int16(fields.tm_hour);
    parts[4] = int16(fields.tm_min);
    parts[5] = int16(fields.tm_sec);
}

void CurrentParts(int16* parts, bool utc) noexcept {
    int32 nanoseconds = 0;
    int64 now = XPosixSystem::GetRealTime(&nanoseconds);
    std::tm fields{};
    XPosixSystem::SplitInstant(now, utc, fields);
    FieldsToParts(fields, parts);
    parts[6] = int16(nanoseconds / 1000000);
}

// Parts 0-5 read in one zone and written in the other; unchanged when there is no date or no conversion.
void ConvertParts(int16* parts, bool toLocal) noexcept {
    if (parts[0] == 0 && (parts[1] == 0 || parts[3] == 0)) return;
    std::tm fields{};
    PartsToFields(parts, fields);
    int64 instant = 0;
    if (!XPosixSystem::JoinInstant(fields, toLocal, instant)) return;
    if (!XPosixSystem::SplitInstant(instant, !toLocal, fields)) return;
    FieldsToParts(fields, parts);
}

} // namespace

uint32 VSystem::GetCurrentTime() noexcept {
    return XPosixRuntime::GetMilliseconds();
}

uint64 VSystem::GetCurrentTicks() noexcept {
    return XPosixRuntime::GetTicks();
}

uint32 VSystem::GetCurrentDeltaTicks(uint32 then) noexcept {
    uint32 now = uint32(GetCurrentTicks());
    return now >= then ? now - then : then - now;
}

uint64 VSystem::GetProfilingFrequency() noexcept {
    return 1000000000u;
}

int64 VSystem::GetProfilingCounter(int64& counter) noexcept {
    counter = int64(XPosixRuntime::GetMonotonicNanoseconds());
    return counter;
}

uint64 VSystem::GetMicrosecFromProfilingCounter() noexcept {
    return XPosixRuntime::GetMonotonicNanoseconds() / 1000u;
}

int64 VSystem::GetUptime() noexcept {
    return XPosixSystem::GetSecondsSinceBoot();
}

void VSystem::GetSystemUTCTime(int16* parts) noexcept {
    CurrentParts(parts, true);
}

void VSystem::GetSystemLocalTime(int16* parts) noexcept {
    CurrentParts(parts, false);
}

void VSystem::UTCToLocalTime(int16* parts) noexcept {
    ConvertParts(parts, true);
}

void VSystem::LocalToUTCTime(int16* parts) noexcept {
    ConvertParts(parts, false);
}

int32 VSystem::GetGMTOffset(bool withDaylight) noexcept {
    int32 standard = 0;
    int32 daylight = 0;
    // There is no run loop to wake us at a transition: the cache knows when its offsets stop holding.
    if (sGMTOffsetValid.load(std::memory_order_acquire) &&
        XPosixSystem::GetRealTime(nullptr) < sGMTOffsetsUntil.load(std::memory_order_acquire)) {
        uint64 packed = sGMTOffsets.load(std::memory_order_acquire);
        standard = int32(uint32(packed >> 32));
        daylight = int32(uint32(packed));
    } else {
        ComputeGMTOffsets(standard, daylight);
        sGMTOffsetValid.store(true, std::memory_order_release);
    }
    return withDaylight ? daylight : standard;
}

void VSystem::UpdateGMTOffset() noexcept {
    int32 standard = 0;
    int32 daylight = 0;
    ComputeGMTOffsets(standard, daylight);
}

void VSystem::SystemDateTimeChanged() noexcept {
    XPosixSystem::ResetTimeZone();
    UpdateGMTOffset();
}

void VSystem::SetCenturyPivotYear(int16 year) noexcept {
    sCenturyPivotYear.store(year, std::memory_order_relaxed);
}

int16 VSystem::GetCenturyPivotYear() noexcept {
    return sCenturyPivotYear.load(std::memory_order_relaxed);
}

int32 VSystem::GetNumberOfLogicalProcessors() noexcept {
    return XPosixRuntime::GetLogicalProcessorCount();
}

size_t VSystem::GetVMPageSize() noexcept {
    return XPosixRuntime::GetPageSize();
}

size_t VSystem::RoundUpVMPageSize(size_t size) noexcept {
    return XPosixRuntime::RoundUpToPages(size);
}

void* VSystem::VirtualAlloc(size_t size, const void* address) noexcept {
    return XPosixRuntime::MapPages(size, address);
}

void* VSystem::VirtualAllocPhysicalMemory(size_t size, const void* address, bool* physical) noexcept {
    void* pages = VirtualAlloc(size, address);
    if (physical != nullptr) *physical = pages != nullptr;
    if (pages == nullptr) pages = VirtualAlloc(size, address);
    return pages;
}

int32 VSystem::VirtualFree(void* address, size_t size, bool) noexcept {
    return XPosixRuntime::UnmapPages(address, size);
}

void VSystem::Delay(int32 ms) noexcept {
    if (ms <= 0) return;
    timespec remaining{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void VSystem::DemangleSymbol(const char* symbol, VString& out) {
    XPosixRuntime::DemangleSymbol(symbol, out);
}

} // namespace vela
