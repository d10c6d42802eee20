// Runs the real updater executable on bundles in a temporary folder, with a real caller process.
#include "support/SmallDisk.h"
#include "support/TaskTestSupport.h"
#include "updater/TreeManifest.h"
#include "updater/UpdaterProcess.h"
#include "updater/UpdaterTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

std::string Plist(const std::string& executable, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           executable + "</string>\n\t<key>CFBundleShortVersionString</key>\n\t<string>" + version +
           "</string>\n</dict>\n</plist>\n";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// A fixture per test: a copy of the built Updater.app (updater, open stand-in, texts), an outdated apps/Foo.app
// ("old") and an up-to-date new/Foo.app ("new"), each with a relative link and an executable that writes its
// arguments to "relaunched"; HOME and XDG_DATA_HOME inside; alerts answered No and recorded.
class UpdaterEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vela-updater-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = pattern;
        vela::test::CopyBuiltUpdaterBundle(P("Updater.app"));
        MakeBundle("apps/Foo.app", "old");
        MakeBundle("new/Foo.app", "new");
    }
    void TearDown() override {
        if (fCaller > 0) {
            ::kill(fCaller, SIGKILL);
            ::waitpid(fCaller, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(fRoot, ignored);
    }

    std::string P(const std::string& name) const { return fRoot + "/" + name; }

    void MakeBundle(const std::string& bundle, const std::string& marker) {
        fs::create_directories(P(bundle + "/Contents/MacOS"));
        WriteFile(P(bundle + "/Contents/marker"), marker);
        WriteFile(P(bundle + "/Contents/Info.plist"), Plist("foo", "1.0"));
        WriteFile(P(bundle + "/Contents/MacOS/foo"),
                  "#!/bin/sh\necho \"$@\" > '" + P("relaunched.tmp") + "'\nmv '" + P("relaunched.tmp") + "' '" +
                      P("relaunched") + "'\n",
                  0755);
        fs::create_directory_symlink("MacOS", P(bundle + "/Contents/Link"));
    }

    // A caller that stays until it is ended.
    pid_t StartCaller() {
        fCaller = ::fork();
        if (fCaller == 0) {
            for (;;)
                ::pause();
        }
        return fCaller;
    }

    // Runs the updater with args; when the caller is running, it is ended and reaped as soon as the updater
    // writes its waitquit line.
    Outcome Run(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> argStrings{P("Updater.app/Contents/MacOS/updater")};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        int out[2], err[2];
        EXPECT_EQ(::pipe(out), 0);
        EXPECT_EQ(::pipe(err), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        if (!fWorkDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, fWorkDir.c_str());
        pid_t pid = -1;
        EXPECT_EQ(vela::test::SpawnProcess(argStrings, vela::test::UpdaterEnvironment(fRoot, extraEnv), actions, pid),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);

        Outcome outcome;
        char buffer[4096];
        for (ssize_t got; (got = ::read(out[0], buffer, sizeof(buffer))) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            outcome.out.append(buffer, size_t(got));
            if (fSignalAtWaitquit != 0 && outcome.out.find("waitquit,-1\n") != std::string::npos) {
                ::kill(pid, fSignalAtWaitquit);
                fSignalAtWaitquit = 0;
            }
            if (fCaller > 0 && fEndCaller && outcome.out.find("waitquit,-1\n") != std::string::npos) {
                ::kill(fCaller, SIGKILL);
                ::waitpid(fCaller, nullptr, 0);
                fCaller = 0;
            }
        }
        for (ssize_t got; (got = ::read(err[0], buffer, sizeof(buffer))) > 0;)
            outcome.err.append(buffer, size_t(got));
        ::close(out[0]);
        ::close(err[0]);
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return outcome;
    }

    std::vector<std::string> Update(std::vector<std::string> options = {}) {
        options.push_back(P("apps/Foo.app"));
        options.push_back(P("new/Foo.app"));
        return options;
    }

    // The lines of the one log file in logs/.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        if (!fs::exists(P("logs"))) return lines;
        for (const auto& entry : fs::directory_iterator(P("logs"))) {
            std::ifstream in(entry.path());
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
        }
        return lines;
    }
    // Whether the messages occur in the log in this order.
    bool LogHasInOrder(const std::vector<std::string>& messages) const {
        const std::vector<std::string> lines = LogLines();
        auto at = lines.begin();
        for (const std::string& message : messages) {
            at = std::find_if(at, lines.end(),
                              [&](const std::string& line) { return line.find(message) != std::string::npos; });
            if (at == lines.end()) return false;
            ++at;
        }
        return true;
    }

    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        if (!fs::exists(P(folder))) return names;
        for (const auto& entry : fs::directory_iterator(P(folder)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Plants an executable named name in folder that notes in root/planted that it ran.
    void PlantProgram(const std::string& folder, const std::string& name) {
        fs::create_directories(P(folder));
        WriteFile(P(folder + "/" + name), "#!/bin/sh\necho " + name + " >> '" + P("planted") + "'\n", 0755);
    }

    std::string fRoot;
    // The updater's working directory (empty: this process's).
    std::string fWorkDir;
    pid_t fCaller = 0;
    bool fEndCaller = true;
    // A signal sent to the updater once it has written its waitquit line (0: none).
    int fSignalAtWaitquit = 0;
};

TEST_F(UpdaterEndToEndTest, AnUpdateReplacesTheBundleRelaunchesItAndTrashesTheOldOne) {
    const pid_t caller = StartCaller();
    const Outcome run = Run(Update({"--pid", std::to_string(caller), "--caller-log", "1", "--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "waitquit,-1\n");

    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(fs::read_symlink(P("apps/Foo.app/Contents/Link")), "MacOS");
    struct stat st {};
    ASSERT_EQ(::stat(P("apps/Foo.app/Contents/MacOS/foo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});

    EXPECT_EQ(ReadFile(P("data/Trash/files/Foo_old0001.app/Contents/marker")), "old");
    EXPECT_TRUE(fs::exists(P("data/Trash/info/Foo_old0001.app.trashinfo")));
    EXPECT_TRUE(vela::test::WaitUntil([&] { return fs::exists(P("relaunched")); }));

    const std::string pid = std::to_string(caller);
    EXPECT_TRUE(LogHasInOrder({"INFO - Updater starting - ", "INFO - Waiting for external process to quit",
                               "INFO - Waiting for process " + pid + " to quit",
                               "INFO - Process " + pid + " has quit. Proceeding.",
                               "INFO - Proceeding with up-to-date application install...",
                               "INFO - Proceeding with up-to-date application restart...",
                               "INFO - Restarting installed application (\"" + P("Updater.app/Contents/MacOS/open") +
                                   "\" -a \"" + P("apps/Foo.app/") + "\")...",
                               "INFO - Updated application restarted, returned 0",
                               "INFO - Up-to-date application restarted", "INFO - Update successful - "}));
    EXPECT_FALSE(fs::exists(P("alerts")));
}

// Programs named like the updater's helpers in the folder it is started from never run: the relaunch goes through
// the stand-in in the updater's bundle.
TEST_F(UpdaterEndToEndTest, ProgramsInTheWorkingFolderNeverRunInPlaceOfTheStandIn) {
    PlantProgram("cwd", "open");
    fWorkDir = P("cwd");
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(vela::test::WaitUntil([&] { return fs::exists(P("relaunched")); }));
    EXPECT_EQ(ReadFile(P("planted")), "");
}

TEST_F(UpdaterEndToEndTest, TheCommandLineIsCheckedBeforeAnythingHappens) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {{}, 1, "", "mismatched value for option --uptodate-app\n\nmismatched value for option --outdated-app\n\n"},
        // The bundle's version is the project's.
        {{"--version"}, 0, VELA_PROJECT_VERSION "\n", ""},
        {{"a", "b", "c"}, 1, "", "two many arguments from the command line\n"},
        {{"a"}, 1, "", "not enough arguments from the command line (required <dest> <src>)\n\n"},
        {{"--uptodate-app", "b"}, 1, "", "mismatched value for option --outdated-app\n\n"},
        {{"--outdated-app", "x", "a", "b"}, 1, "", "mismatched value for option --outdated-app\n\n"},
        // The process serial number that a desktop launch may add is not an argument.
        {{"-psn_0_4711", "a"}, 1, "", "not enough arguments from the command line (required <dest> <src>)\n\n"},
        // The parser's refusal wins: no version is printed.
        {{"--version", "--bogus"}, 1, "", "error: unknown option `bogus`\n"},
        {{"--pid", "abc", "a", "b"},
         1,
         "",
         "invalid value for argument '--pid' got \"abc\" expected a signed integral\n"},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& a : c.args)
            trace += a + " ";
        SCOPED_TRACE(trace);
        const Outcome run = Run(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
}

TEST_F(UpdaterEndToEndTest, HelpAndUnknownOptions) {
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("newer versions tored <path of update>"), std::string::npos);
    EXPECT_NE(help.out.find("--caller-log=VALUE     Restart params"), std::string::npos);
    const Outcome unknown = Run({"--bogus", "a", "b"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "error: unknown option `bogus`\n");
}

TEST_F(UpdaterEndToEndTest, AMissingOutdatedBundleFailsAndTellsTheUser) {
    fs::remove_all(P("apps/Foo.app"));
    const Outcome run = Run(Update({"--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Names("new"), std::vector<std::string>{"Foo.app"});
    // The cause in words from the bundle's texts: which bundle, and where.
    EXPECT_TRUE(LogHasInOrder({"INFO - Updater starting - ", "ERROR - The application to update was not found at ",
                               "INFO - Update failed - "}))
        << Joined(LogLines());
    const std::string log = Joined(LogLines());
    EXPECT_EQ(log.find("Error code:"), std::string::npos) << log;
    const size_t cause = log.find("The application to update was not found at ");
    ASSERT_NE(cause, std::string::npos);
    EXPECT_NE(log.substr(cause, log.find('\n', cause) - cause).find("apps:Foo.app"), std::string::npos) << log;
    const std::string alerts = ReadFile(P("alerts"));
    EXPECT_NE(alerts.find("The application to update was not found at "), std::string::npos) << alerts;
    EXPECT_NE(alerts.find("More information is available in the log file '" + P("logs/")), std::string::npos) << alerts;
    EXPECT_NE(alerts.find("_log_1.txt'"), std::string::npos) << alerts;

    // Without a log folder there is no log file to point to.
    fs::remove(P("alerts"));
    EXPECT_EQ(Run(Update()).status, 2);
    const std::string withoutLog = ReadFile(P("alerts"));
    EXPECT_FALSE(withoutLog.empty());
    EXPECT_EQ(withoutLog.find("More information"), std::string::npos) << withoutLog;
}

TEST_F(UpdaterEndToEndTest, BundlePathsThatCannotBeUpdatedChangeNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string logged;
    };
    const Case cases[] = {
        // The up-to-date bundle inside the outdated one.
        {{P("apps/Foo.app"), P("apps/Foo.app/Contents")}, "ERROR - Up-to-date application install failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        fs::remove_all(P("logs"));
        std::vector<std::string> args{"--silent", "--log-dir", P("logs")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = Run(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
        EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
        EXPECT_EQ(Names("new"), std::vector<std::string>{"Foo.app"});
        EXPECT_FALSE(fs::exists(P("relaunched")));
        EXPECT_TRUE(LogHasInOrder({"INFO - Updater starting - ", c.logged, "INFO - Update failed - "}))
            << Joined(LogLines());
    }
}

TEST_F(UpdaterEndToEndTest, RelativePathsAreTakenFromTheWorkingDirectory) {
    WriteFile(P("client.json"), R"({"ServerPlatform": "mac", "BuildIPAdress": "10.0.0.5"})");
    fWorkDir = fRoot;
    const pid_t caller = StartCaller();
    const Outcome run = Run({"--pid", std::to_string(caller), "--caller-log", "1", "--silent", "--log-dir", "logs",
                             "--client-info", "client.json", "apps/Foo.app", "./new/Foo.app"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
    EXPECT_TRUE(fs::exists(P("apps/Foo.app/Contents/Database/ZiduvozServer.Zolink")));
    EXPECT_EQ(ReadFile(P("data/Trash/files/Foo_old0001.app/Contents/marker")), "old");
    // The log went to logs/ here, and the relaunch names the bundle by its full path.
    EXPECT_TRUE(LogHasInOrder({"INFO - Updater starting - ",
                               "INFO - Restarting installed application (\"" + P("Updater.app/Contents/MacOS/open") +
                                   "\" -a \"" + P("apps/Foo.app/") + "\")...",
                               "INFO - Update successful - "}))
        << Joined(LogLines());
}

TEST_F(UpdaterEndToEndTest, TheCallerSeesEndOfFileWhileTheUpdaterStillWaitsForIt) {
    const pid_t caller = StartCaller();
    // Close-on-exec: the updater holds the pipes only as its standard streams.
    int in[2], out[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args{P("Updater.app/Contents/MacOS/updater")};
    for (const std::string& a : Update({"--pid", std::to_string(caller), "--caller-log", "1", "--log-dir", P("logs")}))
        args.push_back(a);
    pid_t pid = -1;
    // A wait far longer than the test: only the caller's end lets the update go on.
    ASSERT_EQ(vela::test::SpawnProcess(args, vela::test::UpdaterEnvironment(fRoot, {"VELA_UPDATER_MAX_WAIT_MS=600000"}),
                                       actions, pid),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);

    std::string received;
    char buffer[256];
    for (;;) {
        // Bounded: a stream left open would otherwise hang here until the caller ends.
        pollfd ready{out[0], POLLIN, 0};
        if (::poll(&ready, 1, 60000) <= 0) {
            ADD_FAILURE() << "no end of file while the updater waits";
            break;
        }
        const ssize_t got = ::read(out[0], buffer, sizeof(buffer));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        received.append(buffer, size_t(got));
    }
    ::close(out[0]);
    EXPECT_EQ(received, "waitquit,-1\n");
    // End of file came while the updater waits: its standard streams stand on /dev/null, so no file it opens
    // later takes their descriptors.
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);
    for (int fd = 0; fd <= 2; ++fd) {
        SCOPED_TRACE(fd);
        std::error_code error;
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error), "/dev/null");
    }

    ::kill(fCaller, SIGKILL);
    ::waitpid(fCaller, nullptr, 0);
    fCaller = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(in[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
}

TEST_F(UpdaterEndToEndTest, ACallerThatClosedItsEndOfThePipeDoesNotStopTheUpdate) {
    // Nobody reads the waitquit line: writing it meets a closed pipe.
    int out[2], err[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    ::close(out[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    // SIGPIPE at its default action, whatever this process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> args{P("Updater.app/Contents/MacOS/updater")};
    for (const std::string& a : Update({"--caller-log", "1", "--log-dir", P("logs")}))
        args.push_back(a);
    pid_t pid = -1;
    ASSERT_EQ(vela::test::SpawnProcess(args, vela::test::UpdaterEnvironment(fRoot, {}), actions, pid, &attributes), 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    std::string errors;
    char buffer[256];
    for (ssize_t got; (got = ::read(err[0], buffer, sizeof(buffer))) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        errors.append(buffer, size_t(got));
    }
    ::close(err[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << errors;
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
    EXPECT_TRUE(vela::test::WaitUntil([&] { return fs::exists(P("relaunched")); }));
    EXPECT_TRUE(LogHasInOrder({"INFO - Updater starting - ", "INFO - Update successful - "}));
}

TEST_F(UpdaterEndToEndTest, SilentRunsShowNothing) {
    fs::remove_all(P("apps/Foo.app"));
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_FALSE(fs::exists(P("alerts")));
    EXPECT_TRUE(LogHasInOrder({"INFO - Update failed - "}));
}

TEST_F(UpdaterEndToEndTest, ACopyThatFailsRollsBackToTheOutdatedBundle) {
    // A full disk for every file copy, through the file layer's fault seam.
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs")}),
                            {"VELA_UPDATER_FAULT=copy_file_range," + std::to_string(ENOSPC) + ",1,100000"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(fs::read_symlink(P("apps/Foo.app/Contents/Link")), "MacOS");
    EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
    EXPECT_FALSE(fs::exists(P("relaunched")));
    EXPECT_TRUE(LogHasInOrder({"INFO - Rolling back up-to-date application install",
                               "ERROR - Up-to-date application install failed", "INFO - Update failed - "}));
}

TEST_F(UpdaterEndToEndTest, AFailedRelaunchKeepsTheNewBundleAndTheOldOneAside) {
    WriteFile(P("new/Foo.app/Contents/Info.plist"), Plist("missing", "1.0"));
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(ReadFile(P("apps/Foo_old0001.app/Contents/marker")), "old");
    EXPECT_TRUE(LogHasInOrder({"ERROR - Failed to restart updated application (returned error 0 - exit status 1)",
                               "ERROR - Up-to-date application restart failed", "INFO - Update failed - "}));
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, AClientDescriptionWritesTheServerLinkAndMakesTheExecutableRunnable) {
    WriteFile(P("client.json"), R"({"ServerPlatform": "mac", "BuildIPAdress": "10.0.0.5", "BuildIPPort": "19812",
                                   "PublishName": 7, "BuildCacheFolderNameClient": "cache"})");
    ::chmod(P("new/Foo.app/Contents/MacOS/foo").c_str(), 0744);
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs"), "--client-info", P("client.json")}));
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string link = ReadFile(P("apps/Foo.app/Contents/Database/ZiduvozServer.Zolink"));
    EXPECT_NE(link.find("<database_shortcut"), std::string::npos) << link;
    EXPECT_NE(link.find(R"(server_path="10.0.0.5:19812")"), std::string::npos) << link;
    EXPECT_NE(link.find(R"(server_database_name="")"), std::string::npos) << link;
    EXPECT_NE(link.find(R"(cache_folder_name="cache")"), std::string::npos) << link;
    struct stat st {};
    ASSERT_EQ(::stat(P("apps/Foo.app/Contents/MacOS/foo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(UpdaterEndToEndTest, AClientDescriptionWithoutServerPlatformChangesNothing) {
    const std::string bad[] = {R"({"BuildIPAdress": "10.0.0.5"})", R"({"ServerPlatform": 3})", "[1]", "not json",
                               // Cut short: what was read before the cut must not be used.
                               R"({"ServerPlatform": "mac", "BuildIPAdress": )"};
    // An executable that the customisation would make runnable by all.
    ::chmod(P("new/Foo.app/Contents/MacOS/foo").c_str(), 0744);
    const vela::test::TreeManifest outdated = vela::test::ManifestOf(P("apps/Foo.app"));
    const vela::test::TreeManifest upToDate = vela::test::ManifestOf(P("new/Foo.app"));
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        WriteFile(P("client.json"), text);
        fs::remove_all(P("logs"));
        const Outcome run = Run(Update({"--silent", "--log-dir", P("logs"), "--client-info", P("client.json")}));
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(LogHasInOrder({"ERROR - The client description file cannot be read, or names no server platform.",
                                   "INFO - Update failed - "}))
            << Joined(LogLines());
        EXPECT_EQ(vela::test::Difference(vela::test::ManifestOf(P("apps/Foo.app")), outdated), "");
        EXPECT_EQ(vela::test::Difference(vela::test::ManifestOf(P("new/Foo.app")), upToDate), "");
        EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
    }
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, AFailedTrashDeletesTheOldBundleAndTheRunFails) {
    // A file where the Trash folder should be.
    fs::create_directories(P("data"));
    WriteFile(P("data/Trash"), "not a folder");
    const Outcome run = Run(Update({"--silent", "--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
    EXPECT_TRUE(vela::test::WaitUntil([&] { return fs::exists(P("relaunched")); }));
    EXPECT_TRUE(LogHasInOrder({"INFO - Up-to-date application restarted", "INFO - Update failed - "}));
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, ALogFolderThatCannotBeMadeStopsTheUpdateAndIsShownEvenWhenSilent) {
    WriteFile(P("blocker"), "a file, not a folder");
    const Outcome run = Run(Update({"--silent", "--log-dir", P("blocker/logs")}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
    const std::string alerts = ReadFile(P("alerts"));
    EXPECT_FALSE(alerts.empty());
    // No log file started: the alert points to none.
    EXPECT_EQ(alerts.find("More information"), std::string::npos) << alerts;
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, ACallerThatDoesNotQuitStopsTheUpdate) {
    const pid_t caller = StartCaller();
    fEndCaller = false;
    const Outcome run = Run(Update({"--pid", std::to_string(caller), "--silent", "--log-dir", P("logs")}),
                            {"VELA_UPDATER_MAX_WAIT_MS=600"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
    EXPECT_TRUE(LogHasInOrder(
        {"ERROR - Process " + std::to_string(caller) + " still exists after maximum wait time. Giving up.",
         "ERROR - External process wait failed", "INFO - Update failed - "}));
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, AnsweringYesOpensTheLogFile) {
    // The desktop's opener, as a stand-in that notes what it was asked to open.
    fs::create_directories(P("bin"));
    WriteFile(P("bin/xdg-open"),
              "#!/bin/sh\necho \"$1\" > '" + P("opened.tmp") + "'\nmv '" + P("opened.tmp") + "' '" + P("opened") +
                  "'\n",
              0755);
    fs::remove_all(P("apps/Foo.app"));
    // Another opener where the updater is started, and an empty PATH entry that names that folder: not run.
    PlantProgram("cwd", "xdg-open");
    fWorkDir = P("cwd");
    const Outcome run =
        Run(Update({"--log-dir", P("logs")}), {"VELA_ALERT_ANSWER=Yes", "PATH=:" + P("bin") + ":/usr/bin:/bin"});
    EXPECT_EQ(run.status, 2);
    ASSERT_TRUE(vela::test::WaitUntil([&] { return fs::exists(P("opened")); }));
    const std::string opened = ReadFile(P("opened"));
    EXPECT_EQ(opened.rfind(P("logs/"), 0), 0u) << opened;
    EXPECT_NE(opened.find("_log_1.txt"), std::string::npos) << opened;
    EXPECT_EQ(ReadFile(P("planted")), "");
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, ASignalDuringTheWaitStopsTheUpdateBeforeAnythingChanges) {
    fEndCaller = false;
    for (const int signal : {SIGTERM, SIGINT, SIGQUIT}) {
        SCOPED_TRACE(signal);
        fs::remove_all(P("logs"));
        const pid_t caller = StartCaller();
        const std::string pid = std::to_string(caller);
        fSignalAtWaitquit = signal;
        const Outcome run = Run(Update({"--pid", pid, "--caller-log", "1", "--log-dir", P("logs")}));
        // The signal ends the run as a failure, through the ordinary way out.
        EXPECT_EQ(run.status, 2) << run.err;
        // SIGINT's notice may come before the standard streams are closed.
        EXPECT_TRUE(run.out == "waitquit,-1\n" ||
                    (signal == SIGINT && run.out == "waitquit,-1\n\n (ctrl-c has been received - quit)\n\n"))
            << run.out;
        EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
        EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
        EXPECT_EQ(Names("new"), std::vector<std::string>{"Foo.app"});
        EXPECT_FALSE(fs::exists(P("data/Trash")));
        EXPECT_FALSE(fs::exists(P("relaunched")));
        EXPECT_TRUE(LogHasInOrder({"INFO - Waiting for process " + pid + " to quit",
                                   "ERROR - Quit requested while waiting for process " + pid + ". Giving up.",
                                   "ERROR - External process wait failed", "INFO - Update failed - "}));
        // Asked to quit: no alert waiting for an answer, although the run is not silent.
        EXPECT_FALSE(fs::exists(P("alerts")));
        // The caller is left alone.
        EXPECT_EQ(::kill(caller, 0), 0);
        ::kill(caller, SIGKILL);
        ::waitpid(caller, nullptr, 0);
        fCaller = 0;
    }
}

TEST_F(UpdaterEndToEndTest, TheFailureAlertIsInTheBundlesLanguage) {
    fs::create_directories(P("Updater.app/Contents/Resources/en.lproj"));
    WriteFile(P("Updater.app/Contents/Resources/en.lproj/updater.xlf"), vela::test::EnglishUpdaterTexts());
    fs::remove_all(P("apps/Foo.app"));
    const Outcome run = Run(Update({"--log-dir", P("logs")}));
    EXPECT_EQ(run.status, 2);
    const std::string alerts = ReadFile(P("alerts"));
    // The path as the error holds it, in the internal form.
    EXPECT_NE(alerts.find("Nothing at "), std::string::npos) << alerts;
    EXPECT_EQ(alerts.find("Error code: 3"), std::string::npos) << alerts;
    EXPECT_NE(alerts.find("See the log '" + P("logs/")), std::string::npos) << alerts;
    EXPECT_EQ(alerts.find("More information"), std::string::npos) << alerts;
    EXPECT_TRUE(LogHasInOrder({"ERROR - Nothing at ", "INFO - Update failed - "}));
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, AStartUpThatFailsTellsTheUserAndChangesNothing) {
    struct Case {
        const char* refusal;
        const char* message;
    };
    const Case cases[] = {
        {"system", "This application needs at least OS X 10.12"},
        {"case", "Please install the application on a case insensitive file system."},
    };
    // The install folder's check looks at the updater's own resources folder.
    fs::create_directories(P("Updater.app/Contents/Resources"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusal);
        fs::remove(P("alerts"));
        const Outcome run =
            Run(Update({"--log-dir", P("logs")}), {std::string("VELA_UPDATER_REFUSE_STARTUP=") + c.refusal});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        const std::string alerts = ReadFile(P("alerts"));
        EXPECT_NE(alerts.find("Initialization failed"), std::string::npos) << alerts;
        EXPECT_NE(alerts.find(c.message), std::string::npos) << alerts;
        EXPECT_FALSE(fs::exists(P("logs")));
        EXPECT_EQ(ReadFile(P("apps/Foo.app/Contents/marker")), "old");
        EXPECT_EQ(Names("new"), std::vector<std::string>{"Foo.app"});
    }
}

} // namespace

namespace {

TEST_F(UpdaterEndToEndTest, TheRestartParametersAndHeadlessReachTheRelaunchedApplication) {
    // One argument a line, brackets around each: spaces, quotes and backslashes show exactly as received.
    const std::string args = P("args");
    WriteFile(P("new/Foo.app/Contents/MacOS/foo"),
              "#!/bin/sh\nprintf '[%s]\\n' \"$@\" > '" + args + ".tmp'\nmv '" + args + ".tmp' '" + args + "'\n", 0755);
    const std::string odd = P("links/a \"quoted\" \\ name.Zolink");
    struct Case {
        std::vector<std::string> options;
        std::string received;
    };
    const Case cases[] = {
        {{"--restart-params", P("server.Zolink"), "--restart-headless"},
         "[" + P("server.Zolink") + "]\n[--headless]\n"},
        {{"--restart-params", odd}, "[" + odd + "]\n"},
        {{"--restart-headless"}, "[--headless]\n"},
        {{}, "[]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.received);
        const Outcome run = Run(Update(c.options));
        EXPECT_EQ(run.status, 0) << run.err;
        ASSERT_TRUE(vela::test::WaitUntil([&] { return fs::exists(args); }));
        EXPECT_EQ(ReadFile(args), c.received);
        // The next case starts from the outdated bundle again.
        fs::remove(args);
        fs::remove_all(P("apps/Foo.app"));
        fs::remove_all(P("data"));
        MakeBundle("apps/Foo.app", "old");
    }
}

} // namespace

namespace {

using vela::test::StSmallDisk;

class UpdaterFullDiskTest : public UpdaterEndToEndTest {
protected:
    // An up-to-date bundle larger than the small disk: 4 MB in one file.
    void SetUp() override {
        UpdaterEndToEndTest::SetUp();
        WriteFile(P("new/Foo.app/Contents/Resources.bin"), std::string(size_t(4) << 20, 'n'));
    }

    // Runs the update with a real caller, the disk filling up during the copy, and checks the roll-back: the
    // outdated bundle byte for byte, exit 2, and the reason in the log.
    void ExpectRollBack(const std::vector<std::string>& extraEnv) {
        const vela::test::TreeManifest before = vela::test::ManifestOf(P("apps/Foo.app"));
        const pid_t caller = StartCaller();
        const Outcome run =
            Run(Update({"--pid", std::to_string(caller), "--caller-log", "1", "--silent", "--log-dir", P("logs")}),
                extraEnv);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "waitquit,-1\n");
        EXPECT_EQ(vela::test::Difference(vela::test::ManifestOf(P("apps/Foo.app")), before), "");
        EXPECT_EQ(Names("apps"), std::vector<std::string>{"Foo.app"});
        EXPECT_FALSE(fs::exists(P("relaunched")));
        EXPECT_TRUE(LogHasInOrder({"INFO - Rolling back up-to-date application install",
                                   "ERROR - Up-to-date application install failed", "ERROR - No space left on device",
                                   "INFO - Update failed - "}))
            << Joined(LogLines());
    }
};

TEST_F(UpdaterFullDiskTest, AFullFileSystemRollsBackToTheOutdatedBundle) {
    // The outdated bundle lives on a 2 MB disk of its own.
    fs::remove_all(P("apps"));
    fs::create_directory(P("apps"));
    StSmallDisk disk(P("apps"), "2m");
    if (!disk.IsMounted()) GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(disk.Error());
    MakeBundle("apps/Foo.app", "old");
    ExpectRollBack({});
}

TEST_F(UpdaterFullDiskTest, AFullDiskFromTheFaultSeamRollsBackToTheOutdatedBundle) {
    // Every file copy meets the full disk, the fast whole-tree copy and the item-by-item one that follows it.
    ExpectRollBack({"VELA_UPDATER_FAULT=copy_file_range," + std::to_string(ENOSPC) + ",1,1000000"});
}

} // namespace
