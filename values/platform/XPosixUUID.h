#pragma once

#include "core/VTypes.h"

#include <sys/types.h>

namespace vela {

struct VUUIDBuffer;

// New identifiers from the kernel's random generator (getrandom, one call per identifier): 16 random bytes
// marked as version 4 with the RFC 4122 variant.
class XPosixUUID {
public:
    // Fills buffer with a fresh identifier and answers true; answers false and leaves buffer untouched when the
    // source cannot deliver (interrupted calls are retried).
    static bool Generate(VUUIDBuffer* buffer);

    // The source of random bytes, with getrandom's contract: answers the bytes delivered, or -1 with errno set.
    using RandomSource = ssize_t (*)(void* buffer, size_t count, unsigned int flags);
    // Installs a source (null: getrandom) for every thread; answers the previous one. A seam for tests.
    static RandomSource SetRandomSource(RandomSource source) noexcept;
};

} // namespace vela
