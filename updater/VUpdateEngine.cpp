#include "updater/VUpdateEngine.h"

#include "app/VCommandLineParser.h"
#include "app/VComponentManager.h"
#include "app/VLog4jMsgFileLogger.h"
#include "core/ILoggerBagKeys.h"
#include "core/StStringConverter.h"
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/platform/XPosixFolder.h"
#include "intl/VLocalizationManager.h"
#include "intl/VUTIManager.h"
#include "intl/VXMLBagHandler.h"
#include "system/VProcessLauncher.h"
#include "system/VSystem.h"
#include "system/platform/XPosixProcessLauncher.h"
#include "updater/UpdaterToolbox.h"
#include "updater/platform/XPosixBundle.h"
#include "updater/platform/XPosixFolderSwap.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace vela;

namespace {

constexpr uint32 kLogSignature = FourCC("ZoUP");
// The components whose error texts come from the updater's localization files.
constexpr uint32 kLocalizedSignatures[] = {FourCC("vela"), FourCC("xmlc"), FourCC("PW32"), kComponentUpdater};

std::string UTF8(const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    return std::string(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
}

VString PosixText(const VFilePath& path) {
    VString out;
    path.GetPosixPath(out);
    return out;
}

void Log(EMessageLevel level, const char* format, va_list args) {
    VString message;
    message.VPrintf(format, args);
    ILogger* logger = GetProcessLogger();
    if (logger == nullptr) return;
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    ILoggerBagKeys::message.Set(*bag, message);
    if (level != EML_Information) ILoggerBagKeys::level.Set(*bag, level);
    ILoggerBagKeys::component_signature.Set(*bag, kLogSignature);
    logger->LogBag(bag.Get());
}

void PushError(VErrorBase* error) {
    _PushRetainedError(error);
}

// Local date and time for the start and end lines.
void DateAndTime(VString& date, VString& time) {
    VTime now;
    now.FromSystemTime();
    now.FormatByOS(date, time, false);
}

// Puts '\' before '\' and '"' so that the launcher's splitter hands the text on as it stands.
VString EscapeForQuotes(const VString& text) {
    VString out;
    for (int32 i = 0; i < text.GetLength(); ++i) {
        const UniChar c = text.GetUniChar(i + 1);
        if (c == u'\\' || c == u'"') out.AppendUniChar(u'\\');
        out.AppendUniChar(c);
    }
    return out;
}

VString QuotedPosixPath(const VFilePath& path) {
    VString out("\"");
    out += EscapeForQuotes(PosixText(path));
    out += VString("\"");
    return out;
}

// The folder's POSIX path without its final '/', as the system calls take it.
std::string PosixBytes(const VFolder& folder) {
    std::string path = folder.GetPosixPathBytes();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Removes a copy this run made, the errors of a failed removal left out: the failure being reported is another.
void DeleteQuietly(const VFolder& folder) {
    StErrorContextInstaller quiet(false, true);
    (void)folder.DeleteForced();
}

void PushCopyFailed(const VFolder& from, const VFolder& to) {
    auto* error = new VErrorBase(VE_UPD_COPY_FAILED);
    error->SetString("from", from.GetPathRef().GetPath());
    error->SetString("to", to.GetPathRef().GetPath());
    PushError(error);
}

// The same file-system object, or nested inside: compared by device and inode, links followed.
bool IsSameFolder(const VFolder& a, const VFolder& b) {
    return a.IsSameFolder(&b);
}

} // namespace

void LogError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log(EML_Error, format, args);
    va_end(args);
}

void LogInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log(EML_Information, format, args);
    va_end(args);
}

void LogDebug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log(EML_Debug, format, args);
    va_end(args);
}

void DumpErrorStack(VErrorContext* context, bool inReverse) {
    if (context == nullptr || context->IsEmpty()) return;
    std::vector<VRefPtr<VErrorBase>> errors = context->GetErrors();
    if (inReverse) std::reverse(errors.begin(), errors.end());
    for (const VRefPtr<VErrorBase>& error : errors)
        _LogError(error);
}

VError ThrowErrorWithPath(VError code, const VFilePath& path) {
    if (code == VE_OK) return code;
    auto* error = new VErrorBase(code);
    error->SetString("path", path.GetPath());
    PushError(error);
    return code;
}

VError ThrowErrorWithPaths(VError code, const VFilePath& source, const VFilePath& destination) {
    if (code == VE_OK) return code;
    auto* error = new VErrorBase(code);
    error->SetString("srcPath", source.GetPath());
    error->SetString("dstPath", destination.GetPath());
    PushError(error);
    return code;
}

void FixFolderPathSpec(const VString& text, FilePathStyle, VFilePath& path) {
    if (text.IsEmpty()) {
        path.Clear();
        return;
    }
    VString folder(text);
    if (folder.GetUniChar(folder.GetLength()) != u'/') folder.AppendUniChar(u'/');
    path.FromFullPath(folder, FPS_POSIX, false);
}

VUpdateEngine::VUpdateEngine() = default;

VUpdateEngine::~VUpdateEngine() {
    DoQuit();
    _ReleaseLocalizationManager();
}

bool VUpdateEngine::Init(uint32 flags) {
    const bool result = VProcessIPC::Init(flags);
    if (result && fLocalizationManager.Get() == nullptr) _InitLocalizationManager();
    return result;
}

bool VUpdateEngine::_InitLocalizationManager() {
    VRefPtr<VFolder> bundle = VRefPtr<VFolder>::Adopt(RetainFolder(kFolderBundle));
    // A bundle without .lproj folders gives no language: the manager then holds only language-free files, and
    // every lookup falls back to the caller's default text.
    const uint32 language = VComponentManager::GetLocalizationLanguage(bundle.Get(), true, 0);
    _ReleaseLocalizationManager();
    fLocalizationManager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(language));
    VLocalizationManager* manager = fLocalizationManager.Get();
    manager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get());
    SetLocalizer(manager);
    SetProcessLocalizer(manager);
    if (VUTIManager* types = VUTIManager::GetUTIManager()) types->SetLocalizationManager(manager);
    for (uint32 signature : kLocalizedSignatures)
        VErrorBase::RegisterLocalizer(signature, manager);
    return true;
}

void VUpdateEngine::_ReleaseLocalizationManager() {
    VLocalizationManager* manager = fLocalizationManager.Get();
    if (manager == nullptr) return;
    // The registries do not own it: none may keep it once it goes.
    for (uint32 signature : kLocalizedSignatures)
        if (VErrorBase::GetLocalizer(signature) == manager) VErrorBase::UnregisterLocalizer(signature);
    if (VUTIManager* types = VUTIManager::GetExistingUTIManager()) types->SetLocalizationManager(nullptr);
    if (GetProcessLocalizer() == manager) SetProcessLocalizer(nullptr);
    if (GetLocalizer() == manager) SetLocalizer(nullptr);
    fLocalizationManager = nullptr;
}

bool VUpdateEngine::_QuitRequested() {
    VTask* main = VTaskMgr::Get()->GetMainTask();
    return main != nullptr && main->IsDying();
}

void VUpdateEngine::DoQuit() {
    if (ILogger* logger = GetProcessLogger()) logger->Flush();
    if (fFileLogger != nullptr) {
        fFileLogger->Stop();
        fFileLogger.reset();
    }
}

void VUpdateEngine::DoRun() {
    fHasRun = true;
    StErrorContextInstaller errors(true, true);
    VErrorContext* context = errors.GetContext();
    _InitLog();
    if (context != nullptr && !context->IsEmpty()) fSilent = false;

    VString date, time;
    DateAndTime(date, time);
    LogInfo("Updater starting - %S - %S", &date, &time);
    if (context == nullptr || context->IsEmpty()) _ApplyUpdate();
    DumpErrorStack(context, true);

    DateAndTime(date, time);
    if (context == nullptr || context->IsEmpty()) {
        LogInfo("Update successful - %S - %S", &date, &time);
        return;
    }
    LogInfo("Update failed - %S - %S", &date, &time);
    // Asked to quit: no alert that would wait for an answer.
    if (!fSilent && !_QuitRequested()) _NotifyFailure(*context);
}

void VUpdateEngine::_NotifyFailure(VErrorContext& context) {
    VString message;
    if (VErrorBase* last = context.GetLast()) {
        last->GetErrorDescription(message);
        if (message.IsEmpty()) last->GetErrorString(message);
    }
    VString logPath;
    // Only a logger that started has a file to point to.
    if (fFileLogger != nullptr && fFileLogger->IsStarted()) {
        VFilePath folder;
        fFileLogger->GetLogFolderPath(folder);
        VString name;
        fFileLogger->GetLogName(name);
        name += VString("_1.txt");
        VFilePath file(folder, name, FPS_POSIX);
        logPath = PosixText(file);
        VString more = LocalizeString(VString("MoreInformationsAvailableInLogFile"),
                                      "More information is available in the log file '{LogFilePath}'");
        auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
        bag->SetString(StPackedDictionaryKey("LogFilePath"), logPath);
        more.Format(bag.Get());
        if (!more.IsEmpty()) message.AppendPrintf("\r\n%S", &more);
    }
    ENotificationResponse response = eNotificationResponse_None;
    VSystem::DisplayNotification(VString(), message, eNotificationButtons_YesNo, &response);
    // The desktop's opener from PATH, by its full path; none found, nothing opens.
    std::string opener("xdg-open");
    if (response == eNotificationResponse_Yes && !logPath.IsEmpty() &&
        XPosixProcessLauncher::ResolveProgramPath(opener)) {
        VString command = QuotedPosixPath(VFilePath(VString(opener.data(), opener.size(), VTC_UTF_8), FPS_POSIX));
        command += VString(" ");
        command += QuotedPosixPath(VFilePath(logPath, FPS_POSIX));
        VProcessLauncher::ExecuteCommandLine(command, VProcessLauncher::kDoNotWait, nullptr, nullptr, nullptr);
    }
}

bool VUpdateEngine::_InitLog() {
    if (fLogFolder.IsEmpty() || !fLogFolder.IsFolder()) return false;
    VFolder folder(fLogFolder);
    if (!folder.Exists() && folder.CreateRecursive(false) != VE_OK) return false;
    VTime now;
    now.FromSystemTime();
    int16 year, month, day, hour, minute, second, ms;
    now.GetLocalTime(year, month, day, hour, minute, second, ms);
    VString name;
    name.Printf("%04d-%02d-%02d_%02d-%02d-%02d_log", year, month, day, hour, minute, second);
    fFileLogger = std::make_unique<VLog4jMsgFileLogger>(fLogFolder, name);
    fFileLogger->Start();
    if (!fFileLogger->IsStarted()) PushError(new VErrorBase(VE_UPD_LOG_NOT_STARTED));
    return fFileLogger->IsStarted();
}

void VUpdateEngine::_ApplyUpdate() {
    StErrorContextInstaller errors(true, true);
    VErrorContext* context = errors.GetContext();
    auto failed = [context] { return context != nullptr && !context->IsEmpty(); };
    {
        VFolder outdated(fOutdatedApp);
        VFolder upToDate(fUpToDateApp);
        if (!outdated.Exists()) ThrowErrorWithPath(VE_UPD_OUTDATED_MISSING, fOutdatedApp);
        if (!upToDate.Exists()) ThrowErrorWithPath(VE_UPD_UPTODATE_MISSING, fUpToDateApp);
        if (failed()) return;
    }
    if (!fClientInfoFile.IsEmpty() && fClientInfoFile.IsFile() && VFile(fClientInfoFile).Exists()) {
        _FinishClientCustomization();
        if (failed()) return;
    }
    if (fCallerLog) {
        // A caller that closed its end of the pipe must not kill us with SIGPIPE before the update.
        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous);
        std::fprintf(stdout, "%s,%d\n", "waitquit", -1);
        std::fflush(stdout);
        sigaction(SIGPIPE, &previous, nullptr);
        // Reopened rather than closed: the caller sees end of file, and descriptors 0-2 never go to files we
        // open later.
        (void)std::freopen("/dev/null", "r", stdin);
        (void)std::freopen("/dev/null", "w", stdout);
        (void)std::freopen("/dev/null", "w", stderr);
        fCallerLog = false;
    }
    LogInfo("Waiting for external process to quit");
    _WaitForPidToQuit();
    if (failed()) {
        LogError("External process wait failed");
        PushError(new VErrorBase(VE_UPD_CALLER_STILL_RUNNING));
        return;
    }
    LogInfo("Proceeding with up-to-date application install...");
    VFolder outdated(fOutdatedApp);
    VFolder upToDate(fUpToDateApp);
    VFolder install(fInstallPath);
    VRefPtr<VFolder> old = VRefPtr<VFolder>::Adopt(_SwapApplications(outdated, upToDate, install));
    if (failed()) {
        LogError("Up-to-date application install failed");
        PushError(new VErrorBase(VE_UPD_INSTALL_FAILED));
        return;
    }
    LogInfo("Proceeding with up-to-date application restart...");
    _LaunchApplication(fInstallPath);
    if (failed()) {
        LogError("Up-to-date application restart failed");
        return;
    }
    LogInfo("Up-to-date application restarted");
    if (old.Get() != nullptr && old->MoveToTrash() != VE_OK) old->DeleteForced();
}

bool VUpdateEngine::_WaitForPidToQuit() {
    if (fCallerPid < 0) {
        LogInfo("Skipping process wait (negative pid)");
        return true;
    }
    LogInfo("Waiting for process %d to quit", fCallerPid);
    const uint32 start = VSystem::GetCurrentTime();
    bool present = true;
    uint32 elapsed = 0;
    std::vector<int> pids;
    while (present && elapsed < fMaxWaitMs && !_QuitRequested()) {
        // The list is appended to: cleared each round, or a pid once seen would stay present for ever.
        pids.clear();
        VSystem::GetProcessList(pids);
        if (!pids.empty()) present = std::find(pids.begin(), pids.end(), fCallerPid) != pids.end();
        if (!present) break;
        // A quit request ends the sleep early.
        VTask::Sleep(fPollDelayMs);
        elapsed = VSystem::GetCurrentTime() - start;
    }
    if (present && !_QuitRequested()) {
        LogError("Process %d still exists after maximum wait time. Giving up.", fCallerPid);
        PushError(new VErrorBase(VE_UPD_CALLER_STILL_RUNNING));
        return false;
    }
    if (!present) VTask::Sleep(fGraceDelayMs);
    // Nothing has changed on disk yet: a quit request stops the update here.
    if (_QuitRequested()) {
        LogError("Quit requested while waiting for process %d. Giving up.", fCallerPid);
        PushError(new VErrorBase(VE_UPD_CALLER_STILL_RUNNING));
        return false;
    }
    LogInfo("Process %d has quit. Proceeding.", fCallerPid);
    return true;
}

bool VUpdateEngine::_ComputeTempFolderPath(const VFilePath& source, VFilePath& result, const VString* suffix) {
    VString base;
    source.GetFolderName(base, false);
    for (int32 n = 1;; ++n) {
        result = source;
        VString name(base);
        if (suffix != nullptr && !suffix->IsEmpty())
            name.AppendPrintf("_%S%04d", suffix, n);
        else
            name.AppendPrintf("%04d", n);
        result.SetFolderName(name, false);
        if (!VFolder(result).Exists()) return true;
        if (n >= 9999) return false;
    }
}

VFolder* VUpdateEngine::_SwapApplications(const VFolder& outdated, const VFolder& upToDate, const VFolder& install) {
    if (IsSameFolder(upToDate, outdated) || upToDate.GetPathRef().IsChildOf(outdated.GetPathRef())) {
        ThrowErrorWithPath(VE_UPD_SAME_OR_NESTED, outdated.GetPathRef());
        return nullptr;
    }
    VFilePath temp;
    const VString suffix("old");
    (void)_ComputeTempFolderPath(outdated.GetPathRef(), temp, &suffix);

    VRefPtr<VFolder> parent = VRefPtr<VFolder>::Adopt(install.RetainParentFolder(false));
    if (parent.Get() == nullptr || (!parent->Exists() && parent->CreateRecursive(false) != VE_OK)) {
        ThrowErrorWithPath(VE_UPD_CANNOT_CREATE_PARENT, parent.Get() != nullptr ? parent->GetPathRef() : VFilePath());
        return nullptr;
    }
    // The whole copy is made and flushed beside the install path while the outdated bundle stays where it is.
    VString name;
    install.GetPathRef().GetFolderName(name, true);
    VRefPtr<VFolder> staging;
    if (_CopyBeside(upToDate, *parent, name, staging) != VE_OK) {
        PushCopyFailed(upToDate, install);
        LogInfo("Rolling back up-to-date application install");
        if (staging.Get() != nullptr) DeleteQuietly(*staging);
        return nullptr;
    }
    return _PutInPlace(*staging, outdated, upToDate, install, temp);
}

VError VUpdateEngine::_CopyBeside(const VFolder& upToDate, const VFolder& parent, const VString& name,
                                  VRefPtr<VFolder>& staging) {
    VString hidden(".");
    hidden += name;
    hidden += VString(".updating");
    // Whatever stands under the hidden name is the copy of an interrupted run: ours to remove.
    const VFolder leftover(parent, hidden, FPS_POSIX);
    if (XPosixFolder::IsPresent(PosixBytes(leftover).c_str())) {
        if (VError error = leftover.DeleteForced(); error != VE_OK) return error;
    }
    VFolder* copied = nullptr;
    VError error = upToDate.CopyTo(parent, hidden, &copied, FOLDER_COPY_REPLACE);
    staging = VRefPtr<VFolder>::Adopt(copied);
    if (error != VE_OK || staging.Get() == nullptr) return error != VE_OK ? error : VE_UPD_COPY_FAILED;
    // On disk before the swap makes it the only copy of the application.
    return WrapFileError(staging->GetPathRef(), VE_FILE_CANNOT_FLUSH,
                         XPosixFolder::Flush(PosixBytes(*staging).c_str()));
}

VFolder* VUpdateEngine::_PutInPlace(const VFolder& staging, const VFolder& outdated, const VFolder& upToDate,
                                    const VFolder& install, const VFilePath& temp) {
    VString tempName;
    temp.GetFolderName(tempName, true);
    const std::string stagingPath = PosixBytes(staging), installPath = PosixBytes(install);
    // One exchange puts the copy at the install path and the outdated bundle under the hidden name, which is
    // then renamed aside. A file system without exchange gets the two renames, the install path empty between.
    bool twoRenames = !install.GetPathRef().GetPath().EqualToStringRaw(outdated.GetPathRef().GetPath());
    bool exchanged = false;
    VRefPtr<VFolder> old;
    VRefPtr<VErrorBase> fileError;
    // Each attempt runs in a context of its own: a retry that succeeds leaves nothing behind, and only when the
    // last attempt fails too does its file error go on, under error 11.
    constexpr int kAttempts = 5;
    for (int attempt = 1; attempt <= kAttempts && old.Get() == nullptr; ++attempt) {
        if (attempt > 1) VTask::Sleep(fRenameRetryDelayMs);
        StErrorContextInstaller attemptErrors(false, true);
        if (!exchanged && !twoRenames) {
            const VError result = XPosixFolderSwap::Exchange(stagingPath.c_str(), installPath.c_str());
            exchanged = result == VE_OK;
            twoRenames = XPosixFolderSwap::IsExchangeRefused(result);
            if (!exchanged && !twoRenames) WrapFileError(install.GetPathRef(), VE_FOLDER_CANNOT_RENAME, result);
        }
        VFolder* renamed = nullptr;
        if (exchanged || twoRenames) (void)(exchanged ? staging : outdated).Rename(tempName, &renamed);
        old = VRefPtr<VFolder>::Adopt(renamed);
        if (old.Get() == nullptr && attemptErrors.GetContext() != nullptr)
            fileError = attemptErrors.GetContext()->GetLast();
    }
    if (old.Get() == nullptr) {
        if (fileError.Get() != nullptr) {
            fileError->Retain();
            PushError(fileError.Get());
        }
        ThrowErrorWithPaths(VE_UPD_RENAME_ASIDE_FAILED, outdated.GetPathRef(), temp);
        LogInfo("Rolling back up-to-date application install");
        if (exchanged && XPosixFolderSwap::Exchange(stagingPath.c_str(), installPath.c_str()) != VE_OK) {
            _ReportFailedRollBack(staging, outdated);
            return nullptr;
        }
        DeleteQuietly(staging);
        return nullptr;
    }
    if (twoRenames) {
        VString name;
        install.GetPathRef().GetFolderName(name, true);
        if (staging.Rename(name) != VE_OK) {
            PushCopyFailed(upToDate, install);
            LogInfo("Rolling back up-to-date application install");
            VString outdatedName;
            outdated.GetPathRef().GetFolderName(outdatedName, true);
            if (old->Rename(outdatedName) != VE_OK) {
                _ReportFailedRollBack(*old, outdated);
                return nullptr;
            }
            DeleteQuietly(staging);
            return nullptr;
        }
    }
    return old.Forget();
}

void VUpdateEngine::_ReportFailedRollBack(const VFolder& aside, const VFolder& outdated) {
    VString where = PosixText(aside.GetPathRef());
    LogError("Rolling back up-to-date application install failed: the outdated application is at %S", &where);
    ThrowErrorWithPaths(VE_UPD_ROLLBACK_FAILED, aside.GetPathRef(), outdated.GetPathRef());
}

VString VUpdateEngine::_BuildLaunchCommand(const VFilePath& bundle) const {
    // The stand-in beside this executable, by its full path: a bare name could run another "open". Without
    // our own folder there is nothing safe to run (empty command).
    const VString folder = GetExecutableFolderPath();
    if (folder.IsEmpty()) return VString();
    VString command = QuotedPosixPath(VFilePath(folder + VString("open"), FPS_POSIX));
    command += VString(" -a ");
    command += QuotedPosixPath(bundle);
    if (!fRestartParamsFile.IsEmpty()) {
        command += VString(" --args ");
        command += QuotedPosixPath(fRestartParamsFile);
        if (fHeadless) command += VString(" --headless");
    } else if (fHeadless) {
        command += VString(" --args --headless");
    }
    return command;
}

bool VUpdateEngine::_LaunchApplication(const VFilePath& bundle) const {
    const VString command = _BuildLaunchCommand(bundle);
    LogInfo("Restarting installed application (%S)...", &command);
    VProcessOutputBuffer output, errors;
    int32 status = 0;
    const int32 result = command.IsEmpty()
                             ? int32(ENOENT)
                             : VProcessLauncher::ExecuteCommandLine(command, 0, nullptr, &output, &errors, nullptr,
                                                                    nullptr, &status, nullptr, nullptr, true, false);
    // An `open` that could not start the application exits non-zero: that is a failed relaunch too.
    if (result != 0 || status != 0) {
        LogError("Failed to restart updated application (returned error %d - exit status %d)", result, status);
        PushError(new VErrorBase(VE_UPD_RESTART_FAILED));
        return false;
    }
    LogInfo("Updated application restarted, returned %d", status);
    return true;
}

void VUpdateEngine::_LogProgressToCaller(const char* step, int value) {
    if (!fCallerLog) return;
    std::fprintf(stdout, "%s,%d\n", step, value);
    std::fflush(stdout);
}

// ---- Client customisation

namespace {

const VString BABuildServerPlatform("ServerPlatform");
const VString BABuildInfoIPAdress("BuildIPAdress");
const VString BABuildInfoIPPort("BuildIPPort");
const VString BABuildInfoPublishName("PublishName");
const VString BABuildCacheFolderNameClient("BuildCacheFolderNameClient");

namespace StartupParametersBagKeys {
const StPackedDictionaryKey is_remote("is_remote");
const StPackedDictionaryKey server_database_name("server_database_name");
const StPackedDictionaryKey server_path("server_path");
const StPackedDictionaryKey cache_folder_name("cache_folder_name");
const StPackedDictionaryKey remote_shared_resources("remote_shared_resources");
} // namespace StartupParametersBagKeys

// The property's text when it is a string; another type counts as absent.
bool GetStringProperty(const VJSONObject& object, const VString& name, VString& out) {
    VJSONValue value = object.GetProperty(name);
    return value.IsString() && value.GetString(out) == VE_OK;
}

} // namespace

bool VUpdateEngine::_FinishClientCustomization() {
    StErrorContextInstaller errors(true, true);
    VJSONValue info;
    VError loaded = VE_OK;
    {
        VFile file(fClientInfoFile);
        loaded = info.LoadFromFile(&file, false);
    }
    VString platform;
    // A file cut short parses into a partial object: nothing of it may be used.
    if (loaded != VE_OK || !info.IsObject() || info.GetObjectPtr() == nullptr ||
        !GetStringProperty(*info.GetObjectPtr(), BABuildServerPlatform, platform)) {
        PushError(new VErrorBase(VE_UPD_BAD_CLIENT_INFO));
        return false;
    }
    _SetIPAdressOnClientPref(*info.GetObjectPtr(), fUpToDateApp);
    _FinishMacClientCustomization(*info.GetObjectPtr());
    return errors.GetContext() == nullptr || errors.GetContext()->IsEmpty();
}

bool VUpdateEngine::_SetIPAdressOnClientPref(const VJSONObject& clientInfo, const VFilePath& upToDateBundle) {
    VString serverPath;
    if (!GetStringProperty(clientInfo, BABuildInfoIPAdress, serverPath)) return true;
    VString port;
    if (GetStringProperty(clientInfo, BABuildInfoIPPort, port)) serverPath.AppendPrintf(":%S", &port);
    VString databaseName, cacheName;
    if (!GetStringProperty(clientInfo, BABuildInfoPublishName, databaseName)) databaseName.Clear();
    if (!GetStringProperty(clientInfo, BABuildCacheFolderNameClient, cacheName)) cacheName.Clear();

    VFilePath folderPath(upToDateBundle);
    folderPath.ToSubFolder("Contents").ToSubFolder("Database");
    VFolder folder(folderPath);
    if (!folder.Exists()) (void)folder.CreateRecursive(false);
    VFile file(folder, "ZiduvozServer.Zolink", FPS_POSIX);

    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    bag->SetBool(StartupParametersBagKeys::is_remote, true);
    bag->SetString(StartupParametersBagKeys::server_database_name, databaseName);
    bag->SetString(StartupParametersBagKeys::server_path, serverPath);
    bag->SetString(StartupParametersBagKeys::cache_folder_name, cacheName);
    bag->SetBool(StartupParametersBagKeys::remote_shared_resources, false);
    WriteBagToFileInXML(*bag, VString("database_shortcut"), &file, false);
    return true;
}

bool VUpdateEngine::_FinishMacClientCustomization(const VJSONObject&) {
    StErrorContextInstaller errors(true, true);
    std::string executable;
    if (!XPosixBundle::GetExecutablePath(UTF8(PosixText(fUpToDateApp)), executable)) return true;
    VFile file(VFilePath(VString(executable.data(), executable.size(), VTC_UTF_8), FPS_POSIX));
    uint16 mode = 0;
    if (file.MAC_GetPermissions(&mode) == VE_OK && (mode & 0111) != 0111) file.MAC_SetPermissions(uint16(mode | 0111));
    return errors.GetContext() == nullptr || errors.GetContext()->IsEmpty();
}

// ---- Command line

uint32 VUpdateEngine::DoParseCommandLine(VCommandLineParser& parser) {
    parser.AddParagraph("\nZo Updater\n\t\tUpdates an existing Zo application residing at <path of app to update> "
                        "using \t\tnewer versions tored <path of update>\n\n");
    fCallerPid = -1;
    parser.AddOption("pid", "Wait for the caller's pid", fCallerPid);
    fSilent = false;
    parser.AddFlag("silent", "ensure that no message is displayed in case of error. Errors are still logged though",
                   fSilent);
    VString installPath;
    parser.AddOption("install-path",
                     "indicates where the updated app should be installed instead of <path of app to update>.",
                     installPath);
    VString restartParams;
    parser.AddOption("restart-params",
                     "indicates the full path to the ZoLink \t\tfile that will be passed back to the restarted "
                     "application. This does not \t\tapply if the application is started as a service",
                     restartParams);
    VString callerLog;
    parser.AddOption("caller-log", "Restart params", callerLog);
    VString logDir;
    parser.AddOption("log-dir", "specifies a folder for the updater where log file should be written", logDir);
    VString clientInfo;
    parser.AddOption("client-info",
                     "path of the client customization file. Using this \t\toption IMPLIES that application is a "
                     "Zo-based client, which incurs special processing.",
                     clientInfo);
    VString outdated;
    parser.AddOption("outdated-app", "Outdated application bundle path", outdated);
    VString upToDate;
    parser.AddOption("uptodate-app", "Up-to-date application bundle path", upToDate);
    std::vector<VString> positionals;
    parser.AddRemainingArguments(positionals);
    fHeadless = false;
    parser.AddFlag("restart-headless", "Restart the application in headless mode.", fHeadless);
    parser.AddParagraph("\nHelp:\n");
    bool printVersion = false;
    parser.AddFlag("version", "Print the version and exits", printVersion);

    const int result = parser.Parse();
    if (printVersion && result == 0) {
        VString version;
        GetRawShortVersion(version);
        VCommandLineParser::Print(version);
        return 2;
    }
    if (result != 0) return uint32(result);

    if (positionals.size() == 1) {
        VCommandLineParser::PrintArgumentError("not enough arguments from the command line (required <dest> <src>)\n");
        return 1;
    }
    if (positionals.size() > 2) {
        VCommandLineParser::PrintArgumentError("two many arguments from the command line");
        return 1;
    }
    if (positionals.size() == 2) {
        bool outdatedMismatch = false;
        if (!outdated.IsEmpty()) {
            if (!outdated.EqualToString(positionals[0], false)) {
                VCommandLineParser::PrintArgumentError("mismatched value for option --outdated-app\n");
                outdatedMismatch = true;
            }
        } else {
            outdated = positionals[0];
        }
        if (!upToDate.IsEmpty()) {
            if (!upToDate.EqualToString(positionals[1], false)) {
                VCommandLineParser::PrintArgumentError("mismatched value for option --uptodate-app\n");
                return 1;
            }
        } else {
            upToDate = positionals[1];
        }
        if (outdatedMismatch) return 1;
    }
    bool upToDateMissing = false;
    if (upToDate.IsEmpty()) {
        VCommandLineParser::PrintArgumentError("mismatched value for option --uptodate-app\n");
        upToDateMissing = true;
    }
    if (outdated.IsEmpty()) {
        VCommandLineParser::PrintArgumentError("mismatched value for option --outdated-app\n");
        return 1;
    }
    if (upToDateMissing) return 1;

    // Relative paths are taken from the working directory, as the shell that ran us takes them.
    using Extension::CommandLineParser::AbsolutePathText;
    FixFolderPathSpec(AbsolutePathText(outdated), FPS_POSIX, fOutdatedApp);
    FixFolderPathSpec(AbsolutePathText(upToDate), FPS_POSIX, fUpToDateApp);
    fInstallPath = fOutdatedApp;
    if (restartParams.IsEmpty())
        fRestartParamsFile.Clear();
    else
        fRestartParamsFile.FromFullPath(AbsolutePathText(restartParams), FPS_POSIX, false);
    fCallerLog = !callerLog.IsEmpty();
    FixFolderPathSpec(AbsolutePathText(logDir), FPS_POSIX, fLogFolder);
    if (!clientInfo.IsEmpty()) fClientInfoFile.FromFullPath(AbsolutePathText(clientInfo), FPS_POSIX, false);
    return 0;
}
