#pragma once

#include "core/VTypes.h"

#include <semaphore.h>

namespace vela {

// A counting semaphore (initially 0) for thread start, sleep and fiber hand-over.
class XPosixSemaphore {
public:
    XPosixSemaphore() noexcept;
    ~XPosixSemaphore();
    XPosixSemaphore(const XPosixSemaphore&) = delete;
    XPosixSemaphore& operator=(const XPosixSemaphore&) = delete;

    void Signal() noexcept;
    // Waits for a signal, resuming after interruptions.
    void Wait() noexcept;
    // Waits at most ms (ms, monotonic clock); answers whether a signal was taken.
    bool Wait(int32 ms) noexcept;

private:
    sem_t fSemaphore;
};

} // namespace vela
