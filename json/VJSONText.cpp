#include "json/VJSONText.h"

#include "core/VErrorBase.h"
#include "core/VRealText.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTask.h"

#include <charconv>
#include <cmath>

namespace vela {

namespace {

// The same conditions as _ThrowError: off a task the push would drop the error at once.
bool CanRaise() {
    return ProcessObjectExists() && VTask::GetCurrent() != nullptr;
}

} // namespace

int32 FormatJSONNumber(double value, char* buffer) noexcept {
    if (!std::isfinite(value)) {
        static constexpr char kNull[] = "null";
        for (int i = 0; i < 5; ++i)
            buffer[i] = kNull[i];
        return 4;
    }
    constexpr double kMaxExact = 9007199254740991.0;
    int32 length = 0;
    if (value == std::trunc(value) && std::fabs(value) <= kMaxExact) {
        length = int32(std::to_chars(buffer, buffer + kJSONNumberTextSize - 1, int64(value)).ptr - buffer);
    } else {
        length = FormatRealG14(value, buffer);
    }
    buffer[length] = 0;
    return length;
}

void AppendJSONNumber(double value, VString& out) {
    char text[kJSONNumberTextSize];
    FormatJSONNumber(value, text);
    out.AppendCString(text);
}

void _ThrowJSONError(VError code, std::initializer_list<VJSONErrorParam> params) {
    if (!CanRaise()) return;
    auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
    for (const VJSONErrorParam& param : params) {
        if (param.second != nullptr) error->SetString(VString(param.first), *param.second);
    }
    VTask::PushError(error.Get());
}

void _ThrowJSONMalformed(const VString& source, int32 line, int32 position) {
    if (!CanRaise()) return;
    auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(VE_JSON_MALFORMED));
    error->SetString(VString("source"), source);
    error->SetLong(VString("line"), line);
    error->SetLong(VString("position"), position);
    VTask::PushError(error.Get());
}

} // namespace vela
