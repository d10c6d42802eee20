#pragma once

#include "core/ILogger.h"
#include "core/IMessageable.h"
#include "core/IRefCountable.h"
#include "core/ITaskProcess.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFolder.h"
#include "system/VSystem.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONObject.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

namespace vela {

class VActivityToken;
class VFile;

// The activity tokens of one process object and when the last one went; any thread.
class VActivityTokenSet {
public:
    void Register(VActivityToken* token);
    void Unregister(VActivityToken* token);
    // A token is registered, or the last one went less than delayMs (ms) ago.
    bool HasSome(uint32 delayMs) const;

private:
    mutable std::mutex fLock;
    std::set<VActivityToken*> fTokens;
    uint32 fIdleSince = VSystem::GetCurrentTime();
};

class VFileSystemNamespace;
class VIntlMgr;
class VResourceFile;

class VLogger;
class ILocalizer;

// Start-up flags of VProcess::Init.
enum EProcessInitFlags : uint32 {
    // Kept for readers outside the process frame.
    eProcessInit_Flag02 = 0x02,
    // Create the process logger and start it.
    eProcessInit_Logger = 0x10,
    // Tools: make the file-system notifier.
    eProcessInit_FileSystemNotifier = 0x40,
};

// The process singleton: brings the library up in its fixed order (Init) and down in reverse (destruction), knows
// the main bundle's folders and versions, holds the process logger and the activity tokens, and runs the
// application on the main task (Run). Applications derive from it and override DoRun, DoQuit and the checks.
// The main bundle is the folder holding Contents/MacOS/<executable> around /proc/self/exe.
class VProcess : public VObject, public virtual IMessageable, public ITaskProcess {
public:
    // Four-character folder kinds of RetainFolder.
    static constexpr uint32 kFolderBundle = FourCC("BNDL");
    static constexpr uint32 kFolderExecutable = FourCC("EXEC");
    static constexpr uint32 kFolderContents = FourCC("PLST");
    static constexpr uint32 kFolderResources = FourCC("RSRC");
    static constexpr uint32 kFolderNativeComponents = FourCC("NCMP");
    static constexpr uint32 kFolderDTDs = FourCC("DTDs");
    static constexpr uint32 kFolderXSDs = FourCC("XSDs");
    static constexpr uint32 kFolderXSLs = FourCC("XSLs");
    static constexpr uint32 kFolderJSONSchemas = FourCC("JSNs");

    // Reads the product name and short version from the main bundle (each empty when absent).
    VProcess();
    // Shuts the library down when Init has run, also after a failed Init.
    ~VProcess() override;
    VProcess(const VProcess&) = delete;
    VProcess& operator=(const VProcess&) = delete;

    // The process between the start of Init and the end of the shut-down; null otherwise. An atomic, so a signal
    // handler may read it.
    static std::atomic<VProcess*> sInstance;

    // Runs the start-up the first time (flags: EProcessInitFlags) and answers its cached result afterwards.
    virtual bool Init(uint32 flags);
    // Asks the main task to end (kill it and wake its queue); nothing without a main task. Any thread, not from a
    // signal handler (the tool process's watcher calls it for the handler). reason is not used.
    virtual void QuitAsynchronously(const VString* reason);
    // A folder of the bundle by kind (kFolder*), with a reference for the caller; null for an unknown kind or
    // when the executable's path is unknown. The folder need not exist.
    virtual VFolder* RetainFolder(uint32 kind) const;
    // The process's resource file, with a reference for the caller; null when the bundle has none (never on this
    // platform, where bundles keep no resource fork).
    virtual VResourceFile* RetainResourceFile();
    // A class of the process class store "zo" when storeName is exactly its name; else null.
    virtual VRefPtr<VJSONObject> GetClassObject(const VString& storeName, const VString& className) const;
    // The source of log records: the product name.
    virtual VString GetLogSourceIdentifier() const { return fProductName; }

    // Must be called on the main task: Init(0x50) when it has not run (a failure raises 'vela' 4 and returns),
    // then DoRun and DoQuit, then the main task is killed.
    void Run();
    // A main task exists and is not dying.
    bool IsRunning() const;
    bool IsInited() const noexcept { return fInited; }

    // The process logger (null without flag 0x10); with a level, only when the logger takes that level.
    VLogger* GetLogger() const noexcept { return fLogger; }
    VLogger* GetLogger(EMessageLevel level) const noexcept;
    ILocalizer* GetLocalizer() const noexcept { return fLocalizer; }
    void SetLocalizer(ILocalizer* localizer) noexcept { fLocalizer = localizer; }
    VIntlMgr* GetIntlMgr() const noexcept { return fIntlMgr; }
    // The process's named file systems (null before start-up reached them).
    VFileSystemNamespace* GetFileSystemNamespace() const noexcept { return fFileSystemNamespace; }
    // The process class store "zo" (null before start-up reached it).
    VRefPtr<VJSONClassStore> GetClassStore() const { return fClassStore; }

    const VString& GetProductName() const noexcept { return fProductName; }
    const VString& GetProductFolderName() const noexcept { return fProductFolderName; }
    // The bundle's executable (empty / null when unknown) and its folder.
    VString GetExecutableFilePath() const;
    VString GetExecutableFolderPath() const;
    VFile* RetainExecutableFile() const;
    // name in the folder of folderKind when it exists there; else, when alternateFolderKind is not 0, in that
    // folder; else null. With a reference for the caller.
    VFile* RetainFile(uint32 folderKind, const VString& name, uint32 alternateFolderKind) const;
    // The product's sub-folder (named after the product folder name) of a system folder; kinds 3, 8, 9, 12 and
    // unknown kinds give the system folder itself. create makes it, falling back to the user's folder of the
    // same family when a shared one cannot be made (1, 2, 4 to 5; 6 to 7; 10 to 11). Null when absent.
    VFolder* RetainProductSystemFolder(ESystemFolderKind kind, bool create) const;

    // From the short version "1.2.3 build 4.56": "1.2.3", "1", "4.56", 56.
    void GetShortProductVersion(VString& out) const;
    void GetMainProductVersion(VString& out) const;
    void GetBuildNumber(VString& out) const;
    int64 GetChangeListNumber() const;
    void GetRawShortVersion(VString& out) const { out = fShortVersion; }

    static int GetSystemID() noexcept;
    // kill(pid, 0) succeeds or fails for another reason than ESRCH.
    static bool IsProcessRunning(int pid) noexcept;

    // The task manager's questions: tasks are threads here, and each started task holds a VActivityToken;
    // settings files are found as RetainFile finds them.
    bool IsFibered() const noexcept override { return false; }
    IRefCountable* CreateActivityToken(const VString& reason) override;
    VString GetExistingFilePath(uint32 folderKind, const VString& name) const override;

    void RegisterActivityToken(VActivityToken* token);
    void UnregisterActivityToken(VActivityToken* token);
    // A token is alive, or the last one went less than delayMs (ms) ago.
    bool HasSomeActivityTokens(uint32 delayMs) const;

protected:
    // The application's work, on the main task; nothing in the base.
    virtual void DoRun() {}
    virtual void DoQuit() {}
    // Whether the system is recent enough; when not, notifies "Initialization failed" without waiting.
    virtual bool DoCheckSystemVersion(SystemVersion version);
    // For a test or a derived class that reads the bundle elsewhere.
    void SetVersionStrings(const VString& productName, const VString& shortVersion);

private:
    // Joins fTokens.
    friend class VActivityToken;

    bool _Init(uint32 flags);
    void _DeInit();
    bool _CheckCaseInsensitiveInstallFolder();
    bool _Init_FileSystems();
    void _ReleaseFileSystems();
    void _ReleaseLogger();

    // Retained; released first at destruction.
    VResourceFile* fResourceFile = nullptr;
    // Shared with the tokens that registered here, which may outlive this object.
    std::shared_ptr<VActivityTokenSet> fTokens;
    bool fInited = false;
    bool fInitResult = false;
    bool fFlag02 = false;
    bool fStartedTasks = false;
    VIntlMgr* fIntlMgr = nullptr;
    VFileSystemNamespace* fFileSystemNamespace = nullptr;
    ILocalizer* fLocalizer = nullptr;
    VString fProductName;
    VString fShortVersion;
    VString fProductFolderName;
    VLogger* fLogger = nullptr;
    // Whether this process published its logger and identity to the core (undone at shut-down).
    bool fPublishedLogger = false;
    bool fPublishedLogSource = false;
    VString fPreviousLogSource;
    VRefPtr<VJSONClassStore> fClassStore;
};

// Marks the process as busy while it lives (HasSomeActivityTokens). Registers with the process object when one
// exists, and unregisters from that same one, even when another process object exists by then or that one is gone.
class VActivityToken : public VObject, public IRefCountable {
public:
    explicit VActivityToken(const VString& name);
    ~VActivityToken() override;
    const VString& GetName() const noexcept { return fName; }

private:
    VString fName;
    // The set it joined; null when there was no process.
    std::shared_ptr<VActivityTokenSet> fSet;
};

} // namespace vela
