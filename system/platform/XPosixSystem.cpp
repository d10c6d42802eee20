#include "system/platform/XPosixSystem.h"

#include "core/VErrorContext.h"
#include "system/VProcessLauncher.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>

namespace vela {

int64 XPosixSystem::GetRealTime(int32* nanoseconds) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (nanoseconds != nullptr) *nanoseconds = int32(now.tv_nsec);
    return int64(now.tv_sec);
}

int64 XPosixSystem::GetSecondsSinceBoot() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -int64(errno != 0 ? errno : 1);
    return int64(now.tv_sec);
}

bool XPosixSystem::SplitInstant(int64 seconds, bool utc, std::tm& fields) noexcept {
    time_t t = time_t(seconds);
    return (utc ? gmtime_r(&t, &fields) : localtime_r(&t, &fields)) != nullptr;
}

bool XPosixSystem::JoinInstant(const std::tm& fields, bool utc, int64& seconds) noexcept {
    std::tm copy = fields;
    copy.tm_isdst = -1;
    errno = 0;
    time_t t = utc ? timegm(&copy) : mktime(&copy);
    // -1 is also the instant one second before 1970: only errno tells a failure.
    if (t == time_t(-1) && errno != 0) return false;
    seconds = int64(t);
    return true;
}

namespace {

// The offset and daylight flag in force at an instant; false when the system cannot split it.
bool OffsetAt(int64 instant, long& offset, int& daylight) noexcept {
    std::tm fields{};
    if (!XPosixSystem::SplitInstant(instant, false, fields)) return false;
    offset = fields.tm_gmtoff;
    daylight = fields.tm_isdst;
    return true;
}

} // namespace

void XPosixSystem::GetZoneOffsets(int64 instant, int32& standard, int32& withDaylight, int64& nextChange) noexcept {
    constexpr int64 kDay = 86400;
    constexpr int64 kHorizon = 366 * kDay;
    long offset = 0;
    int daylight = 0;
    OffsetAt(instant, offset, daylight);
    withDaylight = int32(offset);
    standard = daylight > 0 ? int32(offset - 3600) : int32(offset);
    // Probes a day at a time for the first day whose offset or daylight flag differs, then narrows it down to
    // the second: zones change at most a few times a year, and never twice within a day.
    nextChange = instant + kHorizon;
    int64 low = instant;
    for (int64 probe = instant + kDay; probe <= instant + kHorizon; probe += kDay) {
        long probeOffset = 0;
        int probeDaylight = 0;
        if (!OffsetAt(probe, probeOffset, probeDaylight)) return;
        if (probeOffset == offset && probeDaylight == daylight) {
            low = probe;
            continue;
        }
        int64 high = probe;
        while (high - low > 1) {
            int64 middle = low + (high - low) / 2;
            long middleOffset = 0;
            int middleDaylight = 0;
            OffsetAt(middle, middleOffset, middleDaylight);
            if (middleOffset == offset && middleDaylight == daylight)
                low = middle;
            else
                high = middle;
        }
        nextChange = high;
        return;
    }
}

void XPosixSystem::ResetTimeZone() noexcept {
    tzset();
}

// ---- System name and version

namespace {

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The value part of an os-release line: quoted values lose their quotes (and, in double quotes, the backslash
// before an escaped character); an unclosed quote keeps what follows it.
std::string UnquotedValue(const std::string& raw) {
    std::string value = Trimmed(raw);
    if (value.empty() || (value[0] != '"' && value[0] != '\'')) return value;
    const char quote = value[0];
    std::string out;
    for (size_t i = 1; i < value.size(); ++i) {
        char c = value[i];
        if (c == quote) break;
        if (quote == '"' && c == '\\' && i + 1 < value.size()) c = value[++i];
        out += c;
    }
    return out;
}

struct KernelName {
    std::string sysname;
    std::string release;
};

KernelName ReadKernelName() {
    utsname names{};
    if (uname(&names) != 0) return {};
    return {names.sysname, names.release};
}

std::string Field(const std::map<std::string, std::string>& fields, const char* key) {
    auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

std::string Joined(const std::string& first, const std::string& second) {
    if (first.empty()) return second;
    if (second.empty()) return first;
    return first + " " + second;
}

std::atomic<XPosixSystem::VersionCheck> sVersionCheck{nullptr};

} // namespace

const char* XPosixSystem::GetOSReleasePath() noexcept {
    return access("/etc/os-release", R_OK) == 0 ? "/etc/os-release" : "/usr/lib/os-release";
}

bool XPosixSystem::ReadOSRelease(const char* path, std::map<std::string, std::string>& fields) {
    std::ifstream file(path);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line)) {
        std::string text = Trimmed(line);
        if (text.empty() || text[0] == '#') continue;
        size_t equal = text.find('=');
        if (equal == std::string::npos || equal == 0) continue;
        fields[Trimmed(text.substr(0, equal))] = UnquotedValue(text.substr(equal + 1));
    }
    return true;
}

std::string XPosixSystem::GetOSVersionText(const char* osReleasePath) {
    std::map<std::string, std::string> fields;
    ReadOSRelease(osReleasePath, fields);
    std::string pretty = Field(fields, "PRETTY_NAME");
    if (!pretty.empty()) return pretty;
    std::string named = Joined(Field(fields, "NAME"), Field(fields, "VERSION"));
    if (!named.empty()) return named;
    KernelName kernel = ReadKernelName();
    return Joined(kernel.sysname, kernel.release);
}

std::string XPosixSystem::GetFullOSName(const char* osReleasePath) {
    std::map<std::string, std::string> fields;
    ReadOSRelease(osReleasePath, fields);
    KernelName kernel = ReadKernelName();
    std::string name = Field(fields, "NAME");
    std::string version = Field(fields, "VERSION_ID");
    std::string text = name.empty() ? Joined(kernel.sysname, kernel.release) : Joined(name, version);
    if (!kernel.release.empty()) text += " (" + kernel.release + ")";
    return text;
}

std::string XPosixSystem::GetKernelRelease() {
    return ReadKernelName().release;
}

bool XPosixSystem::IsVersionOrAbove(int32 major, int32 minor) noexcept {
    VersionCheck check = sVersionCheck.load(std::memory_order_acquire);
    return check == nullptr || check(major, minor);
}

XPosixSystem::VersionCheck XPosixSystem::SetVersionCheck(VersionCheck check) noexcept {
    return sVersionCheck.exchange(check, std::memory_order_acq_rel);
}

// ---- Machine and users

namespace {

std::string FirstLine(const char* path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) return {};
    return Trimmed(line);
}

// The effective user's account entry: its name and comment; false when it cannot be read.
bool ReadAccount(std::string& name, std::string& comment) {
    long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    int status = 0;
    while ((status = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (size_t(1) << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0 || found == nullptr) return false;
    name = entry.pw_name != nullptr ? entry.pw_name : "";
    comment = entry.pw_gecos != nullptr ? entry.pw_gecos : "";
    return true;
}

} // namespace

std::string XPosixSystem::GetMachineModel() {
    return FirstLine("/sys/class/dmi/id/product_name");
}

std::string XPosixSystem::GetHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string XPosixSystem::GetUserName() {
    std::string name;
    std::string comment;
    ReadAccount(name, comment);
    return name;
}

std::string XPosixSystem::GetFullUserName() {
    std::string name;
    std::string comment;
    if (!ReadAccount(name, comment)) return {};
    std::string full = Trimmed(comment.substr(0, comment.find(',')));
    return full.empty() ? name : full;
}

std::string XPosixSystem::ReadProcessorBrand(const char* cpuinfoPath) {
    std::ifstream file(cpuinfoPath);
    std::string line;
    while (file && std::getline(file, line)) {
        size_t colon = line.find(':');
        if (colon == std::string::npos || Trimmed(line.substr(0, colon)) != "model name") continue;
        return Trimmed(line.substr(colon + 1));
    }
    return {};
}

// ---- Processors

namespace {

// The processor numbers of a list such as "0-3,8,10-11"; malformed parts are skipped.
std::set<int32> ParseProcessorList(const std::string& list) {
    std::set<int32> numbers;
    std::stringstream parts(list);
    std::string part;
    while (std::getline(parts, part, ',')) {
        int first = 0;
        int last = 0;
        int read = std::sscanf(part.c_str(), "%d-%d", &first, &last);
        if (read < 1 || first < 0) continue;
        if (read == 1) last = first;
        // A bound on the range keeps a damaged list from filling memory.
        for (int n = first; n <= last && n - first < 65536; ++n)
            numbers.insert(n);
    }
    return numbers;
}

} // namespace

int32 XPosixSystem::CountCores(const char* cpuRoot, bool onlineOnly) {
    const std::string root = cpuRoot;
    std::set<int32> processors = ParseProcessorList(FirstLine((root + (onlineOnly ? "/online" : "/possible")).c_str()));
    std::set<std::pair<std::string, std::string>> cores;
    for (int32 n : processors) {
        const std::string topology = root + "/cpu" + std::to_string(n) + "/topology/";
        std::string package = FirstLine((topology + "physical_package_id").c_str());
        std::string core = FirstLine((topology + "core_id").c_str());
        // A processor that is not present has no topology.
        if (core.empty()) continue;
        cores.emplace(package, core);
    }
    return int32(cores.size());
}

bool XPosixSystem::ReadProcessorTicks(const char* statPath, std::vector<ProcessorTicks>& ticks) {
    ticks.clear();
    std::ifstream file(statPath);
    std::string line;
    while (file && std::getline(file, line)) {
        // "cpu" alone is the sum over all processors; each "cpuN" is one of them.
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || line[3] < '0' || line[3] > '9') continue;
        std::istringstream fields(line.substr(3));
        int32 number = 0;
        ProcessorTicks one;
        if (fields >> number >> one.fUser >> one.fNice >> one.fSystem >> one.fIdle) ticks.push_back(one);
    }
    return !ticks.empty();
}

double XPosixSystem::ComputeProcessorUse(const std::vector<ProcessorTicks>& before,
                                         const std::vector<ProcessorTicks>& after) noexcept {
    // Counters only grow; one that went back (a processor replaced) counts as no change.
    auto delta = [](uint64 then, uint64 now) { return now > then ? now - then : 0; };
    uint64 busy = 0;
    uint64 idle = 0;
    const size_t count = std::min(before.size(), after.size());
    for (size_t i = 0; i < count; ++i) {
        busy += delta(before[i].fUser, after[i].fUser) + delta(before[i].fSystem, after[i].fSystem) +
                delta(before[i].fNice, after[i].fNice);
        idle += delta(before[i].fIdle, after[i].fIdle);
    }
    uint64 total = busy + idle;
    return double(busy) / double(total == 0 ? 1 : total);
}

bool XPosixSystem::GetProcessTimes(uint64& cpuNs, uint64& runningNs) noexcept {
    timespec cpu{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu) != 0) return false;
    cpuNs = uint64(cpu.tv_sec) * 1000000000u + uint64(cpu.tv_nsec);
    // The start, in clock ticks since boot, is field 22 of /proc/self/stat; the name (field 2) may hold blanks
    // and parentheses, so the fields are counted after its last ')'.
    std::ifstream file("/proc/self/stat");
    std::string stat;
    if (!std::getline(file, stat)) return false;
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    for (int n = 3; n < 22 && (fields >> field); ++n) {
    }
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks)) return false;
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    timespec boot{};
    if (ticksPerSecond <= 0 || clock_gettime(CLOCK_BOOTTIME, &boot) != 0) return false;
    uint64 nowNs = uint64(boot.tv_sec) * 1000000000u + uint64(boot.tv_nsec);
    uint64 startNs = uint64(startTicks) * (1000000000u / uint64(ticksPerSecond));
    runningNs = nowNs > startNs ? nowNs - startNs : 0;
    return true;
}

// ---- Memory

namespace {

uint64 Pages(int name) noexcept {
    long pages = sysconf(name);
    long size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64(pages) * uint64(size) : 0;
}

// The first two fields of /proc/self/statm (virtual and resident pages), as bytes.
bool ReadStatm(uint64& virtualSize, uint64& residentSize) noexcept {
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) return false;
    unsigned long long pages = 0;
    unsigned long long resident = 0;
    int read = std::fscanf(file, "%llu %llu", &pages, &resident);
    std::fclose(file);
    long size = sysconf(_SC_PAGESIZE);
    if (read != 2 || size <= 0) return false;
    virtualSize = uint64(pages) * uint64(size);
    residentSize = uint64(resident) * uint64(size);
    return true;
}

} // namespace

uint64 XPosixSystem::GetPhysicalMemory() noexcept {
    return Pages(_SC_PHYS_PAGES);
}

uint64 XPosixSystem::GetFreePhysicalMemory() noexcept {
    return Pages(_SC_AVPHYS_PAGES);
}

uint64 XPosixSystem::GetResidentSize() noexcept {
    uint64 virtualSize = 0;
    uint64 residentSize = 0;
    return ReadStatm(virtualSize, residentSize) ? residentSize : 0;
}

uint64 XPosixSystem::GetVirtualSize() noexcept {
    uint64 virtualSize = 0;
    uint64 residentSize = 0;
    return ReadStatm(virtualSize, residentSize) ? virtualSize : 0;
}

bool XPosixSystem::QueryRegion(const char* mapsPath, uintptr_t address, uintptr_t& start, uint64& size, bool& mapped) {
    std::ifstream file(mapsPath);
    std::string line;
    while (file && std::getline(file, line)) {
        unsigned long long low = 0;
        unsigned long long high = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &low, &high) != 2 || high <= low) continue;
        if (address >= high) continue;
        // Mappings are listed in address order: the first one ending after address holds it or follows it.
        mapped = address >= low;
        start = mapped ? uintptr_t(low) : address;
        size = mapped ? uint64(high - low) : uint64(low - address);
        return true;
    }
    return false;
}

// ---- Executables and links

bool XPosixSystem::IsExecutableFile(const char* path) noexcept {
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_uid == geteuid()) return (info.st_mode & S_IXUSR) != 0;
    if (info.st_gid == getegid()) return (info.st_mode & S_IXGRP) != 0;
    return (info.st_mode & S_IXOTH) != 0;
}

std::string XPosixSystem::FindExecutable(const std::string& name, const char* searchPath) {
    constexpr size_t kMaxPath = 1024;
    if (name.empty() || name.find('\0') != std::string::npos) return {};
    if (name.find('/') != std::string::npos) {
        char resolved[PATH_MAX] = {};
        if (realpath(name.c_str(), resolved) == nullptr || !IsExecutableFile(resolved)) return {};
        return resolved;
    }
    if (searchPath == nullptr) return {};
    std::stringstream entries(searchPath);
    std::string folder;
    while (std::getline(entries, folder, ':')) {
        // An empty or relative entry is read from the working folder, which a search on behalf of the library
        // never wants: whoever controls that folder would choose what runs.
        if (folder.empty() || folder[0] != '/') continue;
        std::string candidate = folder;
        if (candidate.back() != '/') candidate += '/';
        candidate += name;
        if (candidate.size() > kMaxPath) continue;
        if (IsExecutableFile(candidate.c_str())) return candidate;
    }
    return {};
}

int32 XPosixSystem::CreateSymbolicLink(const char* target, const char* link) noexcept {
    return symlink(target, link) == 0 ? 0 : int32(errno != 0 ? errno : EIO);
}

uint32 XPosixSystem::DoubleClickTicksFromSetting(const std::string& printed) noexcept {
    // GVariant text: the number, after a type word for types other than int32 ("uint32 400").
    const char* text = printed.c_str();
    const char* space = std::strchr(text, ' ');
    if (space != nullptr && std::isalpha(static_cast<unsigned char>(text[0])) != 0) text = space + 1;
    char* end = nullptr;
    errno = 0;
    const long long ms = std::strtoll(text, &end, 10);
    if (end == text || errno != 0 || ms <= 0 || (*end != '\0' && *end != '\n')) return kDefaultDoubleClickTicks;
    return uint32(std::min<long long>(ms, 0xFFFFFFFFLL) * 60 / 1000);
}

uint32 XPosixSystem::ReadDoubleClickTicks(const std::string& gsettings) {
    if (gsettings.empty() || gsettings.front() != '/') return kDefaultDoubleClickTicks;
    // A setting that cannot be read is no error of the caller's.
    StErrorContextInstaller quiet(false, true);
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString(gsettings.data(), gsettings.size(), VTC_UTF_8));
    for (const char* argument : {"get", "org.gnome.desktop.peripherals.mouse", "double-click"})
        launcher.AddArgument(VString(argument));
    launcher.SetRedirectStandardInput(false);
    launcher.SetWaitClosingChildProcess(kSettingWaitMs);
    if (launcher.Start() != 0) return kDefaultDoubleClickTicks;
    // The answer is one short line: more is not the setting.
    std::string printed;
    launcher.ReadFromChildAndShutdown(
        [&printed](const void* data, size_t size) {
            if (printed.size() < 64) printed.append(static_cast<const char*>(data), std::min<size_t>(size, 64));
        },
        {});
    if (quiet.GetLastError() != VE_OK || launcher.GetExitStatus() != 0) return kDefaultDoubleClickTicks;
    return DoubleClickTicksFromSetting(printed);
}

} // namespace vela
