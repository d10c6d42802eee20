#include "core/VTask.h"
#include "core/IIdleable.h"
#include "core/ITaskProcess.h"
#include "core/VMessage.h"
#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixStack.h"
#include "core/platform/XPosixTaskMgr.h"
#include "intl/VIntlMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

using test::kWaitBoundMs;
using test::StartMessageLoop;
using test::StartTask;
using VTaskTest = test::TaskTest;
using test::WaitUntil;

TEST(VTaskMgr, BeforeInitNothingIsATask) {
    ASSERT_FALSE(VTaskMgr::IsInited());
    EXPECT_EQ(VTask::GetCurrent(), nullptr);
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), 0);
    EXPECT_EQ(VTask::GetCurrentData(1), nullptr);
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] {}));
    EXPECT_FALSE(task->Run()); // no thread without the manager
}

TEST(VTaskMgr, InitMakesTheCallingThreadTheMainTask) {
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    EXPECT_FALSE(VTaskMgr::Get()->Init()); // once
    VTask* main = VTask::GetCurrent();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->IsMain());
    EXPECT_TRUE(VTask::IsCurrentMain());
    EXPECT_EQ(main->GetID(), int32(gettid()));
    EXPECT_EQ(VTaskMgr::GetCurrentTaskID(), main->GetID());
    EXPECT_EQ(main->GetState(), eTaskStateRunning);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
    EXPECT_TRUE(VTaskMgr::Get()->GetTaskByID(main->GetID()));
    int32 foreignID = 0;
    std::thread([&] { foreignID = VTaskMgr::GetCurrentTaskID(); }).join();
    EXPECT_GT(foreignID, 0);
    EXPECT_NE(foreignID, main->GetID());
}

// A process that counts the live activity tokens it made and remembers their names.
class VCountingProcess : public ITaskProcess {
public:
    class VToken : public VObject, public IRefCountable {
    public:
        explicit VToken(VCountingProcess& owner) : fOwner(owner) { ++fOwner.fLive; }
        ~VToken() override { --fOwner.fLive; }

    private:
        VCountingProcess& fOwner;
    };

    bool IsFibered() const noexcept override { return false; }
    IRefCountable* CreateActivityToken(const VString& reason) override {
        {
            std::lock_guard<std::mutex> guard(fLock);
            fReasons.push_back(reason);
        }
        return new VToken(*this);
    }
    int32 GetLive() const noexcept { return fLive.load(); }
    std::vector<VString> GetReasons() {
        std::lock_guard<std::mutex> guard(fLock);
        return fReasons;
    }

private:
    std::atomic<int32> fLive{0};
    std::mutex fLock;
    std::vector<VString> fReasons;
};

// A running task keeps the process busy until it dies or drops its token itself; the main task holds none.
TEST(VTaskMgr, StartedTasksHoldAnActivityTokenOfTheProcess) {
    VCountingProcess process;
    {
        ASSERT_TRUE(VTaskMgr::Get()->Init(&process));
        EXPECT_EQ(VTaskMgr::Get()->GetProcess(), &process);
        EXPECT_EQ(process.GetLive(), 0);
        std::atomic<bool> release{false};
        std::atomic<bool> released{false};
        std::atomic<bool> finish{false};
        auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [&] {
            WaitUntil([&] { return release.load(); });
            VTask::ReleaseCurrentActivityToken();
            VTask::ReleaseCurrentActivityToken(); // twice: nothing more
            released = true;
            WaitUntil([&] { return finish.load(); });
        }));
        task->SetName(VString("worker"));
        ASSERT_TRUE(task->Run());
        EXPECT_EQ(process.GetLive(), 1);
        ASSERT_EQ(process.GetReasons().size(), 1u);
        EXPECT_TRUE(process.GetReasons()[0].EqualToString(VString("Running task worker"), true));
        release = true;
        ASSERT_TRUE(WaitUntil([&] { return released.load(); }));
        EXPECT_EQ(process.GetLive(), 0);
        finish = true;
        ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));

        auto plain = StartTask([] {});
        ASSERT_TRUE(plain->WaitForDeath(kWaitBoundMs));
        EXPECT_EQ(process.GetLive(), 0); // released at death
        EXPECT_EQ(process.GetReasons().size(), 2u);
        VTask::ReleaseCurrentActivityToken(); // the main task has none
        VTaskMgr::Get()->KillAllTasks(kWaitBoundMs);
        VTaskMgr::Get()->DeInit();
    }
    EXPECT_EQ(VTaskMgr::Get()->GetProcess(), nullptr);
}

// The application task and its owner stay until replaced or until the manager stops.
TEST(VTaskMgr, TheApplicationTaskKeepsItsOwner) {
    VCountingProcess process;
    ASSERT_TRUE(VTaskMgr::Get()->Init(&process));
    IRefCountable* owner = process.CreateActivityToken(VString("owner"));
    auto* zoTask = reinterpret_cast<VZoTask*>(&process);
    VTaskMgr::Get()->SetZoTask(zoTask, owner);
    owner->Release();
    EXPECT_EQ(process.GetLive(), 1); // the manager's reference
    IRefCountable* seen = nullptr;
    EXPECT_EQ(VTaskMgr::Get()->RetainZoTask(&seen), zoTask);
    EXPECT_EQ(seen, owner);
    seen->Release();
    VTaskMgr::Get()->SetZoTask(nullptr, nullptr);
    EXPECT_EQ(process.GetLive(), 0);
    EXPECT_EQ(VTaskMgr::Get()->RetainZoTask(&seen), nullptr);
    EXPECT_EQ(seen, nullptr);
    owner = process.CreateActivityToken(VString("again"));
    VTaskMgr::Get()->SetZoTask(zoTask, owner);
    owner->Release();
    VTaskMgr::Get()->DeInit();
    EXPECT_EQ(process.GetLive(), 0);
}

TEST_F(VTaskTest, ATaskRunsOnItsOwnThreadAndDies) {
    std::atomic<int32> seenID{0};
    std::atomic<bool> onMain{true};
    VRefPtr<VTask> task = StartTask([&] {
        seenID = VTaskMgr::GetCurrentTaskID();
        onMain = VTask::IsCurrentMain();
    });
    EXPECT_GT(task->GetID(), 0);
    EXPECT_NE(task->GetID(), VTask::GetCurrent()->GetID());
    EXPECT_FALSE(task->Run()); // started already
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(task->GetState(), eTaskStateDead);
    EXPECT_EQ(seenID.load(), task->GetID());
    EXPECT_FALSE(onMain.load());
    EXPECT_TRUE(task->IsDying());
    VTaskMgr::Get()->PurgeDeadTasks();
    EXPECT_FALSE(VTaskMgr::Get()->GetTaskByID(task->GetID()));
}

// The load counters belong to the task that holds the guard: nested guards add up, leaving lowers them, and
// another task's counters stay as they were (off a task the guard does nothing).
TEST_F(VTaskTest, BagXMLLoadGuardsRaiseTheCallingTasksCounters) {
    VTask* main = VTask::GetCurrent();
    ASSERT_NE(main, nullptr);
    std::atomic<int32> otherParses{-1}, otherLoads{-1};
    {
        StBagXMLLoad outer;
        EXPECT_EQ(main->GetXMLParseDepth(), 1);
        EXPECT_EQ(main->GetBagLoadDepth(), 1);
        {
            StBagXMLLoad inner;
            EXPECT_EQ(main->GetXMLParseDepth(), 2);
            EXPECT_EQ(main->GetBagLoadDepth(), 2);
        }
        VRefPtr<VTask> task = StartTask([&] {
            StBagXMLLoad own;
            otherParses = VTask::GetCurrent()->GetXMLParseDepth();
            otherLoads = VTask::GetCurrent()->GetBagLoadDepth();
        });
        ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
        EXPECT_EQ(task->GetXMLParseDepth(), 0);
        EXPECT_EQ(main->GetXMLParseDepth(), 1);
        EXPECT_EQ(main->GetBagLoadDepth(), 1);
    }
    EXPECT_EQ(otherParses.load(), 1);
    EXPECT_EQ(otherLoads.load(), 1);
    EXPECT_EQ(main->GetXMLParseDepth(), 0);
    EXPECT_EQ(main->GetBagLoadDepth(), 0);
    std::thread foreign([] { StBagXMLLoad none; });
    foreign.join();
}

TEST_F(VTaskTest, ProcTasksReceiveThemselves) {
    static std::atomic<VTask*> sSeen{nullptr};
    auto task = VRefPtr<VTask>::Adopt(new VTask(nullptr, 0, eTaskStylePreemptive, [](VTask* self) {
        sSeen = self;
        return 0;
    }));
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(sSeen.load(), task.Get());
}

TEST_F(VTaskTest, ATaskThatNeverRanReleasesItsThread) {
    for (int i = 0; i < 20; ++i) {
        auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] { ADD_FAILURE() << "ran"; }));
        EXPECT_EQ(task->GetState(), eTaskStateNotStarted);
        EXPECT_GT(task->GetID(), 0);
    } // each destructor releases and joins a thread waiting to start
}

TEST_F(VTaskTest, KillEndsAWaitForMessages) {
    VRefPtr<VTask> task = StartMessageLoop();
    ASSERT_TRUE(WaitUntil([&] { return task->GetWaitReason() == eTaskWaitMessages; }));
    int32 ticks = -1;
    EXPECT_FALSE(task->IsDying(&ticks));
    EXPECT_EQ(ticks, 0);
    task->Kill();
    EXPECT_TRUE(task->IsDying(&ticks));
    EXPECT_GE(ticks, 0);
    EXPECT_TRUE(task->WaitForDeath(kWaitBoundMs));
}

TEST_F(VTaskTest, WakeUpEndsASleep) {
    VRefPtr<VTask> task = StartTask([] { VTask::Sleep(kWaitBoundMs * 10); });
    ASSERT_TRUE(WaitUntil([&] { return task->GetWaitReason() == eTaskWaitSleeping; }));
    task->WakeUp();
    EXPECT_TRUE(task->WaitForDeath(kWaitBoundMs));
}

TEST_F(VTaskTest, SubclassesRunTheirCycle) {
    class Counting : public VTask {
    public:
        std::atomic<int> fInits{0}, fRuns{0}, fDeInits{0}, fPrepared{0};

    protected:
        void DoInit() override { ++fInits; }
        bool DoRun() override { return ++fRuns < 3; }
        void DoDeInit() override { ++fDeInits; }
        void DoPrepareToDie() override { ++fPrepared; }
    };
    auto task = VRefPtr<Counting>::Adopt(new Counting);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(task->fInits.load(), 1);
    EXPECT_EQ(task->fRuns.load(), 3);
    EXPECT_EQ(task->fDeInits.load(), 1);
    EXPECT_EQ(task->fPrepared.load(), 1); // the end of DoRun kills the task
}

TEST_F(VTaskTest, ExitEndsTheCallingTaskAtOnce) {
    std::atomic<bool> after{false};
    VRefPtr<VTask> task = StartTask([&] {
        VTask::Exit();
        after = true;
    });
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_FALSE(after.load());
    VTask::Exit(); // the main task stays
    EXPECT_EQ(VTask::GetCurrent()->GetState(), eTaskStateRunning);
}

TEST_F(VTaskTest, WaitForDeathWorksFromThreadsThatAreNotTasks) {
    std::atomic<bool> release{false};
    VRefPtr<VTask> task = StartTask([&] { WaitUntil([&] { return release.load(); }); });
    bool dead = false;
    std::thread watcher([&] { dead = task->WaitForDeath(kWaitBoundMs); });
    release = true;
    watcher.join();
    EXPECT_TRUE(dead);
    EXPECT_FALSE(VTask::GetCurrent()->WaitForDeath(kWaitBoundMs)); // on itself: at once
}

TEST_F(VTaskTest, KillAllTasksKillsOnlyFromTheMainTask) {
    VRefPtr<VTask> first = StartMessageLoop();
    VRefPtr<VTask> second = StartMessageLoop();
    std::atomic<bool> alone{true};
    VRefPtr<VTask> killer = StartTask([&] { alone = VTaskMgr::Get()->KillAllTasks(0); });
    ASSERT_TRUE(killer->WaitForDeath(kWaitBoundMs));
    EXPECT_FALSE(alone.load());
    EXPECT_FALSE(first->IsDying());
    EXPECT_FALSE(second->IsDying());
    EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(kWaitBoundMs));
    EXPECT_EQ(first->GetState(), eTaskStateDead);
    EXPECT_EQ(second->GetState(), eTaskStateDead);
    EXPECT_EQ(VTaskMgr::Get()->GetTaskCount(false), 1);
}

TEST_F(VTaskTest, NamesAreKeptAndGiveTheThreadName) {
    VTask* main = VTask::GetCurrent();
    VString name;
    main->SetName(VString("updater main task"));
    main->GetName(name);
    EXPECT_TRUE(name.EqualToStringRaw(VString("updater main task")));
    char threadName[32] = {};
    pthread_getname_np(pthread_self(), threadName, sizeof threadName);
    EXPECT_STREQ(threadName, "updater main ta"); // the 15 bytes Linux keeps
}

TEST(XPosixTaskMgr, ThreadNamesAreCutToFifteenBytesOnCharacterBoundaries) {
    struct Case {
        const char* name;
        size_t kept;
    };
    const Case cases[] = {
        {"short", 5},
        {"exactly fifteen", 15},
        {"sixteen bytes!!!", 15},
        {"fourteen bytes\xC3\xA9", 14}, // a two-byte character across the limit goes whole
        {"abcdefghijklm\xE2\x82\xAC", 13},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XPosixTaskMgr::CutThreadName(c.name, std::strlen(c.name)), c.kept) << c.name;
}

TEST(XPosixStack, SizesAreWholePagesAboveAGuardPage) {
    EXPECT_EQ(XPosixStack::RoundedSize(65537, 4096), 69632u);
    EXPECT_EQ(XPosixStack::RoundedSize(65536, 4096), 65536u);
    XPosixStack stack;
    ASSERT_EQ(stack.Allocate(65537), 0);
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    EXPECT_EQ(stack.GetStackSize(), XPosixStack::RoundedSize(65537, page));
    EXPECT_EQ(stack.GetMappingSize(), stack.GetStackSize() + page);
    static_cast<char*>(stack.GetStack())[0] = 1; // the lowest usable byte is writable
}

TEST_F(VTaskTest, StackSizesFollowTheTaskAndTheDefault) {
    VTaskMgr* manager = VTaskMgr::Get();
    EXPECT_GT(manager->GetStackSizeForMainTask(), 0u);
    EXPECT_EQ(manager->GetDefaultStackSize(), std::min<size_t>(manager->GetStackSizeForMainTask(), 1048576));
    // The main task's is the manager's measure of the main thread, taken when first asked for.
    ASSERT_TRUE(VTask::GetCurrent()->IsMain());
    EXPECT_EQ(VTask::GetCurrent()->GetStackSize(), manager->GetStackSizeForMainTask());
    std::atomic<size_t> freeSize{0};
    auto task = VRefPtr<VTask>::Adopt(
        new VTask(2048 * 1024, eTaskStylePreemptive, [&] { freeSize = VTaskMgr::Get()->GetCurrentFreeStackSize(); }));
    EXPECT_EQ(task->GetStackSize(), 2048u * 1024);
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_GT(freeSize.load(), 0u);
    EXPECT_LT(freeSize.load(), 2048u * 1024);
}

TEST_F(VTaskTest, CPUTimesAreReadForRunningTasks) {
    double user = -1, system = -1, usage = -1;
    EXPECT_TRUE(VTask::GetCurrent()->GetCPUTimes(user, system));
    EXPECT_GE(user, 0);
    EXPECT_GE(system, 0);
    EXPECT_TRUE(VTask::GetCurrent()->GetCPUUsage(usage));
    EXPECT_GE(usage, 0);
}

// ---- Data keys

std::atomic<int> sDestroyedA{0};
std::atomic<int> sDestroyedB{0};
void DestroyA(void*) {
    ++sDestroyedA;
}
void DestroyB(void*) {
    ++sDestroyedB;
}

TEST_F(VTaskTest, DataKeysAreReusedAndReadNullInEveryTask) {
    VTaskMgr* manager = VTaskMgr::Get();
    int32 first = manager->CreateDataKey(nullptr);
    int32 second = manager->CreateDataKey(&DestroyA);
    EXPECT_EQ(second, first + 1);
    int value = 0;
    VTask::SetCurrentData(second, &value);
    EXPECT_EQ(VTask::GetCurrentData(second), &value);
    EXPECT_EQ(VTask::GetCurrentData(first), nullptr); // never set
    manager->DeleteDataKey(second);
    EXPECT_FALSE(manager->CheckDataKey(second));
    EXPECT_EQ(VTask::GetCurrentData(second), nullptr);
    int32 reused = manager->CreateDataKey(&DestroyB);
    EXPECT_EQ(reused, second);
    EXPECT_EQ(VTask::GetCurrentData(reused), nullptr); // not the deleted key's value
    manager->DeleteDataKey(first);
    manager->DeleteDataKey(reused);
}

TEST_F(VTaskTest, InvalidDataKeysChangeNothing) {
    VTaskMgr* manager = VTaskMgr::Get();
    int32 key = manager->CreateDataKey(nullptr);
    int value = 0;
    for (int32 invalid : {0, -1, key + 1, 1 << 30}) {
        VTask::SetCurrentData(invalid, &value);
        EXPECT_EQ(VTask::GetCurrentData(invalid), nullptr) << invalid;
        EXPECT_FALSE(manager->CheckDataKey(invalid));
    }
    manager->DeleteDataKey(key);
    VTask::SetCurrentData(key, &value); // deleted
    EXPECT_EQ(VTask::GetCurrentData(key), nullptr);
}

TEST_F(VTaskTest, DataDestructorsRunAtTaskExitForLiveKeysOnly) {
    VTaskMgr* manager = VTaskMgr::Get();
    sDestroyedA = 0;
    sDestroyedB = 0;
    int32 kept = manager->CreateDataKey(&DestroyA);
    int32 deleted = manager->CreateDataKey(&DestroyB);
    std::atomic<bool> release{false};
    std::atomic<bool> set{false};
    int value = 0;
    VRefPtr<VTask> task = StartTask([&] {
        VTask::SetCurrentData(kept, &value);
        VTask::SetCurrentData(deleted, &value);
        set = true;
        WaitUntil([&] { return release.load(); });
    });
    ASSERT_TRUE(WaitUntil([&] { return set.load(); }));
    manager->DeleteDataKey(deleted);
    int32 reused = manager->CreateDataKey(&DestroyA); // same number, other destructor
    EXPECT_EQ(reused, deleted);
    release = true;
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    EXPECT_EQ(sDestroyedA.load(), 1); // the kept key only: no destructor for the stale value
    EXPECT_EQ(sDestroyedB.load(), 0);
    manager->DeleteDataKey(kept);
    manager->DeleteDataKey(reused);
}

// ---- International managers

TEST_F(VTaskTest, EachTaskHasItsOwnInternationalManager) {
    EXPECT_EQ(VTask::GetCurrentIntlManager(), VIntlMgr::GetDefault());
    auto own = VRefPtr<VIntlMgr>::Adopt(new VIntlMgr);
    std::atomic<VIntlMgr*> seen{nullptr};
    std::atomic<VIntlMgr*> seenByStrings{nullptr};
    std::atomic<bool> release{false};
    VRefPtr<VTask> task = StartTask([&] {
        VTask::SetCurrentIntlManager(own.Get());
        seenByStrings = VIntlMgr::GetCurrent();
        seen = VTask::GetCurrentIntlManager(); // last: the main task waits for it
        WaitUntil([&] { return release.load(); });
    });
    ASSERT_TRUE(WaitUntil([&] { return seen.load() != nullptr; }));
    EXPECT_EQ(seen.load(), own.Get());
    EXPECT_EQ(seenByStrings.load(), own.Get());
    EXPECT_EQ(VTask::GetCurrentIntlManager(), VIntlMgr::GetDefault()); // the main task's is unchanged
    EXPECT_EQ(own->GetRefCount(), 2);
    release = true;
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    VTaskMgr::Get()->PurgeDeadTasks();
    task.Clear();
    EXPECT_EQ(own->GetRefCount(), 1);
    EXPECT_EQ(VTask::GetWildChar(), u'@');
}

TEST_F(VTaskTest, ATaskThatChangesTheSharedManagerGetsItsOwn) {
    std::atomic<bool> sharedBefore{false}, changed{false}, release{false}, done{false};
    std::atomic<VIntlMgr*> after{nullptr};
    std::atomic<UniChar> wildcard{0}, wildcardAfterReset{0};
    VRefPtr<VTask> changer = StartTask([&] {
        sharedBefore = VTask::GetCurrentIntlManager() == VIntlMgr::GetDefault();
        VTask::GetCurrentIntlManager()->SetWildChar(u'*');
        after = VTask::GetCurrentIntlManager();
        wildcard = VTask::GetWildChar();
        changed = true;
        WaitUntil([&] { return release.load(); });
        VTask::GetCurrentIntlManager()->Reset();
        wildcardAfterReset = VTask::GetWildChar();
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return changed.load(); }));
    EXPECT_TRUE(sharedBefore.load()); // nothing is cloned for a task that only reads
    EXPECT_NE(after.load(), VIntlMgr::GetDefault());
    EXPECT_EQ(wildcard.load(), u'*');
    // Another task, and the process's manager, keep the default wildcard.
    std::atomic<UniChar> seenElsewhere{0};
    VRefPtr<VTask> other = StartTask([&] { seenElsewhere = VTask::GetWildChar(); });
    ASSERT_TRUE(WaitUntil([&] { return seenElsewhere.load() != 0; }));
    EXPECT_EQ(seenElsewhere.load(), u'@');
    EXPECT_EQ(VIntlMgr::GetDefault()->GetWildChar(), u'@');
    EXPECT_EQ(VTask::GetWildChar(), u'@');
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    EXPECT_EQ(wildcardAfterReset.load(), u'@');
    ASSERT_TRUE(changer->WaitForDeath(kWaitBoundMs));
    ASSERT_TRUE(other->WaitForDeath(kWaitBoundMs));
    VTaskMgr::Get()->PurgeDeadTasks();
}

TEST_F(VTaskTest, SetCurrentDialectCodeGivesTheTaskThatDialectsRules) {
    std::atomic<uint32> dialect{0};
    std::atomic<bool> frenchSeparator{false}, done{false};
    VRefPtr<VTask> task = StartTask([&] {
        VTask::SetCurrentDialectCode(1036);
        const VString& separator = VIntlMgr::GetCurrent()->GetDecimalSeparator();
        frenchSeparator = separator.GetLength() == 1 && separator.GetUniChar(1) == u',';
        dialect = VTask::GetDialectCode();
        done = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    EXPECT_EQ(dialect.load(), 1036u);
    EXPECT_TRUE(frenchSeparator.load());
    EXPECT_EQ(VTask::GetCurrentIntlManager(), VIntlMgr::GetDefault()); // the main task's is unchanged
    ASSERT_TRUE(task->WaitForDeath(kWaitBoundMs));
    VTaskMgr::Get()->PurgeDeadTasks();
}

// ---- Idle processing and delayed messages

class CountingIdler : public IIdleable {
public:
    std::atomic<int> fIdles{0};

protected:
    void DoIdle() override { ++fIdles; }
};

TEST_F(VTaskTest, IdlersRunDuringIdleProcessing) {
    CountingIdler idler;
    idler.StartIdling();
    VTask* main = VTask::GetCurrent();
    ASSERT_TRUE(WaitUntil([&] {
        main->ExecuteMessagesWithTimeout(5, true);
        return idler.fIdles.load() >= 2;
    }));
    idler.StopIdling();
    int idles = idler.fIdles.load();
    for (int i = 0; i < 3; ++i)
        main->ExecuteMessagesWithTimeout(20, true);
    EXPECT_EQ(idler.fIdles.load(), idles);
}

TEST_F(VTaskTest, DelayedMessagesWaitForTheirTickAndLongDelaysDoNotWrap) {
    VTask* main = VTask::GetCurrent();
    std::atomic<bool> soon{false};
    std::atomic<bool> late{false};
    auto now = VRefPtr<VFunctionMessage>::Adopt(new VFunctionMessage([&] { soon = true; }));
    auto hours = VRefPtr<VFunctionMessage>::Adopt(new VFunctionMessage([&] { late = true; }));
    // 40,000,000 ms × 60 overflows 32 bits: computed that way it would be due at once.
    ASSERT_TRUE(hours->PostTo(main, false, 40000000));
    ASSERT_TRUE(now->PostTo(main, false, -5));
    EXPECT_TRUE(hours->IsInFlight());
    CountingIdler idler;
    idler.StartIdling();
    ASSERT_TRUE(WaitUntil([&] {
        main->ExecuteMessagesWithTimeout(5, true);
        return soon.load() && idler.fIdles.load() >= 3;
    }));
    EXPECT_FALSE(late.load());
    EXPECT_TRUE(hours->IsInFlight());
    VTaskMgr::Get()->CancelMessages(main);
    EXPECT_FALSE(hours->IsInFlight());
    EXPECT_TRUE(hours->Aborted());
}

} // namespace
} // namespace vela
