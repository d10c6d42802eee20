#include "core/VError.h"

#include <atomic>

namespace vela {

namespace {
std::atomic<ErrorRaiser> sRaiser{nullptr};
} // namespace

ErrorRaiser SetErrorRaiser(ErrorRaiser raiser) noexcept {
    return sRaiser.exchange(raiser);
}

void _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3) {
    ErrorRaiser raiser = sRaiser.load(std::memory_order_acquire);
    if (raiser == nullptr) return;
    const char* names[3];
    const VString* values[3];
    int count = 0;
    for (auto [name, value] : {std::pair{"p1", p1}, std::pair{"p2", p2}, std::pair{"p3", p3}}) {
        if (value == nullptr) continue;
        names[count] = name;
        values[count] = value;
        ++count;
    }
    raiser(code, names, values, count);
}

void _ThrowErrorWithParam(VError code, const char* name, const VString& value) {
    ErrorRaiser raiser = sRaiser.load(std::memory_order_acquire);
    if (raiser == nullptr) return;
    const char* names[1] = {name};
    const VString* values[1] = {&value};
    raiser(code, names, values, 1);
}

} // namespace vela
