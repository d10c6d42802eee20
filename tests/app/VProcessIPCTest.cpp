#include "app/VProcessIPC.h"
#include "app/VLogger.h"
#include "app/platform/XPosixProcessIPC.h"
#include "core/ILogListener.h"
#include "core/ILoggerBagKeys.h"
#include "core/StStringConverter.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "system/VFileSystemNotifier.h"
#include "system/VSleepNotifier.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vela {
namespace {

TEST(ProcessArguments, DropOnlyTheProcessSerialNumber) {
    struct Case {
        std::vector<const char*> raw;
        std::vector<const char*> kept;
    };
    const Case cases[] = {
        {{"tool", "-psn_0_12345", "a"}, {"tool", "a"}},
        {{"tool", "-psn", "-psn_", "x-psn_"}, {"tool", "-psn", "x-psn_"}},
        {{"tool", "", "\xC3\xA9t\xC3\xA9"}, {"tool", "", "\xC3\xA9t\xC3\xA9"}},
        {{}, {}},
    };
    int savedArgc = sProcessCommandLineArgc;
    char** savedArgv = sProcessCommandLineArgv;
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.raw)
            argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        sProcessCommandLineArgc = int(c.raw.size());
        sProcessCommandLineArgv = argv.data();
        std::vector<VString> arguments = VProcessIPC::GetArguments();
        ASSERT_EQ(arguments.size(), c.kept.size());
        for (size_t i = 0; i < c.kept.size(); ++i) {
            std::string utf8(c.kept[i]);
            EXPECT_EQ(arguments[i], VString(utf8.data(), utf8.size(), VTC_UTF_8)) << i;
        }
    }
    sProcessCommandLineArgc = savedArgc;
    sProcessCommandLineArgv = savedArgv;
}

TEST(ProcessArguments, AreRecordedWhenTheLibraryLoads) {
    ASSERT_GE(sProcessCommandLineArgc, 1);
    ASSERT_NE(sProcessCommandLineArgv, nullptr);
    EXPECT_EQ(std::string(sProcessCommandLineArgv[0]).find("app_tests") != std::string::npos, true);
}

constexpr int kBoundMs = 30000;

void (*CurrentHandler(int signal))(int) {
    struct sigaction current = {};
    sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

TEST(ToolProcessInProcess, SignalAsksTheRunningProcessToQuitAndHandlersGoWithIt) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    int savedArgc = sProcessCommandLineArgc;
    sProcessCommandLineArgc = 1;
    // Two tools one after the other: the second must not see the first one's signal.
    for (int round = 0; round < 2; ++round) {
        {
            VProcessIPC tool;
            ASSERT_TRUE(tool.Init(0));
            EXPECT_EQ(tool.GetExitStatus(), 0);
            EXPECT_NE(CurrentHandler(SIGTERM), SIG_DFL);
            ASSERT_TRUE(tool.IsRunning()) << round;
            ASSERT_EQ(raise(SIGTERM), 0);
            // The watcher, not the handler, kills the main task: wait for it, bounded.
            VTask* main = VTaskMgr::Get()->GetMainTask();
            for (int i = 0; i < kBoundMs / 10 && tool.IsRunning(); ++i)
                main->ExecuteMessagesWithTimeout(10, false);
            EXPECT_FALSE(tool.IsRunning()) << round;
        }
        for (int signal : {SIGTERM, SIGINT, SIGQUIT})
            EXPECT_EQ(CurrentHandler(signal), SIG_DFL) << signal;
        EXPECT_FALSE(VTaskMgr::IsInited());
    }
    sProcessCommandLineArgc = savedArgc;
}

// A tool whose command line answers a fixed code.
class VCodeTool : public VProcessIPC {
public:
    explicit VCodeTool(uint32 code) : fCode(code) {}

protected:
    uint32 DoParseCommandLine(VCommandLineParser&) override { return fCode; }

private:
    uint32 fCode;
};

// Keeps the message texts of the records it is handed.
class MessageListener : public VObject, public ILogListener {
public:
    void Put(const std::vector<const VValueBag*>& bags) override {
        std::lock_guard<std::mutex> guard(fLock);
        for (const VValueBag* bag : bags) {
            VString message;
            ILoggerBagKeys::message.Get(*bag, message);
            fMessages.push_back(to_string(message));
        }
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> guard(fLock);
        return fMessages;
    }

private:
    std::mutex fLock;
    std::vector<std::string> fMessages;
};

TEST(ToolProcessInProcess, SleepAndWakeUpGoToTheProcessLog) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    int savedArgc = sProcessCommandLineArgc;
    sProcessCommandLineArgc = 1;
    {
        VCodeTool tool(0);
        ASSERT_TRUE(tool.Init(eProcessInit_Logger));
        ASSERT_NE(tool.GetSleepNotifier(), nullptr);
        auto listener = VRefPtr<MessageListener>::Adopt(new MessageListener);
        ASSERT_TRUE(tool.GetLogger()->AddLogListener(listener.Get()));
        tool.GetSleepNotifier()->HaveSleepNotification();
        tool.GetSleepNotifier()->HaveWakeupNotification();
        tool.GetLogger()->Flush();
        std::vector<std::string> messages = listener->Messages();
        auto has = [&](const char* text) {
            return std::find(messages.begin(), messages.end(), text) != messages.end();
        };
        EXPECT_TRUE(has("System is going to sleep"));
        EXPECT_TRUE(has("System woke up from sleep"));
        tool.GetLogger()->RemoveLogListener(listener.Get());
    }
    sProcessCommandLineArgc = savedArgc;
}

// The notifiers come with an accepted command line (the file-system one only when asked for) and go with the
// tool.
TEST(ToolProcessInProcess, NotifiersComeWithAnAcceptedCommandLine) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    int savedArgc = sProcessCommandLineArgc;
    sProcessCommandLineArgc = 1;
    struct Case {
        uint32 code;
        uint32 flags;
        bool sleep;
        bool fileSystem;
    };
    const Case cases[] = {
        {0, eProcessInit_FileSystemNotifier, true, true},
        {0, 0, true, false},
        {2, eProcessInit_FileSystemNotifier, false, false},
        {1, eProcessInit_FileSystemNotifier, false, false},
    };
    for (const Case& c : cases) {
        {
            VCodeTool tool(c.code);
            EXPECT_EQ(tool.Init(c.flags), c.code == 0) << c.code;
            EXPECT_EQ(tool.GetSleepNotifier() != nullptr, c.sleep) << c.code;
            EXPECT_EQ(tool.GetFileSystemNotifier() != nullptr, c.fileSystem) << c.code;
            EXPECT_EQ(VSleepNotifier::Instance(), tool.GetSleepNotifier());
            EXPECT_EQ(VFileSystemNotifier::Instance(), tool.GetFileSystemNotifier());
        }
        EXPECT_EQ(VSleepNotifier::Instance(), nullptr);
        EXPECT_EQ(VFileSystemNotifier::Instance(), nullptr);
        EXPECT_FALSE(VTaskMgr::IsInited());
    }
    sProcessCommandLineArgc = savedArgc;
}

// The test tool as a child, its standard output read through a pipe.
class ToolChild {
public:
    explicit ToolChild(const std::vector<std::string>& arguments) {
        int fds[2];
        int in[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        if (pipe2(in, O_CLOEXEC) != 0) return;
        std::vector<char*> argv{const_cast<char*>(VELA_TEST_TOOL)};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        if (posix_spawn(&fPid, VELA_TEST_TOOL, &actions, nullptr, argv.data(), environ) != 0) fPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        close(in[0]);
        fOut = fds[0];
        fIn = in[1];
    }
    ~ToolChild() {
        if (fPid > 0) {
            kill(fPid, SIGKILL);
            waitpid(fPid, nullptr, 0);
        }
        if (fOut >= 0) close(fOut);
        CloseInput();
    }
    // Ends the child's standard input.
    void CloseInput() {
        if (fIn >= 0) close(fIn);
        fIn = -1;
    }

    pid_t Pid() const { return fPid; }
    // Reads until text has appeared (true) or the output ended or the bound passed (false).
    bool ReadUntil(const std::string& text) {
        while (fOutput.find(text) == std::string::npos) {
            if (!_ReadSome()) return false;
        }
        return true;
    }
    // Reads to the end of the output and answers the exit status (-1 when it did not exit normally).
    int Finish() {
        int status = FinishRaw();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The same, answering the wait status.
    int FinishRaw() {
        while (_ReadSome()) {
        }
        int status = 0;
        pid_t pid = fPid;
        fPid = -1;
        return waitpid(pid, &status, 0) == pid ? status : -1;
    }
    const std::string& Output() const { return fOutput; }

private:
    bool _ReadSome() {
        pollfd p{fOut, POLLIN, 0};
        if (poll(&p, 1, kBoundMs) <= 0) return false;
        char buffer[512];
        ssize_t n = read(fOut, buffer, sizeof buffer);
        if (n <= 0) return false;
        fOutput.append(buffer, size_t(n));
        return true;
    }

    pid_t fPid = -1;
    int fOut = -1;
    int fIn = -1;
    std::string fOutput;
};

TEST(ToolProcess, QuitSignalsEndTheRunWithTheToolsStatus) {
    struct Case {
        int signal;
        const char* status;
        bool echoes;
    };
    const Case cases[] = {{SIGINT, "3", true}, {SIGTERM, "0", false}, {SIGTERM, "7", false}};
    for (const Case& c : cases) {
        ToolChild child({"--status", c.status, "one"});
        ASSERT_GT(child.Pid(), 0);
        ASSERT_TRUE(child.ReadUntil("ready\n")) << child.Output();
        ASSERT_EQ(kill(child.Pid(), c.signal), 0);
        EXPECT_EQ(child.Finish(), std::stoi(c.status)) << c.signal;
        const std::string echo = XPosixProcessIPC::kInterruptText;
        EXPECT_EQ(child.Output(), std::string("arg:one\nready\n") + (c.echoes ? echo : "") + "quit\n") << c.signal;
    }
}

TEST(ToolProcess, OnlySIGQUITIsHandledOnce) {
    // The default action of SIGQUIT dumps core: not here.
    rlimit noCore{0, 0};
    rlimit saved{};
    getrlimit(RLIMIT_CORE, &saved);
    setrlimit(RLIMIT_CORE, &noCore);
    struct Case {
        int signal;
        bool handledTwice;
    };
    for (const Case c : {Case{SIGQUIT, false}, Case{SIGTERM, true}, Case{SIGINT, true}}) {
        ToolChild child({"--linger"});
        ASSERT_GT(child.Pid(), 0);
        ASSERT_TRUE(child.ReadUntil("ready\n"));
        ASSERT_EQ(kill(child.Pid(), c.signal), 0);
        ASSERT_TRUE(child.ReadUntil("quit\n")) << child.Output();
        // The run is over and the child lingers: a second signal either meets the handler again (it only asks
        // the process to quit once more) or the default action.
        ASSERT_EQ(kill(child.Pid(), c.signal), 0);
        if (c.handledTwice) {
            // The echo of a second SIGINT proves it was handled before the input ends.
            if (c.signal == SIGINT) {
                ASSERT_TRUE(child.ReadUntil(std::string("quit\n") + XPosixProcessIPC::kInterruptText));
            }
            child.CloseInput();
            EXPECT_EQ(child.Finish(), 0) << c.signal;
        } else {
            int status = child.FinishRaw();
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << status;
        }
    }
    setrlimit(RLIMIT_CORE, &saved);
}

TEST(ToolProcess, CommandLineOutcomeGivesTheExitStatus) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* output;
    };
    const Case cases[] = {
        {{"--version"}, 0, "1.0\n"},
        {{"--no-such-option"}, 1, ""},
        {{"--status=4294967297"}, 1, ""},
        {{"--", "-psn_1", "-psn"}, -1, "arg:-psn\nready\n"},
    };
    for (const Case& c : cases) {
        ToolChild child(c.arguments);
        ASSERT_GT(child.Pid(), 0);
        if (c.status < 0) {
            ASSERT_TRUE(child.ReadUntil("ready\n")) << child.Output();
            EXPECT_EQ(child.Output(), c.output);
            continue;
        }
        EXPECT_EQ(child.Finish(), c.status) << c.arguments[0];
        EXPECT_EQ(child.Output(), c.output) << c.arguments[0];
    }
}

} // namespace
} // namespace vela
