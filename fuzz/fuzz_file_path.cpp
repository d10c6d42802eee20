// Parses arbitrary text as a path in every style: never crashes; a full path read back from its stored text is
// the same path; the path helpers take any text.
#include "files/VFilePath.h"
#include "files/VPathConversion.h"

#include <cstdint>
#include <cstring>

namespace {

using namespace vela;

void CheckStable(const VString& text, FilePathStyle style) {
    VFilePath first(text, style);
    VFilePath second(first.GetPath(), FPS_SYSTEM);
    if (second.IsValid() != first.IsValid()) __builtin_trap();
    if (!second.GetPath().EqualToStringRaw(first.GetPath())) __builtin_trap();
    if (!first.IsValid()) return;

    VString out;
    first.GetPosixPath(out);
    first.GetName(out);
    first.GetFileName(out, false);
    first.GetFolderName(out, false);
    first.GetExtension(out);
    first.GetDepth();
    VFilePath parent;
    if (first.GetParent(parent) && !first.IsChildOf(parent)) __builtin_trap();
    if (first.GetRelativePosixPath(parent, out) != parent.IsValid()) __builtin_trap();
    VFilePath relative(parent, text, style, (text.GetLength() & 1) != 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VString decoded;
    decoded.FromBlock(data, size, VTC_UTF_8);

    // The same bytes one unit each, NUL and lone surrogates included.
    VString raw;
    UniChar* units = raw.GetCPointerForWrite(int32(size / 2));
    if (units != nullptr) {
        for (size_t i = 0; i + 1 < size; i += 2)
            units[i / 2] = UniChar(data[i] | (data[i + 1] << 8));
        raw.Validate(int32(size / 2));
    }

    for (const VString* text : {&decoded, &raw}) {
        CheckStable(*text, FPS_SYSTEM);
        CheckStable(*text, FPS_POSIX);
        VString copy(*text);
        VFilePath::ResolveRelativePosix(copy);
        copy = *text;
        SystemToPosixPath(copy, true);
        copy = *text;
        PosixToSystemPath(copy);
    }
    return 0;
}
