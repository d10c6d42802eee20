#include "system/platform/XPosixPowerEventSource.h"

#include "core/ILogger.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace vela {

namespace {

constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

// The missing bus is worth one line per process, not one per notifier.
void SayNoBusOnce(int error) {
    static std::atomic<bool> said{false};
    if (said.exchange(true)) return;
    ILogger* logger = GetProcessLogger();
    if (logger == nullptr) return;
    std::string text = "No system bus (" + std::error_code(error, std::generic_category()).message() +
                       "): sleep and wake-up are not reported";
    logger->LogMessage(EML_Warning, VString("sleepNotifications"), VString(text.data(), text.size(), VTC_UTF_8));
}

} // namespace

struct PowerBusCallbacks {
    static int OnInhibitReply(sd_bus_message* reply, void* self, sd_bus_error*);
    static int OnPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error*);
};

XPosixPowerEventSource::~XPosixPowerEventSource() {
    Stop();
}

VError XPosixPowerEventSource::Start(VSleepNotifier* owner) {
    if (fThread.joinable()) return VE_OK;
    fOwner = owner;
    int result = sd_bus_open_system(&fBus);
    if (result >= 0)
        result = sd_bus_match_signal(fBus, &fMatch, kLoginService, kLoginPath, kLoginManager, "PrepareForSleep",
                                     PowerBusCallbacks::OnPrepareForSleep, this);
    if (result >= 0) {
        fStopEvent = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fStopEvent < 0) result = -errno;
    }
    if (result < 0) {
        _Close();
        SayNoBusOnce(-result);
        return VE_OK;
    }
    _RequestDelayLock();
    try {
        fThread = std::thread([this] { _Run(); });
    } catch (const std::system_error&) {
        _Close();
        return VE_SLEEP_NOTIFIER_FAILED;
    }
    return VE_OK;
}

void XPosixPowerEventSource::Stop() {
    if (fThread.joinable()) {
        uint64_t one = 1;
        while (write(fStopEvent, &one, sizeof one) < 0 && errno == EINTR) {
        }
        fThread.join();
    }
    _Close();
}

void XPosixPowerEventSource::_Close() {
    fInhibitCall = sd_bus_slot_unref(fInhibitCall);
    fMatch = sd_bus_slot_unref(fMatch);
    fBus = sd_bus_flush_close_unref(fBus);
    if (fDelayLock >= 0) close(fDelayLock);
    fDelayLock = -1;
    if (fStopEvent >= 0) close(fStopEvent);
    fStopEvent = -1;
}

void XPosixPowerEventSource::AllowPowerChange(void*) {
    if (fDelayLock >= 0) close(fDelayLock);
    fDelayLock = -1;
}

void XPosixPowerEventSource::_RequestDelayLock() {
    if (fDelayLock >= 0 || fInhibitCall != nullptr) return;
    const char* who = program_invocation_short_name;
    // Without a lock (a login manager that refuses it) sleep simply does not wait for the handlers.
    sd_bus_call_method_async(fBus, &fInhibitCall, kLoginService, kLoginPath, kLoginManager, "Inhibit",
                             PowerBusCallbacks::OnInhibitReply, this, "ssss", "sleep",
                             who != nullptr ? who : "velacore", "Lets its handlers finish before the system sleeps",
                             "delay");
}

int PowerBusCallbacks::OnInhibitReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* source = static_cast<XPosixPowerEventSource*>(self);
    source->fInhibitCall = sd_bus_slot_unref(source->fInhibitCall);
    int lock = -1;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "h", &lock) < 0) return 0;
    // The message owns the descriptor it carries.
    source->fDelayLock = fcntl(lock, F_DUPFD_CLOEXEC, 3);
    return 0;
}

int PowerBusCallbacks::OnPrepareForSleep(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* source = static_cast<XPosixPowerEventSource*>(self);
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) < 0) return 0;
    if (sleeping != 0) {
        source->fOwner->HandlePowerMessage(VSleepNotifier::ePowerWillSleep, nullptr);
        return 0;
    }
    source->fOwner->HandlePowerMessage(VSleepNotifier::ePowerHasPoweredOn, nullptr);
    // Ready for the next sleep.
    source->_RequestDelayLock();
    return 0;
}

void XPosixPowerEventSource::_Run() {
    for (;;) {
        int processed;
        while ((processed = sd_bus_process(fBus, nullptr)) > 0) {
        }
        // A bus that went away (the daemon ended) leaves nothing to hear.
        if (processed < 0) return;
        int events = sd_bus_get_events(fBus);
        uint64_t until = 0;
        int timeout = -1;
        if (sd_bus_get_timeout(fBus, &until) > 0 && until != UINT64_MAX) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            uint64_t nowUs = uint64_t(now.tv_sec) * 1000000 + uint64_t(now.tv_nsec) / 1000;
            timeout = until > nowUs ? int((until - nowUs + 999) / 1000) : 0;
        }
        pollfd fds[2] = {{sd_bus_get_fd(fBus), short(events > 0 ? events : 0), 0}, {fStopEvent, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
    }
}

} // namespace vela
