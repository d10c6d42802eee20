#include "system/platform/XPosixAlertPresenters.h"

#include "core/StStringConverter.h"
#include "core/VRefPtr.h"
#include "files/VFilePath.h"
#include "system/VMainRunLoop.h"
#include "system/VProcessLauncher.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/syslog.h>

extern char** environ;

namespace vela {

namespace {

VString Option(const char* name, const VString& value) {
    VString option(name);
    option.AppendString(value);
    return option;
}

// This process's environment, with zenity told to tell a closed dialog from its second button.
VEnvironmentVariables ZenityEnvironment() {
    VEnvironmentVariables variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr || equals == *entry) continue;
        variables[VString(*entry, size_t(equals - *entry), VTC_UTF_8)] =
            VString(equals + 1, std::strlen(equals + 1), VTC_UTF_8);
    }
    variables[VString("ZENITY_ESC")] =
        VString(std::to_string(XPosixDesktopAlertPresenter::kZenityClosedStatus).c_str());
    return variables;
}

bool HasButton(const VAlert& alert, ENotificationResponse answer) {
    for (ENotificationResponse each : alert.answers)
        if (each == answer) return true;
    return false;
}

} // namespace

// ---- Headless

ENotificationResponse XPosixHeadlessAlertPresenter::AnswerFor(const VAlert& alert) {
    return HasButton(alert, eNotificationResponse_No) ? eNotificationResponse_No : eNotificationResponse_None;
}

std::string XPosixHeadlessAlertPresenter::FormatLogLine(const VAlert& alert) {
    std::string line = "alert";
    if (!alert.title.IsEmpty()) line += " \"" + to_string(alert.title) + "\"";
    line += ": " + to_string(alert.message);
    return line;
}

bool XPosixHeadlessAlertPresenter::Present(const VAlert& alert, ENotificationResponse& response) {
    std::string line = FormatLogLine(alert);
    syslog(LOG_USER | (alert.caution ? LOG_WARNING : LOG_NOTICE), "%s", line.c_str());
    response = alert.wait ? AnswerFor(alert) : eNotificationResponse_None;
    return true;
}

// ---- Desktop

XPosixDesktopAlertPresenter::XPosixDesktopAlertPresenter(const std::string& program, EKind kind)
    : fProgram(program), fKind(kind) {}

XPosixDesktopAlertPresenter::~XPosixDesktopAlertPresenter() {
    CancelPending();
}

std::vector<VString> XPosixDesktopAlertPresenter::BuildArguments(const VAlert& alert, EKind kind) {
    size_t count = alert.buttons.size();
    std::vector<VString> arguments;
    if (kind == eZenity) {
        // Texts go without markup: a message may hold '<' or '&'.
        arguments.emplace_back(count >= 2 ? "--question" : alert.caution ? "--warning" : "--info");
        arguments.push_back(Option("--title=", alert.title));
        arguments.push_back(Option("--text=", alert.message));
        arguments.emplace_back("--no-markup");
        if (count >= 2) {
            arguments.push_back(Option("--ok-label=", alert.buttons[0]));
            arguments.push_back(Option("--cancel-label=", alert.buttons[1]));
        }
        if (count >= 3) arguments.push_back(Option("--extra-button=", alert.buttons[2]));
        return arguments;
    }
    if (!alert.title.IsEmpty()) {
        arguments.emplace_back("--title");
        arguments.push_back(alert.title);
    }
    if (count >= 3)
        arguments.emplace_back(alert.caution ? "--warningyesnocancel" : "--yesnocancel");
    else if (count == 2)
        arguments.emplace_back(alert.caution ? "--warningyesno" : "--yesno");
    else
        arguments.emplace_back(alert.caution ? "--sorry" : "--msgbox");
    arguments.push_back(alert.message);
    const char* labels[] = {"--yes-label", "--no-label", "--cancel-label"};
    for (size_t i = 0; i < count && count >= 2 && i < 3; ++i) {
        arguments.emplace_back(labels[i]);
        arguments.push_back(alert.buttons[i]);
    }
    return arguments;
}

ENotificationResponse XPosixDesktopAlertPresenter::DecodeAnswer(const VAlert& alert, EKind kind, int32 exitStatus,
                                                                const std::string& output) {
    // A dialog killed by a signal was withdrawn; the launcher reports that as -127.
    bool closed = exitStatus == -127 || (kind == eZenity && exitStatus == kZenityClosedStatus);
    if (closed) return eNotificationResponse_Cancelled;
    size_t count = alert.buttons.size();
    if (count == 0) return exitStatus == 0 ? eNotificationResponse_OK : eNotificationResponse_None;
    size_t pressed = count;
    if (kind == eZenity) {
        // The extra button prints its title and ends like the cancel button.
        std::string extra = count >= 3 ? to_string(alert.buttons[2]) : std::string();
        bool extraPressed = count >= 3 && exitStatus == 1 && (output == extra || output == extra + "\n");
        if (exitStatus == 0)
            pressed = 0;
        else if (extraPressed)
            pressed = 2;
        else if (exitStatus == 1)
            pressed = 1;
    } else if (exitStatus >= 0 && size_t(exitStatus) < count) {
        pressed = size_t(exitStatus);
    }
    return pressed < count ? alert.answers[pressed] : eNotificationResponse_None;
}

void XPosixDesktopAlertPresenter::_WatchPending() {
    if (fWatching) return;
    // The timer holds the presenter until no dialog is left; without a main task, ended dialogs are reaped by
    // the next call instead.
    fWatching = VMainRunLoop::AddTimer(kWatchIntervalMs, [self = VRefPtr<XPosixDesktopAlertPresenter>(this)] {
        std::lock_guard<std::mutex> hold(self->fLock);
        self->_ReapEnded();
        self->fWatching = !self->fPending.empty();
        return self->fWatching;
    });
}

void XPosixDesktopAlertPresenter::_ReapEnded() {
    for (auto it = fPending.begin(); it != fPending.end();)
        it = (*it)->IsRunning() ? std::next(it) : fPending.erase(it);
}

bool XPosixDesktopAlertPresenter::Present(const VAlert& alert, ENotificationResponse& response) {
    response = eNotificationResponse_None;
    auto launcher = std::make_unique<VProcessLauncher>();
    launcher->SetBinaryPath(VString(fProgram.data(), fProgram.size(), VTC_UTF_8));
    for (const VString& argument : BuildArguments(alert, fKind))
        launcher->AddArgument(argument.IsEmpty() ? VString(" ") : argument); // an empty text would be dropped
    launcher->SetRedirectStandardInput(false);
    if (fKind == eZenity) launcher->SetEnvironmentVariables(ZenityEnvironment());
    if (!alert.wait) {
        launcher->SetRedirectStandardOutput(false);
        launcher->SetWaitClosingChildProcess(0);
        if (launcher->Start() != 0) return false;
        std::lock_guard<std::mutex> hold(fLock);
        _ReapEnded();
        fPending.push_back(std::move(launcher));
        _WatchPending();
        return true;
    }
    if (launcher->Start() != 0) return false;
    std::string output;
    launcher->ReadFromChildAndShutdown(
        [&output](const void* data, size_t size) { output.append(static_cast<const char*>(data), size); }, {});
    response = DecodeAnswer(alert, fKind, launcher->GetExitStatus(), output);
    return true;
}

void XPosixDesktopAlertPresenter::CancelPending() {
    std::vector<std::unique_ptr<VProcessLauncher>> pending;
    {
        std::lock_guard<std::mutex> hold(fLock);
        pending.swap(fPending);
    }
    for (auto& launcher : pending)
        launcher->Shutdown(true, false);
}

int32 XPosixDesktopAlertPresenter::GetPendingCount() {
    std::lock_guard<std::mutex> hold(fLock);
    return int32(fPending.size());
}

XPosixDesktopAlertPresenter* XPosixDesktopAlertPresenter::CreateForSession() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    bool desktop = (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
    if (!desktop) return nullptr;
    const std::pair<const char*, EKind> programs[] = {{"zenity", eZenity}, {"kdialog", eKDialog}};
    for (const auto& [name, kind] : programs) {
        VFilePath path;
        if (!VSystem::SearchExecutablePath(VString(name), path)) continue;
        VString posixPath;
        path.GetPosixPath(posixPath);
        return new XPosixDesktopAlertPresenter(to_string(posixPath), kind);
    }
    return nullptr;
}

} // namespace vela
