// Writes every 8 bytes of the input, read as a double, and its two neighbours with the fast "%.14G" and with
// the C library's: the texts must be the same bytes.
#include "core/VRealText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void Check(double value) {
    char ours[vela::kRealG14TextSize + 1];
    int32_t length = vela::FormatRealG14(value, ours);
    ours[length] = 0;
    char printed[64];
    std::snprintf(printed, sizeof(printed), "%.14G", value);
    if (std::strcmp(ours, printed) != 0) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 8 <= size; at += 8) {
        double value = 0;
        std::memcpy(&value, data + at, sizeof(value));
        Check(value);
        Check(std::nextafter(value, 0.0));
        Check(std::nextafter(value, INFINITY));
    }
    return 0;
}
