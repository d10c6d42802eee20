#include "updater/UpdaterToolbox.h"

#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/platform/XPosixFaults.h"
#include "support/FileTestSupport.h"
#include "support/RecordingLogger.h"
#include "support/RecordingXMLHandler.h"
#include "system/VAlertPresenter.h"
#include "updater/TreeManifest.h"
#include "updater/VUpdateEngine.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vela;

namespace {

namespace fs = std::filesystem;

class UpdaterToolboxTest : public test::TempFolderFixture {
protected:
    VFilePath FilePath(const std::string& name) const { return VFilePath(Text(Posix(name)), FPS_POSIX); }
    VFilePath FolderPath(const std::string& name) const { return VFilePath(Text(Posix(name) + "/"), FPS_POSIX); }

    void Write(const std::string& name, const std::string& bytes) {
        fs::create_directories(fs::path(Posix(name)).parent_path());
        WriteBytes(Posix(name), bytes);
    }

    static std::string Parameter(const VErrorBase& error, const char* name) {
        VString text;
        error.GetParameters()->GetProperty(name).GetString(text);
        return test::Utf8(text);
    }

    // The newest error of the context with code; null when none.
    static VErrorBase* Find(const StErrorContextInstaller& errors, VError code) {
        VErrorBase* found = nullptr;
        for (const auto& error : errors.GetContext()->GetErrors())
            if (error->GetError() == code) found = error.Get();
        return found;
    }
};

TEST_F(UpdaterToolboxTest, ServiceErrorsNameTheirService) {
    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(ThrowServiceError(VE_OK, VString("svc")), VE_OK);
    EXPECT_TRUE(Codes(errors).empty());
    const VError code = MakeVError(kComponentUpdater, 50);
    EXPECT_EQ(ThrowServiceError(code, VString("Updater Service")), code);
    ASSERT_EQ(Codes(errors), std::vector<VError>{code});
    EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "ServiceName"), "Updater Service");
}

TEST_F(UpdaterToolboxTest, OneErrorIsLoggedByItsDescriptionOrItsCode) {
    auto described = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeVError(kComponentUpdater, 77)));
    described->SetDescription(VString("what went wrong"));
    _LogError(described);
    _LogError(VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeVError(kComponentUpdater, 78))));
    _LogError(VRefPtr<VErrorBase>());
    std::vector<std::u16string> texts;
    for (const auto& record : Logger().All())
        if (record.level == EML_Error) texts.push_back(record.text);
    EXPECT_EQ(texts, (std::vector<std::u16string>{test::RecordingLogger::Text(Text("what went wrong")),
                                                  test::RecordingLogger::Text(Text("Error code: 78 (UPZo)"))}));
}

TEST_F(UpdaterToolboxTest, DisplayMessageShowsADebugAlertAndWaits) {
    auto presenter = VRefPtr<VScriptedAlertPresenter>::Adopt(new VScriptedAlertPresenter(eNotificationResponse_OK));
    IAlertPresenter::SetCurrent(presenter.Get());
    DisplayMessage("caf\xc3\xa9 ready");
    IAlertPresenter::SetCurrent(nullptr);
    const std::vector<VAlert> alerts = presenter->GetAlerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(test::Utf8(alerts[0].title), "Debug");
    EXPECT_EQ(alerts[0].message, Text("caf\xc3\xa9 ready"));
    EXPECT_TRUE(alerts[0].wait);
    EXPECT_TRUE(alerts[0].buttons.size() <= 1u);
}

TEST_F(UpdaterToolboxTest, RobustCopyFileMakesTheFoldersItNeeds) {
    Write("src/a.txt", "bytes");
    ::chmod(Posix("src/a.txt").c_str(), 0751);
    StErrorContextInstaller errors(true, true);
    ASSERT_EQ(RobustCopyFile(FilePath("src/a.txt"), FilePath("out/x/y/a.txt"), FCP_DEFAULT), VE_OK);
    EXPECT_TRUE(Codes(errors).empty());
    EXPECT_EQ(ReadBytes(Posix("out/x/y/a.txt")), "bytes");
    EXPECT_EQ(fs::status(Posix("out/x/y/a.txt")).permissions(), fs::perms(0751));
    EXPECT_EQ(test::ManifestOf(Posix("out/x/y")).size(), 1u) << "nothing left beside the copy";
}

TEST_F(UpdaterToolboxTest, RobustCopyFileReplacesOnlyWhenAsked) {
    Write("src/a.txt", "new");
    Write("out/a.txt", "old");
    {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(RobustCopyFile(FilePath("src/a.txt"), FilePath("out/a.txt"), FCP_DEFAULT), VE_UPD_FILE_COPY_FAILED);
        EXPECT_EQ(ReadBytes(Posix("out/a.txt")), "old");
    }
    {
        // The copy that replaces reaches the disk before the old file goes: a failed flush keeps the old one.
        StErrorContextInstaller errors(true, true);
        StPosixFault fault("fsync", EIO);
        EXPECT_EQ(RobustCopyFile(FilePath("src/a.txt"), FilePath("out/a.txt"), FCP_OVERWRITE), VE_UPD_FILE_COPY_FAILED);
        EXPECT_EQ(ReadBytes(Posix("out/a.txt")), "old");
        EXPECT_EQ(test::ManifestOf(Posix("out")).size(), 1u);
    }
    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(RobustCopyFile(FilePath("src/a.txt"), FilePath("out/a.txt"), FCP_OVERWRITE), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("out/a.txt")), "new");
    EXPECT_EQ(test::ManifestOf(Posix("out")).size(), 1u);
}

TEST_F(UpdaterToolboxTest, AFailedFileCopyNamesBothPathsAndRemovesTheFoldersItMade) {
    Write("out/kept", "there before");
    struct Case {
        const char* what;
        std::string source;
        std::string fault; // a file-layer call made to fail, or none
    };
    Write("src/a.txt", "bytes");
    const Case cases[] = {{"missing source", "src/none.txt", ""}, {"full disk", "src/a.txt", "copy_file_range"}};
    const test::TreeManifest withSource = test::ManifestOf(fRoot);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StErrorContextInstaller errors(true, true);
        if (!c.fault.empty()) XPosixFaults::Arm(c.fault.c_str(), ENOSPC, 1, 1000);
        EXPECT_EQ(RobustCopyFile(FilePath(c.source), FilePath("out/new/deep/a.txt"), FCP_DEFAULT),
                  VE_UPD_FILE_COPY_FAILED);
        XPosixFaults::Reset();
        VErrorBase* error = Find(errors, VE_UPD_FILE_COPY_FAILED);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error, errors.GetContext()->GetLast());
        EXPECT_EQ(Parameter(*error, "srcPath"), test::Utf8(FilePath(c.source).GetPath()));
        EXPECT_EQ(Parameter(*error, "dstPath"), test::Utf8(FilePath("out/new/deep/a.txt").GetPath()));
        EXPECT_EQ(test::Difference(test::ManifestOf(fRoot), withSource), "");
    }
}

TEST_F(UpdaterToolboxTest, AFolderThatCannotBeMadeIsNamed) {
    Write("src/a.txt", "bytes");
    Write("blocker", "a file where a folder should be");
    StErrorContextInstaller errors(true, true);
    const VError code = RobustCopyFile(FilePath("src/a.txt"), FilePath("blocker/sub/a.txt"), FCP_DEFAULT);
    EXPECT_NE(code, VE_OK);
    EXPECT_NE(code, VE_UPD_FILE_COPY_FAILED);
    ASSERT_NE(errors.GetContext()->GetLast(), nullptr);
    EXPECT_EQ(errors.GetContext()->GetLast()->GetError(), code);
    EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "path"), test::Utf8(FolderPath("blocker/sub").GetPath()));
    EXPECT_EQ(ReadBytes(Posix("blocker")), "a file where a folder should be");
}

// The content of a source merged into a destination that holds other things, replacing files of the same name.
class RobustCopyFolderContentTest : public UpdaterToolboxTest {
protected:
    void MakeTrees(const std::string& top) {
        Write(top + "/src/same.txt", "new");
        Write(top + "/src/sub/a.txt", "a");
        fs::create_directory_symlink("sub", Posix(top + "/src/link"));
        Write(top + "/dest/same.txt", "old");
        Write(top + "/dest/keep.txt", "kept");
        ::chmod(Posix(top + "/dest").c_str(), 0750);
    }
};

TEST_F(RobustCopyFolderContentTest, TheContentIsMergedIntoTheDestination) {
    MakeTrees("t");
    StErrorContextInstaller errors(true, true);
    ASSERT_TRUE(RobustCopyFolderContent(FolderPath("t/src"), FolderPath("t/dest"), FOLDER_COPY_REPLACE));
    EXPECT_TRUE(Codes(errors).empty());
    EXPECT_EQ(ReadBytes(Posix("t/dest/same.txt")), "new");
    EXPECT_EQ(ReadBytes(Posix("t/dest/keep.txt")), "kept");
    EXPECT_EQ(ReadBytes(Posix("t/dest/sub/a.txt")), "a");
    EXPECT_EQ(fs::read_symlink(Posix("t/dest/link")), "sub");
    EXPECT_EQ(fs::status(Posix("t/dest")).permissions(), fs::perms(0750));
    // Nothing beside the destination: the staging folder went with the former content.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Posix("t")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dest", "src"}));

    // A destination that does not exist yet is made, with its parents.
    ASSERT_TRUE(RobustCopyFolderContent(FolderPath("t/src"), FolderPath("t/made/here"), FOLDER_COPY_DEFAULT));
    EXPECT_EQ(test::Difference(test::ManifestOf(Posix("t/made/here")), test::ManifestOf(Posix("t/src"))), "");
}

TEST_F(RobustCopyFolderContentTest, AMissingSourceIsError650AndChangesNothing) {
    MakeTrees("t");
    const test::TreeManifest before = test::ManifestOf(fRoot);
    StErrorContextInstaller errors(true, true);
    VFolder destination(FolderPath("t/dest"));
    EXPECT_FALSE(RobustCopyFolderContent(VFolder(FolderPath("t/none")), destination, FOLDER_COPY_REPLACE));
    ASSERT_EQ(Codes(errors), std::vector<VError>{VE_FOLDER_NOT_FOUND});
    EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "path"), test::Utf8(FolderPath("t/none").GetPath()));
    EXPECT_EQ(test::Difference(test::ManifestOf(fRoot), before), "");
}

// A destination inside the source would take in its own staging folder: refused, and nothing changes.
TEST_F(RobustCopyFolderContentTest, ADestinationInsideTheSourceIsRefused) {
    MakeTrees("t");
    Write("t/src/inner/x.txt", "x");
    const test::TreeManifest before = test::ManifestOf(fRoot);
    StErrorContextInstaller errors(true, true);
    EXPECT_FALSE(RobustCopyFolderContent(FolderPath("t/src"), FolderPath("t/src/inner"), FOLDER_COPY_REPLACE));
    ASSERT_NE(errors.GetContext()->GetLast(), nullptr);
    EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "path"), test::Utf8(FolderPath("t/src/inner").GetPath()));
    EXPECT_EQ(test::Difference(test::ManifestOf(fRoot), before), "");
}

// Every call of the copy that may fail fails in turn: each failure leaves the whole folder tree byte for byte as it
// was and says why under the destination's path; the run that no fault reaches gives the merged tree.
TEST_F(RobustCopyFolderContentTest, AFailureAtAnyStepLeavesTheDestinationAsItWas) {
    MakeTrees("twin");
    ASSERT_TRUE(RobustCopyFolderContent(FolderPath("twin/src"), FolderPath("twin/dest"), FOLDER_COPY_REPLACE));
    const test::TreeManifest expected = test::ManifestOf(Posix("twin"));
    MakeTrees("t");
    const test::TreeManifest before = test::ManifestOf(Posix("t"));
    const char* const kCalls[] = {"mkdtemp", "chmod", "open",   "copy_file_range", "fchmod",
                                  "symlink", "mkdir", "syncfs", "rename",          "exchange"};
    int failures = 0;
    for (const char* call : kCalls) {
        bool succeeded = false;
        for (int nth = 1; nth <= 100 && !succeeded; ++nth) {
            SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth));
            StErrorContextInstaller errors(true, true);
            XPosixFaults::Arm(call, EIO, nth, 1);
            succeeded = RobustCopyFolderContent(FolderPath("t/src"), FolderPath("t/dest"), FOLDER_COPY_REPLACE);
            XPosixFaults::Reset();
            if (succeeded) break;
            ++failures;
            EXPECT_EQ(test::Difference(test::ManifestOf(Posix("t")), before), "");
            ASSERT_NE(errors.GetContext()->GetLast(), nullptr);
            EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "path"), test::Utf8(FolderPath("t/dest").GetPath()));
        }
        EXPECT_TRUE(succeeded) << call;
        EXPECT_EQ(test::Difference(test::ManifestOf(Posix("t")), expected), "") << call;
        // The next call starts from the trees as they were.
        fs::remove_all(Posix("t"));
        MakeTrees("t");
    }
    EXPECT_GT(failures, 5);
}

TEST_F(UpdaterToolboxTest, FindFileByExtFindsTheFirstFileByNameOfThatExtension) {
    Write("f/readme.txt", "");
    Write("f/z.log", "");
    Write("f/notes.log", "");
    Write("f/sub/a.log", "");
    fs::create_directory(Posix("f/dir.log"));
    struct Case {
        const char* extension;
        const char* found; // null: none
    };
    const Case cases[] = {{"log", "f/notes.log"}, {"txt", "f/readme.txt"}, {"bin", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        for (int overload = 0; overload < 2; ++overload) {
            StErrorContextInstaller errors(true, true);
            VFilePath result = FilePath("stale");
            const VError code = overload == 0 ? FindFileByExt(VFolder(FolderPath("f")), Text(c.extension), result)
                                              : FindFileByExt(FolderPath("f"), Text(c.extension), result);
            if (c.found != nullptr) {
                EXPECT_EQ(code, VE_OK);
                EXPECT_EQ(result.GetPath(), FilePath(c.found).GetPath());
            } else {
                EXPECT_EQ(code, VE_FILE_NOT_FOUND);
                EXPECT_TRUE(result.IsEmpty());
                EXPECT_EQ(Codes(errors), std::vector<VError>{VE_FILE_NOT_FOUND});
            }
        }
    }
    // Not a folder path: an invalid parameter.
    for (const VFilePath& path : {FilePath("f/z.log"), VFilePath()}) {
        StErrorContextInstaller errors(true, true);
        VFilePath result;
        EXPECT_EQ(FindFileByExt(path, Text("log"), result), VE_INVALID_PARAMETER);
        EXPECT_TRUE(result.IsEmpty());
    }
}

} // namespace
