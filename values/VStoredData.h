#pragma once

#include "core/VError.h"

namespace vela {

class VStream;

// One policy for every reader of stored data (pointer and stream forms of values, packed dictionaries, bags):
// sizes are computed in 64 bits, negative counts and lengths are refused, nothing is allocated beyond what the
// data can still deliver, nesting is bounded, and a refusal is the one library error VE_STREAM_CORRUPTED, with
// the value being read left cleared by its reader.

// Deepest nesting of stored values (bags in bags, arrays of bags) a reader follows.
constexpr int32 kStoredDataMaxDepth = 256;

// Makes VE_STREAM_CORRUPTED the stream's error and raises it, unless the stream already holds an error (which
// stays: errors are sticky). Answers the stream's error. A null stream only raises and answers the code.
VError SetStreamCorrupted(VStream* stream);

// Raises VE_STREAM_CORRUPTED and answers it: for readers of raw memory, which have no stream to mark.
VError ThrowStoredDataCorrupted();

// True when the stream can still deliver bytes bytes from its position (its error is not touched).
bool CanStillDeliver(VStream* stream, uint64 bytes);

// The byte size of count elements of elementSize bytes, in 64 bits; false for a negative count or a product
// that does not fit in 63 bits.
bool StoredByteSize(int64 count, uint64 elementSize, uint64& outBytes) noexcept;

// Checks a count (or length) just read from the stream before anything is allocated for it: a negative
// count, or more bytes (count × elementSize) than the stream can still deliver, marks the stream corrupted
// (SetStreamCorrupted). Answers the stream's error: VE_OK when the count may be used.
VError CheckStoredCount(VStream* stream, int64 count, uint64 elementSize);

// Checks a count read from raw memory whose readable bytes end at end: true when count elements of
// elementSize bytes fit between data and end. Refusals are for the caller to raise (ThrowStoredDataCorrupted).
bool CanStillDeliver(const void* data, const void* end, int64 count, uint64 elementSize) noexcept;

// Counts the nesting of stored-data readers on the calling thread for as long as it lives: a reader of a nested
// value makes one before going down and refuses the data (SetStreamCorrupted) when IsTooDeep answers true.
class StStoredDataDepth {
public:
    StStoredDataDepth() noexcept;
    ~StStoredDataDepth();
    StStoredDataDepth(const StStoredDataDepth&) = delete;
    StStoredDataDepth& operator=(const StStoredDataDepth&) = delete;

    // True when this guard's level is deeper than kStoredDataMaxDepth.
    bool IsTooDeep() const noexcept { return fDepth > kStoredDataMaxDepth; }
    // The nesting level of this guard: 1 for the outermost.
    int32 GetDepth() const noexcept { return fDepth; }

private:
    int32 fDepth;
};

} // namespace vela
