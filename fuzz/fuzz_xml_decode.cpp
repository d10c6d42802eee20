// Resolves XML references in arbitrary text (UTF-8 or UTF-16 by the first byte): never crashes; escaping a text
// without control escapes and resolving it again gives the text back exactly.
#include "core/VString.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    if (size == 0) return 0;
    VString text;
    if ((data[0] & 1) != 0) {
        text.FromBlock(data + 1, size - 1, VTC_UTF_16);
    } else {
        text.FromBlock(data + 1, size - 1, VTC_UTF_8);
    }

    VString decoded(text);
    decoded.TranscodeFromXML();
    if (decoded.GetLength() > text.GetLength()) __builtin_trap(); // references only ever shrink the text

    VString escaped(text);
    escaped.TranscodeToXML(false);
    VString back(escaped);
    back.TranscodeFromXML();
    if (!(back == text)) __builtin_trap();

    VString controls(text);
    controls.TranscodeToXML(true);
    controls.TranscodeFromXML();
    if (controls.GetLength() < text.GetLength()) __builtin_trap();
    return 0;
}
