#include "updater/VUpdateEngine.h"

#include "app/VCommandLineParser.h"
#include "app/platform/XPosixProcess.h"
#include "core/VCppMemMgr.h"
#include "core/VErrorBase.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "files/VFolder.h"
#include "intl/VIntlMgr.h"
#include "intl/VLocalizationManager.h"
#include "support/FileTestSupport.h"
#include "support/RecordingXMLHandler.h"
#include "support/TaskTestSupport.h"
#include "system/VAlertPresenter.h"
#include "updater/UpdaterMain.h"
#include "updater/UpdaterTexts.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace vela;

namespace {

// Bundles on real folders: an outdated "apps/Foo.app" and an up-to-date "new/Foo.app", each with a marker file,
// a relative symbolic link and an executable.
class VUpdateEngineTest : public test::TempFolderFixture {
protected:
    void SetUp() override {
        test::TempFolderFixture::SetUp();
        MakeBundle("apps/Foo.app", "old");
        MakeBundle("new/Foo.app", "new");
        fEngine.fOutdatedApp = FolderPath("apps/Foo.app");
        fEngine.fUpToDateApp = FolderPath("new/Foo.app");
        fEngine.fInstallPath = fEngine.fOutdatedApp;
        fEngine.fRenameRetryDelayMs = 0;
    }

    void MakeBundle(const std::string& bundle, const std::string& marker) {
        std::filesystem::create_directories(Posix(bundle + "/Contents/MacOS"));
        WriteBytes(Posix(bundle + "/Contents/marker"), marker);
        WriteBytes(Posix(bundle + "/Contents/MacOS/foo"), "#!/bin/sh\n");
        ::chmod(Posix(bundle + "/Contents/MacOS/foo").c_str(), 0755);
        std::filesystem::create_directory_symlink("MacOS", Posix(bundle + "/Contents/Link"));
    }

    VFilePath FolderPath(const std::string& name) const { return VFilePath(Text(Posix(name) + "/"), FPS_POSIX); }

    // Runs the swap; answers the old bundle's POSIX path, or "" when none came back.
    std::string Swap() {
        VFolder outdated(fEngine.fOutdatedApp), upToDate(fEngine.fUpToDateApp), install(fEngine.fInstallPath);
        VRefPtr<VFolder> old = VRefPtr<VFolder>::Adopt(fEngine._SwapApplications(outdated, upToDate, install));
        if (old.Get() == nullptr) return "";
        std::string path = old->GetPosixPathBytes();
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

    // The entries of the folder, hidden ones included.
    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Posix(folder)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    VUpdateEngine fEngine;
};

TEST_F(VUpdateEngineTest, SwapPutsTheNewBundleInPlaceAndHandsBackTheOldOne) {
    StErrorContextInstaller errors(true, true);
    const std::string old = Swap();
    EXPECT_TRUE(errors.GetContext()->IsEmpty());
    EXPECT_EQ(old, Posix("apps/Foo_old0001.app"));
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(ReadBytes(old + "/Contents/marker"), "old");
    EXPECT_EQ(std::filesystem::read_symlink(Posix("apps/Foo.app/Contents/Link")), "MacOS");
    struct stat st {};
    ASSERT_EQ(::stat(Posix("apps/Foo.app/Contents/MacOS/foo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    // Nothing is left of the staging copy.
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app", "Foo_old0001.app"}));
}

TEST_F(VUpdateEngineTest, ASwapThatFailsRollsTheOutdatedBundleBack) {
    struct Case {
        const char* op;
        int error;
        int nth;
        int count;
        VError expected;
    };
    const Case cases[] = {
        // Every file copy (a full disk: the item-by-item copy after a failed fast one fails too), the copy of a
        // folder, the flush of the copy: the outdated bundle never moved.
        {"copy_file_range", ENOSPC, 1, 1000, VE_UPD_COPY_FAILED},
        {"mkdir", ENOSPC, 2, 1000, VE_UPD_COPY_FAILED},
        {"syncfs", EIO, 1, 1, VE_UPD_COPY_FAILED},
        // Every exchange: the outdated bundle cannot be taken off its path.
        {"exchange", EBUSY, 1, 5, VE_UPD_RENAME_ASIDE_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        StErrorContextInstaller errors(true, true);
        std::string old;
        {
            StPosixFault fault(c.op, c.error, c.nth, c.count);
            old = Swap();
        }
        EXPECT_EQ(old, "");
        ASSERT_FALSE(errors.GetContext()->IsEmpty());
        EXPECT_EQ(errors.GetLastError(), c.expected);
        EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "old");
        EXPECT_EQ(std::filesystem::read_symlink(Posix("apps/Foo.app/Contents/Link")), "MacOS");
        EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
    }
}

TEST_F(VUpdateEngineTest, WithoutAnExchangeTheCopyGoesInPlaceByTwoRenames) {
    // A file system that refuses the exchange; then also the rename of the copy into place (rename 2; rename 1
    // puts the outdated bundle aside), which rolls back.
    StErrorContextInstaller errors(true, true);
    {
        StPosixFault fault("exchange", EINVAL, 1, 5);
        EXPECT_EQ(Swap(), Posix("apps/Foo_old0001.app"));
    }
    EXPECT_TRUE(errors.GetContext()->IsEmpty());
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(ReadBytes(Posix("apps/Foo_old0001.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app", "Foo_old0001.app"}));

    std::filesystem::remove_all(Posix("apps"));
    MakeBundle("apps/Foo.app", "old");
    {
        XPosixFaults::Arm("exchange", EINVAL, 1, 5);
        XPosixFaults::Arm("rename", EACCES, 2);
        EXPECT_EQ(Swap(), "");
        XPosixFaults::Reset();
    }
    EXPECT_EQ(errors.GetLastError(), VE_UPD_COPY_FAILED);
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
}

TEST_F(VUpdateEngineTest, ACopyLeftByAnInterruptedRunIsReplacedAndNothingOutsideIsTouched) {
    // A partial copy under the hidden name, or a link there that leads elsewhere: both are removed, and the
    // link's target stays.
    std::filesystem::create_directories(Posix("elsewhere/keep"));
    WriteBytes(Posix("elsewhere/keep/file"), "mine");
    for (const bool link : {false, true}) {
        SCOPED_TRACE(link);
        std::filesystem::remove_all(Posix("apps"));
        MakeBundle("apps/Foo.app", "old");
        if (link) {
            std::filesystem::create_directory_symlink(Posix("elsewhere"), Posix("apps/.Foo.app.updating"));
        } else {
            std::filesystem::create_directories(Posix("apps/.Foo.app.updating/Contents"));
            WriteBytes(Posix("apps/.Foo.app.updating/Contents/marker"), "half");
        }
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(Swap(), Posix("apps/Foo_old0001.app"));
        EXPECT_TRUE(errors.GetContext()->IsEmpty());
        EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "new");
        EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app", "Foo_old0001.app"}));
        EXPECT_EQ(ReadBytes(Posix("elsewhere/keep/file")), "mine");
    }
}

TEST_F(VUpdateEngineTest, ARenameAsideThatSucceedsOnARetryIsASuccess) {
    StErrorContextInstaller errors(true, true);
    std::string old;
    {
        StPosixFault fault("rename", EBUSY, 1, 4);
        old = Swap();
    }
    EXPECT_TRUE(errors.GetContext()->IsEmpty()) << Codes(errors).size();
    EXPECT_EQ(old, Posix("apps/Foo_old0001.app"));
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "new");
}

TEST_F(VUpdateEngineTest, FiveFailedRenamesAsideLeaveTheLastFileErrorUnderError11) {
    StErrorContextInstaller errors(true, true);
    std::string old;
    {
        StPosixFault fault("rename", EBUSY, 1, 5);
        old = Swap();
    }
    EXPECT_EQ(old, "");
    const std::vector<VError> codes = Codes(errors);
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.back(), VE_UPD_RENAME_ASIDE_FAILED);
    // One attempt's errors only: the file error of the last rename, below error 11.
    EXPECT_LE(codes.size(), 3u);
    // Exchanged back, and the copy removed.
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
}

TEST_F(VUpdateEngineTest, AFailedRollBackSaysWhereTheOutdatedBundleIs) {
    StErrorContextInstaller errors(true, true);
    std::string old;
    {
        // Every rename aside fails, then the exchange back (exchange 2; exchange 1 put the copy in place).
        XPosixFaults::Arm("rename", EBUSY, 1, 5);
        XPosixFaults::Arm("exchange", EACCES, 2);
        old = Swap();
        XPosixFaults::Reset();
    }
    EXPECT_EQ(old, "");
    EXPECT_EQ(errors.GetLastError(), VE_UPD_ROLLBACK_FAILED);
    // The install path is never empty: it keeps the whole new bundle.
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "new");
    EXPECT_EQ(ReadBytes(Posix("apps/.Foo.app.updating/Contents/marker")), "old");
    bool logged = false;
    for (const auto& record : Logger().All())
        logged |= record.level == EML_Error &&
                  record.text.find(test::RecordingLogger::Text(Text(Posix("apps/.Foo.app.updating")))) !=
                      std::u16string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(VUpdateEngineTest, SameOrNestedBundlesAreRefusedAndNothingMoves) {
    const std::string upToDates[] = {"apps/Foo.app", "apps/Foo.app/Contents"};
    for (const std::string& upToDate : upToDates) {
        SCOPED_TRACE(upToDate);
        fEngine.fUpToDateApp = FolderPath(upToDate);
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(Swap(), "");
        EXPECT_EQ(Codes(errors), std::vector<VError>{VE_UPD_SAME_OR_NESTED});
        EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
    }
}

TEST_F(VUpdateEngineTest, TheTemporaryNameTakesTheFirstFreeNumber) {
    std::filesystem::create_directories(Posix("apps/Foo_old0001.app"));
    std::filesystem::create_directories(Posix("apps/Foo_old0002.app"));
    VFilePath result;
    const VString suffix("old");
    ASSERT_TRUE(VUpdateEngine::_ComputeTempFolderPath(fEngine.fOutdatedApp, result, &suffix));
    EXPECT_EQ(result.GetPath(), FolderPath("apps/Foo_old0003.app").GetPath());
    ASSERT_TRUE(VUpdateEngine::_ComputeTempFolderPath(fEngine.fOutdatedApp, result, nullptr));
    EXPECT_EQ(result.GetPath(), FolderPath("apps/Foo0001.app").GetPath());
}

TEST_F(VUpdateEngineTest, TheRelaunchCommandQuotesAndEscapesItsPaths) {
    struct Case {
        const char* bundle;
        const char* params;
        bool headless;
        const char* expected;
    };
    // "open" is the stand-in beside the updater, by its full path (quoted and escaped like the others).
    XPosixProcess::SetExecutablePath(R"(/u "b"/Updater.app/Contents/MacOS/updater)");
    const std::string open = R"("/u \"b\"/Updater.app/Contents/MacOS/open")";
    const Case cases[] = {
        {"/a/Foo.app/", "", false, R"( -a "/a/Foo.app/")"},
        {"/a/Foo.app/", "", true, R"( -a "/a/Foo.app/" --args --headless)"},
        {"/a/Foo.app/", "/p/link", false, R"( -a "/a/Foo.app/" --args "/p/link")"},
        {"/a/Foo.app/", "/p/link", true, R"( -a "/a/Foo.app/" --args "/p/link" --headless)"},
        {R"(/a b/F"o\o.app/)", R"(/p/"x" --evil)", false, R"( -a "/a b/F\"o\\o.app/" --args "/p/\"x\" --evil")"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        fEngine.fRestartParamsFile.Clear();
        if (*c.params != '\0') fEngine.fRestartParamsFile.FromFullPath(Text(c.params), FPS_POSIX, false);
        fEngine.fHeadless = c.headless;
        EXPECT_EQ(fEngine._BuildLaunchCommand(VFilePath(Text(c.bundle), FPS_POSIX)), Text(open + c.expected));
    }
    XPosixProcess::SetExecutablePath(std::string());
}

TEST_F(VUpdateEngineTest, AMissingBundleStopsTheUpdateBeforeAnythingMoves) {
    struct Case {
        const char* outdated;
        const char* upToDate;
        std::vector<VError> expected;
    };
    const Case cases[] = {
        {"apps/Nope.app", "new/Foo.app", {VE_UPD_OUTDATED_MISSING}},
        {"apps/Foo.app", "new/Nope.app", {VE_UPD_UPTODATE_MISSING}},
        {"apps/Nope.app", "new/Nope.app", {VE_UPD_OUTDATED_MISSING, VE_UPD_UPTODATE_MISSING}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outdated + std::string(" ") + c.upToDate);
        fEngine.fOutdatedApp = fEngine.fInstallPath = FolderPath(c.outdated);
        fEngine.fUpToDateApp = FolderPath(c.upToDate);
        StErrorContextInstaller errors(true, true);
        fEngine._ApplyUpdate();
        EXPECT_EQ(Codes(errors), c.expected);
        EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
        EXPECT_EQ(Names("new"), (std::vector<std::string>{"Foo.app"}));
    }
}

TEST_F(VUpdateEngineTest, TheWaitEndsWhenTheCallerIsGoneAndGivesUpAfterItsLimit) {
    fEngine.fPollDelayMs = 1;
    fEngine.fGraceDelayMs = 0;
    fEngine.fMaxWaitMs = 50;
    struct Case {
        int pid;
        bool expected;
    };
    // Our own pid never goes away; pid 0x7FFFFFF0 is above any pid_max.
    const Case cases[] = {{-1, true}, {0x7FFFFFF0, true}, {int(::getpid()), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pid);
        fEngine.fCallerPid = c.pid;
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(fEngine._WaitForPidToQuit(), c.expected);
        EXPECT_EQ(Codes(errors), c.expected ? std::vector<VError>{} : std::vector<VError>{VE_UPD_CALLER_STILL_RUNNING});
    }
}

TEST_F(VUpdateEngineTest, AQuitRequestDuringTheWaitStopsTheUpdateBeforeAnythingMoves) {
    // A caller that never goes (ourselves) and waits far longer than any test: only the quit can end it.
    fEngine.fCallerPid = int(::getpid());
    fEngine.fPollDelayMs = 600000;
    fEngine.fMaxWaitMs = 600000;
    VTask* main = VTaskMgr::Get()->GetMainTask();
    ASSERT_NE(main, nullptr);
    std::thread quitter([main] {
        if (test::WaitUntil([main] { return main->GetWaitReason() == eTaskWaitSleeping; })) main->Kill();
    });
    StErrorContextInstaller errors(true, true);
    fEngine._ApplyUpdate();
    quitter.join();
    ASSERT_TRUE(main->IsDying());
    EXPECT_EQ(Codes(errors), (std::vector<VError>{VE_UPD_CALLER_STILL_RUNNING, VE_UPD_CALLER_STILL_RUNNING}));
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
    const std::u16string quit = test::RecordingLogger::Text(
        Text("Quit requested while waiting for process " + std::to_string(::getpid()) + ". Giving up."));
    bool logged = false;
    for (const auto& record : Logger().All())
        logged |= record.level == EML_Error && record.text == quit;
    EXPECT_TRUE(logged);
}

TEST_F(VUpdateEngineTest, ALogThatDidNotStartIsShownWithoutPointingToAFile) {
    // Without a process logger the file logger is made but cannot start.
    ILogger* processLogger = SetProcessLogger(nullptr);
    auto presenter = VRefPtr<VScriptedAlertPresenter>::Adopt(new VScriptedAlertPresenter(eNotificationResponse_No));
    IAlertPresenter::SetCurrent(presenter.Get());
    fEngine.fLogFolder = FolderPath("logs");
    fEngine.fSilent = true;
    StErrorContextInstaller errors(true, true);
    fEngine.DoRun();
    IAlertPresenter::SetCurrent(nullptr);
    SetProcessLogger(processLogger);

    EXPECT_EQ(Codes(errors), std::vector<VError>{VE_UPD_LOG_NOT_STARTED});
    // Nothing may be logged, so even a silent run tells the user; no log file exists to point to.
    const std::vector<VAlert> alerts = presenter->GetAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_FALSE(alerts[0].message.IsEmpty());
    EXPECT_EQ(test::Utf8(alerts[0].message).find("More information"), std::string::npos)
        << test::Utf8(alerts[0].message);
    EXPECT_EQ(ReadBytes(Posix("apps/Foo.app/Contents/marker")), "old");
    EXPECT_EQ(Names("apps"), (std::vector<std::string>{"Foo.app"}));
}

TEST_F(VUpdateEngineTest, TheServerLinkNamesTheClientsServer) {
    struct Case {
        const char* info;
        const char* link; // null: no link file
    };
    const Case cases[] = {
        {R"({"BuildIPAdress": "10.0.0.5", "BuildIPPort": "19812", "PublishName": "Base",
            "BuildCacheFolderNameClient": "cache"})",
         R"(server_path="10.0.0.5:19812")"},
        // No port: the address alone, without a colon.
        {R"({"BuildIPAdress": "10.0.0.5", "PublishName": "Base"})", R"(server_path="10.0.0.5")"},
        // Keys of another type count as absent.
        {R"({"BuildIPAdress": "host", "BuildIPPort": 19812, "PublishName": 7, "BuildCacheFolderNameClient": true})",
         R"(server_database_name="" server_path="host" cache_folder_name="")"},
        {R"({"BuildIPPort": "19812", "PublishName": "Base"})", nullptr},
        {R"({"BuildIPAdress": 10})", nullptr},
    };
    const std::string link = Posix("new/Foo.app/Contents/Database/ZiduvozServer.Zolink");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info);
        std::filesystem::remove_all(Posix("new/Foo.app/Contents/Database"));
        VJSONValue info;
        ASSERT_EQ(VJSONImporter::ParseString(Text(c.info), info), VE_OK);
        ASSERT_NE(info.GetObjectPtr(), nullptr);
        StErrorContextInstaller errors(true, true);
        EXPECT_TRUE(VUpdateEngine::_SetIPAdressOnClientPref(*info.GetObjectPtr(), fEngine.fUpToDateApp));
        EXPECT_TRUE(errors.GetContext()->IsEmpty());
        if (c.link == nullptr) {
            EXPECT_FALSE(std::filesystem::exists(link));
            continue;
        }
        const std::string text = ReadBytes(link);
        EXPECT_NE(text.find(c.link), std::string::npos) << text;
        EXPECT_NE(text.find("<database_shortcut is_remote=\"true\""), std::string::npos) << text;
        EXPECT_NE(text.find("remote_shared_resources=\"false\""), std::string::npos) << text;
    }
}

TEST_F(VUpdateEngineTest, TheServerLinkFileBytes) {
    VJSONValue info;
    ASSERT_EQ(VJSONImporter::ParseString(Text(R"({"BuildIPAdress": "10.0.0.5", "BuildIPPort": "19812",
                                                  "PublishName": "Base", "BuildCacheFolderNameClient": "cache"})"),
                                         info),
              VE_OK);
    ASSERT_NE(info.GetObjectPtr(), nullptr);
    EXPECT_TRUE(VUpdateEngine::_SetIPAdressOnClientPref(*info.GetObjectPtr(), fEngine.fUpToDateApp));
    // The bag's attributes in the order they were set.
    EXPECT_EQ(ReadBytes(Posix("new/Foo.app/Contents/Database/ZiduvozServer.Zolink")),
              R"(<?xml version="1.0" encoding="UTF-8"?><database_shortcut is_remote="true" )"
              R"(server_database_name="Base" server_path="10.0.0.5:19812" cache_folder_name="cache" )"
              R"(remote_shared_resources="false"/>)");
}

TEST_F(VUpdateEngineTest, TheClientsExecutableGetsEveryExecuteBitAndKeepsTheOthers) {
    WriteBytes(Posix("new/Foo.app/Contents/Info.plist"),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
               "\t<key>CFBundleExecutable</key>\n\t<string>foo</string>\n</dict>\n</plist>\n");
    const std::string executable = Posix("new/Foo.app/Contents/MacOS/foo");
    struct Case {
        mode_t before;
        mode_t after;
    };
    const Case cases[] = {{0755, 0755}, {0744, 0755}, {0700, 0711}, {0640, 0751}, {04711, 04711}};
    VJSONValue info;
    ASSERT_EQ(VJSONImporter::ParseString(Text("{}"), info), VE_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        ASSERT_EQ(::chmod(executable.c_str(), c.before), 0);
        StErrorContextInstaller errors(true, true);
        EXPECT_TRUE(fEngine._FinishMacClientCustomization(*info.GetObjectPtr()));
        EXPECT_TRUE(errors.GetContext()->IsEmpty());
        struct stat st {};
        ASSERT_EQ(::stat(executable.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after);
    }
}

TEST_F(VUpdateEngineTest, AClientDescriptionWithoutServerPlatformIsRefusedWhateverElseItHolds) {
    WriteBytes(Posix("client.json"), R"({"BuildIPAdress": "10.0.0.5", "BuildIPPort": "19812", "PublishName": "Base",
                                        "BuildCacheFolderNameClient": "cache"})");
    fEngine.fClientInfoFile = VFilePath(Text(Posix("client.json")), FPS_POSIX);
    StErrorContextInstaller errors(true, true);
    EXPECT_FALSE(fEngine._FinishClientCustomization());
    EXPECT_EQ(Codes(errors), std::vector<VError>{VE_UPD_BAD_CLIENT_INFO});
    EXPECT_FALSE(std::filesystem::exists(Posix("new/Foo.app/Contents/Database")));
}

// An updater bundle in the fixture, seen as the running executable's while the test lives.
class VUpdateEngineLocalizationTest : public test::TempFolderFixture {
protected:
    void SetUp() override {
        test::TempFolderFixture::SetUp();
        std::filesystem::create_directories(Posix("Updater.app/Contents/MacOS"));
        std::filesystem::create_directories(Posix("Updater.app/Contents/Resources"));
        WriteBytes(Posix("Updater.app/Contents/MacOS/updater"), "");
        XPosixProcess::SetExecutablePath(Posix("Updater.app/Contents/MacOS/updater"));
    }
    void TearDown() override {
        XPosixProcess::SetExecutablePath("");
        test::TempFolderFixture::TearDown();
    }
};

TEST_F(VUpdateEngineLocalizationTest, TextsComeFromTheBundleOrFallBackToTheDefaults) {
    using test::Utf8;
    struct Case {
        const char* name;
        const char* lproj;
        uint32 language;
        const char* more;
        const char* missing;
    };
    const std::string path = Posix("apps/Foo.app/");
    const Case cases[] = {
        // No .lproj folder: no language, and every text is the default one.
        {"no language folder", nullptr, kNoDialect, "More information is available in the log file '{LogFilePath}'",
         "Error code: 3 (UPZo)"},
        {"English", "en.lproj", DC_ENGLISH_US, "See the log '{LogFilePath}'", "Nothing at {path}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Posix("Updater.app/Contents/Resources"));
        std::filesystem::create_directories(Posix("Updater.app/Contents/Resources"));
        if (c.lproj != nullptr) {
            const std::string folder = std::string("Updater.app/Contents/Resources/") + c.lproj;
            std::filesystem::create_directories(Posix(folder));
            WriteBytes(Posix(folder + "/updater.xlf"), vela::test::EnglishUpdaterTexts());
        }
        std::string expectedMissing(c.missing);
        if (size_t at = expectedMissing.find("{path}"); at != std::string::npos) expectedMissing.replace(at, 6, path);
        {
            VUpdateEngine engine;
            ASSERT_TRUE(engine._InitLocalizationManager());
            ASSERT_NE(engine.GetLocalizationManager(), nullptr);
            EXPECT_EQ(engine.GetLocalizationManager()->GetLocalizationLanguage(), c.language);
            EXPECT_EQ(Utf8(LocalizeString(VString("MoreInformationsAvailableInLogFile"),
                                          "More information is available in the log file '{LogFilePath}'")),
                      c.more);
            auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(VE_UPD_OUTDATED_MISSING));
            error->SetString("path", Text(path));
            VString description;
            error->GetErrorDescription(description);
            EXPECT_EQ(Utf8(description), expectedMissing);
        }
        // Gone with the engine: no registry keeps it.
        EXPECT_EQ(GetProcessLocalizer(), nullptr);
        EXPECT_EQ(VErrorBase::GetLocalizer(kComponentUpdater), nullptr);
        EXPECT_EQ(VErrorBase::GetLocalizer(FourCC("vela")), nullptr);
    }
}

TEST(UpdaterMainTest, AQuitBeforeTheRunBeginsIsNoSuccess) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    char pattern[] = "/tmp/vela-updater-run-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    for (const char* bundle : {"/apps/Foo.app/Contents", "/new/Foo.app/Contents"})
        std::filesystem::create_directories(root + bundle);
    std::string outdated = root + "/apps/Foo.app", upToDate = root + "/new/Foo.app";
    char program[] = "updater";
    char* argv[] = {program, outdated.data(), upToDate.data(), nullptr};
    const int savedArgc = sProcessCommandLineArgc;
    char** savedArgv = sProcessCommandLineArgv;
    sProcessCommandLineArgc = 3;
    sProcessCommandLineArgv = argv;
    {
        VUpdateEngine engine;
        ASSERT_TRUE(engine.Init(0));
        // What the signal watcher does when a quit signal lands between the start-up and the run.
        engine.QuitAsynchronously(nullptr);
        EXPECT_EQ(RunUpdate(engine), 2);
        EXPECT_FALSE(engine.HasRun());
    }
    sProcessCommandLineArgc = savedArgc;
    sProcessCommandLineArgv = savedArgv;
    EXPECT_FALSE(VTaskMgr::IsInited());
    EXPECT_TRUE(std::filesystem::exists(outdated));
    EXPECT_TRUE(std::filesystem::exists(upToDate));
    std::filesystem::remove_all(root);
}

TEST(UpdaterMainTest, TheMemoryManagerOutlivesTheExitRoutine) {
    // Static objects destroyed after the exit routine still free their blocks: the manager must stay usable.
    VCppMemMgr* manager = VObject::sCppMemMgr.load();
    ASSERT_NE(manager, nullptr);
    void* block = VMemory::NewPtr(64, FourCCTag("test"));
    VString text("a string long enough to live in a shared heap buffer, not in the object");
    VProcess* process = VProcess::sInstance.load();
    UpdaterFinalizer();
    EXPECT_EQ(VProcess::sInstance.load(), nullptr);
    EXPECT_EQ(VObject::sCppMemMgr.load(), manager);
    VMemory::DisposePtr(block);
    text.Clear();
    VProcess::sInstance.store(process);
}

} // namespace

namespace {

TEST(VUpdateEngineOptionsTest, AcceptedCommandLinesFillTheFields) {
    struct Case {
        std::vector<const char*> args;
        const char* outdated;
        const char* upToDate;
        const char* restartParams;
        bool callerLog;
        bool headless;
        int pid;
    };
    const Case cases[] = {
        {{"/a/Foo.app", "/b/Foo.app"}, "/a/Foo.app/", "/b/Foo.app/", "", false, false, -1},
        {{"--outdated-app", "/a/Foo.app/", "--uptodate-app", "/b/Foo.app"},
         "/a/Foo.app/",
         "/b/Foo.app/",
         "",
         false,
         false,
         -1},
        {{"--outdated-app", "/a/Foo.app", "/a/Foo.app", "/b/Foo.app"},
         "/a/Foo.app/",
         "/b/Foo.app/",
         "",
         false,
         false,
         -1},
        {{"--install-path", "/elsewhere/", "--pid", "42", "--caller-log", "x", "--restart-params", "/p/link",
          "--restart-headless", "/a/Foo.app", "/b/Foo.app"},
         "/a/Foo.app/",
         "/b/Foo.app/",
         "/p/link",
         true,
         true,
         42},
    };
    for (const Case& c : cases) {
        std::vector<VString> arguments{"updater"};
        for (const char* a : c.args)
            arguments.emplace_back(a);
        SCOPED_TRACE(c.args.front());
        VUpdateEngine engine;
        VCommandLineParser parser(arguments);
        ASSERT_EQ(engine.DoParseCommandLine(parser), 0u);
        EXPECT_EQ(engine.fOutdatedApp.GetPath(FPS_POSIX), VString(c.outdated));
        EXPECT_EQ(engine.fUpToDateApp.GetPath(FPS_POSIX), VString(c.upToDate));
        // install-path is read and ignored: the new bundle goes where the outdated one was.
        EXPECT_EQ(engine.fInstallPath.GetPath(), engine.fOutdatedApp.GetPath());
        EXPECT_EQ(engine.fRestartParamsFile.GetPath(FPS_POSIX), VString(c.restartParams));
        EXPECT_EQ(engine.fCallerLog, c.callerLog);
        EXPECT_EQ(engine.fHeadless, c.headless);
        EXPECT_EQ(engine.fCallerPid, c.pid);
        EXPECT_TRUE(engine.fLogFolder.IsEmpty());
    }
}

} // namespace
