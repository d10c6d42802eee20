#include "core/VDebugMgr.h"

#include "core/ILogger.h"
#include "core/VDebugContext.h"
#include "core/VErrorBase.h"
#include "core/VString.h"
#include "core/VTask.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vela {

namespace {

// The answers that end the process report failure: callers read status 0 as success.
constexpr int kQuitStatus = 1;

void WriteToConsole(const VString& text) {
    if (text.IsEmpty()) return;
    std::vector<char> bytes(size_t(text.GetLength()) * 3 + 4);
    size_t size = text.ToBlock(bytes.data(), bytes.size(), VTC_UTF_8, false, false);
    std::fwrite(bytes.data(), 1, size, stderr);
}

// Ends reentered when the report is over, whichever way it returns.
class StReporting {
public:
    explicit StReporting(VDebugContext& context) noexcept : fContext(context) { fContext.SetReentered(true); }
    ~StReporting() { fContext.SetReentered(false); }
    StReporting(const StReporting&) = delete;
    StReporting& operator=(const StReporting&) = delete;

private:
    VDebugContext& fContext;
};

} // namespace

VDebugMgr* VDebugMgr::Get() noexcept {
    static VDebugMgr sInstance;
    return &sInstance;
}

VDebugMgr::~VDebugMgr() {
    ReleaseRefCountable(&fHandler);
}

bool VDebugMgr::Init() {
    fMessagesEnabled = true;
    return true;
}

void VDebugMgr::DeInit() {
    SetDebugMessageHandler(nullptr);
    fMessagesEnabled = false;
}

void VDebugMgr::SetDebugMessageHandler(IDebugMessageHandler* handler) {
    IDebugMessageHandler* old = nullptr;
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (handler == fHandler) return;
        old = fHandler;
        fHandler = RetainRefCountable(handler);
    }
    // A task still asking the old handler holds its own reference.
    if (old != nullptr) old->Release();
}

IDebugMessageHandler* VDebugMgr::_RetainHandler() {
    std::lock_guard<std::mutex> guard(fLock);
    return RetainRefCountable(fHandler);
}

bool VDebugMgr::_IsErrorIgnored(VError code) {
    std::lock_guard<std::mutex> guard(fLock);
    return fIgnoredErrors.count(code) != 0;
}

bool VDebugMgr::_IsAssertIgnored(const std::string& key) {
    std::lock_guard<std::mutex> guard(fLock);
    return fIgnoredAsserts.count(key) != 0;
}

VDebugContext* VDebugMgr::_GetReportContext() const noexcept {
    if (!fMessagesEnabled.load()) return nullptr;
    VTask* task = VTask::GetCurrent();
    return task != nullptr ? &task->GetDebugContext() : nullptr;
}

void VDebugMgr::ErrorThrown(VErrorBase* error) {
    VDebugContext* context = _GetReportContext();
    if (context == nullptr || error == nullptr) return;
    if (context->IsLowLevelMode() || context->IsReentered()) return;
    StReporting reporting(*context);
    if (fIgnoreAllErrors.load() || _IsErrorIgnored(error->GetError())) return;

    if (ILogger* logger = GetProcessLogger()) logger->LogErrorIfNecessary(error);
    if (fLogInDebugger.load()) {
        VString text("Error: ");
        VString dump;
        error->DumpToString(dump);
        text.AppendString(dump).AppendUniChar(u'\n');
        WriteToConsole(text);
    }
    IDebugMessageHandler* handler = _RetainHandler();
    if (handler == nullptr) return;
    int answer = handler->ErrorThrown(*context, error);
    handler->Release();
    switch (answer) {
    case eDebugAnswer_Break:
        context->SetReentered(false);
        Break();
        break;
    case eDebugAnswer_Quit:
        std::exit(kQuitStatus);
    case eDebugAnswer_IgnoreThis: {
        std::lock_guard<std::mutex> guard(fLock);
        fIgnoredErrors.insert(error->GetError());
        break;
    }
    case eDebugAnswer_IgnoreAll:
        fIgnoreAllErrors = true;
        break;
    default:
        break;
    }
}

bool VDebugMgr::AssertFailed(const char* message, const char* file, int line) {
    bool result = fBreakOnAssert.load();
    if (!fMessagesEnabled.load()) return result;
    if (message == nullptr) message = "";
    if (file == nullptr) file = "";
    if (fLogInDebugger.load()) fprintf_console("Assert Failed: %s, %s, %d\n", message, file, line);
    VTask* task = VTask::GetCurrent();
    if (task == nullptr) return false;
    VDebugContext& context = task->GetDebugContext();
    if (context.IsLowLevelMode() || context.IsReentered()) return result;
    StReporting reporting(context);
    std::string key = std::string(file) + std::to_string(line);
    if (fIgnoreAllAsserts.load() || _IsAssertIgnored(key)) return false;

    if (ILogger* logger = GetProcessLogger()) logger->LogAssertIfNecessary(message, file, line);
    IDebugMessageHandler* handler = _RetainHandler();
    if (handler == nullptr) return result;
    int answer = handler->AssertFailed(context, message, file, line);
    handler->Release();
    switch (answer) {
    case eDebugAnswer_Break:
        return true;
    case eDebugAnswer_Quit:
        std::exit(kQuitStatus);
    case eDebugAnswer_IgnoreThis: {
        std::lock_guard<std::mutex> guard(fLock);
        fIgnoredAsserts.insert(key);
        return false;
    }
    case eDebugAnswer_IgnoreAll:
        fIgnoreAllAsserts = true;
        return false;
    default:
        return false;
    }
}

void VDebugMgr::DebugMsg(const char* format, va_list arguments) {
    if (!fMessagesEnabled.load() || format == nullptr) return;
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !task->GetDebugContext().IsLowLevelMode()) {
        VString text;
        text.VPrintf(format, arguments);
        DebugMsg(text);
        return;
    }
    // Low-level mode builds no string object and logs nothing.
    if (fLogInDebugger.load()) std::vfprintf(stderr, format, arguments);
    if (fBreakOnDebugMsg.load()) Break();
}

void VDebugMgr::DebugMsg(const VString& message) {
    VDebugContext* context = _GetReportContext();
    if (context != nullptr && !context->IsReentered()) {
        StReporting reporting(*context);
        ILogger* logger = GetProcessLogger();
        if (!context->IsLowLevelMode() && logger != nullptr && logger->ShouldLog(EML_Debug)) {
            VString text(message);
            if (text.GetLength() > 0 && text.GetUniChar(text.GetLength()) == u'\n') text.Truncate(text.GetLength() - 1);
            logger->LogMessage(EML_Debug, VString(), text);
        }
        if (fLogInDebugger.load()) WriteToConsole(message);
    }
    if (fBreakOnDebugMsg.load()) Break();
}

void VDebugMgr::ClearIgnoreLists() {
    std::lock_guard<std::mutex> guard(fLock);
    fIgnoredAsserts.clear();
    fIgnoredErrors.clear();
    fIgnoreAllAsserts = false;
    fIgnoreAllErrors = false;
}

void VDebugMgr::StartLowLevelMode() noexcept {
    if (VTask* task = VTask::GetCurrent()) task->GetDebugContext().StartLowLevelMode();
}

void VDebugMgr::StopLowLevelMode() noexcept {
    if (VTask* task = VTask::GetCurrent()) task->GetDebugContext().StopLowLevelMode();
}

void VDebugMgr::Break() {
    std::raise(SIGTRAP);
}

void VDebugMgr::Abort() {
    std::abort();
}

void VDebugMgr::fprintf_console(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf_console(format, arguments);
    va_end(arguments);
}

void VDebugMgr::vfprintf_console(const char* format, va_list arguments) {
    if (format != nullptr) std::vfprintf(stderr, format, arguments);
}

} // namespace vela
