#include "system/VMainRunLoop.h"

#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "support/TaskTestSupport.h"
#include "system/platform/XPosixAlertPresenters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vela {
namespace {

using test::WaitUntil;

// Executes the main task's messages, with idle processing, until condition holds (bounded).
template <class Condition> bool RunMainUntil(Condition condition) {
    return WaitUntil([&] {
        VTask::GetCurrent()->ExecuteMessages(true);
        return condition();
    });
}

class VMainRunLoopTest : public test::TaskTest {};

TEST_F(VMainRunLoopTest, WorkFromAnotherThreadRunsOnTheMainTask) {
    std::atomic<bool> ran{false}, onMain{false};
    std::thread poster([&] {
        EXPECT_TRUE(VMainRunLoop::Perform([&] {
            onMain = VTask::IsCurrentMain();
            ran = true;
        }));
    });
    poster.join();
    ASSERT_TRUE(RunMainUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain);
}

TEST_F(VMainRunLoopTest, TimerTicksUntilItAnswersFalse) {
    int ticks = 0;
    bool onMain = true;
    ASSERT_TRUE(VMainRunLoop::AddTimer(10, [&] {
        onMain = onMain && VTask::IsCurrentMain();
        return ++ticks < 3;
    }));
    ASSERT_TRUE(RunMainUntil([&] { return ticks == 3; }));
    EXPECT_TRUE(onMain);
}

TEST(VMainRunLoop, NothingRunsWithoutAMainTask) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    EXPECT_FALSE(VMainRunLoop::Perform([] {}));
    EXPECT_FALSE(VMainRunLoop::AddTimer(10, [] { return false; }));
}

TEST_F(VMainRunLoopTest, EndedDialogsAreReapedOnTheMainTask) {
    char folder[] = "/tmp/vela-runloop-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string program = std::string(folder) + "/dialog";
    std::ofstream(program) << "#!/bin/sh\nexit 0\n";
    ASSERT_EQ(chmod(program.c_str(), 0700), 0);
    auto presenter = VRefPtr<XPosixDesktopAlertPresenter>::Adopt(
        new XPosixDesktopAlertPresenter(program, XPosixDesktopAlertPresenter::eZenity));
    VAlert alert;
    alert.message = "Done";
    ENotificationResponse response = eNotificationResponse_Yes;
    ASSERT_TRUE(presenter->Present(alert, response));
    EXPECT_EQ(response, eNotificationResponse_None);
    EXPECT_EQ(presenter->GetPendingCount(), 1);
    EXPECT_TRUE(RunMainUntil([&] { return presenter->GetPendingCount() == 0; }));
    unlink(program.c_str());
    rmdir(folder);
}

} // namespace
} // namespace vela
