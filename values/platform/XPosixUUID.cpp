#include "values/platform/XPosixUUID.h"

#include "values/VUUID.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/random.h>

namespace vela {

namespace {

// A source that keeps being interrupted is given up on rather than spun on forever.
constexpr int kMaxInterruptedCalls = 1000;

ssize_t SystemRandom(void* buffer, size_t count, unsigned int flags) {
    return getrandom(buffer, count, flags);
}

std::atomic<XPosixUUID::RandomSource> sSource{&SystemRandom};

} // namespace

bool XPosixUUID::Generate(VUUIDBuffer* buffer) {
    RandomSource source = sSource.load(std::memory_order_acquire);
    uint8 bytes[sizeof(buffer->fBytes)];
    size_t filled = 0;
    int interrupted = 0;
    while (filled < sizeof(bytes)) {
        ssize_t got = source(bytes + filled, sizeof(bytes) - filled, 0);
        if (got > 0) {
            filled += size_t(got);
            continue;
        }
        if (got < 0 && errno == EINTR && ++interrupted < kMaxInterruptedCalls) continue;
        return false;
    }
    bytes[6] = uint8((bytes[6] & 0x0F) | 0x40); // version 4: random
    bytes[8] = uint8((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::memcpy(buffer->fBytes, bytes, sizeof(bytes));
    return true;
}

XPosixUUID::RandomSource XPosixUUID::SetRandomSource(RandomSource source) noexcept {
    return sSource.exchange(source != nullptr ? source : &SystemRandom, std::memory_order_acq_rel);
}

} // namespace vela
