#include "json/SpinLockSettings.h"

#include "core/VString.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>

namespace vela {
namespace {

struct State {
    SpinLock::AcquireProc strategy;
    int32 maxSpins;
    bool yieldAfterCheckEvent;
};

State Current() {
    return {SpinLock::sLock.load(), SpinLock::sMaxSpins.load(), SpinLock::sYieldAfterCheckEvent.load()};
}

void ExpectState(const State& expected, const std::string& what) {
    State state = Current();
    EXPECT_EQ(state.strategy, expected.strategy) << what;
    EXPECT_EQ(state.maxSpins, expected.maxSpins) << what;
    EXPECT_EQ(state.yieldAfterCheckEvent, expected.yieldAfterCheckEvent) << what;
    EXPECT_EQ(SpinLock::sUnlock.load(), &SpinLock::ClearHeldBit) << what;
}

// Restores the default strategy at the end of a test.
class SpinLockApplyTest : public ::testing::Test {
protected:
    void TearDown() override { SpinLock::ResetToDefaults(); }
};

TEST_F(SpinLockApplyTest, SettingsChooseTheStrategyAndTheSpins) {
    struct Case {
        std::optional<VString> mode;
        std::optional<double> maxSpins;
        SpinLock::AcquireProc strategy;
        int32 spins;
    };
    const Case cases[] = {
        {VString("alwaysSleep"), 5.9, &SpinLock::AlwaysSleep, 5},
        {VString("loopMaxSpinsAndYields"), 3.0, &SpinLock::LoopMaxSpinsAndYields, 3},
        {VString("other"), std::nullopt, &SpinLock::MaxSpinsThenLoopYields, 1},
        {std::nullopt, 1e20, &SpinLock::MaxSpinsThenLoopYields, std::numeric_limits<int32>::max()},
        {std::nullopt, -1e20, &SpinLock::MaxSpinsThenLoopYields, std::numeric_limits<int32>::min()},
        {std::nullopt, std::nan(""), &SpinLock::MaxSpinsThenLoopYields, 1},
    };
    for (const Case& c : cases) {
        SpinLock::ResetToDefaults();
        SpinLock::Apply(SpinLock::Settings{c.mode, c.maxSpins, std::nullopt});
        EXPECT_EQ(SpinLock::sLock.load(), c.strategy);
        EXPECT_EQ(SpinLock::sUnlock.load(), &SpinLock::ClearHeldBit);
        EXPECT_EQ(SpinLock::sMaxSpins.load(), c.spins);
    }
    SpinLock::Apply(SpinLock::Settings{std::nullopt, std::nullopt, true});
    EXPECT_TRUE(SpinLock::sYieldAfterCheckEvent.load());
}

// On the main task, with a temporary folder for parameter files; a settled state that is not the default before
// each case, so that "nothing changes" is told from "back to the defaults".
class SpinLockConfigureTest : public test::TaskTest {
protected:
    void SetUp() override {
        test::TaskTest::SetUp();
        char pattern[] = "/tmp/spinlockXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fFolder = pattern;
        fPath = fFolder + "/spinlock.prm";
    }
    void TearDown() override {
        std::filesystem::remove_all(fFolder);
        SpinLock::ResetToDefaults();
    }

    static void Settle() {
        SpinLock::ResetToDefaults();
        SpinLock::Apply({VString("loopMaxSpinsAndYields"), 3.0, true});
    }
    void Write(const std::string& content) const { std::ofstream(fPath, std::ios::binary) << content; }
    VString Path() const { return VString(fPath.c_str()); }

    static constexpr State kSettled{&SpinLock::LoopMaxSpinsAndYields, 3, true};

    std::string fFolder;
    std::string fPath;
};

TEST_F(SpinLockConfigureTest, AppliesTheMembersOfTheirKinds) {
    struct Case {
        const char* content; // null: no file
        State expected;
    };
    const Case cases[] = {
        {R"({"mode": "alwaysSleep", "maxSpins": 5.9})", {&SpinLock::AlwaysSleep, 5, true}},
        {R"({"mode": "maxSpinsThenLoopYields", "yieldAfterCheckEvent": false, "maxSpins": -2.5})",
         {&SpinLock::MaxSpinsThenLoopYields, -2, false}},
        {"\xEF\xBB\xBF{\"maxSpins\": 1e12}", {&SpinLock::LoopMaxSpinsAndYields, 2147483647, true}},
        {R"({"mode": "other"})", kSettled},
        {R"({"mode": 1, "maxSpins": "7", "yieldAfterCheckEvent": 0})", kSettled}, // members of other kinds
        {R"([{"mode": "alwaysSleep"}])", kSettled},                               // the root is no object
        {R"({"mode": "alwaysSleep" "maxSpins": 7})", kSettled},                   // no JSON
        {"", kSettled},
        {nullptr, kSettled},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(fPath);
        if (c.content != nullptr) Write(c.content);
        Settle();
        SpinLock::Configure(Path());
        ExpectState(c.expected, c.content != nullptr ? c.content : "(no file)");
    }
}

TEST_F(SpinLockConfigureTest, ReadsNothingWhileOtherTasksExist) {
    Write(R"({"mode": "alwaysSleep", "maxSpins": 5})");
    Settle();
    std::atomic<bool> release{false};
    VRefPtr<VTask> other = test::StartTask([&release] { test::WaitUntil([&release] { return release.load(); }); });
    ASSERT_TRUE(test::WaitUntil([] { return VTaskMgr::Get()->GetTaskCount(false) == 2; }));
    SpinLock::Configure(Path());
    release = true;
    ASSERT_TRUE(other->WaitForDeath(test::kWaitBoundMs));
    ExpectState(kSettled, "two tasks");

    // Alone again, the same file is read.
    ASSERT_TRUE(test::WaitUntil([] { return VTaskMgr::Get()->GetTaskCount(false) == 1; }));
    SpinLock::Configure(Path());
    ExpectState({&SpinLock::AlwaysSleep, 5, true}, "one task");
}

} // namespace
} // namespace vela
