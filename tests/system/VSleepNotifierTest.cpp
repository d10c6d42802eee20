#include "system/VSleepNotifier.h"

#include "core/ILogger.h"
#include "core/StStringConverter.h"

#include <gtest/gtest.h>

#include "support/StEnvironment.h"
#include "support/TaskTestSupport.h"
#include "system/VProcessLauncher.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <systemd/sd-bus.h>
#include <unistd.h>
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
}

// CI=true in the environment, as continuous integration sets it.
bool RunsInContinuousIntegration() {
    const char* value = std::getenv("CI");
    return value != nullptr && std::string(value) == "true";
}

using vela::test::StEnvironment;

TEST(VSleepNotifierBus, WithoutASystemBusItSaysSoOnceAndStaysSilent) {
    RecordingLogger log;
    ILogger* former = SetProcessLogger(&log);
    {
        StEnvironment noBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vela-no-bus");
        for (int i = 0; i < 2; ++i) {
            VSleepNotifier silent;
            EXPECT_EQ(silent.Init(), VE_OK);
        }
    }
    SetProcessLogger(former);
    // Once per process: an earlier test of this process may have said it already.
    EXPECT_LE(log.fRecords.size(), 1u);
    for (const auto& [level, text] : log.fRecords) {
        EXPECT_EQ(level, EML_Warning);
        EXPECT_NE(text.find("sleepNotifications: No system bus"), std::string::npos) << text;
    }
}

// A private message bus, started for the test and ended with it.
class PrivateBus {
public:
    PrivateBus() {
        if (mkdtemp(fFolder) == nullptr) return;
        const std::string socket = std::string(fFolder) + "/bus";
        const std::string config = std::string(fFolder) + "/bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><listen>unix:path="
                              << socket
                              << "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow own=\"*\"/><allow send_destination=\"*\"/>"
                                 "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        const char* daemon = FindProgram("dbus-daemon");
        if (daemon == nullptr) return;
        fDaemon.SetBinaryPath(VString(daemon));
        fDaemon.AddArgument(VString(("--config-file=" + config).c_str()));
        fDaemon.AddArgument(VString("--nofork"));
        fDaemon.SetRedirectStandardInput(false);
        fDaemon.SetRedirectStandardOutput(false);
        // Ended by the test, not awaited.
        fDaemon.SetWaitClosingChildProcess(0);
        if (fDaemon.Start() != 0) return;
        if (vela::test::WaitUntil([&] { return access(socket.c_str(), F_OK) == 0 || !fDaemon.IsRunning(); }) &&
            fDaemon.IsRunning())
            fAddress = "unix:path=" + socket;
    }
    ~PrivateBus() {
        fDaemon.Shutdown(true, false);
        std::filesystem::remove_all(fFolder);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon could not be started.
    const std::string& Address() const { return fAddress; }

private:
    // The program's absolute path from PATH, or null.
    static const char* FindProgram(const char* name) {
        static std::string found;
        const char* path = std::getenv("PATH");
        std::string entries = path != nullptr ? path : "";
        for (size_t start = 0; start <= entries.size();) {
            size_t end = entries.find(':', start);
            if (end == std::string::npos) end = entries.size();
            std::string candidate = entries.substr(start, end - start) + "/" + name;
            if (!candidate.empty() && candidate.front() == '/' && access(candidate.c_str(), X_OK) == 0) {
                found = candidate;
                return found.c_str();
            }
            start = end + 1;
        }
        return nullptr;
    }

    char fFolder[32] = "/tmp/vela-bus-XXXXXX";
    VProcessLauncher fDaemon;
    std::string fAddress;
};

// The login manager as the notifier sees it: owns its name, hands out delay locks on sleep (pipes whose other
// end it keeps) and announces sleep and wake-up.
class StandInLoginManager {
public:
    explicit StandInLoginManager(const std::string& address) {
        static const sd_bus_vtable kVTable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &StandInLoginManager::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_SIGNAL("PrepareForSleep", "b", 0), SD_BUS_VTABLE_END};
        fReady = sd_bus_new(&fBus) >= 0 && sd_bus_set_address(fBus, address.c_str()) >= 0 &&
                 sd_bus_set_bus_client(fBus, 1) >= 0 && sd_bus_start(fBus) >= 0 &&
                 sd_bus_add_object_vtable(fBus, nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                          kVTable, this) >= 0 &&
                 sd_bus_request_name(fBus, "org.freedesktop.login1", 0) >= 0;
    }
    ~StandInLoginManager() {
        for (int held : fHeld)
            close(held);
        sd_bus_flush_close_unref(fBus);
    }
    StandInLoginManager(const StandInLoginManager&) = delete;
    StandInLoginManager& operator=(const StandInLoginManager&) = delete;

    bool IsReady() const { return fReady; }
    bool Emit(bool sleeping) {
        return sd_bus_emit_signal(fBus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                                  "b", int(sleeping)) >= 0 &&
               sd_bus_flush(fBus) >= 0;
    }
    // Serves the bus until condition holds (bounded).
    template <class Condition> bool ServeUntil(Condition condition) {
        return vela::test::WaitUntil([&] {
            while (sd_bus_process(fBus, nullptr) > 0) {
            }
            return condition();
        });
    }
    size_t Requests() const { return fHeld.size(); }
    // Whether the lock handed out as request index is released: the client closed every copy of its end.
    bool Released(size_t index) const {
        pollfd fd{fHeld[index], POLLIN, 0};
        return poll(&fd, 1, 0) == 1 && (fd.revents & POLLHUP) != 0;
    }

private:
    static int Inhibit(sd_bus_message* call, void* self, sd_bus_error*) {
        auto* manager = static_cast<StandInLoginManager*>(self);
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        if (sd_bus_message_read(call, "ssss", &what, &who, &why, &mode) < 0) return -EINVAL;
        manager->fModes.push_back(std::string(what) + " " + mode);
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return -errno;
        int replied = sd_bus_reply_method_return(call, "h", ends[1]);
        close(ends[1]);
        manager->fHeld.push_back(ends[0]);
        return replied;
    }

    sd_bus* fBus = nullptr;
    bool fReady = false;
    std::vector<int> fHeld;

public:
    std::vector<std::string> fModes;
};

// Checks from the handler, while it runs, that the sleep still waits for it.
class LockCheckingHandler : public VSleepNotifier::ISleepHandler {
public:
    explicit LockCheckingHandler(StandInLoginManager& manager) : fManager(manager) {}
    void OnSystemWillSleep() override {
        fHeldWhileSleeping = fManager.Requests() == 1 && !fManager.Released(0);
        ++fSleeps;
    }
    void OnSystemDidWake() override { ++fWakes; }
    VString GetHandlerName() override { return VString("lock check"); }

    StandInLoginManager& fManager;
    std::atomic<bool> fHeldWhileSleeping{false};
    std::atomic<int> fSleeps{0};
    std::atomic<int> fWakes{0};
};

TEST(VSleepNotifierBus, TheLoginManagersSignalReachesHandlersAndLog) {
    PrivateBus bus;
    if (bus.Address().empty()) {
        if (RunsInContinuousIntegration()) FAIL() << "no dbus-daemon could be started";
        GTEST_SKIP() << "no dbus-daemon could be started: the sleep signal needs a bus";
    }
    StandInLoginManager manager(bus.Address());
    ASSERT_TRUE(manager.IsReady());
    StEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.Address());
    RecordingLogger log;
    LockCheckingHandler handler(manager);
    {
        VSleepNotifier notifier;
        notifier.SetLogger(&log);
        ASSERT_EQ(notifier.RegisterSleepHandler(&handler), VE_OK);
        ASSERT_EQ(notifier.Init(), VE_OK);
        // The source holds a delay lock before anything happens.
        ASSERT_TRUE(manager.ServeUntil([&] { return manager.Requests() == 1; }));
        EXPECT_EQ(manager.fModes, std::vector<std::string>{"sleep delay"});
        ASSERT_TRUE(manager.Emit(true));
        ASSERT_TRUE(manager.ServeUntil([&] { return handler.fSleeps == 1; }));
        EXPECT_TRUE(handler.fHeldWhileSleeping);
        // Acknowledged once the handler returned.
        EXPECT_TRUE(manager.ServeUntil([&] { return manager.Released(0); }));
        ASSERT_TRUE(manager.Emit(false));
        ASSERT_TRUE(manager.ServeUntil([&] { return handler.fWakes == 1; }));
        // A new lock for the next sleep.
        EXPECT_TRUE(manager.ServeUntil([&] { return manager.Requests() == 2; }));
        notifier.UnregisterSleepHandlers();
    }
    using Record = std::pair<EMessageLevel, std::string>;
    ASSERT_GE(log.fRecords.size(), 2u);
    EXPECT_EQ(log.fRecords.front(), (Record{EML_Information, "sleepNotifications: System is going to sleep"}));
    EXPECT_EQ(log.fRecords.back(), (Record{EML_Information, "sleepNotifications: System woke up from sleep"}));
    EXPECT_EQ(handler.fWakes, 1);
}

} // namespace
