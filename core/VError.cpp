#include "core/VError.h"

#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"

#include <atomic>

namespace vela {

namespace {

std::atomic<ErrorRaiser> sRaiser{nullptr};
std::atomic<bool> sProcessObjectExists{false};

void Raise(VError code, const char* names[], const VString* values[], int count) {
    if (ErrorRaiser raiser = sRaiser.load(std::memory_order_acquire)) raiser(code, names, values, count);
    // Off a task the push would drop the error at once: it is not even made.
    if (!ProcessObjectExists() || VTask::GetCurrent() == nullptr) return;
    auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
    for (int i = 0; i < count; ++i)
        error->SetString(VString(names[i]), *values[i]);
    VTask::PushError(error.Get());
}

} // namespace

ErrorRaiser SetErrorRaiser(ErrorRaiser raiser) noexcept {
    return sRaiser.exchange(raiser);
}

void SetProcessObjectExists(bool exists) noexcept {
    sProcessObjectExists.store(exists, std::memory_order_release);
}

bool ProcessObjectExists() noexcept {
    return sProcessObjectExists.load(std::memory_order_acquire);
}

void _ThrowError(VError code, const VString* p1, const VString* p2, const VString* p3) {
    const char* names[3];
    const VString* values[3];
    int count = 0;
    for (auto [name, value] : {std::pair{"p1", p1}, std::pair{"p2", p2}, std::pair{"p3", p3}}) {
        if (value == nullptr) continue;
        names[count] = name;
        values[count] = value;
        ++count;
    }
    Raise(code, names, values, count);
}

void _ThrowErrorWithParam(VError code, const char* name, const VString& value) {
    const char* names[1] = {name};
    const VString* values[1] = {&value};
    Raise(code, names, values, 1);
}

} // namespace vela
