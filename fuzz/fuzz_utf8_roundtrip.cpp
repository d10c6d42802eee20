// Decodes arbitrary bytes as UTF-8 into a string and encodes the string back: never crashes or loops; valid
// UTF-8 comes back byte for byte; and whatever the decoder made of the bytes, its encoding decodes to the same
// units again, a final lone high surrogate included.
#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    if (size > 1 << 20) return 0;
    VString text;
    size_t consumed = text.FromBlock(data, size, VTC_UTF_8);
    if (consumed > size || size_t(text.GetLength()) > size) __builtin_trap();

    VFromUnicodeConverter* encoder = VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    VMemoryBuffer<1024, 2, 1048576> bytes;
    if (!encoder->ConvertToBuffer(text.GetCPointer(), text.GetLength(), bytes, 0)) __builtin_trap();
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();

    if (VTextConverters::DetectUTF8(data, int32(size))) {
        if (consumed != size || bytes.GetDataSize() != size) __builtin_trap();
        if (size > 0 && std::memcmp(bytes.GetDataPtr(), data, size) != 0) __builtin_trap();
    }

    VString again;
    again.FromBlock(bytes.GetDataPtr(), bytes.GetDataSize(), VTC_UTF_8);
    if (again.GetLength() != length) __builtin_trap();
    if (length > 0 && std::memcmp(again.GetCPointer(), units, size_t(length) * sizeof(UniChar)) != 0) __builtin_trap();
    return 0;
}
