// Reads strings from a stream of arbitrary bytes: never crashes, never reads past the data, never allocates
// far beyond what the data holds; whatever was read writes back and reads again to the same text.
#include "core/VString.h"
#include "files/VPtrStream.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    if (size == 0) return 0;
    VConstPtrStream input(data + 1, size - 1);
    if ((data[0] & 1) != 0) input.SetBigEndian();
    if (input.OpenReading() != VE_OK) return 0;

    while (input.GetLastError() == VE_OK) {
        VString text;
        VError error = text.ReadFromStream(&input);
        // A string may hold at most what the remaining data could deliver, plus one growth step.
        if (text.GetCapacity() > int64_t(size) + 65536) __builtin_trap();
        if (error != VE_OK) break;

        VPtrStream copy;
        copy.OpenWriting();
        text.WriteToStream(&copy);
        copy.CloseWriting();
        copy.OpenReading();
        VString back("not read");
        if (back.ReadFromStream(&copy) != VE_OK || !(back == text)) __builtin_trap();
    }
    return 0;
}
