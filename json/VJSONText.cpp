#include "json/VJSONText.h"

#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTask.h"

#include <charconv>
#include <cmath>
#include <limits>

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
    char* end = buffer + kJSONNumberTextSize - 1;
    std::to_chars_result result;
    constexpr double kMaxExact = 9007199254740991.0;
    if (value == std::trunc(value) && std::fabs(value) <= kMaxExact) {
        result = std::to_chars(buffer, end, int64(value));
    } else {
        // "%.14G": for a normal double, the shortest text that reads back is the same text when it has at most 14
        // significant digits and is in the form "%G" picks (scientific exactly for decimal exponents below -4 or
        // from 14 on), since neither ends with zeros; any other value is rounded to 14 digits.
        result = std::to_chars(buffer, end, value);
        int digits = 0;
        bool leading = true;
        const char* exponent = nullptr;
        for (char* c = buffer; c < result.ptr; ++c) {
            if (*c == 'e') {
                exponent = c + 1;
                break;
            }
            if (*c < '0' || *c > '9' || (leading && *c == '0')) continue;
            leading = false;
            ++digits;
        }
        bool scientific = false;
        if (exponent != nullptr) {
            int power = 0;
            std::from_chars(*exponent == '+' ? exponent + 1 : exponent, result.ptr, power);
            scientific = power < -4 || power >= 14;
        }
        bool sameForm = exponent != nullptr ? scientific : std::fabs(value) < 1e14;
        // Below the normal range a double holds fewer digits, and its shortest text no longer gives "%.14G".
        bool normal = std::fabs(value) >= std::numeric_limits<double>::min();
        if (digits > 14 || !sameForm || !normal)
            result = std::to_chars(buffer, end, value, std::chars_format::general, 14);
        for (char* c = buffer; c < result.ptr; ++c) {
            if (*c == 'e') *c = 'E';
        }
    }
    *result.ptr = 0;
    return int32(result.ptr - buffer);
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
