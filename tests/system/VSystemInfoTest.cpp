#include "system/VSystem.h"

#include "core/StStringConverter.h"
#include "core/VString.h"
#include "files/VFilePath.h"
#include "support/RecordingRaiser.h"
#include "system/platform/XPosixSystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

std::string ToUtf8(const VString& text) {
    return to_string(text);
}

// A fresh folder under the test temp folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "sysinfoXXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) fPath = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!fPath.empty()) std::filesystem::remove_all(fPath, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return fPath; }
    std::string Write(const std::string& name, const std::string& content, mode_t mode = 0644) const {
        std::string path = fPath + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }
    std::string MakeFolder(const std::string& name) const {
        std::string path = fPath + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }

private:
    std::string fPath;
};

// Sets an environment variable for the scope, restoring the previous value (or its absence).
class StEnvironment {
public:
    StEnvironment(const char* name, const char* value) : fName(name) {
        if (const char* old = std::getenv(name)) fOld = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~StEnvironment() {
        if (fOld)
            setenv(fName.c_str(), fOld->c_str(), 1);
        else
            unsetenv(fName.c_str());
    }
    StEnvironment(const StEnvironment&) = delete;
    StEnvironment& operator=(const StEnvironment&) = delete;

private:
    std::string fName;
    std::optional<std::string> fOld;
};

// ---- Versions

bool BelowThirteen(int32 major, int32) {
    return major < 13;
}

TEST(VSystemVersion, AnswersTrueOnLinuxAndTheSeamForcesAnotherAnswer) {
    for (int32 version : {0, 5, 10, 11, 14, 17, 18, 22, 23, 40})
        EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(SystemVersion(version))) << version;

    XPosixSystem::VersionCheck previous = XPosixSystem::SetVersionCheck(&BelowThirteen);
    struct Case {
        int32 version;
        bool answer;
    };
    // The check sees each value's major version; values outside the table never reach it.
    const Case cases[] = {{11, true},  {17, true},  {18, true}, {19, true},
                          {20, false}, {22, false}, {5, true},  {40, true}};
    for (const Case& c : cases)
        EXPECT_EQ(VSystem::IsSystemVersionOrAbove(SystemVersion(c.version)), c.answer) << c.version;
    EXPECT_EQ(XPosixSystem::SetVersionCheck(previous), &BelowThirteen);
    EXPECT_TRUE(VSystem::IsSystemVersionOrAbove(eSystemVersion_15));
}

TEST(XPosixSystemOSRelease, ReadsFieldsAsTheFileFormatQuotesThem) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::string path = folder.Write("os-release", "# a comment\n"
                                                  "\n"
                                                  "NAME=\"Debian GNU/Linux\"\n"
                                                  "VERSION_ID='12'\n"
                                                  "ID=debian\n"
                                                  "  VARIANT = spaced  \n"
                                                  "BUILD=\"say \\\"hi\\\" \\\\ \\$HOME\"\n"
                                                  "URL=\"https://x.example/?a=b\"\n"
                                                  "no equals sign here\n"
                                                  "=nokey\n"
                                                  "OPEN=\"unclosed value\n"
                                                  "EMPTY=\n");
    std::map<std::string, std::string> fields;
    ASSERT_TRUE(XPosixSystem::ReadOSRelease(path.c_str(), fields));
    const std::map<std::string, std::string> expected = {
        {"NAME", "Debian GNU/Linux"},
        {"VERSION_ID", "12"},
        {"ID", "debian"},
        {"VARIANT", "spaced"},
        {"BUILD", "say \"hi\" \\ $HOME"},
        {"URL", "https://x.example/?a=b"},
        {"OPEN", "unclosed value"},
        {"EMPTY", ""},
    };
    EXPECT_EQ(fields, expected);

    fields.clear();
    EXPECT_FALSE(XPosixSystem::ReadOSRelease((folder.Path() + "/missing").c_str(), fields));
    EXPECT_TRUE(fields.empty());
}

TEST(XPosixSystemOSRelease, VersionTextAndFullNameFallBackFieldByField) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string kernel = XPosixSystem::GetKernelRelease();
    ASSERT_FALSE(kernel.empty());
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    const std::string kernelName = std::string(names.sysname) + " " + names.release;

    struct Case {
        const char* content; // null: no file
        std::string versionText;
        std::string fullName;
    };
    const Case cases[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
         "VERSION=\"12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)", "Debian GNU/Linux 12 (" + kernel + ")"},
        {"NAME=Alpine\nVERSION=\"3.19 edge\"\n", "Alpine 3.19 edge", "Alpine (" + kernel + ")"},
        {"NAME=Rolling\n", "Rolling", "Rolling (" + kernel + ")"},
        {"ID=nothing-useful\n", kernelName, kernelName + " (" + kernel + ")"},
        {nullptr, kernelName, kernelName + " (" + kernel + ")"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.versionText);
        std::string path = folder.Path() + "/os-release-" + std::to_string(n++);
        if (c.content != nullptr) folder.Write("os-release-" + std::to_string(n - 1), c.content);
        EXPECT_EQ(XPosixSystem::GetOSVersionText(path.c_str()), c.versionText);
        EXPECT_EQ(XPosixSystem::GetFullOSName(path.c_str()), c.fullName);
    }
}

TEST(VSystemNames, AgreeWithTheSystem) {
    VString text;
    VSystem::GetOSVersionString(text);
    EXPECT_EQ(ToUtf8(text), XPosixSystem::GetOSVersionText(XPosixSystem::GetOSReleasePath()));
    EXPECT_FALSE(text.IsEmpty());

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    text.Clear();
    VSystem::GetHostName(text);
    EXPECT_EQ(ToUtf8(text), host);

    passwd* account = getpwuid(geteuid());
    ASSERT_NE(account, nullptr);
    text.Clear();
    VSystem::GetCurrentUserName(text);
    EXPECT_EQ(ToUtf8(text), account->pw_name);
    text.Clear();
    VSystem::GetLoginUserName(text);
    EXPECT_FALSE(text.IsEmpty());

    // Unknown values leave the text as it was; known ones replace it.
    VString build("unchanged");
    VSystem::GetSystemBuildNumber(build);
    EXPECT_EQ(ToUtf8(build), XPosixSystem::GetKernelRelease());
}

TEST(VSystemNames, CompactProcessorTextHasNoStrayBlanks) {
    VString full;
    VSystem::GetProcessorTypeString(full, false);
    ASSERT_FALSE(full.IsEmpty());
    VString compact;
    VSystem::GetProcessorTypeString(compact, true);
    std::string text = ToUtf8(compact);
    EXPECT_EQ(text.find("  "), std::string::npos) << text;
    if (text.size() >= 2) {
        EXPECT_NE(text.front(), ' ');
        EXPECT_NE(text.back(), ' ');
    }
}

TEST(XPosixSystemProcessors, BrandIsTheFirstModelName) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::string path = folder.Write("cpuinfo", "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                                               "model name\t:   Intel(R)  Xeon(R)   CPU @ 2.20GHz  \n"
                                               "processor\t: 1\nmodel name\t: Other\n");
    EXPECT_EQ(XPosixSystem::ReadProcessorBrand(path.c_str()), "Intel(R)  Xeon(R)   CPU @ 2.20GHz");
    std::string none = folder.Write("cpuinfo-arm", "processor\t: 0\nBogoMIPS\t: 48.00\n");
    EXPECT_EQ(XPosixSystem::ReadProcessorBrand(none.c_str()), "");
}

TEST(XPosixSystemProcessors, CountsDistinctCores) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    folder.Write("cpu/possible", "0-5\n");
    folder.Write("cpu/online", "0,2-3\n");
    // Processors 0-3 are two cores with two threads each on package 0; 4 is a core of package 1; 5 is absent.
    const char* cores[][2] = {{"0", "0"}, {"0", "0"}, {"0", "1"}, {"0", "1"}, {"1", "0"}};
    for (int n = 0; n < 5; ++n) {
        std::string topology = "cpu/cpu" + std::to_string(n) + "/topology/";
        folder.Write(topology + "physical_package_id", std::string(cores[n][0]) + "\n");
        folder.Write(topology + "core_id", std::string(cores[n][1]) + "\n");
    }
    std::string root = folder.Path() + "/cpu";
    EXPECT_EQ(XPosixSystem::CountCores(root.c_str(), false), 3);
    EXPECT_EQ(XPosixSystem::CountCores(root.c_str(), true), 2);
    EXPECT_EQ(XPosixSystem::CountCores((folder.Path() + "/none").c_str(), false), 0);

    EXPECT_GE(VSystem::GetNumberOfPhysicalProcessors(), 1);
    EXPECT_LE(VSystem::GetNumberOfPhysicalProcessors(), VSystem::GetNumberOfLogicalProcessors());
    EXPECT_GE(VSystem::GetEnabledCoresNumber(), 1);
    EXPECT_LE(VSystem::GetEnabledCoresNumber(), VSystem::GetNumberOfPhysicalProcessors());
}

std::string StatLines(const std::vector<XPosixSystem::ProcessorTicks>& processors) {
    std::string text = "cpu  999 999 999 999 0 0 0 0 0 0\n";
    int n = 0;
    for (const XPosixSystem::ProcessorTicks& p : processors)
        text += "cpu" + std::to_string(n++) + " " + std::to_string(p.fUser) + " " + std::to_string(p.fNice) + " " +
                std::to_string(p.fSystem) + " " + std::to_string(p.fIdle) + " 7 0 0 0 0 0\n";
    return text + "intr 12345\nctxt 678\n";
}

TEST(XPosixSystemProcessors, UseIsBusyOverTotalAcrossAllProcessors) {
    using Ticks = XPosixSystem::ProcessorTicks;
    const std::vector<Ticks> start(8, Ticks{100, 100, 100, 100});
    auto after = [&](uint64 busy, uint64 idle) {
        std::vector<Ticks> ticks = start;
        for (Ticks& t : ticks) {
            t.fUser += busy / 2;
            t.fSystem += busy - busy / 2;
            t.fIdle += idle;
        }
        return ticks;
    };
    struct Case {
        const char* name;
        std::vector<Ticks> later;
        double use;
    };
    std::vector<Ticks> oneBusy = start;
    oneBusy[3].fUser += 100; // one of eight processors busy, the others idle
    for (size_t i = 0; i < oneBusy.size(); ++i)
        if (i != 3) oneBusy[i].fIdle += 100;
    std::vector<Ticks> niceOnly = after(0, 0);
    for (Ticks& t : niceOnly)
        t.fNice += 50;
    std::vector<Ticks> wentBack = after(100, 0);
    wentBack[0].fUser = 0;
    const Case cases[] = {
        // A fully busy machine is at 1, not at 1 over the number of processors.
        {"all busy", after(100, 0), 1.0},
        {"all idle", after(0, 100), 0.0},
        {"half", after(50, 50), 0.5},
        {"one of eight", oneBusy, 1.0 / 8},
        {"nice counts as busy", niceOnly, 1.0},
        {"no time passed", start, 0.0},
        {"a counter that went back counts nothing", wentBack, 1.0},
    };
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::vector<Ticks> before;
    ASSERT_TRUE(XPosixSystem::ReadProcessorTicks(folder.Write("stat0", StatLines(start)).c_str(), before));
    ASSERT_EQ(before.size(), 8u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Ticks> read;
        ASSERT_TRUE(XPosixSystem::ReadProcessorTicks(folder.Write("stat", StatLines(c.later)).c_str(), read));
        EXPECT_DOUBLE_EQ(XPosixSystem::ComputeProcessorUse(before, read), c.use);
    }
    // A processor seen in only one reading is left out.
    std::vector<Ticks> fewer = after(100, 0);
    fewer.resize(4);
    EXPECT_DOUBLE_EQ(XPosixSystem::ComputeProcessorUse(before, fewer), 1.0);

    std::vector<Ticks> none;
    EXPECT_FALSE(XPosixSystem::ReadProcessorTicks(folder.Write("empty", "cpu 1 2 3 4\nintr 5\n").c_str(), none));
    EXPECT_FALSE(XPosixSystem::ReadProcessorTicks((folder.Path() + "/missing").c_str(), none));
}

TEST(VSystemProcessors, UseIsFalseOnTheFirstCallThenAFraction) {
    double use = -1;
    EXPECT_FALSE(VSystem::GetProcessorsPercentageUse(use));
    EXPECT_EQ(use, 0.0);
    // Some work so that the counters move.
    volatile uint64 sum = 0;
    for (uint64 i = 0; i < 20000000; ++i)
        sum = sum + i;
    EXPECT_TRUE(VSystem::GetProcessorsPercentageUse(use));
    EXPECT_GE(use, 0.0);
    EXPECT_LE(use, 1.0);

    double own = VSystem::GetApplicationProcessorsPercentageUse();
    EXPECT_GE(own, 0.0);
    EXPECT_LE(own, 1.0);
}

// ---- Memory

TEST(VSystemMemory, SizesAreConsistent) {
    EXPECT_GT(VSystem::GetPhysicalMemSize(), 0u);
    EXPECT_LE(VSystem::GetPhysicalFreeMemSize(), VSystem::GetPhysicalMemSize());
    EXPECT_GT(VSystem::GetApplicationPhysicalMemSize(), 0u);
    EXPECT_GE(VSystem::VirtualMemoryUsedSize(), VSystem::GetApplicationPhysicalMemSize());
}

TEST(VSystemMemory, VirtualQueryInsideAMappingAndInAGap) {
    const size_t page = VSystem::GetVMPageSize();
    auto* pages = static_cast<char*>(VSystem::VirtualAlloc(3 * page, nullptr));
    ASSERT_NE(pages, nullptr);
    // A hole in the middle: the first page stays mapped, the second becomes a gap of exactly one page.
    ASSERT_EQ(munmap(pages + page, page), 0);

    size_t size = 0;
    uint32 state = 9;
    const void* base = nullptr;
    EXPECT_TRUE(VSystem::VirtualQuery(pages + 10, &size, &state, &base));
    EXPECT_EQ(state, 0u);
    // Neighbouring mappings of the same kind may have merged with it.
    EXPECT_LE(static_cast<const char*>(base), pages);
    EXPECT_GE(static_cast<const char*>(base) + size, pages + page);

    EXPECT_TRUE(VSystem::VirtualQuery(pages + page, &size, &state, &base));
    EXPECT_EQ(state, 1u);
    EXPECT_EQ(size, page);
    EXPECT_EQ(base, pages + page);
    EXPECT_TRUE(VSystem::VirtualQuery(pages + page + 16, nullptr, nullptr, nullptr));

    munmap(pages, page);
    munmap(pages + 2 * page, page);
}

TEST(XPosixSystemMemory, QueryRegionReadsAMapsFile) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::string maps = folder.Write("maps", "1000-3000 r-xp 00000000 08:01 12 /bin/x\n"
                                            "5000-6000 rw-p 00000000 00:00 0\n"
                                            "garbage line\n"
                                            "8000-9000 rw-p 00000000 00:00 0 [stack]\n");
    struct Case {
        uintptr_t address;
        bool found;
        uintptr_t start;
        uint64 size;
        bool mapped;
    };
    const Case cases[] = {
        {0x0, true, 0x0, 0x1000, false},      {0x1000, true, 0x1000, 0x2000, true},
        {0x2fff, true, 0x1000, 0x2000, true}, {0x3000, true, 0x3000, 0x2000, false},
        {0x5800, true, 0x5000, 0x1000, true}, {0x7fff, true, 0x7fff, 0x1, false},
        {0x9000, false, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        uintptr_t start = 0;
        uint64 size = 0;
        bool mapped = false;
        ASSERT_EQ(XPosixSystem::QueryRegion(maps.c_str(), c.address, start, size, mapped), c.found);
        if (!c.found) continue;
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(mapped, c.mapped);
    }
}

// ---- Executables and links

TEST(XPosixSystemExecutables, ModeBitsOfTheMatchingClassDecide) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const uid_t me = geteuid();
    const gid_t myGroup = getegid();
    const uid_t other = me + 4242;
    const gid_t otherGroup = myGroup + 4242;
    struct Case {
        mode_t mode;
        uid_t owner;
        gid_t group;
        bool executable;
    };
    // Only the class that matches counts: an owner without its bit is refused even when others may run it.
    const Case cases[] = {
        {0700, me, myGroup, true},       {0100, me, otherGroup, true},     {0070, me, myGroup, false},
        {0007, me, myGroup, false},      {0010, other, myGroup, true},     {0001, other, myGroup, false},
        {0001, other, otherGroup, true}, {0770, other, otherGroup, false}, {0644, me, myGroup, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode << std::dec << " owner " << c.owner);
        std::string path = folder.Write("tool" + std::to_string(n++), "#!/bin/sh\n");
        if (c.owner != me || c.group != myGroup) {
            if (chown(path.c_str(), c.owner, c.group) != 0) GTEST_SKIP() << "cannot give a file away here";
        }
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        EXPECT_EQ(XPosixSystem::IsExecutableFile(path.c_str()), c.executable);
    }
    EXPECT_FALSE(XPosixSystem::IsExecutableFile(folder.MakeFolder("adir").c_str()));
    EXPECT_FALSE(XPosixSystem::IsExecutableFile((folder.Path() + "/missing").c_str()));
}

TEST(XPosixSystemExecutables, SearchTakesTheFirstExecutableFileInPathOrder) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string first = folder.MakeFolder("first");
    const std::string second = folder.MakeFolder("second");
    folder.Write("first/plain", "data", 0644);         // not executable: skipped
    folder.Write("second/plain", "#!/bin/sh\n", 0755); // so this one is found
    folder.MakeFolder("first/tool");                   // a folder of that name: skipped
    folder.Write("second/tool", "#!/bin/sh\n", 0755);
    folder.Write("first/both", "#!/bin/sh\n", 0755); // in both: the first folder wins
    folder.Write("second/both", "#!/bin/sh\n", 0755);
    folder.Write("first/only", "#!/bin/sh\n", 0700);

    const std::string path = first + ":" + second;
    const std::string pathWithSlash = first + "/::" + second + "/"; // an empty entry and trailing slashes
    // An entry that names first from the working folder: whoever controls that folder would choose what runs.
    const std::string relative = std::filesystem::relative(first).string() + ":" + second;
    struct Case {
        std::string name;
        const char* searchPath;
        std::string found;
    };
    const Case cases[] = {
        {"plain", path.c_str(), second + "/plain"},
        {"tool", path.c_str(), second + "/tool"},
        {"both", path.c_str(), first + "/both"},
        {"only", pathWithSlash.c_str(), first + "/only"},
        {"tool", pathWithSlash.c_str(), second + "/tool"},
        {"only", relative.c_str(), ""},
        {"both", relative.c_str(), second + "/both"},
        {"missing", path.c_str(), ""},
        {"plain", "", ""},
        {"plain", nullptr, ""},
        {"", path.c_str(), ""},
        {std::string(1100, 'x'), path.c_str(), ""},
        // With a '/', the name is taken as it stands (resolved), not searched.
        {first + "/../first/only", nullptr, first + "/only"},
        {first + "/plain", path.c_str(), ""},
        {"./missing/tool", path.c_str(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 80) + " in " + (c.searchPath != nullptr ? c.searchPath : "(none)"));
        EXPECT_EQ(XPosixSystem::FindExecutable(c.name, c.searchPath), c.found);
    }
}

TEST(VSystemExecutables, SearchExecutablePathFollowsPATH) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const std::string bin = folder.MakeFolder("bin");
    std::string tool = folder.Write("bin/vela-tool", "#!/bin/sh\n", 0755);
    char resolved[PATH_MAX] = {};
    ASSERT_NE(realpath(tool.c_str(), resolved), nullptr);

    StEnvironment path("PATH", (bin + ":/usr/bin:/bin").c_str());
    VFilePath found;
    ASSERT_TRUE(VSystem::SearchExecutablePath(VString("vela-tool"), found));
    VString posix;
    found.GetPosixPath(posix);
    EXPECT_EQ(ToUtf8(posix), resolved);

    EXPECT_FALSE(VSystem::SearchExecutablePath(VString("vela-no-such-tool"), found));
    EXPECT_TRUE(found.IsEmpty());
    {
        StEnvironment noPath("PATH", nullptr);
        found.FromFullPath(VString("/tmp/"), FPS_POSIX);
        EXPECT_FALSE(VSystem::SearchExecutablePath(VString("vela-tool"), found));
        EXPECT_TRUE(found.IsEmpty());
    }
}

TEST(VSystemLinks, CreateSymbolicLinkRaisesThePosixError) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    std::string target = folder.Write("target", "x");
    std::string link = folder.Path() + "/link";
    test::RecordingRaiser raised;
    EXPECT_EQ(VSystem::CreateSymbolicLink(target.c_str(), link.c_str()), VE_OK);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), target);
    EXPECT_TRUE(raised.Codes().empty());

    const VError exists = MakeVError(kComponentPosix, EEXIST);
    EXPECT_EQ(VSystem::CreateSymbolicLink(target.c_str(), link.c_str()), exists);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{exists});
}

TEST(VSystemUtilities, RandomStaysWithinThirtyOneBits) {
    EXPECT_TRUE(VSystem::Init());
    bool differ = false;
    int32 first = VSystem::Random(false);
    for (int i = 0; i < 64; ++i) {
        int32 value = VSystem::Random(false);
        EXPECT_GE(value, 0);
        differ = differ || value != first;
        EXPECT_GE(VSystem::Random(true), 0);
    }
    EXPECT_TRUE(differ);
}

} // namespace
} // namespace vela
