#include "system/VSleepNotifier.h"

#include "core/ILogger.h"
#include "core/StStringConverter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace vela;

namespace {

// Emits power messages on demand and records the tokens acknowledged.
class TestPowerSource : public IPowerEventSource {
public:
    explicit TestPowerSource(VError startResult = VE_OK) : fStartResult(startResult) {}
    VError Start(VSleepNotifier* owner) override {
        if (fStartResult == VE_OK) fOwner = owner;
        return fStartResult;
    }
    void AllowPowerChange(void* token) override {
        fAcknowledged.push_back(token);
        if (fJournal != nullptr) fJournal->push_back("allowed");
    }
    void Stop() override { fOwner = nullptr; }

    void Emit(VSleepNotifier::EPowerMessage message, void* token) {
        if (fOwner != nullptr) fOwner->HandlePowerMessage(message, token);
    }

    VError fStartResult;
    VSleepNotifier* fOwner = nullptr;
    std::vector<void*> fAcknowledged;
    std::vector<std::string>* fJournal = nullptr;
};

// Records calls in a shared journal, so the order of handlers and acknowledgements can be checked.
class RecordingHandler : public VSleepNotifier::ISleepHandler {
public:
    RecordingHandler(std::string name, std::vector<std::string>& journal) : fName(std::move(name)), fJournal(journal) {}
    void OnSystemWillSleep() override { fJournal.push_back(fName + " sleeps"); }
    void OnSystemDidWake() override { fJournal.push_back(fName + " wakes"); }
    VString GetHandlerName() override { return VString(fName.c_str()); }

    std::string fName;
    std::vector<std::string>& fJournal;
};

// Only the messages matter here.
class RecordingLogger : public ILogger {
public:
    void Start() override {}
    void Stop() override {}
    void EnableFlush() override {}
    void DisableFlush() override {}
    bool IsStarted() const override { return true; }
    bool ShouldLog(EMessageLevel) const override { return true; }
    void LogBag(const VValueBag*) override {}
    void LogMessage(EMessageLevel level, const VString& source, const VString& message) override {
        fRecords.push_back({level, to_string(source) + ": " + to_string(message)});
    }
    void Flush() override {}
    bool WithTrace(bool) override { return false; }
    bool WithDump(bool) override { return false; }
    bool WithDebug(bool) override { return false; }
    bool WithWarning(bool) override { return false; }
    bool WithError(bool) override { return false; }
    bool WithFatal(bool) override { return false; }
    bool WithAssert(bool) override { return false; }
    bool WithInfo(bool) override { return false; }
    bool AddLogListener(ILogListener*) override { return false; }
    bool RemoveLogListener(ILogListener*) override { return false; }

    std::vector<std::pair<EMessageLevel, std::string>> fRecords;
};

struct Fixture {
    Fixture() {
        auto owned = std::make_unique<TestPowerSource>();
        source = owned.get();
        source->fJournal = &journal;
        notifier = std::make_unique<VSleepNotifier>(std::move(owned));
    }
    std::vector<std::string> journal;
    TestPowerSource* source = nullptr;
    std::unique_ptr<VSleepNotifier> notifier;
};

int kSleepToken;
int kQueryToken;

TEST(VSleepNotifierTest, RelaysEachPowerMessageAndAcknowledgesAfterTheHandlers) {
    Fixture f;
    ASSERT_EQ(f.notifier->Init(), VE_OK);
    RecordingHandler handler("h", f.journal);
    ASSERT_EQ(f.notifier->RegisterSleepHandler(&handler), VE_OK);

    // A query whether the system may sleep is allowed at once, without any handler.
    f.source->Emit(VSleepNotifier::ePowerCanSleep, &kQueryToken);
    EXPECT_EQ(f.journal, std::vector<std::string>{"allowed"});
    EXPECT_EQ(f.source->fAcknowledged, std::vector<void*>{&kQueryToken});

    f.source->Emit(VSleepNotifier::ePowerWillSleep, &kSleepToken);
    EXPECT_EQ(f.journal, (std::vector<std::string>{"allowed", "h sleeps", "allowed"}));
    EXPECT_EQ(f.source->fAcknowledged, (std::vector<void*>{&kQueryToken, &kSleepToken}));

    f.source->Emit(VSleepNotifier::ePowerHasPoweredOn, nullptr);
    EXPECT_EQ(f.journal, (std::vector<std::string>{"allowed", "h sleeps", "allowed", "h wakes"}));
    EXPECT_EQ(f.source->fAcknowledged.size(), 2u);
    f.notifier.reset();
    EXPECT_EQ(handler.GetRefCount(), 1);
}

TEST(VSleepNotifierTest, KeepsEachHandlerOnce) {
    Fixture f;
    RecordingHandler handler("h", f.journal);
    RecordingHandler stranger("s", f.journal);
    EXPECT_EQ(f.notifier->RegisterSleepHandler(&handler), VE_OK);
    EXPECT_EQ(f.notifier->RegisterSleepHandler(&handler), VE_OK);
    EXPECT_EQ(handler.GetRefCount(), 2);
    EXPECT_EQ(f.notifier->UnregisterSleepHandler(&stranger), VE_OK);
    EXPECT_EQ(stranger.GetRefCount(), 1);
    EXPECT_EQ(f.notifier->RegisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(f.notifier->UnregisterSleepHandler(nullptr), VE_INVALID_PARAMETER);
    f.notifier->HaveSleepNotification();
    EXPECT_EQ(f.journal, std::vector<std::string>{"h sleeps"});
    EXPECT_EQ(f.notifier->UnregisterSleepHandler(&handler), VE_OK);
    EXPECT_EQ(handler.GetRefCount(), 1);
    f.notifier->HaveWakeupNotification();
    EXPECT_EQ(f.journal.size(), 1u);
}

TEST(VSleepNotifierTest, AHandlerMayUnregisterItselfWhileNotified) {
    struct Leaving : RecordingHandler {
        using RecordingHandler::RecordingHandler;
        void OnSystemWillSleep() override {
            RecordingHandler::OnSystemWillSleep();
            notifier->UnregisterSleepHandler(this);
        }
        VSleepNotifier* notifier = nullptr;
    };
    Fixture f;
    Leaving leaving("l", f.journal);
    leaving.notifier = f.notifier.get();
    f.notifier->RegisterSleepHandler(&leaving);
    f.notifier->HaveSleepNotification();
    f.notifier->HaveSleepNotification();
    EXPECT_EQ(f.journal, std::vector<std::string>{"l sleeps"});
    EXPECT_EQ(leaving.GetRefCount(), 1);
}

TEST(VSleepNotifierTest, LogsSleepAndWakeUp) {
    Fixture f;
    RecordingLogger logger;
    f.notifier->SetLogger(&logger);
    f.notifier->HaveSleepNotification();
    f.notifier->HaveWakeupNotification();
    using Record = std::pair<EMessageLevel, std::string>;
    EXPECT_EQ(logger.fRecords,
              (std::vector<Record>{{EML_Information, "sleepNotifications: System is going to sleep"},
                                   {EML_Information, "sleepNotifications: System woke up from sleep"}}));
    f.notifier.reset();
    EXPECT_EQ(logger.GetRefCount(), 1);
}

TEST(VSleepNotifierTest, InitReturnsTheSourceFailure) {
    constexpr VError kRefused = VE_SLEEP_NOTIFIER_FAILED;
    VSleepNotifier notifier(std::make_unique<TestPowerSource>(kRefused));
    EXPECT_EQ(notifier.Init(), kRefused);
    // The default source on this system is silent but starts.
    VSleepNotifier silent;
    EXPECT_EQ(silent.Init(), VE_OK);
}

} // namespace
