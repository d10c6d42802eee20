#include "system/VFileSystemNotifier.h"

#include "core/StStringConverter.h"
#include "core/VTask.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "support/TaskTestSupport.h"
#include "system/platform/XPosixFileSystemNotification.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace vela;
using vela::test::TaskTest;
using vela::test::WaitUntil;

namespace {

using Kind = VFileSystemNotifier::EventKind;
constexpr Kind kAll = VFileSystemNotifier::eModified | VFileSystemNotifier::eCreated | VFileSystemNotifier::eDeleted;

struct Batch {
    Kind kind;
    std::vector<std::string> paths;
    bool operator==(const Batch& other) const { return kind == other.kind && paths == other.paths; }
};

class RecordingHandler : public VFileSystemNotifier::IEventHandler {
public:
    void HandleFileSystemChanges(const std::vector<VFilePath>& paths, Kind kind) override {
        Batch batch{kind, {}};
        for (const VFilePath& path : paths)
            batch.paths.push_back(to_string(path.GetPath(FPS_POSIX)));
        fBatches.push_back(std::move(batch));
    }
    std::vector<Batch> fBatches;
};

void WriteFile(const std::string& path, const char* text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, text, std::strlen(text)), ssize_t(std::strlen(text)));
    ::close(fd);
}

// Writes the file elsewhere and moves it in whole, so no write can follow its creation as a change of its own.
void CreateFile(const std::string& path, const char* text) {
    char pattern[] = "/tmp/vela-fsstage-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string staging = std::string(pattern) + "/file";
    WriteFile(staging, text);
    ASSERT_EQ(::rename(staging.c_str(), path.c_str()), 0) << path;
    ASSERT_EQ(::rmdir(pattern), 0);
}

// Sets the modification time to an explicit value, so the change never depends on clock granularity.
void SetModified(const std::string& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

class VFileSystemNotifierTest : public TaskTest {
protected:
    void SetUp() override {
        TaskTest::SetUp();
        char pattern[] = "/tmp/vela-fsnotify-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = std::string(pattern) + "/";
    }
    void TearDown() override {
        fNotifier.reset();
        std::string command = "rm -rf '" + fRoot + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    VFolder Folder(const std::string& posix) const { return VFolder(VString(posix.c_str()), FPS_POSIX); }

    VError Watch(RecordingHandler& handler, Kind kinds, const std::string& folder = {}) {
        return fNotifier->StartWatchingForChanges(Folder(folder.empty() ? fRoot : folder), kinds, &handler, 0);
    }

    // Executes the main task's messages until handler heard count batches (bounded).
    static bool WaitForBatches(const RecordingHandler& handler, size_t count) {
        VTask* main = VTask::GetCurrent();
        return WaitUntil([&] {
            main->ExecuteMessagesWithTimeout(10, false);
            return handler.fBatches.size() >= count;
        });
    }

    // Changes delivered after a marker file, created last, prove that earlier changes were not reported.
    void ExpectOnlyMarkerAfter(RecordingHandler& handler, size_t before) {
        CreateFile(fRoot + "marker", "m");
        ASSERT_TRUE(WaitForBatches(handler, before + 1));
        EXPECT_EQ(handler.fBatches.back(), (Batch{VFileSystemNotifier::eCreated, {fRoot + "marker"}}));
        EXPECT_EQ(handler.fBatches.size(), before + 1);
    }

    std::string fRoot;
    std::unique_ptr<VFileSystemNotifier> fNotifier = std::make_unique<VFileSystemNotifier>();
};

TEST_F(VFileSystemNotifierTest, ReportsEachKindOfChange) {
    ::mkdir((fRoot + "sub").c_str(), 0755);
    WriteFile(fRoot + "old", "o");
    SetModified(fRoot + "old", 1000);
    RecordingHandler handler;
    ASSERT_EQ(Watch(handler, kAll), VE_OK);

    CreateFile(fRoot + "new", "n");
    ASSERT_TRUE(WaitForBatches(handler, 1));
    EXPECT_EQ(handler.fBatches[0], (Batch{VFileSystemNotifier::eCreated, {fRoot + "new"}}));

    SetModified(fRoot + "old", 2000);
    ASSERT_TRUE(WaitForBatches(handler, 2));
    EXPECT_EQ(handler.fBatches[1], (Batch{VFileSystemNotifier::eModified, {fRoot + "old"}}));

    CreateFile(fRoot + "sub/inner", "i");
    ASSERT_TRUE(WaitForBatches(handler, 3));
    EXPECT_EQ(handler.fBatches[2], (Batch{VFileSystemNotifier::eCreated, {fRoot + "sub/inner"}}));

    ASSERT_EQ(::unlink((fRoot + "sub/inner").c_str()), 0);
    ASSERT_TRUE(WaitForBatches(handler, 4));
    // The folder's last item: its empty listing is still compared.
    EXPECT_EQ(handler.fBatches[3], (Batch{VFileSystemNotifier::eDeleted, {fRoot + "sub/inner"}}));

    ASSERT_EQ(::rmdir((fRoot + "sub").c_str()), 0);
    ASSERT_TRUE(WaitForBatches(handler, 5));
    EXPECT_EQ(handler.fBatches[4], (Batch{VFileSystemNotifier::eDeleted, {fRoot + "sub/"}}));
}

TEST_F(VFileSystemNotifierTest, ReportsOnlyTheKindsAsked) {
    WriteFile(fRoot + "gone", "g");
    RecordingHandler handler;
    ASSERT_EQ(Watch(handler, VFileSystemNotifier::eCreated), VE_OK);
    ASSERT_EQ(::unlink((fRoot + "gone").c_str()), 0);
    ExpectOnlyMarkerAfter(handler, 0);
}

TEST_F(VFileSystemNotifierTest, IgnoresFolderTimesAndHiddenFinderFiles) {
    ::mkdir((fRoot + "sub").c_str(), 0755);
    RecordingHandler handler;
    ASSERT_EQ(Watch(handler, kAll), VE_OK);
    SetModified(fRoot + "sub", 1234);
    WriteFile(fRoot + ".DS_Store", "d");
    ExpectOnlyMarkerAfter(handler, 0);
}

TEST_F(VFileSystemNotifierTest, KeepsOneWatchPerFolderAndHandler) {
    RecordingHandler first;
    RecordingHandler second;
    ASSERT_EQ(Watch(first, kAll), VE_OK);
    EXPECT_EQ(Watch(first, kAll), VE_FOLDER_CANNOT_WATCH);
    ASSERT_EQ(Watch(second, kAll), VE_OK);

    CreateFile(fRoot + "both", "b");
    ASSERT_TRUE(WaitForBatches(first, 1));
    ASSERT_TRUE(WaitForBatches(second, 1));
    EXPECT_EQ(first.fBatches[0], second.fBatches[0]);

    EXPECT_EQ(fNotifier->StopWatchingForChanges(Folder(fRoot), &first), VE_OK);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(Folder(fRoot), &first), VE_FOLDER_NOT_FOUND);
    CreateFile(fRoot + "later", "l");
    ASSERT_TRUE(WaitForBatches(second, 2));
    EXPECT_EQ(first.fBatches.size(), 1u);
    // Stopped, the folder can be watched again by the same handler.
    EXPECT_EQ(Watch(first, kAll), VE_OK);
}

TEST_F(VFileSystemNotifierTest, AFailedWatchReportsItsErrorAndIsNotKept) {
    RecordingHandler handler;
    std::string missing = fRoot + "missing/";
    VError error = Watch(handler, kAll, missing);
    EXPECT_EQ(error, MakeVError(kComponentPosix, ENOENT));
    EXPECT_EQ(fNotifier->StopWatchingForChanges(Folder(missing), &handler), VE_FOLDER_NOT_FOUND);
    ASSERT_EQ(::mkdir(missing.c_str(), 0755), 0);
    EXPECT_EQ(Watch(handler, kAll, missing), VE_OK);
}

TEST_F(VFileSystemNotifierTest, AHandlerMayStopItsOwnWatch) {
    struct Stopping : RecordingHandler {
        void HandleFileSystemChanges(const std::vector<VFilePath>& paths, Kind kind) override {
            RecordingHandler::HandleFileSystemChanges(paths, kind);
            stopped = notifier->StopWatchingForChanges(VFolder(VString(root.c_str()), FPS_POSIX), this);
        }
        VFileSystemNotifier* notifier = nullptr;
        std::string root;
        VError stopped = VE_UNKNOWN_ERROR;
    } handler;
    handler.notifier = fNotifier.get();
    handler.root = fRoot;
    ASSERT_EQ(Watch(handler, kAll), VE_OK);
    CreateFile(fRoot + "a", "a");
    ASSERT_TRUE(WaitForBatches(handler, 1));
    EXPECT_EQ(handler.stopped, VE_OK);
}

TEST_F(VFileSystemNotifierTest, AWatchStartedOutsideATaskIsRefused) {
    // Nothing would ever execute its deliveries: its changes would pile up for as long as it lives.
    RecordingHandler handler;
    VError error = VE_OK;
    std::thread([&] { error = Watch(handler, kAll); }).join();
    EXPECT_EQ(error, VE_FOLDER_CANNOT_WATCH);
    EXPECT_EQ(fNotifier->StopWatchingForChanges(Folder(fRoot), &handler), VE_FOLDER_NOT_FOUND);
}

TEST_F(VFileSystemNotifierTest, AChangeMessageOutlivingItsNotifierDeliversNothing) {
    RecordingHandler handler;
    auto* data = new VFileSystemNotifier::VChangeData(Folder(fRoot).GetPathRef(), kAll, &handler, VTask::GetCurrent());
    fNotifier->PushChangeData(data);
    fNotifier->AddChange(data, VFilePath(VString((fRoot + "late").c_str()), FPS_POSIX), VFileSystemNotifier::eCreated);
    fNotifier->SignalChange(data);
    data->Release();
    // The message is still queued on this task when its notifier goes.
    fNotifier.reset();
    VTask::GetCurrent()->ExecuteMessagesWithTimeout(10, false);
    EXPECT_TRUE(handler.fBatches.empty());
}

TEST(XPosixFileSystemNotificationTest, ListsAnEmptyFolderButNotAMissingOne) {
    char pattern[] = "/tmp/vela-fslist-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string folder = std::string(pattern) + "/";
    XPosixFileSystemNotification::Listing listing{{"stale", {}}};
    EXPECT_TRUE(XPosixFileSystemNotification::ListFolder(folder, listing));
    EXPECT_TRUE(listing.empty());
    ASSERT_EQ(::rmdir(pattern), 0);
    EXPECT_FALSE(XPosixFileSystemNotification::ListFolder(folder, listing));
}

} // namespace
