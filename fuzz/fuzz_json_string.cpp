// Resolves JSON escapes in arbitrary text (UTF-8 or UTF-16 by the first byte): never crashes; escaping a text
// and resolving it again gives the text back exactly, with and without the extra escapes of option 1024.
#include "core/VString.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    if (size == 0) return 0;
    VString text;
    text.FromBlock(data + 1, size - 1, (data[0] & 1) != 0 ? VTC_UTF_16 : VTC_UTF_8);

    VString decoded("previous");
    if (decoded.FromJSONString(text) != VE_OK) __builtin_trap();
    if (decoded.GetLength() > text.GetLength()) __builtin_trap(); // escapes only ever shrink the text

    for (uint32 options : {0u, 1024u}) {
        VString json;
        if (text.GetJSONString(json, options) != VE_OK) __builtin_trap();
        VString back;
        if (back.FromJSONString(json, options) != VE_OK || !(back == text)) __builtin_trap();
    }
    VString raw;
    text.GetJSONString(raw, 16);
    if (!(raw == text)) __builtin_trap();
    return 0;
}
