#include "core/VString.h"
#include "system/VAlertPresenter.h"
#include "system/VSystem.h"
#include "system/platform/XPosixProcesses.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

namespace vela {

namespace {

// The buttons of a set, the default first, with their answers.
void ChooseButtons(uint32 flags, VAlert& alert) {
    auto set = [&alert](std::initializer_list<const char*> titles,
                        std::initializer_list<ENotificationResponse> answers) {
        for (const char* title : titles)
            alert.buttons.emplace_back(title);
        alert.answers.assign(answers);
    };
    bool first = (flags & eNotificationDefault_First) != 0;
    uint32 defaults = flags & (eNotificationDefault_First | eNotificationDefault_Second);
    switch (flags & eNotificationButtons_Mask) {
    case eNotificationButtons_OKCancel:
        if (first)
            set({"OK", "Cancel"}, {eNotificationResponse_OK, eNotificationResponse_Cancel});
        else
            set({"Cancel", "OK"}, {eNotificationResponse_Cancel, eNotificationResponse_OK});
        break;
    case eNotificationButtons_YesNo:
        if (first)
            set({"Yes", "No"}, {eNotificationResponse_Yes, eNotificationResponse_No});
        else
            set({"No", "Yes"}, {eNotificationResponse_No, eNotificationResponse_Yes});
        break;
    case eNotificationButtons_YesNoCancel:
        if (defaults == eNotificationDefault_First)
            set({"Yes", "No", "Cancel"},
                {eNotificationResponse_Yes, eNotificationResponse_No, eNotificationResponse_Cancel});
        else if (defaults == eNotificationDefault_Second)
            set({"No", "Yes", "Cancel"},
                {eNotificationResponse_No, eNotificationResponse_Yes, eNotificationResponse_Cancel});
        else
            set({"Cancel", "No", "Yes"},
                {eNotificationResponse_Cancel, eNotificationResponse_No, eNotificationResponse_Yes});
        break;
    case eNotificationButtons_RetryIgnoreAbort:
        set({"Retry", "Ignore", "Abort"},
            {eNotificationResponse_Retry, eNotificationResponse_Ignore, eNotificationResponse_Abort});
        break;
    default:
        break;
    }
}

} // namespace

void VSystem::GetProcessList(std::vector<int>& pids) {
    XPosixProcesses::ListProcesses(pids);
}

bool VSystem::GetProcessName(int pid, VString& name) {
    std::string shortName;
    bool found = false;
    if (!XPosixProcesses::ReadProcessName(pid, shortName, found)) return false;
    if (found) name.FromBlock(shortName.data(), shortName.size(), VTC_UTF_8);
    return true;
}

bool VSystem::GetProcessPath(int pid, VString& path) {
    std::string target;
    if (!XPosixProcesses::ReadProcessPath(pid, target)) return false;
    path.FromBlock(target.data(), target.size(), VTC_UTF_8);
    return true;
}

bool VSystem::KillProcess(int pid) {
    return pid > 0 && kill(pid, SIGKILL) == 0;
}

bool VSystem::WaitForProcess(int pid, int wait, EWFP_Reason* reason) {
    siginfo_t info{};
    info.si_pid = 0;
    int options = wait < 0 ? WEXITED : WEXITED | WNOHANG;
    int result;
    do {
        result = waitid(P_PID, id_t(pid), &info, options);
    } while (result != 0 && errno == EINTR);
    if (result == 0 && info.si_pid == pid) return true;
    if (reason != nullptr) {
        if (result == 0)
            *reason = eWFP_StillRunning;
        else if (errno == ECHILD)
            *reason = eWFP_NotAChild;
    }
    return false;
}

bool VSystem::DisplayNotification(const VString& title, const VString& message, uint32 flags,
                                  ENotificationResponse* response) {
    VAlert alert;
    alert.title = title;
    alert.message = message;
    alert.caution = (flags & eNotificationLevel_Caution) != 0;
    alert.wait = response != nullptr;
    ChooseButtons(flags, alert);
    ENotificationResponse answer = eNotificationResponse_None;
    IAlertPresenter* presenter = IAlertPresenter::RetainCurrent();
    bool shown = presenter != nullptr && presenter->Present(alert, answer);
    ReleaseRefCountable(&presenter);
    if (response != nullptr) *response = answer;
    return shown;
}

void VSystem::CancelAllPendingUserNotifications() {
    IAlertPresenter* presenter = IAlertPresenter::RetainCurrent();
    if (presenter != nullptr) presenter->CancelPending();
    ReleaseRefCountable(&presenter);
}

} // namespace vela
