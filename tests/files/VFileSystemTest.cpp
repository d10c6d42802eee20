#include "files/VFileSystem.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/VFolder.h"
#include "support/TestProcess.h"
#include "json/VJSONObject.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

VString Text(const std::string& utf8) {
    VString text;
    text.FromBlock(utf8.data(), utf8.size(), VTC_UTF_8);
    return text;
}

std::string Utf8(const VString& text) {
    return to_string(text);
}

class VFileSystemTest : public test::TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        Folder("data");
        Folder("data/sub");
        Folder("DATA");
    }
    VRefPtr<VFolder> Dir(const std::string& relative) const {
        return VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(Text(P(relative) + "/"), FPS_POSIX)));
    }
    VRefPtr<VFileSystem> Make(const char* name, const std::string& relative, uint32 flags = 0, size_t budget = 0,
                              size_t used = 0) const {
        return VRefPtr<VFileSystem>::Adopt(
            VFileSystem::Create(VString(name), Dir(relative).Get(), flags, budget, used, nullptr));
    }

    test::StTestProcess fProcess;
};

TEST_F(VFileSystemTest, NamesThatAreEmptyOrHoldASlashAreRefused) {
    struct Case {
        const char* name;
        VError expected;
    } cases[] = {{"", VE_FILESYSTEM_CANNOT_CREATE},
                 {"a/b", VE_FILESYSTEM_CANNOT_CREATE},
                 {"/", VE_FILESYSTEM_CANNOT_CREATE},
                 {".PRODUCT_RESOURCES", VE_OK}};
    for (const auto& c : cases) {
        StErrorContextInstaller errors;
        VError error = 12345;
        VRefPtr<VFileSystem> fs =
            VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(VString(c.name), Dir("data").Get(), 0, 0, 0, &error));
        EXPECT_EQ(error, c.expected) << c.name;
        EXPECT_EQ(fs.Get() == nullptr, c.expected != VE_OK) << c.name;
        if (c.expected == VE_OK) continue;
        const auto& pushed = errors.GetContext()->GetErrors();
        ASSERT_EQ(pushed.size(), 1u) << c.name;
        VString param;
        pushed[0]->GetParameters()->GetProperty("name").GetString(param);
        EXPECT_EQ(Utf8(param), c.name);
    }
}

// The available count never wraps below zero nor climbs above the budget.
TEST_F(VFileSystemTest, BudgetsAreKeptWithoutWrapping) {
    struct Case {
        const char* what;
        uint32 flags;
        size_t budget, used;
        bool request; // else relinquish
        size_t n;
        VError expected;
        size_t availableAfter;
    } cases[] = {
        {"read-only request", 0, 100, 0, true, 1, VE_FILESYSTEM_REFUSED, 100},
        {"read-only relinquish", 0, 100, 0, false, 1, VE_FILESYSTEM_REFUSED, 100},
        {"no budget", FS_CAN_REQUEST_SPACE, 0, 0, true, size_t(1) << 40, VE_OK, 0},
        {"over budget", FS_CAN_REQUEST_SPACE, 100, 60, true, 50, VE_FILESYSTEM_OVER_BUDGET, 40},
        {"exactly what is left", FS_CAN_REQUEST_SPACE, 100, 60, true, 40, VE_OK, 0},
        {"used beyond the budget", FS_CAN_REQUEST_SPACE, 100, 150, true, 1, VE_FILESYSTEM_OVER_BUDGET, 0},
        {"given back", FS_CAN_REQUEST_SPACE, 100, 60, false, 30, VE_OK, 70},
        {"more given back than taken", FS_CAN_REQUEST_SPACE, 100, 60, false, 500, VE_OK, 100},
        {"huge given back", FS_CAN_REQUEST_SPACE, 100, 60, false, SIZE_MAX, VE_OK, 100},
    };
    for (const auto& c : cases) {
        VRefPtr<VFileSystem> fs = Make("data", "data", c.flags, c.budget, c.used);
        ASSERT_TRUE(fs) << c.what;
        EXPECT_EQ(c.request ? fs->Request(c.n) : fs->Relinquish(c.n), c.expected) << c.what;
        EXPECT_EQ(fs->GetAvailable(), c.availableAfter) << c.what;
    }
}

TEST_F(VFileSystemTest, TasksRequestingAtOnceNeverOverspend) {
    VRefPtr<VFileSystem> fs = Make("data", "data", FS_CAN_REQUEST_SPACE, 3000, 0);
    std::atomic<size_t> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                if (fs->Request(1) == VE_OK) granted.fetch_add(1);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(granted.load(), 3000u);
    EXPECT_EQ(fs->GetAvailable(), 0u);
}

TEST_F(VFileSystemTest, PathsWithANameResolveInsideTheRootOnly) {
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    ASSERT_EQ(ns->RegisterFileSystem(VString("data"), Dir("data").Get(), 0), VE_OK);
    struct Case {
        const char* text;
        bool parsed;
        const char* relative;
    } cases[] = {
        {"/data/a/b.txt", true, "a/b.txt"},
        {"/data/", true, ""},
        {"/data/sub/", true, "sub/"},
        {"/data/sub/../a.txt", true, "a.txt"},
        {"/data", false, ""},
        {"/data/../x.txt", false, ""},
        {"/data/sub/../../x.txt", false, ""},
        {"/data/../DATA/x.txt", false, ""},
        {"/missing/a.txt", false, ""},
        {"data/a.txt", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        VRefPtr<VFileSystem> fs;
        VString relative;
        EXPECT_EQ(ns->ParsePathWithFileSystem(VString(c.text), fs, relative, 0), c.parsed) << c.text;
        if (!c.parsed) continue;
        EXPECT_EQ(Utf8(fs->GetName()), "data") << c.text;
        EXPECT_EQ(Utf8(relative), c.relative) << c.text;
    }
}

TEST_F(VFileSystemTest, FilesAndFoldersFoundByNameStayInTheirFileSystem) {
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    ASSERT_EQ(ns->RegisterFileSystem(VString("data"), Dir("data").Get(), 0), VE_OK);
    VRefPtr<VFileSystem> fs = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("data"), 0));

    VRefPtr<IFile> file = VRefPtr<IFile>::Adopt(ns->RetainFile(VString("/data/sub/f.txt"), nullptr, 0, false));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetFileSystem(), fs.Get());
    EXPECT_EQ(Utf8(file->GetPathWithFileSystem()), "/data/sub/f.txt");
    EXPECT_EQ(file->SetContent("x", 1), VE_OK);
    EXPECT_EQ(Read(P("data/sub/f.txt")), "x");

    VRefPtr<IFolder> folder = VRefPtr<IFolder>::Adopt(ns->RetainFolder(VString("/data/sub"), nullptr, 0, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->GetFileSystem(), fs.Get());
    EXPECT_EQ(Utf8(folder->GetPathWithFileSystem()), "/data/sub/");

    const char* refused[] = {"/data/sub/", "/data/", "/data/../x.txt", "/other/x.txt", "/data/../DATA/x.txt"};
    for (const char* text : refused)
        EXPECT_EQ(ns->RetainFile(VString(text), nullptr, 0, false), nullptr) << text;
    EXPECT_EQ(ns->RetainFolder(VString("/data/../DATA"), nullptr, 0, false), nullptr);
}

// A folder in a file system derives nothing outside its root, also through a sibling differing only by case.
TEST_F(VFileSystemTest, RelativesLeavingTheRootAreRefused) {
    VRefPtr<VFileSystem> fs = Make("data", "data");
    VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(fs->RetainRootFolder());
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetFileSystem(), fs.Get());
    EXPECT_EQ(root->RetainRelativeFolder(VString("../DATA/"), FPS_POSIX), nullptr);
    EXPECT_EQ(root->RetainRelativeFolder(VString("sub/../../"), FPS_POSIX), nullptr);
    EXPECT_EQ(root->_RetainRelativeIFile(VString("../x.txt"), FPS_POSIX), nullptr);
    EXPECT_FALSE(fs->IsAuthorized(VFilePath(Text(P("DATA/x.txt")), FPS_POSIX)));
    EXPECT_TRUE(fs->IsAuthorized(VFilePath(Text(P("data/x.txt")), FPS_POSIX)));

    // An absolute-looking text is still read inside the root.
    VRefPtr<IFile> inside = VRefPtr<IFile>::Adopt(root->_RetainRelativeIFile(VString("/etc/passwd"), FPS_POSIX));
    ASSERT_TRUE(inside);
    EXPECT_TRUE(fs->IsAuthorized(inside->GetPath()));

    auto* rootFolder = dynamic_cast<VFolder*>(root.Get());
    ASSERT_NE(rootFolder, nullptr);
    EXPECT_EQ(rootFolder->RetainParentFolder(true), nullptr);
    VRefPtr<VFolder> outside = VRefPtr<VFolder>::Adopt(rootFolder->RetainParentFolder(false));
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->GetFileSystem(), nullptr);
    VRefPtr<VFolder> sub = VRefPtr<VFolder>::Adopt(rootFolder->RetainRelativeFolderObject(VString("sub/"), FPS_POSIX));
    ASSERT_TRUE(sub);
    VRefPtr<VFolder> back = VRefPtr<VFolder>::Adopt(sub->RetainParentFolder(true));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetFileSystem(), fs.Get());
}

// What a copy, move, rename or listing hands back stays in the file system it came from while it lies in the root;
// a link listed as what it leads to is not handed out when that lies outside the root.
TEST_F(VFileSystemTest, ResultsKeepTheFileSystemAndListingsStayInTheRoot) {
    VRefPtr<VFileSystem> fs = Make("data", "data");
    VRefPtr<VFolder> root = VRefPtr<VFolder>::Adopt(dynamic_cast<VFolder*>(fs->RetainRootFolder()));
    ASSERT_TRUE(root);
    File("data/f.txt", "f");
    Folder("data/a");
    Folder("data/b");
    Folder("DATA/outside");
    File("DATA/outside.txt", "o");
    Link("data/out", P("DATA/outside"));
    Link("data/out.txt", P("DATA/outside.txt"));
    Link("data/in", P("data/b"));

    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(root->RetainRelativeFile(VString("f.txt"), FPS_POSIX));
    ASSERT_TRUE(file);
    VFile* out = nullptr;
    ASSERT_EQ(file->CopyTo(VFilePath(Text(P("data/g.txt")), FPS_POSIX), &out), VE_OK);
    VRefPtr<VFile> copy = VRefPtr<VFile>::Adopt(out);
    EXPECT_EQ(copy->GetFileSystem(), fs.Get());
    ASSERT_EQ(copy->Move(VFilePath(Text(P("data/a/h.txt")), FPS_POSIX), &out), VE_OK);
    VRefPtr<VFile> moved = VRefPtr<VFile>::Adopt(out);
    EXPECT_EQ(moved->GetFileSystem(), fs.Get());
    ASSERT_EQ(moved->Move(VFilePath(Text(P("DATA/h.txt")), FPS_POSIX), &out), VE_OK);
    VRefPtr<VFile> left = VRefPtr<VFile>::Adopt(out);
    EXPECT_EQ(left->GetFileSystem(), nullptr);

    VRefPtr<VFolder> a = VRefPtr<VFolder>::Adopt(root->RetainRelativeFolderObject(VString("a/"), FPS_POSIX));
    ASSERT_TRUE(a);
    VFolder* folderOut = nullptr;
    ASSERT_EQ(a->Rename(VString("c"), &folderOut), VE_OK);
    VRefPtr<VFolder> renamed = VRefPtr<VFolder>::Adopt(folderOut);
    EXPECT_EQ(renamed->GetFileSystem(), fs.Get());
    VRefPtr<VFolder> b = VRefPtr<VFolder>::Adopt(root->RetainRelativeFolderObject(VString("b/"), FPS_POSIX));
    ASSERT_EQ(renamed->Move(*b, &folderOut), VE_OK);
    VRefPtr<VFolder> movedFolder = VRefPtr<VFolder>::Adopt(folderOut);
    EXPECT_EQ(movedFolder->GetFileSystem(), fs.Get());

    std::vector<std::string> names;
    root->Iterate(
        [&](IFileAttributeAccessor* entry) {
            IFileSystemObject* object =
                entry->GetFile() != nullptr ? static_cast<IFileSystemObject*>(entry->GetFile()) : entry->GetFolder();
            EXPECT_EQ(object->GetFileSystem(), fs.Get()) << Utf8(object->GetPath().GetPath());
            VString posix;
            object->GetPath().GetPosixPath(posix);
            names.push_back(Utf8(posix));
            return true;
        },
        FI_WANT_FILES | FI_WANT_FOLDERS | FI_RESOLVE_ALIASES);
    for (const std::string& name : names)
        EXPECT_EQ(name.rfind(P("data/"), 0), 0u) << name;
    EXPECT_NE(std::find(names.begin(), names.end(), P("data/b/")), names.end());
    EXPECT_EQ(std::count(names.begin(), names.end(), P("DATA/outside/")), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), P("DATA/outside.txt")), 0);
}

TEST_F(VFileSystemTest, HiddenFileSystemsStopTheSearch) {
    VRefPtr<VFileSystemNamespace> top = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(top.Get()));
    ASSERT_EQ(top->RegisterFileSystem(VString("h"), Dir("DATA").Get(), 0), VE_OK);
    ASSERT_EQ(top->RegisterFileSystem(VString("up"), Dir("DATA").Get(), 0), VE_OK);
    ASSERT_EQ(ns->RegisterFileSystem(VString("h"), Dir("data").Get(), FS_HIDDEN), VE_OK);

    EXPECT_EQ(ns->RetainFileSystem(VString("h"), FSN_SKIP_HIDDEN | FSN_SEARCH_PARENTS), nullptr);
    VRefPtr<VFileSystem> near = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("h"), FSN_SEARCH_PARENTS));
    ASSERT_TRUE(near);
    EXPECT_EQ(near->GetFlags(), uint32(FS_HIDDEN));
    EXPECT_EQ(ns->RetainFileSystem(VString("up"), 0), nullptr);
    VRefPtr<VFileSystem> up = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("up"), FSN_SEARCH_PARENTS));
    EXPECT_TRUE(up);

    VFileSystemNamespace::FileSystemMap all, visible;
    ns->RetainMapOfFileSystems(all, FSN_SEARCH_PARENTS);
    ns->RetainMapOfFileSystems(visible, FSN_SKIP_HIDDEN | FSN_SEARCH_PARENTS);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all["h"].Get(), near.Get());
    EXPECT_EQ(visible.count("h"), 0u);
    EXPECT_EQ(visible.count("up"), 1u);

    ns->UnregisterFileSystem(VString("h"));
    VRefPtr<VFileSystem> fallBack = VRefPtr<VFileSystem>::Adopt(ns->RetainFileSystem(VString("h"), 3));
    ASSERT_TRUE(fallBack);
    EXPECT_NE(fallBack.Get(), near.Get());
}

TEST_F(VFileSystemTest, TheRootGoesWithAFileSystemThatOwnsIt) {
    Folder("owned");
    File("owned/f", "f");
    Folder("kept");
    Make("owned", "owned", FS_DELETE_ROOT);
    Make("kept", "kept", 0);
    EXPECT_FALSE(Present(P("owned")));
    EXPECT_TRUE(Present(P("kept")));
}

} // namespace
} // namespace vela
