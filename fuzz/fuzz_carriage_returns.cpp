// Converts the line ends of arbitrary encoded text (the first byte picks the character set and the mode): never
// crashes or reads past the data; converting to LF twice changes nothing the second time, and neither does
// converting to CR LF twice.
#include "core/VMemoryBuffer.h"
#include "core/VString.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace vela;

std::vector<uint8_t> Bytes(const VMemoryBuffer<>& buffer) {
    const auto* p = static_cast<const uint8_t*>(buffer.GetDataPtr());
    return std::vector<uint8_t>(p, p + buffer.GetDataSize());
}

// A block of exactly size bytes, so that any read past the data is caught.
void Fill(VMemoryBuffer<>& buffer, const uint8_t* data, size_t size) {
    buffer.Clear();
    if (size > 0 && (!buffer.SetCapacity(size) || !buffer.PutData(0, data, size))) __builtin_trap();
}

void CheckIdempotent(VMemoryBuffer<>& buffer, CharSet charSet, ECarriageReturnMode mode) {
    if (!VString::ConvertCarriageReturns(buffer, charSet, mode)) __builtin_trap();
    std::vector<uint8_t> once = Bytes(buffer);
    if (!VString::ConvertCarriageReturns(buffer, charSet, mode)) __builtin_trap();
    if (Bytes(buffer) != once) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const CharSet kSets[] = {VTC_UTF_8,
                                    VTC_UTF_16_BigEndian,
                                    VTC_UTF_16_LittleEndian,
                                    VTC_UTF_32_BigEndian,
                                    VTC_UTF_32_LittleEndian,
                                    VTC_UTF_32_Raw_BigEndian,
                                    VTC_UTF_32_Raw_LittleEndian,
                                    VTC_ISO8859_1};
    static const ECarriageReturnMode kModes[] = {eCRM_NATIVE, eCRM_CRLF, eCRM_CR, eCRM_LF};
    if (size == 0) return 0;
    CharSet charSet = kSets[data[0] % 8];
    ECarriageReturnMode mode = kModes[(data[0] >> 3) % 4];
    const uint8_t* text = data + 1;
    size_t length = size - 1;

    VMemoryBuffer<> buffer;
    Fill(buffer, text, length);
    if (!VString::ConvertCarriageReturns(buffer, charSet, mode)) __builtin_trap();
    if (mode == eCRM_NATIVE && Bytes(buffer) != std::vector<uint8_t>(text, text + length)) __builtin_trap();
    CheckIdempotent(buffer, charSet, eCRM_LF);

    Fill(buffer, text, length);
    CheckIdempotent(buffer, charSet, eCRM_CRLF);

    // The same text decoded as a string converts the same way in UTF-16.
    if (charSet == VTC_UTF_16_LittleEndian) {
        VString string(text, length, VTC_UTF_16);
        string.ConvertCarriageReturns(eCRM_LF);
        Fill(buffer, text, length);
        VString::ConvertCarriageReturns(buffer, charSet, eCRM_LF);
        if (buffer.GetDataSize() / 2 != size_t(string.GetLength()) ||
            (string.GetLength() > 0 &&
             std::memcmp(buffer.GetDataPtr(), string.GetCPointer(), size_t(string.GetLength()) * 2) != 0))
            __builtin_trap();
    }
    return 0;
}
