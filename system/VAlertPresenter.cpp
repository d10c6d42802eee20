#include "system/VAlertPresenter.h"

#include "core/StStringConverter.h"
#include "system/platform/XPosixAlertPresenters.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vela {

namespace {

std::mutex sPresenterLock;
IAlertPresenter* sPresenter = nullptr;

const char* const kResponseNames[] = {"None", "OK", "Cancel", "Yes", "No", "Abort", "Retry", "Ignore", "Cancelled"};

#if VELA_TEST_SEAMS
// The scripted presenter a parent process asks for through the environment, or null.
IAlertPresenter* CreateFromEnvironment() {
    const char* answer = std::getenv("VELA_ALERT_ANSWER");
    if (answer == nullptr) return nullptr;
    ENotificationResponse response = eNotificationResponse_None;
    VScriptedAlertPresenter::ParseResponse(VString(answer), response);
    const char* record = std::getenv("VELA_ALERT_RECORD");
    return new VScriptedAlertPresenter(response, record != nullptr ? VString(record) : VString());
}
#else
IAlertPresenter* CreateFromEnvironment() {
    return nullptr;
}
#endif

IAlertPresenter* CreateDefault() {
    if (IAlertPresenter* scripted = CreateFromEnvironment()) return scripted;
    if (IAlertPresenter* desktop = XPosixDesktopAlertPresenter::CreateForSession()) return desktop;
    return new XPosixHeadlessAlertPresenter;
}

void AppendEscaped(std::string& line, const VString& text) {
    for (char c : to_string(text)) {
        if (c == '\t')
            line += "\\t";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\\')
            line += "\\\\";
        else
            line += c;
    }
}

} // namespace

IAlertPresenter* IAlertPresenter::RetainCurrent() {
    std::lock_guard<std::mutex> hold(sPresenterLock);
    if (sPresenter == nullptr) sPresenter = CreateDefault();
    return RetainRefCountable(sPresenter);
}

void IAlertPresenter::SetCurrent(IAlertPresenter* presenter) {
    IAlertPresenter* previous = nullptr;
    {
        std::lock_guard<std::mutex> hold(sPresenterLock);
        previous = sPresenter;
        sPresenter = RetainRefCountable(presenter);
    }
    ReleaseRefCountable(&previous);
}

VScriptedAlertPresenter::VScriptedAlertPresenter(ENotificationResponse defaultAnswer, const VString& recordPath)
    : fDefaultAnswer(defaultAnswer), fRecordPath(recordPath) {}

void VScriptedAlertPresenter::QueueAnswer(ENotificationResponse answer) {
    std::lock_guard<std::mutex> hold(fLock);
    fQueued.push_back(answer);
}

std::vector<VAlert> VScriptedAlertPresenter::GetAlerts() const {
    std::lock_guard<std::mutex> hold(fLock);
    return fAlerts;
}

int32 VScriptedAlertPresenter::GetPendingCount() const {
    std::lock_guard<std::mutex> hold(fLock);
    return fPending;
}

bool VScriptedAlertPresenter::Present(const VAlert& alert, ENotificationResponse& response) {
    std::lock_guard<std::mutex> hold(fLock);
    fAlerts.push_back(alert);
    response = fDefaultAnswer;
    if (!fQueued.empty()) {
        response = fQueued.front();
        fQueued.pop_front();
    }
    if (!alert.wait) {
        response = eNotificationResponse_None;
        ++fPending;
    }
    if (!fRecordPath.IsEmpty()) {
        if (FILE* file = std::fopen(to_string(fRecordPath).c_str(), "a")) {
            std::string line = to_string(FormatRecord(alert)) + '\n';
            std::fwrite(line.data(), 1, line.size(), file);
            std::fclose(file);
        }
    }
    return true;
}

void VScriptedAlertPresenter::CancelPending() {
    std::lock_guard<std::mutex> hold(fLock);
    fPending = 0;
}

bool VScriptedAlertPresenter::ParseResponse(const VString& name, ENotificationResponse& response) {
    std::string text = to_string(name);
    for (uint32 i = 0; i < sizeof kResponseNames / sizeof kResponseNames[0]; ++i) {
        if (text == kResponseNames[i] || text == std::to_string(i)) {
            response = ENotificationResponse(i);
            return true;
        }
    }
    return false;
}

VString VScriptedAlertPresenter::FormatRecord(const VAlert& alert) {
    std::string line;
    AppendEscaped(line, alert.title);
    line += '\t';
    AppendEscaped(line, alert.message);
    line += '\t';
    for (size_t i = 0; i < alert.buttons.size(); ++i) {
        if (i > 0) line += '|';
        AppendEscaped(line, alert.buttons[i]);
    }
    line += alert.wait ? "\twait" : "\tnowait";
    return VString(line.data(), line.size(), VTC_UTF_8);
}

} // namespace vela
