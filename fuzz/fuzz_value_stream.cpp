// Reads values of any kind from a stream of arbitrary bytes (VStream::GetValue; the first byte picks the byte
// order): never crashes, never reads past the data; and each value read writes a stream form that reads back
// to a value writing the very same bytes.
#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VValue.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string Written(const VValue& value, bool bigEndian) {
    VPtrStream stream;
    if (bigEndian) stream.SetBigEndian();
    Check(stream.OpenWriting() == VE_OK);
    Check(stream.PutValue(value, true) == VE_OK);
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    bool bigEndian = (data[0] & 1) != 0;
    VConstPtrStream input(data + 1, size - 1);
    if (bigEndian) input.SetBigEndian();
    if (input.OpenReading() != VE_OK) return 0;

    for (int values = 0; values < 64 && input.GetLastError() == VE_OK; ++values) {
        std::unique_ptr<VValue> value(input.GetValue());
        if (value == nullptr || input.GetLastError() != VE_OK) break;

        std::string once = Written(*value, bigEndian);
        VConstPtrStream copy(once.data(), once.size());
        if (bigEndian) copy.SetBigEndian();
        Check(copy.OpenReading() == VE_OK);
        std::unique_ptr<VValue> back(copy.GetValue());
        Check(back != nullptr && copy.GetLastError() == VE_OK);
        Check(Written(*back, bigEndian) == once);
    }
    return 0;
}
