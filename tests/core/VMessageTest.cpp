#include "core/VMessage.h"
#include "core/IMessageable.h"
#include "core/VMessageQueue.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::KillAndWait;
using test::kWaitBoundMs;
using test::StartMessageLoop;
using test::StartTask;
using VMessageTest = test::TaskTest;
using test::WaitUntil;

// A receiver that counts its messages and the tasks they ran on.
class Receiver : public IMessageable {
public:
    std::atomic<int> fMessages{0};
    std::atomic<VTask*> fLastTask{nullptr};

    void DoMessage(VMessage&) override {
        fLastTask = VTask::GetCurrent();
        ++fMessages;
    }
};

// Makes a receiver on task (its messages then run there) and answers it.
std::unique_ptr<Receiver> MakeReceiverOn(VTask* task) {
    auto receiver = std::make_unique<Receiver>();
    receiver->SetMessagingTask(task->GetID());
    return receiver;
}

VRefPtr<VMessage> NewMessage() {
    return VRefPtr<VMessage>::Adopt(new VMessage);
}

TEST_F(VMessageTest, SendingToTheCallingTaskRunsAtOnce) {
    Receiver receiver; // made on the main task
    auto message = NewMessage();
    EXPECT_TRUE(message->SendTo(&receiver, 0));
    EXPECT_EQ(receiver.fMessages.load(), 1);
    EXPECT_TRUE(message->Answered());
    EXPECT_FALSE(message->IsInFlight());
    EXPECT_FALSE(VTask::GetCurrent()->IsAnyMessagePending());
}

TEST_F(VMessageTest, SendingToAnotherTaskRunsThereAndWaits) {
    VRefPtr<VTask> worker = StartMessageLoop();
    auto receiver = MakeReceiverOn(worker.Get());
    for (int i = 0; i < 50; ++i) {
        auto message = NewMessage();
        ASSERT_TRUE(message->SendTo(receiver.get()));
        EXPECT_TRUE(message->Answered());
    }
    EXPECT_EQ(receiver->fMessages.load(), 50);
    EXPECT_EQ(receiver->fLastTask.load(), worker.Get());
    auto timed = NewMessage();
    EXPECT_TRUE(timed->SendTo(receiver.get(), kWaitBoundMs));
    EXPECT_TRUE(KillAndWait(worker.Get()));
}

TEST_F(VMessageTest, ASendThatTimesOutBeforeRunningIsAborted) {
    std::atomic<bool> release{false};
    // This task does not execute messages until released.
    VRefPtr<VTask> busy = StartTask([&] {
        WaitUntil([&] { return release.load(); });
        VTask::GetCurrent()->ExecuteMessages(false);
    });
    auto receiver = MakeReceiverOn(busy.Get());
    auto message = NewMessage();
    EXPECT_FALSE(message->SendTo(receiver.get(), 1));
    EXPECT_TRUE(message->Aborted());
    EXPECT_FALSE(message->Answered());
    EXPECT_FALSE(message->IsInFlight());
    release = true;
    ASSERT_TRUE(busy->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(receiver->fMessages.load(), 0); // it stayed queued and ran as a no-op
}

TEST_F(VMessageTest, PostingAMessageInFlightQueuesNothing) {
    Receiver receiver;
    VTask* main = VTask::GetCurrent();
    auto message = NewMessage();
    EXPECT_TRUE(message->PostTo(&receiver));
    EXPECT_TRUE(message->PostTo(&receiver));
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(main->RetainMessageQueue());
    EXPECT_EQ(queue->CountMessages(), 1);
    EXPECT_TRUE(main->ExecuteMessages(false));
    EXPECT_EQ(receiver.fMessages.load(), 1);
    EXPECT_TRUE(message->PostTo(&receiver, true)); // run now on the same task
    EXPECT_EQ(receiver.fMessages.load(), 2);
    EXPECT_EQ(queue->CountMessages(), 0);
}

TEST_F(VMessageTest, CoalescedMessagesLeaveOneQueued) {
    class Coalescing : public VMessage {
    public:
        std::atomic<int> fAbsorbed{0};
        uint32 GetCoalescingSignature() const override { return 7; }
        bool DoCoalesce(const VMessage&) override {
            ++fAbsorbed;
            return false;
        }
    };
    Receiver receiver;
    auto first = VRefPtr<Coalescing>::Adopt(new Coalescing);
    auto second = VRefPtr<Coalescing>::Adopt(new Coalescing);
    EXPECT_TRUE(first->PostTo(&receiver));
    EXPECT_FALSE(second->PostTo(&receiver));
    EXPECT_FALSE(second->IsInFlight()); // may be posted again later
    EXPECT_EQ(first->fAbsorbed.load(), 1);
    VRefPtr<VMessageQueue> queue = VRefPtr<VMessageQueue>::Adopt(VTask::GetCurrent()->RetainMessageQueue());
    EXPECT_EQ(queue->CountMessages(), 1);
    VTask::GetCurrent()->ExecuteMessages(false);
    EXPECT_EQ(receiver.fMessages.load(), 1);
}

TEST_F(VMessageTest, SetMessageQueueEventEndsAWaitWithoutMessage) {
    std::atomic<bool> returned{false};
    std::atomic<bool> timedOut{true};
    VRefPtr<VTask> task = StartTask([&] {
        bool out = true;
        VTask::GetCurrent()->WaitAndExecuteMessages(kWaitBoundMs * 10, &out);
        timedOut = out;
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return task->GetWaitReason() == eTaskWaitMessages; }));
    task->SetMessageQueueEvent();
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(timedOut.load());
    bool out = false;
    EXPECT_TRUE(VTask::GetCurrent()->WaitAndExecuteMessages(0, &out)); // no time: timed out at once
    EXPECT_TRUE(out);
}

TEST_F(VMessageTest, StoppedOrDestroyedReceiversTakeNoMessages) {
    VRefPtr<VTask> worker = StartMessageLoop();
    auto receiver = MakeReceiverOn(worker.Get());
    receiver->StopMessaging();
    EXPECT_FALSE(NewMessage()->PostTo(receiver.get()));
    EXPECT_FALSE(NewMessage()->SendTo(receiver.get(), kWaitBoundMs));
    receiver->StartMessaging();
    EXPECT_TRUE(NewMessage()->SendTo(receiver.get(), kWaitBoundMs));
    EXPECT_FALSE(NewMessage()->SendTo(nullptr, 0));

    // Messages still queued for a destroyed receiver execute as no-ops.
    Receiver local;
    auto queued = NewMessage();
    ASSERT_TRUE(queued->PostTo(&local));
    {
        Receiver doomed;
        ASSERT_TRUE(NewMessage()->PostTo(&doomed));
    }
    EXPECT_TRUE(VTask::GetCurrent()->ExecuteMessages(false));
    EXPECT_EQ(local.fMessages.load(), 1);
    EXPECT_TRUE(KillAndWait(worker.Get()));
}

std::atomic<bool> sExited{false};
std::atomic<bool> sRelease{false};

// A data destructor runs when the task has left its run and closed its queue, but is not dead yet.
void LingerAtExit(void*) {
    sExited = true;
    WaitUntil([] { return sRelease.load(); });
}

TEST_F(VMessageTest, MessagesToAnExitingTaskFailInsteadOfHanging) {
    sExited = false;
    sRelease = false;
    int32 key = VTaskMgr::Get()->CreateDataKey(&LingerAtExit);
    std::atomic<bool> started{false};
    VRefPtr<VTask> task = StartTask([&] {
        VTask::SetCurrentData(key, &started);
        started = true;
    });
    auto receiver = MakeReceiverOn(task.Get());
    ASSERT_TRUE(WaitUntil([] { return sExited.load(); }));
    EXPECT_EQ(task->GetState(), eTaskStateDying);
    auto message = NewMessage();
    EXPECT_FALSE(message->SendTo(receiver.get())); // no time-out: it must not wait forever
    EXPECT_FALSE(message->IsInFlight());
    EXPECT_FALSE(NewMessage()->PostTo(receiver.get()));
    sRelease = true;
    EXPECT_TRUE(task->WaitForDeath(kWaitBoundMs));
    VTaskMgr::Get()->DeleteDataKey(key);
}

TEST_F(VMessageTest, ARefusedRepostLeavesTheMessageOutOfFlight) {
    VRefPtr<VTask> worker = StartMessageLoop();
    auto receiver = MakeReceiverOn(worker.Get());
    auto message = NewMessage();
    ASSERT_TRUE(message->PostTo(receiver.get(), false, 40000000));
    ASSERT_TRUE(message->IsInFlight());
    ASSERT_TRUE(KillAndWait(worker.Get()));
    message->RePost(); // the receiver's task is gone
    EXPECT_FALSE(message->IsInFlight());
    EXPECT_FALSE(message->PostTo(receiver.get())); // a real answer, not "in flight already"
    VTaskMgr::Get()->CancelMessages(receiver.get());
}

TEST_F(VMessageTest, PostAndWaitKeepsExecutingTheCallersMessages) {
    VRefPtr<VTask> worker = StartMessageLoop();
    VTask* main = VTask::GetCurrent();
    std::atomic<bool> calledBack{false};
    // The worker asks the main task for something while the main task waits for the worker.
    bool ran = VFunctionMessage::PostToAndWait(
        worker.Get(), [&] { VFunctionMessage::PostToAndWait(main, [&] { calledBack = VTask::IsCurrentMain(); }); });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(calledBack.load());
    EXPECT_TRUE(KillAndWait(worker.Get()));
}

TEST_F(VMessageTest, FunctionsReachTheMainTask) {
    std::atomic<bool> ranNow{false};
    EXPECT_TRUE(VFunctionMessage::PostToMainTask([&] { ranNow = true; }, true));
    EXPECT_TRUE(ranNow.load());
    std::atomic<bool> onMain{false};
    std::atomic<bool> done{false};
    VRefPtr<VTask> worker = StartTask([&] {
        VFunctionMessage::PostToMainTaskAndWait([&] { onMain = VTask::IsCurrentMain(); });
        done = true;
    });
    VTask* main = VTask::GetCurrent();
    ASSERT_TRUE(WaitUntil([&] {
        main->ExecuteMessagesWithTimeout(10, false);
        return done.load();
    }));
    EXPECT_TRUE(onMain.load());
    // A foreign thread has no queue of its own: it waits while the main task runs the function.
    std::atomic<bool> foreignDone{false};
    std::thread foreign([&] { foreignDone = VFunctionMessage::PostToMainTaskAndWait([] {}); });
    ASSERT_TRUE(WaitUntil([&] {
        main->ExecuteMessagesWithTimeout(10, false);
        return foreignDone.load();
    }));
    foreign.join();
}

TEST_F(VMessageTest, CancelledMessagesAreAborted) {
    Receiver kept;
    Receiver cancelled;
    auto keep = NewMessage();
    auto drop = NewMessage();
    ASSERT_TRUE(keep->PostTo(&kept));
    ASSERT_TRUE(drop->PostTo(&cancelled));
    VTask::GetCurrent()->CancelMessages(&cancelled);
    EXPECT_TRUE(drop->Aborted());
    EXPECT_FALSE(drop->IsInFlight());
    EXPECT_TRUE(VTask::GetCurrent()->ExecuteMessages(false));
    EXPECT_EQ(kept.fMessages.load(), 1);
    EXPECT_EQ(cancelled.fMessages.load(), 0);
}

TEST_F(VMessageTest, ManySendersShareOneReceiver) {
    VRefPtr<VTask> worker = StartMessageLoop();
    auto receiver = MakeReceiverOn(worker.Get());
    std::vector<VRefPtr<VTask>> senders;
    for (int s = 0; s < 4; ++s) {
        senders.push_back(StartTask([&] {
            for (int i = 0; i < 100; ++i)
                EXPECT_TRUE(NewMessage()->SendTo(receiver.get(), kWaitBoundMs));
        }));
    }
    for (VRefPtr<VTask>& sender : senders)
        ASSERT_TRUE(sender->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(receiver->fMessages.load(), 400);
    EXPECT_TRUE(KillAndWait(worker.Get()));
}

TEST(VMessageQueue, AClosedQueueRefusesAndAbortsItsMessages) {
    auto queue = VRefPtr<VMessageQueue>::Adopt(new VMessageQueue);
    auto message = NewMessage();
    EXPECT_TRUE(queue->AddMessage(message.Get()));
    EXPECT_EQ(queue->CountMessages(), 1);
    queue->Close();
    EXPECT_TRUE(queue->IsClosed());
    EXPECT_TRUE(queue->IsEmpty());
    EXPECT_FALSE(queue->AddMessage(message.Get()));
    bool timedOut = false;
    EXPECT_EQ(queue->RetainMessageWithTimeout(0, &timedOut), nullptr);
    EXPECT_TRUE(timedOut);
}

TEST(VMessageQueue, SetEventInterruptsTheNextWait) {
    auto queue = VRefPtr<VMessageQueue>::Adopt(new VMessageQueue);
    int32 stamp = queue->GetStamp();
    queue->SetEvent();
    EXPECT_NE(queue->GetStamp(), stamp);
    bool timedOut = true;
    EXPECT_EQ(queue->RetainMessageWithTimeout(kWaitBoundMs, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);
    auto message = NewMessage();
    queue->AddMessage(message.Get());
    VMessage* taken = queue->RetainMessageWithTimeout(kWaitBoundMs, &timedOut);
    EXPECT_EQ(taken, message.Get());
    EXPECT_FALSE(timedOut);
    if (taken != nullptr) taken->Release();
    EXPECT_FALSE(queue->RemoveMessage(message.Get()));
}

} // namespace
} // namespace vela
