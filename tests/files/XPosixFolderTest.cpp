#include "files/platform/XPosixFolder.h"
#include "files/platform/XPosixFaults.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::DescribeTree;

class XPosixFolderTest : public test::TempTree {
protected:
    // A small bundle with what a copy must keep: nested folders, modes (executable, private, read-only folder),
    // relative, absolute and dangling links, a link to a folder, non-ASCII names, an extended attribute and old
    // times.
    void MakeBundle(const std::string& top) {
        Folder(top);
        Folder(top + "/Contents");
        Folder(top + "/Contents/MacOS");
        File(top + "/Contents/MacOS/app", "#!/bin/sh\necho hi\n", 0755);
        File(top + "/Contents/Info.plist", std::string(100000, 'i'), 0644);
        File(top + "/Contents/secret", "s", 0600);
        Folder(top + "/Contents/Résumé ünï 日本");
        File(top + "/Contents/Résumé ünï 日本/é.txt", "accent", 0640);
        Folder(top + "/Contents/Frameworks");
        Folder(top + "/Contents/Frameworks/Lib.framework");
        Folder(top + "/Contents/Frameworks/Lib.framework/Versions");
        Folder(top + "/Contents/Frameworks/Lib.framework/Versions/A");
        File(top + "/Contents/Frameworks/Lib.framework/Versions/A/Lib", "lib", 0755);
        Link(top + "/Contents/Frameworks/Lib.framework/Versions/Current", "A");
        Link(top + "/Contents/Frameworks/Lib.framework/Lib", "Versions/Current/Lib");
        Link(top + "/Contents/dangling", "../nowhere");
        Link(top + "/Contents/absolute", "/etc/hostname");
        Folder(top + "/Contents/.hidden");
        File(top + "/Contents/.hidden/x", "");
        ASSERT_EQ(::setxattr(P(top + "/Contents/Info.plist").c_str(), "user.origin", "web", 3, 0), 0);
        ASSERT_EQ(::setxattr(P(top + "/Contents").c_str(), "user.kind", "dir", 3, 0), 0);
        Folder(top + "/Contents/readonly", 0555);
        struct timespec old[2] = {{1000000000, 5}, {1100000000, 123456789}};
        for (const char* path : {"/Contents/MacOS/app", "/Contents/Frameworks", "", "/Contents/readonly"})
            ASSERT_EQ(::utimensat(AT_FDCWD, P(top + path).c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, P(top + "/Contents/dangling").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    }
    static VError Posix(int error) { return MakePosixError(error); }
};

TEST_F(XPosixFolderTest, CopyKeepsLinksModesTimesAndAttributes) {
    MakeBundle("App.app");
    ASSERT_EQ(XPosixFolder::CopyToNonExistingFolder(P("App.app").c_str(), P("Copy.app").c_str()), VError(0));
    auto source = DescribeTree(P("App.app"));
    auto copy = DescribeTree(P("Copy.app"));
    EXPECT_EQ(copy, source);
    EXPECT_GT(source.size(), 15u);
    EXPECT_EQ(source.count("Contents/dangling"), 1u);
}

TEST_F(XPosixFolderTest, CopyOfALinkedTopFollowsItButKeepsInnerLinks) {
    MakeBundle("App.app");
    Link("Alias.app", "App.app");
    ASSERT_EQ(XPosixFolder::CopyToNonExistingFolder(P("Alias.app").c_str(), P("Copy.app").c_str()), VError(0));
    EXPECT_EQ(DescribeTree(P("Copy.app")), DescribeTree(P("App.app")));
}

TEST_F(XPosixFolderTest, CopyFailsWithoutLeavingASuccessBehind) {
    Folder("plain");
    File("plain/f", "x");
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        VError expected;
    };
    const std::vector<Case> cases = {
        {"missing source", P("absent"), P("t1"), Posix(ENOENT)},
        {"source is a file", P("plain/f"), P("t2"), Posix(ENOTDIR)},
        {"target exists", P("plain"), P("plain"), Posix(EEXIST)},
        {"target's folder missing", P("plain"), P("no/t3"), Posix(ENOENT)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XPosixFolder::CopyToNonExistingFolder(c.from.c_str(), c.to.c_str()), c.expected) << c.name;
    EXPECT_FALSE(Present(P("t1")));
    EXPECT_FALSE(Present(P("t2")));
    EXPECT_EQ(Read(P("plain/f")), "x");
}

TEST_F(XPosixFolderTest, CopyRefusesSpecialFilesWithoutOpeningThem) {
    Folder("src");
    File("src/a", "a");
    // Opening a FIFO for reading would block this test forever.
    ASSERT_EQ(::mkfifo(P("src/pipe").c_str(), 0644), 0);
    EXPECT_EQ(XPosixFolder::CopyToNonExistingFolder(P("src").c_str(), P("dst").c_str()), Posix(ENOTSUP));
}

// Faults in the middle of a copy: a folder or file that cannot be read, a full disk on either data path.
TEST_F(XPosixFolderTest, CopyReportsEachFaultOfTheWalk) {
    struct Case {
        const char* op;
        int error;
        int nth;
        const char* fallback; // an op armed to fail with EXDEV first, forcing read/write
    };
    const std::vector<Case> cases = {
        {"open", EACCES, 3, nullptr},
        {"readdir", EACCES, 2, nullptr},
        {"copy_file_range", ENOSPC, 2, nullptr},
        {"write", ENOSPC, 1, "copy_file_range"},
        {"read", EIO, 2, "copy_file_range"},
        {"mkdir", ENOSPC, 2, nullptr},
        {"setxattr", ENOSPC, 1, nullptr},
        {"chmod", EPERM, 1, nullptr},
        {"symlink", ENOSPC, 1, nullptr},
    };
    MakeBundle("App.app");
    int round = 0;
    for (const Case& c : cases) {
        std::string target = P("copy" + std::to_string(round++));
        XPosixFaults::Reset();
        if (c.fallback != nullptr) XPosixFaults::Arm(c.fallback, EXDEV, 1, 1000);
        XPosixFaults::Arm(c.op, c.error, c.nth);
        VError result = XPosixFolder::CopyToNonExistingFolder(P("App.app").c_str(), target.c_str());
        XPosixFaults::Reset();
        EXPECT_EQ(result, Posix(c.error)) << c.op;
    }
}

TEST_F(XPosixFolderTest, CopyWithReadAndWriteGivesTheSameTree) {
    MakeBundle("App.app");
    StPosixFault noRange("copy_file_range", EXDEV, 1, 1000);
    ASSERT_EQ(XPosixFolder::CopyToNonExistingFolder(P("App.app").c_str(), P("Copy.app").c_str()), VError(0));
    EXPECT_EQ(DescribeTree(P("Copy.app")), DescribeTree(P("App.app")));
}

TEST_F(XPosixFolderTest, CopyIntoItselfLeavesTheTargetOut) {
    Folder("src");
    Folder("src/sub");
    File("src/sub/f", "f");
    ASSERT_EQ(XPosixFolder::CopyToNonExistingFolder(P("src").c_str(), P("src/sub/copy").c_str()), VError(0));
    EXPECT_EQ(Read(P("src/sub/copy/sub/f")), "f");
    EXPECT_FALSE(Present(P("src/sub/copy/sub/copy")));
}

TEST_F(XPosixFolderTest, DeepAndLongPathsCopyAndDelete) {
    // Beyond PATH_MAX in total: only descriptor-relative walking reaches the bottom.
    std::string name(200, 'd');
    Folder("deep");
    int fd = ::open(P("deep").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 24 && fd >= 0; ++i) {
        ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << i;
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(XPosixFolder::CopyToNonExistingFolder(P("deep").c_str(), P("deep2").c_str()), VError(0));
    // Path texts cannot reach that far: count the levels by descriptors.
    int depth = 0;
    for (int fd = ::open(P("deep2").c_str(), O_RDONLY | O_DIRECTORY); fd >= 0; ++depth) {
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    EXPECT_EQ(depth, 25);
    EXPECT_EQ(XPosixFolder::DeleteForced(P("deep").c_str()), VError(0));
    EXPECT_EQ(XPosixFolder::DeleteForced(P("deep2").c_str()), VError(0));
    EXPECT_FALSE(Present(P("deep")));
    EXPECT_FALSE(Present(P("deep2")));
}

TEST_F(XPosixFolderTest, RenameNeverReplacesWithOrWithoutTheExclusiveFlag) {
    struct Case {
        const char* name;
        bool sourceIsFolder;
        const char* existingTarget; // nullptr: none, "file", "folder"
        VError expected;
    };
    const std::vector<Case> cases = {
        {"folder to free name", true, nullptr, 0},
        {"file to free name", false, nullptr, 0},
        {"folder onto empty folder", true, "folder", MakePosixError(EEXIST)},
        {"folder onto file", true, "file", MakePosixError(EEXIST)},
        {"file onto file", false, "file", MakePosixError(EEXIST)},
        {"file onto folder", false, "folder", MakePosixError(EEXIST)},
    };
    int round = 0;
    for (bool fallback : {false, true}) {
        for (const Case& c : cases) {
            std::string from = "from" + std::to_string(round);
            std::string to = "to" + std::to_string(round++);
            if (c.sourceIsFolder) {
                Folder(from);
                File(from + "/inside", "in");
            } else {
                File(from, "source");
            }
            if (c.existingTarget != nullptr && std::strcmp(c.existingTarget, "file") == 0) File(to, "target");
            if (c.existingTarget != nullptr && std::strcmp(c.existingTarget, "folder") == 0) Folder(to);
            // A file system that refuses the flag answers EINVAL.
            if (fallback) XPosixFaults::Arm("rename", EINVAL, 1);
            VError result = XPosixFolder::RenameExclusive(P(from).c_str(), P(to).c_str());
            XPosixFaults::Reset();
            EXPECT_EQ(result, c.expected) << c.name << (fallback ? " (fallback)" : "");
            if (c.expected == 0) {
                EXPECT_FALSE(Present(P(from))) << c.name;
                EXPECT_EQ(Read(P(c.sourceIsFolder ? to + "/inside" : to)), c.sourceIsFolder ? "in" : "source");
            } else {
                EXPECT_EQ(Read(P(c.sourceIsFolder ? from + "/inside" : from)), c.sourceIsFolder ? "in" : "source")
                    << c.name;
                if (std::strcmp(c.existingTarget, "file") == 0) {
                    EXPECT_EQ(Read(P(to)), "target") << c.name;
                }
            }
        }
    }
}

TEST_F(XPosixFolderTest, ForcedDeleteRemovesClosedFoldersAndLeavesLinkTargetsAlone) {
    Folder("outside", 0500);
    File("outside/keep", "keep", 0400);
    Folder("tree");
    Folder("tree/closed", 0000);
    Folder("tree/readonly", 0555);
    File("tree/readonly/f", "f", 0444);
    Link("tree/toOutside", "../outside");
    Link("tree/readonly/toKeep", "../../outside/keep");
    Link("tree/dangling", "nowhere");
    ASSERT_EQ(::chmod(P("tree/closed").c_str(), 0), 0);
    EXPECT_EQ(XPosixFolder::DeleteForced(P("tree").c_str()), VError(0));
    EXPECT_FALSE(Present(P("tree")));
    EXPECT_EQ(ModeOf(P("outside")), mode_t(0500));
    EXPECT_EQ(ModeOf(P("outside/keep")), mode_t(0400));
    EXPECT_EQ(Read(P("outside/keep")), "keep");
}

TEST_F(XPosixFolderTest, ForcedDeleteOfALinkRemovesTheLinkOnly) {
    Folder("real");
    File("real/f", "f");
    Link("link", "real");
    EXPECT_EQ(XPosixFolder::DeleteForced(P("link/").c_str()), VError(0));
    EXPECT_FALSE(Present(P("link")));
    EXPECT_EQ(Read(P("real/f")), "f");
}

// As an ordinary user: folders closed to their owner are opened for the walk, and the parent's mode comes back.
TEST_F(XPosixFolderTest, ForcedDeleteWidensWhatTheUserOwnsAndRestoresTheParent) {
    Folder("home");
    Folder("home/tree");
    Folder("home/tree/a", 0500);
    File("home/tree/a/f", "f", 0400);
    Folder("home/tree/b", 0000);
    Folder("home/tree/c", 0300);
    File("home/tree/c/g", "g");
    GiveToNobody(P("home"));
    ASSERT_EQ(::chmod(P("home").c_str(), 0500), 0);
    std::string tree = P("home/tree");
    int status = AsNobody([&] { return XPosixFolder::DeleteForced(tree.c_str()) == 0 ? 0 : 1; });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Present(tree));
    EXPECT_EQ(ModeOf(P("home")), mode_t(0500));
}

// A walk that cannot finish (an object the user does not own) puts back every mode it widened.
TEST_F(XPosixFolderTest, FailedForcedDeleteRestoresWhatItWidened) {
    Folder("home");
    Folder("home/tree", 0500);
    Folder("home/tree/sub", 0500);
    Folder("home/tree/sub/root", 0755);
    File("home/tree/sub/root/owned", "root's");
    GiveToNobody(P("home"));
    ASSERT_EQ(::chown(P("home/tree/sub/root").c_str(), 0, 0), 0);
    ASSERT_EQ(::chown(P("home/tree/sub/root/owned").c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(P("home").c_str(), 0500), 0);
    std::string tree = P("home/tree");
    int status = AsNobody([&] {
        VError error = XPosixFolder::DeleteForced(tree.c_str());
        return error == MakePosixError(EACCES) ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ModeOf(P("home")), mode_t(0500));
    EXPECT_EQ(ModeOf(P("home/tree")), mode_t(0500));
    EXPECT_EQ(ModeOf(P("home/tree/sub")), mode_t(0500));
    EXPECT_EQ(Read(P("home/tree/sub/root/owned")), "root's");
}

TEST_F(XPosixFolderTest, ForcedDeleteStopsAtAFaultAndReportsIt) {
    Folder("tree");
    for (const char* name : {"a", "b", "c", "d"})
        File(std::string("tree/") + name, name);
    {
        StPosixFault fault("unlink", EIO, 3);
        EXPECT_EQ(XPosixFolder::DeleteForced(P("tree").c_str()), MakePosixError(EIO));
    }
    EXPECT_TRUE(Present(P("tree")));
    EXPECT_EQ(DescribeTree(P("tree")).size(), 3u); // the folder and the two files after the fault
    EXPECT_EQ(XPosixFolder::DeleteForced(P("tree").c_str()), VError(0));
    EXPECT_EQ(XPosixFolder::DeleteForced(P("tree").c_str()), MakePosixError(ENOENT));
}

// Locked files and folders inside the tree are unlocked; a locked parent is unlocked for the removal and locked
// again afterwards.
TEST_F(XPosixFolderTest, ForcedDeleteClearsLocksAndRelocksTheParent) {
    Folder("parent");
    Folder("parent/tree");
    Folder("parent/tree/sub");
    File("parent/tree/sub/locked", "x");
    if (std::system(("chattr +i '" + P("parent/tree/sub/locked") + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system or user cannot lock files";
    for (const char* folder : {"parent/tree/sub", "parent"})
        ASSERT_EQ(std::system(("chattr +i '" + P(folder) + "'").c_str()), 0);
    EXPECT_EQ(XPosixFolder::DeleteForced(P("parent/tree").c_str()), VError(0));
    EXPECT_FALSE(Present(P("parent/tree")));
    // Still locked: nothing can be made in it.
    EXPECT_NE(::mkdir(P("parent/new").c_str(), 0700), 0);
    EXPECT_EQ(errno, EPERM);
}

TEST_F(XPosixFolderTest, CreateDeleteAndExists) {
    Folder("real");
    Link("link", "real");
    File("file", "");
    EXPECT_TRUE(XPosixFolder::Exists(P("real").c_str(), false));
    EXPECT_TRUE(XPosixFolder::Exists(P("link").c_str(), true));
    EXPECT_FALSE(XPosixFolder::Exists(P("link").c_str(), false));
    EXPECT_FALSE(XPosixFolder::Exists((P("link") + "/").c_str(), false));
    EXPECT_FALSE(XPosixFolder::Exists(P("file").c_str(), true));
    EXPECT_EQ(XPosixFolder::Create(P("new").c_str()), VError(0));
    EXPECT_EQ(XPosixFolder::Create(P("new").c_str()), MakePosixError(EEXIST));
    File("new/x", "");
    EXPECT_EQ(XPosixFolder::Delete(P("new").c_str()), MakePosixError(ENOTEMPTY));
    {
        StPosixFault full("mkdir", ENOSPC);
        EXPECT_EQ(XPosixFolder::Create(P("other").c_str()), MakePosixError(ENOSPC));
    }
}

} // namespace
} // namespace vela
