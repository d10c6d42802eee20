#include "system/VSystem.h"

#include "core/StStringConverter.h"
#include "core/VString.h"
#include "core/platform/XPosixRuntime.h"
#include "files/VFilePath.h"
#include "system/platform/XPosixSystem.h"
#include "values/TimeParts.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/random.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

uint64 VSystem::GetCurrentTimeMs64() noexcept {
    return XPosixRuntime::GetMonotonicNanoseconds() / 1000000u;
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

namespace {

VString FromUTF8(const std::string& text) {
    VString out;
    out.FromBlock(text.data(), text.size(), VTC_UTF_8);
    return out;
}

// out takes text unless it is empty.
void SetUnlessEmpty(VString& out, const std::string& text) {
    if (!text.empty()) out = FromUTF8(text);
}

// Blanks at both ends removed, then every double blank made one until none is left.
void CompactBlanks(VString& text) {
    text.TrimUniChar(' ');
    const VString doubled("  ");
    const VString single(" ");
    while (text.Find(doubled) > 0)
        text.Exchange(doubled, single);
}

struct ProcessorLoad {
    std::mutex lock;
    bool hasPrevious = false;
    std::vector<XPosixSystem::ProcessorTicks> previous;
};

ProcessorLoad& SharedProcessorLoad() {
    static ProcessorLoad sLoad;
    return sLoad;
}

struct ApplicationLoad {
    std::mutex lock;
    bool hasPrevious = false;
    uint64 cpuNs = 0;
    uint64 runningNs = 0;
};

ApplicationLoad& SharedApplicationLoad() {
    static ApplicationLoad sLoad;
    return sLoad;
}

} // namespace

bool VSystem::Init() {
    Random(false);
    return true;
}

bool VSystem::IsSystemVersionOrAbove(SystemVersion version) noexcept {
    // major and minor of each value, from 11 (10.9) to 22 (15.0).
    static constexpr int32 kVersions[][2] = {{10, 9},  {10, 10}, {10, 11}, {10, 12}, {10, 13}, {10, 14},
                                             {10, 15}, {11, 0},  {12, 0},  {13, 0},  {14, 0},  {15, 0}};
    if (version < eSystemVersion_10_9 || version > eSystemVersion_15) return true;
    const int32* pair = kVersions[version - eSystemVersion_10_9];
    return XPosixSystem::IsVersionOrAbove(pair[0], pair[1]);
}

void VSystem::GetOSVersionString(VString& out) {
    static const std::string sText = XPosixSystem::GetOSVersionText(XPosixSystem::GetOSReleasePath());
    out = FromUTF8(sText);
}

void VSystem::GetFullOSName(VString& out) {
    out = FromUTF8(XPosixSystem::GetFullOSName(XPosixSystem::GetOSReleasePath()));
}

void VSystem::GetSystemBuildNumber(VString& out) {
    SetUnlessEmpty(out, XPosixSystem::GetKernelRelease());
}

void VSystem::GetComputerManufacturer(VString& out) {
    SetUnlessEmpty(out, XPosixSystem::GetMachineModel());
}

void VSystem::GetHostName(VString& out) {
    SetUnlessEmpty(out, XPosixSystem::GetHostName());
}

void VSystem::GetLoginUserName(VString& out) {
    out = FromUTF8(XPosixSystem::GetFullUserName());
}

void VSystem::GetCurrentUserName(VString& out) {
    out = FromUTF8(XPosixSystem::GetUserName());
}

void VSystem::GetProcessorTypeString(VString& out, bool compact) {
    static const std::string sBrand = [] {
        std::string brand = XPosixSystem::ReadProcessorBrand("/proc/cpuinfo");
        return brand.empty() ? std::string("-") : brand;
    }();
    out = FromUTF8(sBrand);
    if (compact && out.GetLength() >= 2) CompactBlanks(out);
}

int32 VSystem::GetNumberOfPhysicalProcessors() {
    static const int32 sCount = std::max(XPosixSystem::CountCores("/sys/devices/system/cpu", false), 1);
    return sCount;
}

int32 VSystem::GetEnabledCoresNumber() {
    return std::max(XPosixSystem::CountCores("/sys/devices/system/cpu", true), 1);
}

bool VSystem::GetProcessorsPercentageUse(double& use) {
    use = 0;
    std::vector<XPosixSystem::ProcessorTicks> ticks;
    if (!XPosixSystem::ReadProcessorTicks("/proc/stat", ticks)) return false;
    ProcessorLoad& load = SharedProcessorLoad();
    std::lock_guard<std::mutex> guard(load.lock);
    bool hadPrevious = std::exchange(load.hasPrevious, true);
    // The counters already run over every processor: their ratio is the share of all of them.
    if (hadPrevious) use = XPosixSystem::ComputeProcessorUse(load.previous, ticks);
    load.previous = std::move(ticks);
    return hadPrevious;
}

double VSystem::GetApplicationProcessorsPercentageUse() {
    uint64 cpuNs = 0;
    uint64 runningNs = 0;
    if (!XPosixSystem::GetProcessTimes(cpuNs, runningNs)) return 0;
    ApplicationLoad& load = SharedApplicationLoad();
    std::lock_guard<std::mutex> guard(load.lock);
    uint64 usedNs = cpuNs;
    uint64 spanNs = runningNs;
    if (load.hasPrevious) {
        usedNs = cpuNs > load.cpuNs ? cpuNs - load.cpuNs : 0;
        spanNs = runningNs > load.runningNs ? runningNs - load.runningNs : 0;
    }
    load.hasPrevious = true;
    load.cpuNs = cpuNs;
    load.runningNs = runningNs;
    if (spanNs == 0) return 0;
    double use = double(usedNs) / double(spanNs) / double(GetNumberOfLogicalProcessors());
    return use > 1 ? 1 : use;
}

uint64 VSystem::GetPhysicalMemSize() noexcept {
    return XPosixSystem::GetPhysicalMemory();
}

uint64 VSystem::GetPhysicalFreeMemSize() noexcept {
    return XPosixSystem::GetFreePhysicalMemory();
}

uint64 VSystem::GetApplicationPhysicalMemSize() noexcept {
    return XPosixSystem::GetResidentSize();
}

uint64 VSystem::VirtualMemoryUsedSize() noexcept {
    return XPosixSystem::GetVirtualSize();
}

bool VSystem::VirtualQuery(const void* address, size_t* size, uint32* state, const void** base) {
    uintptr_t start = 0;
    uint64 length = 0;
    bool mapped = false;
    bool found =
        XPosixSystem::QueryRegion("/proc/self/maps", reinterpret_cast<uintptr_t>(address), start, length, mapped);
    if (size != nullptr) *size = found ? size_t(length) : 0;
    if (state != nullptr) *state = found && !mapped ? 1 : 0;
    if (base != nullptr) *base = found ? reinterpret_cast<const void*>(start) : nullptr;
    return found && length != 0;
}

int32 VSystem::Random(bool random) noexcept {
    if (random) return int32(::random());
    uint32 value = 0;
    if (getrandom(&value, sizeof value, 0) != ssize_t(sizeof value)) value = uint32(::random());
    return int32(value & 0x7FFFFFFF);
}

void VSystem::Beep() noexcept {
    if (isatty(STDERR_FILENO) == 1) {
        ssize_t written = write(STDERR_FILENO, "\a", 1);
        (void)written;
    }
}

uint32 VSystem::GetDoubleClicTicks() {
    return XPosixSystem::ReadDoubleClickTicks(XPosixSystem::FindExecutable("gsettings", std::getenv("PATH")));
}

bool VSystem::SearchExecutablePath(const VString& name, VFilePath& path) {
    std::string found = XPosixSystem::FindExecutable(to_string(name), std::getenv("PATH"));
    if (found.empty()) {
        path.Clear();
        return false;
    }
    return path.FromFullPath(FromUTF8(found), FPS_POSIX);
}

VError VSystem::CreateSymbolicLink(const char* target, const char* link) {
    int32 code = XPosixSystem::CreateSymbolicLink(target, link);
    if (code == 0) return VE_OK;
    VError error = MakeVError(kComponentPosix, code);
    _ThrowError(error);
    return error;
}

} // namespace vela
