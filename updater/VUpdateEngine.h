#pragma once

#include "app/VProcessIPC.h"
#include "core/ILogger.h"
#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFilePath.h"

#include <memory>

namespace vela {
class VCommandLineParser;
class VErrorContext;
class VFolder;
class VJSONObject;
class VLocalizationManager;
class VLog4jMsgFileLogger;
} // namespace vela

// Updater errors: component 'UPZo', numbered as the localization files number their texts.
constexpr vela::uint32 kComponentUpdater = vela::FourCC("UPZo");
constexpr vela::VError VE_UPD_CALLER_STILL_RUNNING = vela::MakeVError(kComponentUpdater, 1);
constexpr vela::VError VE_UPD_UPTODATE_MISSING = vela::MakeVError(kComponentUpdater, 2);
constexpr vela::VError VE_UPD_OUTDATED_MISSING = vela::MakeVError(kComponentUpdater, 3);
constexpr vela::VError VE_UPD_FILE_COPY_FAILED = vela::MakeVError(kComponentUpdater, 8);
constexpr vela::VError VE_UPD_RENAME_ASIDE_FAILED = vela::MakeVError(kComponentUpdater, 11);
constexpr vela::VError VE_UPD_CANNOT_CREATE_PARENT = vela::MakeVError(kComponentUpdater, 12);
constexpr vela::VError VE_UPD_COPY_FAILED = vela::MakeVError(kComponentUpdater, 13);
constexpr vela::VError VE_UPD_SAME_OR_NESTED = vela::MakeVError(kComponentUpdater, 14);
constexpr vela::VError VE_UPD_BAD_CLIENT_INFO = vela::MakeVError(kComponentUpdater, 41);
constexpr vela::VError VE_UPD_INSTALL_FAILED = vela::MakeVError(kComponentUpdater, 100);
constexpr vela::VError VE_UPD_LOG_NOT_STARTED = vela::MakeVError(kComponentUpdater, 101);
constexpr vela::VError VE_UPD_RESTART_FAILED = vela::MakeVError(kComponentUpdater, 120);
// A rollback that could not put the outdated bundle back under its name.
constexpr vela::VError VE_UPD_ROLLBACK_FAILED = vela::MakeVError(kComponentUpdater, 121);

// The updater: waits for its caller to quit, puts the up-to-date bundle in place of the outdated one with
// roll-back, relaunches it and trashes the old one, logging each step. It is the program's tool process: Init
// brings the library up, reads the command line and localizes its texts; Run does the update on the main task.
// Every failure is an error pushed on the current task's context; DoRun leaves the run's errors there for the
// exit status.
class VUpdateEngine : public vela::VProcessIPC {
public:
    VUpdateEngine();
    // Stops the file logger, withdraws the localization manager from every registry, then shuts the library down.
    ~VUpdateEngine() override;
    VUpdateEngine(const VUpdateEngine&) = delete;
    VUpdateEngine& operator=(const VUpdateEngine&) = delete;

    // The tool process's start-up, then, when it succeeded, the localization manager; answers the former.
    bool Init(vela::uint32 flags) override;

    // Declares the options, parses, fills the fields. 0: go on; 1: rejected (message printed); 2: the process's
    // short version printed; another code of Parse is passed on.
    vela::uint32 DoParseCommandLine(vela::VCommandLineParser& parser) override;

    // The whole update, inside a keeping silent context whose errors are merged into the caller's.
    void DoRun() override;
    // Flushes the process logger, stops and drops the file logger.
    void DoQuit() override;
    // Whether DoRun was entered.
    bool HasRun() const noexcept { return fHasRun; }

    // The manager of the bundle's user-interface language (none without .lproj folders: the default texts then
    // stand), made the process localizer, the type-identifier manager's, and that of the errors of 'vela',
    // 'xmlc', 'PW32' and 'UPZo'. True.
    bool _InitLocalizationManager();
    vela::VLocalizationManager* GetLocalizationManager() const noexcept { return fLocalizationManager.Get(); }
    // Whether the process was asked to quit (its main task is dying): the wait for the caller then gives up.
    static bool _QuitRequested();

    // ---- Steps, public for tests
    bool _InitLog();
    void _ApplyUpdate();
    // True at once for a negative pid, or once the caller's process is gone; false (error 1 raised) when it is
    // still there after fMaxWaitMs, or when the process is asked to quit meanwhile.
    bool _WaitForPidToQuit();
    // The renamed old bundle (retained), or null; on failure the outdated bundle is back under its name.
    vela::VFolder* _SwapApplications(const vela::VFolder& outdated, const vela::VFolder& upToDate,
                                     const vela::VFolder& install);
    // result: source's sibling "<name>_<suffix>NNNN.<ext>" (or "<name>NNNN.<ext>") that does not exist yet.
    static bool _ComputeTempFolderPath(const vela::VFilePath& source, vela::VFilePath& result,
                                       const vela::VString* suffix);
    // The "open -a" command for bundle, "open" being the stand-in beside this executable by its full path, with '\'
    // and '"' escaped inside its quotes.
    vela::VString _BuildLaunchCommand(const vela::VFilePath& bundle) const;
    // Runs the command; false (error 120 raised) when it could not run or ended with a non-zero status.
    bool _LaunchApplication(const vela::VFilePath& bundle) const;
    void _LogProgressToCaller(const char* step, int value);
    bool _FinishClientCustomization();
    static bool _SetIPAdressOnClientPref(const vela::VJSONObject& clientInfo, const vela::VFilePath& upToDateBundle);
    bool _FinishMacClientCustomization(const vela::VJSONObject& clientInfo);

    // ---- Fields, set by the command line (tests set them directly)
    vela::VFilePath fLogFolder;
    vela::VFilePath fClientInfoFile;
    vela::VFilePath fOutdatedApp;
    vela::VFilePath fUpToDateApp;
    vela::VFilePath fInstallPath;
    std::unique_ptr<vela::VLog4jMsgFileLogger> fFileLogger;
    vela::int32 fCallerPid = -1;
    bool fCallerLog = false;
    bool fSilent = false;
    vela::VFilePath fRestartParamsFile;
    bool fHeadless = false;

    // ---- Waits in ms (tests shorten them): between rename attempts, between process polls, the wait's limit,
    // the grace after the caller quit.
    vela::int32 fRenameRetryDelayMs = 3000;
    vela::int32 fPollDelayMs = 500;
    vela::uint32 fMaxWaitMs = 60000;
    vela::int32 fGraceDelayMs = 1000;

private:
    void _ReleaseLocalizationManager();
    void _NotifyFailure(vela::VErrorContext& context);
    // Copies upToDate as the hidden sibling ".<name>.updating" in parent (a leftover there removed first) and
    // flushes it; staging receives the copy, also a partial one after a failure.
    vela::VError _CopyBeside(const vela::VFolder& upToDate, const vela::VFolder& parent, const vela::VString& name,
                             vela::VRefPtr<vela::VFolder>& staging);
    // Swaps the flushed copy in at the install path and renames the outdated bundle to temp's name (retried);
    // the renamed old bundle (retained), or null with the outdated bundle back in place and the copy removed.
    vela::VFolder* _PutInPlace(const vela::VFolder& staging, const vela::VFolder& outdated,
                               const vela::VFolder& upToDate, const vela::VFolder& install,
                               const vela::VFilePath& temp);
    void _ReportFailedRollBack(const vela::VFolder& aside, const vela::VFolder& outdated);

    vela::VRefPtr<vela::VLocalizationManager> fLocalizationManager;
    bool fHasRun = false;
};

// Logs through the process logger with the updater's signature; nothing without a process logger.
void LogError(const char* format, ...);
void LogInfo(const char* format, ...);
void LogDebug(const char* format, ...);
void DumpErrorStack(vela::VErrorContext* context, bool inReverse);
vela::VError ThrowErrorWithPath(vela::VError code, const vela::VFilePath& path);
vela::VError ThrowErrorWithPaths(vela::VError code, const vela::VFilePath& source, const vela::VFilePath& destination);

// The folder path for a POSIX folder text (a final '/' added when missing); an empty text clears path.
void FixFolderPathSpec(const vela::VString& text, vela::FilePathStyle style, vela::VFilePath& path);
