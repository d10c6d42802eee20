#pragma once

#include "system/VAlertPresenter.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vela {

class VProcessLauncher;

// Without a desktop: each alert goes to the system log and is answered at once, never blocking: No when the
// alert has a No button, else no answer. Nothing stays pending.
class XPosixHeadlessAlertPresenter : public IAlertPresenter {
public:
    bool Present(const VAlert& alert, ENotificationResponse& response) override;
    void CancelPending() override {}

    // The answer given to alert.
    static ENotificationResponse AnswerFor(const VAlert& alert);
    // The line written to the system log.
    static std::string FormatLogLine(const VAlert& alert);
};

// On a desktop session: each alert is a zenity or kdialog dialog (a child process). Alerts shown without waiting
// stay pending until their dialog ends or CancelPending ends it; ended dialogs are reaped by a timer of the main
// run loop (VMainRunLoop), or without a main task at the next call.
class XPosixDesktopAlertPresenter : public IAlertPresenter {
public:
    enum EKind { eZenity, eKDialog };

    // The exit status zenity is asked (through ZENITY_ESC) to end with when its dialog is closed without a
    // button: by default it would be the second button's.
    static constexpr int32 kZenityClosedStatus = 3;

    // program: the full path of the dialog program, of that kind.
    XPosixDesktopAlertPresenter(const std::string& program, EKind kind);
    ~XPosixDesktopAlertPresenter() override;

    bool Present(const VAlert& alert, ENotificationResponse& response) override;
    void CancelPending() override;
    // Dialogs shown without waiting and not reaped yet.
    int32 GetPendingCount();

    // The dialog program's arguments for alert (without the program itself).
    static std::vector<VString> BuildArguments(const VAlert& alert, EKind kind);
    // The answer read from the dialog's exit status and its output (zenity's extra button prints its title).
    // A dialog closed without a button (zenity) or withdrawn (ended by a signal) answers
    // eNotificationResponse_Cancelled; kdialog reports a closed dialog as its No or Cancel button.
    static ENotificationResponse DecodeAnswer(const VAlert& alert, EKind kind, int32 exitStatus,
                                              const std::string& output);

    // The desktop presenter when the session has a display and a dialog program is on the PATH, else null.
    static XPosixDesktopAlertPresenter* CreateForSession();

private:
    static constexpr int32 kWatchIntervalMs = 250;

    // Arms the timer that reaps ended dialogs, unless it runs; under fLock.
    void _WatchPending();
    void _ReapEnded();

    std::string fProgram;
    EKind fKind;
    std::mutex fLock;
    std::vector<std::unique_ptr<VProcessLauncher>> fPending;
    bool fWatching = false;
};

} // namespace vela
