#include "app/VProcess.h"
#include "app/VLogger.h"
#include "app/platform/XPosixProcess.h"
#include "core/ILogListener.h"
#include "core/ILogger.h"
#include "core/SpinLock.h"
#include "core/StStringConverter.h"
#include "core/VDebugMgr.h"
#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VResourceFile.h"
#include "intl/VFileKind.h"
#include "support/StEnvironment.h"
#include "support/TaskTestSupport.h"
#include "system/VAlertPresenter.h"
#include "system/VProgressManager.h"
#include "system/platform/XPosixSystem.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>

namespace vela {
namespace {

// A process whose bundle is a fresh temporary X.app (its executable path set through the seam), with alerts
// recorded instead of shown. Nothing of the library is up when a test starts.
class ProcessFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(VTaskMgr::IsInited());
        char pattern[] = "/tmp/vela-process-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = pattern;
        std::filesystem::create_directories(fRoot + "/X.app/Contents/MacOS");
        XPosixProcess::SetExecutablePath(fRoot + "/X.app/Contents/MacOS/tool");
        fAlerts = VRefPtr<VScriptedAlertPresenter>::Adopt(new VScriptedAlertPresenter);
        IAlertPresenter::SetCurrent(fAlerts.Get());
    }
    void TearDown() override {
        IAlertPresenter::SetCurrent(nullptr);
        XPosixProcess::SetExecutablePath(std::string());
        XPosixProcess::SetRefusesCaseSensitiveInstall(false);
        XPosixSystem::SetVersionCheck(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(fRoot, ignored);
    }

    std::string Contents() const { return fRoot + "/X.app/Contents"; }

    // The library is down: no process, no main task, no debug reports, no progress manager, no logger.
    static void ExpectLibraryDown() {
        EXPECT_EQ(VProcess::sInstance.load(), nullptr);
        EXPECT_FALSE(VTaskMgr::IsInited());
        EXPECT_FALSE(VDebugMgr::Get()->GetMessagesEnabled());
        EXPECT_EQ(VProgressManager::Get(), nullptr);
        EXPECT_EQ(GetProcessLogger(), nullptr);
        EXPECT_FALSE(ProcessObjectExists());
        EXPECT_EQ(VFileKindManager::sManager, nullptr);
    }

    std::string fRoot;
    VRefPtr<VScriptedAlertPresenter> fAlerts;
};

// Records what is up when the first start-up step runs.
class ObservedProcess : public VProcess {
public:
    bool fCheckedVersion = false;
    bool fTasksUpAtCheck = true;
    VProcess* fInstanceAtCheck = this;

protected:
    bool DoCheckSystemVersion(SystemVersion version) override {
        fCheckedVersion = true;
        fTasksUpAtCheck = VTaskMgr::IsInited();
        fInstanceAtCheck = sInstance.load();
        return VProcess::DoCheckSystemVersion(version);
    }
};

TEST_F(ProcessFixture, StartsUpInOrderAndShutsDownCompletely) {
    {
        ObservedProcess process;
        ASSERT_TRUE(process.Init(eProcessInit_Logger));
        EXPECT_TRUE(process.fCheckedVersion);
        EXPECT_FALSE(process.fTasksUpAtCheck);
        EXPECT_EQ(process.fInstanceAtCheck, nullptr);

        EXPECT_EQ(VProcess::sInstance.load(), &process);
        EXPECT_TRUE(VTaskMgr::IsInited());
        EXPECT_TRUE(VDebugMgr::Get()->GetMessagesEnabled());
        EXPECT_NE(VProgressManager::Get(), nullptr);
        EXPECT_NE(VFileKindManager::sManager, nullptr);
        EXPECT_NE(process.GetIntlMgr(), nullptr);
        ASSERT_NE(process.GetLogger(), nullptr);
        EXPECT_TRUE(process.GetLogger()->IsStarted());
        EXPECT_EQ(GetProcessLogger(), process.GetLogger());
        EXPECT_EQ(process.GetLogger(EML_Information), process.GetLogger());
        EXPECT_EQ(process.GetLogger(EML_Debug), nullptr);
        EXPECT_TRUE(process.IsRunning());
        ASSERT_TRUE(process.GetClassStore());
        EXPECT_EQ(process.GetClassStore(), VJSONClassStore::GetProcessStore());
        EXPECT_TRUE(process.GetClassObject(VString("zo"), VString("Object")));
        EXPECT_FALSE(process.GetClassObject(VString("ZO"), VString("Object")));
        EXPECT_FALSE(process.GetClassObject(VString("zo"), VString("NoSuchClass")));
        // A second Init answers the cached result without starting anything again.
        EXPECT_TRUE(process.Init(0));
        EXPECT_TRUE(fAlerts->GetAlerts().empty());
    }
    ExpectLibraryDown();
    EXPECT_FALSE(VJSONClassStore::GetProcessStore());
}

TEST_F(ProcessFixture, StartUpNamesTheResourcesAndTheirDefinedFileSystems) {
    std::filesystem::create_directories(Contents() + "/Resources/data");
    {
        FILE* json = std::fopen((Contents() + "/Resources/fileSystems.json").c_str(), "w");
        ASSERT_NE(json, nullptr);
        std::fputs(R"([{"name": "DATA", "path": "data/", "parent": ".PRODUCT_RESOURCES"}])", json);
        std::fclose(json);
    }
    {
        VProcess process;
        ASSERT_TRUE(process.Init(0));
        VFileSystemNamespace* fileSystems = process.GetFileSystemNamespace();
        ASSERT_NE(fileSystems, nullptr);
        const std::string resources = Contents() + "/Resources/";
        for (auto [name, path] : {std::pair{".PRODUCT_RESOURCES", resources}, {"DATA", resources + "data/"}}) {
            SCOPED_TRACE(name);
            VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fileSystems->RetainFileSystemRootFolder(VString(name), 0));
            ASSERT_TRUE(root);
            EXPECT_EQ(to_string(root->GetPath().GetPath(FPS_POSIX)), path);
        }
        EXPECT_EQ(fileSystems->RetainFileSystemRootFolder(VString("NoSuchName"), 0), nullptr);
    }
    ExpectLibraryDown();
}

// The spin strategy comes from "spinlock.prm" beside the executable only: the same file among the resources is
// not looked at.
TEST_F(ProcessFixture, StartUpReadsTheSpinSettingsBesideTheExecutable) {
    std::filesystem::create_directories(Contents() + "/Resources");
    for (const std::string folder : {"/Resources", "/MacOS"}) {
        SCOPED_TRACE(folder);
        FILE* settings = std::fopen((Contents() + folder + "/spinlock.prm").c_str(), "w");
        ASSERT_NE(settings, nullptr);
        std::fputs(R"({"mode": "alwaysSleep", "maxSpins": 5})", settings);
        std::fclose(settings);
        SpinLock::ResetToDefaults();
        const SpinLock::AcquireProc defaults = SpinLock::sLock.load();
        {
            VProcess process;
            ASSERT_TRUE(process.Init(0));
        }
        const bool beside = folder == "/MacOS";
        EXPECT_EQ(SpinLock::sLock.load(), beside ? &SpinLock::AlwaysSleep : defaults);
        EXPECT_EQ(SpinLock::sMaxSpins.load(), beside ? 5 : 1);
        SpinLock::ResetToDefaults();
    }
}

class NamedProcess : public VProcess {
public:
    explicit NamedProcess(const char* name) { SetVersionStrings(VString(name), VString("1.0")); }
};

TEST_F(ProcessFixture, ProductNameIsTheLogSourceWhileTheProcessIsUp) {
    VString before;
    GetLogSourceIdentifier(before);
    {
        NamedProcess process("Updater Product");
        ASSERT_TRUE(process.Init(0));
        VString source;
        GetLogSourceIdentifier(source);
        EXPECT_EQ(source, VString("Updater Product"));
    }
    VString after;
    GetLogSourceIdentifier(after);
    EXPECT_EQ(after, before);
}

class RecordingRunProcess : public VProcess {
public:
    std::string fSteps;

protected:
    void DoRun() override { fSteps += IsRunning() ? "run;" : "run-not-running;"; }
    void DoQuit() override { fSteps += "quit;"; }
};

TEST_F(ProcessFixture, RunRunsThenQuitsAndEndsTheMainTask) {
    RecordingRunProcess process;
    // Without a main task there is nothing to run on.
    process.Run();
    EXPECT_EQ(process.fSteps, "");
    ASSERT_TRUE(process.Init(0));
    process.Run();
    EXPECT_EQ(process.fSteps, "run;quit;");
    EXPECT_FALSE(process.IsRunning());
    // Once the main task ends, a second run does nothing.
    process.Run();
    EXPECT_EQ(process.fSteps, "run;quit;");
}

TEST_F(ProcessFixture, NoLoggerWithoutItsFlag) {
    VProcess process;
    ASSERT_TRUE(process.Init(0));
    EXPECT_EQ(process.GetLogger(), nullptr);
    EXPECT_EQ(process.GetLogger(EML_Fatal), nullptr);
}

bool TooOld(int32, int32) {
    return false;
}

TEST_F(ProcessFixture, TooOldSystemFailsEarlyNotifiesAndShutsDownHarmlessly) {
    XPosixSystem::SetVersionCheck(TooOld);
    {
        ObservedProcess process;
        EXPECT_FALSE(process.Init(eProcessInit_Logger));
        EXPECT_FALSE(process.Init(eProcessInit_Logger));
        // The process is known from the first step on, but nothing after the check started.
        EXPECT_EQ(VProcess::sInstance.load(), &process);
        EXPECT_FALSE(VTaskMgr::IsInited());
        EXPECT_EQ(VFileKindManager::sManager, nullptr);
        EXPECT_EQ(process.GetLogger(), nullptr);
        EXPECT_FALSE(process.IsRunning());
        std::vector<VAlert> alerts = fAlerts->GetAlerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].title, VString("Initialization failed"));
        EXPECT_EQ(alerts[0].message, VString("This application needs at least OS X 10.12"));
        EXPECT_FALSE(alerts[0].wait);
    }
    ExpectLibraryDown();
}

TEST_F(ProcessFixture, TaskManagerStartedElsewhereFailsStartUpAndIsLeftRunning) {
    ASSERT_TRUE(VTaskMgr::Get()->Init());
    {
        VProcess process;
        EXPECT_FALSE(process.Init(0));
    }
    EXPECT_TRUE(VTaskMgr::IsInited());
    EXPECT_NE(VTaskMgr::Get()->GetMainTask(), nullptr);
    VTaskMgr::Get()->DeInit();
    ExpectLibraryDown();
}

TEST_F(ProcessFixture, CaseSensitiveInstallIsRefusedOnlyUnderThePolicy) {
    std::filesystem::create_directories(Contents() + "/Resources");
    {
        VProcess process;
        EXPECT_TRUE(process.Init(0)) << "refusal is off by default";
    }
    ExpectLibraryDown();
    EXPECT_TRUE(fAlerts->GetAlerts().empty());

    XPosixProcess::SetRefusesCaseSensitiveInstall(true);
    {
        VProcess process;
        EXPECT_FALSE(process.Init(0));
        EXPECT_FALSE(VTaskMgr::IsInited());
        // File kinds come before the install-folder check.
        EXPECT_NE(VFileKindManager::sManager, nullptr);
        std::vector<VAlert> alerts = fAlerts->GetAlerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0].title, VString("Initialization failed"));
        EXPECT_EQ(alerts[0].message, VString("Please install the application on a case insensitive file system."));
    }
    ExpectLibraryDown();
}

TEST_F(ProcessFixture, CaseCheckPassesWhenBothSpellingsAgree) {
    XPosixProcess::SetRefusesCaseSensitiveInstall(true);
    // No resources folder under either spelling; then both spellings present (as a case-insensitive volume shows).
    for (bool both : {false, true}) {
        if (both) {
            std::filesystem::create_directories(Contents() + "/Resources");
            std::filesystem::create_directories(Contents() + "/resources");
        }
        VProcess process;
        EXPECT_TRUE(process.Init(0)) << both;
    }
    EXPECT_TRUE(fAlerts->GetAlerts().empty());
}

TEST_F(ProcessFixture, UnknownExecutableLeavesFoldersNullAndStartUpPasses) {
    XPosixProcess::SetExecutablePath("/");
    XPosixProcess::SetRefusesCaseSensitiveInstall(true);
    VProcess process;
    EXPECT_TRUE(process.Init(0));
}

TEST_F(ProcessFixture, FolderKindsMapOntoTheBundle) {
    VProcess process;
    struct Case {
        uint32 kind;
        std::string path;
    };
    const std::string bundle = fRoot + "/X.app/";
    const Case cases[] = {
        {VProcess::kFolderBundle, bundle},
        {VProcess::kFolderExecutable, bundle + "Contents/MacOS/"},
        {VProcess::kFolderContents, bundle + "Contents/"},
        {VProcess::kFolderResources, bundle + "Contents/Resources/"},
        {VProcess::kFolderNativeComponents, bundle + "Contents/Native Components/"},
        {VProcess::kFolderDTDs, bundle + "Contents/Resources/DTD/"},
        {VProcess::kFolderXSDs, bundle + "Contents/Resources/XSD/"},
        {VProcess::kFolderXSLs, bundle + "Contents/Resources/XSL/"},
        {VProcess::kFolderJSONSchemas, bundle + "Contents/Resources/JSONSchemas/"},
    };
    for (const Case& c : cases) {
        VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(process.RetainFolder(c.kind));
        ASSERT_NE(folder.Get(), nullptr) << c.path;
        EXPECT_EQ(folder->GetPosixPathBytes(), c.path);
    }
    EXPECT_EQ(process.RetainFolder(FourCC("ABCD")), nullptr);
    EXPECT_EQ(process.RetainFolder(0), nullptr);
}

TEST_F(ProcessFixture, RetainFileLooksInTheAlternateFolderOnlyWhenAbsentFromTheFirst) {
    std::filesystem::create_directories(Contents() + "/Resources");
    std::FILE* f = std::fopen((Contents() + "/Resources/a.json").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    VProcess process;
    VRefPtr<VFile> found = VRefPtr<VFile>::Adopt(
        process.RetainFile(VProcess::kFolderExecutable, VString("a.json"), VProcess::kFolderResources));
    ASSERT_NE(found.Get(), nullptr);
    EXPECT_TRUE(found->Exists());
    EXPECT_EQ(process.RetainFile(VProcess::kFolderExecutable, VString("a.json"), 0), nullptr);
    EXPECT_EQ(process.RetainFile(VProcess::kFolderResources, VString("b.json"), VProcess::kFolderExecutable), nullptr);
}

class VersionedProcess : public VProcess {
public:
    explicit VersionedProcess(const char* shortVersion) {
        SetVersionStrings(VString("Product"), VString(shortVersion));
    }
};

using StEnv = test::StEnvironment;

TEST_F(ProcessFixture, ProductSystemFoldersAreMadeOrFallBack) {
    StEnv config("XDG_CONFIG_HOME", fRoot + "/config");
    StEnv shared("XDG_CONFIG_DIRS", fRoot + "/shared");
    StEnv cache("XDG_CACHE_HOME", fRoot + "/cache");
    std::filesystem::create_directories(fRoot + "/shared");
    std::filesystem::create_directories(fRoot + "/cache");
    std::filesystem::create_directories(fRoot + "/elsewhere");
    std::filesystem::create_symlink(fRoot + "/elsewhere", fRoot + "/cache/Product");
    // A file where the shared product folder should be: it cannot be made there.
    std::FILE* f = std::fopen((fRoot + "/shared/Product").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    NamedProcess process("Product");
    auto path = [&](ESystemFolderKind kind, bool create) {
        VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(process.RetainProductSystemFolder(kind, create));
        return folder ? folder->GetPosixPathBytes() : std::string("null");
    };
    EXPECT_EQ(path(eFK_UserPreferences, false), "null");
    EXPECT_EQ(path(eFK_UserPreferences, true), fRoot + "/config/Product/");
    EXPECT_TRUE(std::filesystem::is_directory(fRoot + "/config/Product"));
    EXPECT_EQ(path(eFK_CommonPreferences, true), fRoot + "/config/Product/");
    EXPECT_EQ(path(eFK_UserCache, false), fRoot + "/elsewhere/");
    EXPECT_EQ(path(eFK_Applications, false), "/opt/");
}

TEST(ProcessVersions, AreTakenFromTheShortVersion) {
    struct Case {
        const char* shortVersion;
        const char* shortProduct;
        const char* main;
        const char* build;
        int64 changeList;
    };
    const Case cases[] = {
        {"2.4.1 build 17.3456", "2.4.1", "2", "17.3456", 3456},
        {" 2.4.1  ", "2.4.1", "2", "", 0},
        {"12 build 99", "12", "12", "99", 0},
        {"1.0 Build 5.6", "1.0", "1", "5.6", 6},
        {"", "", "", "", 0},
    };
    for (const Case& c : cases) {
        VersionedProcess process(c.shortVersion);
        VString text;
        process.GetShortProductVersion(text);
        EXPECT_EQ(text, VString(c.shortProduct)) << c.shortVersion;
        process.GetMainProductVersion(text);
        EXPECT_EQ(text, VString(c.main)) << c.shortVersion;
        process.GetBuildNumber(text);
        EXPECT_EQ(text, VString(c.build)) << c.shortVersion;
        EXPECT_EQ(process.GetChangeListNumber(), c.changeList) << c.shortVersion;
        EXPECT_EQ(process.GetLogSourceIdentifier(), VString("Product"));
    }
}

TEST_F(ProcessFixture, ActivityTokensKeepTheProcessBusy) {
    {
        // Before start-up there is no process to register with: a token must not reach for one.
        VActivityToken early(VString("early"));
    }
    VProcess process;
    ASSERT_TRUE(process.Init(0));
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
    {
        VRefPtr<VActivityToken> token = VRefPtr<VActivityToken>::Adopt(new VActivityToken(VString("work")));
        EXPECT_TRUE(process.HasSomeActivityTokens(0));
    }
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
    // The last token went just now: within a long delay the process still counts as busy.
    EXPECT_TRUE(process.HasSomeActivityTokens(3600 * 1000));
}

// A token leaves the process object it joined, whatever object the process singleton names when it goes, and
// even when the object it joined is gone (ASan sees a token that reaches for a destroyed one).
TEST_F(ProcessFixture, ActivityTokensLeaveTheProcessObjectTheyJoined) {
    VProcess process;
    ASSERT_TRUE(process.Init(0));
    VProcess other;
    auto token = VRefPtr<VActivityToken>::Adopt(new VActivityToken(VString("work")));
    VProcess::sInstance.store(&other);
    token = nullptr;
    VProcess::sInstance.store(&process);
    EXPECT_FALSE(process.HasSomeActivityTokens(0)) << "the token stayed registered with the object it joined";

    auto outliving = std::make_unique<VProcess>();
    VProcess::sInstance.store(outliving.get());
    auto late = VRefPtr<VActivityToken>::Adopt(new VActivityToken(VString("late")));
    EXPECT_TRUE(outliving->HasSomeActivityTokens(0));
    VProcess::sInstance.store(&process);
    outliving.reset();
    late = nullptr;
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
}

// Tasks the process starts keep it busy while they run; the logger's flusher does not, even while it lives.
TEST_F(ProcessFixture, RunningTasksKeepTheProcessBusyButNotTheLoggerTask) {
    VProcess process;
    ASSERT_TRUE(process.Init(eProcessInit_Logger));
    EXPECT_EQ(VTaskMgr::Get()->GetProcess(), static_cast<ITaskProcess*>(&process));
    EXPECT_FALSE(process.HasSomeActivityTokens(0)) << "the main task holds no token";
    VRefPtr<VResourceFile> resources = VRefPtr<VResourceFile>::Adopt(process.RetainResourceFile());
    EXPECT_FALSE(resources);

    std::atomic<bool> finish{false};
    auto task = VRefPtr<VTask>::Adopt(
        new VTask(0, eTaskStylePreemptive, [&] { test::WaitUntil([&] { return finish.load(); }); }));
    ASSERT_TRUE(task->Run());
    EXPECT_TRUE(process.HasSomeActivityTokens(0));
    finish = true;
    ASSERT_TRUE(task->WaitForDeath(test::kWaitBoundMs));
    EXPECT_FALSE(process.HasSomeActivityTokens(0));

    // The logger's task starts with a token and drops it first thing: wait until it ran one flush.
    class VCountingListener : public VObject, public ILogListener {
    public:
        void Put(const std::vector<const VValueBag*>&) override { fPuts.fetch_add(1); }
        std::atomic<int32> fPuts{0};
    };
    auto listener = VRefPtr<VCountingListener>::Adopt(new VCountingListener);
    ASSERT_TRUE(process.GetLogger()->AddLogListener(listener.Get()));
    process.GetLogger()->LogMessage(EML_Information, VString("test"), VString("tick"));
    ASSERT_TRUE(test::WaitUntil([&] { return listener->fPuts.load() > 0; }));
    EXPECT_FALSE(process.HasSomeActivityTokens(0));
    process.GetLogger()->RemoveLogListener(listener.Get());
}

TEST(ProcessQueries, RunningProcesses) {
    EXPECT_TRUE(VProcess::IsProcessRunning(VProcess::GetSystemID()));
    EXPECT_TRUE(VProcess::IsProcessRunning(1)) << "a process we may not signal is still running";
    EXPECT_FALSE(VProcess::IsProcessRunning(0x3FFFFFFF));
}

} // namespace
} // namespace vela
