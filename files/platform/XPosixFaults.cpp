#include "files/platform/XPosixFaults.h"

#include <atomic>
#include <csignal>
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

int XPosixFaults::Calls(const char* op) noexcept {
    std::lock_guard<std::mutex> guard(sLock);
    for (const ArmedCall& armed : sArmed)
        if (armed.fOp == op) return armed.fCalls;
    return 0;
}

bool XPosixFaults::_Fail(const char* op) noexcept {
    if (!sAnyArmed.load(std::memory_order_acquire)) return false;
    int error = 0;
    {
        std::lock_guard<std::mutex> guard(sLock);
        ArmedCall* match = nullptr;
        for (ArmedCall& armed : sArmed) {
            if (armed.fOp == op) {
                match = &armed;
                break;
            }
            if (armed.fOp == XPosixFaults::kAnyCall) match = &armed;
        }
        if (match != nullptr) {
            const int call = ++match->fCalls;
            if (call >= match->fFirst && call - match->fFirst < match->fCount) error = match->fError;
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
