#include "app/platform/XPosixProcessIPC.h"

#include "app/VProcess.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace vela {

namespace {

// The pipe the handler wakes the watcher through. Made once and never closed, so that a handler still running
// while the watcher goes can never write into a descriptor that was closed and reused meanwhile.
std::atomic<int> sWakeFd{-1};
int sWatchFd = -1;
std::once_flag sPipeOnce;

bool OpenWakePipe() {
    std::call_once(sPipeOnce, [] {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        sWatchFd = fds[0];
        sWakeFd.store(fds[1]);
    });
    return sWatchFd >= 0;
}
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<VProcess*>::is_always_lock_free);

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGQUIT};
// Written by the destructor to end the watcher.
constexpr char kStopByte = 0;

void WriteAll(int fd, const char* bytes, size_t size) noexcept {
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        size -= size_t(written);
    }
}

void HandleQuitSignal(int signal) {
    int savedErrno = errno;
    if (VProcess::sInstance.load() != nullptr) {
        if (signal == SIGINT)
            WriteAll(STDOUT_FILENO, XPosixProcessIPC::kInterruptText, sizeof XPosixProcessIPC::kInterruptText - 1);
        int fd = sWakeFd.load();
        char byte = char(signal);
        if (fd >= 0) WriteAll(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

XPosixProcessIPC::~XPosixProcessIPC() {
    _Restore();
    if (fWatcher.joinable()) {
        WriteAll(sWakeFd.load(), &kStopByte, 1);
        fWatcher.join();
    }
}

bool XPosixProcessIPC::Init() {
    if (fWatcher.joinable() || !OpenWakePipe()) return false;
    // Wake-ups left from an earlier process are not for this one.
    char stale[64];
    while (read(sWatchFd, stale, sizeof stale) > 0) {
    }
    fWatcher = std::thread([this] { _Watch(sWatchFd); });
    for (int i = 0; i < 3; ++i) {
        struct sigaction action = {};
        action.sa_handler = HandleQuitSignal;
        action.sa_flags = SA_RESTART | (kSignals[i] == SIGQUIT ? SA_RESETHAND : 0);
        sigemptyset(&action.sa_mask);
        // Each blocks the other two while it runs.
        for (int other : kSignals)
            if (other != kSignals[i]) sigaddset(&action.sa_mask, other);
        if (sigaction(kSignals[i], &action, &fPrevious[i]) != 0) return false;
        fInstalled = i + 1;
    }
    return true;
}

void XPosixProcessIPC::_Restore() noexcept {
    for (int i = fInstalled - 1; i >= 0; --i)
        sigaction(kSignals[i], &fPrevious[i], nullptr);
    fInstalled = 0;
}

void XPosixProcessIPC::_Watch(int readFd) {
    for (;;) {
        pollfd ready{readFd, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 && errno != EINTR) return;
        char byte = 0;
        ssize_t got = read(readFd, &byte, 1);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0 || byte == kStopByte) return;
        // The base's quit, not the virtual one: a signal may land while the process's derived parts are already
        // being destroyed (the watcher stops only in the tool process's own destructor), and the base's quit
        // needs nothing but the task manager.
        if (VProcess* process = VProcess::sInstance.load()) process->VProcess::QuitAsynchronously(nullptr);
    }
}

} // namespace vela
