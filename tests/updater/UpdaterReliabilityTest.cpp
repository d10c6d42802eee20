// Kills the real updater executable with SIGKILL at many points of an update of a large bundle, and checks that
// whatever stands at the application's path is a whole bundle and that nothing was lost.
#include "updater/TreeManifest.h"
#include "updater/UpdaterProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vela::test::Difference;
using vela::test::ManifestOf;
using vela::test::TreeManifest;

constexpr int kGroups = 10;
constexpr int kSetsPerGroup = 10;
constexpr int kFilesPerSet = 50; // 5,000 files in all

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

std::string Plist(const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable + "</string>\n</dict>\n</plist>\n";
}

// An application bundle of 5,000 small files in nested folders, with relative links and executable bits. Every
// file's bytes depend on marker, so that a mix of two bundles never passes for either.
void MakeLargeBundle(const std::string& top, const std::string& marker) {
    const std::string contents = top + "/Contents";
    fs::create_directories(contents + "/MacOS");
    WriteFile(contents + "/Info.plist", Plist("foo"));
    WriteFile(contents + "/MacOS/foo", "#!/bin/sh\nexit 0\n", 0755);
    fs::create_directory_symlink("MacOS", contents + "/Link");
    int made = 0;
    for (int g = 0; g < kGroups; ++g) {
        for (int s = 0; s < kSetsPerGroup; ++s) {
            const std::string set = contents + "/Resources/g" + std::to_string(g) + "/s" + std::to_string(s);
            fs::create_directories(set);
            for (int i = 0; i < kFilesPerSet; ++i, ++made) {
                const std::string text = marker + " " + std::to_string(made) + std::string(size_t(made % 300), 'x');
                WriteFile(set + "/item" + std::to_string(i), text, made % 10 == 0 ? 0755 : 0644);
            }
            fs::create_directory_symlink("../s" + std::to_string((s + 1) % kSetsPerGroup), set + "/Next");
        }
    }
}

// What the application's path holds after the kill.
enum class Installed { Old, Nothing, New };

const char* Describe(Installed installed) {
    switch (installed) {
    case Installed::Old:
        return "the outdated bundle";
    case Installed::Nothing:
        return "nothing";
    case Installed::New:
        return "the up-to-date bundle";
    }
    return "?";
}

// One folder per test suite run: the updater bundle, an outdated apps/Foo.app and an up-to-date new/Foo.app, made
// once, with their manifests. Each kill leaves a state that the test checks and then turns back into the start.
class UpdaterReliabilityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/vela-updater-kill-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        sRoot = pattern;
        vela::test::CopyBuiltUpdaterBundle(P("Updater.app"));
        MakeLargeBundle(P("apps/Foo.app"), "old");
        MakeLargeBundle(P("new/Foo.app"), "new");
        // One more file in the new bundle: the two differ in their names too.
        WriteFile(P("new/Foo.app/Contents/Resources/added"), "added");
        sOld = new TreeManifest(ManifestOf(P("apps/Foo.app")));
        sNew = new TreeManifest(ManifestOf(P("new/Foo.app")));
    }
    static void TearDownTestSuite() {
        delete sOld;
        delete sNew;
        sOld = sNew = nullptr;
        std::error_code ignored;
        fs::remove_all(sRoot, ignored);
    }

    static std::string P(const std::string& name) { return sRoot + "/" + name; }

    // Runs an update that stops itself (through the file layer's fault seam) just before call nth of op, and kills
    // it there with SIGKILL. False when the run ended before that call.
    static bool RunAndKillAt(const std::string& op, int nth) {
        std::vector<std::string> argStrings{P("Updater.app/Contents/MacOS/updater"), "--silent", P("apps/Foo.app"),
                                            P("new/Foo.app")};
        const std::vector<std::string> env = vela::test::UpdaterEnvironment(
            sRoot, {"VELA_UPDATER_FAULT=" + op + "," + std::to_string(-SIGSTOP) + "," + std::to_string(nth) + ",1"});
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned = vela::test::SpawnProcess(argStrings, env, actions, pid);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start the updater: " << spawned;
            return false;
        }
        int status = 0;
        if (::waitpid(pid, &status, WUNTRACED) != pid) return false;
        if (!WIFSTOPPED(status)) return false;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // Checks the guarantee after a kill: the application's path holds a whole bundle or nothing, and the outdated
    // bundle is whole at its path, beside it under its aside name or in the Trash. Answers what stands at the
    // application's path.
    static Installed CheckState() {
        const TreeManifest installed = ManifestOf(P("apps/Foo.app"));
        Installed state = Installed::Nothing;
        if (!installed.empty()) {
            if (installed == *sOld) {
                state = Installed::Old;
            } else {
                EXPECT_EQ(Difference(installed, *sNew), "") << "a partial bundle stands at the application's path";
                state = Installed::New;
            }
        }
        if (state != Installed::Old) {
            const std::string aside = fs::exists(P("apps/Foo_old0001.app")) ? P("apps/Foo_old0001.app")
                                                                            : P("data/Trash/files/Foo_old0001.app");
            EXPECT_EQ(Difference(ManifestOf(aside), *sOld), "") << "the outdated bundle is not whole at " << aside;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(P("apps"))) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "Foo.app" || name == "Foo_old0001.app" || name == ".Foo.app.updating") << name;
        }
        return state;
    }

    // Back to the start: the outdated bundle at its path, nothing else beside it, an empty Trash.
    static void Restore() {
        std::error_code ignored;
        fs::remove_all(P("apps/.Foo.app.updating"), ignored);
        for (const std::string& aside : {P("apps/Foo_old0001.app"), P("data/Trash/files/Foo_old0001.app")}) {
            if (!fs::exists(aside)) continue;
            fs::remove_all(P("apps/Foo.app"), ignored);
            fs::rename(aside, P("apps/Foo.app"));
        }
        fs::remove_all(P("data"), ignored);
        ASSERT_EQ(Difference(ManifestOf(P("apps/Foo.app")), *sOld), "");
    }

    static std::string sRoot;
    static TreeManifest* sOld;
    static TreeManifest* sNew;
};

std::string UpdaterReliabilityTest::sRoot;
TreeManifest* UpdaterReliabilityTest::sOld = nullptr;
TreeManifest* UpdaterReliabilityTest::sNew = nullptr;

TEST_F(UpdaterReliabilityTest, AKillAtAnyPointLeavesAWholeBundleAndLosesNothing) {
    struct Point {
        std::string op;
        int nth;
        Installed expected;
    };
    // Folder renames: 1 puts the outdated bundle aside, 2 puts the copy in place, 3 moves the old one to the Trash.
    std::vector<Point> points{{"rename", 1, Installed::Old}};
    // Each copied file opens two descriptors: 20 points over the 10,000 or so opens of the copy, after the few
    // opens that read the bundle's texts at start-up.
    for (int k = 0; k < 20; ++k)
        points.push_back({"open", 10 + k * 500, Installed::Nothing});
    points.push_back({"rename", 2, Installed::Nothing});
    points.push_back({"rename", 3, Installed::New});

    for (const Point& point : points) {
        SCOPED_TRACE("killed before " + point.op + " #" + std::to_string(point.nth));
        ASSERT_TRUE(RunAndKillAt(point.op, point.nth)) << "the update ended before that call";
        EXPECT_STREQ(Describe(CheckState()), Describe(point.expected));
        Restore();
    }
    // The source of every copy is only ever read.
    EXPECT_EQ(Difference(ManifestOf(P("new/Foo.app")), *sNew), "") << "the up-to-date bundle changed";
}

} // namespace
