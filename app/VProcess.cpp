#include "app/VProcess.h"

#include "app/VLogger.h"
#include "app/platform/XPosixProcess.h"
#include "core/ILogger.h"
#include "core/VDebugMgr.h"
#include "core/VError.h"
#include "core/VErrorContext.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixBundleInfo.h"
#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VResourceFile.h"
#include "intl/VFileKind.h"
#include "intl/VIntlMgr.h"
#include "system/VProgressManager.h"
#include "json/VJSONClassStore.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace vela {

std::atomic<VProcess*> VProcess::sInstance{nullptr};

namespace {

VString FromUTF8(const std::string& text) {
    return VString(text.data(), text.size(), VTC_UTF_8);
}

VString BundleValue(const char* key) {
    std::optional<std::string> value = XPosixBundleInfo::GetMainBundleValue(key);
    return value ? FromUTF8(*value) : VString();
}

std::string ParentPosixPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return slash == 0 ? "/" : std::string();
    return path.substr(0, slash);
}

VFolder* NewFolder(const std::string& posixPath) {
    if (posixPath.empty()) return nullptr;
    std::string path = posixPath.back() == '/' ? posixPath : posixPath + '/';
    return new VFolder(FromUTF8(path), FPS_POSIX);
}

bool FolderExists(VFolder* folder) {
    bool exists = folder != nullptr && folder->Exists();
    if (folder != nullptr) folder->Release();
    return exists;
}

void NotifyInitializationFailed(const char* message) {
    VSystem::DisplayNotification(VString("Initialization failed"), VString(message), 0, nullptr);
}

constexpr VError kDoInitFailed = MakeLibraryError(4);

} // namespace

VProcess::VProcess() : fTokens(std::make_shared<VActivityTokenSet>()) {
    fProductName = BundleValue("CFBundleName");
    fShortVersion = BundleValue("CFBundleShortVersionString");
    fProductFolderName = fProductName;
}

VProcess::~VProcess() {
    ReleaseRefCountable(&fResourceFile);
    _ReleaseFileSystems();
    _ReleaseLogger();
    // Also after a failed Init: every step of the shut-down is harmless for what never started.
    if (fInited) _DeInit();
    if (fClassStore) {
        fClassStore = nullptr;
        VJSONClassStore::ReleaseProcessStore();
    }
}

VResourceFile* VProcess::RetainResourceFile() {
    return RetainRefCountable(fResourceFile);
}

VRefPtr<VJSONObject> VProcess::GetClassObject(const VString& storeName, const VString& className) const {
    if (!fClassStore || fClassStore->GetName() != storeName) return VRefPtr<VJSONObject>();
    return fClassStore->GetClassObject(className, false);
}

void VProcess::SetVersionStrings(const VString& productName, const VString& shortVersion) {
    fProductName = productName;
    fShortVersion = shortVersion;
    fProductFolderName = productName;
}

bool VProcess::Init(uint32 flags) {
    if (!fInited) {
        fInitResult = _Init(flags);
        fInited = true;
    }
    return fInitResult;
}

bool VProcess::_Init(uint32 flags) {
    bool systemOK = DoCheckSystemVersion(eSystemVersion_10_12);
    sInstance.store(this);
    SetProcessObjectExists(true);
    fFlag02 = (flags & eProcessInit_Flag02) != 0;
    if (!systemOK) return false;
    if (!VFile::Init()) return false;
    fIntlMgr = VIntlMgr::Create(0, 0, true);
    if (fIntlMgr == nullptr) return false;
    if (!VFileKindManager::Init() || !VResourceFile::Init()) return false;
    if (!_CheckCaseInsensitiveInstallFolder()) return false;
    if (!VTaskMgr::Get()->Init(this)) return false;
    fStartedTasks = true;
    if (!VDebugMgr::Get()->Init()) return false;
    if (!VProgressManager::Init()) return false;
    if (!_Init_FileSystems()) return false;
    VJSONClassStore::ReleaseProcessStore();
    fClassStore = VJSONClassStore::CreateProcessStore();
    if (!fProductName.IsEmpty()) {
        vela::GetLogSourceIdentifier(fPreviousLogSource);
        SetLogSourceIdentifier(fProductName);
        fPublishedLogSource = true;
    }
    if ((flags & eProcessInit_Logger) != 0) {
        fLogger = new VLogger;
        fLogger->Start();
        SetProcessLogger(fLogger);
        fPublishedLogger = true;
    }
    return true;
}

void VProcess::_DeInit() {
    sInstance.store(nullptr);
    VDebugMgr::Get()->DeInit();
    // A task manager that someone else started (Init then fails) is theirs to stop.
    if (fStartedTasks) VTaskMgr::Get()->DeInit();
    fStartedTasks = false;
    VFileKindManager::DeInit();
    VProgressManager::Deinit();
    if (fIntlMgr != nullptr) {
        fIntlMgr->Release();
        fIntlMgr = nullptr;
    }
    _ReleaseLogger();
    if (fPublishedLogSource) SetLogSourceIdentifier(fPreviousLogSource);
    fPublishedLogSource = false;
    SetProcessObjectExists(false);
}

void VProcess::_ReleaseLogger() {
    VLogger* logger = fLogger;
    if (logger == nullptr) return;
    fLogger = nullptr;
    if (fPublishedLogger && GetProcessLogger() == logger) SetProcessLogger(nullptr);
    fPublishedLogger = false;
    // Its reader task must end while the task manager still runs.
    logger->Stop();
    logger->Release();
}

bool VProcess::DoCheckSystemVersion(SystemVersion version) {
    bool ok = VSystem::IsSystemVersionOrAbove(version);
    if (!ok)
        NotifyInitializationFailed(version == eSystemVersion_10_12 ? "This application needs at least OS X 10.12"
                                                                   : "This application needs at least OS X 10.7");
    return ok;
}

bool VProcess::_CheckCaseInsensitiveInstallFolder() {
    VFolder* resources = RetainFolder(kFolderResources);
    // Without a known executable there is no install folder to judge.
    if (resources == nullptr) return true;
    std::string path = resources->GetPosixPathBytes();
    bool exists = resources->Exists();
    resources->Release();
    if (!path.empty() && path.back() == '/') path.pop_back();
    size_t nameStart = path.find_last_of('/') + 1;
    if (nameStart >= path.size()) return true;
    char& first = path[nameStart];
    if (first >= 'a' && first <= 'z')
        first = char(first - 'a' + 'A');
    else if (first >= 'A' && first <= 'Z')
        first = char(first - 'A' + 'a');
    bool flippedExists = FolderExists(NewFolder(path));
    if (exists == flippedExists) return true;
    if (!XPosixProcess::RefusesCaseSensitiveInstall()) return true;
    NotifyInitializationFailed("Please install the application on a case insensitive file system.");
    return false;
}

bool VProcess::_Init_FileSystems() {
    // Folders that are absent are left out of the namespace.
    auto existing = [](VFolder* folder) -> VFolder* {
        if (folder != nullptr && !folder->Exists()) {
            folder->Release();
            return nullptr;
        }
        return folder;
    };
    VFolder* home = existing(VFolder::RetainSystemFolder(eFK_UserDocuments, false));
    VFolder* resources = existing(RetainFolder(kFolderResources));
    VError error = 0;
    _ReleaseFileSystems();
    fFileSystemNamespace = VFileSystemNamespace::CreateProcessNamespace(home, resources, &error);
    if (home != nullptr) home->Release();
    if (resources != nullptr) resources->Release();
    return error == 0;
}

void VProcess::_ReleaseFileSystems() {
    VFileSystemNamespace* fileSystems = fFileSystemNamespace;
    fFileSystemNamespace = nullptr;
    if (fileSystems != nullptr) fileSystems->Release();
}

void VProcess::Run() {
    VTask* main = VTaskMgr::Get()->GetMainTask();
    if (main == nullptr || VTask::GetCurrent() != main || main->GetState() != eTaskStateRunning) return;
    if (!Init(eProcessInit_Logger | eProcessInit_FileSystemNotifier)) {
        vThrowUserGeneratedError(kDoInitFailed, VString("VApplication::DoInit failed"));
        return;
    }
    VTask::FlushErrors();
    StartMessaging();
    DoRun();
    DoQuit();
    main->Kill();
    StopMessaging();
}

void VProcess::QuitAsynchronously(const VString*) {
    VTask* main = VTaskMgr::Get()->GetMainTask();
    if (main == nullptr) return;
    main->Kill();
    main->SetMessageQueueEvent();
}

bool VProcess::IsRunning() const {
    VTask* main = VTaskMgr::Get()->GetMainTask();
    return main != nullptr && !main->IsDying();
}

VLogger* VProcess::GetLogger(EMessageLevel level) const noexcept {
    return fLogger != nullptr && fLogger->ShouldLog(level) ? fLogger : nullptr;
}

VString VProcess::GetExecutableFilePath() const {
    return FromUTF8(XPosixProcess::ExecutablePath());
}

VString VProcess::GetExecutableFolderPath() const {
    std::string path = XPosixProcess::ExecutablePath();
    if (path.empty()) return VString();
    return FromUTF8(ParentPosixPath(path) + '/');
}

VFile* VProcess::RetainExecutableFile() const {
    std::string path = XPosixProcess::ExecutablePath();
    return path.empty() ? nullptr : new VFile(FromUTF8(path), FPS_POSIX);
}

VFolder* VProcess::RetainFolder(uint32 kind) const {
    std::string executable = XPosixProcess::ExecutablePath();
    if (executable.empty()) return nullptr;
    std::string executableFolder = ParentPosixPath(executable);
    std::string contents = ParentPosixPath(executableFolder);
    switch (kind) {
    case kFolderBundle:
        return NewFolder(ParentPosixPath(contents));
    case kFolderExecutable:
        return NewFolder(executableFolder);
    case kFolderContents:
        return NewFolder(contents);
    case kFolderResources:
        return NewFolder(contents + "/Resources");
    case kFolderNativeComponents:
        return NewFolder(contents + "/Native Components");
    case kFolderDTDs:
        return NewFolder(contents + "/Resources/DTD");
    case kFolderXSDs:
        return NewFolder(contents + "/Resources/XSD");
    case kFolderXSLs:
        return NewFolder(contents + "/Resources/XSL");
    case kFolderJSONSchemas:
        return NewFolder(contents + "/Resources/JSONSchemas");
    default:
        return nullptr;
    }
}

VFile* VProcess::RetainFile(uint32 folderKind, const VString& name, uint32 alternateFolderKind) const {
    for (uint32 kind : {folderKind, alternateFolderKind}) {
        if (kind == 0) continue;
        VFolder* folder = RetainFolder(kind);
        if (folder == nullptr) continue;
        VFile* file = folder->Exists() ? new VFile(*folder, name, FPS_POSIX) : nullptr;
        folder->Release();
        if (file != nullptr && file->Exists()) return file;
        if (file != nullptr) file->Release();
    }
    return nullptr;
}

VFolder* VProcess::RetainProductSystemFolder(ESystemFolderKind kind, bool create) const {
    if (kind < 1 || kind > 13 || kind == eFK_None || kind == eFK_Desktop || kind == eFK_Applications ||
        kind == eFK_Library)
        return VFolder::RetainSystemFolder(kind, create);
    ESystemFolderKind fallback = eFK_None;
    if (kind == eFK_UserDocuments || kind == eFK_Temporary || kind == eFK_CommonPreferences)
        fallback = eFK_UserPreferences;
    else if (kind == eFK_CommonApplicationData)
        fallback = eFK_UserApplicationData;
    else if (kind == eFK_CommonCache)
        fallback = eFK_UserCache;
    VFolder* system = VFolder::RetainSystemFolder(kind, create);
    if (system == nullptr) return nullptr;
    VFolder* folder = VFolder::CreateAndResolveAlias(*system, fProductFolderName);
    system->Release();
    if (folder == nullptr) return nullptr;
    if (folder->Exists()) return folder;
    if (!create) {
        folder->Release();
        return nullptr;
    }
    VError error = VE_OK;
    if (fallback != eFK_None) {
        StErrorContextInstaller silent(false, true);
        error = folder->CreateRecursive(true);
    } else {
        error = folder->CreateRecursive(false);
    }
    if (error == VE_OK) return folder;
    folder->Release();
    return fallback != eFK_None ? RetainProductSystemFolder(fallback, true) : nullptr;
}

void VProcess::GetShortProductVersion(VString& out) const {
    out = fShortVersion;
    int32 build = fShortVersion.Find(VString("build "), 1, false);
    if (build > 0) out.Truncate(build - 1);
    out.RemoveWhiteSpaces();
}

void VProcess::GetMainProductVersion(VString& out) const {
    GetShortProductVersion(out);
    int32 dot = out.FindUniChar(u'.');
    if (dot > 0) out.Truncate(dot - 1);
}

void VProcess::GetBuildNumber(VString& out) const {
    out.Clear();
    int32 build = fShortVersion.Find(VString("build "), 1, false);
    if (build <= 0) return;
    fShortVersion.GetSubString(build + 6, fShortVersion.GetLength() - build - 5, out);
    out.RemoveWhiteSpaces();
}

int64 VProcess::GetChangeListNumber() const {
    VString build;
    GetBuildNumber(build);
    int32 dot = build.FindUniChar(u'.');
    if (dot <= 0) return 0;
    VString rest;
    build.GetSubString(dot + 1, build.GetLength() - dot, rest);
    return rest.GetLong8();
}

int VProcess::GetSystemID() noexcept {
    return int(getpid());
}

bool VProcess::IsProcessRunning(int pid) noexcept {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

IRefCountable* VProcess::CreateActivityToken(const VString& reason) {
    return new VActivityToken(reason);
}

VString VProcess::GetExistingFilePath(uint32 folderKind, const VString& name) const {
    VString path;
    if (VFile* file = RetainFile(folderKind, name, 0)) {
        file->GetPath().GetPosixPath(path);
        file->Release();
    }
    return path;
}

void VProcess::RegisterActivityToken(VActivityToken* token) {
    fTokens->Register(token);
}

void VProcess::UnregisterActivityToken(VActivityToken* token) {
    fTokens->Unregister(token);
}

bool VProcess::HasSomeActivityTokens(uint32 delayMs) const {
    return fTokens->HasSome(delayMs);
}

void VActivityTokenSet::Register(VActivityToken* token) {
    std::lock_guard<std::mutex> guard(fLock);
    fTokens.insert(token);
}

void VActivityTokenSet::Unregister(VActivityToken* token) {
    std::lock_guard<std::mutex> guard(fLock);
    if (fTokens.erase(token) != 0 && fTokens.empty()) fIdleSince = VSystem::GetCurrentTime();
}

bool VActivityTokenSet::HasSome(uint32 delayMs) const {
    std::lock_guard<std::mutex> guard(fLock);
    return !fTokens.empty() || VSystem::GetCurrentTime() - fIdleSince < delayMs;
}

VActivityToken::VActivityToken(const VString& name) : fName(name) {
    // Before start-up and after shut-down there is no process to tell.
    if (VProcess* process = VProcess::sInstance.load()) {
        fSet = process->fTokens;
        fSet->Register(this);
    }
}

VActivityToken::~VActivityToken() {
    if (fSet) fSet->Unregister(this);
}

} // namespace vela
