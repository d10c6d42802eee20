#include "core/VDebugMgr.h"

#include "core/VDebugContext.h"
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "support/RecordingLogger.h"
#include "support/TestProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace vela;

namespace {

constexpr VError kNotFound = MakeLibraryError(600);
constexpr VError kNotFound2 = MakeLibraryError(601);

// Answers fixed values and records what it was asked.
class FakeHandler : public IDebugMessageHandler {
public:
    int fErrorAnswer = eDebugAnswer_Continue;
    int fAssertAnswer = eDebugAnswer_Continue;
    std::vector<VError> fErrors;
    std::vector<int> fAssertLines;

    int AssertFailed(VDebugContext& context, const char*, const char*, int line) override {
        EXPECT_TRUE(context.IsReentered());
        fAssertLines.push_back(line);
        return fAssertAnswer;
    }
    int ErrorThrown(VDebugContext& context, VErrorBase* error) override {
        EXPECT_TRUE(context.IsReentered());
        fErrors.push_back(error->GetError());
        return fErrorAnswer;
    }
};

// A debug-manager test: a test process, a fake handler installed, and the manager's switches and ignore lists
// restored at the end.
class VDebugMgrTest : public test::TestProcessFixture {
protected:
    void SetUp() override {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        fHandler = VRefPtr<FakeHandler>::Adopt(new FakeHandler);
        VDebugMgr::Get()->SetDebugMessageHandler(fHandler.Get());
    }
    void TearDown() override {
        VDebugMgr* manager = VDebugMgr::Get();
        manager->SetDebugMessageHandler(nullptr);
        manager->ClearIgnoreLists();
        manager->SetBreakOnAssert(false);
        manager->SetLogInDebugger(false);
        VTask::FlushErrors();
    }

    VRefPtr<FakeHandler> fHandler;
};

} // namespace

TEST_F(VDebugMgrTest, SwitchesAnswerTheirPreviousValue) {
    VDebugMgr* manager = VDebugMgr::Get();
    EXPECT_TRUE(manager->GetMessagesEnabled());
    EXPECT_FALSE(manager->SetBreakOnAssert(true));
    EXPECT_TRUE(manager->SetBreakOnAssert(false));
    EXPECT_FALSE(manager->SetBreakOnDebugMsg(false));
    EXPECT_FALSE(manager->SetLogInDebugger(true));
    EXPECT_TRUE(manager->GetLogInDebugger());
    EXPECT_TRUE(manager->SetMessagesEnabled(true));
}

TEST_F(VDebugMgrTest, UnfilteredErrorIsLoggedAndShownToTheHandler) {
    _ThrowError(kNotFound);
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound}));
    EXPECT_EQ(fHandler->fErrors, (std::vector<VError>{kNotFound}));
    EXPECT_FALSE(VTask::GetCurrent()->GetDebugContext().IsReentered());
}

TEST_F(VDebugMgrTest, LowLevelModeLogsNothing) {
    VDebugMgr::StartLowLevelMode();
    VDebugMgr::StartLowLevelMode();
    _ThrowError(kNotFound);
    VDebugMgr::StopLowLevelMode();
    _ThrowError(kNotFound);
    EXPECT_TRUE(Logger().All().empty());
    VDebugMgr::StopLowLevelMode();
    VDebugMgr::StopLowLevelMode(); // unbalanced: ignored
    EXPECT_EQ(VTask::GetCurrent()->GetDebugContext().GetLowLevelDepth(), 0u);
    _ThrowError(kNotFound);
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound}));
}

TEST_F(VDebugMgrTest, IgnoreThisErrorCode) {
    fHandler->fErrorAnswer = eDebugAnswer_IgnoreThis;
    _ThrowError(kNotFound);
    _ThrowError(kNotFound);
    _ThrowError(kNotFound2);
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound, kNotFound2}));
    EXPECT_EQ(fHandler->fErrors, (std::vector<VError>{kNotFound, kNotFound2}));
    // Ignored for reporting only: the errors are still on the task.
    EXPECT_EQ(VTask::GetErrorContext(false)->GetTopContext()->GetErrorCount(), 3u);
}

TEST_F(VDebugMgrTest, IgnoreAllErrorsOfEveryTask) {
    fHandler->fErrorAnswer = eDebugAnswer_IgnoreAll;
    _ThrowError(kNotFound);
    _ThrowError(kNotFound2);
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] { _ThrowError(kNotFound2); }));
    ASSERT_TRUE(task->Run());
    ASSERT_TRUE(task->WaitForDeath(10000));
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound}));
    EXPECT_EQ(fHandler->fErrors.size(), 1u);
}

TEST_F(VDebugMgrTest, ReportsAreDroppedOffTaskAndWhenDisabled) {
    std::thread foreign([] {
        auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(kNotFound));
        VDebugMgr::Get()->ErrorThrown(error.Get());
        VDebugMgr::Get()->DebugMsg(VString("off task"));
        EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("x", "file.cpp", 1));
    });
    foreign.join();
    VDebugMgr::Get()->SetMessagesEnabled(false);
    _ThrowError(kNotFound);
    VDebugMgr::Get()->SetMessagesEnabled(true);
    EXPECT_TRUE(Logger().All().empty());
    EXPECT_TRUE(fHandler->fErrors.empty());
}

TEST_F(VDebugMgrTest, ErrorRaisedWhileReportingIsDropped) {
    // A logger that fails while logging: the nested report must not recurse.
    class FailingLogger : public test::RecordingLogger {
    public:
        void LogBag(const VValueBag* bag) override {
            RecordingLogger::LogBag(bag);
            if (ILoggerBagKeys::error_code.Get(*bag) == kNotFound) _ThrowError(kNotFound2);
        }
    };
    auto logger = VRefPtr<FailingLogger>::Adopt(new FailingLogger);
    ILogger* previous = SetProcessLogger(logger.Get());
    _ThrowError(kNotFound);
    SetProcessLogger(previous);
    EXPECT_EQ(logger->ErrorCodes(), (std::vector<VError>{kNotFound}));
    EXPECT_EQ(VTask::GetLastError(), kNotFound2); // still pushed, just not reported
}

TEST_F(VDebugMgrTest, DebugMessageIsLoggedAtDebugLevelWithoutItsLineFeed) {
    VDebugMgr::Get()->DebugMsg(VString("done\n"));
    EXPECT_TRUE(Logger().All().empty()); // the default mask does not take debug
    Logger().SetMask(0xFF);
    VDebugMgr::Get()->DebugMsg(VString("done\n"));
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, EML_Debug);
    EXPECT_EQ(records[0].text, u"done");

    VDebugMgr::StartLowLevelMode();
    VDebugMgr::Get()->DebugMsg(VString("hidden"));
    VDebugMgr::StopLowLevelMode();
    EXPECT_EQ(Logger().All().size(), 1u);
}

TEST_F(VDebugMgrTest, FormattedDebugMessage) {
    Logger().SetMask(0xFF);
    VString name("disk");
    auto send = [](const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        VDebugMgr::Get()->DebugMsg(format, arguments);
        va_end(arguments);
    };
    send("%d on %S", 3, &name);
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, u"3 on disk");
}

TEST_F(VDebugMgrTest, AssertFailedAnswers) {
    VDebugMgr* manager = VDebugMgr::Get();
    manager->SetDebugMessageHandler(nullptr);
    EXPECT_FALSE(manager->AssertFailed("a > 0", "x.cpp", 10));
    manager->SetBreakOnAssert(true);
    EXPECT_TRUE(manager->AssertFailed("a > 0", "x.cpp", 10));

    manager->SetDebugMessageHandler(fHandler.Get());
    fHandler->fAssertAnswer = eDebugAnswer_Continue;
    EXPECT_FALSE(manager->AssertFailed("a > 0", "x.cpp", 10));
    fHandler->fAssertAnswer = eDebugAnswer_Break;
    EXPECT_TRUE(manager->AssertFailed("a > 0", "x.cpp", 10));
    fHandler->fAssertAnswer = 17; // unknown answers go on
    EXPECT_FALSE(manager->AssertFailed("a > 0", "x.cpp", 10));
    // Not logged with the default mask (assert level is off).
    EXPECT_TRUE(Logger().All().empty());
}

TEST_F(VDebugMgrTest, IgnoredAssertionKeyIsFileAndLine) {
    Logger().SetMask(0xFF);
    fHandler->fAssertAnswer = eDebugAnswer_IgnoreThis;
    VDebugMgr* manager = VDebugMgr::Get();
    EXPECT_FALSE(manager->AssertFailed("c", "y.cpp", 7));
    EXPECT_FALSE(manager->AssertFailed("c", "y.cpp", 7));
    EXPECT_FALSE(manager->AssertFailed("c", "y.cpp", 8));
    EXPECT_EQ(fHandler->fAssertLines, (std::vector<int>{7, 8}));
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, EML_Assert);
    EXPECT_EQ(records[0].text, u"c@y.cpp");

    fHandler->fAssertAnswer = eDebugAnswer_IgnoreAll;
    manager->AssertFailed("c", "z.cpp", 1);
    manager->SetBreakOnAssert(true);
    EXPECT_FALSE(manager->AssertFailed("c", "z.cpp", 2));
    EXPECT_EQ(fHandler->fAssertLines.size(), 3u);
}

TEST_F(VDebugMgrTest, HandlerIsRetainedUntilReplaced) {
    VDebugMgr* manager = VDebugMgr::Get();
    EXPECT_EQ(fHandler->GetRefCount(), 2);
    manager->SetDebugMessageHandler(fHandler.Get()); // the same: nothing changes
    EXPECT_EQ(fHandler->GetRefCount(), 2);
    auto other = VRefPtr<FakeHandler>::Adopt(new FakeHandler);
    manager->SetDebugMessageHandler(other.Get());
    EXPECT_EQ(fHandler->GetRefCount(), 1);
    EXPECT_EQ(other->GetRefCount(), 2);
    manager->DeInit();
    EXPECT_EQ(other->GetRefCount(), 1);
    EXPECT_FALSE(manager->GetMessagesEnabled());
    _ThrowError(kNotFound);
    EXPECT_TRUE(Logger().All().empty());
    EXPECT_TRUE(manager->Init());
}

TEST_F(VDebugMgrTest, LogInDebuggerEchoesOnStandardError) {
    VDebugMgr::Get()->SetLogInDebugger(true);
    testing::internal::CaptureStderr();
    _ThrowError(kNotFound);
    std::string echoed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(echoed.rfind("Error: Error code: 600 (vela)\n", 0), 0u) << echoed;
}

using VDebugMgrDeathTest = VDebugMgrTest;

TEST_F(VDebugMgrDeathTest, QuitAnswerEndsTheProcessWithFailure) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fHandler->fErrorAnswer = eDebugAnswer_Quit;
    EXPECT_EXIT(_ThrowError(kNotFound), testing::ExitedWithCode(1), "");
    fHandler->fAssertAnswer = eDebugAnswer_Quit;
    EXPECT_EXIT(VDebugMgr::Get()->AssertFailed("c", "q.cpp", 1), testing::ExitedWithCode(1), "");
}

TEST_F(VDebugMgrDeathTest, AbortIsAbnormal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(VDebugMgr::Abort(), testing::KilledBySignal(SIGABRT), "");
}

TEST_F(VDebugMgrTest, HandlerReplacedWhileAnsweringStaysAliveForTheCall) {
    // Held by the manager only: the handler uninstalls itself while it answers.
    class SelfRemovingHandler : public FakeHandler {
    public:
        int ErrorThrown(VDebugContext& context, VErrorBase* error) override {
            VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
            return FakeHandler::ErrorThrown(context, error);
        }
    };
    auto* handler = new SelfRemovingHandler;
    VDebugMgr::Get()->SetDebugMessageHandler(handler);
    handler->Release();
    _ThrowError(kNotFound);
    _ThrowError(kNotFound2);
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound, kNotFound2}));
}

TEST_F(VDebugMgrTest, TasksShareTheIgnoreListsSafely) {
    class CountingHandler : public IDebugMessageHandler {
    public:
        std::atomic<int> fCalls{0};
        int AssertFailed(VDebugContext&, const char*, const char*, int) override { return eDebugAnswer_IgnoreThis; }
        int ErrorThrown(VDebugContext&, VErrorBase*) override {
            ++fCalls;
            return eDebugAnswer_IgnoreThis;
        }
    };
    auto handler = VRefPtr<CountingHandler>::Adopt(new CountingHandler);
    VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
    constexpr int kTasks = 4;
    constexpr int kCodes = 20;
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.push_back(VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, [] {
            for (int code = 1; code <= kCodes; ++code) {
                _ThrowError(MakeLibraryError(1000 + code));
                VDebugMgr::Get()->AssertFailed("shared", "t.cpp", code);
            }
        })));
        ASSERT_TRUE(tasks.back()->Run());
    }
    for (auto& task : tasks)
        ASSERT_TRUE(task->WaitForDeath(10000));
    // Each code is answered at least once, and by each task at most once.
    EXPECT_GE(handler->fCalls.load(), kCodes);
    EXPECT_LE(handler->fCalls.load(), kCodes * kTasks);
    int before = handler->fCalls.load();
    _ThrowError(MakeLibraryError(1001));
    EXPECT_EQ(handler->fCalls.load(), before);
}
