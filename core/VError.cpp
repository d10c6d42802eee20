#include "core/VError.h"

#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"

#include <atomic>
#include <iterator>
#include <mutex>
#include <new>

namespace vela {

namespace {

std::atomic<ErrorRaiser> sRaiser{nullptr};
std::atomic<bool> sProcessObjectExists{false};

// The errors that say memory ran out are made while there is memory, when the process object appears: they are
// raised from noexcept code (string moves), where making one would need the memory that is missing and a
// failed allocation would end the process. Shared by every task, never changed, never freed.
constexpr VError kOutOfMemoryCodes[] = {VE_MEMORY_FULL, VE_STRING_ALLOC_FAILED};
std::atomic<VErrorBase*> sOutOfMemoryErrors[std::size(kOutOfMemoryCodes)];

void PrepareOutOfMemoryErrors() noexcept {
    static std::mutex sLock;
    std::lock_guard<std::mutex> guard(sLock);
    for (size_t i = 0; i < std::size(kOutOfMemoryCodes); ++i) {
        if (sOutOfMemoryErrors[i].load(std::memory_order_relaxed) != nullptr) continue;
        try {
            sOutOfMemoryErrors[i].store(VErrorBase::CreateWithoutTask(kOutOfMemoryCodes[i]), std::memory_order_release);
        } catch (const std::bad_alloc&) {
            return; // tried again when the process object is next set
        }
    }
}

// The error made ahead for code, or null.
VErrorBase* PreparedError(VError code) noexcept {
    for (size_t i = 0; i < std::size(kOutOfMemoryCodes); ++i)
        if (kOutOfMemoryCodes[i] == code) return sOutOfMemoryErrors[i].load(std::memory_order_acquire);
    return nullptr;
}

// Pushes error on the calling task. Growing its error list may itself find no memory: the top context is then
// marked failed for memory, which needs none.
void Push(VErrorBase* error) noexcept {
    try {
        VTask::PushError(error);
    } catch (const std::bad_alloc&) {
        VErrorTaskContext* context = VTask::GetErrorContext(false);
        if (VErrorContext* top = context != nullptr ? context->GetTopContext() : nullptr) top->SetFailedForMemory(true);
    }
}

void Raise(VError code, const char* names[], const VString* values[], int count) {
    if (ErrorRaiser raiser = sRaiser.load(std::memory_order_acquire)) raiser(code, names, values, count);
    // Off a task the push would drop the error at once: it is not even made.
    if (!ProcessObjectExists() || VTask::GetCurrent() == nullptr) return;
    if (VErrorBase* prepared = PreparedError(code)) {
        Push(prepared); // shared: no parameters are added
        return;
    }
    try {
        auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
        for (int i = 0; i < count; ++i)
            error->SetString(VString(names[i]), *values[i]);
        Push(error.Get());
    } catch (const std::bad_alloc&) {
        if (VErrorBase* memoryFull = PreparedError(VE_MEMORY_FULL)) Push(memoryFull);
    }
}

} // namespace

ErrorRaiser SetErrorRaiser(ErrorRaiser raiser) noexcept {
    return sRaiser.exchange(raiser);
}

void SetProcessObjectExists(bool exists) noexcept {
    if (exists) PrepareOutOfMemoryErrors();
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
