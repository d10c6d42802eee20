// Kills the real updater executable with SIGKILL at many points of an update of a large bundle, and checks that
// the application's path always holds a whole bundle, old or new, and that the same command run again completes
// the update.
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
constexpr int kFilesPerSet = 25; // 2,500 files in all

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

std::string Plist(const std::string& executable) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable + "</string>\n</dict>\n</plist>\n";
}

// An application bundle of 2,500 small files in nested folders, with relative links and executable bits. Every
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
enum class Installed { Old, New };

const char* Describe(Installed installed) {
    return installed == Installed::Old ? "the outdated bundle" : "the up-to-date bundle";
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

    static std::vector<std::string> UpdateArguments() {
        return {P("Updater.app/Contents/MacOS/updater"), "--silent", P("apps/Foo.app"), P("new/Foo.app")};
    }

    // Starts the update with its standard streams on /dev/null and extra environment; -1 when it cannot start.
    static pid_t StartUpdate(const std::vector<std::string>& extraEnv) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd = 0; fd <= 2; ++fd)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        pid_t pid = -1;
        const int spawned =
            vela::test::SpawnProcess(UpdateArguments(), vela::test::UpdaterEnvironment(sRoot, extraEnv), actions, pid);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) ADD_FAILURE() << "cannot start the updater: " << spawned;
        return spawned == 0 ? pid : -1;
    }

    // Runs an update that stops itself (through the file layer's fault seam) just before call nth of op, and kills
    // it there with SIGKILL. False when the run ended before that call.
    static bool RunAndKillAt(const std::string& op, int nth) {
        const pid_t pid = StartUpdate(
            {"VELA_UPDATER_FAULT=" + op + "," + std::to_string(-SIGSTOP) + "," + std::to_string(nth) + ",1"});
        if (pid < 0) return false;
        int status = 0;
        if (::waitpid(pid, &status, WUNTRACED) != pid) return false;
        if (!WIFSTOPPED(status)) return false;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // The same command again, to its end; answers its exit status (-1 for a signal).
    static int RunToTheEnd() {
        const pid_t pid = StartUpdate({});
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Checks the guarantee after a kill: the application's path holds the whole outdated or the whole up-to-date
    // bundle, never nothing nor a mix; with the new one in place, the outdated bundle is whole beside it (under
    // the hidden name of the swap or its aside name) or in the Trash. Answers what stands at the path.
    static Installed CheckState() {
        const TreeManifest installed = ManifestOf(P("apps/Foo.app"));
        EXPECT_FALSE(installed.empty()) << "nothing at the application's path";
        Installed state = Installed::Old;
        if (installed != *sOld) {
            EXPECT_EQ(Difference(installed, *sNew), "") << "a partial bundle stands at the application's path";
            state = Installed::New;
        }
        if (state == Installed::New) {
            std::string aside = P("data/Trash/files/Foo_old0001.app");
            for (const std::string& beside : {P("apps/Foo_old0001.app"), P("apps/.Foo.app.updating")})
                if (fs::exists(beside)) aside = beside;
            EXPECT_EQ(Difference(ManifestOf(aside), *sOld), "") << "the outdated bundle is not whole at " << aside;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(P("apps"))) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "Foo.app" || name == "Foo_old0001.app" || name == ".Foo.app.updating") << name;
        }
        return state;
    }

    // After the rerun: the up-to-date bundle in place, no copy left under the hidden name.
    static void CheckCompleted() {
        EXPECT_EQ(Difference(ManifestOf(P("apps/Foo.app")), *sNew), "") << "the rerun did not complete the update";
        for (const fs::directory_entry& entry : fs::directory_iterator(P("apps"))) {
            const std::string name = entry.path().filename().string();
            // An aside of the interrupted run stays; the rerun's own went to the Trash.
            EXPECT_TRUE(name == "Foo.app" || name == "Foo_old0001.app") << name;
        }
    }

    // Back to the start: the outdated bundle at its path (taken back from where the runs left it, or made anew
    // when the rerun removed it with the swap's hidden copy), nothing else beside it, an empty Trash.
    static void Restore() {
        std::error_code ignored;
        std::string kept;
        for (const std::string& place : {P("apps/Foo_old0001.app"), P("data/Trash/files/Foo_old0001.app")})
            if (kept.empty() && ManifestOf(place) == *sOld) kept = place;
        if (!kept.empty()) fs::rename(kept, P("old.app"));
        fs::remove_all(P("apps"), ignored);
        fs::remove_all(P("data"), ignored);
        fs::create_directory(P("apps"));
        if (kept.empty())
            MakeLargeBundle(P("apps/Foo.app"), "old");
        else
            fs::rename(P("old.app"), P("apps/Foo.app"));
        ASSERT_EQ(Difference(ManifestOf(P("apps/Foo.app")), *sOld), "");
    }

    static std::string sRoot;
    static TreeManifest* sOld;
    static TreeManifest* sNew;
};

std::string UpdaterReliabilityTest::sRoot;
TreeManifest* UpdaterReliabilityTest::sOld = nullptr;
TreeManifest* UpdaterReliabilityTest::sNew = nullptr;

TEST_F(UpdaterReliabilityTest, AKillAtAnyPointLeavesAWholeBundleAndARerunCompletesTheUpdate) {
    struct Point {
        std::string op;
        int nth;
        Installed expected;
    };
    // Each copied file opens two descriptors: 20 points over the 5,000 or so opens of the copy (after the few
    // opens that read the bundle's texts at start-up), which goes beside
    // the outdated bundle; then the flush of the copy and the exchange, still before the outdated bundle moves.
    std::vector<Point> points;
    for (int k = 0; k < 20; ++k)
        points.push_back({"open", 10 + k * 250, Installed::Old});
    points.push_back({"syncfs", 1, Installed::Old});
    points.push_back({"exchange", 1, Installed::Old});
    // Folder renames: 1 renames the outdated bundle aside from the hidden name, 2 moves it to the Trash.
    points.push_back({"rename", 1, Installed::New});
    points.push_back({"rename", 2, Installed::New});

    for (const Point& point : points) {
        SCOPED_TRACE("killed before " + point.op + " #" + std::to_string(point.nth));
        ASSERT_TRUE(RunAndKillAt(point.op, point.nth)) << "the update ended before that call";
        EXPECT_STREQ(Describe(CheckState()), Describe(point.expected));
        EXPECT_EQ(RunToTheEnd(), 0) << "the same command again did not complete the update";
        CheckCompleted();
        Restore();
    }
    // The source of every copy is only ever read.
    EXPECT_EQ(Difference(ManifestOf(P("new/Foo.app")), *sNew), "") << "the up-to-date bundle changed";
}

} // namespace
