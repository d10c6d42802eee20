#include "files/VFileSystem.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "support/TestProcess.h"
#include "json/VJSONFileWrapping.h"
#include "json/VJSONObject.h"

#include "../files/TreeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vela {
namespace {

VString Text(const std::string& utf8) {
    VString text;
    text.FromBlock(utf8.data(), utf8.size(), VTC_UTF_8);
    return text;
}

class FileSystemDefinitionTest : public test::TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        Folder("data");
        Folder("resources");
        Folder("documents");
    }
    VRefPtr<VFolder> Dir(const std::string& relative) const {
        return VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(Text(P(relative) + "/"), FPS_POSIX)));
    }
    VRefPtr<VFile> Definition(const std::string& text) const {
        File("resources/fileSystems.json", text);
        return VRefPtr<VFile>::Adopt(new VFile(VFilePath(Text(P("resources/fileSystems.json")), FPS_POSIX)));
    }
    static std::vector<VError> Codes(const StErrorContextInstaller& errors) {
        std::vector<VError> out;
        for (const auto& error : errors.GetContext()->GetErrors())
            out.push_back(error->GetError());
        return out;
    }
    // The names registered, in order.
    static std::string Names(const VFileSystemNamespace& ns) {
        VFileSystemNamespace::FileSystemMap map;
        ns.RetainMapOfFileSystems(map, FSN_SEARCH_PARENTS);
        std::string names;
        for (const auto& entry : map)
            names += entry.first + ";";
        return names;
    }

    test::StTestProcess fProcess;
};

TEST_F(FileSystemDefinitionTest, EntriesBecomeFileSystemsWritableOnesGivingSpace) {
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    const std::string text = R"([{"name": "data", "path": ")" + P("data") +
                             R"(", "writable": true}, 7, "skipped", null,
        {"name": "logs", "parent": "data", "path": "logs", "writable": false}])";
    ASSERT_EQ(ns->LoadFromDefinitionFile(Definition(text).Get()), VE_OK);
    EXPECT_EQ(Names(*ns), "data;logs;");

    VRefPtr<VFileSystem> data = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("data"), 0));
    VRefPtr<VFileSystem> logs = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("logs"), 0));
    ASSERT_TRUE(data && logs);
    EXPECT_EQ(data->Request(10), VE_OK);
    EXPECT_EQ(logs->Request(10), VE_FILESYSTEM_REFUSED);
    EXPECT_TRUE(logs->GetRoot().IsChildOf(data->GetRoot()));

    VRefPtr<IFile> file = VRefPtr<IFile>::Adopt(ns->RetainFile(VString("/logs/today.log"), nullptr, 0, false));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->SetContent("x", 1), VE_OK);
    EXPECT_EQ(Read(P("data/logs/today.log")), "x");
}

// A parent found in an enclosing namespace gives its root as the base of the relative path, as a staged one does.
TEST_F(FileSystemDefinitionTest, AParentOfTheEnclosingNamespaceHoldsTheNewRoot) {
    VRefPtr<VFileSystemNamespace> outer = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    ASSERT_EQ(outer->RegisterFileSystem(VString("base"), Dir("data").Get(), 0), VE_OK);
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(outer.Get()));
    ASSERT_EQ(ns->LoadFromDefinitionFile(Definition(R"([{"name": "up", "parent": "base", "path": "sub"}])").Get()),
              VE_OK);
    VRefPtr<VFileSystem> up = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("up"), 0));
    ASSERT_TRUE(up);
    EXPECT_EQ(to_string(up->GetRoot().GetPath(FPS_POSIX)), P("data/sub/"));
}

// A definition that cannot be taken whole leaves the namespace as it was.
TEST_F(FileSystemDefinitionTest, ABadDefinitionRegistersNothing) {
    const std::string good = R"({"name": "good", "path": ")" + P("data") + R"("})";
    struct Case {
        const char* what;
        std::string text;
        VError raised;
    } cases[] = {
        {"truncated", "[" + good + ",", VE_FILESYSTEM_BAD_DEFINITION},
        {"not JSON", "name = good", VE_FILESYSTEM_BAD_DEFINITION},
        {"name with a slash", "[" + good + R"(, {"name": "a/b", "path": "/tmp/"}])", VE_FILESYSTEM_CANNOT_CREATE},
        {"no name", "[" + good + R"(, {"path": "/tmp/"}])", VE_FILESYSTEM_CANNOT_CREATE},
        {"no path", "[" + good + R"(, {"name": "b"}])", VE_FILESYSTEM_BAD_DEFINITION},
        {"unknown parent", "[" + good + R"(, {"name": "b", "parent": "none", "path": "x"}])",
         VE_FILESYSTEM_BAD_DEFINITION},
        {"leaving the parent", "[" + good + R"(, {"name": "b", "parent": "good", "path": "../resources"}])",
         VE_FILESYSTEM_BAD_DEFINITION},
        // Read as a full path, "x/" would name a volume "x": a root is never relative to the working folder.
        {"relative path without parent", "[" + good + R"(, {"name": "b", "path": "x"}])", VE_FILESYSTEM_BAD_DEFINITION},
        {"parent defined later", "[" + good + R"(, {"name": "b", "parent": "c", "path": "x"},
            {"name": "c", "path": "/tmp/"}])",
         VE_FILESYSTEM_BAD_DEFINITION},
    };
    for (const auto& c : cases) {
        VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
        ASSERT_EQ(ns->RegisterFileSystem(VString("base"), Dir("documents").Get(), 0), VE_OK);
        StErrorContextInstaller errors;
        EXPECT_NE(ns->LoadFromDefinitionFile(Definition(c.text).Get()), VE_OK) << c.what;
        const std::vector<VError> codes = Codes(errors);
        EXPECT_NE(std::find(codes.begin(), codes.end(), c.raised), codes.end()) << c.what;
        EXPECT_EQ(Names(*ns), "base;") << c.what;
    }
}

TEST_F(FileSystemDefinitionTest, AnythingButAnArrayIsAcceptedWithoutEffect) {
    for (const char* text : {R"({"name": "x", "path": "/tmp/"})", "\"text\"", "12"}) {
        VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
        EXPECT_EQ(ns->LoadFromDefinitionFile(Definition(text).Get()), VE_OK) << text;
        EXPECT_EQ(Names(*ns), "") << text;
    }
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    StErrorContextInstaller errors;
    EXPECT_EQ(ns->LoadFromDefinitionFile(nullptr), VE_UNKNOWN_ERROR);
}

TEST_F(FileSystemDefinitionTest, TheProcessNamespaceReadsTheResourcesDefinition) {
    Definition(R"([{"name": "shared", "parent": ".PRODUCT_RESOURCES", "path": "shared/"}])");
    VError error = 1;
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(
        VFileSystemNamespace::CreateProcessNamespace(Dir("documents").Get(), Dir("resources").Get(), &error));
    ASSERT_TRUE(ns);
    EXPECT_EQ(error, VE_OK);
    EXPECT_EQ(Names(*ns), ".PRODUCT_RESOURCES;.USER_HOME_DIRECTORY;shared;");
    EXPECT_EQ(ns->RetainFileSystem(VString(".USER_HOME_DIRECTORY"), FSN_SKIP_HIDDEN), nullptr);
    VRefPtr<IFolder> shared =
        VRefPtr<IFolder>::Adopt(ns->RetainFileSystemRootFolder(VString("shared"), FSN_SKIP_HIDDEN));
    ASSERT_TRUE(shared);
    EXPECT_EQ(to_string(shared->GetPath().GetPath(FPS_POSIX)), P("resources/shared/"));

    // A refused definition still leaves the two file systems of the process.
    Definition("[");
    StErrorContextInstaller errors;
    VRefPtr<VFileSystemNamespace> refused = VRefPtr<VFileSystemNamespace>::Adopt(
        VFileSystemNamespace::CreateProcessNamespace(nullptr, Dir("resources").Get(), &error));
    EXPECT_NE(error, VE_OK);
    EXPECT_EQ(Names(*refused), ".PRODUCT_RESOURCES;");
}

IFile* sExtracted = nullptr;

TEST(JSONFileWrapping, HooksAreForwardedAndDefaultsApplyWithout) {
    EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), nullptr);
    EXPECT_EQ(ExtractFolder(VJSONValue(JSON_null)), nullptr);
    VJSONValue first = WrapFile(nullptr);
    VJSONValue second = WrapFolder(nullptr);
    EXPECT_TRUE(first.IsUndefined());
    EXPECT_TRUE(second.IsUndefined());
    EXPECT_NE(first.GetStamp(), second.GetStamp());

    VFile file(VFilePath(VString("/tmp/x.txt"), FPS_POSIX));
    sExtracted = &file;
    SetFileFolderExtractorAndWrapper([](const VJSONValue&) { return sExtracted; }, nullptr,
                                     [](IFile*) { return VJSONValue(JSON_true); }, nullptr);
    EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), &file);
    EXPECT_EQ(ExtractFolder(VJSONValue(JSON_null)), nullptr);
    EXPECT_EQ(WrapFile(&file).GetType(), JSON_true);
    EXPECT_TRUE(WrapFolder(nullptr).IsUndefined());
    SetFileFolderExtractorAndWrapper(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(ExtractFile(VJSONValue(JSON_null)), nullptr);
}

} // namespace
} // namespace vela
