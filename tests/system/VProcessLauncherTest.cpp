#include "system/VProcessLauncher.h"

#include "core/IFiberScheduler.h"
#include "core/VErrorContext.h"
#include "files/VFilePath.h"
#include "support/RecordingRaiser.h"
#include "support/TaskTestSupport.h"
#include "system/platform/XPosixProcessLauncher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

using test::WaitUntil;

std::string ToUtf8(const VString& text) {
    std::string out(size_t(text.GetLength()) * 3 + 1, '\0');
    out.resize(text.ToBlock(out.data(), out.size(), VTC_UTF_8, false, false));
    return out;
}

VString FromUtf8(const std::string& text) {
    return VString(text.data(), text.size(), VTC_UTF_8);
}

std::string Text(const VProcessOutputBuffer& buffer) {
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

std::vector<std::string> Split(const std::string& text) {
    // A block of exactly the text's size, so that a read past its end is caught by the address sanitizer.
    auto block = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), block.get());
    std::vector<VString> tokens;
    int32 count = XPosixProcessLauncher::SplitCommandLine(block.get(), text.size(), tokens);
    std::vector<std::string> out;
    for (const VString& token : tokens)
        out.push_back(ToUtf8(token));
    EXPECT_EQ(size_t(count), out.size());
    return out;
}

// The state letter of pid in /proc ('Z' zombie, 'T' stopped), '?' when it is gone.
char ProcessState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

// Whether pid is gone or a zombie (a child of someone else that ended).
bool HasEnded(pid_t pid) {
    char state = ProcessState(pid);
    return state == '?' || state == 'Z';
}

struct SplitCase {
    const char* text;
    std::vector<std::string> tokens;
};

TEST(XPosixProcessLauncherSplit, TokensQuotesAndEscapes) {
    const SplitCase cases[] = {
        {"open -a \"/Applications/My App.app\" --args", {"open", "-a", "/Applications/My App.app", "--args"}},
        // A closing quote at the very end: nothing after it may be read or skipped.
        {"open -a \"/Applications/My App.app\"", {"open", "-a", "/Applications/My App.app"}},
        {"\"abc\"d e", {"abc", "e"}},
        {"a\\ b c", {"a b", "c"}},
        {"\"say \\\"hi\\\"\" x", {"say \"hi\"", "x"}},
        {"a\\\\b", {"a\\b"}},
        {"\"unterminated text", {"unterminated text"}},
        {"'it\"s' x", {"it\"s", "x"}},
        {"\"\" x", {"", "x"}},
        {"  a   b  ", {"a", "b"}},
        {"a\tb c", {"a\tb", "c"}},
        {"trailing\\", {"trailing"}},
        {"\"open\\", {"open"}},
        {"", {}},
        {"   ", {}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(Split(c.text), c.tokens) << c.text;
}

TEST(VProcessLauncherRun, ExitStatusesAndStreams) {
    struct Case {
        const char* commandLine;
        int32 status;
        const char* output;
        const char* errors;
    };
    const Case cases[] = {
        {"/bin/true", 0, "", ""},
        {"false", 1, "", ""},
        {"sh -c \"echo out; echo err >&2; exit 3\"", 3, "out\n", "err\n"},
        // Killed by a signal.
        {"sh -c \"kill -9 $$\"", -127, "", ""},
        // A path with characters of three UTF-8 bytes each survives the conversion whole.
        {"printf %s \"/tmp/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/x\"", 0,
         "/tmp/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/x", ""},
    };
    for (const Case& c : cases) {
        VProcessOutputBuffer output, errors;
        int32 status = 99;
        EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(FromUtf8(c.commandLine), 0, nullptr, &output, &errors, nullptr,
                                                       nullptr, &status),
                  0)
            << c.commandLine;
        EXPECT_EQ(status, c.status) << c.commandLine;
        EXPECT_EQ(Text(output), c.output) << c.commandLine;
        EXPECT_EQ(Text(errors), c.errors) << c.commandLine;
    }
}

TEST(VProcessLauncherRun, UnknownProgramFailsToStart) {
    VProcessOutputBuffer output;
    int32 status = 99;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine("/nonexistent/program", 0, nullptr, &output, nullptr, nullptr,
                                                   nullptr, &status),
              ENOENT);
    EXPECT_EQ(status, 99);
}

TEST(VProcessLauncherRun, InputLargerThanAPipeGoesThroughCat) {
    // cat writes back while it is still being fed: writing the whole input first would block both sides.
    VProcessOutputBuffer input, output;
    std::string data;
    for (int i = 0; data.size() < 1000000; ++i)
        data += std::to_string(i) + '\n';
    ASSERT_TRUE(input.AddData(data.data(), data.size()));
    int32 status = 99;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine("cat", 0, &input, &output, nullptr, nullptr, nullptr, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(Text(output) == data);
}

TEST(VProcessLauncherRun, InputToAChildThatReadsNothingDoesNotEndUs) {
    // The child ends without reading: writing on raises SIGPIPE, which must not reach this process.
    VProcessOutputBuffer input, output;
    ASSERT_TRUE(input.SetSize(1000000));
    int32 status = 99;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine("sh -c \"exit 6\"", 0, &input, &output, nullptr, nullptr, nullptr,
                                                   &status),
              0);
    EXPECT_EQ(status, 6);

    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("true");
    ASSERT_EQ(launcher.Start(), 0);
    pid_t pid = launcher.GetPid();
    ASSERT_TRUE(WaitUntil([&] { return HasEnded(pid); }));
    // The child is gone but not reaped: the launcher still takes writes, which fail.
    EXPECT_EQ(launcher.WriteToChild("x", 1, false), -1);
    EXPECT_EQ(errno, EPIPE);
}

TEST(VProcessLauncherRun, OutputBeyondThePipeOnBothStreamsWithAnyBuffers) {
    // 300000 bytes on each stream: far more than a pipe holds, so an undrained stream blocks the child.
    const char* commandLine = "sh -c \"head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2; exit 5\"";
    struct Case {
        bool withOutput;
        bool withErrors;
    };
    for (Case c : {Case{true, true}, Case{true, false}, Case{false, true}, Case{false, false}}) {
        VProcessOutputBuffer output, errors;
        int32 status = 99;
        ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(commandLine, 0, nullptr, c.withOutput ? &output : nullptr,
                                                       c.withErrors ? &errors : nullptr, nullptr, nullptr, &status),
                  0);
        EXPECT_EQ(status, 5);
        EXPECT_EQ(output.GetDataSize(), c.withOutput ? 300000u : 0u);
        EXPECT_EQ(errors.GetDataSize(), c.withErrors ? 300000u : 0u);
    }
}

TEST(VProcessLauncherRun, EnvironmentAndDirectory) {
    VEnvironmentVariables environment;
    environment[VString("GREETING")] = VString("hello");
    VFilePath directory(VString("/tmp/"), FPS_POSIX);
    VProcessOutputBuffer output;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine("/bin/sh -c \"echo $GREETING ${HOME-unset}; pwd\"", 0, nullptr,
                                                   &output, nullptr, &environment, &directory),
              0);
    // Given variables replace the inherited environment.
    EXPECT_EQ(Text(output), "hello unset\n/tmp\n");
}

TEST(VProcessLauncherRun, ExtraArgumentsAreAppendedAsTheyAre) {
    std::vector<VString> extra = {VString("two words"), VString(), VString("\"q\"")};
    VProcessOutputBuffer output;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine("printf [%s]", 0, nullptr, &output, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, &extra),
              0);
    EXPECT_EQ(Text(output), "[two words][\"q\"]");
}

TEST(VProcessLauncherRun, TimeOutKillsTheChildAndRaises) {
    test::RecordingRaiser raiser;
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sleep 60");
    launcher.SetWaitClosingChildProcess(100);
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_EQ(launcher.Shutdown(false, false), 0);
    EXPECT_EQ(launcher.GetExitStatus(), -127);
    EXPECT_EQ(launcher.GetPid(), 0);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_PROCESS_TIMED_OUT});
}

TEST(VProcessLauncherRun, ChildEndingBeforeItsTimeRaisesNothing) {
    test::RecordingRaiser raiser;
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("true");
    launcher.SetWaitClosingChildProcess(60000);
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_EQ(launcher.Shutdown(false, false), 0);
    EXPECT_EQ(launcher.GetExitStatus(), 0);
    EXPECT_TRUE(raiser.Codes().empty());
}

TEST(VProcessLauncherRun, DoNotWaitReturnsWithTheChildRunning) {
    VProcessLauncher* kept = nullptr;
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine("sleep 60", VProcessLauncher::kDoNotWait, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, &kept),
              0);
    ASSERT_NE(kept, nullptr);
    std::unique_ptr<VProcessLauncher> launcher(kept);
    EXPECT_TRUE(launcher->IsRunning());
    EXPECT_GT(launcher->GetPid(), 0);
    // Terminating reaps it: SIGTERM ends sleep.
    EXPECT_EQ(launcher->Shutdown(true, false), 0);
    EXPECT_FALSE(launcher->IsRunning());
    EXPECT_EQ(launcher->GetExitStatus(), -127);
}

TEST(VProcessLauncherRun, DetachedChildWritesAfterTheLauncherIsGone) {
    // The child writes only once ExecuteCommandLine has returned: a pipe without reader would end it then.
    char folder[] = "/tmp/vela-launcher-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string fifo = std::string(folder) + "/go", mark = std::string(folder) + "/alive";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string commandLine = "sh -c \"read x < " + fifo + "; echo out; echo err >&2; echo yes > " + mark + "\"";
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(FromUtf8(commandLine), VProcessLauncher::kDoNotWait, nullptr,
                                                   nullptr, nullptr),
              0);
    std::ofstream(fifo) << "go\n";
    EXPECT_TRUE(WaitUntil([&] { return std::ifstream(mark).good(); }));
    unlink(fifo.c_str());
    unlink(mark.c_str());
    rmdir(folder);
}

TEST(VProcessLauncherRun, ReapedChildLeavesNoPid) {
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sh -c \"exit 7\"");
    ASSERT_EQ(launcher.Start(), 0);
    pid_t pid = launcher.GetPid();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return !launcher.IsRunning(); }));
    EXPECT_EQ(launcher.GetPid(), 0);
    EXPECT_EQ(launcher.GetExitStatus(), 7);
    // Reaped: the pid is no child of ours any more.
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(VProcessLauncherRun, StoppedChildStillRuns) {
    // A stopped child is not reaped: taking its stop for an end would lose its pid and its real status.
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sleep 60");
    launcher.SetWaitClosingChildProcess(0);
    ASSERT_EQ(launcher.Start(), 0);
    pid_t pid = launcher.GetPid();
    ASSERT_EQ(kill(pid, SIGSTOP), 0);
    ASSERT_TRUE(WaitUntil([&] { return ProcessState(pid) == 'T'; }));
    EXPECT_TRUE(launcher.IsRunning());
    EXPECT_EQ(launcher.GetPid(), pid);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    EXPECT_TRUE(WaitUntil([&] { return !launcher.IsRunning(); }));
    EXPECT_EQ(launcher.GetExitStatus(), -127);
}

TEST(VProcessLauncherRun, ReadingByHandUntilTheEnd) {
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sh -c \"read line; echo got $line; echo oops >&2\"");
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_EQ(launcher.WriteToChild("ping\n", 5, true), 5);
    EXPECT_EQ(launcher.WriteToChild("late", 4, false), -1);
    std::string output, errors;
    char buffer[16];
    bool outputOpen = true, errorsOpen = true;
    while (outputOpen || errorsOpen) {
        int32 ready = launcher.WaitForData();
        ASSERT_NE(ready, 0);
        if (ready & 1) {
            int32 got = launcher.ReadFromChild(buffer, sizeof buffer);
            if (got > 0) output.append(buffer, size_t(got));
            outputOpen = got >= 0;
        }
        if (ready & 2) {
            int32 got = launcher.ReadErrorFromChild(buffer, sizeof buffer);
            if (got > 0) errors.append(buffer, size_t(got));
            errorsOpen = got >= 0;
        }
    }
    EXPECT_EQ(output, "got ping\n");
    EXPECT_EQ(errors, "oops\n");
    EXPECT_EQ(launcher.ReadFromChild(nullptr, 4), -1);
    EXPECT_EQ(launcher.ReadFromChild(buffer, 0), -1);
    EXPECT_EQ(launcher.Shutdown(false, false), 0);
    EXPECT_EQ(launcher.GetExitStatus(), 0);
}

TEST(VProcessLauncherRun, ReadFromChildAndShutdownHandsOverEveryPiece) {
    for (bool withErrorCallback : {true, false}) {
        VProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(
            "sh -c \"head -c 200000 /dev/zero; head -c 100000 /dev/zero >&2; exit 2\"");
        ASSERT_EQ(launcher.Start(), 0);
        size_t output = 0, errors = 0;
        std::function<void(const void*, size_t)> onError;
        if (withErrorCallback) onError = [&](const void*, size_t size) { errors += size; };
        EXPECT_EQ(launcher.ReadFromChildAndShutdown([&](const void*, size_t size) { output += size; }, onError), 0);
        EXPECT_EQ(output, 200000u);
        EXPECT_EQ(errors, withErrorCallback ? 100000u : 0u);
        EXPECT_EQ(launcher.GetExitStatus(), 2);
    }
}

TEST(VProcessLauncherRun, ShutdownDrainsOutputNobodyReads) {
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sh -c \"head -c 500000 /dev/zero; exit 4\"");
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_EQ(launcher.Shutdown(false, false), 0);
    EXPECT_EQ(launcher.GetExitStatus(), 4);
}

TEST(VProcessLauncherRun, AbandonedChildIsReapedByALaterStart) {
    pid_t pid = 0;
    {
        auto launcher = std::make_unique<VProcessLauncher>();
        // cat ends when its input closes, which the launcher's end does.
        launcher->CreateArgumentsFromFullCommandLine("cat");
        ASSERT_EQ(launcher->Start(), 0);
        pid = launcher->GetPid();
    }
    ASSERT_TRUE(WaitUntil([&] { return HasEnded(pid); }));
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine("true", 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(VProcessLauncherRun, TreeKillEndsTheChildsGroup) {
    char path[] = "/tmp/vela-launcher-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string commandLine = std::string("sh -c \"sleep 60 </dev/null >/dev/null 2>&1 & echo $! >") + path + "\"";
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(FromUtf8(commandLine), 0, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr, true, true),
              0);
    pid_t sleeper = 0;
    std::ifstream(path) >> sleeper;
    unlink(path);
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(WaitUntil([&] { return HasEnded(sleeper); }));
}

TEST(VProcessLauncherRun, KillProcessRefusesGroupsAndSignalsAChild) {
    // 0 and -1 would signal this test's own group, or every process it may signal.
    EXPECT_FALSE(VProcessLauncher::KillProcess(0));
    EXPECT_FALSE(VProcessLauncher::KillProcess(-1));
    VProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("sleep 60");
    launcher.SetWaitClosingChildProcess(0);
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_TRUE(VProcessLauncher::KillProcess(launcher.GetPid()));
    EXPECT_TRUE(WaitUntil([&] { return !launcher.IsRunning(); }));
    EXPECT_EQ(launcher.GetExitStatus(), -127);
}

TEST(VProcessLauncherRun, BareNamesAreSearchedOnPathOnlyNeverInTheWorkingFolder) {
    char folder[] = "/tmp/vela-launcher-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    // Planted where the child's caller stands: neither may ever run.
    for (const char* name : {"true", "vela-nowhere-else"}) {
        const std::string program = std::string(folder) + "/" + name;
        std::ofstream(program) << "#!/bin/sh\necho planted\n";
        ASSERT_EQ(chmod(program.c_str(), 0700), 0);
    }
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    const char* savedPath = getenv("PATH");
    const std::string path = savedPath != nullptr ? savedPath : "/usr/bin:/bin";

    struct Case {
        const char* command;
        const char* pathValue; // PATH during the run ("" and "." name the working folder)
        bool runs;
    };
    const std::string withEmptyEntries = ":" + path + ":";
    const std::string withDot = ".:" + path;
    const Case cases[] = {{"true", path.c_str(), true},
                          {"true", withEmptyEntries.c_str(), true},
                          {"true", withDot.c_str(), true},
                          {"vela-nowhere-else", path.c_str(), false},
                          {"vela-nowhere-else", withEmptyEntries.c_str(), false},
                          {"vela-nowhere-else", withDot.c_str(), false}};
    ASSERT_EQ(chdir(folder), 0);
    for (const Case& c : cases) {
        setenv("PATH", c.pathValue, 1);
        XPosixProcessLauncher launcher;
        launcher.CreateArgumentsFromFullCommandLine(c.command);
        VProcessOutputBuffer output;
        int32 result = VProcessLauncher::ExecuteCommandLine(c.command, 0, nullptr, &output, nullptr);
        EXPECT_NE(Text(output), "planted\n") << c.command << " PATH=" << c.pathValue;
        if (c.runs) {
            EXPECT_EQ(result, 0) << c.command << " PATH=" << c.pathValue;
            ASSERT_EQ(launcher.Start(), 0);
            EXPECT_EQ(launcher.GetBinaryPath().front(), '/');
            EXPECT_EQ(launcher.Shutdown(false, false), 0);
        } else {
            EXPECT_EQ(result, ENOENT) << c.command << " PATH=" << c.pathValue;
        }
    }
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(chdir(previous), 0);
    // A path with '/' is the caller's explicit choice: it runs as given.
    VProcessOutputBuffer output;
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(VString((std::string(folder) + "/true").c_str()), 0, nullptr,
                                                   &output, nullptr),
              0);
    EXPECT_EQ(Text(output), "planted\n");
    std::filesystem::remove_all(folder);
}

TEST(VProcessLauncherRun, WaitForDataSeesTheEndOfAChildWithoutPipes) {
    XPosixProcessLauncher launcher;
    launcher.CreateArgumentsFromFullCommandLine("true");
    launcher.SetRedirectStandardOutput(false);
    launcher.SetRedirectStandardInput(false);
    ASSERT_EQ(launcher.Start(), 0);
    EXPECT_EQ(launcher.WaitForData(), 4);
    EXPECT_FALSE(launcher.IsRunning());
    EXPECT_EQ(launcher.GetPid(), 0);
}

TEST(VProcessLauncherRun, QuotedArgumentKeepsItsQuotes) {
    VProcessLauncher launcher;
    launcher.SetBinaryPath("printf");
    launcher.AddArgument("[%s]");
    launcher.AddArgument("a b", true);
    ASSERT_EQ(launcher.Start(), 0);
    std::string output;
    EXPECT_EQ(launcher.ReadFromChildAndShutdown(
                  [&](const void* data, size_t size) { output.append(static_cast<const char*>(data), size); }, {}),
              0);
    EXPECT_EQ(output, "[\"a b\"]");
}

// A fifo a child waits on: opened (and so released) by Open, or by a watchdog once boundMs passed, so that a
// fault that blocks the test until the child goes on ends in a failed check rather than a hang.
class FifoGate {
public:
    explicit FifoGate(int32 boundMs) {
        if (mkdtemp(fFolder) == nullptr) return;
        fPath = std::string(fFolder) + "/gate";
        if (mkfifo(fPath.c_str(), 0600) != 0) return;
        fWatchdog = std::thread([this, boundMs] {
            std::unique_lock<std::mutex> hold(fLock);
            if (fWake.wait_for(hold, std::chrono::milliseconds(boundMs), [this] { return fCancelled; })) return;
            fFired = true;
            hold.unlock();
            Release();
        });
    }
    ~FifoGate() {
        {
            std::lock_guard<std::mutex> hold(fLock);
            fCancelled = true;
        }
        fWake.notify_all();
        if (fWatchdog.joinable()) fWatchdog.join();
        unlink(fPath.c_str());
        rmdir(fFolder);
    }
    FifoGate(const FifoGate&) = delete;
    FifoGate& operator=(const FifoGate&) = delete;

    const std::string& Path() const { return fPath; }
    // Lets a child blocked in "read x < gate" go on (waits until it opened the fifo).
    void Release() { std::ofstream(fPath) << "go\n"; }
    // Whether the watchdog had to release the child.
    bool Fired() {
        std::lock_guard<std::mutex> hold(fLock);
        return fFired;
    }
    // Non-blocking: true when a child has the fifo open for reading, and then it is released.
    bool TryRelease() {
        int fd = open(fPath.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return false;
        bool written = write(fd, "go\n", 3) == 3;
        close(fd);
        return written;
    }

private:
    char fFolder[32] = "/tmp/vela-launcher-XXXXXX";
    std::string fPath;
    std::mutex fLock;
    std::condition_variable fWake;
    bool fCancelled = false;
    bool fFired = false;
    std::thread fWatchdog;
};

TEST(VProcessLauncherRun, DoNotWaitWithInputLargerThanAPipeReturnsAtOnce) {
    FifoGate gate(5000);
    ASSERT_FALSE(gate.Path().empty());
    char folder[] = "/tmp/vela-launcher-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string received = std::string(folder) + "/received";
    // The child reads nothing until the gate opens; four pipes' worth of input waits meanwhile.
    VProcessOutputBuffer input;
    std::string bytes(4 * 65536 + 7, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char('a' + i % 26);
    ASSERT_TRUE(input.AddData(bytes.data(), bytes.size()));
    std::string commandLine = "sh -c \"read x < " + gate.Path() + "; cat > " + received + "\"";
    ASSERT_EQ(VProcessLauncher::ExecuteCommandLine(FromUtf8(commandLine), VProcessLauncher::kDoNotWait, &input, nullptr,
                                                   nullptr),
              0);
    EXPECT_FALSE(gate.Fired()) << "returned only once the child read";
    ASSERT_TRUE(WaitUntil([&] { return gate.Fired() || gate.TryRelease(); }));
    // Fed in the background, whole, after the call returned.
    auto content = [&] {
        std::ifstream in(received, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(WaitUntil([&] { return content().size() == bytes.size(); }));
    EXPECT_EQ(content(), bytes);
    unlink(received.c_str());
    rmdir(folder);
}

// Counts the yields of the fiber that waits, and opens the gate of the child it waits for at the first.
class GateOpeningScheduler : public VScheduler_void {
public:
    explicit GateOpeningScheduler(FifoGate& gate) : fGate(gate) {}
    void Yield() override {
        ++fYields;
        fGate.TryRelease();
    }
    void YieldNow() override { Yield(); }
    int32 Yields() const { return fYields; }

private:
    FifoGate& fGate;
    int32 fYields = 0;
};

TEST(VProcessLauncherRun, WaitingOnAFiberYields) {
    test::StTaskMgrScope scope(true);
    ASSERT_TRUE(scope.IsInited());
    FifoGate gate(5000);
    ASSERT_FALSE(gate.Path().empty());
    auto scheduler = VRefPtr<GateOpeningScheduler>::Adopt(new GateOpeningScheduler(gate));
    VTaskMgr::Get()->SetFiberScheduler(scheduler.Get());
    VProcessOutputBuffer output;
    int32 status = -1;
    std::string commandLine = "sh -c \"read x < " + gate.Path() + "; echo done\"";
    EXPECT_EQ(VProcessLauncher::ExecuteCommandLine(FromUtf8(commandLine), 0, nullptr, &output, nullptr, nullptr,
                                                   nullptr, &status),
              0);
    auto idle = VRefPtr<VScheduler_void>::Adopt(new VScheduler_void);
    VTaskMgr::Get()->SetFiberScheduler(idle.Get());
    EXPECT_FALSE(gate.Fired()) << "the wait never yielded";
    EXPECT_GT(scheduler->Yields(), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Text(output), "done\n");
}

} // namespace
} // namespace vela
