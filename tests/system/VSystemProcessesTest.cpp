#include "system/VSystem.h"

#include "core/StStringConverter.h"
#include "core/VString.h"
#include "support/TaskTestSupport.h"
#include "system/VAlertPresenter.h"
#include "system/VProcessLauncher.h"
#include "system/platform/XPosixAlertPresenters.h"
#include "system/platform/XPosixProcesses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vela {
namespace {

using test::WaitUntil;

bool Contains(const std::vector<int>& pids, int pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// A child of this process running argv; its pid.
pid_t SpawnChild(std::vector<const char*> argv) {
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ), 0);
    return pid;
}

bool IsZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// A fresh folder under /tmp, removed with its files at the end.
class StTempFolder {
public:
    StTempFolder() {
        char path[] = "/tmp/vela-processes-XXXXXX";
        fPath = mkdtemp(path) != nullptr ? path : "";
    }
    ~StTempFolder() {
        if (!fPath.empty()) std::system(("rm -rf '" + fPath + "'").c_str());
    }
    const std::string& Path() const { return fPath; }
    std::string File(const char* name) const { return fPath + "/" + name; }

private:
    std::string fPath;
};

TEST(VSystemProcesses, ListHoldsOurselvesAndAZombieUntilItIsReaped) {
    std::vector<int> pids = {-5};
    VSystem::GetProcessList(pids);
    EXPECT_TRUE(Contains(pids, getpid()));
    // The list is appended to: what the caller held stays, first.
    ASSERT_FALSE(pids.empty());
    EXPECT_EQ(pids.front(), -5);

    pid_t child = SpawnChild({"true"});
    ASSERT_TRUE(WaitUntil([&] { return IsZombie(child); }));
    pids.clear();
    VSystem::GetProcessList(pids);
    EXPECT_TRUE(Contains(pids, child));

    VSystem::EWFP_Reason reason = VSystem::EWFP_Reason(0);
    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, &reason));
    EXPECT_EQ(reason, VSystem::EWFP_Reason(0));
    pids.clear();
    VSystem::GetProcessList(pids);
    EXPECT_FALSE(Contains(pids, child));

    // Reaped: a name read now leaves the name alone, and the path cannot be had.
    VString name("kept"), path("kept");
    EXPECT_TRUE(VSystem::GetProcessName(child, name));
    EXPECT_EQ(to_string(name), "kept");
    EXPECT_FALSE(VSystem::GetProcessPath(child, path));
    EXPECT_EQ(to_string(path), "kept");
}

TEST(VSystemProcesses, ListTakesOnlyNumericEntries) {
    StTempFolder root;
    for (const char* name : {"12", "abc", "3x", "7", "0", "99999999999"})
        ASSERT_EQ(mkdir(root.File(name).c_str(), 0700), 0);
    std::vector<int> pids = {1};
    ASSERT_TRUE(XPosixProcesses::ListProcesses(pids, root.Path().c_str()));
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<int>{1, 7, 12}));
    EXPECT_FALSE(XPosixProcesses::ListProcesses(pids, "/nonexistent/proc"));
    EXPECT_EQ(pids, (std::vector<int>{1, 7, 12}));
}

TEST(VSystemProcesses, NameAndPathOfARunningProcess) {
    VString name, path;
    ASSERT_TRUE(VSystem::GetProcessName(getpid(), name));
    std::ifstream comm("/proc/self/comm");
    std::string expectedName;
    std::getline(comm, expectedName);
    EXPECT_EQ(to_string(name), expectedName);

    ASSERT_TRUE(VSystem::GetProcessPath(getpid(), path));
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self);
    ASSERT_GT(length, 0);
    EXPECT_EQ(to_string(path), std::string(self, size_t(length)));
}

TEST(VSystemProcesses, KillAndWait) {
    // 0 and -1 would reach this test's own group, or every process it may signal.
    EXPECT_FALSE(VSystem::KillProcess(0));
    EXPECT_FALSE(VSystem::KillProcess(-1));

    pid_t child = SpawnChild({"sleep", "60"});
    VSystem::EWFP_Reason reason = VSystem::EWFP_Reason(0);
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::eWFP_StillRunning);
    EXPECT_TRUE(VSystem::KillProcess(child));
    EXPECT_TRUE(VSystem::WaitForProcess(child, -1, nullptr));

    reason = VSystem::EWFP_Reason(0);
    EXPECT_FALSE(VSystem::WaitForProcess(child, 0, &reason));
    EXPECT_EQ(reason, VSystem::eWFP_NotAChild);
    reason = VSystem::EWFP_Reason(0);
    EXPECT_FALSE(VSystem::WaitForProcess(getppid(), -1, &reason));
    EXPECT_EQ(reason, VSystem::eWFP_NotAChild);
}

// ---- Alerts

// Installs a presenter for the test's length.
class StPresenter {
public:
    explicit StPresenter(IAlertPresenter* presenter) : fPresenter(presenter) { IAlertPresenter::SetCurrent(presenter); }
    ~StPresenter() {
        IAlertPresenter::SetCurrent(nullptr);
        ReleaseRefCountable(&fPresenter);
    }
    StPresenter(const StPresenter&) = delete;
    StPresenter& operator=(const StPresenter&) = delete;

private:
    IAlertPresenter* fPresenter;
};

std::vector<std::string> Titles(const VAlert& alert) {
    std::vector<std::string> titles;
    for (const VString& title : alert.buttons)
        titles.push_back(to_string(title));
    return titles;
}

TEST(VSystemAlerts, ButtonSetsAndTheirAnswers) {
    using R = ENotificationResponse;
    struct Case {
        uint32 flags;
        std::vector<std::string> titles;
        std::vector<R> answers;
    };
    const Case cases[] = {
        {0x11, {"OK", "Cancel"}, {eNotificationResponse_OK, eNotificationResponse_Cancel}},
        {0x01, {"Cancel", "OK"}, {eNotificationResponse_Cancel, eNotificationResponse_OK}},
        {0x12, {"Yes", "No"}, {eNotificationResponse_Yes, eNotificationResponse_No}},
        {0x02, {"No", "Yes"}, {eNotificationResponse_No, eNotificationResponse_Yes}},
        {0x32, {"Yes", "No"}, {eNotificationResponse_Yes, eNotificationResponse_No}},
        {0x14,
         {"Yes", "No", "Cancel"},
         {eNotificationResponse_Yes, eNotificationResponse_No, eNotificationResponse_Cancel}},
        {0x24,
         {"No", "Yes", "Cancel"},
         {eNotificationResponse_No, eNotificationResponse_Yes, eNotificationResponse_Cancel}},
        {0x34,
         {"Cancel", "No", "Yes"},
         {eNotificationResponse_Cancel, eNotificationResponse_No, eNotificationResponse_Yes}},
        {0x04,
         {"Cancel", "No", "Yes"},
         {eNotificationResponse_Cancel, eNotificationResponse_No, eNotificationResponse_Yes}},
        {0x35,
         {"Retry", "Ignore", "Abort"},
         {eNotificationResponse_Retry, eNotificationResponse_Ignore, eNotificationResponse_Abort}},
        {0x00, {}, {}},
        {0x03, {}, {}},
        {0x0F, {}, {}},
    };
    auto* presenter = new VScriptedAlertPresenter(eNotificationResponse_Yes);
    StPresenter installed(presenter);
    for (const Case& c : cases) {
        ENotificationResponse response = eNotificationResponse_None;
        EXPECT_TRUE(VSystem::DisplayNotification("Title", "Message", c.flags | 0x200, &response));
        EXPECT_EQ(response, eNotificationResponse_Yes);
        VAlert alert = presenter->GetAlerts().back();
        EXPECT_EQ(Titles(alert), c.titles) << c.flags;
        EXPECT_EQ(alert.answers, c.answers) << c.flags;
        EXPECT_TRUE(alert.caution);
        EXPECT_TRUE(alert.wait);
        EXPECT_EQ(to_string(alert.title), "Title");
        EXPECT_EQ(to_string(alert.message), "Message");
    }
}

TEST(VSystemAlerts, ScriptedAnswersThenPendingAlertsWithdrawn) {
    auto* presenter = new VScriptedAlertPresenter(eNotificationResponse_No);
    StPresenter installed(presenter);
    presenter->QueueAnswer(eNotificationResponse_Cancelled);
    ENotificationResponse response = eNotificationResponse_Yes;
    EXPECT_TRUE(VSystem::DisplayNotification("", "first", eNotificationButtons_YesNo, &response));
    EXPECT_EQ(response, eNotificationResponse_Cancelled);
    EXPECT_TRUE(VSystem::DisplayNotification("", "second", eNotificationButtons_YesNo, &response));
    EXPECT_EQ(response, eNotificationResponse_No);

    EXPECT_TRUE(VSystem::DisplayNotification("", "no wait", 0, nullptr));
    EXPECT_FALSE(presenter->GetAlerts().back().wait);
    EXPECT_EQ(presenter->GetPendingCount(), 1);
    VSystem::CancelAllPendingUserNotifications();
    EXPECT_EQ(presenter->GetPendingCount(), 0);
}

TEST(VSystemAlerts, HeadlessAnswersNoAtOnceWhenThereIsANo) {
    StPresenter installed(new XPosixHeadlessAlertPresenter);
    struct Case {
        uint32 flags;
        ENotificationResponse answer;
    };
    const Case cases[] = {
        {eNotificationButtons_YesNo | eNotificationDefault_First, eNotificationResponse_No},
        {eNotificationButtons_YesNoCancel, eNotificationResponse_No},
        {eNotificationButtons_OKCancel, eNotificationResponse_None},
        {eNotificationButtons_RetryIgnoreAbort, eNotificationResponse_None},
        {0, eNotificationResponse_None},
    };
    for (const Case& c : cases) {
        ENotificationResponse response = eNotificationResponse_Yes;
        EXPECT_TRUE(VSystem::DisplayNotification("Updater", "It failed", c.flags, &response));
        EXPECT_EQ(response, c.answer) << c.flags;
    }
    VAlert alert;
    alert.title = "T";
    alert.message = "line\nnext";
    EXPECT_EQ(XPosixHeadlessAlertPresenter::FormatLogLine(alert), "alert \"T\": line\nnext");
}

// Run as a child by the next test: shows one alert and prints its answer.
TEST(VSystemAlertsChild, ShowsOneAlert) {
    if (std::getenv("VELA_ALERT_CHILD") == nullptr) GTEST_SKIP() << "run by EnvironmentSeamReachesAChild";
    ENotificationResponse response = eNotificationResponse_None;
    ASSERT_TRUE(VSystem::DisplayNotification("", "Update failed\tsee log", eNotificationButtons_YesNo, &response));
    std::printf("answer=%u\n", unsigned(response));
}

TEST(VSystemAlerts, EnvironmentSeamReachesAChild) {
    StTempFolder folder;
    std::string record = folder.File("alerts.txt");
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self);
    ASSERT_GT(length, 0);
    VProcessLauncher launcher;
    launcher.SetBinaryPath(VString(self, size_t(length), VTC_UTF_8));
    launcher.AddArgument("--gtest_filter=VSystemAlertsChild.ShowsOneAlert");
    VEnvironmentVariables environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text(*entry);
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            environment[VString(text.substr(0, equals).c_str())] = VString(text.substr(equals + 1).c_str());
    }
    environment["VELA_ALERT_CHILD"] = "1";
    environment["VELA_ALERT_ANSWER"] = "Yes";
    environment[VString("VELA_ALERT_RECORD")] = VString(record.c_str());
    ASSERT_EQ(launcher.Start(environment), 0);
    std::string output;
    launcher.ReadFromChildAndShutdown(
        [&](const void* data, size_t size) { output.append(static_cast<const char*>(data), size); }, {});
    EXPECT_EQ(launcher.GetExitStatus(), 0);
    EXPECT_NE(output.find("answer=3\n"), std::string::npos) << output;
    std::ifstream file(record);
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "\tUpdate failed\\tsee log\tNo|Yes\twait");
}

TEST(VSystemAlerts, ResponseNames) {
    struct Case {
        const char* name;
        bool known;
        ENotificationResponse response;
    };
    const Case cases[] = {{"Yes", true, eNotificationResponse_Yes},
                          {"Cancelled", true, eNotificationResponse_Cancelled},
                          {"6", true, eNotificationResponse_Retry},
                          {"yes", false, eNotificationResponse_None},
                          {"", false, eNotificationResponse_None}};
    for (const Case& c : cases) {
        ENotificationResponse response = eNotificationResponse_None;
        EXPECT_EQ(VScriptedAlertPresenter::ParseResponse(VString(c.name), response), c.known) << c.name;
        EXPECT_EQ(response, c.response) << c.name;
    }
}

// ---- Desktop dialogs, with a stand-in program that records its arguments and answers as told.

VAlert MakeAlert(uint32 flags, bool wait) {
    auto* presenter = new VScriptedAlertPresenter;
    StPresenter installed(presenter);
    ENotificationResponse response;
    VSystem::DisplayNotification("Updater", "It <failed> & more", flags, wait ? &response : nullptr);
    return presenter->GetAlerts().back();
}

std::vector<std::string> Strings(const std::vector<VString>& texts) {
    std::vector<std::string> out;
    for (const VString& text : texts)
        out.push_back(to_string(text));
    return out;
}

TEST(XPosixDesktopAlerts, ArgumentsOfEachProgram) {
    using P = XPosixDesktopAlertPresenter;
    struct Case {
        uint32 flags;
        P::EKind kind;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {0x12,
         P::eZenity,
         {"--question", "--title=Updater", "--text=It <failed> & more", "--no-markup", "--ok-label=Yes",
          "--cancel-label=No"}},
        {0x35,
         P::eZenity,
         {"--question", "--title=Updater", "--text=It <failed> & more", "--no-markup", "--ok-label=Retry",
          "--cancel-label=Ignore", "--extra-button=Abort"}},
        {0x200, P::eZenity, {"--warning", "--title=Updater", "--text=It <failed> & more", "--no-markup"}},
        {0x02,
         P::eKDialog,
         {"--title", "Updater", "--yesno", "It <failed> & more", "--yes-label", "No", "--no-label", "Yes"}},
        {0x234,
         P::eKDialog,
         {"--title", "Updater", "--warningyesnocancel", "It <failed> & more", "--yes-label", "Cancel", "--no-label",
          "No", "--cancel-label", "Yes"}},
        {0x00, P::eKDialog, {"--title", "Updater", "--msgbox", "It <failed> & more"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Strings(P::BuildArguments(MakeAlert(c.flags, true), c.kind)), c.arguments) << c.flags;
}

TEST(XPosixDesktopAlerts, AnswersFromExitStatusAndOutput) {
    using P = XPosixDesktopAlertPresenter;
    VAlert three = MakeAlert(0x35, true); // Retry, Ignore, Abort
    VAlert none = MakeAlert(0, true);
    struct Case {
        const VAlert* alert;
        P::EKind kind;
        int32 status;
        const char* output;
        ENotificationResponse answer;
    };
    const Case cases[] = {
        {&three, P::eZenity, 0, "", eNotificationResponse_Retry},
        {&three, P::eZenity, 1, "", eNotificationResponse_Ignore},
        {&three, P::eZenity, 1, "Abort\n", eNotificationResponse_Abort},
        {&three, P::eZenity, 5, "", eNotificationResponse_None},
        {&three, P::eKDialog, 2, "", eNotificationResponse_Abort},
        {&three, P::eKDialog, 3, "", eNotificationResponse_None},
        // Withdrawn (killed), or closed without a button.
        {&three, P::eKDialog, -127, "", eNotificationResponse_Cancelled},
        {&three, P::eZenity, -127, "", eNotificationResponse_Cancelled},
        {&three, P::eZenity, P::kZenityClosedStatus, "", eNotificationResponse_Cancelled},
        {&none, P::eZenity, P::kZenityClosedStatus, "", eNotificationResponse_Cancelled},
        {&none, P::eZenity, 0, "", eNotificationResponse_OK},
        {&none, P::eKDialog, 1, "", eNotificationResponse_None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(P::DecodeAnswer(*c.alert, c.kind, c.status, c.output), c.answer) << c.status << c.output;
}

TEST(XPosixDesktopAlerts, RunsTheProgramAndWithdrawsPendingDialogs) {
    StTempFolder folder;
    std::string program = folder.File("dialog");
    std::string arguments = folder.File("arguments");
    {
        std::ofstream script(program);
        // Records its arguments; "--warning" dialogs stay up until withdrawn; others press the extra button.
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << arguments << "'\n"
               << "case \"$1\" in --warning) exec sleep 60;; esac\nprintf 'Abort\\n'; exit 1\n";
    }
    ASSERT_EQ(chmod(program.c_str(), 0700), 0);
    auto* presenter = new XPosixDesktopAlertPresenter(program, XPosixDesktopAlertPresenter::eZenity);
    StPresenter installed(presenter);

    ENotificationResponse response = eNotificationResponse_None;
    ASSERT_TRUE(VSystem::DisplayNotification("", "Failed", eNotificationButtons_RetryIgnoreAbort, &response));
    EXPECT_EQ(response, eNotificationResponse_Abort);
    std::ifstream recorded(arguments);
    std::string first, title;
    std::getline(recorded, first);
    std::getline(recorded, title);
    EXPECT_EQ(first, "--question");
    EXPECT_EQ(title, "--title=");

    ASSERT_TRUE(VSystem::DisplayNotification("Note", "Stays", eNotificationLevel_Caution, nullptr));
    EXPECT_EQ(presenter->GetPendingCount(), 1);
    VSystem::CancelAllPendingUserNotifications();
    EXPECT_EQ(presenter->GetPendingCount(), 0);
}

TEST(XPosixDesktopAlerts, ADialogClosedWithoutAButtonAnswersCancelled) {
    StTempFolder folder;
    std::string program = folder.File("dialog");
    {
        std::ofstream script(program);
        // Ends as zenity does when its window is closed: with ZENITY_ESC, else the second button's status.
        script << "#!/bin/sh\nexit \"${ZENITY_ESC:-1}\"\n";
    }
    ASSERT_EQ(chmod(program.c_str(), 0700), 0);
    StPresenter installed(new XPosixDesktopAlertPresenter(program, XPosixDesktopAlertPresenter::eZenity));
    ENotificationResponse response = eNotificationResponse_None;
    ASSERT_TRUE(VSystem::DisplayNotification("", "Open the log?", eNotificationButtons_YesNo, &response));
    EXPECT_EQ(response, eNotificationResponse_Cancelled);
}

} // namespace
} // namespace vela
