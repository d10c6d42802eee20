#pragma once

#include "core/IRefCountable.h"
#include "core/VString.h"
#include "system/VSystem.h"

#include <deque>
#include <mutex>
#include <vector>

namespace vela {

// One alert as a presenter receives it.
struct VAlert {
    // The title may be empty; the message then stands alone.
    VString title;
    VString message;
    bool caution = false;
    // Button titles, the default first: default, alternate, other. No titles at all: one OK button.
    std::vector<VString> buttons;
    // The answer of each button, in the same order.
    std::vector<ENotificationResponse> answers;
    // Whether the caller waits for the answer.
    bool wait = false;
};

// Shows alerts to the user. A presenter is shared (reference counted) and called from any thread.
class IAlertPresenter : public IRefCountable {
public:
    // Shows alert. With alert.wait, blocks until it is answered and stores the answer in response
    // (eNotificationResponse_None when none came); otherwise returns at once, leaving the alert pending. False
    // when the alert could not be shown.
    virtual bool Present(const VAlert& alert, ENotificationResponse& response) = 0;
    // Withdraws every pending alert.
    virtual void CancelPending() = 0;

    // The presenter DisplayNotification uses, with a reference for the caller. The first call chooses it: in
    // builds with test seams, VELA_ALERT_ANSWER in the environment selects a scripted presenter (below);
    // otherwise, on a desktop session (DISPLAY or WAYLAND_DISPLAY set) with zenity or kdialog on the PATH, that
    // program; else the headless presenter, which writes each alert to the system log and answers No (or no
    // answer when there is no No button) at once.
    static IAlertPresenter* RetainCurrent();
    // Installs presenter (retained; null: the choice above again) and releases the previous one.
    static void SetCurrent(IAlertPresenter* presenter);
};

// Records each alert and answers from a script: the queued answers in order, then the default answer. The
// environment seam (test-seam builds) makes one with VELA_ALERT_ANSWER as the default answer (a response name:
// "OK", "Cancel", "Yes", "No", "Abort", "Retry", "Ignore", "Cancelled", or a number), appending each alert as a
// line to the file named by VELA_ALERT_RECORD when that is set: title, message, button titles separated by
// '|', and "wait" or "nowait", separated by tabs (tab, line feed and backslash written as \t, \n, \\).
class VScriptedAlertPresenter : public IAlertPresenter {
public:
    explicit VScriptedAlertPresenter(ENotificationResponse defaultAnswer = eNotificationResponse_None,
                                     const VString& recordPath = VString());

    void QueueAnswer(ENotificationResponse answer);
    std::vector<VAlert> GetAlerts() const;
    // Alerts shown without waiting and neither answered nor withdrawn; CancelPending answers them.
    int32 GetPendingCount() const;

    bool Present(const VAlert& alert, ENotificationResponse& response) override;
    void CancelPending() override;

    // The response a name stands for; false when there is none.
    static bool ParseResponse(const VString& name, ENotificationResponse& response);
    // The line VELA_ALERT_RECORD receives for alert, without its line feed.
    static VString FormatRecord(const VAlert& alert);

private:
    mutable std::mutex fLock;
    ENotificationResponse fDefaultAnswer;
    VString fRecordPath;
    std::deque<ENotificationResponse> fQueued;
    std::vector<VAlert> fAlerts;
    int32 fPending = 0;
};

} // namespace vela
