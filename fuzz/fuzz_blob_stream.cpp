// Reads blob values from a blob stream over arbitrary bytes (the first byte picks the byte order): never
// crashes, never allocates more than the input holds, and each blob read writes a stream form that reads back
// to the very same bytes.
#include "files/VBlobStream.h"
#include "values/VBlob.h"

#include <cstdint>
#include <cstring>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

bool SameBytes(const VBlobWithPtr& a, const VBlobWithPtr& b) {
    return a.GetSize() == b.GetSize() &&
           (a.GetSize() == 0 || std::memcmp(a.GetDataPtr(), b.GetDataPtr(), a.GetSize()) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool bigEndian = (data[0] & 1) != 0;
    VConstBlobWithPtr bytes(data + 1, size - 1);
    VBlobStream input(&bytes);
    input.SetNeedSwap(bigEndian);
    if (input.OpenReading() != VE_OK) return 0;

    for (int blobs = 0; blobs < 64 && input.GetLastError() == VE_OK; ++blobs) {
        VBlobWithPtr blob;
        if (blob.ReadFromStream(&input) != VE_OK) break;
        Check(blob.GetAllocatedSize() <= size);

        VBlobStream output;
        output.SetNeedSwap(bigEndian);
        Check(output.OpenWriting() == VE_OK);
        Check(blob.WriteToStream(&output) == VE_OK);
        output.CloseWriting();
        Check(output.GetBlob()->GetSize() == 4 + blob.GetSize());

        Check(output.OpenReading() == VE_OK);
        VBlobWithPtr back;
        Check(back.ReadFromStream(&output) == VE_OK);
        Check(SameBytes(blob, back));
        Check(output.GetRemaining() == 0);
    }
    return 0;
}
