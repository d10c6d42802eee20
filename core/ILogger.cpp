#include "core/ILogger.h"

#include <atomic>

namespace vela {

namespace {
std::atomic<ILogger*> sProcessLogger{nullptr};
} // namespace

ILogger* GetProcessLogger() noexcept {
    return sProcessLogger.load(std::memory_order_acquire);
}

ILogger* SetProcessLogger(ILogger* logger) noexcept {
    return sProcessLogger.exchange(logger, std::memory_order_acq_rel);
}

} // namespace vela
