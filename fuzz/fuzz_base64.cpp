// Decodes arbitrary bytes as Base64 in both alphabets: never crashes; what decodes re-encodes and decodes to the
// same bytes; and the input itself encodes and decodes back exactly in both alphabets, with and without breaks.
#include "core/Base64Coder.h"
#include "core/VString.h"

#include <cstdint>
#include <cstring>

namespace {

using namespace vela;

bool Same(const VMemoryBuffer<>& buffer, const void* data, size_t size) {
    return buffer.GetDataSize() == size && (size == 0 || std::memcmp(buffer.GetDataPtr(), data, size) == 0);
}

void CheckRoundTrip(const uint8_t* data, size_t size, bool url, int32 lineLength) {
    VMemoryBuffer<> encoded, decoded;
    if (!Base64Coder::_Encode(data, size, encoded, lineLength, url)) __builtin_trap();
    if (!Base64Coder::Decode(encoded.GetDataPtr(), encoded.GetDataSize(), decoded, url, false)) __builtin_trap();
    if (!Same(decoded, data, size)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (bool url : {false, true}) {
        VMemoryBuffer<> decoded;
        if (Base64Coder::Decode(data, size, decoded, url, (size & 1) != 0)) {
            VMemoryBuffer<> again, back;
            if (!Base64Coder::_Encode(decoded.GetDataPtr(), decoded.GetDataSize(), again, 0, url)) __builtin_trap();
            if (!Base64Coder::Decode(again.GetDataPtr(), again.GetDataSize(), back, url, false)) __builtin_trap();
            if (!Same(back, decoded.GetDataPtr(), decoded.GetDataSize())) __builtin_trap();
        }

        // The same bytes as a string, one unit each: non-ASCII units are refused.
        VString text;
        UniChar* units = text.GetCPointerForWrite(int32(size));
        for (size_t i = 0; i < size; ++i)
            units[i] = UniChar(data[i]);
        text.Validate(int32(size));
        VMemoryBuffer<> fromText;
        bool ok = text.DecodeBase64(fromText, url);
        VMemoryBuffer<> direct;
        if (ok != Base64Coder::Decode(data, size, direct, url, false)) __builtin_trap();
        if (ok && !Same(fromText, direct.GetDataPtr(), direct.GetDataSize())) __builtin_trap();

        CheckRoundTrip(data, size, url, 0);
    }
    CheckRoundTrip(data, size, false, size > 0 ? data[0] % 8 : 1);
    return 0;
}
