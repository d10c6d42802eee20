#include "app/VLibrary.h"

#include "files/VFile.h"
#include "files/VFolder.h"
#include "support/FileTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>

using namespace vela;

namespace {

class VLibraryTest : public test::TempFolderFixture {
protected:
    // A copy of the test module at name, with mode.
    void CopyModule(const std::string& name, mode_t mode = 0600) {
        std::filesystem::create_directories(std::filesystem::path(Posix(name)).parent_path());
        std::filesystem::copy_file(VELA_TEST_MODULE, Posix(name));
        ::chmod(Posix(name).c_str(), mode);
    }
    VFilePath Path(const std::string& name, bool folder = false) const {
        return VFilePath(Text(Posix(name) + (folder ? "/" : "")), FPS_POSIX);
    }
    void WriteInfo(const std::string& bundle, const std::string& executable) {
        std::filesystem::create_directories(Posix(bundle + "/Contents"));
        WriteBytes(Posix(bundle + "/Contents/Info.plist"),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                   "\t<key>CFBundleExecutable</key>\n\t<string>" +
                       executable + "</string>\n</dict>\n</plist>\n");
    }
    static int CallAnswer(const VLibrary& library) {
        auto answer = reinterpret_cast<int (*)()>(library.GetProcAddress("VelaTestModuleAnswer"));
        return answer != nullptr ? answer() : -1;
    }
    static mode_t Mode(const std::string& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }
    static std::string ReasonOf(const StErrorContextInstaller& errors) {
        const VErrorBase* last = errors.GetContext()->GetLast();
        if (last == nullptr || !last->GetParameters()->HasProperty("reason")) return "";
        VString reason;
        last->GetParameters()->GetProperty("reason").GetString(reason);
        StStringConverter<char> utf8(reason, VTC_UTF_8);
        return std::string(utf8.GetCPointer(), utf8.GetSize());
    }
};

} // namespace

TEST_F(VLibraryTest, LoadsAPlainLibraryAndFindsItsFunctions) {
    CopyModule("plain.so");
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(Path("plain.so")));
    EXPECT_EQ(library->GetProcAddress("VelaTestModuleAnswer"), nullptr) << "not loaded yet";
    ASSERT_TRUE(library->Load());
    EXPECT_TRUE(library->Load()) << "already loaded counts";
    EXPECT_EQ(CallAnswer(*library), 42);
    EXPECT_EQ(library->GetProcAddress("NoSuchFunction"), nullptr);
    EXPECT_EQ(Mode(Posix("plain.so")), mode_t(0755)) << "read and execute for all are added";
    VFilePath folder;
    EXPECT_FALSE(library->GetFolderPath(kBUNDLE_RESOURCES_FOLDER, folder)) << "a plain library has no folders";
    library->Unload();
    EXPECT_FALSE(library->IsLoaded());
    EXPECT_EQ(library->GetProcAddress("VelaTestModuleAnswer"), nullptr);
}

TEST_F(VLibraryTest, ABundleFolderLoadsTheExecutableItsInformationNames) {
    WriteInfo("Plug.bundle", "Plug");
    CopyModule("Plug.bundle/Contents/MacOS/Plug", 0700);
    VLibrary library(Path("Plug.bundle", true));
    ASSERT_TRUE(library.Load());
    EXPECT_EQ(CallAnswer(library), 42);
    const std::pair<BundleFolderKind, std::string> kinds[] = {
        {kBUNDLE_FOLDER, "Plug.bundle/"},
        {kBUNDLE_EXECUTABLE_FOLDER, "Plug.bundle/Contents/MacOS/"},
        {kBUNDLE_RESOURCES_FOLDER, "Plug.bundle/Contents/Resources/"},
        {kBUNDLE_PLUGINS_FOLDER, "Plug.bundle/Contents/PlugIns/"},
        {kBUNDLE_PRIVATE_FRAMEWORKS_FOLDER, "Plug.bundle/Contents/Frameworks/"},
        {kBUNDLE_SUPPORT_FOLDER, "Plug.bundle/Contents/SharedSupport/"},
    };
    for (const auto& [kind, relative] : kinds) {
        VFilePath folder;
        ASSERT_TRUE(library.GetFolderPath(kind, folder)) << kind;
        EXPECT_TRUE(folder.GetPath(FPS_POSIX).EqualToStringRaw(Text(Posix(relative)))) << kind;
    }
    VFilePath none;
    EXPECT_FALSE(library.GetFolderPath(BundleFolderKind(4), none));
    auto resources = VRefPtr<VFolder>::Adopt(library.RetainFolder(kBUNDLE_RESOURCES_FOLDER));
    ASSERT_NE(resources.Get(), nullptr);
    EXPECT_TRUE(
        resources->GetPath().GetPath(FPS_POSIX).EqualToStringRaw(Text(Posix("Plug.bundle/Contents/Resources/"))));
    EXPECT_EQ(library.RetainFolder(BundleFolderKind(4)), nullptr);
    VRefPtr<VFile> executable = VRefPtr<VFile>::Adopt(library.RetainExecutableFile());
    ASSERT_NE(executable.Get(), nullptr);
    EXPECT_TRUE(
        executable->GetPath().GetPath(FPS_POSIX).EqualToStringRaw(Text(Posix("Plug.bundle/Contents/MacOS/Plug"))));
}

TEST_F(VLibraryTest, RefusalsPushTheCannotLoadErrorWithTheReason) {
    WriteBytes(Posix("text.so"), "not a library");
    WriteInfo("NoExe.bundle", "Missing");
    std::filesystem::create_directories(Posix("Bare.bundle"));
    WriteInfo("Escape.bundle", "../../plain.so");
    CopyModule("plain.so");
    const std::pair<const char*, bool> cases[] = {
        {"text.so", false}, {"NoExe.bundle", true}, {"Bare.bundle", true}, {"Escape.bundle", true}};
    for (const auto& [name, folder] : cases) {
        SCOPED_TRACE(name);
        StErrorContextInstaller errors(false, true);
        VLibrary library(Path(name, folder));
        EXPECT_FALSE(library.Load());
        EXPECT_FALSE(library.IsLoaded());
        EXPECT_EQ(Codes(errors), std::vector<VError>{MakeLibraryError(1010)});
        EXPECT_FALSE(ReasonOf(errors).empty());
    }
    StErrorContextInstaller errors(false, true);
    VLibrary missing(Path("nothing-here.so"));
    EXPECT_FALSE(missing.Load());
    EXPECT_TRUE(Codes(errors).empty()) << "nothing there is not an error";
}

TEST_F(VLibraryTest, AFrameworkGetsItsLinkFilesReplacedByLinks) {
    CopyModule("Kit.framework/Versions/A/Kit", 0600);
    WriteBytes(Posix("Kit.framework/Versions/Current"), "XSym\n0001\n0cc175b9c0f1b6a831c399e269772661\nA\n       ");
    std::filesystem::create_symlink("Versions/Current/Kit", Posix("Kit.framework/Kit"));
    VLibrary library(Path("Kit.framework", true));
    ASSERT_TRUE(library.Load());
    EXPECT_TRUE(std::filesystem::is_symlink(Posix("Kit.framework/Versions/Current")));
    EXPECT_EQ(std::filesystem::canonical(Posix("Kit.framework/Versions/Current")),
              std::filesystem::canonical(Posix("Kit.framework/Versions/A")));
    EXPECT_EQ(CallAnswer(library), 42);
    EXPECT_EQ(Mode(Posix("Kit.framework/Versions/A/Kit")) & 0500, mode_t(0500));
}

TEST_F(VLibraryTest, ALinkFileWithoutItsTargetLineIsRefused) {
    // Three lines, three lines each ended (an empty fourth piece), an empty target line before the padding: none
    // names a target, and none may become a link to the file's own folder.
    const char* const kTexts[] = {"XSym\n0001\n0cc175b9c0f1b6a831c399e269772661",
                                  "XSym\n0001\n0cc175b9c0f1b6a831c399e269772661\n",
                                  "XSym\n0000\n0cc175b9c0f1b6a831c399e269772661\n\n       "};
    for (const char* text : kTexts) {
        std::filesystem::remove_all(Posix("Bad.framework"));
        std::filesystem::create_directories(Posix("Bad.framework/Versions"));
        WriteBytes(Posix("Bad.framework/Versions/Current"), text);
        StErrorContextInstaller errors(false, true);
        VLibrary library(Path("Bad.framework", true));
        EXPECT_FALSE(library.Load()) << text;
        const std::vector<VError> codes = Codes(errors);
        ASSERT_FALSE(codes.empty()) << text;
        EXPECT_EQ(codes.front(), MakeLibraryError(617)) << text;
        EXPECT_FALSE(std::filesystem::is_symlink(Posix("Bad.framework/Versions/Current"))) << text;
    }
}

TEST_F(VLibraryTest, SameFileComparesPathTexts) {
    VLibrary library(Path("a/Lib.so"));
    EXPECT_TRUE(library.IsSameFile(Path("a/Lib.so")));
    EXPECT_FALSE(library.IsSameFile(Path("a/Other.so")));
}
