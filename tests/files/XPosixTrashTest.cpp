#include "files/platform/XPosixTrash.h"
#include "files/platform/XPosixFaults.h"
#include "files/platform/XPosixFolder.h"

#include "TreeFixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace vela {
namespace {

TEST(XPosixTrash, InfoTextIsWhatDesktopsRead) {
    // 2021-03-04 05:06:07 in the local time zone, whatever it is.
    struct tm local = {};
    local.tm_year = 121;
    local.tm_mon = 2;
    local.tm_mday = 4;
    local.tm_hour = 5;
    local.tm_min = 6;
    local.tm_sec = 7;
    local.tm_isdst = -1;
    time_t when = ::mktime(&local);
    struct Case {
        std::string path;
        std::string encoded;
    };
    const std::vector<Case> cases = {
        {"/home/u/App.app", "/home/u/App.app"},
        {"/tmp/a b/é%#?.txt", "/tmp/a%20b/%C3%A9%25%23%3F.txt"},
        {"/x/~keep-_.these", "/x/~keep-_.these"},
        {"/x/new\nline", "/x/new%0Aline"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XPosixTrash::MakeTrashInfo(c.path, when),
                  "[Trash Info]\nPath=" + c.encoded + "\nDeletionDate=2021-03-04T05:06:07\n")
            << c.path;
}

TEST(XPosixTrash, ClashingNamesKeepTheirExtensionLast) {
    struct Case {
        std::string name;
        int attempt;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a.txt", 1, "a.txt"},   {"a.txt", 2, "a.2.txt"},     {"App.app", 3, "App.3.app"},
        {"noext", 2, "noext.2"}, {".hidden", 2, ".hidden.2"}, {"a.b.c", 2, "a.b.2.c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XPosixTrash::NameForAttempt(c.name, c.attempt), c.expected) << c.name << " " << c.attempt;
}

class XPosixTrashTest : public test::TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        const char* old = std::getenv("XDG_DATA_HOME");
        fHadDataHome = old != nullptr;
        if (fHadDataHome) fOldDataHome = old;
        Folder("data");
        ::setenv("XDG_DATA_HOME", P("data").c_str(), 1);
    }
    void TearDown() override {
        if (fHadDataHome)
            ::setenv("XDG_DATA_HOME", fOldDataHome.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
        TempTree::TearDown();
    }
    std::string Trash(const std::string& relative) const { return P("data/Trash/" + relative); }
    static std::string PathLine(const std::string& info) {
        std::smatch match;
        return std::regex_search(info, match, std::regex("\nPath=([^\n]*)\n")) ? match[1].str() : "<none>";
    }

    bool fHadDataHome = false;
    std::string fOldDataHome;
};

TEST_F(XPosixTrashTest, AFolderGoesToTheHomeTrashWithItsInfo) {
    Folder("Mon Appli é.app");
    File("Mon Appli é.app/f", "content");
    ASSERT_EQ(XPosixTrash::HomeTrashPath(), P("data/Trash"));
    ASSERT_EQ(XPosixTrash::MoveToTrash(P("Mon Appli é.app/").c_str()), VError(0));
    EXPECT_FALSE(Present(P("Mon Appli é.app")));
    EXPECT_EQ(Read(Trash("files/Mon Appli é.app/f")), "content");
    std::string info = Read(Trash("info/Mon Appli é.app.trashinfo"));
    EXPECT_TRUE(std::regex_match(info, std::regex("\\[Trash Info\\]\nPath=[^\n]+\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT"
                                                  "\\d\\d:\\d\\d:\\d\\d\n")))
        << info;
    EXPECT_EQ(PathLine(info), fRoot + "/Mon%20Appli%20%C3%A9.app");
    EXPECT_EQ(ModeOf(Trash("info")), mode_t(0700));
    EXPECT_EQ(ModeOf(Trash("files")), mode_t(0700));
}

TEST_F(XPosixTrashTest, ClashesGetASuffixAndOrphansAreSkipped) {
    for (int round = 0; round < 2; ++round) {
        Folder("sub" + std::to_string(round));
        File("sub" + std::to_string(round) + "/a.txt", "round " + std::to_string(round));
        ASSERT_EQ(XPosixTrash::MoveToTrash(P("sub" + std::to_string(round) + "/a.txt").c_str()), VError(0));
    }
    // A name left in files/ without its info (a crash between the two steps) is never replaced.
    ASSERT_EQ(::mkdir(Trash("files/a.3.txt").c_str(), 0700), 0);
    Folder("sub2");
    File("sub2/a.txt", "round 2");
    ASSERT_EQ(XPosixTrash::MoveToTrash(P("sub2/a.txt").c_str()), VError(0));
    EXPECT_EQ(Read(Trash("files/a.txt")), "round 0");
    EXPECT_EQ(Read(Trash("files/a.2.txt")), "round 1");
    EXPECT_EQ(Read(Trash("files/a.4.txt")), "round 2");
    EXPECT_EQ(PathLine(Read(Trash("info/a.2.txt.trashinfo"))), fRoot + "/sub1/a.txt");
    EXPECT_EQ(PathLine(Read(Trash("info/a.4.txt.trashinfo"))), fRoot + "/sub2/a.txt");
    EXPECT_FALSE(Present(Trash("info/a.3.txt.trashinfo")));
}

TEST_F(XPosixTrashTest, ALinkIsTrashedItself) {
    Folder("real");
    Link("link", "real");
    ASSERT_EQ(XPosixTrash::MoveToTrash(P("link").c_str()), VError(0));
    EXPECT_TRUE(Present(P("real")));
    struct stat status;
    ASSERT_EQ(::lstat(Trash("files/link").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST_F(XPosixTrashTest, AFailureLeavesTheObjectAndNoInfoBehind) {
    struct Case {
        const char* op;
        int error;
    };
    const std::vector<Case> cases = {{"rename", EIO}, {"write", ENOSPC}, {"open", EACCES}, {"mkdir", EROFS}};
    for (const Case& c : cases) {
        Folder("victim");
        ::system(("rm -rf '" + P("data/Trash") + "'").c_str());
        VError result;
        {
            StPosixFault fault(c.op, c.error);
            result = XPosixTrash::MoveToTrash(P("victim").c_str());
        }
        EXPECT_EQ(result, MakePosixError(c.error)) << c.op;
        EXPECT_TRUE(Present(P("victim"))) << c.op;
        EXPECT_FALSE(Present(Trash("info/victim.trashinfo"))) << c.op;
        ASSERT_EQ(::rmdir(P("victim").c_str()), 0);
    }
    EXPECT_EQ(XPosixTrash::MoveToTrash(P("absent").c_str()), MakePosixError(ENOENT));
}

// Another device: the volume's own .Trash-$uid, with the path relative to the volume's top.
TEST_F(XPosixTrashTest, AnotherDeviceUsesTheVolumeTrash) {
    struct stat shm, tmp;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(fRoot.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a device of its own";
    char pattern[] = "/dev/shm/vela-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string top = "/dev/shm";
    std::string object = std::string(pattern) + "/obj";
    ASSERT_EQ(::mkdir(object.c_str(), 0700), 0);
    const std::string volumeTrash = top + "/.Trash-" + std::to_string(::getuid());
    bool hadTrash = Present(volumeTrash);
    std::string name = object.substr(object.rfind('/', object.rfind('/') - 1) + 1); // "vela-trash-XXXXXX/obj"
    ASSERT_EQ(XPosixTrash::MoveToTrash(object.c_str()), VError(0));
    EXPECT_FALSE(Present(object));
    EXPECT_TRUE(Present(volumeTrash + "/files/obj") || !hadTrash);
    // The name may clash with an earlier run's leftovers: find this run's info by its path.
    std::string found;
    for (int attempt = 1; attempt < 50 && found.empty(); ++attempt) {
        std::string info = Read(volumeTrash + "/info/" + XPosixTrash::NameForAttempt("obj", attempt) + ".trashinfo");
        if (PathLine(info) == name) found = XPosixTrash::NameForAttempt("obj", attempt);
    }
    EXPECT_FALSE(found.empty());
    EXPECT_EQ(ModeOf(volumeTrash), mode_t(0700));
    if (!found.empty()) {
        ::rmdir((volumeTrash + "/files/" + found).c_str());
        ::unlink((volumeTrash + "/info/" + found + ".trashinfo").c_str());
    }
    ::rmdir(pattern);
    if (!hadTrash) (void)std::system(("rm -rf '" + volumeTrash + "'").c_str());
    EXPECT_FALSE(Present(Trash("files/obj")));
}

TEST_F(XPosixTrashTest, NoTrashOnTheOtherDeviceAnswersCrossDevice) {
    struct stat shm, tmp;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(fRoot.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a device of its own";
    const std::string volumeTrash = "/dev/shm/.Trash-" + std::to_string(::getuid());
    if (Present(volumeTrash)) GTEST_SKIP() << "a volume trash is already there";
    char pattern[] = "/dev/shm/vela-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    VError result;
    {
        // The volume's trash cannot be made.
        StPosixFault fault("mkdir", EACCES);
        result = XPosixTrash::MoveToTrash(pattern);
    }
    EXPECT_EQ(result, MakePosixError(EXDEV));
    EXPECT_TRUE(Present(pattern));
    ::rmdir(pattern);
}

} // namespace
} // namespace vela
