#include "files/VFolder.h"

#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFileIterator.h"
#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFile.h"
#include "support/TestProcess.h"
#include "values/VTime.h"
#include "json/VJSONObject.h"

#include "TreeFixture.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::DescribeTree;

std::string Utf8(const VString& text) {
    std::string bytes(size_t(text.GetLength()) * 3 + 4, '\0');
    bytes.resize(text.ToBlock(bytes.data(), bytes.size(), VTC_UTF_8, false, false));
    return bytes;
}

class VFolderTest : public test::TempTree {
protected:
    void TearDown() override {
        XPosixFaults::Reset();
        TempTree::TearDown();
    }
    // The folder object for a path relative to the test's folder.
    VRefPtr<VFolder> Dir(const std::string& relative) const {
        VString text;
        std::string posix = P(relative) + "/";
        text.FromBlock(posix.data(), posix.size(), VTC_UTF_8);
        return VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(text, FPS_POSIX)));
    }
    static std::vector<VError> Codes(const StErrorContextInstaller& errors) {
        std::vector<VError> out;
        for (const auto& error : errors.GetContext()->GetErrors())
            out.push_back(error->GetError());
        return out;
    }
    // The names in a folder, hidden ones included.
    static std::set<std::string> Entries(const std::string& path) {
        std::set<std::string> names;
        DIR* dir = ::opendir(path.c_str());
        while (dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr)
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.insert(entry->d_name);
        if (dir != nullptr) ::closedir(dir);
        return names;
    }
    void MakeSource() {
        Folder("src");
        Folder("src/sub");
        File("src/sub/f", "f");
        File("src/top", "top", 0755);
        Link("src/link", "sub/f");
        Folder("src/.hidden");
        File("src/.hidden/h", "h");
    }

    test::StTestProcess fProcess;
};

// Replacing a target that is the source, or that holds it, would delete the source before copying it.
TEST_F(VFolderTest, ReplaceNeverDeletesTheSourceOrWhatHoldsIt) {
    Folder("top");
    Folder("top/a");
    Folder("top/a/b");
    File("top/a/b/precious", "data");
    Link("alias", "top");
    struct Case {
        const char* name;
        std::string source;
        std::string destination;
        const char* targetName;
    };
    const std::vector<Case> cases = {
        {"target is the source", "top/a/b", "top/a", "b"},
        {"target holds the source", "top/a/b", "top", "a"},
        {"target holds it through a link", "top/a/b", "alias", "a"},
        {"target is the source through a link", "top/a/b", "alias/a", "b"},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(true, true);
        VFolder* out = reinterpret_cast<VFolder*>(1);
        VError result = Dir(c.source)->CopyTo(*Dir(c.destination), VString(c.targetName), &out, FOLDER_COPY_REPLACE);
        EXPECT_EQ(result, VE_FOLDER_CANNOT_COPY) << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
        EXPECT_EQ(Read(P("top/a/b/precious")), "data") << c.name;
    }
}

TEST_F(VFolderTest, CopyOntoItselfOrIntoItsOwnFolderIsRefusedBeforeAnythingIsMade) {
    MakeSource();
    for (const char* destination : {"src", "src/sub"}) {
        StErrorContextInstaller errors(true, true);
        VFolder* out = nullptr;
        EXPECT_EQ(Dir("src")->CopyTo(*Dir(destination), &out, FOLDER_COPY_DEFAULT), VE_FOLDER_CANNOT_COPY);
        EXPECT_EQ(out, nullptr);
        EXPECT_FALSE(Present(P(std::string(destination) + "/src")));
    }
}

// A copy whose source is missing or cannot be read fails: an empty target reported as a copy would be taken
// for the real bundle.
TEST_F(VFolderTest, CopyOfAMissingOrUnreadableSourceFails) {
    Folder("dest");
    for (uint32 options : {uint32(FOLDER_COPY_DEFAULT), uint32(FOLDER_COPY_REPLACE)}) {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(Dir("absent")->CopyTo(*Dir("dest"), nullptr, options), VE_FOLDER_NOT_FOUND) << options;
    }
    MakeSource();
    for (uint32 options : {uint32(FOLDER_COPY_DEFAULT), uint32(FOLDER_COPY_REPLACE)}) {
        StErrorContextInstaller errors(true, true);
        // Reading the folder is refused: to the whole-tree copy, and to the listing of the item-by-item one.
        XPosixFaults::Arm("open", EACCES, 1, 1000);
        XPosixFaults::Arm("opendir", EACCES, 1, 1000);
        VError result = Dir("src")->CopyTo(*Dir("dest"), nullptr, options);
        XPosixFaults::Reset();
        EXPECT_EQ(result, VE_ACCESS_DENIED) << options;
        if (options == FOLDER_COPY_REPLACE) {
            // A replacing copy puts nothing in place but a whole copy.
            EXPECT_FALSE(Present(P("dest/src"))) << options;
            continue;
        }
        EXPECT_EQ(DescribeTree(P("dest/src")).size(), 1u) << options; // the empty target, reported as failed
        ASSERT_EQ(::rmdir(P("dest/src").c_str()), 0);
    }
}

// As an ordinary user, a bundle holding a folder that user may not read cannot be copied: the copy fails, with
// or without replacement, and never reports the partial target as done.
TEST_F(VFolderTest, CopyByAUserWhoCannotReadEverythingFails) {
    MakeSource();
    Folder("dest");
    GiveToNobody(P("dest"));
    VRefPtr<VFolder> source = Dir("src");
    VRefPtr<VFolder> destination = Dir("dest");
    // What the user may read copies.
    EXPECT_EQ(AsNobody([&] { return source->CopyTo(*destination, VString("control"), nullptr, 0) == VE_OK ? 0 : 1; }),
              0);
    EXPECT_EQ(Read(P("dest/control/sub/f")), "f");
    Folder("src/private", 0700);
    File("src/private/secret", "s", 0600);
    for (uint32 options : {uint32(FOLDER_COPY_DEFAULT), uint32(FOLDER_COPY_REPLACE)}) {
        int status = AsNobody([&] {
            VError result = source->CopyTo(*destination, nullptr, options);
            return result == VE_OK ? 1 : 0;
        });
        EXPECT_EQ(status, 0) << options;
        EXPECT_FALSE(Present(P("dest/src/private/secret"))) << options;
    }
}

TEST_F(VFolderTest, AFullDiskFailsTheCopy) {
    MakeSource();
    Folder("dest");
    StErrorContextInstaller errors(true, true);
    for (const char* op : {"copy_file_range", "write", "pwrite", "sendfile"})
        XPosixFaults::Arm(op, ENOSPC, 1, 100000);
    VError result = Dir("src")->CopyTo(*Dir("dest"), nullptr, FOLDER_COPY_REPLACE);
    XPosixFaults::Reset();
    EXPECT_NE(result, VE_OK);
    EXPECT_NE(std::find(Codes(errors).begin(), Codes(errors).end(), MakePosixError(ENOSPC)), Codes(errors).end());
}

TEST_F(VFolderTest, ReplaceReplacesWhollyAndPlainCopyMerges) {
    MakeSource();
    auto expected = DescribeTree(P("src"));
    for (uint32 options : {uint32(FOLDER_COPY_REPLACE), uint32(FOLDER_COPY_DEFAULT)}) {
        Folder("dest" + std::to_string(options));
        Folder("dest" + std::to_string(options) + "/src");
        File("dest" + std::to_string(options) + "/src/stale", "old");
        VFolder* out = nullptr;
        ASSERT_EQ(Dir("src")->CopyTo(*Dir("dest" + std::to_string(options)), &out, options), VE_OK) << options;
        VRefPtr<VFolder> target = VRefPtr<VFolder>::Adopt(out);
        ASSERT_TRUE(target);
        EXPECT_EQ(target->GetPosixPathBytes(), P("dest" + std::to_string(options) + "/src/"));
        EXPECT_EQ(Present(P("dest" + std::to_string(options) + "/src/stale")), options == FOLDER_COPY_DEFAULT);
        EXPECT_EQ(Read(P("dest" + std::to_string(options) + "/src/.hidden/h")), "h");
        EXPECT_EQ(Read(P("dest" + std::to_string(options) + "/src/link")), "f");
        EXPECT_EQ(ModeOf(P("dest" + std::to_string(options) + "/src/top")), mode_t(0755));
    }
    EXPECT_EQ(DescribeTree(P("dest4/src")), expected);
}

TEST_F(VFolderTest, CreateIsSuccessWhenTheFolderIsThereWhoeverMadeIt) {
    Folder("made", 0700);
    EXPECT_EQ(Dir("made")->Create(), VE_OK);
    EXPECT_EQ(Dir("made")->CreateRecursive(true), VE_OK);
    EXPECT_EQ(ModeOf(P("made")), mode_t(0700));
    EXPECT_EQ(Dir("a/b/c")->CreateRecursive(true), VE_OK);
    EXPECT_EQ(ModeOf(P("a/b")), mode_t(0777));
    // Creators racing for one path all succeed.
    for (int round = 0; round < 20; ++round) {
        std::string path = "race" + std::to_string(round) + "/x/y";
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 6; ++i)
            threads.emplace_back([&] {
                if (Dir(path)->CreateRecursive(false) != VE_OK) ++failures;
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(failures.load(), 0) << round;
    }
    StErrorContextInstaller errors(true, true);
    StPosixFault full("mkdir", ENOSPC);
    EXPECT_NE(Dir("full")->Create(), VE_OK);
    const VError expected = VErrorBase::EncodedNativeErrorToVError(MakePosixError(ENOSPC), VE_FOLDER_CANNOT_CREATE);
    EXPECT_EQ(Codes(errors), (std::vector<VError>{MakePosixError(ENOSPC), expected}));
}

TEST_F(VFolderTest, DeleteNeedsRecursiveForHiddenContents) {
    Folder("d");
    File("d/.only", "");
    {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(Dir("d")->Delete(false), VE_FOLDER_NOT_EMPTY);
    }
    EXPECT_EQ(Dir("d")->Delete(true), VE_OK);
    EXPECT_FALSE(Present(P("d")));
    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(Dir("d")->Delete(false), VE_FILE_NOT_FOUND);
}

TEST_F(VFolderTest, ForcedDeleteAndTrash) {
    MakeSource();
    Folder("src/sub/closed", 0);
    EXPECT_EQ(Dir("src")->DeleteForced(), VE_OK);
    EXPECT_FALSE(Present(P("src")));
    EXPECT_EQ(Dir("absent")->MoveToTrash(), VE_OK);
}

// The updater trashes the old bundle and deletes it when trashing fails: the failure must be reported.
TEST_F(VFolderTest, TrashingReportsItsFailure) {
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_DATA_HOME", P("data").c_str(), 1);
    MakeSource();
    Folder("other");
    VError refused;
    {
        StErrorContextInstaller errors(true, true);
        StPosixFault readOnly("mkdir", EROFS);
        refused = Dir("other")->MoveToTrash();
    }
    VError trashed = Dir("src")->MoveToTrash();
    if (old != nullptr)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(refused, VE_FOLDER_CANNOT_TRASH);
    EXPECT_TRUE(Present(P("other")));
    EXPECT_EQ(trashed, VE_OK);
    EXPECT_FALSE(Present(P("src")));
    EXPECT_EQ(Read(P("data/Trash/files/src/sub/f")), "f");
    EXPECT_TRUE(Present(P("data/Trash/info/src.trashinfo")));
}

TEST_F(VFolderTest, RenameAndMoveNeverReplace) {
    Folder("a");
    Folder("b");
    File("b/keep", "k");
    {
        StErrorContextInstaller errors(true, true);
        VFolder* out = reinterpret_cast<VFolder*>(1);
        EXPECT_EQ(Dir("a")->Rename(VString("b"), &out), VE_FOLDER_CANNOT_RENAME);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(Read(P("b/keep")), "k");
    }
    VFolder* out = nullptr;
    ASSERT_EQ(Dir("a")->Rename(VString("Ünï c"), &out), VE_OK);
    VRefPtr<VFolder> renamed = VRefPtr<VFolder>::Adopt(out);
    EXPECT_TRUE(renamed->Exists());
    EXPECT_EQ(renamed->GetPosixPathBytes(), P("Ünï c/"));
    ASSERT_EQ(renamed->Move(*Dir("b"), VString(), &out), VE_OK);
    VRefPtr<VFolder> moved = VRefPtr<VFolder>::Adopt(out);
    EXPECT_TRUE(Present(P("b/Ünï c")));
    Folder("c");
    Folder("b/c");
    StErrorContextInstaller errors(true, true);
    EXPECT_EQ(Dir("c")->Move(*Dir("b"), nullptr), VE_FOLDER_CANNOT_RENAME);
}

// A move to another device copies the tree, then removes the source.
TEST_F(VFolderTest, MoveAcrossDevicesCopiesThenRemoves) {
    struct stat shm, tmp;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(fRoot.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a device of its own";
    MakeSource();
    auto expected = DescribeTree(P("src"));
    char pattern[] = "/dev/shm/vela-move-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    VString text;
    std::string other = std::string(pattern) + "/";
    text.FromBlock(other.data(), other.size(), VTC_UTF_8);
    VFolder destination{VFilePath(text, FPS_POSIX)};
    VFolder* out = nullptr;
    VError result = Dir("src")->Move(destination, VString("moved"), &out);
    VRefPtr<VFolder> moved = VRefPtr<VFolder>::Adopt(out);
    auto got = DescribeTree(std::string(pattern) + "/moved");
    (void)std::system(("rm -rf '" + std::string(pattern) + "'").c_str());
    EXPECT_EQ(result, VE_OK);
    EXPECT_FALSE(Present(P("src")));
    EXPECT_EQ(got, expected);
}

// A move to another device whose source is missing or cannot be read fails and leaves what was at the target:
// the rename reports the other device before it looks at the source.
TEST_F(VFolderTest, MoveAcrossDevicesNeverRemovesWhatWasAtTheTarget) {
    Folder("other");
    test::StTmpfsMount other(P("other"), "1m");
    VELA_REQUIRE_MOUNT(other);
    Folder("other/src");
    File("other/src/keep", "k");
    MakeSource();
    auto expected = DescribeTree(P("other/src"));
    struct Case {
        const char* name;
        const char* source;
        const char* fault;
    };
    for (const Case& c : {Case{"missing source", "absent", nullptr}, Case{"unreadable source", "src", "open"}}) {
        StErrorContextInstaller errors(true, true);
        if (c.fault != nullptr) XPosixFaults::Arm(c.fault, EACCES);
        VFolder* out = reinterpret_cast<VFolder*>(1);
        VError result = Dir(c.source)->Move(*Dir("other"), VString("src"), &out);
        XPosixFaults::Reset();
        EXPECT_NE(result, VE_OK) << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
        EXPECT_EQ(DescribeTree(P("other/src")), expected) << c.name;
    }
    EXPECT_TRUE(Present(P("src/sub/f")));
}

// A move to another device whose copy is whole but whose source could be removed only in part says so: the error
// names the source and the target, and the moved folder is handed back.
TEST_F(VFolderTest, MoveAcrossDevicesTellsWhatWasLeftOfTheSource) {
    Folder("other");
    test::StTmpfsMount other(P("other"), "1m");
    VELA_REQUIRE_MOUNT(other);
    MakeSource();
    auto expected = DescribeTree(P("src"));
    StErrorContextInstaller errors(true, true);
    XPosixFaults::Arm("unlink", EBUSY, 2);
    VFolder* out = nullptr;
    VError result = Dir("src")->Move(*Dir("other"), VString(), &out);
    XPosixFaults::Reset();
    VRefPtr<VFolder> moved = VRefPtr<VFolder>::Adopt(out);
    EXPECT_EQ(result, VE_FOLDER_CANNOT_DELETE);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->GetPosixPathBytes(), P("other/src/"));
    EXPECT_EQ(DescribeTree(P("other/src")), expected);
    // The source left its name whole; its rest lies under a hidden name beside it, which the error names.
    EXPECT_FALSE(Present(P("src")));
    std::set<std::string> left = Entries(fRoot);
    left.erase("other");
    ASSERT_EQ(left.size(), 1u);
    const std::string rest = *left.begin();
    EXPECT_EQ(rest.rfind(".src.", 0), 0u) << rest;
    bool named = false;
    for (const auto& error : errors.GetContext()->GetErrors()) {
        auto* fileError = dynamic_cast<VFileError*>(error.Get());
        if (fileError == nullptr || error->GetError() != VE_FOLDER_CANNOT_DELETE) continue;
        VString destination;
        fileError->GetParameters()->GetProperty("destination").GetString(destination);
        named = Utf8(fileError->GetPathText()) == Utf8(Dir(rest)->GetPath().GetPath()) &&
                Utf8(destination) == Utf8(moved->GetPath().GetPath());
    }
    EXPECT_TRUE(named);
}

// Deleting a link that stands for a folder removes the link; the folder it leads to keeps everything. A replacing
// copy onto such a link replaces the link.
TEST_F(VFolderTest, DeletingOrReplacingALinkNeverTouchesWhatItLeadsTo) {
    Folder("real");
    File("real/f", "f");
    Link("alias", P("real"));
    for (bool recursive : {true, false}) {
        EXPECT_EQ(Dir("alias")->Delete(recursive), VE_OK) << recursive;
        EXPECT_FALSE(Present(P("alias"))) << recursive;
        EXPECT_EQ(Read(P("real/f")), "f") << recursive;
        Link("alias", P("real"));
    }
    MakeSource();
    Folder("dest");
    Link("dest/src", P("real"));
    auto before = DescribeTree(P("real"));
    ASSERT_EQ(Dir("src")->CopyTo(*Dir("dest"), nullptr, FOLDER_COPY_REPLACE), VE_OK);
    EXPECT_EQ(DescribeTree(P("real")), before);
    EXPECT_EQ(DescribeTree(P("dest/src")), DescribeTree(P("src")));
}

// A replacing copy whose source is missing or cannot be read leaves the old target whole, and nothing beside it.
TEST_F(VFolderTest, ReplaceKeepsTheOldTargetWhenTheSourceCannotBeRead) {
    MakeSource();
    Folder("src/private", 0700);
    File("src/private/secret", "s", 0600);
    Folder("dest");
    Folder("dest/src");
    File("dest/src/old", "old");
    GiveToNobody(P("dest"));
    auto expected = DescribeTree(P("dest/src"));
    {
        StErrorContextInstaller errors(true, true);
        EXPECT_EQ(Dir("absent")->CopyTo(*Dir("dest"), VString("src"), nullptr, FOLDER_COPY_REPLACE),
                  VE_FOLDER_NOT_FOUND);
    }
    EXPECT_EQ(DescribeTree(P("dest/src")), expected);
    EXPECT_EQ(Entries(P("dest")), std::set<std::string>{"src"});
    VRefPtr<VFolder> source = Dir("src");
    VRefPtr<VFolder> destination = Dir("dest");
    EXPECT_EQ(AsNobody([&] { return source->CopyTo(*destination, nullptr, FOLDER_COPY_REPLACE) == VE_OK ? 1 : 0; }), 0);
    EXPECT_EQ(DescribeTree(P("dest/src")), expected);
    EXPECT_EQ(Entries(P("dest")), std::set<std::string>{"src"});
    // A file at the target's name is no folder to replace.
    Folder("files");
    File("files/src", "a file");
    StErrorContextInstaller errors(true, true);
    EXPECT_NE(Dir("src")->CopyTo(*Dir("files"), nullptr, FOLDER_COPY_REPLACE), VE_OK);
    EXPECT_EQ(Read(P("files/src")), "a file");
}

// A copy into a folder that is the source, or lies in it, through a link is refused before anything is made.
TEST_F(VFolderTest, CopyIntoTheSourceThroughALinkIsRefused) {
    MakeSource();
    Link("alias", P("src"));
    auto expected = DescribeTree(P("src"));
    for (const char* destination : {"alias", "alias/sub", "src/link-to-top"}) {
        if (std::string(destination) == "src/link-to-top") {
            Link("src/link-to-top", P("src"));
            expected = DescribeTree(P("src"));
        }
        StErrorContextInstaller errors(true, true);
        VFolder* out = reinterpret_cast<VFolder*>(1);
        EXPECT_EQ(Dir("src")->CopyTo(*Dir(destination), VString("c"), &out, FOLDER_COPY_DEFAULT), VE_FOLDER_CANNOT_COPY)
            << destination;
        EXPECT_EQ(out, nullptr) << destination;
        EXPECT_EQ(DescribeTree(P("src")), expected) << destination;
    }
}

TEST_F(VFolderTest, PackagesAreBundleFoldersOrHoldTheirDescription) {
    for (const char* name : {"A.app", "B.Framework", "c.bundle", "d.plugin", "plain", "e.txt", "described"})
        Folder(name);
    Folder("described/Contents");
    File("described/Contents/Info.plist", "<plist/>");
    File("f.app", "not a folder");
    const std::set<std::string> packages = {"A.app", "B.Framework", "c.bundle", "d.plugin", "described"};
    for (const char* name :
         {"A.app", "B.Framework", "c.bundle", "d.plugin", "plain", "e.txt", "described", "f.app", "absent.app"})
        EXPECT_EQ(Dir(name)->MAC_IsPackage(), packages.count(name) == 1) << name;
}

TEST_F(VFolderTest, RelativePathsFromAFolderAreThoseFromItsPath) {
    VRefPtr<VFolder> base = Dir("a");
    for (const char* relative : {"b/c", "../d/", "/tmp/x"}) {
        VFilePath fromFolder;
        fromFolder.FromRelativePath(*base, VString(relative), FPS_POSIX);
        EXPECT_EQ(Utf8(fromFolder.GetPath()), Utf8(VFilePath(base->GetPath(), VString(relative), FPS_POSIX).GetPath()))
            << relative;
        EXPECT_TRUE(fromFolder.IsValid()) << relative;
    }
}

TEST_F(VFolderTest, LinksStandingForFoldersResolve) {
    Folder("real");
    File("file", "");
    Link("toReal", "real");
    Link("toFile", "file");
    Link("broken", "nowhere");
    struct Case {
        const char* name;
        bool deleteBroken;
        VError expected;
        std::string resultPath; // empty: *io unchanged
        bool linkKept;
    };
    const std::vector<Case> cases = {
        {"real", false, VE_OK, "", true},
        {"toReal", false, VE_OK, P("real/"), true},
        {"toFile", false, VE_FILE_ALIAS_NOT_A_FOLDER, "", true},
        {"broken", false, VErrorBase::EncodedNativeErrorToVError(MakePosixError(ENOENT), VE_FILE_CANNOT_RESOLVE_ALIAS),
         "", true},
        {"toFile", true, VE_OK, "", false},
        {"broken", true, VE_OK, "", false},
        {"absent", false, VE_OK, "", false},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(true, true);
        VFolder* folder = Dir(c.name).Forget();
        VFolder* before = folder;
        EXPECT_EQ(VFolder::ResolveAliasFolder(&folder, c.deleteBroken), c.expected) << c.name;
        if (c.resultPath.empty()) {
            EXPECT_EQ(folder, before) << c.name;
        } else {
            EXPECT_EQ(folder->GetPosixPathBytes(), c.resultPath) << c.name;
        }
        EXPECT_EQ(Present(P(c.name)), c.linkKept) << c.name;
        folder->Release();
    }
}

TEST_F(VFolderTest, AttributesAndRelativeURLs) {
    Folder("d");
    Folder("d/.h", 0500);
    Folder("d/sub sp");
    uint32 attributes = 0;
    EXPECT_EQ(Dir("d/.h")->GetFolderAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes, uint32(FATT_HIDDEN));
    bool hidden = false;
    EXPECT_EQ(Dir("d/.h")->IsHidden(hidden), VE_OK);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(Dir("d")->IsTraversable());
    EXPECT_FALSE(Dir("d/.h")->IsWritableByAll());
    uint16 mode = 0;
    EXPECT_EQ(Dir("d/.h")->MAC_GetPermissions(&mode), VE_OK);
    EXPECT_EQ(mode, 0500);
    VString url;
    Dir("d/sub sp")->GetRelativeURL(Dir("d").Get(), url, true);
    EXPECT_EQ(Utf8(url), "sub%20sp/");
}

// Which entries Iterate calls back for, by flags: the hidden and resolve bits hold for sub-folders too.
TEST_F(VFolderTest, IterateVisitsWhatTheFlagsAsk) {
    Folder("t");
    File("t/f1", "");
    File("t/.hf", "");
    Folder("t/sub");
    File("t/sub/f2", "");
    Folder("t/.hsub");
    File("t/.hsub/f3", "");
    Folder("t/.hsub/deeper");
    struct Case {
        uint32 flags;
        std::set<std::string> names;
    };
    const std::vector<Case> cases = {
        {FI_WANT_FILES, {"f1"}},
        {FI_WANT_FILES | FI_RECURSIVE, {"f1", "f2"}},
        {FI_RECURSIVE, {}},
        {FI_WANT_FILES | FI_RECURSIVE | FI_WANT_INVISIBLES, {"f1", ".hf", "f2", "f3"}},
        {FI_WANT_FOLDERS | FI_RECURSIVE | FI_WANT_INVISIBLES, {"sub", ".hsub", "deeper"}},
        {FI_WANT_FOLDERS | FI_RECURSIVE, {"sub"}},
        {FI_WANT_FOLDERS | FI_WANT_FILES | FI_RECURSIVE | FI_WANT_INVISIBLES,
         {"f1", ".hf", "sub", "f2", ".hsub", "f3", "deeper"}},
    };
    for (const Case& c : cases) {
        std::set<std::string> names;
        Dir("t")->Iterate(
            [&](IFileAttributeAccessor* accessor) {
                IFileSystemObject* object = accessor->GetFile() != nullptr
                                                ? static_cast<IFileSystemObject*>(accessor->GetFile())
                                                : accessor->GetFolder();
                VString name;
                object->GetName(name);
                names.insert(Utf8(name));
                return true;
            },
            c.flags);
        EXPECT_EQ(names, c.names) << c.flags;
    }
}

TEST_F(VFolderTest, IterateStopsWhenAskedAndSurvivesLinkLoops) {
    Folder("t");
    Folder("t/a");
    Link("t/a/up", "..");
    File("t/a/f", "");
    int calls = 0;
    Dir("t")->Iterate(
        [&](IFileAttributeAccessor*) {
            ++calls;
            return true;
        },
        FI_WANT_FOLDERS | FI_WANT_FILES | FI_RECURSIVE | FI_RESOLVE_ALIASES);
    EXPECT_EQ(calls, 3); // a, f, and "up" delivered as t itself but not entered again
    calls = 0;
    Dir("t")->Iterate(
        [&](IFileAttributeAccessor*) {
            ++calls;
            return false;
        },
        FI_WANT_FOLDERS | FI_RECURSIVE);
    EXPECT_EQ(calls, 1);
}

TEST_F(VFolderTest, ContentsListFilesThenFoldersWithoutHiddenOnes) {
    MakeSource();
    std::vector<VRefPtr<VFile>> files;
    std::vector<VRefPtr<VFolder>> folders;
    Dir("src")->GetContents(&files, &folders);
    std::set<std::string> fileNames, folderNames;
    for (const auto& file : files) {
        VString name;
        file->GetName(name);
        fileNames.insert(Utf8(name));
    }
    for (const auto& folder : folders) {
        VString name;
        folder->GetName(name);
        folderNames.insert(Utf8(name));
    }
    EXPECT_EQ(fileNames, (std::set<std::string>{"top", "link"}));
    EXPECT_EQ(folderNames, (std::set<std::string>{"sub"}));
}

TEST_F(VFolderTest, SystemFoldersFollowTheBaseDirectories) {
    const char* old = std::getenv("XDG_CACHE_HOME");
    std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_CACHE_HOME", P("cache").c_str(), 1);
    VRefPtr<VFolder> cache = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_UserCache, true));
    if (old != nullptr)
        ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CACHE_HOME");
    ASSERT_TRUE(cache);
    EXPECT_EQ(cache->GetPosixPathBytes(), P("cache/"));
    EXPECT_TRUE(cache->Exists());
    EXPECT_EQ(VFolder::RetainSystemFolder(eFK_None, true), nullptr);
    EXPECT_EQ(VFolder::RetainSystemFolder(ESystemFolderKind(14), true), nullptr);
    VRefPtr<VFolder> temporary = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_Temporary, false));
    ASSERT_TRUE(temporary);
    EXPECT_TRUE(temporary->Exists());
}

TEST_F(VFolderTest, PathsAndRelatives) {
    Folder("d");
    VRefPtr<VFolder> d = Dir("d");
    VString text;
    d->GetPlatformPath(text, FilePathStyle(7));
    EXPECT_TRUE(text.IsEmpty());
    d->GetPlatformPath(text, FPS_POSIX);
    EXPECT_EQ(Utf8(text), P("d/"));
    VRefPtr<VFolder> child = VRefPtr<VFolder>::Adopt(d->RetainRelativeFolderObject(VString("x/y"), FPS_POSIX));
    ASSERT_TRUE(child);
    EXPECT_EQ(child->GetPosixPathBytes(), P("d/x/y/"));
    VRefPtr<VFolder> parent = VRefPtr<VFolder>::Adopt(child->RetainParentFolder());
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->GetPosixPathBytes(), P("d/x/"));
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(d->RetainRelativeFile(VString("f.txt"), FPS_POSIX));
    ASSERT_TRUE(file);
    EXPECT_FALSE(Dir("d")->GetPathRef().IsFile());
    // A file path is no folder, even where a folder of that name is.
    VFolder asFile(VFilePath(VString((P("d")).c_str()), FPS_POSIX));
    EXPECT_FALSE(asFile.Exists());
}

// ---- Directory iterators

TEST_F(VFolderTest, IteratorsDeliverOnlyFoldersFilesAndLinks) {
    Folder("t");
    File("t/plain", "");
    File("t/Résumé 日本", "");
    Link("t/dangling", "nowhere");
    Link("t/toSub", "sub");
    Folder("t/sub");
    ASSERT_EQ(::mkfifo(P("t/fifo").c_str(), 0644), 0);
    int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::string socketPath = P("t/sock");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    struct Case {
        uint32 options;
        bool files;
        std::multiset<std::string> names;
    };
    const std::vector<Case> cases = {
        {FI_WANT_FILES, true, {"plain", "Résumé 日本", "dangling", "toSub"}},
        {FI_WANT_FOLDERS, false, {"sub"}},
        {FI_WANT_FILES | FI_RESOLVE_ALIASES, true, {"plain", "Résumé 日本", "dangling"}},
        {FI_WANT_FOLDERS | FI_RESOLVE_ALIASES, false, {"sub", "sub"}},
    };
    for (const Case& c : cases) {
        std::multiset<std::string> names;
        if (c.files) {
            VFileIterator it(Dir("t").Get(), c.options);
            for (; it.IsValid(); ++it)
                names.insert(Utf8([&] {
                    VString name;
                    it->GetName(name);
                    return name;
                }()));
            EXPECT_EQ(it.GetLastError(), VE_OK);
        } else {
            VFolderIterator it(Dir("t").Get(), c.options);
            for (; it.IsValid(); ++it) {
                EXPECT_EQ(it->GetPosixPathBytes(), P("t/sub/"));
                names.insert("sub");
            }
        }
        EXPECT_EQ(names, c.names) << c.options;
    }
    // The resolving folder iterator delivers sub twice: once itself, once through the link.
    {
        VFolderIterator it(Dir("t").Get(), FI_WANT_FOLDERS | FI_RESOLVE_ALIASES);
        int count = 0;
        for (; it.IsValid(); ++it)
            ++count;
        EXPECT_EQ(count, 2);
    }
    ::close(sock);
}

TEST_F(VFolderTest, IteratorsExposeWhatTheyCouldNotList) {
    Folder("t");
    File("t/f", "");
    {
        StPosixFault refused("opendir", EACCES);
        VFileIterator it(Dir("t").Get(), FI_WANT_FILES);
        EXPECT_FALSE(it.IsValid());
        EXPECT_EQ(it.GetLastError(), MakePosixError(EACCES));
    }
    VFileIterator missing(Dir("absent").Get(), FI_WANT_FILES);
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.GetLastError(), MakePosixError(ENOENT));
    // A path beyond the system's limit is reported, not cut: a folder whose own path just fits holds an entry
    // whose path does not.
    std::string name(250, 'n');
    std::string posix = P("t");
    int fd = ::open(posix.c_str(), O_RDONLY | O_DIRECTORY);
    for (;;) {
        const size_t left = size_t(PATH_MAX - 100) - posix.size() - 1;
        const std::string level = left > 255 ? name : std::string(left, 'f');
        ASSERT_EQ(::mkdirat(fd, level.c_str(), 0755), 0);
        int next = ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        posix += "/" + level;
        if (left <= 255) break;
    }
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    ::close(fd);
    VFolder deep((posix + "/").c_str(), VFilePath(VString(P("t/").c_str()), FPS_POSIX));
    VFolderIterator it(&deep, FI_WANT_FOLDERS);
    EXPECT_FALSE(it.IsValid());
    EXPECT_EQ(it.GetLastError(), MakePosixError(ENAMETOOLONG));
}

// A resolved link's times are its target's; an unresolved link's are its own.
TEST_F(VFolderTest, IteratorTimesAreThoseOfWhatWasDelivered) {
    Folder("t");
    File("target", "");
    Link("t/link", "../target");
    struct timespec targetTimes[2] = {{1000000000, 0}, {1000000000, 0}};
    struct timespec linkTimes[2] = {{1200000000, 0}, {1200000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, P("target").c_str(), targetTimes, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, P("t/link").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW), 0);
    VTime ofTarget, ofLink;
    ASSERT_EQ(XPosixFile::GetTimeAttributes(P("target").c_str(), false, &ofTarget, nullptr, nullptr), VE_OK);
    ASSERT_EQ(XPosixFile::GetTimeAttributes(P("t/link").c_str(), false, &ofLink, nullptr, nullptr), VE_OK);
    ASSERT_TRUE(ofTarget != ofLink);
    for (uint32 options : {uint32(FI_WANT_FILES), uint32(FI_WANT_FILES | FI_RESOLVE_ALIASES)}) {
        VFileIterator it(Dir("t").Get(), options);
        ASSERT_TRUE(it.IsValid());
        VTime modified;
        EXPECT_EQ(it.GetTime(&modified, nullptr, nullptr), VE_OK);
        EXPECT_FALSE(modified != ((options & FI_RESOLVE_ALIASES) != 0 ? ofTarget : ofLink)) << options;
    }
}

TEST_F(VFolderTest, TimesBeforeTheFirstEntryAreAnError) {
    Folder("empty");
    StErrorContextInstaller errors(true, true);
    VFileIterator it(Dir("empty").Get(), FI_WANT_FILES);
    VTime modified;
    EXPECT_EQ(it.GetTime(&modified, nullptr, nullptr), VE_FILE_NOT_FOUND);
    EXPECT_EQ(Codes(errors), (std::vector<VError>{VE_FILE_CANNOT_RESOLVE_ALIAS}));
}

} // namespace
} // namespace vela
