#include "files/VFile.h"

#include "files/VFileDesc.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "support/FileTestSupport.h"
#include "support/SmallDisk.h"
#include "values/VTime.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/file.h>

namespace vela {
namespace {

using test::TempFolderFixture;

class VFileTest : public TempFolderFixture {};

TEST_F(VFileTest, ContentRoundTripsWhateverTheName) {
    const std::string deep = [] {
        std::string path;
        for (int i = 0; i < 30; ++i)
            path += "folder-with-a-rather-long-name-" + std::to_string(i) + "-éè/";
        return path;
    }();
    ASSERT_GT(deep.size(), 1000u);
    std::filesystem::create_directories(fRoot + "/" + deep);
    const std::string names[] = {
        "plain.txt", "café ünïcode.txt", "日本語のファイル.dat", "with:colon", ".hidden", deep + "leaf.bin",
    };
    for (const std::string& name : names) {
        auto file = File(name);
        ASSERT_TRUE(file->GetPathRef().IsValid()) << name;
        EXPECT_FALSE(file->Exists()) << name;
        EXPECT_EQ(file->Create(), VE_OK) << name;
        EXPECT_TRUE(Present(Posix(name))) << name;
        const std::string bytes = "content of " + name;
        EXPECT_EQ(file->SetContent(bytes.data(), bytes.size()), VE_OK) << name;
        EXPECT_EQ(ReadBytes(Posix(name)), bytes) << name;
        VMemoryBuffer<1024, 2, 1048576> buffer;
        EXPECT_EQ(file->GetContent(buffer), VE_OK) << name;
        EXPECT_EQ(std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize()), bytes) << name;
        EXPECT_EQ(file->AppendContent("+", 1), VE_OK) << name;
        EXPECT_EQ(ReadBytes(Posix(name)), bytes + "+") << name;
        int64 size = 0;
        EXPECT_EQ(file->GetSize(&size), VE_OK);
        EXPECT_EQ(size, int64(bytes.size() + 1)) << name;
        VString posix;
        file->GetPlatformPath(posix, FPS_POSIX);
        EXPECT_EQ(to_string(posix), Posix(name));
        EXPECT_EQ(file->Delete(), VE_OK) << name;
        EXPECT_FALSE(Present(Posix(name))) << name;
    }
}

TEST_F(VFileTest, CreateReplacesOnlyWhenAsked) {
    WriteBytes(Posix("a"), "old");
    auto file = File("a");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(file->Create(), VE_FILE_CANNOT_CREATE);
        EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EEXIST), VE_FILE_CANNOT_CREATE}));
        EXPECT_EQ(ReadBytes(Posix("a")), "old");
    }
    EXPECT_EQ(file->Create(FO_OVERWRITE), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("a")), "");
}

TEST_F(VFileTest, DeleteOfNothingSucceedsQuietlyAndAnInvalidPathFails) {
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(File("missing")->Delete(), VE_OK);
    EXPECT_TRUE(Codes(errors).empty());
    VFile invalid(VFilePath{});
    EXPECT_EQ(invalid.Delete(), VE_FILE_CANNOT_DELETE);
    EXPECT_EQ(Codes(errors), std::vector<VError>{VE_FILE_CANNOT_DELETE});
}

TEST_F(VFileTest, ExistsOnlyForFilesAndLinks) {
    std::filesystem::create_directory(Posix("dir"));
    ::mkfifo(Posix("fifo").c_str(), 0600);
    WriteBytes(Posix("file"), "x");
    ::symlink("nowhere", Posix("broken").c_str());
    EXPECT_FALSE(File("dir")->Exists());
    EXPECT_FALSE(VFile(VFilePath(Text(Posix("dir/")), FPS_POSIX)).Exists());
    EXPECT_FALSE(File("fifo")->Exists());
    EXPECT_TRUE(File("file")->Exists());
    EXPECT_TRUE(File("broken")->Exists());
    // Deleting leaves what is no file alone.
    EXPECT_EQ(File("fifo")->Delete(), VE_OK);
    EXPECT_TRUE(Present(Posix("fifo")));
}

// A file made from a link's path names the link: deleting it removes the link, never its target.
TEST_F(VFileTest, AFileOnALinkNamesTheLink) {
    WriteBytes(Posix("target"), "keep");
    ASSERT_EQ(::symlink("target", Posix("link").c_str()), 0);
    auto link = File("link");
    EXPECT_TRUE(link->MAC_IsSymbolicLink());
    EXPECT_EQ(link->Delete(), VE_OK);
    EXPECT_FALSE(Present(Posix("link")));
    EXPECT_EQ(ReadBytes(Posix("target")), "keep");
}

// A failure at any step of replacing the content: the error names the step, the old file is as it was and
// nothing is left beside it.
TEST_F(VFileTest, AFailedSetContentLeavesTheOldFileAsItWas) {
    struct Case {
        const char* op;
        int error;
        int nth;
        VError expected;
    };
    const Case cases[] = {
        {"open", EACCES, 1, VE_ACCESS_DENIED}, // the old file refused
        {"open", ENOSPC, 2, VE_DISK_FULL},     // the new one cannot be made
        {"pwrite", ENOSPC, 1, VE_DISK_FULL},   // a full disk
        {"fchmod", EPERM, 1, VE_FILE_CANNOT_SET_ATTRIBUTES},
        {"fsync", EIO, 1, VE_FILE_CANNOT_FLUSH},
        {"rename", EXDEV, 1, VE_FILE_CANNOT_RENAME},
        {"flock", EWOULDBLOCK, 1, VE_ACCESS_DENIED}, // another opener holds the file
    };
    const std::string bytes(10000, 'n');
    for (const Case& c : cases) {
        WriteBytes(Posix("a"), "old content");
        ::chmod(Posix("a").c_str(), 0640);
        StErrorContextInstaller errors(false, true);
        {
            StPosixFault fault(c.op, c.error, c.nth);
            EXPECT_EQ(File("a")->SetContent(bytes.data(), bytes.size()), c.expected) << c.op;
        }
        EXPECT_EQ(Codes(errors).front(), PosixCode(c.error == EWOULDBLOCK ? EACCES : c.error)) << c.op;
        EXPECT_EQ(ReadBytes(Posix("a")), "old content") << c.op;
        EXPECT_EQ(std::filesystem::status(Posix("a")).permissions(), std::filesystem::perms(0640)) << c.op;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fRoot), {}), 1) << c.op;
    }
}

// The new content keeps the old file's mode whatever the umask, a link stays a link with its target
// replaced, and a file another opener holds locked is refused.
TEST_F(VFileTest, SetContentKeepsTheModeTheLinkAndTheLock) {
    WriteBytes(Posix("a"), "old");
    ::chmod(Posix("a").c_str(), 0666);
    const mode_t saved = ::umask(022);
    EXPECT_EQ(File("a")->SetContent("new", 3), VE_OK);
    ::umask(saved);
    EXPECT_EQ(ReadBytes(Posix("a")), "new");
    EXPECT_EQ(std::filesystem::status(Posix("a")).permissions(), std::filesystem::perms(0666));

    ASSERT_EQ(::symlink("a", Posix("link").c_str()), 0);
    EXPECT_EQ(File("link")->SetContent("through", 7), VE_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(Posix("link")));
    EXPECT_EQ(ReadBytes(Posix("a")), "through");

    const int held = ::open(Posix("a").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(File("a")->SetContent("refused", 7), VE_ACCESS_DENIED);
    ::close(held);
    EXPECT_EQ(ReadBytes(Posix("a")), "through");
}

// A disk that really fills up: content larger than the room left fails and the old file stays whole (a
// truncation first would have freed the room and then lost the old content).
TEST_F(VFileTest, SetContentOnARealFullDiskKeepsTheOldFile) {
    std::filesystem::create_directory(Posix("disk"));
    test::StSmallDisk disk(Posix("disk"), "64k");
    if (!disk.IsMounted()) {
        // CI runs as root on a machine that mounts: there the fault must be seen, not skipped.
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "cannot mount: " << std::strerror(disk.Error());
        GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(disk.Error());
    }
    const std::string old(20000, 'o');
    WriteBytes(Posix("disk/a"), old);
    const std::string bytes(100000, 'n');
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(File("disk/a")->SetContent(bytes.data(), bytes.size()), VE_DISK_FULL);
    EXPECT_EQ(ReadBytes(Posix("disk/a")), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Posix("disk")), {}), 1);
}

TEST_F(VFileTest, APermissionFailureIsAccessDeniedAboveTheNativeCode) {
    WriteBytes(Posix("a"), "x");
    StErrorContextInstaller errors(false, true);
    StPosixFault denied("open", EACCES);
    VFileDesc* desc = nullptr;
    EXPECT_EQ(File("a")->Open(FA_READ, &desc), VE_ACCESS_DENIED);
    EXPECT_EQ(desc, nullptr);
    EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EACCES), VE_ACCESS_DENIED}));
    const auto& pushed = errors.GetContext()->GetErrors();
    EXPECT_EQ(NumberParameter(*pushed[1], "access"), FA_READ);
    EXPECT_EQ(NumberParameter(*pushed[1], "options"), FO_FOLLOW_LINK);
}

TEST_F(VFileTest, IsWritableRaisesNothing) {
    WriteBytes(Posix("a"), "x");
    StErrorContextInstaller errors(false, true);
    EXPECT_TRUE(File("a")->IsWritable());
    {
        StPosixFault denied("open", EACCES);
        EXPECT_FALSE(File("a")->IsWritable());
    }
    EXPECT_TRUE(Codes(errors).empty());
}

TEST_F(VFileTest, AccessBeyondTheKnownValuesIsRefused) {
    WriteBytes(Posix("a"), "x");
    StErrorContextInstaller errors(false, true);
    VFileDesc* desc = nullptr;
    EXPECT_EQ(File("a")->Open(FileAccess(4), &desc), VE_FILE_CANNOT_OPEN);
    EXPECT_EQ(desc, nullptr);
    EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EINVAL), VE_FILE_CANNOT_OPEN}));
}

// The lock of a writer keeps other writers out with access denied, and it is taken before any truncation.
TEST_F(VFileTest, LocksKeepOtherWritersOut) {
    struct Case {
        FileAccess held;
        FileAccess asked;
        bool opens;
    };
    const Case cases[] = {
        {FA_READ_WRITE, FA_READ_WRITE, false}, {FA_READ_WRITE, FA_SHARED, false}, {FA_SHARED, FA_READ_WRITE, false},
        {FA_SHARED, FA_SHARED, true},          {FA_READ_WRITE, FA_READ, true},
    };
    WriteBytes(Posix("a"), "held content");
    auto file = File("a");
    for (const Case& c : cases) {
        VFileDesc* holder = nullptr;
        ASSERT_EQ(file->Open(c.held, &holder), VE_OK);
        const std::unique_ptr<VFileDesc> held(holder);
        StErrorContextInstaller errors(false, true);
        VFileDesc* second = nullptr;
        const VError result = file->Open(c.asked, &second, FO_FOLLOW_LINK | FO_OVERWRITE);
        delete second;
        if (c.opens) {
            EXPECT_EQ(result, VE_OK) << c.held << " " << c.asked;
            WriteBytes(Posix("a"), "held content");
        } else {
            EXPECT_EQ(result, VE_ACCESS_DENIED) << c.held << " " << c.asked;
            EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EACCES), VE_ACCESS_DENIED}));
            EXPECT_EQ(ReadBytes(Posix("a")), "held content");
        }
    }
    // FA_MAX settles for reading when the lock is held.
    VFileDesc* holder = nullptr;
    ASSERT_EQ(file->Open(FA_READ_WRITE, &holder), VE_OK);
    const std::unique_ptr<VFileDesc> held(holder);
    VFileDesc* reader = nullptr;
    EXPECT_EQ(file->Open(FA_MAX, &reader), VE_OK);
    delete reader;
}

TEST_F(VFileTest, RenameNeverReplaces) {
    WriteBytes(Posix("a"), "a");
    WriteBytes(Posix("b"), "b");
    auto file = File("a");
    {
        StErrorContextInstaller errors(false, true);
        VFile* renamed = nullptr;
        EXPECT_EQ(file->Rename(Text("b"), &renamed), VE_FILE_CANNOT_RENAME);
        EXPECT_EQ(renamed, nullptr);
        EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EEXIST), VE_FILE_CANNOT_RENAME}));
        EXPECT_EQ(ReadBytes(Posix("b")), "b");
    }
    VFile* renamed = nullptr;
    EXPECT_EQ(file->Rename(Text("ç.txt"), &renamed), VE_OK);
    ASSERT_NE(renamed, nullptr);
    const auto owned = VRefPtr<VFile>::Adopt(renamed);
    EXPECT_TRUE(renamed->IsSameFile(File("ç.txt").Get()));
    EXPECT_EQ(ReadBytes(Posix("ç.txt")), "a");
    EXPECT_FALSE(Present(Posix("a")));
}

// An existing target is replaced only with FCP_OVERWRITE, in the same folder as in another.
TEST_F(VFileTest, MoveReplacesOnlyWhenAsked) {
    std::filesystem::create_directory(Posix("other"));
    for (const char* target : {"b", "other/b"}) {
        WriteBytes(Posix("a"), "source");
        WriteBytes(Posix(target), "target");
        auto file = File("a");
        const VFilePath destination(Text(Posix(target)), FPS_POSIX);
        {
            StErrorContextInstaller errors(false, true);
            EXPECT_EQ(file->Move(destination, nullptr), VE_FILE_CANNOT_MOVE) << target;
            EXPECT_EQ(Codes(errors), (std::vector<VError>{PosixCode(EEXIST), VE_FILE_CANNOT_MOVE}));
            EXPECT_EQ(ReadBytes(Posix(target)), "target");
            EXPECT_EQ(ReadBytes(Posix("a")), "source");
        }
        VFile* moved = nullptr;
        EXPECT_EQ(file->Move(destination, &moved, FCP_OVERWRITE), VE_OK) << target;
        const auto owned = VRefPtr<VFile>::Adopt(moved);
        EXPECT_EQ(ReadBytes(Posix(target)), "source");
        EXPECT_FALSE(Present(Posix("a")));
    }
    // Into a folder path: the file keeps its name.
    WriteBytes(Posix("c"), "c");
    EXPECT_EQ(File("c")->Move(VFilePath(Text(Posix("other/")), FPS_POSIX), nullptr), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("other/c")), "c");
}

TEST_F(VFileTest, CopyKeepsContentModeAndLinks) {
    WriteBytes(Posix("tool"), "#!/bin/sh\n");
    ::chmod(Posix("tool").c_str(), 0751);
    ::symlink("tool", Posix("link").c_str());
    VFile* copy = nullptr;
    EXPECT_EQ(File("tool")->CopyTo(VFilePath(Text(Posix("copy")), FPS_POSIX), &copy), VE_OK);
    const auto owned = VRefPtr<VFile>::Adopt(copy);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ReadBytes(Posix("copy")), "#!/bin/sh\n");
    struct stat st;
    ASSERT_EQ(::stat(Posix("copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(File("link")->CopyTo(*File("link2")), VE_OK);
    EXPECT_EQ(std::filesystem::read_symlink(Posix("link2")), "tool");
    // Nothing is left behind beside the copies.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fRoot))
        ++entries;
    EXPECT_EQ(entries, 4);
}

// A failed copy leaves the target as it was and nothing beside it; a missing source makes no target.
TEST_F(VFileTest, AFailedCopyLeavesNoPartialTarget) {
    WriteBytes(Posix("source"), std::string(100000, 's'));
    WriteBytes(Posix("target"), "target");
    {
        StErrorContextInstaller errors(false, true);
        StPosixFault full("copy_file_range", ENOSPC);
        XPosixFaults::Arm("write", ENOSPC);
        EXPECT_EQ(File("source")->CopyTo(*File("target"), FCP_OVERWRITE), VE_DISK_FULL);
    }
    EXPECT_EQ(ReadBytes(Posix("target")), "target");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(File("missing")->CopyTo(*File("made")), VE_FILE_NOT_FOUND);
        EXPECT_EQ(File("source")->CopyTo(*File("target")), VE_FILE_CANNOT_COPY);
    }
    EXPECT_FALSE(Present(Posix("made")));
    EXPECT_EQ(ReadBytes(Posix("target")), "target");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fRoot))
        ++entries;
    EXPECT_EQ(entries, 2);
}

// The temporary file of a copy lives beside the target: the longest names must still fit.
TEST_F(VFileTest, CopiesTakeTheLongestNames) {
    const std::string name(255, 'n');
    std::filesystem::create_directory(Posix("into"));
    WriteBytes(Posix(name), "long");
    EXPECT_EQ(File(name)->CopyTo(*File("into/" + name)), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("into/" + name)), "long");
}

TEST_F(VFileTest, CopyToAnInvalidPathNamesTheDestination) {
    WriteBytes(Posix("a"), "a");
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(File("a")->CopyTo(VFilePath{}, nullptr, FCP_OVERWRITE), VE_FILE_CANNOT_COPY);
    const auto& pushed = errors.GetContext()->GetErrors();
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_TRUE(HasParameter(*pushed[0], "destination"));
    EXPECT_EQ(NumberParameter(*pushed[0], "options"), FCP_OVERWRITE);
}

TEST_F(VFileTest, PermissionsAndTimes) {
    WriteBytes(Posix("a"), "a");
    auto file = File("a");
    for (uint16 mode : {0751, 0600, 0644}) {
        EXPECT_EQ(file->MAC_SetPermissions(mode), VE_OK);
        uint16 read = 0;
        EXPECT_EQ(file->MAC_GetPermissions(&read), VE_OK);
        EXPECT_EQ(read, mode);
    }
    EXPECT_FALSE(file->MAC_IsWritableByAll());
    EXPECT_EQ(file->MAC_MakeWritableByAll(), VE_OK);
    EXPECT_TRUE(file->MAC_IsWritableByAll());

    VTime when;
    when.FromUTCTime(2021, 3, 4, 5, 6, 7, 890);
    EXPECT_EQ(file->SetTimeAttributes(&when, nullptr, &when), VE_OK);
    VTime modified, accessed;
    EXPECT_EQ(file->GetTimeAttributes(&modified, nullptr, &accessed), VE_OK);
    EXPECT_EQ(modified.GetMilliseconds(), when.GetMilliseconds());
    EXPECT_EQ(accessed.GetMilliseconds(), when.GetMilliseconds());

    uint32 attributes = 0;
    EXPECT_EQ(File(".dot")->GetFileAttributes(attributes), VE_FILE_NOT_FOUND);
    WriteBytes(Posix(".dot"), "");
    EXPECT_EQ(File(".dot")->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes & FATT_HIDDEN, uint32(FATT_HIDDEN));
}

// Linux keeps no mode on a link: changing one is refused, never passed on to the target.
TEST_F(VFileTest, ModesOfALinkAreLeftAlone) {
    WriteBytes(Posix("target"), "t");
    ::chmod(Posix("target").c_str(), 0600);
    ::symlink("target", Posix("link").c_str());
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(File("link")->MAC_SetPermissions(0777), VE_FILE_CANNOT_SET_ATTRIBUTES);
    EXPECT_EQ(File("link")->MAC_MakeWritableByAll(), VE_FILE_CANNOT_SET_ATTRIBUTES);
    EXPECT_EQ(XPosixFile::UnlockPath(Posix("link").c_str(), false), VE_OK);
    struct stat st;
    ASSERT_EQ(::stat(Posix("target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(VFileTest, LinksAndTheirResolution) {
    std::filesystem::create_directories(Posix("a/b"));
    WriteBytes(Posix("a/b/target"), "t");
    auto link = File("a/c/link");
    std::filesystem::create_directories(Posix("a/c"));
    EXPECT_EQ(link->MAC_CreateSymbolicLink(File("a/b/target")->GetPath(), false), VE_OK);
    EXPECT_EQ(std::filesystem::read_symlink(Posix("a/c/link")), "../b/target");

    VFile* resolved = link.Get();
    resolved->Retain();
    EXPECT_EQ(VFile::ResolveAliasFile(&resolved, false), VE_OK);
    const auto owned = VRefPtr<VFile>::Adopt(resolved);
    EXPECT_TRUE(resolved->IsSameFile(File("a/b/target").Get()));

    ::symlink("nowhere", Posix("broken").c_str());
    VRefPtr<VFile> broken = File("broken");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VFile::ResolveAliasFile(broken, false), VE_FILE_NOT_FOUND);
        EXPECT_TRUE(Present(Posix("broken")));
    }
    EXPECT_EQ(VFile::ResolveAliasFile(broken, true), VE_OK);
    EXPECT_FALSE(Present(Posix("broken")));
}

int OpenDescriptorCount() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (::readdir(dir) != nullptr)
        ++count;
    ::closedir(dir);
    return count;
}

TEST_F(VFileTest, VolumeSpaceClosesWhatItOpensAndCachesOnRequest) {
    WriteBytes(Posix("a"), "a");
    auto file = File("a");
    const int before = OpenDescriptorCount();
    int64 free = 0, total = 0;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(file->GetVolumeFreeSpace(&free, &total, true, 0), VE_OK);
    EXPECT_EQ(OpenDescriptorCount(), before);
    EXPECT_GT(total, 0);
    EXPECT_LE(free, total);

    // A fresh cache answers without the platform; a query without age never uses it.
    EXPECT_EQ(file->GetVolumeFreeSpace(&free, &total, true, 60000), VE_OK);
    StPosixFault broken("fstatfs", EIO, 1, 100);
    int64 cachedFree = -1;
    EXPECT_EQ(file->GetVolumeFreeSpace(&cachedFree, nullptr, true, 60000), VE_OK);
    EXPECT_EQ(cachedFree, free);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(file->GetVolumeFreeSpace(&cachedFree, nullptr, false, 60000), VE_FILE_CANNOT_GET_ATTRIBUTES);
    EXPECT_EQ(cachedFree, 0);
    EXPECT_EQ(file->GetVolumeFreeSpace(&cachedFree, nullptr, true, 0), VE_FILE_CANNOT_GET_ATTRIBUTES);
}

TEST_F(VFileTest, UrlOfAFile) {
    VString url;
    EXPECT_EQ(File("a b.txt")->GetURL(url, true), VE_OK);
    EXPECT_EQ(to_string(url), "file://" + fRoot + "/a%20b.txt");
}

TEST_F(VFileTest, ContentWritesMakeTheMissingFolders) {
    auto file = File("made/on/demand/é.txt");
    EXPECT_EQ(file->SetContent("x", 1), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("made/on/demand/é.txt")), "x");
    EXPECT_EQ(File("also/made.txt")->AppendContent("y", 1), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("also/made.txt")), "y");
}

TEST_F(VFileTest, FilesAmongFolders) {
    WriteBytes(Posix("a"), "a");
    std::filesystem::create_directory(Posix("into"));
    auto file = File("a");
    const auto parent = VRefPtr<VFolder>::Adopt(file->RetainParentFolder(false));
    ASSERT_TRUE(parent);
    VString parentPosix;
    parent->GetPlatformPath(parentPosix, FPS_POSIX);
    EXPECT_EQ(to_string(parentPosix), fRoot + "/");
    EXPECT_TRUE(VFile(*parent, Text("a"), FPS_POSIX).IsSameFile(file.Get()));

    const VFolder into(VFilePath(Text(Posix("into/")), FPS_POSIX));
    VFile* copy = nullptr;
    EXPECT_EQ(file->CopyTo(into, &copy), VE_OK);
    const auto ownedCopy = VRefPtr<VFile>::Adopt(copy);
    EXPECT_EQ(ReadBytes(Posix("into/a")), "a");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(file->Move(into, nullptr), VE_FILE_CANNOT_MOVE);
    }
    EXPECT_EQ(file->Move(into, nullptr, FCP_OVERWRITE), VE_OK);
    EXPECT_FALSE(Present(Posix("a")));

    VString url;
    EXPECT_EQ(File("into/a")->GetRelativeURL(parent.Get(), url, false), VE_OK);
    EXPECT_EQ(to_string(url), "into/a");
}

TEST_F(VFileTest, TemporaryFilesAreNewAndEmpty) {
    const auto first = VRefPtr<VFile>::Adopt(VFile::CreateTemporaryFile());
    const auto second = VRefPtr<VFile>::Adopt(VFile::CreateTemporaryFile());
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(first->IsSameFile(second.Get()));
    VString name;
    first->GetName(name);
    EXPECT_TRUE(name.BeginsWithRawString(Text("vel_")));
    int64 size = -1;
    EXPECT_EQ(first->GetSize(&size), VE_OK);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(first->Delete(), VE_OK);
    EXPECT_EQ(second->Delete(), VE_OK);
}

// The desktop's Trash gets the file with its info record; nothing there is no failure.
TEST_F(VFileTest, MoveToTrashPutsTheFileInTheDesktopsTrash) {
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("XDG_DATA_HOME", Posix("data").c_str(), 1);
    WriteBytes(Posix("old é.txt"), "old");
    EXPECT_EQ(File("old é.txt")->MoveToTrash(), VE_OK);
    EXPECT_FALSE(Present(Posix("old é.txt")));
    EXPECT_EQ(ReadBytes(Posix("data/Trash/files/old é.txt")), "old");
    EXPECT_TRUE(Present(Posix("data/Trash/info/old é.txt.trashinfo")));
    EXPECT_EQ(File("missing")->MoveToTrash(), VE_OK);
    if (previous != nullptr) {
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

// A path longer than the dump's buffer is cut to it, never read past it.
TEST_F(VFileTest, DebugDumpsOfLongPathsStayInTheirBuffer) {
    const std::string name = std::string(1500, 'n') + "/";
    const VFilePath path(Text(Posix(name)), FPS_POSIX);
    VFolder folder(path);
    const VFile file(VFilePath(Text(Posix(name + "leaf")), FPS_POSIX));
    VError error = VE_OK;
    VRefPtr<VFileSystem> fileSystem =
        VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(VString("long"), &folder, 0, 0, 0, &error));
    ASSERT_NE(fileSystem.Get(), nullptr);
    const struct {
        const VObject* object;
        const char* prefix;
    } cases[] = {{&file, "VFile "}, {&folder, "VFolder "}, {fileSystem.Get(), "VFileSystem long at "}};
    for (const auto& c : cases) {
        VString dump;
        c.object->DebugDump(dump);
        EXPECT_GT(dump.GetLength(), 1000) << c.prefix;
        EXPECT_LT(dump.GetLength(), 1024) << c.prefix;
        const std::string text = to_string(dump);
        EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << text;
        EXPECT_EQ(text.back(), 'n') << c.prefix;
    }
}

} // namespace
} // namespace vela
