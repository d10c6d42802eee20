#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VTypes.h"

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <set>
#include <string>

namespace vela {

class VDebugContext;
class VErrorBase;
class VString;

// What a debug message handler asks for after an assertion or an error.
enum EDebugAnswer : int32 {
    eDebugAnswer_Continue = 0,
    eDebugAnswer_Break = 1,
    // Ends the process with a failure status.
    eDebugAnswer_Quit = 2,
    // Ignore this assertion (file and line) or this error code from now on.
    eDebugAnswer_IgnoreThis = 3,
    // Ignore every assertion, or every error, from now on.
    eDebugAnswer_IgnoreAll = 4,
};

// Decides what happens after an assertion fails or an error is reported; answers an EDebugAnswer (other
// values count as continue). Called on the reporting task.
class IDebugMessageHandler : public IRefCountable {
public:
    virtual int AssertFailed(VDebugContext& context, const char* message, const char* file, int line) = 0;
    virtual int ErrorThrown(VDebugContext& context, VErrorBase* error) = 0;
};

// The process-wide receiver of unfiltered errors, failed assertions and debug messages: it hands them to the
// process logger, may echo them on standard error and asks the optional handler what to do next. Reports are
// taken only between Init and DeInit, on a task, outside the task's low-level mode, and never while the same
// task is already reporting.
class VDebugMgr {
public:
    static VDebugMgr* Get() noexcept;

    VDebugMgr(const VDebugMgr&) = delete;
    VDebugMgr& operator=(const VDebugMgr&) = delete;

    // Enables reports; true.
    bool Init();
    // Releases the handler and disables reports; the switches and ignore lists stay.
    void DeInit();

    // Retains handler (null: none) and releases the previous one.
    void SetDebugMessageHandler(IDebugMessageHandler* handler);

    // Switches; each setter answers the previous value.
    bool SetBreakOnAssert(bool on) noexcept { return fBreakOnAssert.exchange(on); }
    bool SetBreakOnDebugMsg(bool on) noexcept { return fBreakOnDebugMsg.exchange(on); }
    bool SetMessagesEnabled(bool on) noexcept { return fMessagesEnabled.exchange(on); }
    bool SetLogInDebugger(bool on) noexcept { return fLogInDebugger.exchange(on); }
    bool GetBreakOnAssert() const noexcept { return fBreakOnAssert.load(); }
    bool GetBreakOnDebugMsg() const noexcept { return fBreakOnDebugMsg.load(); }
    bool GetMessagesEnabled() const noexcept { return fMessagesEnabled.load(); }
    bool GetLogInDebugger() const noexcept { return fLogInDebugger.load(); }

    // An error that no error context filtered: logged at level error, echoed, and shown to the handler.
    void ErrorThrown(VErrorBase* error);
    // A failed assertion (condition text, source file, line); true asks the caller to break.
    bool AssertFailed(const char* message, const char* file, int line);
    // A debug message, printf-style (%S takes a VString*); logged at level debug.
    void DebugMsg(const char* format, va_list arguments);
    void DebugMsg(const VString& message);

    // Forgets the assertions and errors that handlers asked to ignore (answers 3 and 4).
    void ClearIgnoreLists();

    // Nesting low-level mode of the calling task, in which nothing is logged; no effect off a task.
    static void StartLowLevelMode() noexcept;
    static void StopLowLevelMode() noexcept;

    // Stops in the debugger (a breakpoint trap; without a debugger the process ends).
    static void Break();
    // Ends the process abnormally.
    [[noreturn]] static void Abort();

    // printf-style text on standard error.
    static void fprintf_console(const char* format, ...);
    static void vfprintf_console(const char* format, va_list arguments);

private:
    VDebugMgr() = default;
    ~VDebugMgr();

    // The calling task's context when a report may run, else null.
    VDebugContext* _GetReportContext() const noexcept;
    // The handler with a reference for the caller, or null.
    IDebugMessageHandler* _RetainHandler();
    bool _IsErrorIgnored(VError code);
    bool _IsAssertIgnored(const std::string& key);

    std::atomic<bool> fMessagesEnabled{false};
    std::atomic<bool> fBreakOnAssert{false};
    std::atomic<bool> fBreakOnDebugMsg{false};
    std::atomic<bool> fLogInDebugger{false};
    std::atomic<bool> fIgnoreAllAsserts{false};
    std::atomic<bool> fIgnoreAllErrors{false};

    // Guards the handler and the ignore lists: handler answers change them on one task while others read.
    std::mutex fLock;
    IDebugMessageHandler* fHandler = nullptr;
    // Assertion keys: the file text followed by the line number.
    std::set<std::string> fIgnoredAsserts;
    std::set<VError> fIgnoredErrors;
};

} // namespace vela
