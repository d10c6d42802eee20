#include "core/platform/XPosixSemaphore.h"

#include <cerrno>
#include <ctime>

namespace vela {

XPosixSemaphore::XPosixSemaphore() noexcept {
    sem_init(&fSemaphore, 0, 0);
}

XPosixSemaphore::~XPosixSemaphore() {
    sem_destroy(&fSemaphore);
}

void XPosixSemaphore::Signal() noexcept {
    sem_post(&fSemaphore);
}

void XPosixSemaphore::Wait() noexcept {
    while (sem_wait(&fSemaphore) != 0 && errno == EINTR) {
    }
}

bool XPosixSemaphore::Wait(int32 ms) noexcept {
    if (ms <= 0) return sem_trywait(&fSemaphore) == 0;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += long(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    for (;;) {
        if (sem_clockwait(&fSemaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}

} // namespace vela
