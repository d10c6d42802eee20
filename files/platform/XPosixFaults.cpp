#include "files/platform/XPosixFaults.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace vela {

namespace {

struct ArmedCall {
    std::string fOp;
    int fError = 0;
    int fFirst = 1; // 1-based call numbers that fail: [fFirst, fFirst + fCount)
    int fCount = 1;
    int fCalls = 0;
};

std::mutex sLock;
std::vector<ArmedCall> sArmed; // guarded by sLock
// Lets the layers skip the lock while nothing is armed, which is nearly always.
std::atomic<bool> sAnyArmed{false};

} // namespace

void XPosixFaults::Arm(const char* op, int error, int nth, int count) {
    std::lock_guard<std::mutex> guard(sLock);
    for (auto it = sArmed.begin(); it != sArmed.end(); ++it) {
        if (it->fOp == op) {
            sArmed.erase(it);
            break;
        }
    }
    sArmed.push_back({op, error, nth, count, 0});
    sAnyArmed.store(true, std::memory_order_release);
}

void XPosixFaults::Reset() noexcept {
    std::lock_guard<std::mutex> guard(sLock);
    sArmed.clear();
    sAnyArmed.store(false, std::memory_order_release);
}

bool XPosixFaults::_Fail(const char* op) noexcept {
    if (!sAnyArmed.load(std::memory_order_acquire)) return false;
    int error = 0;
    {
        std::lock_guard<std::mutex> guard(sLock);
        for (ArmedCall& armed : sArmed) {
            if (std::strcmp(armed.fOp.c_str(), op) != 0) continue;
            const int call = ++armed.fCalls;
            if (call >= armed.fFirst && call - armed.fFirst < armed.fCount) error = armed.fError;
            break;
        }
    }
    if (error == 0) return false;
    if (error < 0) {
        // Raised without the lock: a process stopped here must not hold it for whoever resumes it.
        (void)std::raise(-error);
        return false;
    }
    errno = error;
    return true;
}

} // namespace vela
